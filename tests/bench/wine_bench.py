"""Paired runs of the real client against floor programs under one Wine prefix.

For each job the client and its floors run in turn (A B A B ..., or A B C A B C
... for a job with two floors) against the reference update service, with a warm
wineserver, so that the machine's noise hits all alike. Printed and written to
build/bench/results.json: medians, min/max and the client/floor ratio of wall
time, CPU time and peak memory; for the silent check also where the client's time
goes, from the millisecond stamps of its log.

Usage: tests/bench/wine_bench.py [--pairs N] [--only JOB ...]
"""
import argparse
import json
import os
import shutil
import statistics
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))
import wine  # noqa: E402
from service_fixture import Service  # noqa: E402

WIN64 = Path(os.environ.get("BRUT_WIN64_DIR", wine.REPO / "build" / "win64"))
FLOOR = WIN64 / "tests" / "bench" / "floor"
RESULTS = wine.REPO / "build" / "bench" / "results.json"

UNINSTALL = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
TARGET_DIR = r"C:\Bench\Target"
UNINSTALL_KEYS = 5000
WORKER_BYTES = 20 * 1024 * 1024

CATALOGUE = {
    "worker": {"worker_url": "BRUptideWorker.exe", "ad_viewer_url": None},
    "products": {
        "BenchTool": {"majors": {"6": {"latest": "6.0.3"}}, "major_upgrade": None},
        "BenchWorker": {"majors": {"6": {"latest": "6.0.3"}}, "major_upgrade": None},
    },
    "faults": {},
}


# Runs one program and reports its own resource use. A child's peak memory
# starts at its parent's size when forked, so the measured program is forked
# from this small runner rather than from the driver, which grows over a run.
# The epoch times of the start and the end place the log's stamps in the run.
RUNNER = r"""
import json, os, sys, time
e0 = time.time()
t0 = time.monotonic()
pid = os.fork()
if pid == 0:
    fd = os.open(os.devnull, os.O_RDWR)
    for i in (0, 1, 2):
        os.dup2(fd, i)
    os.execv(sys.argv[1], sys.argv[1:])
_, status, usage = os.wait4(pid, 0)
e1 = time.time()
print(json.dumps([time.monotonic() - t0, usage.ru_utime + usage.ru_stime, usage.ru_maxrss,
                  os.waitstatus_to_exitcode(status), e0, e1]))
"""


def measure(prefix, args, timeout=300):
    """Runs one Wine program to its end: (wall s, cpu s, peak MiB, exit code, epoch start, epoch end)."""
    r = wine.run([sys.executable, "-S", "-c", RUNNER, wine.WINE64, *args], prefix.merged_env(None), timeout)
    wall, cpu, peak_kib, code, start, end = json.loads(r.stdout.decode().strip().splitlines()[-1])
    return wall, cpu, peak_kib / 1024.0, code, start, end


def paired(prefix, name, client, floors, pairs, before=None, after=None):
    """Runs the client and each floor in turn, so every floor is paired with the same
    client runs. `floors` is a list of (key, label, args); the first one's key is
    "floor" and its ratios are also kept at the top (the layout of earlier results).
    `before(kind)` prepares every single run; `after(kind, result)` sees every
    measured one."""
    order = [("client", client)] + [(key, args) for key, _, args in floors]
    runs = {kind: [] for kind, _ in order}
    for i in range(pairs + 1):
        for kind, args in order:
            if before:
                before(kind)
            r = measure(prefix, args)
            if i:  # the first round only warms caches
                runs[kind].append(r)
                if after:
                    after(kind, r)
    summary = {"job": name, "pairs": pairs}
    for kind, rs in runs.items():
        codes = sorted({r[3] for r in rs})
        summary[kind] = {
            "wall_s": statistics.median(r[0] for r in rs), "wall_min_s": min(r[0] for r in rs),
            "wall_max_s": max(r[0] for r in rs), "cpu_s": statistics.median(r[1] for r in rs),
            "peak_mib": statistics.median(r[2] for r in rs), "exit_codes": codes,
        }
    for key, label, _ in floors:
        summary[key]["label"] = label
        for k in ("wall_s", "cpu_s", "peak_mib"):
            f = summary[key][k]
            summary[key]["ratio_" + k.split("_")[0]] = round(summary["client"][k] / f, 3) if f else None
    for k in ("ratio_wall", "ratio_cpu", "ratio_peak"):
        summary[k] = summary["floor"][k]
    return summary


