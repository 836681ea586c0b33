"""scripts/check-imports on small programs built here with both mingw-w64 toolchains."""
import importlib.machinery
import importlib.util
import os
import shutil
import subprocess
import sys

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "check-imports")

_loader = importlib.machinery.SourceFileLoader("check_imports", SCRIPT)
_spec = importlib.util.spec_from_loader("check_imports", _loader)
check_imports = importlib.util.module_from_spec(_spec)
_loader.exec_module(check_imports)

CC = {"x64": "x86_64-w64-mingw32-gcc", "x86": "i686-w64-mingw32-gcc"}
WINDRES = {"x64": "x86_64-w64-mingw32-windres", "x86": "i686-w64-mingw32-windres"}
DLLTOOL = {"x64": "x86_64-w64-mingw32-dlltool", "x86": "i686-w64-mingw32-dlltool"}

MANIFEST = """<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <dependency><dependentAssembly>
    <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0"
                      processorArchitecture="*" publicKeyToken="6595b64144ccf1df" language="*"/>
  </dependentAssembly></dependency>
</assembly>
"""

# Each program references its imports behind a condition that never holds: linked, never run.
PLAIN = "int main(int argc, char** argv) { (void)argv; return argc > 99; }"
WININET = """#include <windows.h>
#include <wininet.h>
int main(int argc, char** argv) { (void)argv; if (argc > 99) InternetOpenW(0, 0, 0, 0, 0); return 0; }"""
VERSION = """#include <windows.h>
int main(int argc, char** argv) { (void)argv; return argc > 99 ? (int)GetFileVersionInfoSizeW(0, 0) : 0; }"""
COMCTL = """#include <windows.h>
#include <commctrl.h>
int main(int argc, char** argv) { (void)argv; if (argc > 99) InitCommonControls(); return 0; }"""
WIN8 = """#include <windows.h>
__declspec(dllimport) BOOL WINAPI SetDefaultDllDirectories(DWORD);
int main(int argc, char** argv) { (void)argv; return argc > 99 ? SetDefaultDllDirectories(0x800) : 0; }"""
WIN10 = """#include <windows.h>
__declspec(dllimport) UINT WINAPI GetDpiForWindow(HWND);
int main(int argc, char** argv) { (void)argv; return argc > 99 ? (int)GetDpiForWindow(0) : 0; }"""
ORDINAL = """void BrutByOrdinal(void);
int main(int argc, char** argv) { (void)argv; if (argc > 99) BrutByOrdinal(); return 0; }"""

# id: (architecture, source, libraries, extra: "manifest" | "ordinal" | linker flags, expected fault texts)
CASES = {
    "x64 runtime only": ("x64", PLAIN, [], None, []),
    "x86 runtime only": ("x86", PLAIN, [], None, []),
    "x64 wininet": ("x64", WININET, ["-lwininet"], None, ["imports wininet.dll, which Windows may take"]),
    "x86 version.dll": ("x86", VERSION, ["-lversion"], None, ["imports version.dll, which Windows may take"]),
    "comctl32 without manifest": ("x64", COMCTL, ["-lcomctl32"], None,
                                  ["imports comctl32.dll without a manifest binding"]),
    "comctl32 side by side": ("x86", COMCTL, ["-lcomctl32"], "manifest", []),
    "x64 Windows 8 function": ("x64", WIN8, [], None,
                               ["imports SetDefaultDllDirectories from kernel32.dll: new in Windows 8"]),
    "x86 Windows 10 function": ("x86", WIN10, ["-luser32"], None,
                                ["imports GetDpiForWindow from user32.dll: new in Windows 10"]),
    "x64 by ordinal": ("x64", ORDINAL, [], "ordinal", ["imports user32.dll by ordinal"]),
    "x86 by ordinal": ("x86", ORDINAL, [], "ordinal", ["imports user32.dll by ordinal"]),
    "subsystem of Windows 8": ("x64", PLAIN, [], ["-Wl,--subsystem,console:6.2"], ["subsystem version (6, 2)"]),
}


def build(tmp, arch, source, libs, extra):
    if not shutil.which(CC[arch]):
        pytest.skip(f"{CC[arch]} missing: run scripts/setup")
    src = tmp / "p.c"
    src.write_text(source)
    cmd = [CC[arch], "-o", str(tmp / "p.exe"), str(src)]
    if extra == "manifest":
        (tmp / "p.manifest").write_text(MANIFEST)
        (tmp / "p.rc").write_text('1 24 "p.manifest"\n')
        subprocess.run([WINDRES[arch], "-O", "coff", "-o", str(tmp / "rc.o"), "p.rc"], cwd=tmp, check=True)
        cmd.append(str(tmp / "rc.o"))
    elif extra == "ordinal":
        (tmp / "o.def").write_text("LIBRARY user32.dll\nEXPORTS\nBrutByOrdinal @2345 NONAME\n")
        subprocess.run([DLLTOOL[arch], "-d", "o.def", "-l", "libo.a"], cwd=tmp, check=True)
        cmd += [f"-L{tmp}", "-lo"]
    elif extra:
        cmd += extra
    subprocess.run(cmd + libs, check=True)
    return tmp / "p.exe"


@pytest.mark.parametrize("case", list(CASES))
def test_faults_found(tmp_path, case):
    arch, source, libs, extra, expected = CASES[case]
    faults, summary = check_imports.check(build(tmp_path, arch, source, libs, extra))
    assert len(faults) == len(expected), faults
    for fault, text in zip(faults, expected):
        assert text in fault
    assert (summary is not None) and summary.startswith(str(tmp_path))


@pytest.mark.parametrize("content, fault", [(None, "missing (build it first)"),
                                            (b"not a program", "not a 32- or 64-bit x86 PE image")],
                         ids=["missing", "not-pe"])
def test_unusable_file(tmp_path, content, fault):
    path = tmp_path / "x.exe"
    if content is not None:
        path.write_bytes(content)
    faults, summary = check_imports.check(path)
    assert summary is None and len(faults) == 1 and fault in faults[0]


def test_exit_status_and_report(tmp_path):
    (tmp_path / "good").mkdir()
    (tmp_path / "bad").mkdir()
    good = build(tmp_path / "good", "x64", PLAIN, [], None)
    bad = build(tmp_path / "bad", "x86", WININET, ["-lwininet"], None)
    r = subprocess.run([sys.executable, SCRIPT, str(good), str(bad)], capture_output=True, text=True)
    assert r.returncode == 1
    assert f"{good}: 2 DLLs" in r.stdout and str(bad) not in r.stdout
    assert "wininet.dll" in r.stderr and str(good) not in r.stderr
    assert subprocess.run([sys.executable, SCRIPT, str(good)], capture_output=True).returncode == 0
