"""Drives a Wine prefix for the end-to-end tests: Xvfb, wineserver, registry,
the wine-probe helper, the client runner, log files, screenshots, xdotool.

Everything here uses the standard library only. All Wine runs carry a timeout.
"""
import datetime
import json
import os
import re
import select
import shutil
import signal
import subprocess
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
WINE64 = "/usr/lib/wine/wine64"
WINESERVER = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
PROBE_SOURCE = REPO / "tools" / "wine-probe" / "wine-probe.cpp"
MINGW_CXX = "x86_64-w64-mingw32-g++-posix"
WINE_FONTS = Path("/usr/share/wine/fonts")
LOCALE_DIR = REPO / "build" / "locale"

SETTINGS_KEY = r"Software\Brindle\Brindle Uptide"
HKCU_SETTINGS = "HKCU\\" + SETTINGS_KEY
HKLM_SETTINGS = "HKLM\\" + SETTINGS_KEY
CLIENT_WIN_DIR = r"C:\Program Files\Brindle\BRUptide"
LOG_SUBDIR = ("ZI Vodidure", "BR Uptide")

REG_TYPES = {"REG_NONE": 0, "REG_SZ": 1, "REG_EXPAND_SZ": 2, "REG_BINARY": 3, "REG_DWORD": 4,
             "REG_DWORD_BIG_ENDIAN": 5, "REG_LINK": 6, "REG_MULTI_SZ": 7, "REG_QWORD": 11}
REG_NAMES = {v: k for k, v in REG_TYPES.items()}


# Now and then (about one start in a thousand, more under load, often several at once) wine64
# ends with exit 1 before the program ran, silently or with "ShellExecuteEx failed: File not found"
# (and Wine's own messages on stderr when WINEDEBUG lets them through). Such a start is repeated
# after a pause. wine-probe always ends its output with "#rc N", so for it a missing line is proof.
WINE_START_ATTEMPTS = 4


def wine_start_pause(attempt):
    """Seconds before the next attempt: 0.5, 1, 2."""
    return 0.5 * 2 ** attempt


def wine_start_failed(returncode, output):
    return returncode == 1 and (not output.strip() or b"ShellExecuteEx failed" in output)


def probe_start_failed(returncode, stdout):
    return returncode == 1 and probe_output(stdout)[1] is None


def probe_output(data):
    """wine-probe's output without its closing "#rc N" lines, and that N (None when missing)."""
    rc = None
    kept = []
    for line in data.decode("utf-8", errors="replace").splitlines(keepends=True):
        m = re.fullmatch(r"#rc (-?\d+)\s*", line)
        if m:
            rc = int(m.group(1))
        else:
            kept.append(line)
    return "".join(kept), rc


class WineError(RuntimeError):
    pass


# ---------------------------------------------------------------- processes

