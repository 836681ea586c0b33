"""Product discovery of the real client under Wine: VersionInfo.txt, uninstall
entries, the installer database, the stub's own version resource, the chain's
fallback, the working directory with the cached worker, and hostile input."""
import datetime
import os
import shutil
import subprocess
from pathlib import Path

import pytest

import wine

WIN64_DIR = Path(os.environ.get("BRUT_WIN64_DIR", wine.REPO / "build" / "win64"))
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"
SCRATCH = "C:\\Disc"
# A silent check ends by itself; the refused service makes it end with code 1.
SILENT = ["-QuickCheck", "-UpdateCheckSilent"]
ERROR_END = 1

# What the chain logs when every source fails (Wine: no installer product, and
# WMI answers Win32_Product with an empty list, so Next() gives S_FALSE at once).
CHAIN_FAILS = [("ERR", "GetUninstallRegKey failed"),
               ("ERR", "ReadFromRegistry failed"),
               ("ERR", "ReadFromMsiDB failed"),
               ("ERR", "ReadFromMsiDB failed"),
               ("INF", "Connected to ROOT\\CIMV2 WMI namespace"),
               ("ERR", "pEnumerator->Next() failed and returned: 1"),
               ("ERR", "ReadFromWin32_Products failed")]
START = ("AUD", "STARTING LOG")


def start_lines(name, version, date, language, stub=0):
    return [START,
            ("INF", f"{name}({name}) Uptide v9.0.8 started"),
            ("INF", f"ProgramName: {name}"),
            ("INF", f"DisplayName: {name}"),
            ("INF", f"ProgramVersionNumber: {version}"),
            ("INF", f"ProgramInstallDate: {date}"),
            ("INF", f"ProgramLanguage: {language}"),
            ("INF", f"IsStubExe: {stub}")]


def entries(log):
    return [(l.level, l.text) for l in log.lines]


def ended_normally(r):
    assert (r.timed_out, r.exit_code) == (False, ERROR_END)


def found_quietly(r, name):
    """A source succeeded: nothing was logged before the product log opened."""
    ended_normally(r)
    assert [l.program for l in r.logs.values()] == [name], sorted(r.logs)
    return r.log(name)


def reg_text(keys):
    """A .reg text for uninstall entries {key name: {value: text | int (DWORD)}}, in the given order."""
    def quote(s):
        return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'
    out = []
    for key, values in keys.items():
        out.append(f"[{UNINSTALL.replace('HKLM', 'HKEY_LOCAL_MACHINE')}\\{key}]")
        for name, value in values.items():
            out.append(f"{quote(name)}=" + (f"dword:{value:08x}" if isinstance(value, int) else quote(value)))
        out.append("")
    return "\n".join(out)


@pytest.fixture
def scratch(client):
    """Makes directories below C:\\Disc of the shared prefix; all go at the end."""
    def make(rel):
        win = SCRATCH + "\\" + rel
        client.prefix.unix_path(win).mkdir(parents=True, exist_ok=True)
        return win
    yield make
    shutil.rmtree(client.prefix.unix_path(SCRATCH), ignore_errors=True)


@pytest.fixture
def uninstall(client):
    """Seeds uninstall entries with one regedit import; removes them at the end."""
    seeded = []

    def seed(keys):
        seeded.extend(keys)
        client.prefix.reg_import(reg_text(keys))
    yield seed
    for key in seeded:
        client.prefix.reg_delete(UNINSTALL + "\\" + key)


def write_version_info(client, win_dir, data):
    (client.prefix.unix_path(win_dir) / "VersionInfo.txt").write_bytes(data)


# ---------------------------------------------------------------- VersionInfo.txt

