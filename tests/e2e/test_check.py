"""The update check of the real client under Wine against the reference update
service: what reaches the service, how each reply and each failure ends, what
is stored for the calling product, the interval gate, hostile replies."""
import calendar
import os
import re
import subprocess
import time
from pathlib import Path
from xml.sax.saxutils import escape

import pytest

import wine
from service_fixture import raw_reply_server, start_service, untrusted_cert  # noqa: F401 (fixtures)

PRODUCT, VERSION = "Sample", "5.1.0"
PRODUCT_KEY = wine.HKCU_SETTINGS + "\\" + PRODUCT
VERSION_KEY = PRODUCT_KEY + "\\" + VERSION
MACHINE_KEY = wine.HKLM_SETTINGS + "\\" + PRODUCT + "\\" + VERSION
# Every check here runs silently ("UpdateCheckSilent"): the dialog stays hidden and
# turns the check's result into its end code.
SILENT_END = {0: 0, 1: 0, 3: 2, 4: 6, 16: 4, 7: 1, 9: 1, 10: 1, 11: 1, 12: 1,
              # worker mode: the service has no worker file, so the hand-off comes back and the hidden
              # dialog ends on the error; a cached (test) worker takes over and is waited for: its code 0
              5: 1, 6: 0}

UPDATE = ("A more up-to-date program version is available. Would you like to install it now?\n"
          "Please close all programs before starting the installation!")
UP_TO_DATE_DE = "Es wird keine Aktualisierung benötigt, die aktuellste Version ist bereits installiert."
SUPPORT = "Brindle Uptide has encountered an error. Please contact the support."
MAINTENANCE = "Server is temporarily unavailable during maintenance."
OFFLINE = "Connection to server failed. Please check your internet connection."

PRODUCT_ELEMENTS = ["Version", "MAC", "UptideWorkerVersion", "OsVersion", "OsProductType", "OsLanguage",
                    "OsArchitecture", "MachineGuid"]
QUICKCHECK_ELEMENTS = PRODUCT_ELEMENTS + ["ProgramName", "ProgramVersionNumber", "ProgramLanguage",
                                          "ProgramInstallDate", "AffiliateId"]

WIN64_DIR = Path(os.environ.get("BRUT_WIN64_DIR", wine.REPO / "build" / "win64"))
TEST_WORKER = WIN64_DIR / "tools" / "test-worker" / "BRUptideWorker.exe"


def args_for(*extra, quick=True, interval=0, language=1033):
    head = ["-QuickCheck"] if quick else []
    return head + ["-ProgramName", PRODUCT, "-DisplayName", PRODUCT, "-ProgramVersion", VERSION,
                   "-InstalledLocation", r"C:\Sample", "-Language", str(language),
                   "-UpdateIntervalInHours", str(interval), "-WriteCheckResultToReg", "-UpdateCheckSilent", *extra]


def catalogue(**product):
    return {"products": {PRODUCT: product}}


def point_at(client, url):
    client.prefix.reg_set(wine.HKCU_SETTINGS, "DebugUrl_v2", url)


def run_check(client, args, code, **kw):
    """Runs to the end; asserts the end code the check's result gives; returns (result, log)."""
    r = client.run(args, timeout=60, **kw)
    assert (r.timed_out, r.exit_code) == (False, SILENT_END[code])
    log = r.log(PRODUCT)
    assert [(l.level, l.text) for l in log.lines if l.ok and l.text.startswith(("ExitCode ", "exitCodeApplication "))] \
        == [ended(code)]
    return r, log


def ended(code):
    """The run's last word: the dialog's end code, or the worker's exit code after a hand-off."""
    return ("INF", "exitCodeApplication 0") if code == 6 else ("INF", f"ExitCode {SILENT_END[code]}")


def pairs(log):
    return [(l.level, l.text) for l in log.lines if l.ok]