# Where the client's silent check spends its time: milestones found in its log, in
# order. A milestone is the first line (from the one before it on) that matches; the
# first log line is the earliest stamp, as lines held before the log file opened
# are written after it.
CHECK_MILESTONES = [
    ("first log line", None),
    ('"StartParameter"', lambda line, ui: line.text.startswith("StartParameter:")),
    ("check thread's first line", lambda line, ui: line.tid != ui),
    ("request starts", lambda line, ui: line.text.startswith("url to Webserver:")),
    ("reply read", lambda line, ui: line.text.startswith("/QuickCheck result =")),
    ('"ExitCode"', lambda line, ui: line.text.startswith("ExitCode ")),
]
# The steps floor_dialog stamps, in the order of its stamp file.
DESIGN_FLOOR_STEPS = ["wWinMain entered", "check thread's first step", "request starts", "reply read",
                      "message loop left"]


def log_time(line):
    """A log stamp as epoch seconds: the client writes local time, as Wine has it from the host."""
    return line.time.timestamp()


def client_milestones(log):
    """Epoch seconds of each of CHECK_MILESTONES in one client log, or None when one is missing."""
    lines = [l for l in log.lines if l.ok]
    ui = next((l.tid for l in lines if l.text.startswith("StartParameter:")), None)
    if ui is None:
        return None
    stamps = [min(log_time(l) for l in lines)]
    at = 0
    for _, matches in CHECK_MILESTONES[1:]:
        found = next((i for i in range(at, len(lines)) if matches(lines[i], ui)), None)
        if found is None:
            return None
        stamps.append(log_time(lines[found]))
        at = found
    return stamps


def floor_milestones(path):
    """Epoch seconds of DESIGN_FLOOR_STEPS from floor_dialog's stamp file (FILETIME units)."""
    try:
        values = [int(v) for v in path.read_text().split()]
    except (OSError, ValueError):
        return None
    if len(values) != len(DESIGN_FLOOR_STEPS) or not all(values):
        return None
    return [v / 1e7 - 11644473600 for v in values]


def summarize_timeline(names, runs):
    """runs: (epoch start, milestone stamps or None, epoch end) per run. For each step from the
    process start through the milestones to the process end: the median, min and max of the
    segment before it and the median time since the process start, in ms."""
    complete = [[start, *stamps, end] for start, stamps, end in runs if stamps]
    out = {"runs": len(runs), "complete": len(complete), "steps": []}
    for i, name in enumerate([*names, "process end"], start=1):
        seg = [(t[i] - t[i - 1]) * 1000.0 for t in complete]
        at = [(t[i] - t[0]) * 1000.0 for t in complete]
        out["steps"].append({
            "step": name,
            "segment_median_ms": round(statistics.median(seg), 1) if seg else None,
            "segment_min_ms": round(min(seg), 1) if seg else None,
            "segment_max_ms": round(max(seg), 1) if seg else None,
            "since_start_median_ms": round(statistics.median(at), 1) if at else None,
        })
    return out


def setup(work, display):
    probe = wine.build_probe(wine.REPO / "build" / "e2e-tools")
    prefix = wine.WinePrefix(work / "prefix", display, work / "runs", probe)
    (work / "runs").mkdir()
    prefix.boot()
    return prefix


def url_encode(text):
    """The client's form encoding: letters and digits stay, a blank is "+", the rest "%" + lower-case hex."""
    return "".join(c if c.isascii() and c.isalnum() else "+" if c == " " else "%%%02x" % ord(c) for c in text)


def learned_post(prefix, service, method, argument, name):
    """A body file holding the client's last `method` document, as the client posts it."""
    doc = [r for r in service.records() if r.get("method") == method][-1]["document"]
    body = prefix.workdir / name
    body.write_bytes((argument + "=" + url_encode(url_encode(doc))).encode("ascii"))
    return [service.url() + "BRUTWebservice.asmx/" + method, prefix.win_path(body)]