@pytest.mark.parametrize("data, expected", [
    # ANSI (code page 1252), CR LF, a fifth line that is ignored.
    (b"F\xf6\xf6 Studio\r\n5.1.0\r\n1031\r\n{4F1C2B7A-0001}\r\nignored\r\n", ("F\xf6\xf6 Studio", "5.1.0", 1031)),
    # LF only; empty lines are values; the language is the leading integer.
    (b"Bar\n\n1041 ja\n\n", ("Bar", "", 1041)),
], ids=["crlf-ansi", "lf-empty-lines"])
def test_version_info_file_names_the_product(client, scratch, data, expected):
    product = scratch("Foo Studio")
    write_version_info(client, product, data)
    r = client.run(["-InstalledLocation", product] + SILENT)
    name, version, language = expected
    log = found_quietly(r, name)
    assert entries(log)[:8] == start_lines(name, version, "", language)


@pytest.mark.parametrize("with_key", [False, True], ids=["nothing-else", "uninstall-entry-follows"])
def test_three_line_version_info_fails_and_chain_goes_on(client, scratch, uninstall, with_key):
    product = scratch("Three")
    write_version_info(client, product, b"File Name\r\n7.0.1\r\n1041\r\n")
    if with_key:
        # No version, no language: what the file gave before it failed stays.
        uninstall({"Disc Three": {"DisplayName": "Reg Name", "InstallDate": "20240315",
                                  "InstallLocation": product + "\\"}})
    r = client.run(["-InstalledLocation", product] + SILENT)
    ended_normally(r)
    missing = ("ERR", product + "\\VersionInfo.txt: line 4 is missing")
    if with_key:
        early = r.log("BRUptide")
        assert entries(early) == [START, missing]
        assert entries(r.log("Reg Name"))[:8] == start_lines("Reg Name", "7.0.1", "20240315", 1041)
    else:
        # The whole discovery failed: the record is rebuilt on first use from the
        # updater's own directory, where nothing is found either.
        early = r.log("BRUptide")
        assert entries(early) == [START, missing] + CHAIN_FAILS + CHAIN_FAILS
        assert entries(r.log("Unknown"))[:8] == start_lines("Unknown", "", "", 0)


# ---------------------------------------------------------------- uninstall entries

BAR = SCRATCH + "\\Bar"


def bar_keys(first_date, second_date):
    return {
        # Enumerated first (Wine enumerates in name order); trailing backslash.
        "Disc Bar A": {"DisplayName": "  Bar Suite  ", "DisplayVersion": "3.2.1", "InstallDate": first_date,
                       "InstallLocation": BAR + "\\", "Language": 1031},
        # Other letter case, no trailing backslash.
        "Disc Bar B": {"DisplayName": "Bar Suite B", "DisplayVersion": "3.3.0", "InstallDate": second_date,
                       "InstallLocation": BAR.upper(), "Language": 1041},
        # A longer directory with the same beginning is not the product's.
        "Disc Bar C": {"DisplayName": "Barn", "DisplayVersion": "9", "InstallDate": "20991231",
                       "InstallLocation": BAR + "n", "Language": 1033},
    }


@pytest.mark.parametrize("keys, args, winner", [
    (bar_keys("20230505", "20210101"), ["-InstalledLocation", BAR], "Disc Bar A"),
    (bar_keys("20210101", "20230505"), ["-InstalledLocation", BAR + "\\"], "Disc Bar B"),
    ({"Disc Baz": {"DisplayName": "Baz", "DisplayVersion": "1.0", "InstallDate": "20200202",
                   "InstallLocation": "C:\\Program Files\\Baz", "Language": 1033}},
     ["-InstalledLocation", "C:\\Programme\\Baz"], "Disc Baz"),
    ({"Disc Qux": {"DisplayName": "Qux Deluxe", "DisplayVersion": "4.4", "InstallDate": "20190909",
                   "ProgramName": "qux tool", "Language": 1041}},
     ["-ProgramName", "Qux Tool"], "Disc Qux"),
], ids=["latest-date-first", "latest-date-last", "programme-folder", "by-program-name"])
def test_uninstall_entry_names_the_product(client, uninstall, keys, args, winner):
    uninstall(keys)
    r = client.run(args + SILENT)
    w = keys[winner]
    name = w["DisplayName"].strip()
    log = found_quietly(r, name)
    assert entries(log)[:8] == start_lines(name, w["DisplayVersion"], w["InstallDate"], w["Language"])


