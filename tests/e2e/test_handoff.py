"""The worker hand-off of the real client under Wine: the test worker is
downloaded from the reference service into the working directory, started with
its command line, and its exit code becomes the client's; failures leave no
program behind; status reports reach the service."""
import os
import re
import time
from pathlib import Path

import pytest

import wine
from service_fixture import start_service, untrusted_cert  # noqa: F401 (fixtures)

PRODUCT, VERSION = "Sample", "5.1.0"
PRODUCT_KEY = wine.HKCU_SETTINGS + "\\" + PRODUCT
WIN64_DIR = Path(os.environ.get("BRUT_WIN64_DIR", wine.REPO / "build" / "win64"))
TEST_WORKER = WIN64_DIR / "tools" / "test-worker" / "BRUptideWorker.exe"
WORKER, VIEWER = "BRUptideWorker.exe", "BRAdViewer.exe"
# The accepted update in silent worker mode did not take over: the run ends with 1.
RETURNED = 1

pytestmark = pytest.mark.skipif(not TEST_WORKER.exists(), reason=f"{TEST_WORKER} not built")


def args_for(*extra, quick=False):
    """Silent, so that the accepted update runs without a click; worker mode unless `quick`."""
    return (["-QuickCheck"] if quick else []) + [
        "-UpdateSilent", "-ProgramName", PRODUCT, "-DisplayName", "Sample Pro", "-ProgramVersion", VERSION,
        "-InstalledLocation", "C:\\Sample\\", "-Language", "1033", "-UpdateIntervalInHours", "0", *extra]


def worker_tail(*forwarded):
    """The command line the client builds for the worker (after the program path)."""
    return " ".join(forwarded) + (" " if forwarded else "") + \
        '-ProgramName "Sample" -DisplayName "Sample Pro" -ProgramVersion 5.1.0 ' \
        '-InstalledLocation "C:\\Sample\\\\" -Language 1033 '


def work_dir(client):
    return client.prefix.temp_dir.joinpath(*wine.LOG_SUBDIR, f"{PRODUCT} {VERSION.split('.')[0]}")


def worker_path(client):
    return f"{client.prefix.temp_win.rstrip(chr(92))}\\ZI Vodidure\\BR Uptide\\{PRODUCT} 5\\{WORKER}"


def serve(start_service, client, worker=WORKER, ad_viewer=VIEWER, https=False, product=None, files=None):
    """The reference service, serving the test worker as worker and as ad viewer; the client points at it."""
    cat = {"products": {PRODUCT: product or {"majors": {"5": VERSION}}},
           "worker": {"worker_url": worker, "ad_viewer_url": ad_viewer}}
    svc = start_service(cat, https=https)
    for name, data in (files or {WORKER: TEST_WORKER.read_bytes(), VIEWER: TEST_WORKER.read_bytes()}).items():
        (svc.work / "files" / name).write_bytes(data)
    client.prefix.reg_set(wine.HKCU_SETTINGS, "DebugUrl_v2", svc.url("https" if https else "http"))
    return svc


def cache_worker(client):
    d = work_dir(client)
    d.mkdir(parents=True, exist_ok=True)
    (d / WORKER).write_bytes(TEST_WORKER.read_bytes())


def worker_runs(client):
    """Command lines the test worker recorded, one per start."""
    f = work_dir(client) / "BRUptideWorker.cmdline.txt"
    return f.read_text(encoding="utf-8").splitlines() if f.exists() else []


def downloads(svc):
    return [(r["path"].rsplit("/", 1)[-1], r["status"]) for r in svc.records() if r.get("method") == "GET"]


def reports(svc):
    return [r for r in svc.records() if r.get("method", "").startswith("Report")]


def run(client, args, worker_exit=0, **kw):
    r = client.run(args, timeout=90, env={"BRUT_TEST_WORKER_EXIT": str(worker_exit)}, **kw)
    assert not r.timed_out
    return r, r.log(PRODUCT)


def assert_started_with(client, tail):
    """One start, from the working directory, with `tail` and the dialog's position as -WindowRec."""
    # A worker not waited for may still be starting when the client has ended.
    deadline = time.monotonic() + 30
    while not worker_runs(client) and time.monotonic() < deadline:
        time.sleep(0.2)
    [line] = worker_runs(client)
    assert re.fullmatch(re.escape(f'"{worker_path(client)}" {tail}') + r'-WindowRec "-?\d+ -?\d+" ', line), line


@pytest.mark.parametrize("hide", ["HideUpdateCheckResult", None])
def test_accepted_update_hands_off_to_the_downloaded_worker(client, start_service, hide):
    """Waited for when a hide condition holds: the worker's code ends the client; else 0 right after the start."""
    svc = serve(start_service, client)
    extra = [f"-{hide}"] if hide else []
    r, log = run(client, args_for(*extra), worker_exit=37)
    assert r.exit_code == (37 if hide else 0)
    assert downloads(svc) == [(VIEWER, 200), (WORKER, 200)]
    assert (work_dir(client) / VIEWER).exists()
    forwarded = ["UpdateSilent"] + ([hide] if hide else [])
    assert_started_with(client, worker_tail(*forwarded))
    # Under Wine the elevated start ("runas", OS 6.1) simply runs the program.
    assert " per UseShellExecute with commandline: " + worker_tail(*forwarded) + "-WindowRec " in \
        log.find("Try start application ")[0].text
    assert "ShellExecuteEx successful" in log.texts
    assert log.texts[-1] == f"exitCodeApplication {37 if hide else 0}"
    assert not log.find("ExitCode ")  # the dialog's end code plays no part