def job_silent_check(prefix, service, pairs):
    """The silent check against two floors: the least a Windows program needs
    (floor_check) and the design's own (floor_dialog: the client's resources,
    template 103 hidden, one thread for the adapters and the POST, a message loop)."""
    args = ["-QuickCheck", "-UpdateCheckSilent", "-UpdateSilent", "-ProgramName", "BenchTool", "-DisplayName",
            "Bench Tool", "-ProgramVersion", "6.0.3", "-InstalledLocation", TARGET_DIR, "-Language", "1033"]
    client = [str(WIN64 / "BRUptide.exe"), *args]
    measure(prefix, client)  # one run to learn the request document
    post = learned_post(prefix, service, "QuickCheck", "QuickCheckXML", "check.body")
    floors = [("floor", "least floor (floor_check)", [str(FLOOR / "floor_check.exe"), *post]),
              ("design_floor", "design floor (floor_dialog)", [str(FLOOR / "floor_dialog.exe"), *post])]
    log_dir = prefix.log_dir
    stamped = [*floors[1][2], prefix.win_path(prefix.workdir / "floor.stamps")]
    client_runs, floor_runs = [], []

    def before(kind):
        # One log per client run: the run's stamps are read from it afterwards.
        if kind == "client" and log_dir.is_dir():
            for p in log_dir.glob("*.log"):
                p.unlink()

    def after(kind, r):
        if kind == "client":
            logs = list(wine.read_logs(log_dir).values())
            client_runs.append((r[4], client_milestones(logs[0]) if len(logs) == 1 else None, r[5]))
        elif kind == "design_floor":
            # The floor's steps from a run of its own beside the timed one, which writes no file.
            stamps = prefix.workdir / "floor.stamps"
            stamps.unlink(missing_ok=True)
            s = measure(prefix, stamped)
            floor_runs.append((s[4], floor_milestones(stamps), s[5]))

    summary = paired(prefix, "silent check", client, floors, pairs, before, after)
    summary["client_timeline"] = summarize_timeline([n for n, _ in CHECK_MILESTONES], client_runs)
    summary["design_floor_timeline"] = summarize_timeline(DESIGN_FLOOR_STEPS, floor_runs)
    return summary


def job_discovery(prefix, service, pairs):
    lines = []
    for i in range(UNINSTALL_KEYS):
        lines.append(f"[{UNINSTALL}\\BenchEntry{i:05d}]")
        lines.append(f'"DisplayName"="Other Product {i}"')
        lines.append('"DisplayVersion"="1.0.0"')
        lines.append('"InstallDate"="20200101"')
        lines.append(f'"InstallLocation"="C:\\\\Other\\\\{i}\\\\"')
        lines.append("")
    lines.append(f"[{UNINSTALL}\\BenchEntryTarget]")
    lines += ['"DisplayName"="Bench Target"', '"DisplayVersion"="2.0.0"', '"InstallDate"="20240101"',
              f'"InstallLocation"="{TARGET_DIR.replace(chr(92), chr(92) * 2)}"', '"Language"=dword:00000409', ""]
    prefix.reg_import("\r\n".join(lines))
    # A check done an hour ago: the runs below discover and stop at the interval gate.
    prefix.reg_add(r"HKLM\Software\Brindle\Brindle Uptide\Bench Target\2.0.0", "LastUpdateCheck", "REG_SZ",
                   str(int(time.time()) - 3600))
    client = [str(WIN64 / "BRUptide.exe"), "-QuickCheck", "-UpdateCheckSilent", "-UpdateSilent",
              "-InstalledLocation", TARGET_DIR, "-UpdateIntervalInHours", "24"]
    floor = [("floor", "floor_uninstall", [str(FLOOR / "floor_uninstall.exe"), TARGET_DIR])]
    return paired(prefix, f"discovery over {UNINSTALL_KEYS} uninstall entries", client, floor, pairs)


