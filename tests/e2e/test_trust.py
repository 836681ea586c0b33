"""The worker's signature under Wine: what the real WinVerifyTrust, CertNameToStrW and
file handles decide for programs signed at test time with Debian's osslsigncode.

The rules themselves are the unit table's (handoff_test.cpp); these runs prove what only
the real system can show: that a signature verifies through the hold, how the signer's
subject is rendered, and that an unsigned file, a changed byte and another signer are
told apart. Wine 8's WinVerifyTrust detects a missing signature and a bad digest but
accepts a self-signed root that Windows refuses: so the subject rule is what can be
proven here, not the chain; nor can revocation be shown under Wine."""
import shutil
import struct
import subprocess

import pytest

from service_fixture import start_service, untrusted_cert  # noqa: F401 (fixtures)
from test_handoff import (RETURNED, TEST_WORKER, VIEWER, WIN64_DIR, WORKER, args_for, assert_started_with, cache_worker,
                          serve, work_dir, worker_path, worker_runs, worker_tail)

CLIENT = WIN64_DIR / "BRUptide.exe"
SIGNERS = {"A": "/C=DE/O=Brindle Test/CN=Brindle Test A", "B": "/C=DE/O=Brindle Test/CN=Brindle Test B"}
# The signers' subjects as CertNameToStrW (CERT_X500_NAME_STR) renders them under Wine.
SUBJECT = {"A": "C=DE, O=Brindle Test, CN=Brindle Test A", "B": "C=DE, O=Brindle Test, CN=Brindle Test B"}
HIDE = "-HideUpdateCheckResult"  # the worker is waited for: its exit code ends the client
WORKER_EXIT = 37
STARTED = worker_tail("UpdateSilent", "HideUpdateCheckResult")

pytestmark = pytest.mark.skipif(not (CLIENT.exists() and TEST_WORKER.exists()),
                                reason="BRUptide.exe or the test worker not built")


def code_byte(pe):
    """Offset of a byte inside the code section, which the signature's digest covers."""
    pe_at = struct.unpack_from("<I", pe, 0x3C)[0]
    sections, optional = struct.unpack_from("<H", pe, pe_at + 6)[0], struct.unpack_from("<H", pe, pe_at + 20)[0]
    table = pe_at + 24 + optional
    for i in range(sections):
        name, size, _, raw_size, raw_at = struct.unpack_from("<8sIIII", pe, table + 40 * i)
        if name.rstrip(b"\0") == b".text":
            # Past the code proper when the section is padded: changed, yet harmless if ever run.
            return raw_at + (raw_size - 1 if raw_size > size else size // 2)
    raise AssertionError("no .text section")


class Signing:
    """Two self-signed code-signing certificates made for this session; signed copies of programs."""

    def __init__(self, folder):
        self.folder = folder
        self.certs = {}
        for who, subject in SIGNERS.items():
            key, cert = folder / f"{who}.key", folder / f"{who}.pem"
            subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                            "-days", "30", "-subj", subject, "-addext", "extendedKeyUsage=codeSigning"],
                           check=True, capture_output=True)
            self.certs[who] = (cert, key)
        self._done = {}

    def sign(self, program, who):
        """`program` signed by `who` ("A", "B"), or unchanged (None); "A changed": signed by A, then one byte
        of its code changed; "no program": a text instead."""
        if who is None:
            return program.read_bytes()
        if who == "no program":
            return b"not a program\r\n"
        if (program, who) not in self._done:
            signer = who.split()[0]
            out = self.folder / f"{program.stem}-{who.replace(' ', '-')}.exe"
            cert, key = self.certs[signer]
            subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key, "-h", "sha256",
                            "-in", program, "-out", out], check=True, capture_output=True)
            data = bytearray(out.read_bytes())
            if who.endswith("changed"):
                at = code_byte(data)
                data[at] ^= 0xFF
            self._done[(program, who)] = bytes(data)
        return self._done[(program, who)]


@pytest.fixture(scope="session")
def signing(tmp_path_factory):
    for tool in ("openssl", "osslsigncode"):
        if not shutil.which(tool):
            pytest.fail(f"{tool} missing: run scripts/setup")
    return Signing(tmp_path_factory.mktemp("signing"))


@pytest.fixture
def installed(client, signing):
    """Installs the client signed by someone (or unsigned) over the session's copy; the unsigned
    client is back for the next test."""
    dest = client.prefix.unix_path(client.exe_win)

    def install(who):
        dest.write_bytes(signing.sign(CLIENT, who))
        return client

    yield install
    shutil.copy2(CLIENT, dest)


def leftovers(client):
    d = work_dir(client)
    return sorted(p.name for p in d.iterdir()) if d.exists() else []


def run(client):
    r = client.run(args_for(HIDE), timeout=90, env={"BRUT_TEST_WORKER_EXIT": str(WORKER_EXIT)}, clean=False)
    assert not r.timed_out
    return r, r.log("Sample")