def test_uninstall_entries_with_equal_dates_later_enumerated_wins(client, uninstall):
    # Written in the opposite order of their names: the registry's enumeration
    # order, not the order of creation, decides.
    keys = {"Disc Eq B": {"DisplayName": "Eq B", "InstallDate": "20220202", "InstallLocation": BAR},
            "Disc Eq A": {"DisplayName": "Eq A", "InstallDate": "20220202", "InstallLocation": BAR}}
    uninstall(keys)
    order = [k for k in client.prefix.reg_read(UNINSTALL).subkeys if k in keys]
    assert len(order) == 2
    winner = keys[order[-1]]
    r = client.run(["-InstalledLocation", BAR] + SILENT)
    log = found_quietly(r, winner["DisplayName"])
    assert entries(log)[:8] == start_lines(winner["DisplayName"], "", "20220202", 0)


# ---------------------------------------------------------------- the updater's own resource and directory

def copy_client(client, artifacts, refused_url, scratch, rel, exe):
    d = scratch(rel)
    shutil.copy2(WIN64_DIR / exe, client.prefix.unix_path(d) / exe)
    return wine.Client(client.prefix, d + "\\" + exe, artifacts, refused_url), d


@pytest.mark.parametrize("with_options", [False, True], ids=["no-options", "product-options"])
def test_stub_copy_names_itself(client, artifacts, refused_url, scratch, with_options):
    stub, d = copy_client(client, artifacts, refused_url, scratch, "Stub", "SampleToolSetup.exe")
    if with_options:
        # A product that names itself is no stub, whatever the resource says.
        args = ["-ProgramName", "Foo", "-DisplayName", "Foo", "-ProgramVersion", "1.2", "-InstalledLocation", d,
                "-Language", "1033", "-InstallDate", "20240101"]
        name, expected = "Foo", start_lines("Foo", "1.2", "20240101", 1033)
    else:
        args, name, expected = [], "Sample Tool", start_lines("Sample Tool", "23.1.4", "", 1031, stub=1)
    r = stub.run(args + SILENT, close_after=3)
    assert entries(found_quietly(r, name))[:8] == expected


@pytest.mark.parametrize("own_dir_holds", [None, "version-info", "uninstall-entry"])
def test_updater_without_options_searches_its_own_directory(client, artifacts, refused_url, scratch, uninstall,
                                                            own_dir_holds):
    own, d = copy_client(client, artifacts, refused_url, scratch, "Own", "BRUptide.exe")
    if own_dir_holds == "version-info":
        write_version_info(client, d, b"Own File\r\n2.0\r\n1031\r\nkey\r\n")
    elif own_dir_holds == "uninstall-entry":
        uninstall({"Disc Own": {"DisplayName": "Own Entry", "DisplayVersion": "3.0", "InstallDate": "20210707",
                                "InstallLocation": d.lower(), "Language": 1041}})
    r = own.run(SILENT, close_after=3)
    ended_normally(r)
    # Its resource names the updater itself: no source for the product's start, so
    # discovery leaves the record to be built on first use.
    if own_dir_holds is None:
        assert entries(r.log("BRUptide")) == [START] + CHAIN_FAILS
        assert entries(r.log("Unknown"))[:8] == start_lines("Unknown", "", "", 0)
    elif own_dir_holds == "version-info":
        assert entries(found_quietly(r, "Own File"))[:8] == start_lines("Own File", "2.0", "", 1031)
    else:
        assert entries(found_quietly(r, "Own Entry"))[:8] == start_lines("Own Entry", "3.0", "20210707", 1041)


# ---------------------------------------------------------------- working directory and cached worker

