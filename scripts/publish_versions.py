"""The worker's rule for comparing versions (src/worker/feed/version_compare.cpp), as the publishing tool
applies it before it writes a version."""


def _is_lead_byte(byte):
    return 0x81 <= byte <= 0x9F or 0xE0 <= byte <= 0xFC


def _lower(data):
    out = bytearray(data)
    i = 0
    while i < len(out):
        if _is_lead_byte(out[i]) and i + 1 < len(out):
            if out[i] == 0x82 and 0x60 <= out[i + 1] <= 0x79:
                out[i + 1] += 0x21
            i += 2
            continue
        if 0x41 <= out[i] <= 0x5A:
            out[i] += 0x20
        i += 1
    return bytes(out) + b"\0"


def _digit_run(data, i):
    start = i
    while 0x30 <= data[i] <= 0x39:
        i += 1
    return data[start:i], i


def _compare_runs(a, b):
    if len(a) != len(b):
        return -1 if len(a) < len(b) else 1
    return (a > b) - (a < b)


def compare_versions(installed, announced):
    """Negative when `installed` is older than `announced` (an update goes ahead); the worker's rule."""
    if installed is None or announced is None:
        return 0 if installed is None and announced is None else (-1 if installed is None else 1)
    a, b = _lower(installed.encode("cp932")), _lower(announced.encode("cp932"))
    i = j = 0
    while True:
        while a[i] in b" 0":
            i += 1
        while b[j] in b" 0":
            j += 1
        run_a, i = _digit_run(a, i)
        run_b, j = _digit_run(b, j)
        if _compare_runs(run_a, run_b):
            return _compare_runs(run_a, run_b)
        while a[i] == b[j] and a[i] not in (0, 0x2E):
            i += 1
            j += 1
        if a[i] == b[j]:
            if a[i] == 0:
                return 0
            i += 1
            j += 1
            continue
        run_a, i = _digit_run(a, i)
        run_b, j = _digit_run(b, j)
        if _compare_runs(run_a, run_b):
            return _compare_runs(run_a, run_b)
        ca, cb = a[i], b[j]
        if ca not in (0, 0x2E):
            if cb in (0, 0x2E):
                return -1
            return (ca - 256 if ca > 127 else ca) - (cb - 256 if cb > 127 else cb)
        if cb == 0x2E:
            while b[j] in b".0 ":
                j += 1
        if b[j] == 0:
            return 0
        return -1 if 0x30 <= b[j] <= 0x39 else 1
