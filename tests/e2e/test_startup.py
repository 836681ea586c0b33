"""Start-up of the real client under Wine: log file and start lines, the
"Debug" boxes, clearing the stored result, exit codes, hostile command lines."""
import datetime
import re
import time

import pytest

import wine

# Every product field given: discovery asks no source, so nothing is logged
# before the log opens under the product's name.
ALL_GIVEN = ["-ProgramName", "Foo", "-DisplayName", "Foo Bar", "-ProgramVersion", "1.2.3",
             "-InstalledLocation", r"C:\Foo", "-Language", "1033", "-InstallDate", "20240101"]
# A silent quick check ends by itself; the service refuses connections, so the
# run ends on an error: end code 1.
SILENT = ["-QuickCheck", "-UpdateCheckSilent"]
ERROR_END = 1


def start_lines(name, display, version, date, language, stub=0):
    return [("AUD", "STARTING LOG"),
            ("INF", f"{name}({display}) Uptide v9.0.8 started"),
            ("INF", f"ProgramName: {name}"),
            ("INF", f"DisplayName: {display}"),
            ("INF", f"ProgramVersionNumber: {version}"),
            ("INF", f"ProgramInstallDate: {date}"),
            ("INF", f"ProgramLanguage: {language}"),
            ("INF", f"IsStubExe: {stub}")]


def assert_well_formed(log, result):
    bad = [l.raw for l in log.lines if not l.ok]
    assert not bad, f"lines not in the log format: {bad[:3]}"
    assert log.data.endswith(b"\r\n")
    # TZ=UTC in Wine: the local time of the lines and the stamp equal the host's UTC.
    slack = datetime.timedelta(seconds=2)
    lo, hi = result.started.replace(microsecond=0) - slack, result.ended + slack
    stamp = datetime.datetime.strptime(log.stamp, "%Y%m%d%H%M%S")
    assert lo <= stamp <= hi
    assert all(lo <= l.time <= hi for l in log.lines)
    # A line's time is taken before it waits for the file: only one thread's lines are ordered.
    for tid in {l.tid for l in log.lines}:
        times = [l.time for l in log.lines if l.tid == tid]
        assert times == sorted(times)


def exit_code_lines(log):
    return [l.text for l in log.find("ExitCode ")]


def only_log(result):
    assert len(result.logs) == 1, sorted(result.logs)
    return next(iter(result.logs.values()))


@pytest.mark.parametrize("prefix_char", ["-", "/", ""], ids=["dash", "slash", "bare"])
def test_log_file_and_start_lines(client, prefix_char):
    args = [a[1:] if a.startswith("-") else a for a in ALL_GIVEN + SILENT]
    args = [prefix_char + a if a in ("ProgramName", "DisplayName", "ProgramVersion", "InstalledLocation",
                                     "Language", "InstallDate", "QuickCheck", "UpdateCheckSilent") else a
            for a in args]
    r = client.run(args, timeout=60)
    assert (r.timed_out, r.exit_code) == (False, ERROR_END)
    log = only_log(r)
    assert re.fullmatch(r"\d{14}_Foo\.log", log.name)
    assert_well_formed(log, r)
    head = [(l.level, l.text) for l in log.lines[:9]]
    assert head[:8] == start_lines("Foo", "Foo Bar", "1.2.3", "20240101", 1033)
    assert head[8] == ("INF", "StartParameter: " + r.cmdline)
    # Start-up runs on one thread.
    assert len({l.tid for l in log.lines[:9]}) == 1
    assert exit_code_lines(log) == [f"ExitCode {r.exit_code}"]


@pytest.mark.parametrize("locale, fallback", [(None, "Unknown"), ("de_DE", "Unbekannt"), ("ja_JP", "不明")],
                         ids=["en", "de", "ja"])
@pytest.mark.parametrize("args", [[], SILENT, ["-ProgramName", "Foo"] + SILENT], ids=["empty", "silent", "name-only"])
def test_unknown_product_falls_back_to_localized_name(client, locale, fallback, args):
    # With sources all failing, the record is built from the updater itself, whose
    # resource names the updater: the names become the fallback of the system language.
    # An empty command line shows the dialog: the run closes it as a user would.
    env = client.prefix.locale_env(locale) if locale else None
    r = client.run(args, env=env, timeout=60, close_after=3)
    assert (r.timed_out, r.exit_code) == (False, ERROR_END)
    assert sorted(l.program for l in r.logs.values()) == sorted(["BRUptide", fallback])
    early = r.log("BRUptide")
    assert early.lines[0].text == "STARTING LOG"
    assert ("ERR", "ReadFromRegistry failed") in [(l.level, l.text) for l in early.lines]
    log = r.log(fallback)
    assert_well_formed(log, r)
    shown = fallback.encode("latin-1", errors="replace").decode("latin-1")
    assert [(l.level, l.text) for l in log.lines[:8]] == start_lines(shown, shown, "", "", 0)
    assert log.lines[8].text == "StartParameter: " + r.cmdline
    assert exit_code_lines(log) == [f"ExitCode {ERROR_END}"]