def test_cached_worker_when_the_reply_names_none(client, start_service):
    svc = serve(start_service, client, worker=None, ad_viewer=None)
    cache_worker(client)
    r, log = run(client, args_for("-HideUpdateCheckResult"), worker_exit=5, clean=False)
    assert r.exit_code == 5
    assert "Use old UptideWorker." in log.texts
    assert downloads(svc) == []
    assert_started_with(client, worker_tail("UpdateSilent", "HideUpdateCheckResult"))


def test_worker_reporting_another_instance_stores_the_sentence(client, start_service):
    serve(start_service, client)
    r, log = run(client, args_for("-WriteCheckResultToReg", "-WindowCaption", "Foo Updater"), worker_exit=-1)
    assert r.exit_code == -1
    assert "exitCodeApplication -1" in log.texts
    key = client.prefix.reg_read(PRODUCT_KEY)
    assert key.values["UpdateResult"].number == 0
    assert key.values["UpdateResultString"].text == "An other instance of the Foo Updater is still running."


@pytest.mark.parametrize("case", ["404", "empty file"])
def test_failed_worker_download_or_start_leaves_nothing_to_run(client, start_service, case):
    if case == "404":
        svc = serve(start_service, client, worker="missing/" + WORKER)
    else:
        svc = serve(start_service, client, files={WORKER: b"", VIEWER: TEST_WORKER.read_bytes()})
    cache_worker(client)  # an old copy: deleted before the download, never started
    r, log = run(client, args_for("-HideUpdateCheckResult"), worker_exit=37, clean=False)
    assert r.exit_code == RETURNED
    assert worker_runs(client) == []
    target = worker_path(client)
    left = sorted(p.name for p in work_dir(client).iterdir())
    if case == "404":
        assert (WORKER, 404) in downloads(svc)
        assert left == [VIEWER]  # neither the old copy nor the error page nor a partial file
        url = svc.url() + "files/missing/" + WORKER
        assert log.find("Download from ")[-1].text.startswith(f"Download from '{url}' failed with Code: ")
        assert f"Can\u00b4t download {url} -> {target}" in log.texts
        assert not log.find("Try start application")
    else:
        assert left == [VIEWER, WORKER]
        assert log.find("StartProcess for ")[0].text.startswith(f'StartProcess for {target} failed because: "')
    assert not log.find("exitCodeApplication")


def test_answer_over_the_http_retry_names_no_program(client, start_service):
    """The service's certificate is refused (12045): the answer comes over http and its addresses are not used."""
    svc = serve(start_service, client, https=True)
    r, log = run(client, args_for("-HideUpdateCheckResult"), worker_exit=37)
    assert r.exit_code == RETURNED
    assert log.find("Try to connect without SSL: http://")
    assert "UptideWorkerUrl and AdViewerUrl of an answer without SSL are not used" in log.texts
    assert "No Uptider available." in log.texts
    assert downloads(svc) == []
    assert worker_runs(client) == []


def test_reports_reach_the_service(client, start_service):
    """A silent product update offered a build and an upgrade: the offer is answered "remind me later" and
    the update is started; both reports arrive although the process ends right after the worker's start."""
    svc = serve(start_service, client, product={"majors": {"5": "5.2.0"}, "major_upgrade": 6})
    r, log = run(client, args_for(quick=True), worker_exit=3)
    assert r.exit_code == 0  # not waited for: nothing hides the outcome
    assert_started_with(client, worker_tail("QuickCheck", "UpdateSilent"))
    got = {rec["method"]: rec for rec in reports(svc)}
    assert sorted(got) == ["ReportUpdateStatus", "ReportUpgradeOfferStatus"]
    offer, update = got["ReportUpgradeOfferStatus"], got["ReportUpdateStatus"]
    assert offer["argument"] == "UpgradeOfferStatusXML"
    assert offer["elements"] == ["Version", "MAC", "MachineGuid", "ProgramName", "ProgramVersionNumber",
                                 "MajorVersion", "Status"]
    assert {k: offer["fields"][k] for k in ("Version", "ProgramName", "ProgramVersionNumber", "MajorVersion",
                                            "Status")} == {"Version": "9.0.8", "ProgramName": PRODUCT,
                                                           "ProgramVersionNumber": VERSION, "MajorVersion": "6",
                                                           "Status": "3"}
    assert update["argument"] == "UpdateStatusXML"
    assert update["elements"] == ["Version", "MAC", "MachineGuid", "IsStub", "Status", "UpdateId"]
    assert {k: update["fields"][k] for k in ("IsStub", "Status", "UpdateId")} == {
        "IsStub": "0", "Status": "-1", "UpdateId": ""}
    assert "<UpdateId />" in update["document"]
    # The documents as the log shows them are the ones that arrived.
    assert "UpdateId == 0" in log.texts and "MajorVersion: 6" in log.texts
    assert "/ReportUpdateStatus result = 0" in log.texts
    assert "/ReportUpgradeOfferStatus result = 0" in log.texts