def run(cmd, env, timeout, check=True, input=None):
    """Runs a command in its own process group; kills the group on timeout.

    Output goes through files, not pipes: Wine starts its background services
    (services.exe, explorer.exe, ...) from whichever program comes first, and
    they inherit that program's output handles, so a pipe would see no end."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        stdin = subprocess.DEVNULL
        if input is not None:
            inf = tempfile.TemporaryFile()
            inf.write(input)
            inf.seek(0)
            stdin = inf
        p = subprocess.Popen(cmd, env=env, stdin=stdin, stdout=out, stderr=err, start_new_session=True)
        try:
            p.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            _kill_group(p)
            p.wait()
            err.seek(0)
            raise WineError(f"timed out after {timeout}s: {cmd!r}\n{err.read().decode(errors='replace')}")
        out.seek(0)
        err.seek(0)
        r = subprocess.CompletedProcess(cmd, p.returncode, out.read(), err.read())
    if check and r.returncode != 0:
        raise WineError(f"exit {r.returncode}: {cmd!r}\n{r.stdout.decode(errors='replace')}"
                        f"{r.stderr.decode(errors='replace')}")
    return r


def _kill_group(p):
    try:
        os.killpg(p.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def quote_arg(a):
    """Quotes one argument by the Windows argument rules (the inverse of CommandLineToArgvW)."""
    if a and not re.search(r'[ \t"]', a):
        return a
    out, slashes = ['"'], 0
    for c in a:
        if c == "\\":
            slashes += 1
            continue
        if c == '"':
            out.append("\\" * (slashes * 2 + 1))
        else:
            out.append("\\" * slashes)
        slashes = 0
        out.append(c)
    out.append("\\" * (slashes * 2))
    out.append('"')
    return "".join(out)


def build_probe(out_dir):
    """wine-probe.exe: the CMake-built one when it is current, else compiled here."""
    built = Path(os.environ.get("BRUT_WIN64_DIR", REPO / "build" / "win64")) / "tools" / "wine-probe" / "wine-probe.exe"
    if built.exists() and built.stat().st_mtime >= PROBE_SOURCE.stat().st_mtime:
        return built
    cached = Path(out_dir) / "wine-probe.exe"
    if cached.exists() and cached.stat().st_mtime >= PROBE_SOURCE.stat().st_mtime:
        return cached
    cached.parent.mkdir(parents=True, exist_ok=True)
    tmp = cached.with_name(f"wine-probe.{os.getpid()}.tmp.exe")
    run([MINGW_CXX, "-std=c++17", "-O2", "-DUNICODE", "-D_UNICODE", "-DWIN32_LEAN_AND_MEAN", "-DNOMINMAX",
         "-D_WIN32_WINNT=0x0601", "-municode", "-static", "-static-libgcc", "-static-libstdc++", "-s",
         "-o", str(tmp), str(PROBE_SOURCE), "-luser32", "-lgdi32", "-ladvapi32"], env=os.environ.copy(), timeout=300)
    tmp.replace(cached)
    return cached


# ---------------------------------------------------------------- display

class Xvfb:
    def __init__(self, width=1024, height=768):
        r, w = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-screen", "0", f"{width}x{height}x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(w)
        buf = b""
        deadline = time.monotonic() + 20
        try:
            while not buf.endswith(b"\n"):
                if time.monotonic() > deadline or self.proc.poll() is not None:
                    raise WineError("Xvfb did not report a display")
                chunk = _read_with_timeout(r, deadline - time.monotonic())
                if not chunk:
                    raise WineError("Xvfb closed its display pipe")
                buf += chunk
        except BaseException:
            self.stop()
            raise
        finally:
            os.close(r)
        self.display = ":" + buf.decode().strip()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


def _read_with_timeout(fd, timeout):
    ready, _, _ = select.select([fd], [], [], max(timeout, 0))
    return os.read(fd, 64) if ready else b""


# ---------------------------------------------------------------- registry values

class RegValue:
    def __init__(self, type_, data):
        self.type = type_
        self.data = data

    @property
    def type_name(self):
        return REG_NAMES.get(self.type, str(self.type))

    @property
    def text(self):
        """The UTF-16 text with at most one terminating zero removed."""
        t = self.data.decode("utf-16-le", errors="surrogatepass")
        return t[:-1] if t.endswith("\0") else t

    @property
    def number(self):
        return int.from_bytes(self.data, "little", signed=False)

    def __repr__(self):
        return f"RegValue({self.type_name}, {self.data!r})"


class RegKey:
    def __init__(self, exists, values=None, subkeys=None):
        self.exists = exists
        self.values = values or {}
        self.subkeys = subkeys or []

    def __contains__(self, name):
        return name in self.values

    def __getitem__(self, name):
        return self.values[name]

    def __repr__(self):
        return f"RegKey(exists={self.exists}, values={self.values}, subkeys={self.subkeys})"


def encode_value(value, type_):
    if isinstance(value, bytes):
        return value
    if type_ in ("REG_SZ", "REG_EXPAND_SZ"):
        return value.encode("utf-16-le")
    if type_ == "REG_MULTI_SZ":
        return "".join(s + "\0" for s in value).encode("utf-16-le") + b"\0\0"
    if type_ == "REG_DWORD":
        return (value & 0xFFFFFFFF).to_bytes(4, "little")
    if type_ == "REG_QWORD":
        return (value & 0xFFFFFFFFFFFFFFFF).to_bytes(8, "little")
    raise ValueError(f"give bytes for {type_}")


# ---------------------------------------------------------------- log files

LOG_LINE = re.compile(
    rb"(\d{2})\.(\d{2})\.(\d{4}) (\d{2}):(\d{2}):(\d{2}):(\d{3}) "
    rb"(off|CRI|ERR|WAR|INF|AUD|DB[1-4]|RS[1-9A]|ALW|TRM): BRUT:\[08(0|[1-9a-f][0-9a-f]*)\] (.*)", re.S)
LOG_NAME = re.compile(r"(\d{14})_(.*)\.log")


class LogLine:
    def __init__(self, raw):
        self.raw = raw
        m = LOG_LINE.fullmatch(raw)
        self.ok = m is not None
        if m:
            d, mo, y, h, mi, s, ms = (int(x) for x in m.groups()[:7])
            self.time = datetime.datetime(y, mo, d, h, mi, s, ms * 1000)
            self.level = m.group(8).decode()
            self.tid = int(m.group(9), 16)
            self.text = m.group(10).decode("latin-1")

    def __repr__(self):
        return f"LogLine({self.raw!r})"


class LogFile:
    def __init__(self, path):
        self.path = Path(path)
        self.name = self.path.name
        m = LOG_NAME.fullmatch(self.name)
        self.stamp = m.group(1) if m else None
        self.program = m.group(2) if m else None
        self.data = self.path.read_bytes()
        body = self.data[:-2] if self.data.endswith(b"\r\n") else self.data
        self.lines = [LogLine(r) for r in body.split(b"\r\n")] if body else []

    @property
    def texts(self):
        return [l.text for l in self.lines if l.ok]

    def find(self, prefix):
        """Lines whose text starts with prefix."""
        return [l for l in self.lines if l.ok and l.text.startswith(prefix)]

    def __repr__(self):
        return f"LogFile({self.name!r}, {len(self.lines)} lines)"


# ---------------------------------------------------------------- the prefix

class WinePrefix:
    """One prepared Wine prefix with its own warm wineserver."""

    def __init__(self, path, display, workdir, probe, locale_dir=None):
        self.path = Path(path)
        self.display = display
        self.workdir = Path(workdir)
        self.probe_exe = Path(probe)
        self.locale_dir = locale_dir
        self.env = base_env(self.path, display)
        self._counter = 0
        self.temp_win = None

    # --- set-up

    def boot(self):
        self.path.mkdir(parents=True, exist_ok=True)
        self.start_server()
        run([WINE64, "wineboot", "-i"], self.env, timeout=180)
        self.reg_add(r"HKCU\Software\Wine\X11 Driver", "Managed", "REG_SZ", "N")
        fonts = self.path / "drive_c" / "windows" / "Fonts"
        fonts.mkdir(parents=True, exist_ok=True)
        for f in ("tahoma.ttf", "tahomabd.ttf", "marlett.ttf"):
            if (WINE_FONTS / f).exists():
                shutil.copy2(WINE_FONTS / f, fonts / f)
        if _font_installed("ipagp.ttf"):
            self.reg_add(r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink", "Tahoma",
                         "REG_MULTI_SZ", ["ipagp.ttf,IPAPGothic"])
        self.flush()
        self.start_server()
        self.load_facts()

    def load_facts(self):
        facts = self.facts()
        self.temp_win = facts["temp"]

    def _server(self, *args, timeout=30):
        # wineserver forks a daemon that keeps any pipe it inherits: give it none.
        subprocess.run([WINESERVER, *args], env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=timeout, check=False)

    def start_server(self, persist=60):
        """Starts (or keeps) a wineserver that stays persist seconds after its last client."""
        self._server(f"-p{persist}")

    def flush(self):
        """Ends the wineserver so that the registry reaches the disk."""
        self._server("-k")
        self._server("-w", timeout=60)

    def kill(self):
        try:
            self.flush()
        except subprocess.TimeoutExpired:
            pass

    def clone(self, dest, registry_snapshot):
        """A copy of this prefix with the registry of the snapshot and an empty TEMP."""
        shutil.copytree(self.path, dest, symlinks=True)
        for name, data in registry_snapshot.items():
            (Path(dest) / name).write_bytes(data)
        # Its own work folder: run folders are numbered per prefix.
        workdir = Path(dest) / "brut-work"
        workdir.mkdir()
        p = WinePrefix(dest, self.display, workdir, self.probe_exe, self.locale_dir)
        p.temp_win = self.temp_win
        temp = p.unix_path(self.temp_win)
        if temp.exists():
            shutil.rmtree(temp)
        temp.mkdir(parents=True)
        p.start_server()
        return p

    def registry_files(self):
        return {n: (self.path / n).read_bytes() for n in ("system.reg", "user.reg", "userdef.reg")
                if (self.path / n).exists()}

    # --- paths

    def unix_path(self, win):
        win = win.replace("/", "\\")
        drive, rest = win[0].lower(), win[2:].strip("\\")
        parts = [p for p in rest.split("\\") if p]
        base = Path("/") if drive == "z" else self.path / "dosdevices" / f"{drive}:"
        return base.joinpath(*parts) if parts else base

    def win_path(self, unix):
        unix = Path(unix).resolve()
        drive_c = (self.path / "drive_c").resolve()
        try:
            return "C:\\" + "\\".join(unix.relative_to(drive_c).parts)
        except ValueError:
            return "Z:" + str(unix).replace("/", "\\")

    @property
    def temp_dir(self):
        return self.unix_path(self.temp_win)

    @property
    def log_dir(self):
        return self.temp_dir.joinpath(*LOG_SUBDIR)

    def new_workdir(self, label):
        self._counter += 1
        d = self.workdir / f"{self._counter:03d}-{label}"
        d.mkdir(parents=True)
        return d

    # --- running programs

    def wine(self, args, timeout=60, env=None, check=True, start_failed=None):
        """Runs a Wine program; a start that Wine failed is repeated. Without start_failed, a silent
        exit 1 counts as such: programs run here (reg, regedit, msiexec) say why when they fail."""
        start_failed = start_failed or (lambda r: wine_start_failed(r.returncode, r.stdout + r.stderr))
        for attempt in range(WINE_START_ATTEMPTS):
            r = run([WINE64, *args], self.merged_env(env), timeout=timeout, check=False)
            if not start_failed(r) or attempt + 1 == WINE_START_ATTEMPTS:
                break
            time.sleep(wine_start_pause(attempt))
        if check and r.returncode != 0:
            raise WineError(f"exit {r.returncode}: {[WINE64, *args]!r}\n{r.stdout.decode(errors='replace')}"
                            f"{r.stderr.decode(errors='replace')}")
        return r

    def merged_env(self, extra):
        env = dict(self.env)
        for k, v in (extra or {}).items():
            if v is None:
                env.pop(k, None)
            else:
                env[k] = v
        return env

    def probe(self, *args, timeout=30, env=None, check=True):
        r = self.wine([str(self.probe_exe), *args], timeout=timeout, env=env, check=False,
                      start_failed=lambda r: probe_start_failed(r.returncode, r.stdout))
        out, rc = probe_output(r.stdout)
        if rc is None:
            rc = r.returncode
        if check and rc != 0:
            raise WineError(f"wine-probe {args!r} exit {rc}: {out}{r.stderr.decode('utf-8', errors='replace')}")
        return rc, out

    def facts(self, env=None):
        return json.loads(self.probe("facts", env=env)[1])

    def windows(self, pid=None, visible=None):
        wins = json.loads(self.probe("windows")[1])
        return [w for w in wins if (pid is None or w["pid"] == pid) and (visible is None or w["visible"] == visible)]

    def wait_window(self, title, timeout=20, gone=False):
        """Waits for a visible top-level window of that title (or for none); returns its handle."""
        args = ["wait", title, str(int(timeout * 1000))] + (["gone"] if gone else [])
        rc, out = self.probe(*args, timeout=timeout + 30, check=False)
        if rc != 0:
            raise WineError(f"window {title!r} {'still there' if gone else 'not shown'} after {timeout}s")
        return out.strip().strip('"')

    def controls(self, title):
        rc, out = self.probe("controls", title, check=False)
        if rc != 0:
            raise WineError(f"no window {title!r}")
        return json.loads(out)

    def click(self, title, control):
        self.probe("click", title, str(control))

    def answer(self, title, button):
        """Clicks a button of a dialog box (a message box) found by its caption."""
        self.probe("answer", title, button)

    def close(self, title):
        self.probe("close", title)

    def rect(self, title):
        return json.loads(self.probe("rect", title)[1])

    def kill_pid(self, pid):
        self.probe("kill", str(pid), check=False)

    # --- registry (64-bit view)

    def reg_add(self, key, name, type_, data):
        """reg.exe add: for plain values with text the command line can carry."""
        if type_ == "REG_MULTI_SZ" and not isinstance(data, str):
            data = "\\0".join(data)
        args = ["reg", "add", key] + (["/ve"] if name == "" else ["/v", name])
        self.wine(args + ["/t", type_, "/d", str(data), "/f", "/reg:64"])

    def reg_set(self, key, name, value, type_="REG_SZ"):
        """Stores exactly these bytes (bytes) or this value encoded for type_; any type, no terminator added."""
        t = REG_TYPES[type_] if isinstance(type_, str) else int(type_)
        data = encode_value(value, type_ if isinstance(type_, str) else "")
        rc, out = self.probe("regset", key, name, str(t), data.hex(), check=False)
        if rc != 0:
            raise WineError(f"regset {key}\\{name}: {out}")

    def reg_delete(self, key, name=None):
        """Deletes a value, or (name None) a key with its whole tree; missing ones are fine."""
        self.probe("regdel", key, *([name] if name is not None else []))

    def reg_read(self, key):
        """The key as the running system sees it (the registry files on disk lag behind)."""
        d = json.loads(self.probe("reg", key)[1])
        if not d["exists"]:
            return RegKey(False)
        values = {v["name"]: RegValue(v["type"], bytes.fromhex(v["data"])) for v in d["values"]}
        return RegKey(True, values, d["subkeys"])

    def reg_import(self, text):
        """regedit /S of a .reg text (REGEDIT4 header added when missing), written as UTF-16LE with BOM."""
        if not text.lstrip().startswith(("Windows Registry Editor", "REGEDIT4")):
            text = "Windows Registry Editor Version 5.00\r\n\r\n" + text
        f = self.workdir / f"import-{time.monotonic_ns()}.reg"
        f.write_bytes(b"\xff\xfe" + text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-16-le"))
        self.wine(["regedit", "/S", self.win_path(f)])

    # --- display

    def screenshot(self, path):
        path = Path(path)
        path.parent.mkdir(parents=True, exist_ok=True)
        run(["import", "-display", self.display, "-window", "root", str(path)], self.env, timeout=30)
        return path

    def xdotool(self, *args, timeout=20, check=True):
        return run(["xdotool", *args], self.env, timeout=timeout, check=check)

    def x_search(self, name, timeout=10):
        """X window ids whose title matches the regular expression name (waits until one exists)."""
        deadline = time.monotonic() + timeout
        while True:
            r = self.xdotool("search", "--name", name, check=False)
            ids = r.stdout.decode().split()
            if ids or time.monotonic() > deadline:
                return ids
            time.sleep(0.1)

    def x_map_watch(self):
        """An XMapWatch on this prefix's display (a context manager)."""
        return XMapWatch(self.display, self.env)

    def x_key(self, window, *keys):
        """Focuses the window and types keys (xdotool key names: Return, Escape, alt+F4, ...)."""
        # A window that was just mapped may refuse the focus for a moment.
        for attempt in range(5):
            try:
                if self.xdotool("windowfocus", "--sync", str(window), timeout=10, check=False).returncode == 0:
                    break
            except WineError:
                if attempt == 4:
                    raise
            time.sleep(0.3)
        self.xdotool("key", "--clearmodifiers", *keys)

    # --- locales

    def locale_env(self, name):
        """Environment for a real system locale: name is de_DE, ja_JP or en_US."""
        locdir = ensure_locale(name, self.locale_dir or self.workdir / "locale")
        return {"LANG": f"{name}.UTF-8", "LOCPATH": str(locdir), "LC_ALL": None}


