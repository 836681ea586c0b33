import os
import shutil
import subprocess

import pytest

from clientlike import form_body, get, post, quickcheck, quickcheck_doc, read_reply, serialize
from conftest import WORKER_BYTES, read_records

VERSION = "MaxUpdateableProductVersionExistingOnServer"
MAJOR = "MajorUpgradeProductVersion"


@pytest.mark.parametrize("product, installed, offered, major", [
    ("SampleTool", "5.1.2", "5.2.0", "6"),
    ("SampleTool", "5.2.0", None, "6"),
    ("SampleTool", "5.2", None, "6"),
    ("SampleTool", "5.3.0", None, "6"),        # installed build newer than the catalogue
    ("SampleTool", "4.0.0", None, "6"),        # major without builds on the service
    ("SampleTool", "6.0.1", "6.0.3", None),
    ("SampleTool", "6.0.3", None, None),
    ("NoUpgrade", "7.9.0", "7.10.0", None),
    ("NoUpgrade", "7.10.0.1", None, None),
    ("SampleTool", "", None, None),
    ("SampleTool", "five", None, None),
    ("Unknown", "1.0", None, None),
    ("sampletool", "5.1.2", None, None),       # names are matched exactly
])
def test_product_check_decisions(svc, product, installed, offered, major):
    status, body = quickcheck(svc.port, quickcheck_doc(product, installed))
    assert status == 200
    reply = read_reply(body)
    assert reply.get(VERSION) == offered
    assert reply.get(MAJOR) == major
    assert "ErrorMessage" not in reply
    port = ":%d/" % svc.port
    assert reply["UptideWorkerUrl"] == "http://127.0.0.1" + port + "Uptide/files/BRUptideWorker.exe"
    assert reply["AdViewerUrl"] == "http://127.0.0.1" + port + "Uptide/files/BRAdViewer.exe"


def test_worker_mode_names_downloads_that_work(svc):
    status, body = quickcheck(svc.port, quickcheck_doc(None), base="/svc/v2/")
    reply = read_reply(body)
    assert status == 200 and set(reply) == {"UptideWorkerUrl", "AdViewerUrl"}
    path = reply["UptideWorkerUrl"].split(":%d" % svc.port, 1)[1]
    assert path == "/svc/v2/files/BRUptideWorker.exe"
    assert get(svc.port, path) == (200, WORKER_BYTES)
    check, download = read_records(svc)
    assert check["decision"]["mode"] == "worker" and check["base"] == "/svc/v2/"
    assert download["method"] == "GET" and download["file"] == "BRUptideWorker.exe"


def test_catalogue_urls_absolute_rooted_templated_and_omitted(start_service):
    svc = start_service({
        "worker": {"worker_url": "/dl/worker.exe", "ad_viewer_url": None},
        "products": {"A": {"majors": {"1": "1.1"},
                           "worker_url": "https://{host}{base}files/BRUptideWorker.exe",
                           "ad_viewer_url": "http://downloads.example/viewer.exe"}},
        "files": {"/dl/worker.exe": "BRUptideWorker.exe"},
    })
    host = "127.0.0.1:%d" % svc.port
    reply = read_reply(quickcheck(svc.port, quickcheck_doc(None))[1])
    assert reply == {"UptideWorkerUrl": "http://%s/dl/worker.exe" % host}
    assert get(svc.port, "/dl/worker.exe") == (200, WORKER_BYTES)
    reply = read_reply(quickcheck(svc.port, quickcheck_doc("A", "1.0"))[1])
    assert reply["UptideWorkerUrl"] == "https://%s/Uptide/files/BRUptideWorker.exe" % host
    assert reply["AdViewerUrl"] == "http://downloads.example/viewer.exe"


def test_envelope_is_ascii_and_carries_the_error_message_bytes(svc):
    status, body = quickcheck(svc.port, quickcheck_doc("Broken", "1.0"))
    assert status == 200
    assert body.startswith(b'<?xml version="1.0" encoding="ISO-8859-1"?>')
    assert all(b < 0x80 for b in body)
    assert b"&amp;amp;" in body and b"&#xE4;" in body
    reply = read_reply(body)
    assert reply["ErrorMessage"] == "Wartung l\u00e4uft & <bald> fertig"
    assert reply[VERSION] == "1.1"