def assert_in_order(log, expected):
    """The (level, text) lines appear in this order (others may come between)."""
    it = iter(pairs(log))
    missing = [e for e in expected if e not in it]
    assert not missing, f"not logged in order: {missing}\nlog: {pairs(log)}"


def stored_results(prefix):
    """UpdateResult / UpdateResultString under the product key and the version key, as (type, bytes)."""
    out = []
    for key in (PRODUCT_KEY, VERSION_KEY):
        k = prefix.reg_read(key)
        assert k.exists
        out.append({n: (v.type_name, v.data) for n, v in k.values.items()
                    if n in ("UpdateResult", "UpdateResultString")})
    return out


def expected_results(flag_text):
    if flag_text is None:
        return [{}, {}]
    flag, text = flag_text
    # Texts without a terminating zero.
    return [{"UpdateResult": ("REG_DWORD", flag.to_bytes(4, "little")),
             "UpdateResultString": ("REG_SZ", text.encode("utf-16-le"))}] * 2


def last_update_check(prefix):
    return prefix.reg_read(MACHINE_KEY).values.get("LastUpdateCheck")


def unix(dt):
    return calendar.timegm(dt.timetuple())


def assert_stamped_during(prefix, r):
    value = last_update_check(prefix)
    assert value is not None and value.type_name == "REG_SZ"
    text = value.data.decode("utf-16-le")
    assert re.fullmatch(r"[1-9][0-9]*", text), value
    assert unix(r.started) - 1 <= int(text) <= unix(r.ended) + 1


def wine_sees_online():
    """Wine's InternetGetConnectedState says online when an adapter has a gateway: a routed interface."""
    def routed(path, gateway_col, iface_col, skip_header):
        try:
            rows = Path(path).read_text().splitlines()[1 if skip_header else 0:]
        except OSError:
            return False
        return any(set(c[gateway_col]) != {"0"} and c[iface_col] != "lo"
                   for c in (r.split() for r in rows) if len(c) > max(gateway_col, iface_col))
    return routed("/proc/net/route", 2, 0, True) or routed("/proc/net/ipv6_route", 4, 9, False)


# ---------------------------------------------------------------- the request

def test_service_receives_the_logged_document(client, start_service):
    svc = start_service(catalogue(majors={"5": "5.2.0"}))
    point_at(client, svc.url())
    # "<&>" must travel escaped; a character above U+00FF makes the whole value a plain name.
    date, affiliate = '2024-01-01 <&> "q"', "Partner 日本"
    r, log = run_check(client, args_for("-InstallDate", date, "-AffiliateId", affiliate), 3)

    texts = log.texts
    logged = texts[texts.index("QuickCheck.xml fertig") + 1]
    [rec] = svc.quickchecks()
    assert (rec["method"], rec["argument"], rec["status"], rec["tls"]) == ("QuickCheck", "QuickCheckXML", 200, False)
    assert "problems" not in rec
    # The serializer ends the document with a line feed; the log drops one trailing line feed.
    assert rec["document"] == logged + "\n"
    assert rec["elements"] == QUICKCHECK_ELEMENTS
    # U+65E5 -> ~102H, U+672C -> ~103W (u / 255, "A" + u mod 26).
    assert (rec["fields"]["ProgramInstallDate"], rec["fields"]["AffiliateId"]) == (date, "Partner ~102H~103W")
    assert f"url to Webserver: {svc.url()}BRUTWebservice.asmx/QuickCheck" in texts
    assert rec["path"] == "/Uptide/BRUTWebservice.asmx/QuickCheck"
    # The whole envelope as received, verbatim (it holds a CR LF of its own).
    assert b"] Server response = " + rec["reply"].encode("latin-1") + b"\r\n" in log.data


# ---------------------------------------------------------------- replies

WORKER_NONE = {"worker_url": None, "ad_viewer_url": None}