class XMapWatch:
    """Every top-level X window mapped on the display while it runs, however briefly:
    Wine maps a window's X counterpart exactly when the window becomes visible."""

    def __init__(self, display, env):
        self._out = tempfile.TemporaryFile()
        self._proc = subprocess.Popen(["xev", "-display", display, "-root", "-event", "substructure"],
                                      env=env, stdin=subprocess.DEVNULL, stdout=self._out,
                                      stderr=subprocess.DEVNULL, start_new_session=True)
        self.maps = None
        # xev says nothing until an event comes: give it time to select its events.
        time.sleep(0.5)
        if self._proc.poll() is not None:
            raise WineError("xev did not start: run scripts/setup")

    def stop(self):
        """Ends the watch; returns the X ids of the windows mapped meanwhile."""
        if self.maps is None:
            time.sleep(0.2)  # let the X server's last events reach xev
            self._proc.terminate()
            self._proc.wait()
            self._out.seek(0)
            text = self._out.read().decode("latin-1")
            self._out.close()
            self.maps = re.findall(r"^MapNotify event.*\n.*window (0x[0-9a-f]+)", text, re.M)
        return self.maps

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()


def _font_installed(name):
    for root in ("/usr/share/fonts", "/usr/local/share/fonts"):
        for dirpath, _, files in os.walk(root):
            if name in files:
                return True
    return False


