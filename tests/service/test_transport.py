import http.client
import json
import os
import socket
import ssl
import subprocess
import sys

import pytest

from clientlike import form_body, get, post, quickcheck, quickcheck_doc, read_reply, url_encode
from conftest import BANNER_BYTES, CATALOGUE, TOOL_DIR, WORKER_BYTES, read_records

DOC = quickcheck_doc("SampleTool", "5.1.2")
GOOD = form_body("QuickCheckXML", DOC)


def unverified():
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    return context


def test_tls_and_plain_http_share_one_port(start_service, certificate):
    svc = start_service(cert=certificate[0], key=certificate[1])
    secure = http.client.HTTPSConnection("127.0.0.1", svc.port, timeout=10, context=unverified())
    status, body = post(svc.port, "QuickCheck", GOOD, connection=secure)
    assert status == 200
    assert read_reply(body)["UptideWorkerUrl"].startswith("https://127.0.0.1:%d/" % svc.port)

    # a client that checks the certificate refuses it; the retry over http then works
    strict = http.client.HTTPSConnection("127.0.0.1", svc.port, timeout=10,
                                         context=ssl.create_default_context())
    with pytest.raises(ssl.SSLError):
        post(svc.port, "QuickCheck", GOOD, connection=strict)
    status, body = quickcheck(svc.port, DOC)
    assert status == 200
    assert read_reply(body)["UptideWorkerUrl"].startswith("http://127.0.0.1:%d/" % svc.port)
    assert get(svc.port, "/Uptide//Banner/Banner_Sample_Tool_23.bmp",
               context=unverified()) == (200, BANNER_BYTES)

    records = read_records(svc)
    assert [(r.get("method"), r["tls"]) for r in records] == [
        ("QuickCheck", True), (None, True), ("QuickCheck", False), ("GET", True)]
    assert records[1]["event"] == "tls_handshake_failed"


@pytest.mark.parametrize("body, fragment", [
    ("QuickCheckXML=" + url_encode("<QuickCheck/>"), "not encoded twice"),
    ("QuickCheckXML=%25zz", "bad escape"),
    ("QuickCheckXML=%2", "bad escape"),
    ("QuickCheckXML=" + url_encode(url_encode("<QuickCheck>")), "not well-formed"),
    ("QuickCheckXML=" + url_encode(url_encode("just text")), "not well-formed"),
    (form_body("QuickCheckXML", "<UpdateStatus />"), "expected <QuickCheck>"),
    (form_body("UpdateStatusXML", DOC), "QuickCheckXML missing"),
    (GOOD + "&" + GOOD, "given 2 times"),
    ("", "missing"),
    ("QuickCheckXML", "no '='"),
])
def test_malformed_bodies_get_400_and_a_record(svc, body, fragment):
    status, answer = post(svc.port, "QuickCheck", body)
    assert status == 400 and fragment in answer.decode()
    record = read_records(svc)[-1]
    assert record["status"] == 400 and fragment in record["error"]
    assert quickcheck(svc.port, DOC)[0] == 200


def test_raw_protocol_abuse_does_not_stop_the_service(svc):
    head = b"POST /Uptide/BRUTWebservice.asmx/QuickCheck HTTP/1.0\r\n"
    requests = [
        (head + b"\r\n", b"400"),                                   # no Content-Length
        (head + b"Content-Length: 99999999\r\n\r\n", b"400"),
        (head + b"Content-Length: 50\r\n\r\nabc", b"400"),        # body cut short
        (head + b"Content-Length: 4\r\n\r\n\xe9\xe9\xe9\xe9", b"400"),
        (b"\xff\xfe garbage\r\n\r\n", None),
    ]
    for raw, expected in requests:
        with socket.create_connection(("127.0.0.1", svc.port), timeout=10) as s:
            s.sendall(raw)
            s.shutdown(socket.SHUT_WR)
            answer = s.recv(100)
        if expected:
            assert answer.split()[1] == expected
    assert quickcheck(svc.port, DOC)[0] == 200


@pytest.mark.parametrize("path, expected", [
    ("/Uptide/files/BRUptideWorker.exe", (200, WORKER_BYTES)),
    ("/Uptide//Banner/Banner_Sample_Tool_23.bmp", (200, BANNER_BYTES)),
    ("/other/base/Banner/Banner_Sample_Tool_23.bmp", (200, BANNER_BYTES)),
    ("/dl/worker.exe", (200, WORKER_BYTES)),
    ("/Uptide/Banner/Banner_Missing_1.bmp", 404),
    ("/Uptide/files/../../secret.txt", 404),
    ("/Uptide/files/..%2f..%2fsecret.txt", 404),
    ("/Uptide/BRUTWebservice.asmx/QuickCheck", 404),
])
def test_file_serving(svc, path, expected):
    status, body = get(svc.port, path)
    if isinstance(expected, int):
        assert status == expected and b"outside" not in body
    else:
        assert (status, body) == expected


@pytest.mark.parametrize("path", [
    "/UptideBRUTWebservice.asmx/QuickCheck",       # base URL configured without its "/"
    "/Uptide/BRUTWebservice.asmx/quickcheck",
    "/Uptide/BRUTWebservice.asmx/QuickCheck/extra",
])
def test_unknown_method_addresses_are_404(svc, path):
    conn = http.client.HTTPConnection("127.0.0.1", svc.port, timeout=10)
    conn.request("POST", path, GOOD.encode(), {"Content-Type": "application/x-www-form-urlencoded"})
    assert conn.getresponse().status == 404
    conn.close()


def test_command_line_service_runs_reports_its_port_and_stops(tmp_path, files_dir):
    catalogue = tmp_path / "catalogue.json"
    catalogue.write_text(json.dumps(CATALOGUE))
    record = tmp_path / "record.jsonl"
    port_file = tmp_path / "port"
    proc = subprocess.Popen(
        [sys.executable, os.path.join(TOOL_DIR, "service.py"), "--catalogue", str(catalogue),
         "--port", "0", "--record", str(record), "--files", str(files_dir),
         "--port-file", str(port_file), "--lifetime", "30"],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        line = proc.stdout.readline()
        assert line.startswith("PORT=")
        port = int(line[5:])
        assert int(port_file.read_text()) == port
        assert read_reply(quickcheck(port, DOC)[1])["MaxUpdateableProductVersionExistingOnServer"] \
            == "5.2.0"
        proc.terminate()
        assert proc.wait(10) == 0
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(10)
    assert json.loads(record.read_text().splitlines()[0])["status"] == 200
    assert "QuickCheck (product mode)" in proc.stderr.read()


def test_command_line_refuses_a_bad_catalogue(tmp_path):
    catalogue = tmp_path / "catalogue.json"
    catalogue.write_text('{"products": {"A": {"majors": {"5": "6.1"}}}}')
    result = subprocess.run([sys.executable, os.path.join(TOOL_DIR, "service.py"),
                             "--catalogue", str(catalogue)], capture_output=True, text=True,
                            timeout=30)
    assert result.returncode == 2 and "does not belong to major 5" in result.stderr


def test_example_catalogue_is_valid():
    import service
    path = os.path.join(TOOL_DIR, "catalogue.example.json")
    service.validate_catalogue(service.load_catalogue(path))