@pytest.mark.parametrize("type_, value, boxes", [
    ("REG_DWORD", 1, True),
    ("REG_DWORD", 0xFFFFFFFF, True),
    ("REG_DWORD", 0, False),
    ("REG_SZ", "1", False),
    ("REG_QWORD", 1, False),
    ("REG_BINARY", b"\x01\x00\x00\x00", False),
    ("REG_DWORD", b"\x01\x00\x00\x00\x00\x00\x00\x00", False),
    (None, None, False),
], ids=["dword1", "dword-ffffffff", "dword0", "sz1", "qword1", "binary", "dword-8-bytes", "absent"])
def test_debug_setting_shows_start_and_end_boxes(client, type_, value, boxes):
    if type_:
        client.prefix.reg_set(wine.HKCU_SETTINGS, "Debug", value, type_)
    if not boxes:
        # A box nobody answers would hold the run until its timeout.
        r = client.run(ALL_GIVEN + SILENT, timeout=30, close_after=60)
        assert (r.timed_out, r.exit_code) == (False, ERROR_END)
        return

    p = client.start(ALL_GIVEN + SILENT, timeout=60)
    prefix = client.prefix
    prefix.wait_window("Debug")
    assert box_text(prefix) == "BRUptide start"
    assert [w["title"] for w in prefix.windows(pid=p.pid, visible=True) if w["class"] != "IME"] == ["Debug"]
    # Shown before anything is logged.
    assert wine.read_logs(prefix.log_dir) == {}
    client.screenshot("start-box")
    prefix.answer("Debug", "OK")

    wait_for(lambda: box_text(prefix) == "BRUptide end", 60)
    logs = wine.read_logs(prefix.log_dir)
    assert [exit_code_lines(l) for l in logs.values() if l.program == "Foo"] == [[f"ExitCode {ERROR_END}"]]
    assert p.running()
    client.screenshot("end-box")
    prefix.answer("Debug", "OK")
    r = p.wait()
    assert (r.timed_out, r.exit_code) == (False, ERROR_END)


def box_text(prefix):
    try:
        ctrls = prefix.controls("Debug")
    except wine.WineError:
        return None
    texts = [c["text"] for c in ctrls if c["id"] == 0xFFFF and c["class"].lower() == "static"]
    return texts[0] if texts else None


def wait_for(cond, timeout):
    deadline = time.monotonic() + timeout
    while not cond():
        assert time.monotonic() < deadline, "condition not reached"
        time.sleep(0.2)


PRODUCT = wine.HKCU_SETTINGS + r"\Foo"
VERSION = PRODUCT + r"\1.2.3"


@pytest.mark.parametrize("seeded", [True, False], ids=["seeded", "no-keys"])
def test_start_clears_stored_result(client, seeded):
    reg = client.prefix
    untouched = {wine.HKCU_SETTINGS + r"\Other": "REG_DWORD", PRODUCT + r"\9.9.9": "REG_DWORD"}
    if seeded:
        reg.reg_set(PRODUCT, "UpdateResult", 1, "REG_DWORD")
        reg.reg_set(PRODUCT, "UpdateResultString", "An update is available.")
        reg.reg_set(PRODUCT, "Keep", "x")
        # A value of another type goes too: it is deleted by name.
        reg.reg_set(VERSION, "UpdateResult", "1", "REG_SZ")
        reg.reg_set(VERSION, "UpdateResultString", "old")
        reg.reg_set(VERSION, "Keep", 5, "REG_DWORD")
        for key in untouched:
            reg.reg_set(key, "UpdateResult", 1, "REG_DWORD")
            reg.reg_set(key, "UpdateResultString", "other")
    r = client.run(ALL_GIVEN + SILENT, timeout=60)
    assert (r.timed_out, r.exit_code) == (False, ERROR_END)

    product, version = reg.reg_read(PRODUCT), reg.reg_read(VERSION)
    assert product.exists and version.exists
    for key in (product, version):
        assert "UpdateResult" not in key and "UpdateResultString" not in key
    if seeded:
        assert product["Keep"].text == "x"
        assert version["Keep"].number == 5
        for key in untouched:
            k = reg.reg_read(key)
            assert (k["UpdateResult"].number, k["UpdateResultString"].text) == (1, "other")