def ensure_locale(name, fallback_dir):
    """The compiled locale directory: scripts/setup's, else one compiled here."""
    if (LOCALE_DIR / f"{name}.UTF-8").is_dir():
        return LOCALE_DIR
    fallback_dir = Path(fallback_dir)
    if not (fallback_dir / f"{name}.UTF-8").is_dir():
        fallback_dir.mkdir(parents=True, exist_ok=True)
        run(["localedef", "-i", name, "-f", "UTF-8", str(fallback_dir / f"{name}.UTF-8")], os.environ.copy(),
            timeout=120, check=False)
        if not (fallback_dir / f"{name}.UTF-8").is_dir():
            raise WineError(f"locale {name} cannot be compiled")
    return fallback_dir


def base_env(prefix, display):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith(("WINE", "LC_", "LANG", "LOCPATH", "DISPLAY", "TZ"))}
    env.update({
        "WINEPREFIX": str(prefix),
        "WINEARCH": "win64",
        "WINEDEBUG": "-all",
        # No Mono or Gecko installer, no desktop menu entries.
        "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
        "DISPLAY": display,
        "LANG": "C.UTF-8",
        # Log times and stamps are local time: UTC keeps them comparable with the host clock.
        "TZ": "UTC",
    })
    return env


# ---------------------------------------------------------------- the client