@pytest.mark.parametrize("name, version, folder", [
    ("SampleTool", "5.1.0", "SampleTool 5"),
    ("Tom & Jerry \u00dcber", "12.5.300", "Tom  Jerry ber 12"),
    ("\u30c4\u30fc\u30eb Tool", "3.0", "~48E~49I~49R Tool 3"),
    # No "." in the version: no version part, and no trailing blank that Windows would drop.
    ("Twelve", "12", "Twelve"),
], ids=["plain", "ampersand-umlaut", "japanese", "dotless-version"])
def test_working_directory_and_cached_worker(client, name, version, folder):
    args = ["-ProgramName", name, "-DisplayName", name, "-ProgramVersion", version,
            "-InstalledLocation", "C:\\Nowhere", "-Language", "1033"] + SILENT
    r = client.run(args)
    ended_normally(r)
    base = client.prefix.log_dir
    assert sorted(p.name for p in base.iterdir() if p.is_dir()) == [folder]
    assert "UptideWorker not found" in r.log(name).texts

    shutil.copy2(WIN64_DIR / "tools" / "test-worker" / "BRUptideWorker.exe", base / folder)
    for f in base.glob("*.log"):
        f.unlink()
    r = client.run(args, clean=False)
    ended_normally(r)
    texts = r.log(name).texts
    assert "UptideWorkerVersion: 9.1.0" in texts
    assert any("<UptideWorkerVersion>9.1.0</UptideWorkerVersion>" in t for t in texts)


# ---------------------------------------------------------------- installer database and WMI

MSI_CODE = "{6A1F3C52-8E4B-4D2A-9C71-2B5E8F0D4A13}"
MSI_DIR = "C:\\Prod\\MsiTool"
# The installer reports ARPINSTALLLOCATION as the product's "InstallLocation",
# as given (here without a trailing backslash); the product name keeps its blanks.
MSI_WXS = f"""<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{MSI_CODE}" Name="  Msi Tool  " Language="1031" Version="2.5.1" Manufacturer="Brindle"
           UpgradeCode="{{0B7D2E94-3C1A-4F6B-8D25-9E4A7C1B3F60}}">
    <Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"/>
    <Media Id="1" Cabinet="p.cab" EmbedCab="yes"/>
    <Property Id="ARPINSTALLLOCATION" Value="{MSI_DIR}"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFiles64Folder">
        <Directory Id="INSTALLDIR" Name="MsiTool">
          <Component Id="Main" Guid="{{3C9E5A71-0D2B-4E8F-A6C4-7B1D9F2E5A08}}" Win64="yes">
            <File Id="ReadMe" Name="readme.txt" Source="readme.txt" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="All" Level="1"><ComponentRef Id="Main"/></Feature>
  </Product>
</Wix>
"""


