import http.client
import json
import time
import xml.etree.ElementTree as ET

import pytest

from clientlike import form_body, get, post, quickcheck, quickcheck_doc, read_reply, serialize
from conftest import BANNER_BYTES, read_records

VERSION = "MaxUpdateableProductVersionExistingOnServer"
DOC = quickcheck_doc("SampleTool", "5.1.2")


def set_faults(port, value):
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    try:
        conn.request("POST", "/control/faults", json.dumps(value).encode(),
                     {"Content-Type": "application/json"})
        response = conn.getresponse()
        return response.status, json.loads(response.read())
    finally:
        conn.close()


def _status(code):
    def check(status, body):
        assert status == code
    return check


def _empty(status, body):
    assert status == 200 and ET.fromstring(body).text is None and read_reply(body) is None


def _malformed_envelope(status, body):
    assert status == 200
    with pytest.raises(ET.ParseError):
        ET.fromstring(body)


def _malformed_inner(status, body):
    assert status == 200
    with pytest.raises(ET.ParseError):
        read_reply(body)


def _error_message(text):
    def check(status, body):
        reply = read_reply(body)
        assert status == 200 and reply[VERSION] == "5.2.0"
        assert reply["ErrorMessage"] == text if text else reply["ErrorMessage"].strip()
    return check


def _huge(status, body):
    assert status == 200 and len(body) > 3_000_000
    assert read_reply(body)[VERSION] == "5.2.0"


@pytest.mark.parametrize("faults, check", [
    ({"http_500": True}, _status(500)),
    ({"http_status": 503}, _status(503)),
    ({"empty_envelope": True}, _empty),
    ({"malformed_envelope": True}, _malformed_envelope),
    ({"malformed_inner": True}, _malformed_inner),
    ({"error_message": True}, _error_message(None)),
    ({"error_message": "Wartung bis 18 Uhr"}, _error_message("Wartung bis 18 Uhr")),
    ({"huge": 3_000_000}, _huge),
], ids=lambda v: "-".join(v) if isinstance(v, dict) else "")
def test_each_fault_switch_changes_the_answer(svc, faults, check):
    assert set_faults(svc.port, faults) == (200, {"ok": True})
    check(*quickcheck(svc.port, DOC))
    assert read_records(svc)[-1]["faults"] == sorted(faults)
    assert set_faults(svc.port, {})[0] == 200
    assert read_reply(quickcheck(svc.port, DOC)[1])[VERSION] == "5.2.0"


def test_drop_closes_without_answer_and_slow_waits(svc):
    set_faults(svc.port, {"drop": True})
    with pytest.raises((http.client.RemoteDisconnected, ConnectionError)):
        quickcheck(svc.port, DOC)
    assert read_records(svc)[-1]["status"] is None

    set_faults(svc.port, {"slow": 0.6})
    started = time.monotonic()
    status, body = quickcheck(svc.port, DOC)
    assert status == 200 and time.monotonic() - started >= 0.55
    assert read_reply(body)[VERSION] == "5.2.0"


def test_first_n_and_method_selection(svc):
    report = form_body("UpdateStatusXML", serialize("UpdateStatus", [("Status", "4")]))
    set_faults(svc.port, {"http_500": True, "first": 2})
    assert post(svc.port, "ReportUpdateStatus", report)[0] == 200   # not a QuickCheck: not counted
    assert [quickcheck(svc.port, DOC)[0] for _ in range(3)] == [500, 500, 200]

    set_faults(svc.port, {"http_status": 502, "methods": ["*"]})
    assert post(svc.port, "ReportUpdateStatus", report)[0] == 502
    assert get(svc.port, "/Uptide//Banner/Banner_Sample_Tool_23.bmp")[0] == 502


def test_file_faults_by_path_pattern(svc):
    set_faults(svc.port, {"drop": True, "methods": ["GET:*/BRUptideWorker.exe"]})
    with pytest.raises((http.client.RemoteDisconnected, ConnectionError)):
        get(svc.port, "/Uptide/files/BRUptideWorker.exe")
    assert get(svc.port, "/Uptide/Banner/Banner_Sample_Tool_23.bmp") == (200, BANNER_BYTES)
    assert quickcheck(svc.port, DOC)[0] == 200


def test_truncated_download(svc):
    set_faults(svc.port, {"truncate": 4, "methods": ["GET:*/Banner/*"]})
    conn = http.client.HTTPConnection("127.0.0.1", svc.port, timeout=10)
    conn.request("GET", "/Uptide//Banner/Banner_Sample_Tool_23.bmp")
    resp = conn.getresponse()
    assert resp.status == 200 and resp.getheader("Content-Length") == str(len(BANNER_BYTES))
    with pytest.raises(http.client.IncompleteRead) as cut:
        resp.read()
    assert cut.value.partial == BANNER_BYTES[:4]
    conn.close()
    assert read_records(svc)[-1]["bytes"] == 4


def test_product_faults_apply_to_that_product_only(start_service):
    catalogue = {"products": {"SampleTool": {"majors": {"5": "5.2.0"}},
                              "Flaky": {"majors": {"1": "1.2"}, "faults": {"http_500": True}}},
                 "faults": {"http_status": 503}}
    svc = start_service(catalogue)
    assert quickcheck(svc.port, quickcheck_doc("Flaky", "1.0"))[0] == 500
    assert quickcheck(svc.port, quickcheck_doc("SampleTool", "5.0"))[0] == 503
    set_faults(svc.port, {"product": "Flaky", "faults": {}})
    set_faults(svc.port, {})
    assert quickcheck(svc.port, quickcheck_doc("Flaky", "1.0"))[0] == 200


def test_control_rejects_bad_settings_and_keeps_the_old_ones(svc):
    set_faults(svc.port, {"http_500": True})
    status, answer = set_faults(svc.port, {"http500": True})
    assert status == 400 and "unknown fault" in answer["error"]
    assert set_faults(svc.port, {"product": "Nobody", "faults": {"drop": True}})[0] == 400
    assert quickcheck(svc.port, DOC)[0] == 500

    conn = http.client.HTTPConnection("127.0.0.1", svc.port, timeout=10)
    conn.request("POST", "/control/catalogue", json.dumps(
        {"products": {"SampleTool": {"majors": {"5": "5.9.1"}}}}).encode())
    assert conn.getresponse().status == 200
    conn.close()
    assert read_reply(quickcheck(svc.port, DOC)[1])[VERSION] == "5.9.1"
    status, body = get(svc.port, "/control/records")
    assert status == 200 and json.loads(body)[-1]["reply_elements"][VERSION] == "5.9.1"