class ClientResult:
    def __init__(self, exit_code, timed_out, pid, cmdline, logs, elapsed, started, ended, shown=None, watched=None):
        self.exit_code = exit_code
        self.timed_out = timed_out
        self.pid = pid
        self.cmdline = cmdline
        self.logs = logs
        self.elapsed = elapsed
        self.started = started  # UTC, naive
        self.ended = ended
        # Watched runs only: every top-level window of the client that became visible
        # (hwnd, title, class, after_ms), and the watcher's own counts (polls, events).
        self.shown = shown
        self.watched = watched

    def log(self, program):
        """The log file written under that program name (asserts there is exactly one)."""
        hits = [l for l in self.logs.values() if l.program == program]
        assert len(hits) == 1, f"expected one log for {program!r}, found {sorted(self.logs)}"
        return hits[0]

    def __repr__(self):
        return f"ClientResult(exit={self.exit_code}, timeout={self.timed_out}, logs={sorted(self.logs)})"


class ClientProcess:
    """A running client started through wine-probe; the probe reports its pid and then its exit code."""

    def __init__(self, prefix, exe_win, cmdline, timeout, env, cwd_win, watch=False):
        self.prefix = prefix
        self.watch = watch
        self.cmdline = cmdline
        self.timeout = timeout
        self.started = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
        self._t0 = time.monotonic()
        self._work = prefix.new_workdir("run")
        cmdfile = self._work / "cmdline.txt"
        cmdfile.write_bytes((exe_win + "\n" + cmdline + "\n").encode("utf-8"))
        self._argv = [WINE64, str(prefix.probe_exe), "runwatch" if watch else "runfile", str(int(timeout * 1000)),
                      prefix.win_path(cmdfile),
                      cwd_win]
        self._env = prefix.merged_env(env)
        self.attempts = 0
        self._launch()
        self._pid = None
        self._result = None
        # Returns once the program runs, so that a start Wine failed is repeated before a test looks
        # for the program's windows.
        _ = self.pid

    def _launch(self):
        self.attempts += 1
        self._out = self._work / f"probe{self.attempts}.out"
        # Kept apart from the probe's own lines: Wine and the host's loader now and then print there.
        self._err = self._work / f"probe{self.attempts}.err"
        with open(self._out, "wb") as out, open(self._err, "wb") as err:
            self.proc = subprocess.Popen(self._argv, env=self._env, stdin=subprocess.DEVNULL, stdout=out,
                                         stderr=err, start_new_session=True)

    def _relaunched(self):
        """Starts the probe again when Wine failed to start it at all (see probe_start_failed)."""
        rc = self.proc.poll()
        if rc is None or self.attempts >= WINE_START_ATTEMPTS or not probe_start_failed(rc, self._out.read_bytes()):
            return False
        time.sleep(wine_start_pause(self.attempts - 1))
        self._launch()
        return True

    def _lines(self):
        return probe_output(self._out.read_bytes())[0].splitlines()

    def _err_text(self):
        return self._err.read_bytes().decode("utf-8", errors="replace").strip()[-2000:]

    @property
    def pid(self):
        """The client's Windows process id."""
        deadline = time.monotonic() + 30
        while self._pid is None:
            for l in self._lines():
                if l.startswith("pid "):
                    self._pid = int(l[4:])
            if self._pid is None:
                if self._relaunched():
                    continue
                if self.proc.poll() is not None or time.monotonic() > deadline:
                    raise WineError(f"client did not start: {self._lines()} {self._err_text()}")
                time.sleep(0.05)
        return self._pid

    def running(self):
        return self.proc.poll() is None

    def wait(self, timeout=None):
        """Waits for the end; returns a ClientResult with the full exit code and the log files."""
        if self._result:
            return self._result
        limit = (timeout if timeout is not None else self.timeout) + 20
        while True:
            try:
                self.proc.wait(timeout=limit)
            except subprocess.TimeoutExpired:
                self.kill()
                raise WineError(f"wine-probe did not return within {limit}s")
            if not self._relaunched():
                break
        ended = datetime.datetime.now(datetime.timezone.utc).replace(tzinfo=None)
        lines = [l for l in self._lines() if l.strip()]
        if not any(l.startswith("pid ") for l in lines):
            raise WineError(f"client did not start: {lines} {self._err_text()}")
        last = lines[-1].strip()
        if last == "timeout, still running":
            raise WineError("client outlived its timeout and could not be terminated")
        timed_out = last == "timeout"
        if not timed_out and not re.fullmatch(r"-?\d+", last):
            raise WineError(f"wine-probe gave no exit code: {lines} {self._err_text()}")
        code = None if timed_out else int(last)
        shown = [json.loads(l[6:]) for l in lines if l.startswith("shown ")] if self.watch else None
        watched = next((json.loads(l[8:]) for l in lines if l.startswith("watched ")), None) if self.watch else None
        if self.watch and watched is None:
            raise WineError(f"wine-probe did not report its watch: {lines}")
        self._result = ClientResult(code, timed_out, self.pid, self.cmdline, read_logs(self.prefix.log_dir),
                                    time.monotonic() - self._t0, self.started, ended, shown, watched)
        return self._result

    def finish(self, timeout=None, close_after=8.0):
        """Lets the run end by itself; if it still runs after close_after seconds, ends it as a user
        would: closes its windows and answers its message boxes with Yes (or OK)."""
        deadline = time.monotonic() + (timeout if timeout is not None else self.timeout)
        quiet_until = time.monotonic() + close_after
        while self.running() and time.monotonic() < deadline:
            if time.monotonic() >= quiet_until:
                try:
                    self.close_windows()
                except WineError:
                    pass
            time.sleep(0.3)
        return self.wait()

    def close_windows(self):
        pid = self.pid
        for w in self.prefix.windows(pid=pid, visible=True):
            if w["class"] == "IME":
                continue
            handle = "hwnd=" + w["hwnd"]
            ctrls = self.prefix.controls(handle) if w["class"] == "#32770" else []
            button = _box_button(ctrls)
            if button is not None:
                self.prefix.click(handle, button["id"])
            else:
                self.prefix.close(handle)

    def kill(self):
        try:
            self.prefix.kill_pid(self.pid)
        except WineError:
            pass
        _kill_group(self.proc)
        self.proc.wait()