def job_download(prefix, service, pairs, urlmon=False):
    """A silent update: the check, the 20 MB worker downloaded, started and waited for.

    The floor does the same steps with nothing around them (common controls, a hidden
    dialog, the POST, a WinINet fetch, CreateProcess); fetching alone would leave the
    client's check and hand-off against nothing."""
    files = service.work / "files"
    worker = files / "BRUptideWorker.exe"
    shutil.copy2(WIN64 / "tools" / "test-worker" / "BRUptideWorker.exe", worker)
    with open(worker, "ab") as f:  # an overlay after the image: the program still runs
        f.write(b"\0" * (WORKER_BYTES - worker.stat().st_size))
    workdir = prefix.unix_path(prefix.temp_win) / "bench-download"
    workdir.mkdir(parents=True, exist_ok=True)
    client = [str(WIN64 / "BRUptide.exe"), "-UpdateSilent", "-UpdateCheckSilent", "-ProgramName", "BenchWorker",
              "-DisplayName", "Bench Worker", "-ProgramVersion", "6.0.0", "-InstalledLocation", TARGET_DIR,
              "-Language", "1033"]
    measure(prefix, client)  # one run to learn the check and report documents
    target = prefix.win_path(workdir / "BRUptideWorker.exe")
    floor = [("floor", "floor_download", [str(FLOOR / "floor_download.exe"), *(["-urlmon"] if urlmon else []),
                                          service.url() + "files/BRUptideWorker.exe", target,
                                          *learned_post(prefix, service, "QuickCheck", "QuickCheckXML",
                                                        "update-check.body")])]
    name = "silent update: check, 20 MB worker download, worker run"
    return paired(prefix, name + (" (floor fetching with URLDownloadToFileW)" if urlmon else ""), client, floor, pairs)


def job_download_urlmon(prefix, service, pairs):
    return job_download(prefix, service, pairs, urlmon=True)


JOBS = {"check": job_silent_check, "discovery": job_discovery, "download": job_download,
        "download-urlmon": job_download_urlmon}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--pairs", type=int, default=15)
    ap.add_argument("--only", nargs="*", choices=sorted(JOBS))
    opts = ap.parse_args()
    work = Path(tempfile.mkdtemp(prefix="brut-bench-"))
    x = wine.Xvfb()
    service = None
    prefix = None
    results = []
    try:
        prefix = setup(work, x.display)
        service = Service(work / "service", CATALOGUE)
        prefix.reg_set(wine.HKCU_SETTINGS, "DebugUrl_v2", service.url())
        prefix.start_server(persist=600)
        for name in opts.only or list(JOBS):
            r = JOBS[name](prefix, service, opts.pairs)
            results.append(r)
            print(format_row(r), flush=True)
    finally:
        if service:
            service.stop()
        if prefix:
            prefix.kill()
        x.stop()
        shutil.rmtree(work, ignore_errors=True)
    RESULTS.parent.mkdir(parents=True, exist_ok=True)
    RESULTS.write_text(json.dumps({"time": time.strftime("%Y-%m-%d %H:%M:%S"), "results": results}, indent=2))
    print(f"written to {RESULTS}")


def format_row(r):
    def runs(x):
        return (f"{x['wall_s']:.3f}s (min {x['wall_min_s']:.3f}, max {x['wall_max_s']:.3f}) cpu {x['cpu_s']:.3f}s "
                f"peak {x['peak_mib']:.1f} MiB, exit codes {x['exit_codes']}")
    out = [f"{r['job']} ({r['pairs']} pairs): client {runs(r['client'])}"]
    for key in ("floor", "design_floor"):
        if key in r:
            f = r[key]
            out.append(f"  {f['label']}: {runs(f)} | ratio wall {f['ratio_wall']} cpu {f['ratio_cpu']} "
                       f"peak {f['ratio_peak']}")
    for key, who in (("client_timeline", "the client (its log)"),
                     ("design_floor_timeline", "the design floor (its stamps, untimed runs)")):
        t = r.get(key)
        if not t:
            continue
        out.append(f"  where the time goes in {who}: ms, medians of the {t['complete']} of {t['runs']} runs "
                   f"with every step; segment (min-max), then since the process start")
        for st in t["steps"]:
            if st["segment_median_ms"] is not None:
                out.append(f"    -> {st['step']:<28} {st['segment_median_ms']:7.1f} "
                           f"({st['segment_min_ms']:.1f}-{st['segment_max_ms']:.1f})".ljust(60)
                           + f"{st['since_start_median_ms']:7.1f}")
    return "\n".join(out)


if __name__ == "__main__":
    main()