READ = ("INF", "end LoadAndReadResponseXML")
REPLY_CASES = {
    # id: (catalogue, quick, extra args, language, code, stored (flag, text) or None, lines in order)
    "update": (catalogue(majors={"5": "5.2.0"}), True, [], 1033, 3, (1, UPDATE),
               [("INF", "MaxpdateableProductVersionExistingOnServer = 5.2.0"), READ]),
    "update-and-upgrade": (catalogue(majors={"5": "5.3.1"}, major_upgrade=6), True, [], 1033, 4, (1, UPDATE),
                           [("INF", "MaxpdateableProductVersionExistingOnServer = 5.3.1"),
                            ("INF", "MajorUpgradeProductVersion = 6"), READ]),
    "up-to-date": (catalogue(majors={"5": "5.1.0"}), True, [], 1033, 1, None, [READ]),
    "upgrade-only-german": (catalogue(majors={"5": "5.1.0"}, major_upgrade=7), True, [], 1031, 16,
                            (0, UP_TO_DATE_DE), [("INF", "MajorUpgradeProductVersion = 7"), READ]),
    # The message must be logged as text, never used as a format.
    "error": (catalogue(majors={"5": "5.2.0"}, error_message="Wartung 100% %s%n%d"), True, [], 1033, 12,
              (0, SUPPORT), [("ERR", "QuickCheckResponse.xml contains ServerErrorMessage"),
                             ("ERR", "Wartung 100% %s%n%d"),
                             ("INF", "MaxpdateableProductVersionExistingOnServer = 5.2.0"), READ,
                             ("ERR", "ResponseString contains ServerErrorMesage! ")]),
    "error-caption": (catalogue(error_message="Down"), True, ["-WindowCaption", "Grüße Updater"], 1033, 12,
                      (0, SUPPORT.replace("Brindle Uptide", "Grüße Updater")),
                      [("ERR", "QuickCheckResponse.xml contains ServerErrorMessage"), ("ERR", "Down"), READ]),
    "worker": (catalogue(majors={"5": "5.2.0"}), False, [], 1033, 5, None,
               [READ, ("INF", "New UptideWorker available from {worker_url}")]),
    "no-worker": (dict(catalogue(majors={"5": "5.2.0"}), worker=WORKER_NONE), False, [], 1033, 7,
                  (0, MAINTENANCE), [READ, ("ERR", "No Uptider available.")]),
    "cached-worker": (dict(catalogue(), worker=WORKER_NONE), False, [], 1033, 6, None,
                      [READ, ("INF", "Use old UptideWorker.")]),
}


@pytest.mark.parametrize("case", list(REPLY_CASES))
def test_reply_decides_result_and_stored_sentence(client, start_service, case):
    cat, quick, extra, language, code, stored, lines = REPLY_CASES[case]
    svc = start_service(cat)
    point_at(client, svc.url())
    worker_version = None
    if case == "cached-worker":
        if not TEST_WORKER.exists():
            pytest.skip(f"{TEST_WORKER} not built")
        work = client.prefix.temp_dir.joinpath(*wine.LOG_SUBDIR, f"{PRODUCT} {VERSION.split('.')[0]}")
        work.mkdir(parents=True)
        (work / "BRUptideWorker.exe").write_bytes(TEST_WORKER.read_bytes())
        rc = (wine.REPO / "tools" / "test-worker" / "Worker.rc").read_text(encoding="latin-1")
        worker_version = re.search(r'VALUE "ProductVersion", "([^"]+)"', rc).group(1)
    r, log = run_check(client, args_for(*extra, quick=quick, language=language), code,
                       clean=case != "cached-worker")

    [rec] = svc.quickchecks()
    assert rec["elements"] == (QUICKCHECK_ELEMENTS if quick else PRODUCT_ELEMENTS)
    assert rec["decision"]["mode"] == ("product" if quick else "worker")
    if worker_version:
        assert rec["fields"]["UptideWorkerVersion"] == worker_version
        assert f"UptideWorkerVersion: {worker_version}" in log.texts
    worker_url = rec["reply_elements"].get("UptideWorkerUrl")
    assert_in_order(log, [("INF", "start LoadAndReadResponseXML")] +
                    [(lv, t.format(worker_url=worker_url)) for lv, t in lines] + [ended(code)])
    assert stored_results(client.prefix) == expected_results(stored)
    # Only a failure at the service stamps the time of the last check.
    if code == 12:
        assert_stamped_during(client.prefix, r)
    else:
        assert last_update_check(client.prefix) is None


