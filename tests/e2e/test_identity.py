"""Each application has a lock and a run folder of its own: two applications update at the same time, and
two starts of the same one never both run. Every box is titled with the application's caption."""
import harness
from sample_app import SampleApp
from updates import CONFIRM_CLOSE, KOVREL, assert_updated, publish, silent_arguments, wait_for_cleanup
from updates import app  # noqa: F401 - the fixture shared with the update tests

ALREADY_RUNNING = "既に起動しています。"


def test_two_applications_update_at_the_same_time(kovrel, kovrel_temp, served, app):
    other = SampleApp().install()
    try:
        info = publish(served)
        runs = {}
        for caption, target in (("App One", app), ("App Two", other)):
            arguments = silent_arguments(info, target, extra=f'"{caption}"')
            runs[caption] = kovrel.start_launcher(KOVREL, arguments), kovrel_temp(arguments)
        # Both wait at their close box at the same time, each in a run folder of its own.
        for caption in runs:
            assert kovrel.show(caption, 60000).text() == CONFIRM_CLOSE
        assert all(folder.is_dir() for _, folder in runs.values())
        for caption, (run, _) in runs.items():
            kovrel.press(caption, "OK")
            assert run.exit_code() == 0
        wait_for_cleanup(kovrel)
        assert_updated(app)
        assert_updated(other)
    finally:
        other.remove()


def test_two_starts_of_one_application_at_once_run_one_update(kovrel, kovrel_temp, served, app):
    arguments = silent_arguments(publish(served), app, extra='"Sample"')
    first, second = kovrel.start_launcher(KOVREL, arguments), kovrel.start_launcher(KOVREL, arguments)
    # One runs the update; the other is refused, whichever comes first, with a box titled with the caption.
    texts = sorted(kovrel.press("Sample", "OK", 60000).text() for _ in range(2))
    assert texts == sorted([ALREADY_RUNNING, CONFIRM_CLOSE])
    assert first.exit_code() == 0 and second.exit_code() == 0
    wait_for_cleanup(kovrel)
    assert_updated(app)
    assert [path for path, _ in served.requests()] == ["Kovrel.ini", "update.zip"], "one worker ran"
