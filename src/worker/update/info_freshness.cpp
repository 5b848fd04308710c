// A signed information file stays valid forever: whoever can answer its URL could serve an old one again and
// hold every application at its version, or, with no installed version to compare, take it back. So with
// publisher keys the file must be fresh (APP_EXPIRES not passed) and not older than the newest one accepted
// for the section before (APP_SERIAL not lower than the record), and the installed version must be known.
// Without keys nothing of this applies: unsigned files are taken as they always were.
#include "update_run.h"
#include "../feed/serial_record.h"
#include "../run/run_log.h"
#include "../run/worker_command_line.h"
#include "../run/worker_resources.h"
#include "../verify/launcher_keys.h"

// A missing version counts as older than any: with keys, a run without one could install an older update.
// An unreadable launcher counts as one with keys, as its verification does.
bool InstalledVersionKnown(UpdateRun &run)
{
    if (workerArgs.installedVersion && workerArgs.installedVersion[0])
        return true;
    if (LoadPublisherKeys(workerArgs.launcherPath, &run.keys) && run.keys.count == 0)
        return true;
    LogRun("no installed version was given to a launcher with publisher keys");
    return false;
}

static bool Refuse(UpdateRun &run, unsigned short message)
{
    FailWith(run, message);
    return false;
}

bool CheckInfoFreshness(UpdateRun &run)
{
    const UpdateFeed &feed = run.feed;
    if (run.keys.count == 0)
        return true;
    if ((feed.haveExpiry && !feed.expiryValid) || (feed.haveSerial && !feed.serialValid)) {
        LogRun("APP_EXPIRES or APP_SERIAL is malformed");
        return Refuse(run, IDS_FAILED_VERIFY);
    }
    FILETIME clock;
    GetSystemTimeAsFileTime(&clock);
    ULARGE_INTEGER now;
    now.LowPart = clock.dwLowDateTime;
    now.HighPart = clock.dwHighDateTime;
    if (feed.haveExpiry && now.QuadPart >= feed.expires * 10000000ull) {
        LogRun("the information file expired at %s", feed.expiryText);
        return Refuse(run, IDS_FAILED_STALE_INFO);
    }
    // A file from before serials counts as serial 0, so that once one was recorded it is refused.
    unsigned serial = feed.haveSerial ? feed.serial : 0;
    unsigned recorded = 0;
    SerialRecord record = ReadSerialRecord(workerArgs.infoSection, &recorded);
    if (record == SERIAL_UNREADABLE) {
        LogRun("the serial record of %s cannot be read", workerArgs.infoSection);
        return Refuse(run, IDS_FAILED_STALE_INFO);
    }
    if (record == SERIAL_READ && serial < recorded) {
        LogRun("serial %u is lower than the %u already accepted", serial, recorded);
        return Refuse(run, IDS_FAILED_STALE_INFO);
    }
    if (feed.haveSerial && (record == SERIAL_NONE || serial > recorded) &&
        !WriteSerialRecord(workerArgs.infoSection, serial))
        LogRun("serial %u could not be recorded", serial);
    return true;
}
