"""The update dialog of the real client under Wine against the reference update
service: what each state shows, what the buttons, the close box and Escape do, the
exit codes, the reports the service receives, what is stored in the registry, the
hand-off to the test worker, and that silent runs never put a window on the screen."""
import os
import time
from pathlib import Path

import pytest

import wine
from service_fixture import start_service, untrusted_cert  # noqa: F401 (fixtures)
from test_check import offline_client  # noqa: F401 (fixture)

PRODUCT, VERSION, DISPLAY = "Sample", "5.1.0", "Sample Pro"
TITLE = "Brindle Uptide 9.0.8"
PRODUCT_KEY = wine.HKCU_SETTINGS + "\\" + PRODUCT
VERSION_KEY = PRODUCT_KEY + "\\" + VERSION

# Control ids of dialog template 103.
MESSAGE, VERSION_LABEL, SERVER_VERSION, PROGRESS = 1004, 1010, 1013, 1002
INSTALL_NOW, REMIND_LATER, DONT_SHOW = 1024, 1023, 1022
UPDATE_NOW, CLOSE, CONTINUE = 128, 129, 130

CONNECTING = "Connecting to server... "
UPDATE_TEXT = ("A more up-to-date program version is available. Would you like to install it now?\n"
               "Please close all programs before starting the installation!")
UP_TO_DATE_TEXT = "You already have the most recent version."
OFFER_TEXT = "An upgrade for your product is available which may attract a fee. Would you like to install now?"
MAINTENANCE_TEXT = "Server is temporarily unavailable during maintenance."
SUPPORT_TEXT = "Brindle Uptide has encountered an error. Please contact the support."
OFFLINE_TEXT = "Connection to server failed. Please check your internet connection."
IN_PROGRESS_TEXT = "Update in progress..."

WIN64_DIR = Path(os.environ.get("BRUT_WIN64_DIR", wine.REPO / "build" / "win64"))
TEST_WORKER = WIN64_DIR / "tools" / "test-worker" / "BRUptideWorker.exe"


def args_for(*extra, quick=True, language=1033):
    return (["-QuickCheck"] if quick else []) + [
        "-ProgramName", PRODUCT, "-DisplayName", DISPLAY, "-ProgramVersion", VERSION, "-InstalledLocation",
        r"C:\Sample", "-Language", str(language), "-InstallDate", "20240101", "-UpdateIntervalInHours", "0", *extra]


def catalogue(latest="5.1.0", upgrade=None, **product):
    return {"products": {PRODUCT: dict(majors={"5": latest}, major_upgrade=upgrade, **product)}}


UP_TO_DATE = catalogue()
UPDATE = catalogue("5.2.0")
UPGRADE_ONLY = catalogue(upgrade=6)
BOTH = catalogue("5.2.0", upgrade=6)


def service(start_service, client, cat, worker=False):
    """A running service for the catalogue, the client pointed at it; with worker, it serves the test worker."""
    svc = start_service(cat)
    if worker:
        if not TEST_WORKER.exists():
            pytest.skip(f"{TEST_WORKER} not built")
        (svc.work / "files" / "BRUptideWorker.exe").write_bytes(TEST_WORKER.read_bytes())
    client.prefix.reg_set(wine.HKCU_SETTINGS, "DebugUrl_v2", svc.url())
    return svc


def reports(svc):
    """(method, Status) of every report the service received, in order."""
    return [(r["method"], r["fields"].get("Status")) for r in svc.records()
            if r.get("method", "").startswith("Report")]


def wait_for(cond, timeout=30, what="condition"):
    deadline = time.monotonic() + timeout
    while True:
        value = cond()
        if value:
            return value
        assert time.monotonic() < deadline, f"{what} not reached within {timeout}s"
        time.sleep(0.2)


def controls(prefix, title=TITLE):
    return {c["id"]: c for c in prefix.controls(title) if c["parent"] is not None}


def wait_state(prefix, text, title=TITLE, timeout=30):
    """Waits until the dialog shows this message; returns its controls by id."""
    prefix.wait_window(title, timeout)

    def shown():
        try:
            ctrls = controls(prefix, title)
        except wine.WineError:
            return None
        return ctrls if ctrls[MESSAGE]["text"] == text else None
    return wait_for(shown, timeout, f"message {text!r}")