# ---------------------------------------------------------------- failures

FAILURES = {
    # id: (fault set or None for the refusing port, scheme, the post fails, log lines)
    "http-500": ({"http_500": True}, "http", True,
                 [("ERR", "/QuickCheck result = 500"), ("ERR", "result != S_OK")]),
    "empty-envelope": ({"empty_envelope": True}, "http", False,
                       [("INF", "/QuickCheck result = 0"), ("ERR", "Length of responseString = 0")]),
    "malformed-envelope": ({"malformed_envelope": True}, "http", False,
                           [("ERR", "Reply envelope unusable: not well-formed (Error reading end tag.)"),
                            ("ERR", "Length of responseString = 0")]),
    # The broken inner reply names a version: it must not be offered.
    "malformed-inner": ({"malformed_inner": True}, "http", False,
                        [("INF", "start LoadAndReadResponseXML"),
                         ("ERR", "QuickCheckResponse.xml unusable: not well-formed (Error reading end tag.)"),
                         ("ERR", "QuickCheckResponse.xml could not be read (10)")]),
    # Wine's WinINet reports the dropped connection as a request without a status.
    "dropped": ({"drop": True}, "http", True,
                [("ERR", "Can´t read status code."), ("ERR", "/QuickCheck result = 2"), ("ERR", "result != S_OK")]),
    "refused": (None, "http", True, [("ERR", "/QuickCheck result = 12029"), ("ERR", "result != S_OK")]),
    "refused-https": (None, "https", True,
                      [("ERR", "/QuickCheck result = 12029"), ("WAR", "Try to connect without SSL: {http}"),
                       ("ERR", "/QuickCheck result = 12029"), ("ERR", "result != S_OK")]),
}


@pytest.mark.parametrize("case", list(FAILURES))
def test_failed_exchange(client, start_service, case):
    faults, scheme, post_fails, lines = FAILURES[case]
    svc = None
    if faults:
        svc = start_service(dict(catalogue(majors={"5": "5.2.0"}), faults=faults))
        base = svc.url()
    else:
        base = client.service_url
    url = base.replace("http://", scheme + "://")
    point_at(client, url)
    # A failed post counts as the service's fault only when the machine is online.
    code = 10 if post_fails and not wine_sees_online() else 9
    r, log = run_check(client, args_for(), code)

    http_method_url = base + "BRUTWebservice.asmx/QuickCheck"
    assert_in_order(log, [(lv, t.format(http=http_method_url)) for lv, t in lines] +
                    [ended(code)])
    assert (("ERR", "result != S_OK") in pairs(log)) == post_fails
    # The status report the dialog sends afterwards makes its own attempt.
    retries = [t for t in log.texts if t.startswith("Try to connect without SSL") and t.endswith("/QuickCheck")]
    assert len(retries) == (scheme == "https")
    if svc:
        [rec] = svc.quickchecks()
        assert rec["faults"] == sorted(faults)
    assert stored_results(client.prefix) == expected_results((0, MAINTENANCE if code == 9 else OFFLINE))
    if code == 9:
        assert_stamped_during(client.prefix, r)
    else:
        assert last_update_check(client.prefix) is None