def test_reply_text_follows_the_client_code_page(start_service):
    message = "\u30b5\u30fc\u30d0\u30fc\u30a8\u30e9\u30fc \u00e4\u20ac"
    svc = start_service({"products": {"J": {"error_message": message}}})
    body = quickcheck(svc.port, quickcheck_doc("J", "1.0", os_language="1041"))[1]
    assert all(b < 0x80 for b in body)
    # cp932 has no a-umlaut or euro sign: they arrive as '?'
    assert read_reply(body, "cp932")["ErrorMessage"] == message[:-2] + "??"
    body = quickcheck(svc.port, quickcheck_doc("J", "1.0", os_language="1031"))[1]
    assert read_reply(body, "cp1252")["ErrorMessage"] == "?" * 7 + " \u00e4\u20ac"


def test_record_holds_document_fields_decision_and_reply(svc):
    doc = quickcheck_doc("SampleTool", "5.1.2", affiliate="Caf\u00e9 & co")
    quickcheck(svc.port, doc)
    rec = read_records(svc)[-1]
    assert rec["method"] == "QuickCheck" and rec["argument"] == "QuickCheckXML"
    assert rec["status"] == 200 and rec["tls"] is False
    assert rec["document"] == doc
    assert rec["fields"]["AffiliateId"] == "Caf\u00e9 & co"
    assert rec["fields"]["UptideWorkerVersion"] == ""
    assert rec["elements"][:3] == ["Version", "MAC", "UptideWorkerVersion"]
    assert rec["decision"]["offered_version"] == "5.2.0"
    assert rec["reply_elements"][VERSION] == "5.2.0"
    assert read_reply(rec["reply"].encode("ascii"))[VERSION] == "5.2.0"
    assert "\\u00e9" in svc.record_path.read_text("ascii")


@pytest.mark.parametrize("method, argument, root, children", [
    ("ReportUpdateStatus", "UpdateStatusXML", "UpdateStatus",
     [("Version", "9.0.8"), ("MAC", None), ("MachineGuid", "g"), ("IsStub", "0"),
      ("Status", "-1"), ("UpdateId", None)]),
    ("ReportUpgradeOfferStatus", "UpgradeOfferStatusXML", "UpgradeOfferStatus",
     [("Version", "9.0.8"), ("MAC", "0:1A"), ("MachineGuid", "g"), ("ProgramName", "SampleTool"),
      ("ProgramVersionNumber", "5.1.2"), ("MajorVersion", "6"), ("Status", "3")]),
])
def test_reports_are_recorded_and_answered(svc, method, argument, root, children):
    status, body = post(svc.port, method, form_body(argument, serialize(root, children)))
    assert status == 200 and read_reply(body) == {"Result": "OK"}
    rec = read_records(svc)[-1]
    assert rec["method"] == method and rec["argument"] == argument
    assert rec["fields"] == {k: v or "" for k, v in children}


READBACK = r"""
#include <tinyxml.h>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
int main() {
    std::string env((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    TiXmlDocument outer;
    outer.Parse(env.c_str());
    if (outer.Error() || !outer.RootElement()) { std::printf("ENVELOPE\n"); return 0; }
    const char* text = outer.RootElement()->GetText();
    TiXmlDocument inner;
    inner.Parse(text ? text : "");
    if (inner.Error() || !inner.RootElement()) { std::printf("INNER\n"); return 0; }
    for (const TiXmlElement* e = inner.RootElement()->FirstChildElement(); e;
         e = e->NextSiblingElement()) {
        std::printf("%s=", e->Value());
        for (const unsigned char* p = (const unsigned char*)(e->GetText() ? e->GetText() : "");
             *p; ++p)
            std::printf("%02x", *p);
        std::printf("\n");
    }
    return 0;
}
"""


def test_client_xml_parser_reads_the_intended_bytes(start_service, tmp_path):
    """The reply read with the client's own XML library gives the code-page bytes."""
    compiler = shutil.which("g++")
    if not compiler or not os.path.exists("/usr/include/tinyxml.h"):
        pytest.skip("g++ and libtinyxml-dev are needed")
    src = tmp_path / "readback.cpp"
    src.write_text(READBACK)
    exe = tmp_path / "readback"
    subprocess.run([compiler, "-O0", "-o", str(exe), str(src), "-ltinyxml"], check=True,
                   timeout=120)
    message = "Fehler \u00fc & <x>  \u20ac"
    svc = start_service({"products": {"T": {"majors": {"2": "2.0.1"}, "error_message": message}}})
    body = quickcheck(svc.port, quickcheck_doc("T", "2.0"))[1]
    out = subprocess.run([str(exe)], input=body, capture_output=True, check=True,
                         timeout=30).stdout.decode()
    values = dict(line.split("=", 1) for line in out.splitlines())
    # the parser folds runs of blanks, as the client's will
    assert bytes.fromhex(values["ErrorMessage"]) == "Fehler \u00fc & <x> \u20ac".encode("cp1252")
    assert bytes.fromhex(values[VERSION]) == b"2.0.1"
