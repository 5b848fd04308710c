// The archiver libraries as an unpacker: the library is chosen by the archive's extension, loaded for the
// one archive and released again.
#include "unpacker.h"
#include "archiver_binding.h"
#include "archiver_kind.h"
#include "../../common/multibyte_path.h"
#include "../run/run_log.h"

// Names the library that is missing, and the extension that needed it, in the run log.
static void LogMissingLibrary(const char *archive, int kind)
{
    const char *extension = FindCharMultibyte(archive, '.');
    for (const char *next = extension; next; next = FindCharMultibyte(next + 1, '.'))
        extension = next;
    LogRun("no archiver library %s for %s", ArchiverLibraryOf(kind).fileName, extension ? extension : archive);
}

static bool HandlesByLibrary(const char *archive)
{
    return archive && FindArchiverKind(archive) != ARCHIVER_NONE;
}

static UnpackResult UnpackByLibrary(const UnpackJob &job)
{
    UnpackResult result = {UNPACK_FAILED, UNPACK_CAUSE_NO_LIBRARY, 0};
    ArchiverBinding binding;
    binding.Reset();
    if (!binding.SelectByExtension(job.archive)) {
        int kind = job.archive ? FindArchiverKind(job.archive) : ARCHIVER_NONE;
        if (kind == ARCHIVER_NONE)
            result.cause = UNPACK_CAUSE_UNKNOWN_KIND;
        else
            LogMissingLibrary(job.archive, kind);
        return result;
    }
    // A stop while the library is busy ends the run as failed, without a question.
    if (!WaitForArchiverIdle(binding, job.stop)) {
        result.outcome = *job.stop ? UNPACK_STOPPED : UNPACK_FAILED;
        result.cause = UNPACK_CAUSE_NONE;
    } else {
        result.code = binding.Extract(job.progressOwner, job.archive, job.destination, job.quiet);
        result.outcome = result.code == 0 ? UNPACK_DONE : result.code == ARCHIVER_CANCELLED ? UNPACK_CANCELLED : UNPACK_FAILED;
        result.cause = result.outcome == UNPACK_FAILED ? UNPACK_CAUSE_LIBRARY_FAILED : UNPACK_CAUSE_NONE;
    }
    binding.Unbind();
    return result;
}

const Unpacker archiverLibraryUnpacker = {HandlesByLibrary, UnpackByLibrary};