@pytest.fixture
def offline_client(fresh_client, monkeypatch, tmp_path):
    """fresh_client with all of its Wine (wineserver and services too) in network namespaces of their own:
    no interface is up, so there is no gateway and nothing to reach."""
    if subprocess.run(["unshare", "-n", "true"], capture_output=True).returncode != 0:
        pytest.skip("no network namespaces here")
    wrapper = tmp_path / "wine64-offline"
    wrapper.write_text(f'#!/bin/sh\nexec unshare -n {wine.WINE64} "$@"\n')
    wrapper.chmod(0o755)
    # The next Wine program starts a new wineserver, inside its namespace.
    fresh_client.prefix.flush()
    monkeypatch.setattr(wine, "WINE64", str(wrapper))
    return fresh_client


def test_offline_machine_keeps_last_check_time(offline_client):
    point_at(offline_client, offline_client.service_url)
    r, log = run_check(offline_client, args_for(), 10)

    assert_in_order(log, [("ERR", "/QuickCheck result = 12029"), ("ERR", "result != S_OK"), ended(10)])
    assert stored_results(offline_client.prefix) == expected_results((0, OFFLINE))
    assert last_update_check(offline_client.prefix) is None


def test_untrusted_certificate_falls_back_to_http(client, start_service):
    svc = start_service(catalogue(majors={"5": "5.2.0"}), https=True)
    point_at(client, svc.url("https"))
    r, log = run_check(client, args_for(), 3)

    plain = svc.url("http") + "BRUTWebservice.asmx/QuickCheck"
    assert log.find("send the request failed because: ")
    assert_in_order(log, [("ERR", "/QuickCheck result = 12045"),
                          ("WAR", f"Try to connect without SSL: {plain}"),
                          ("INF", "/QuickCheck result = 0"),
                          ("WAR", "/QuickCheck answered over http without SSL: "
                                  "download addresses from this answer will not be used"),
                          ("INF", "MaxpdateableProductVersionExistingOnServer = 5.2.0")])
    assert len(log.find("Try to connect without SSL")) == 1
    records = svc.records()
    # Wine checks the certificate only after the handshake: the refused attempt may leave no record.
    # (The banner thread's download from the same service is left out.)
    calls = [(x["method"], x["tls"]) for x in records if x.get("method") not in (None, "GET")]
    assert calls == [("QuickCheck", False)]
    assert all(x.get("event") == "tls_handshake_failed" for x in records if "method" not in x)
    assert stored_results(client.prefix) == expected_results((1, UPDATE))
    assert last_update_check(client.prefix) is None


# ---------------------------------------------------------------- interval gate

HOUR = 3600
GATE_CASES = {
    # id: (stored value (offset from now, or a raw (value, type)), check runs, gate log line, value after)
    "checked-now": (0, False, "UpdateCheck not necessary because it is only 0 hours since last Update.", "same"),
    "in-future": (3 * HOUR + 1800, False, "UpdateCheck not necessary because it is only -3 hours since last Update.",
                  "same"),
    "day-old": (-25 * HOUR, True, None, "same"),
    "absent": (None, True, "ResetLastUpdateCheck()", "0"),
    "dword": ((12345, "REG_DWORD"), True, "ResetLastUpdateCheck()", "0"),
}


@pytest.mark.parametrize("case", list(GATE_CASES))
def test_interval_gate(client, start_service, case):
    stored, runs, line, after = GATE_CASES[case]
    svc = start_service(catalogue(majors={"5": "5.1.0"}))
    point_at(client, svc.url())
    if isinstance(stored, int):
        stored = (str(int(time.time()) + stored), "REG_SZ")
    if stored is not None:
        client.prefix.reg_set(MACHINE_KEY, "LastUpdateCheck", *stored)
    before = last_update_check(client.prefix)
    r, log = run_check(client, args_for(interval=24), 1 if runs else 0)

    assert len(svc.quickchecks()) == (1 if runs else 0)
    gate = [t for t in log.texts if t.startswith(("UpdateCheck not necessary", "ResetLastUpdateCheck"))]
    assert gate == ([line] if line else [])
    assert ("QuickCheck.xml fertig" in log.texts) == runs
    # A successful check leaves the time alone; a reset stores "0".
    value = last_update_check(client.prefix)
    if after == "same":
        assert (value.type_name, value.data) == (before.type_name, before.data)
    else:
        assert (value.type_name, value.data) == ("REG_SZ", after.encode("utf-16-le"))
    assert stored_results(client.prefix) == expected_results(None)


