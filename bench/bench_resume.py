"""The resume group: a checked download resumed from a kept part of the archive, against a whole download of
the same rest, and the bytes the server sends for it."""
import os

from bench_support import MB, NOT_UNPACKED, NOTES, REPEAT, Row, install_app, median


def bench_resume(bench, nginx, scratch, rows):
    """A checked 100 MB download resumed with 60 % of it kept (the cached archive of a run that did not unpack
    it, cut back as a cut download leaves it), against a whole checked download of the same 40 MB, so that both
    carry the same fixed costs of a request and of the hash's last reads. Each time is the download stage's in
    the run log; the stage begins once the kept bytes are hashed, which shows apart."""
    big = os.urandom(100 * MB)
    kept = int(len(big) * 0.6)
    info, archive = bench.publish("bigresume", big, "exe", checked=True)
    rest_info, _ = bench.publish("bigrest", big[kept:], "exe", checked=True)
    whole, rest, resumed, hashing, sent = [], [], [], [], []
    for _ in range(REPEAT):
        app = install_app()
        assert bench.run_driver(info, app, confirm=False).outcome() == NOT_UNPACKED
        whole.append(bench.stage_times()[0]["download archive"])
        cached = next(bench.archive_cache().rglob("*_bigresume.exe"))
        with open(cached, "r+b") as file:
            file.truncate(kept)
        requests = len(nginx.requests())
        assert bench.run_driver(info, app, confirm=False, keep_cache=True).outcome() == NOT_UNPACKED
        stages = bench.stage_times()[0]
        resumed.append(stages["download archive"])
        hashing.append(stages["archive file"])
        line = [line for line in nginx.requests()[requests:] if "/bigresume.exe " in line][-1].split()
        assert line[3] == "206", line
        sent.append(int(line[4]))
        assert bench.run_driver(rest_info, app, confirm=False).outcome() == NOT_UNPACKED
        rest.append(bench.stage_times()[0]["download archive"])
        app.remove()
    rows.append(Row("resumed download, the last 40 MB of 100 MB", median(resumed), "a whole download of 40 MB",
                    median(rest), ("≥", 0.95), speed=True))
    rows.append(Row("resumed download, the last 40 MB of 100 MB", median(resumed), "a whole download of 100 MB",
                    median(whole), speed=True))
    rows.append(Row("resumed download, bytes sent after a cut at 60 %", median(sent) / MB, "the whole archive",
                    len(big) / MB, ("≤", 0.45), unit="MB"))
    NOTES.append(f"resumed download: hashing the 60 MB kept took {median(hashing):.3f} s before the request went on")
