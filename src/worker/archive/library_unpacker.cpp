// The archiver libraries as an unpacker: the library is chosen by the archive's extension, loaded for the
// one archive and released again.
#include "unpacker.h"
#include "archiver_binding.h"
#include "archiver_kind.h"

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
        if (!HandlesByLibrary(job.archive))
            result.cause = UNPACK_CAUSE_UNKNOWN_KIND;
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
