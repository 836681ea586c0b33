"""The process end from a thread (the worker hand-off's way out) under Wine: the real platform
layer ends the process while another thread still uses the client's statics."""
import shutil

import pytest

import conftest
import wine


def test_end_from_a_thread_runs_no_static_clean_up(wine_prefix):
    exe = conftest.WIN64_DIR / "exit-probe.exe"
    if not exe.exists():
        pytest.skip(f"{exe} not built")
    win = wine.CLIENT_WIN_DIR + "\\exit-probe.exe"
    dest = wine_prefix.unix_path(win)
    dest.parent.mkdir(parents=True, exist_ok=True)
    shutil.copy2(exe, dest)
    for f in wine_prefix.log_dir.glob("*_ExitProbe.log"):
        f.unlink()

    result = wine.ClientProcess(wine_prefix, win, "", 60, None, "C:\\").wait()

    # 99: a static destructor ran; anything else but 7: the main thread met a destroyed object.
    assert result.exit_code == 7
    log = result.log("ExitProbe")
    # The line written just before the end is there, and no line was cut short.
    assert [l.text for l in log.find("exitCodeApplication")] == ["exitCodeApplication 7"]
    assert all(l.ok for l in log.lines) and log.data.endswith(b"\r\n")