HEADER_BAND = 103


def visible(ctrls):
    """{id: text} of the visible controls; the header band (painted; its text only names it for screen
    readers) is left out."""
    return {i: c["text"] for i, c in ctrls.items() if c["visible"] and i != HEADER_BAND}


def box(prefix, caption, timeout=20):
    """The text of a message box with this caption, once it shows."""
    prefix.wait_window(caption, timeout)
    texts = [c["text"] for c in prefix.controls(caption) if c["id"] == 0xFFFF and c["class"].lower() == "static"]
    return texts[0] if texts else None


def exit_lines(log):
    return [l.text for l in log.find("ExitCode ")]


def worker_log(client, major=5):
    """Command lines the test worker recorded in the product's working directory (per major version)."""
    work = client.prefix.temp_dir.joinpath(*wine.LOG_SUBDIR, f"{PRODUCT} {major}")
    f = work / "BRUptideWorker.cmdline.txt"
    return f.read_text(encoding="utf-8").splitlines() if f.exists() else []


# ---------------------------------------------------------------- silent runs

SILENT_CODES = {
    # id: (catalogue, IgnoreProductVersionUpdate, IgnoreProductMajorVersionUpgrade, exit code)
    "up-to-date": (UP_TO_DATE, None, None, 0),
    "update": (UPDATE, None, None, 2),
    "update-ignored": (UPDATE, "5.2.0", None, 0),
    "update-other-ignored": (UPDATE, "5.2", None, 2),
    "both": (BOTH, None, None, 6),
    "both-major-ignored": (BOTH, None, "6", 2),
    "both-version-ignored": (BOTH, "5.2.0", None, 4),
    "both-ignored": (BOTH, "5.2.0", "6 ", 0),
    "upgrade": (UPGRADE_ONLY, None, None, 4),
    "upgrade-ignored": (UPGRADE_ONLY, None, "6", 0),
    "upgrade-abc-ignored": (UPGRADE_ONLY, None, "abc", 4),
    "service-error": (dict(UPDATE, faults={"http_500": True}), None, None, 1),
}


@pytest.mark.parametrize("case", list(SILENT_CODES))
def test_silent_quick_check_ends_with_code_and_shows_nothing(client, start_service, case):
    cat, version, major, code = SILENT_CODES[case]
    svc = service(start_service, client, cat)
    if version is not None:
        client.prefix.reg_set(VERSION_KEY, "IgnoreProductVersionUpdate", version)
    if major is not None:
        client.prefix.reg_set(PRODUCT_KEY, "IgnoreProductMajorVersionUpgrade", major)
    with client.prefix.x_map_watch() as maps:
        r = client.run(args_for("-UpdateCheckSilent"), timeout=60, close_after=60, watch=True)
    assert (r.timed_out, r.exit_code) == (False, code)
    assert r.shown == [] and maps.stop() == []
    log = r.log(PRODUCT)
    assert exit_lines(log) == [f"ExitCode {code}"]
    if case == "update-ignored":
        assert "ignore Version 5.2.0" in log.texts
    # Silent answers write no choice of the user.
    key = client.prefix.reg_read(PRODUCT_KEY)
    assert ("IgnoreProductMajorVersionUpgrade" in key) == (major is not None)
    assert [m for m, _ in reports(svc)] == (["ReportUpdateStatus"] if code == 1 else [])


def test_watchers_see_a_shown_dialog(client, start_service):
    # The positive control of the silent runs: the same watch sees an ordinary run's window.
    service(start_service, client, UP_TO_DATE)
    with client.prefix.x_map_watch() as maps:
        p = client.start(args_for(), timeout=60, watch=True)
        wait_state(client.prefix, UP_TO_DATE_TEXT)
        client.prefix.click(TITLE, CLOSE)
        r = p.wait()
    assert r.exit_code == 0
    assert [(w["title"], w["class"]) for w in r.shown] == [(TITLE, "#32770")]
    assert len(maps.stop()) == 1