def build_msi(tmp_path):
    if not shutil.which("wixl"):
        pytest.fail("wixl missing: run scripts/setup")
    (tmp_path / "p.wxs").write_text(MSI_WXS)
    (tmp_path / "readme.txt").write_text("readme\n")
    subprocess.run(["wixl", "-a", "x64", "-o", "p.msi", "p.wxs"], cwd=tmp_path, check=True, timeout=60,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return tmp_path / "p.msi"


def test_installer_database_names_the_product(fresh_client, tmp_path):
    c, prefix = fresh_client, fresh_client.prefix
    msi = build_msi(tmp_path)
    prefix.wine(["msiexec", "/i", prefix.win_path(msi), "/qn"], timeout=120)
    today = datetime.datetime.now(datetime.timezone.utc).strftime("%Y%m%d")  # TZ=UTC in Wine
    assert prefix.reg_read(UNINSTALL + "\\" + MSI_CODE).exists
    found = [START, ("ERR", "GetUninstallRegKey failed"), ("ERR", "ReadFromRegistry failed"),
             ("INF", "Find product guid"), ("INF", "ReadFromMsiDB succeeded")]
    expected = start_lines("Msi Tool", "2.5.1", today, 1031)

    # By name: msiexec's uninstall entry has no "ProgramName" value, so the
    # installer database is asked; its name matches untrimmed.
    r = c.run(["-ProgramName", "  Msi Tool  "] + SILENT)
    ended_normally(r)
    assert entries(r.log("BRUptide")) == found
    assert entries(r.log("Msi Tool"))[:8] == expected

    # By directory, once the uninstall entry (which would match first) is gone.
    prefix.reg_delete(UNINSTALL + "\\" + MSI_CODE)
    r = c.run(["-InstalledLocation", MSI_DIR] + SILENT)
    ended_normally(r)
    assert entries(r.log("BRUptide")) == found
    assert entries(r.log("Msi Tool"))[:8] == expected

    # The installer's directory compares case-sensitively; WMI lists no installed
    # product under Wine, so the chain ends in the fallback.
    r = c.run(["-InstalledLocation", MSI_DIR.lower()] + SILENT)
    ended_normally(r)
    assert entries(r.log("BRUptide")) == [START] + CHAIN_FAILS + CHAIN_FAILS
    assert entries(r.log("Unknown"))[:8] == start_lines("Unknown", "", "", 0)


# ---------------------------------------------------------------- hostile input

@pytest.mark.parametrize("data, error", [
    (b"A" * 2_000_000, "line 1 is longer than 1024 bytes"),
    (b"Foo\x00\x01\r\n1.0\r\n1031\r\nkey\r\n", "line 1 holds binary data"),
    (b"Foo\r\n" + bytes(range(256)) * 4096, "line 2 holds binary data"),
], ids=["huge-line", "nul-in-name", "binary-after-name"])
def test_unreadable_version_info_is_reported_and_passed_over(client, scratch, data, error):
    product = scratch("Bad")
    write_version_info(client, product, data)
    r = client.run(["-InstalledLocation", product] + SILENT)
    ended_normally(r)
    assert entries(r.log("BRUptide"))[:2] == [START, ("ERR", f"{product}\\VersionInfo.txt: {error}")]
    assert entries(r.log("Unknown"))[:8] == start_lines("Unknown", "", "", 0)


def test_thousands_of_uninstall_entries(fresh_client):
    c, prefix = fresh_client, fresh_client.prefix
    keys = {}
    for i in range(3000):
        # Every other value is longer than the compared part may be.
        keys[f"Junk {i:04d}"] = {"InstallLocation": f"C:\\Elsewhere\\{i}" + "x" * (150 * (i % 2)),
                                 "InstallDate": f"2020{i:04d}", "ProgramName": f"P{i}"}
    # Enumerated last: the walk goes through all of them.
    keys["~Many"] = {"DisplayName": "Many", "DisplayVersion": "8.1", "InstallDate": "20200101",
                     "InstallLocation": "C:\\Many\\Prod"}
    prefix.reg_import(reg_text(keys))
    assert prefix.reg_read(UNINSTALL).subkeys[-1] == "~Many"

    r = c.run(["-InstalledLocation", "C:\\Many\\Other", "-ProgramName", "Nothing"] + SILENT)
    ended_normally(r)
    assert entries(r.log("BRUptide")) == [START] + CHAIN_FAILS + CHAIN_FAILS
    assert entries(r.log("Unknown"))[:8] == start_lines("Unknown", "", "", 0)

    r = c.run(["-InstalledLocation", "C:\\Many\\Prod"] + SILENT)
    log = found_quietly(r, "Many")
    assert entries(log)[:8] == start_lines("Many", "8.1", "20200101", 0)


def test_installer_database_unavailable_fails_that_source_only(client):
    # msi.dll is loaded only when the installer source runs; when it cannot be
    # loaded, the client still starts and that source fails with the loader's code.
    r = client.run(["-InstalledLocation", SCRATCH + "\\NoMsi"] + SILENT, env={"WINEDLLOVERRIDES": "mscoree,mshtml,msi="})
    ended_normally(r)
    no_msi = ("ERR", "MsiEnumProducts failed and returned: 126")
    assert entries(r.log("BRUptide")).count(no_msi) == 2
    assert ("ERR", "ReadFromWin32_Products failed") in entries(r.log("BRUptide"))
