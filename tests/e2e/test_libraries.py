"""DLLs planted beside a copy of the client: run from a folder others can write to (a
Downloads folder), the client must load no library of a system DLL's name from there.

Wine loads its built-in DLLs first; WINEDLLOVERRIDES "NAME=n,b" makes it look beside the
program (and in the current folder) first, as Windows does for every DLL that is no
protected system DLL (KnownDLL). version.dll cannot be tested this way: Wine's own user32
imports it (Windows' does not), so every GUI program under Wine loads a planted one. The
client loads it from the system directory all the same, like urlmon.dll and msi.dll, which
a silent check against a refusing service never reaches.

library-probe drives the loading helpers themselves (Win32Libraries.h) beside the same DLLs.
"""
import shutil

import pytest

import wine

PLANTED = ("iphlpapi", "wininet")
PROGRAMS = wine.REPO / "tests" / "e2e" / "programs"
SCRATCH = r"C:\users\Public\Downloads\BRUptide-copy"


def compile_program(source, out, *flags):
    wine.run([wine.MINGW_CXX, "-std=c++17", "-O2", "-Wall", "-Wextra", "-Werror", "-DUNICODE", "-D_UNICODE",
              "-static", "-static-libgcc", "-static-libstdc++", "-s", f"-I{wine.REPO / 'src' / 'client'}",
              *flags, "-o", str(out), str(source)], env=None, timeout=300)


@pytest.fixture(scope="module")
def planted(session_dir):
    """{name: path} of the marker DLLs, and library-probe.exe."""
    out = session_dir / "planted"
    out.mkdir(exist_ok=True)
    dlls = {}
    for name in PLANTED:
        dlls[name] = out / f"{name}.dll"
        compile_program(PROGRAMS / "planted-dll.cpp", dlls[name], "-shared")
    probe = out / "library-probe.exe"
    compile_program(PROGRAMS / "library-probe.cpp", probe, "-municode",
                    str(wine.REPO / "src" / "client" / "platform" / "win32" / "Win32Libraries.cpp"))
    return dlls, probe


def plant(prefix, dlls, program):
    """A scratch folder in the prefix holding a copy of `program` and the DLLs; its Windows path."""
    folder = prefix.unix_path(SCRATCH)
    folder.mkdir(parents=True, exist_ok=True)
    for path in dlls.values():
        shutil.copy2(path, folder / path.name)
    shutil.copy2(program, folder / program.name)
    return SCRATCH + "\\" + program.name


def markers(prefix):
    """{marker file name: path of the program that loaded the DLL}."""
    d = prefix.temp_dir / "brut-planted"
    return {p.name: p.read_text(errors="replace") for p in sorted(d.glob("*.txt"))} if d.is_dir() else {}


def overrides(prefix):
    """The session's overrides plus native-first for the planted names."""
    return {"WINEDLLOVERRIDES": prefix.env["WINEDLLOVERRIDES"] + ";" + ",".join(PLANTED) + "=n,b"}


# mode: the planted DLLs are loaded. "load" is the control: without it a broken marker DLL or
# override would let every other case pass.
SEARCHES = {"load": True, "restricted-load": False, "system": False}


@pytest.mark.parametrize("mode", list(SEARCHES) + ["missing"])
def test_library_probe(fresh_prefix, planted, mode):
    dlls, probe = planted
    exe = plant(fresh_prefix, dlls, probe)
    names = [f"{n}.dll" for n in PLANTED] if mode in SEARCHES else []
    cmdline = " ".join([wine.quote_arg(exe), mode] + names)
    r = wine.ClientProcess(fresh_prefix, exe, cmdline, 60, overrides(fresh_prefix), SCRATCH).wait()
    # Every library loaded (the system's, where none was planted); "missing": each failure as the loader's.
    assert r.exit_code == 0
    found = markers(fresh_prefix)
    assert sorted(n.split("-")[0].lower() for n in found) == (sorted(PLANTED) if SEARCHES.get(mode) else []), found
    assert all(host.endswith("library-probe.exe") for host in found.values()), found


def test_client_copy_loads_no_planted_dll(fresh_client, planted):
    dlls, _ = planted
    prefix = fresh_client.prefix
    copy = wine.Client(prefix, plant(prefix, dlls, prefix.unix_path(fresh_client.exe_win)),
                       fresh_client.artifacts, fresh_client.service_url)
    # Started from Explorer the current folder is the program's own: it must not count either.
    r = copy.run(["-QuickCheck", "-UpdateCheckSilent", "-UpdateSilent", "-ProgramName", "X",
                  "-ProgramVersion", "1.0", "-UpdateIntervalInHours", "0"],
                 env=overrides(prefix), cwd=prefix.unix_path(SCRATCH), timeout=30)
    assert markers(prefix) == {}
    # The run did use the libraries, from the system directory: X is installed nowhere, so every
    # discovery source was asked (msi.dll too) before the fallback name; the adapters were read
    # and the refused connection came back as WinINet's error.
    assert (r.timed_out, r.exit_code) == (False, 1)
    log = r.log("Unknown")
    assert log.find("Mac: "), log.texts
    assert log.find("/QuickCheck result = 12029"), log.texts