YES_TEXTS = ("yes", "ja", "はい", "ok")


def _box_button(ctrls):
    """The affirmative button of a message box (Wine's box text is the static control 65535)."""
    if not any(c["id"] == 0xFFFF and c["class"].lower() == "static" for c in ctrls):
        return None
    buttons = [c for c in ctrls if c["class"].lower() == "button" and c["visible"]]
    for want in YES_TEXTS:
        for b in buttons:
            if b["text"].replace("&", "").lower().startswith(want):
                return b
    return buttons[0] if buttons else None


def read_logs(log_dir):
    if not Path(log_dir).is_dir():
        return {}
    return {p.name: LogFile(p) for p in sorted(Path(log_dir).iterdir()) if p.is_file() and p.suffix == ".log"}


class Client:
    """BRUptide.exe in one prefix: seeds, runs and reads back."""

    def __init__(self, prefix, exe_win, artifacts, service_url):
        self.prefix = prefix
        self.exe_win = exe_win
        self.artifacts = Path(artifacts)
        self.service_url = service_url
        self._procs = []
        self._shots = 0

    def reset(self):
        """No settings and no log files of an earlier test; the service address points at
        a loopback port that refuses connections, so no run ever reaches the internet."""
        self.prefix.reg_delete(HKCU_SETTINGS)
        self.prefix.reg_delete(HKLM_SETTINGS)
        self.clean_logs()
        self.prefix.reg_set(HKCU_SETTINGS, "DebugUrl_v2", self.service_url)

    def clean_logs(self):
        maker = self.prefix.temp_dir / LOG_SUBDIR[0]
        if maker.is_dir():
            shutil.rmtree(maker)
        elif maker.exists():
            maker.unlink()

    def command_line(self, args=None, cmdline=None):
        """The full command line: the quoted program path, then args quoted by the Windows
        rules, or cmdline verbatim."""
        line = quote_arg(self.exe_win)
        tail = cmdline if cmdline is not None else " ".join(quote_arg(a) for a in (args or []))
        return line + (" " + tail if tail else "")

    def start(self, args=None, cmdline=None, timeout=60, env=None, cwd=None, clean=True, watch=False):
        """watch=True: the probe watches the client's windows the whole run (ClientResult.shown)."""
        if clean:
            self.clean_logs()
        cwd = cwd or self.prefix.new_workdir("cwd")
        p = ClientProcess(self.prefix, self.exe_win, self.command_line(args, cmdline), timeout, env,
                          self.prefix.win_path(cwd), watch)
        self._procs.append(p)
        return p

    def run(self, args=None, cmdline=None, timeout=60, env=None, cwd=None, clean=True, close_after=8.0, watch=False):
        """Runs to the end; a run that still shows windows after close_after seconds is ended
        as a user would end it (see ClientProcess.finish)."""
        return self.start(args, cmdline, timeout, env, cwd, clean, watch).finish(close_after=close_after)

    def screenshot(self, label):
        self._shots += 1
        return self.prefix.screenshot(self.artifacts / f"{self._shots:02d}-{label}.png")

    def stop_all(self):
        for p in self._procs:
            if p.running():
                p.kill()
