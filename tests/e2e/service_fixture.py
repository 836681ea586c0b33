"""The reference update service as a test fixture: its own process on a free
loopback port, a catalogue written per test, stopped at the end; plus a bare
server for replies the reference service would never send."""
import http.server
import json
import os
import signal
import subprocess
import sys
import threading
import time
import urllib.request
from pathlib import Path

import pytest

import wine

SERVICE = wine.REPO / "tools" / "update-service" / "service.py"
MAKE_CERT = wine.REPO / "tools" / "update-service" / "make-cert.sh"


class Service:
    """One running service.py; records() reads what it received."""

    def __init__(self, work, catalogue, cert=None):
        self.work = Path(work)
        self.work.mkdir(parents=True, exist_ok=True)
        (self.work / "files").mkdir(exist_ok=True)
        self.record_path = self.work / "records.jsonl"
        self.https = cert is not None
        cat = self.work / "catalogue.json"
        cat.write_text(json.dumps(catalogue), encoding="utf-8")
        cmd = [sys.executable, str(SERVICE), "--catalogue", str(cat), "--port", "0",
               "--files", str(self.work / "files"), "--record", str(self.record_path), "--lifetime", "900"]
        if cert:
            cmd += ["--https", "--cert", str(cert[0]), "--key", str(cert[1])]
        self._out = open(self.work / "stdout", "wb")
        self._err = open(self.work / "stderr", "wb")
        self.proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=self._out, stderr=self._err,
                                     start_new_session=True)
        self.port = self._wait_port()

    def _wait_port(self):
        deadline = time.monotonic() + 20
        while time.monotonic() < deadline:
            first = (self.work / "stdout").read_bytes().split(b"\n", 1)
            if len(first) == 2 and first[0].startswith(b"PORT="):
                return int(first[0][5:])
            if self.proc.poll() is not None:
                break
            time.sleep(0.05)
        self.stop()
        raise RuntimeError("update service did not start: " + self.stderr())

    def url(self, scheme="http", base="/Uptide/"):
        return f"{scheme}://127.0.0.1:{self.port}{base}"

    def stderr(self):
        return (self.work / "stderr").read_bytes().decode("utf-8", "replace")

    def records(self):
        if not self.record_path.exists():
            return []
        return [json.loads(l) for l in self.record_path.read_text(encoding="ascii").splitlines() if l.strip()]

    def quickchecks(self):
        return [r for r in self.records() if r.get("method") == "QuickCheck"]

    def control(self, what, body):
        req = urllib.request.Request(f"http://127.0.0.1:{self.port}/control/{what}", json.dumps(body).encode(),
                                     {"Content-Type": "application/json"}, method="POST")
        with urllib.request.urlopen(req, timeout=10) as r:
            return json.loads(r.read() or b"null")

    def stop(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait()
        self._out.close()
        self._err.close()


@pytest.fixture(scope="session")
def untrusted_cert(tmp_path_factory):
    """(cert.pem, key.pem): self-signed, so the client refuses it."""
    d = tmp_path_factory.mktemp("cert")
    subprocess.run(["sh", str(MAKE_CERT), str(d)], check=True, stdout=subprocess.DEVNULL, timeout=60)
    return d / "cert.pem", d / "key.pem"


@pytest.fixture
def start_service(tmp_path, untrusted_cert):
    """start_service(catalogue, https=False) -> Service; every one is stopped after the test."""
    started = []

    def start(catalogue, https=False):
        s = Service(tmp_path / f"service{len(started)}", catalogue, untrusted_cert if https else None)
        started.append(s)
        return s

    yield start
    for s in started:
        s.stop()


class RawReplyServer:
    """Answers every POST with HTTP 200 and the given body bytes; counts the posts."""

    def __init__(self, body):
        outer = self
        self.posts = 0

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_POST(self):
                self.rfile.read(int(self.headers.get("Content-Length") or 0))
                outer.posts += 1
                self.send_response(200)
                self.send_header("Content-Type", "text/xml; charset=iso-8859-1")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Connection", "close")
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, kwargs={"poll_interval": 0.05}, daemon=True)
        self.thread.start()

    def url(self):
        return f"http://127.0.0.1:{self.port}/Uptide/"

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()


@pytest.fixture
def raw_reply_server():
    """raw_reply_server(body_bytes) -> RawReplyServer; stopped after the test."""
    started = []

    def start(body):
        s = RawReplyServer(body)
        started.append(s)
        return s

    yield start
    for s in started:
        s.stop()
