"""The harness itself, exercised with wine-probe and Wine's own programs, so
that a failing client test points at the client and not at the harness."""
import json
import subprocess

import pytest

import wine

CMD = r"C:\windows\system32\cmd.exe"


def probe_win(prefix):
    return prefix.win_path(prefix.probe_exe)


def start(prefix, exe_win, tail, timeout=30, env=None):
    cwd = prefix.win_path(prefix.new_workdir("cwd"))
    return wine.ClientProcess(prefix, exe_win, wine.quote_arg(exe_win) + " " + tail, timeout, env, cwd)


@pytest.mark.parametrize("code", [0, 1, 256, 0x7FFFFFFF, -1, -2147483648])
def test_runner_reports_full_32_bit_exit_code(wine_prefix, code):
    r = start(wine_prefix, CMD, f"/c exit {code}").wait()
    assert (r.timed_out, r.exit_code) == (False, code)


def test_runner_terminates_at_timeout(wine_prefix):
    p = start(wine_prefix, probe_win(wine_prefix), "wait no-such-window 60000", timeout=2)
    r = p.wait()
    # A probe that outlived its own timeout would have made wait() raise.
    assert r.timed_out and r.exit_code is None
    rc, out = wine_prefix.probe("kill", str(p.pid), check=False)
    assert (rc, out.strip()) == (3, "no process")


@pytest.mark.parametrize("args", [
    ["plain"],
    ["two words", ""],
    ['quote"inside', 'trailing\\', 'a\\\\"b'],
    ["Grüße 日本語", "-ProgramName", "C:\\Program Files\\X\\"],
])
def test_command_line_arrives_as_quoted(wine_prefix, args):
    out = wine_prefix.new_workdir("args") / "args.json"
    exe = probe_win(wine_prefix)
    tail = " ".join(wine.quote_arg(a) for a in ["args", wine_prefix.win_path(out), *args])
    r = start(wine_prefix, exe, tail).wait()
    assert r.exit_code == 0
    got = json.loads(out.read_text(encoding="utf-8"))
    assert got["argv"] == args
    assert got["cmdline"] == wine.quote_arg(exe) + " " + tail


@pytest.mark.parametrize("locale, caption, text", [
    (None, "Debug", "BRUptide start"),
    ("ja_JP", "デバッグ", "開始 — Grüße"),
], ids=["en", "ja"])
def test_message_box_is_seen_shown_and_answered(wine_prefix, artifacts, locale, caption, text):
    env = wine_prefix.locale_env(locale) if locale else None
    p = start(wine_prefix, probe_win(wine_prefix), " ".join(wine.quote_arg(a) for a in ["box", caption, text, "-42"]),
              env=env)
    try:
        wine_prefix.wait_window(caption)
        ctrls = wine_prefix.controls(caption)
        assert [c["text"] for c in ctrls if c["class"] == "Static" and c["id"] == 0xFFFF] == [text]
        assert [c["text"] for c in ctrls if c["class"] == "Button"] == ["OK"]
        [box] = [w for w in wine_prefix.windows(pid=p.pid, visible=True) if w["class"] == "#32770"]
        assert box["title"] == caption
        shot = wine_prefix.screenshot(artifacts / "box.png")
        rect = wine_prefix.rect(caption)
        # The box is drawn: its face is light grey, the screen around it black.
        cx, cy = (rect["left"] + rect["right"]) // 2, rect["bottom"] - 6
        assert _pixel(shot, cx, cy) > 150
        assert _pixel(shot, 2, 2) == 0
        wine_prefix.answer(caption, "ok")
        r = p.wait()
    finally:
        if p.running():
            p.kill()
    assert r.exit_code == -42


def test_xdotool_key_dismisses_box(wine_prefix):
    p = start(wine_prefix, probe_win(wine_prefix), "box KeyBox text 7")
    try:
        [wid] = wine_prefix.x_search("^KeyBox$")
        wine_prefix.x_key(wid, "Return")
        assert p.wait(20).exit_code == 7
    finally:
        if p.running():
            p.kill()


def test_finish_answers_boxes_like_a_user(wine_prefix):
    p = start(wine_prefix, probe_win(wine_prefix), "box Leftover text 9")
    r = p.finish(timeout=20, close_after=0.5)
    assert r.exit_code == 9


@pytest.mark.parametrize("failure", ["", "echo 'ShellExecuteEx failed: File not found.'"], ids=["silent", "message"])
def test_wine_start_failures_are_repeated(wine_prefix, monkeypatch, tmp_path, failure):
    # A wine64 whose first two starts fail the way Wine's own start failures do.
    count = tmp_path / "count"
    wrapper = tmp_path / "wine64-flaky"
    wrapper.write_text(f'#!/bin/sh\necho x >> {count}\n'
                       f'if [ $(wc -l < {count}) -le 2 ]; then {failure or ":"}; exit 1; fi\n'
                       f'exec {wine.WINE64} "$@"\n')
    wrapper.chmod(0o755)
    monkeypatch.setattr(wine, "WINE64", str(wrapper))

    p = start(wine_prefix, CMD, "/c exit 5")
    assert (p.wait().exit_code, p.attempts) == (5, 3)

    count.unlink()
    assert wine_prefix.probe("kill", "999999", check=False) == (3, "no process\n")
    assert len(count.read_text().split()) == 3
    # A program that ran and ended with 1 is not started again; only a silent end with 1 is ambiguous.
    r = wine_prefix.wine([CMD, "/c", "echo ran& exit 1"], check=False)
    assert (r.returncode, r.stdout.strip()) == (1, b"ran")
    assert len(count.read_text().split()) == 4


