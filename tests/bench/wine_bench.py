"""Paired runs of the real client against floor programs under one Wine prefix.

For each job the client and its floor run alternately (A B A B ...) against the
reference update service, with a warm wineserver, so that the machine's noise
hits both alike. Printed and written to build/bench/results.json: medians,
min/max and the client/floor ratio of wall time, CPU time and peak memory.

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
RUNNER = r"""
import json, os, sys, time
t0 = time.monotonic()
pid = os.fork()
if pid == 0:
    fd = os.open(os.devnull, os.O_RDWR)
    for i in (0, 1, 2):
        os.dup2(fd, i)
    os.execv(sys.argv[1], sys.argv[1:])
_, status, usage = os.wait4(pid, 0)
print(json.dumps([time.monotonic() - t0, usage.ru_utime + usage.ru_stime, usage.ru_maxrss,
                  os.waitstatus_to_exitcode(status)]))
"""


def measure(prefix, args, timeout=300):
    """Runs one Wine program to its end: (wall s, cpu s, peak MiB, exit code)."""
    r = wine.run([sys.executable, "-S", "-c", RUNNER, wine.WINE64, *args], prefix.merged_env(None), timeout)
    wall, cpu, peak_kib, code = json.loads(r.stdout.decode().strip().splitlines()[-1])
    return wall, cpu, peak_kib / 1024.0, code


def paired(prefix, name, client, floor, pairs, before=None):
    """Runs client and floor alternately; `before` prepares every single run."""
    runs = {"client": [], "floor": []}
    for i in range(pairs + 1):
        for kind, args in (("client", client), ("floor", floor)):
            if before:
                before(kind)
            r = measure(prefix, args)
            if i:  # the first pair only warms caches
                runs[kind].append(r)
    summary = {"job": name, "pairs": pairs}
    for kind, rs in runs.items():
        codes = sorted({r[3] for r in rs})
        summary[kind] = {
            "wall_s": statistics.median(r[0] for r in rs), "wall_min_s": min(r[0] for r in rs),
            "wall_max_s": max(r[0] for r in rs), "cpu_s": statistics.median(r[1] for r in rs),
            "peak_mib": statistics.median(r[2] for r in rs), "exit_codes": codes,
        }
    for k in ("wall_s", "cpu_s", "peak_mib"):
        f = summary["floor"][k]
        summary["ratio_" + k.split("_")[0]] = round(summary["client"][k] / f, 3) if f else None
    return summary


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
    args = ["-QuickCheck", "-UpdateCheckSilent", "-UpdateSilent", "-ProgramName", "BenchTool", "-DisplayName",
            "Bench Tool", "-ProgramVersion", "6.0.3", "-InstalledLocation", TARGET_DIR, "-Language", "1033"]
    client = [str(WIN64 / "BRUptide.exe"), *args]
    measure(prefix, client)  # one run to learn the request document
    floor = [str(FLOOR / "floor_check.exe"),
             *learned_post(prefix, service, "QuickCheck", "QuickCheckXML", "check.body")]
    return paired(prefix, "silent check", client, floor, pairs)


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
    floor = [str(FLOOR / "floor_uninstall.exe"), TARGET_DIR]
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
    floor = [str(FLOOR / "floor_download.exe"), *(["-urlmon"] if urlmon else []), service.url() + "files/BRUptideWorker.exe", target,
             *learned_post(prefix, service, "QuickCheck", "QuickCheckXML", "update-check.body")]
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
    c, f = r["client"], r["floor"]
    return (f"{r['job']}: client {c['wall_s']:.3f}s (min {c['wall_min_s']:.3f}, max {c['wall_max_s']:.3f}) "
            f"cpu {c['cpu_s']:.3f}s peak {c['peak_mib']:.1f} MiB | floor {f['wall_s']:.3f}s "
            f"(min {f['wall_min_s']:.3f}, max {f['wall_max_s']:.3f}) cpu {f['cpu_s']:.3f}s "
            f"peak {f['peak_mib']:.1f} MiB | ratio wall {r['ratio_wall']} cpu {r['ratio_cpu']} "
            f"peak {r['ratio_peak']} | exit codes {c['exit_codes']} / {f['exit_codes']}")


if __name__ == "__main__":
    main()