# (client's signer, worker's signer, reason of a refusal or None)
REFUSED = [
    ("A", None, "it is not signed"),
    ("A", "no program", "it is not signed"),  # TRUST_E_SUBJECT_FORM_UNKNOWN, not TRUST_E_NOSIGNATURE
    ("A", "B", f"it is signed by someone else ('{SUBJECT['B']}')"),
    ("A", "A changed", "its content does not match its signature"),
]


@pytest.mark.parametrize("signer, worker_signer, reason", [("A", "A", None), *REFUSED],
                         ids=["A-A started", "unsigned refused", "no program refused", "B refused", "changed refused"])
def test_a_signed_client_starts_only_a_worker_signed_by_its_signer(installed, signing, start_service, signer,
                                                                    worker_signer, reason):
    """Downloaded worker and ad viewer signed alike: the viewer stays when it verifies and is deleted
    when not; a refused worker is deleted and the hand-off fails."""
    client = installed(signer)
    program = signing.sign(TEST_WORKER, worker_signer)
    serve(start_service, client, files={WORKER: program, VIEWER: program})
    r, log = run(client)
    viewer = worker_path(client).replace(WORKER, VIEWER)
    if reason is None:
        assert r.exit_code == WORKER_EXIT
        assert f"{viewer} verified: signed by '{SUBJECT[signer]}'" in log.texts
        assert f"{worker_path(client)} verified: signed by '{SUBJECT[signer]}'" in log.texts
        assert_started_with(client, STARTED)
        assert leftovers(client) == sorted([VIEWER, WORKER, "BRUptideWorker.cmdline.txt"])
    else:
        assert r.exit_code == RETURNED
        assert f"{viewer} deleted: {reason}" in log.texts
        assert f"{worker_path(client)} is not started: {reason}" in log.texts
        assert worker_runs(client) == []
        assert leftovers(client) == []
        assert not log.find("Try start application")


def test_a_cached_worker_signed_by_someone_else_is_refused(installed, signing, start_service):
    client = installed("A")
    serve(start_service, client, worker=None, ad_viewer=None)
    cache_worker(client)
    (work_dir(client) / WORKER).write_bytes(signing.sign(TEST_WORKER, "B"))
    r, log = run(client)
    assert r.exit_code == RETURNED
    assert "Use old UptideWorker." in log.texts
    assert f"{worker_path(client)} is not started: it is signed by someone else ('{SUBJECT['B']}')" in log.texts
    assert worker_runs(client) == []
    assert leftovers(client) == []


def test_an_unsigned_client_starts_an_unsigned_worker_unverified(installed, start_service):
    client = installed(None)
    serve(start_service, client)
    r, log = run(client)
    assert r.exit_code == WORKER_EXIT
    assert f"{worker_path(client)} is started unverified: this client is not signed and names no signer" in log.texts
    assert_started_with(client, STARTED)
    assert not log.find("The signature of ")  # an unsigned client is no broken one


def test_libraries_beside_the_worker_are_deleted_before_the_start(installed, signing, start_service):
    """Wine's pattern match finds them whatever their case; deleted before the check and the start."""
    client = installed("A")
    serve(start_service, client, ad_viewer=None, files={WORKER: signing.sign(TEST_WORKER, "A")})
    d = work_dir(client)
    d.mkdir(parents=True, exist_ok=True)
    planted = ["version.dll", "WININET.DLL"]
    for name in planted:
        (d / name).write_bytes(TEST_WORKER.read_bytes())
    r, log = run(client)
    assert r.exit_code == WORKER_EXIT
    texts = log.texts
    deleted = [texts.index(f"{worker_path(client).replace(WORKER, n)} deleted: no library belongs beside the worker")
               for n in planted]
    assert max(deleted) < texts.index(f"{worker_path(client)} verified: signed by '{SUBJECT['A']}'")
    assert not set(planted) & set(leftovers(client))


def test_the_hold_keeps_the_program_and_its_folder_as_they_are(wine_prefix, signing):
    """While held, the program can be neither written, replaced, renamed nor deleted, nor its folder
    renamed (32: sharing violation, 5: access denied); once released, all of it can."""
    probe = WIN64_DIR / "trust-probe.exe"
    if not probe.exists():
        pytest.skip(f"{probe} not built")
    folder = wine_prefix.unix_path("C:\\trust-hold")
    folder.mkdir()
    try:
        (folder / WORKER).write_bytes(signing.sign(TEST_WORKER, "A"))
        r = wine_prefix.wine([str(probe), f"C:\\trust-hold\\{WORKER}"], check=False)
        assert r.returncode == 0, r.stdout
        tries = {op: (int(held), int(released))
                 for op, held, released in (line.split() for line in r.stdout.decode().splitlines())}
        assert tries == {"write": (32, 0), "replace": (5, 0), "rename": (32, 0), "rename-folder": (32, 0),
                         "delete": (32, 0)}
    finally:
        shutil.rmtree(folder, ignore_errors=True)
