import json
import os
import shutil
import subprocess
import sys

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOOL_DIR = os.path.join(ROOT, "tools", "update-service")
sys.path.insert(0, TOOL_DIR)

import service  # noqa: E402

CATALOGUE = {
    "products": {
        "SampleTool": {"majors": {"5": {"latest": "5.2.0"}, "6": {"latest": "6.0.3"}},
                       "major_upgrade": 6},
        "NoUpgrade": {"majors": {"7": "7.10.0"}},
        "Broken": {"majors": {"1": "1.1"}, "error_message": "Wartung l\u00e4uft & <bald> fertig"},
    },
    "files": {"/dl/worker.exe": "BRUptideWorker.exe"},
}

WORKER_BYTES = b"MZ worker"
BANNER_BYTES = b"BM banner"


@pytest.fixture
def files_dir(tmp_path):
    d = tmp_path / "files"
    (d / "Banner").mkdir(parents=True)
    (d / "BRUptideWorker.exe").write_bytes(WORKER_BYTES)
    (d / "BRAdViewer.exe").write_bytes(b"MZ viewer")
    (d / "Banner" / "Banner_Sample_Tool_23.bmp").write_bytes(BANNER_BYTES)
    (tmp_path / "secret.txt").write_bytes(b"outside")
    return d


@pytest.fixture
def start_service(tmp_path, files_dir):
    started = []

    def start(catalogue=CATALOGUE, cert=None, key=None):
        record = tmp_path / ("record%d.jsonl" % len(started))
        svc = service.UpdateService(json.loads(json.dumps(catalogue)), str(record),
                                    str(files_dir), cert=cert, key=key).start()
        svc.record_path = record
        started.append(svc)
        return svc

    yield start
    for svc in started:
        svc.stop()


@pytest.fixture
def svc(start_service):
    return start_service()


def read_records(svc):
    if not svc.record_path.exists():
        return []
    return [json.loads(line) for line in svc.record_path.read_text("ascii").splitlines()]


@pytest.fixture(scope="session")
def certificate(tmp_path_factory):
    if not shutil.which("openssl"):
        pytest.skip("openssl is not installed")
    d = tmp_path_factory.mktemp("cert")
    subprocess.run(["sh", os.path.join(TOOL_DIR, "make-cert.sh"), str(d)], check=True,
                   capture_output=True, timeout=60)
    return str(d / "cert.pem"), str(d / "key.pem")
