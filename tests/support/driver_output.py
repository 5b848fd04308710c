"""What run_update_driver.exe printed, read in one place for the tests and the benchmarks.

The driver prints one line per report (`progress N`, `text T`, `finished`, `locked PATH`, `not locked PATH`,
`holding`), then `state S result R message M` and `peak working set B` when the run ends. A run still going,
or killed, has only reports: its outcome fields are then None.
"""
from dataclasses import dataclass, field

STATE_DONE, STATE_FAILED, STATE_ABORTED = 1, 2, 3
RESULT_UPDATED, RESULT_UP_TO_DATE = 15, 16
PEAK_WORKING_SET = "peak working set "


@dataclass(repr=False)
class DriverOutput:
    lines: list
    reports: list = field(default_factory=list)
    state: int | None = None
    result: int | None = None
    message: int | None = None
    peak_working_set: int | None = None

    def _after(self, prefix):
        return [line[len(prefix):] for line in self.reports if line.startswith(prefix)]

    def progress(self):
        return [int(position) for position in self._after("progress ")]

    def texts(self):
        return self._after("text ")

    def locked(self):
        """The paths the driver holds open without sharing."""
        return self._after("locked ")

    @property
    def holding(self):
        return "holding" in self.reports

    def updated(self):
        return (self.state, self.result) == (STATE_DONE, RESULT_UPDATED)

    def __repr__(self):
        return "\n".join(self.lines)


def parse(lines):
    """The driver's output so far; the outcome is read only from the lines that end a run."""
    output = DriverOutput(list(lines))
    end = len(output.lines)
    if end and output.lines[end - 1].startswith(PEAK_WORKING_SET):
        output.peak_working_set = int(output.lines[end - 1][len(PEAK_WORKING_SET):])
        end -= 1
    final = output.lines[end - 1].split() if end else []
    if len(final) == 6 and final[0::2] == ["state", "result", "message"]:
        output.state, output.result, output.message = int(final[1]), int(final[3]), int(final[5])
        end -= 1
    output.reports = output.lines[:end]
    return output