LONG = "x" * 10000


@pytest.mark.parametrize("case", ["unbalanced-quote", "long-value", "non-latin", "tabs-and-empty"])
def test_hostile_command_lines_run_to_normal_end(client, case):
    given = ["-ProgramVersion", "1.2.3", "-InstalledLocation", r"C:\Foo", "-Language", "1033",
             "-InstallDate", "20240101"] + SILENT
    tail = " ".join(wine.quote_arg(a) for a in given)
    if case == "unbalanced-quote":
        # The quote runs to the end of the line: the name takes the rest, blanks included.
        cmdline, name, display = tail + ' -ProgramName "Foo -DisplayName Bar', "Foo -DisplayName Bar", None
    elif case == "long-value":
        cmdline, name, display = tail + " -ProgramName Foo -DisplayName " + LONG, "Foo", LONG
    elif case == "non-latin":
        cmdline, name, display = tail + ' -ProgramName "Grüße 日本"', "Grüße 日本", None
    else:
        cmdline, name, display = tail + ' \t"" -ProgramName Foo ""', "Foo", None
    display = display or name
    r = client.run(cmdline=cmdline, timeout=60)
    assert (r.timed_out, r.exit_code) == (False, ERROR_END)
    log = only_log(r)
    assert log.program == name
    assert_well_formed(log, r)
    if case == "long-value":
        assert [len(log.lines[i].raw) for i in (1, 3)] == [8191, 8191]
    expect = start_lines(name, display, "1.2.3", "20240101", 1033)
    assert [(l.level, body(l)) for l in log.lines[:8]] == [(lv, cut(l, t)) for l, (lv, t) in zip(log.lines, expect)]
    [start] = log.find("StartParameter: ")
    assert body(start) == cut(start, "StartParameter: " + r.cmdline)
    assert exit_code_lines(log) == [f"ExitCode {ERROR_END}"]


def body(line):
    """The message as written: the 8-bit bytes after the thread id."""
    return line.raw.split(b"] ", 1)[1]


def cut(line, text):
    """text as the log writes it: characters above U+00FF as "?", the line at most 8191 bytes."""
    head = len(line.raw) - len(body(line))
    return text.encode("latin-1", errors="replace")[:8191 - head]


@pytest.mark.parametrize("blocked", [wine.LOG_SUBDIR[0:1], wine.LOG_SUBDIR], ids=["maker-dir", "log-dir"])
def test_unwritable_log_directory_leaves_no_log(client, blocked):
    client.clean_logs()
    path = client.prefix.temp_dir.joinpath(*blocked)
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(b"not a directory")
    try:
        r = client.run(ALL_GIVEN + SILENT, timeout=60, clean=False)
        assert (r.timed_out, r.exit_code) == (False, ERROR_END)
        assert path.is_file() and path.read_bytes() == b"not a directory"
        assert not list(client.prefix.temp_dir.rglob("*.log"))
    finally:
        client.clean_logs()


def test_first_token_existing_directory_is_the_install_location(client, tmp_path):
    product = tmp_path / "Old Product"
    product.mkdir()
    (product / "VersionInfo.txt").write_bytes(b"Bar\r\n2.0\r\n1031\r\n{B4B0}\r\n")
    r = client.run([client.prefix.win_path(product)] + SILENT, timeout=60)
    assert (r.timed_out, r.exit_code) == (False, ERROR_END)
    log = r.log("Bar")
    # Discovery found the product in its directory; no install date is looked up then.
    assert [(l.level, l.text) for l in log.lines[:8]] == start_lines("Bar", "Bar", "2.0", "", 1031)


def test_first_token_unknown_word_leaves_directory_in_current_directory(client, tmp_path):
    cwd = tmp_path / "cwd"
    cwd.mkdir()
    r = client.run(["NewFolderWord"] + ALL_GIVEN + SILENT, cwd=cwd, timeout=60)
    assert (r.timed_out, r.exit_code) == (False, ERROR_END)
    assert [p.name for p in cwd.iterdir()] == ["NewFolderWord"]
    assert (cwd / "NewFolderWord").is_dir() and not list((cwd / "NewFolderWord").iterdir())
    assert r.log("Foo").lines[1].text == "Foo(Foo Bar) Uptide v9.0.8 started"
