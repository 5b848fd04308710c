"""The update procedure over HTTPS: nginx with TLS on localhost, a test authority trusted only inside the test
prefix, and a second authority that nothing trusts.

A refusal counts only when it came from trust: the untrusted server serves the same files to a client that
trusts its authority, and the https->http redirect is seen answered by the TLS server while the plain server
never serves the file.
"""
import ssl
import time
import urllib.request

import pytest
from updates import (MSG_OPEN_ARCHIVE, MSG_OPEN_INFO, MSG_UPDATED, RESULT_UPDATED, STATE_DONE, STATE_FAILED,
                         app, assert_unchanged, assert_updated, confirm_close, publish, updater)  # noqa: F401

INFO, ARCHIVE = "Kovrel.ini", "update.zip"


def url_on(served, where, name):
    return {"trusted": served.tls_url, "untrusted": served.untrusted_url, "to-http": served.to_http_url}[where](name)


def finish_before_confirmation(run, kovrel):
    """The outcome of a run that must end before it asks to close the application. A run that gets as far as
    the question opened the archive: it is cancelled there, so the test fails at once rather than on a bound."""
    deadline = time.monotonic() + 180
    asked = False
    while run.process.poll() is None and time.monotonic() < deadline:
        code, _ = kovrel.driver("show", "Kovrel", "500")
        if code == 0:
            kovrel.press("Kovrel", "2")
            asked = True
            break
    outcome = run.finish()
    assert not asked, f"the run opened the archive and asked to close the application:\n{outcome}"
    return outcome


def test_whole_update_over_https(updater, served_tls, app, kovrel):
    served = served_tls
    publish(served, archive_url=served.tls_url(ARCHIVE))
    run = updater.start(served.tls_url(INFO))
    confirm_close(kovrel)
    outcome = run.finish()
    assert (outcome.state, outcome.result, outcome.message) == (STATE_DONE, RESULT_UPDATED, MSG_UPDATED), outcome
    assert_updated(app)
    assert sorted(served.tls_requests()) == [(INFO, 200), (ARCHIVE, 200)]
    assert served.requests() == [], "a file came over plain http"


REFUSALS = {
    # label: (where the information file is, where the archive is, result, message)
    "information file on the untrusted server": ("untrusted", "trusted", 2, MSG_OPEN_INFO),
    "archive on the untrusted server": ("trusted", "untrusted", 8, MSG_OPEN_ARCHIVE),
    "information file redirected from https to http": ("to-http", "trusted", 2, MSG_OPEN_INFO),
    "archive redirected from https to http": ("trusted", "to-http", 8, MSG_OPEN_ARCHIVE),
}


@pytest.mark.parametrize("label", REFUSALS)
def test_refused_before_anything_changes(label, updater, served_tls, app, kovrel, test_certificates):
    served = served_tls
    info_at, archive_at, result, message = REFUSALS[label]
    publish(served, archive_url=url_on(served, archive_at, ARCHIVE))
    outcome = finish_before_confirmation(updater.start(url_on(served, info_at, INFO)), kovrel)
    assert (outcome.state, outcome.result, outcome.message) == (STATE_FAILED, result, message), outcome
    assert outcome.reports[-1] == "finished"
    assert_unchanged(app)

    # What each server was asked: the run stops at the refused file; the untrusted server gets no request over
    # a connection it could not prove, and the plain server is never reached through the redirect.
    expected = []
    for where, name in ((info_at, INFO), (archive_at, ARCHIVE)):
        if where == "untrusted":
            break
        expected.append(("to-http/" + name, 302) if where == "to-http" else (name, 200))
        if where == "to-http":
            break
    assert sorted(served.tls_requests()) == sorted(expected)
    assert served.untrusted_requests() == []
    assert served.requests() == [], "the plain server served a file behind an https URL"

    if "untrusted" in (info_at, archive_at):
        # The refused server itself is sound: a client that trusts its authority gets the file.
        name = INFO if info_at == "untrusted" else ARCHIVE
        context = ssl.create_default_context(cafile=str(test_certificates.untrusted.ca_pem))
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}),
                                             urllib.request.HTTPSHandler(context=context))
        with opener.open(served.untrusted_url(name), timeout=30) as response:
            assert response.read() == (served.folder / name).read_bytes()