def test_update_silent_installs_without_a_click_and_stays_hidden(client, start_service):
    svc = service(start_service, client, BOTH, worker=True)
    with client.prefix.x_map_watch() as maps:
        r = client.run(args_for("-UpdateSilent"), timeout=60, close_after=60, watch=True)
    # The offer is answered "remind me later", the update starts, the worker takes over.
    assert (r.timed_out, r.exit_code) == (False, 0)
    assert r.shown == [] and maps.stop() == []
    # Each report has a thread of its own: they may arrive in either order.
    assert sorted(reports(svc)[:2]) == [("ReportUpdateStatus", "-1"), ("ReportUpgradeOfferStatus", "3")]
    [run] = wait_for(lambda: worker_log(client), 20, "worker run")
    assert "UpdateSilent" in run


# ---------------------------------------------------------------- interactive runs

@pytest.mark.parametrize("how, code", [("close-button", 0), ("close-box", 1)])
def test_up_to_date_close_button_and_close_box(client, start_service, artifacts, how, code):
    service(start_service, client, UP_TO_DATE)
    caption = "A&B " + "x" * 296
    p = client.start(args_for("-WindowCaption", caption), timeout=60)
    # The title holds 260 characters at most: the caption alone, cut.
    title = caption[:260]
    ctrls = wait_state(client.prefix, UP_TO_DATE_TEXT, title)
    assert visible(ctrls) == {MESSAGE: UP_TO_DATE_TEXT, CLOSE: "Close"}
    # Escape does nothing.
    [xwin] = client.prefix.x_search("^A&B x")
    client.prefix.x_key(xwin, "Escape")
    time.sleep(1)
    assert p.running()
    client.screenshot("up-to-date")
    if how == "close-button":
        client.prefix.click(title, CLOSE)
    else:
        client.prefix.close(title)
    r = p.wait()
    assert r.exit_code == code
    assert exit_lines(r.log(PRODUCT)) == [f"ExitCode {code}"]


def test_update_available_not_now_asks_first(client, start_service):
    service(start_service, client, UPDATE)
    client.prefix.reg_set(VERSION_KEY, "IgnoreProductVersionUpdate", "5.1.9")
    p = client.start(args_for(), timeout=60)
    ctrls = wait_state(client.prefix, UPDATE_TEXT)
    assert visible(ctrls) == {MESSAGE: UPDATE_TEXT, VERSION_LABEL: "Available version:", SERVER_VERSION: "5.2.0",
                              UPDATE_NOW: "Install", CLOSE: "Not now"}
    assert ctrls[UPDATE_NOW]["enabled"]
    client.prefix.click(TITLE, CLOSE)
    assert box(client.prefix, "End Brindle Uptide") == "Do you really want to end Brindle Uptide?"
    client.prefix.answer("End Brindle Uptide", "No")
    client.prefix.wait_window("End Brindle Uptide", gone=True)
    time.sleep(0.5)
    assert p.running()
    # "Not now" forgets an ignored version even when the question is declined.
    assert client.prefix.reg_read(VERSION_KEY)["IgnoreProductVersionUpdate"].data == b""
    client.prefix.click(TITLE, CLOSE)
    box(client.prefix, "End Brindle Uptide")
    client.prefix.answer("End Brindle Uptide", "Yes")
    assert p.wait().exit_code == 2


@pytest.mark.parametrize("extra, worker_exit, code", [([], 7, 0), (["-WriteCheckResultToReg"], 7, 7)],
                         ids=["not-waited", "waited"])
def test_install_hands_off_to_the_worker(client, start_service, extra, worker_exit, code):
    svc = service(start_service, client, UPDATE, worker=True)
    p = client.start(args_for(*extra), timeout=60, env={"BRUT_TEST_WORKER_EXIT": str(worker_exit)})
    wait_state(client.prefix, UPDATE_TEXT)
    left_top = client.prefix.rect(TITLE)
    client.prefix.click(TITLE, UPDATE_NOW)
    r = p.wait()
    assert r.exit_code == code
    # Not waited for, the worker may still be starting when the client has ended.
    [run] = wait_for(lambda: worker_log(client), 20, "worker run")
    # The worker takes the dialog's place on the screen.
    assert f'-WindowRec "{left_top["left"]} {left_top["top"]}"' in run
    assert ("ReportUpdateStatus", "-1") in reports(svc)
    # The hand-off ended the process: no end code of the dialog.
    assert not r.log(PRODUCT).find("ExitCode ")