def _pixel(png, x, y):
    out = subprocess.run(["convert", str(png), "-crop", f"1x1+{x}+{y}", "-colorspace", "Gray", "-format",
                          "%[fx:int(255*p{0,0}.r)]", "info:-"], capture_output=True, timeout=30, check=True)
    return int(out.stdout)


KEY = r"HKCU\Software\BrutHarness"


@pytest.mark.parametrize("type_, value, data", [
    ("REG_SZ", "Grüße 日本", "Grüße 日本".encode("utf-16-le")),
    ("REG_SZ", "", b""),
    ("REG_DWORD", 0xFFFFFFFF, b"\xff\xff\xff\xff"),
    ("REG_QWORD", 1, (1).to_bytes(8, "little")),
    ("REG_MULTI_SZ", ["a", "b"], "a\0b\0\0".encode("utf-16-le")),
    ("REG_BINARY", b"\x00\x01\xfe", b"\x00\x01\xfe"),
])
def test_registry_values_keep_their_exact_bytes(wine_prefix, type_, value, data):
    wine_prefix.reg_delete(KEY)
    try:
        wine_prefix.reg_set(KEY + r"\Sub", "V", value, type_)
        k = wine_prefix.reg_read(KEY + r"\Sub")
        assert k.exists
        assert (k["V"].type_name, k["V"].data) == (type_, data)
        wine_prefix.reg_delete(KEY + r"\Sub", "V")
        assert "V" not in wine_prefix.reg_read(KEY + r"\Sub")
    finally:
        wine_prefix.reg_delete(KEY)
    assert not wine_prefix.reg_read(KEY).exists


def test_reg_add_and_import_store_typed_values(wine_prefix):
    wine_prefix.reg_delete(KEY)
    try:
        wine_prefix.reg_add(KEY, "Dw", "REG_DWORD", 7)
        wine_prefix.reg_add(KEY, "Sz", "REG_SZ", "x y")
        wine_prefix.reg_import(f'[{KEY.replace("HKCU", "HKEY_CURRENT_USER")}\\Imp]\n'
                               '"Q"=hex(b):05,00,00,00,00,00,00,00\n'
                               '"Jp"="日本"\n')
        k = wine_prefix.reg_read(KEY)
        assert (k["Dw"].type_name, k["Dw"].number) == ("REG_DWORD", 7)
        assert (k["Sz"].type_name, k["Sz"].text) == ("REG_SZ", "x y")
        assert k.subkeys == ["Imp"]
        imp = wine_prefix.reg_read(KEY + r"\Imp")
        assert (imp["Q"].type_name, imp["Q"].number) == ("REG_QWORD", 5)
        assert imp["Jp"].text == "日本"
    finally:
        wine_prefix.reg_delete(KEY)


@pytest.mark.parametrize("locale, lcid, acp", [(None, 1033, 1252), ("de_DE", 1031, 1252), ("ja_JP", 1041, 932)])
def test_locale_env_selects_system_locale(wine_prefix, locale, lcid, acp):
    f = wine_prefix.facts(env=wine_prefix.locale_env(locale) if locale else None)
    assert (f["system_lcid"], f["acp"]) == (lcid, acp)


def test_prefix_paths(wine_prefix):
    temp = wine_prefix.temp_dir
    assert temp.is_dir()
    assert wine_prefix.unix_path(wine_prefix.win_path(temp)) .resolve() == temp.resolve()
    assert wine_prefix.win_path("/tmp") == r"Z:\tmp"


def test_fresh_prefix_starts_from_prepared_state(wine_prefix, fresh_prefix):
    wine_prefix.reg_set(KEY, "Leftover", 1, "REG_DWORD")
    (wine_prefix.temp_dir / "leftover.txt").write_text("x")
    try:
        assert not fresh_prefix.reg_read(KEY).exists
        assert not (fresh_prefix.temp_dir / "leftover.txt").exists()
        assert fresh_prefix.reg_read(r"HKCU\Software\Wine\X11 Driver")["Managed"].text == "N"
        fresh_prefix.reg_set(KEY, "Own", 2, "REG_DWORD")
        assert "Own" not in wine_prefix.reg_read(KEY)
    finally:
        wine_prefix.reg_delete(KEY)
        (wine_prefix.temp_dir / "leftover.txt").unlink()