# ---------------------------------------------------------------- hostile replies

_HEAD = b'<?xml version="1.0" encoding="ISO-8859-1"?>\r\n'
_OFFER = ("<QuickCheckResponse><MaxUpdateableProductVersionExistingOnServer>5.2.0"
          "</MaxUpdateableProductVersionExistingOnServer></QuickCheckResponse>")
_ERROR = "<QuickCheckResponse><ErrorMessage>second root</ErrorMessage></QuickCheckResponse>"
_NO_ENVELOPE = "Reply envelope unusable: not well-formed (Error document empty.)"
DEEP = 40000  # far beyond the parser's limit, within the reply size cap


def _envelope(inner):
    return _HEAD + b"<string>" + escape(inner).encode("ascii") + b"</string>"


HOSTILE = {
    # id: (service faults or raw body, code, a line that says why)
    "large-900KiB": ({"huge": 900 << 10}, 3, ("INF", "MaxpdateableProductVersionExistingOnServer = 5.2.0")),
    "huge-20MB": ({"huge": 20_000_000}, 9, ("ERR", "Reply body larger than 1048576 bytes: not read")),
    # Thousands of attributes would keep the parser busy for hours.
    "many-attributes": (_HEAD + b"<string " + b" ".join(b'a%d="1"' % i for i in range(50000)) + b">x</string>", 9,
                        ("ERR", 'Reply envelope rejected: more than 4096 "=" characters')),
    "deep-envelope": (_HEAD + b"<a>" * DEEP + b"</a>" * DEEP, 9,
                      ("ERR", 'Reply envelope rejected: more than 512 "<" characters')),
    "deep-inner": (_envelope("<a>" * DEEP + "</a>" * DEEP), 9,
                   ("ERR", 'QuickCheckResponse.xml rejected: more than 512 "<" characters')),
    "not-xml": (b"Service Unavailable\r\n", 9, ("ERR", _NO_ENVELOPE)),
    "binary": (b"\x00\xff\xfe<string>x</string>\x00\x80", 9, ("ERR", _NO_ENVELOPE)),
    "inner-not-xml": (_envelope("Service Unavailable"), 9, ("ERR", "QuickCheckResponse.xml could not be read (10)")),
    # Of several roots only the first counts, in the envelope as in the inner reply.
    "two-envelopes": (_envelope(_OFFER) + _envelope(_ERROR)[len(_HEAD):], 3,
                      ("INF", "MaxpdateableProductVersionExistingOnServer = 5.2.0")),
    "two-inner-roots": (_envelope(_OFFER + _ERROR), 3, ("INF", "MaxpdateableProductVersionExistingOnServer = 5.2.0")),
}


@pytest.mark.parametrize("case", list(HOSTILE))
def test_hostile_reply_ends_with_defined_code(client, start_service, raw_reply_server, case):
    reply, code, why = HOSTILE[case]
    if isinstance(reply, dict):
        svc = start_service(dict(catalogue(majors={"5": "5.2.0"}), faults=reply))
    else:
        svc = raw_reply_server(reply)
    point_at(client, svc.url())
    r, log = run_check(client, args_for(), code)

    assert_in_order(log, [why, ended(code)])
    assert not log.find("QuickCheckResponse.xml contains ServerErrorMessage")
    assert stored_results(client.prefix) == expected_results((1, UPDATE) if code == 3 else (0, MAINTENANCE))