def test_closing_during_the_hand_off(client, start_service):
    svc = service(start_service, client, dict(UPDATE, faults={"slow": 30, "methods": ["GET:*/BRUptideWorker.exe"]}),
                  worker=True)
    p = client.start(args_for(), timeout=90)
    wait_state(client.prefix, UPDATE_TEXT)
    client.prefix.click(TITLE, UPDATE_NOW)
    ctrls = wait_state(client.prefix, IN_PROGRESS_TEXT)
    assert visible(ctrls) == {MESSAGE: IN_PROGRESS_TEXT, PROGRESS: "", CLOSE: "Abort"}
    client.prefix.click(TITLE, CLOSE)
    box(client.prefix, "End Brindle Uptide")
    client.prefix.answer("End Brindle Uptide", "Yes")
    r = p.wait()
    # The download still runs when the dialog ends; the process ends cleanly all the same.
    assert r.exit_code == 9
    log = r.log(PRODUCT)
    assert "User end Update!" in log.texts and exit_lines(log) == ["ExitCode 9"]
    assert worker_log(client) == []
    assert reports(svc)[:2] == [("ReportUpdateStatus", "-1"), ("ReportUpdateStatus", "2")]


UPGRADE_CHOICES = {
    # id: (radio, UpgradeOfferStatus, stored IgnoreProductMajorVersionUpgrade, Continue by the Enter key)
    "remind-later": (REMIND_LATER, "3", None, True),
    "dont-show-again": (DONT_SHOW, "1", "6", False),
}


@pytest.mark.parametrize("choice", list(UPGRADE_CHOICES))
def test_upgrade_offer_choice_then_continue(client, start_service, choice):
    radio, status, stored, enter = UPGRADE_CHOICES[choice]
    svc = service(start_service, client, UPGRADE_ONLY)
    p = client.start(args_for(), timeout=60)
    ctrls = wait_state(client.prefix, OFFER_TEXT)
    assert visible(ctrls) == {
        MESSAGE: OFFER_TEXT, VERSION_LABEL: "Available version:", SERVER_VERSION: f"{DISPLAY} - version 6",
        1026: "More information about the upgrade", INSTALL_NOW: "Install and replace the current version",
        REMIND_LATER: "Remind me again later ", DONT_SHOW: "Do not show this notice again", CONTINUE: "Continue"}
    assert not ctrls[CONTINUE]["enabled"]
    assert [ctrls[i]["check"] for i in (INSTALL_NOW, REMIND_LATER, DONT_SHOW)] == [0, 0, 0]
    [xwin] = client.prefix.x_search("^" + TITLE + "$")
    if enter:
        # Enter never reaches the disabled Continue.
        client.prefix.x_key(xwin, "Return")
        time.sleep(1)
        assert controls(client.prefix)[MESSAGE]["text"] == OFFER_TEXT and reports(svc) == []
    client.prefix.click(TITLE, radio)
    wait_for(lambda: controls(client.prefix)[CONTINUE]["enabled"], 10, "Continue enabled")
    if enter:
        client.prefix.x_key(xwin, "Return")
    else:
        client.prefix.click(TITLE, CONTINUE)
    # Result 16 after the offer: up to date, and its Close says a major upgrade exists.
    wait_state(client.prefix, UP_TO_DATE_TEXT)
    client.prefix.click(TITLE, CLOSE)
    assert p.wait().exit_code == 4
    assert reports(svc) == [("ReportUpgradeOfferStatus", status)]
    [offer] = [r for r in svc.records() if r.get("method") == "ReportUpgradeOfferStatus"]
    assert (offer["fields"]["ProgramName"], offer["fields"]["MajorVersion"]) == (PRODUCT, "6")
    key = client.prefix.reg_read(PRODUCT_KEY)
    assert (key["IgnoreProductMajorVersionUpgrade"].text if stored else None) == stored
    assert ("IgnoreProductMajorVersionUpgrade" in key) == (stored is not None)


