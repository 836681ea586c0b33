"""Fixtures of the Wine end-to-end tests: one prefix, one display and one warm
wineserver per session; a clean client set-up per test.

Environment: BRUT_WIN64_DIR (the win64 build, default build/win64),
BRUT_E2E_KEEP=1 keeps the session directory, BRUT_E2E_ARTIFACTS (default
build/e2e-artifacts) receives the screenshots.
"""
import os
import re
import shutil
import socket
import tempfile
import time
from pathlib import Path

import pytest

import wine

WIN64_DIR = Path(os.environ.get("BRUT_WIN64_DIR", wine.REPO / "build" / "win64"))
ARTIFACTS = Path(os.environ.get("BRUT_E2E_ARTIFACTS", wine.REPO / "build" / "e2e-artifacts"))


def _timed(label, fn, *a):
    t0 = time.monotonic()
    r = fn(*a)
    print(f"[e2e] {label}: {time.monotonic() - t0:.1f}s")
    return r


@pytest.fixture(scope="session")
def session_dir():
    d = Path(tempfile.mkdtemp(prefix="brut-e2e-"))
    yield d
    if not os.environ.get("BRUT_E2E_KEEP"):
        shutil.rmtree(d, ignore_errors=True)


@pytest.fixture(scope="session")
def display():
    x = wine.Xvfb()
    yield x.display
    x.stop()


@pytest.fixture(scope="session")
def _prepared(session_dir, display):
    for tool in ("Xvfb", "xdotool", "import", wine.WINE64):
        if not shutil.which(tool):
            pytest.fail(f"{tool} missing: run scripts/setup")
    probe = _timed("wine-probe", wine.build_probe, wine.REPO / "build" / "e2e-tools")
    prefix = wine.WinePrefix(session_dir / "prefix", display, session_dir / "work", probe)
    (session_dir / "work").mkdir()
    try:
        _timed("prefix", prefix.boot)
        # boot() flushed the registry to disk: this is the state every fresh prefix starts from.
        snapshot = prefix.registry_files()
        yield prefix, snapshot
    finally:
        prefix.kill()


@pytest.fixture(scope="session")
def wine_prefix(_prepared):
    """The session's prefix (wine.WinePrefix). Tests share it: leave no state behind."""
    return _prepared[0]


@pytest.fixture
def fresh_prefix(_prepared, session_dir, request):
    """A private copy of the prepared prefix, with its own wineserver (about 2 s)."""
    base, snapshot = _prepared
    dest = session_dir / f"fresh-{re.sub(r'[^A-Za-z0-9_.-]', '_', request.node.name)}-{time.monotonic_ns()}"
    p = base.clone(dest, snapshot)
    yield p
    p.kill()
    shutil.rmtree(dest, ignore_errors=True)


@pytest.fixture(scope="session")
def refused_url():
    """A loopback address whose port is taken but not listening: every connection is refused."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    s.bind(("127.0.0.1", 0))
    yield f"http://127.0.0.1:{s.getsockname()[1]}/"
    s.close()


@pytest.fixture
def artifacts(request):
    """This test's folder for screenshots (made by the first one)."""
    d = ARTIFACTS / re.sub(r"[^A-Za-z0-9_.-]", "_", request.node.name)
    if d.exists():
        shutil.rmtree(d)
    return d


@pytest.fixture(scope="session")
def client_exe(wine_prefix):
    """BRUptide.exe copied into the prefix's Program Files; its Windows path."""
    exe = WIN64_DIR / "BRUptide.exe"
    if not exe.exists():
        pytest.skip(f"{exe} not built")
    win = wine.CLIENT_WIN_DIR + "\\BRUptide.exe"
    dest = wine_prefix.unix_path(win)
    dest.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy2(exe, dest)
    return win


def _make_client(prefix, exe, artifacts, url):
    if not prefix.unix_path(exe).exists():
        dest = prefix.unix_path(exe)
        dest.parent.mkdir(parents=True, exist_ok=True)
        shutil.copy2(WIN64_DIR / "BRUptide.exe", dest)
    c = wine.Client(prefix, exe, artifacts, url)
    c.reset()
    return c


@pytest.fixture
def client(wine_prefix, client_exe, artifacts, refused_url):
    """wine.Client on the session prefix, with no settings, no logs and an unreachable service."""
    c = _make_client(wine_prefix, client_exe, artifacts, refused_url)
    yield c
    c.stop_all()


@pytest.fixture
def fresh_client(fresh_prefix, client_exe, artifacts, refused_url):
    """wine.Client on a private prefix copy."""
    c = _make_client(fresh_prefix, client_exe, artifacts, refused_url)
    yield c
    c.stop_all()