def test_upgrade_offer_install_restarts_as_stub(client, start_service):
    svc = service(start_service, client, UPGRADE_ONLY, worker=True)
    p = client.start(args_for(), timeout=60)
    wait_state(client.prefix, OFFER_TEXT)
    client.prefix.click(TITLE, INSTALL_NOW)
    wait_for(lambda: controls(client.prefix)[CONTINUE]["enabled"], 10, "Continue enabled")
    client.prefix.click(TITLE, CONTINUE)
    assert p.wait().exit_code == 0
    # The stub (this client again) fetches the worker for major version 6 and hands over to it.
    [run] = wait_for(lambda: worker_log(client, 6), 60, "the stub's worker run")
    assert "-IsStubExe" in run and '-ProgramName "Sample"' in run and "-ProgramVersion 6.0.0" in run
    got = reports(svc)
    assert got[:2] == [("ReportUpgradeOfferStatus", "2"), ("ReportUpdateStatus", "8")]
    stub_checks = [r for r in svc.quickchecks() if r["decision"]["mode"] == "worker"]
    assert len(stub_checks) == 1


@pytest.mark.parametrize("rec, where", [("40 30", "there"), ("-4000 5000", "on-screen"), ("40", "centred")],
                         ids=["position", "off-screen", "not-two-numbers"])
def test_window_rec_places_the_dialog(client, start_service, rec, where):
    service(start_service, client, UP_TO_DATE)
    p = client.start(args_for("-WindowRec", rec), timeout=60)
    wait_state(client.prefix, UP_TO_DATE_TEXT)
    r = client.prefix.rect(TITLE)
    width, height = r["right"] - r["left"], r["bottom"] - r["top"]
    screen_w, screen_h = 1024, 768  # the harness's Xvfb screen
    if where == "there":
        assert (r["left"], r["top"]) == (40, 30)
    elif where == "on-screen":
        # Off every monitor: moved onto the nearest one, into its corner.
        assert (r["left"], r["top"]) == (0, screen_h - height)
    else:
        assert (r["left"], r["top"]) == ((screen_w - width) // 2, (screen_h - height) // 2)
    client.prefix.click(TITLE, CLOSE)
    assert p.wait().exit_code == 0


@pytest.mark.parametrize("case", ["maintenance", "server-error"])
def test_error_states_close_with_1(client, start_service, case):
    faults = {"http_500": True} if case == "maintenance" else {"error_message": True}
    text, status = (MAINTENANCE_TEXT, "5") if case == "maintenance" else (SUPPORT_TEXT, "7")
    svc = service(start_service, client, dict(UPDATE, faults=faults))
    p = client.start(args_for(), timeout=60)
    ctrls = wait_state(client.prefix, text)
    # The install button stays where it was, disabled.
    assert visible(ctrls) == {MESSAGE: text, UPDATE_NOW: "Install", CLOSE: "Close"}
    assert not ctrls[UPDATE_NOW]["enabled"]
    client.prefix.click(TITLE, CLOSE)
    assert p.wait().exit_code == 1
    assert reports(svc) == [("ReportUpdateStatus", status)]


def test_offline_machine_shows_connection_failed(offline_client):
    client = offline_client
    p = client.start(args_for(), timeout=60)
    ctrls = wait_state(client.prefix, OFFLINE_TEXT)
    assert visible(ctrls) == {MESSAGE: OFFLINE_TEXT, UPDATE_NOW: "Install", CLOSE: "Close"}
    client.prefix.click(TITLE, CLOSE)
    r = p.wait()
    assert r.exit_code == 1
    # The report of the failure cannot reach anybody; it is tried all the same.
    assert r.log(PRODUCT).find("CreateUpdateStatusXml start")


def test_stub_run_asks_to_cancel_the_installation(client, start_service):
    # A slow service keeps the stub in its first state.
    service(start_service, client, dict(UPDATE, faults={"slow": 30}))
    p = client.start(args_for("-IsStubExe", quick=False), timeout=90)
    ctrls = wait_state(client.prefix, CONNECTING, title=DISPLAY)
    assert visible(ctrls) == {MESSAGE: CONNECTING, CLOSE: "Abort"}
    client.prefix.click(DISPLAY, CLOSE)
    assert box(client.prefix, "cancel installation") == "Are you sure you want to cancel the installation?"
    client.prefix.answer("cancel installation", "Yes")
    r = p.wait()
    # The check thread was still waiting for the service: the run ends cleanly anyway.
    assert r.exit_code == 1
    assert exit_lines(r.log(PRODUCT)) == ["ExitCode 1"]
