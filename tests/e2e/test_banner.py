"""The header band, the product banner and the link of the real dialog under
Wine: what is fetched into the working directory, what the band shows from it,
and that the link hands its target to the system."""
import json
import struct
import time

import pytest

import wine
from service_fixture import start_service, untrusted_cert  # noqa: F401 (fixtures)

PRODUCT, DISPLAY, VERSION = "SampleTool", "Sample Tool", "5.1.0"
BANNER = "Banner_Sample_Tool_5.bmp"
TITLE = "Brindle Uptide 9.0.8"
BAND_ID = 103
LINK_ID = 1026
DEFAULT_BANNER_HEIGHT = 57
PRODUCT_KEY = wine.HKCU_SETTINGS + "\\" + PRODUCT
BANNER_GETS = "GET:*/Banner/*"


def bmp(width, height, colour=(40, 120, 200)):
    """A plain 24-bit bitmap file."""
    stride = (width * 3 + 3) & ~3
    row = bytes((colour[2], colour[1], colour[0])) * width + b"\0" * (stride - width * 3)
    pixels = row * height
    return (struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
            + struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0) + pixels)


def args_for(*extra, display=DISPLAY):
    return ["-QuickCheck", "-ProgramName", PRODUCT, "-DisplayName", display, "-ProgramVersion", VERSION,
            "-InstalledLocation", r"C:\Sample", "-Language", "1033", "-UpdateIntervalInHours", "0", *extra]


def up_to_date(**product):
    return {"products": {PRODUCT: dict({"majors": {"5": "5.1.0"}}, **product)}}


def working_dir(client):
    return client.prefix.temp_dir.joinpath(*wine.LOG_SUBDIR, f"{PRODUCT} 5")


def serve_banner(service, data, name=BANNER):
    d = service.work / "files" / "Banner"
    d.mkdir(parents=True, exist_ok=True)
    (d / name).write_bytes(data)


def banner_gets(service):
    return [r for r in service.records() if "/Banner/" in (r.get("path") or "")]


def band_height(client):
    band = [c for c in client.prefix.controls(TITLE) if c["id"] == BAND_ID]
    assert len(band) == 1, band
    r = client.prefix.rect("hwnd=" + band[0]["hwnd"])
    return r["bottom"] - r["top"]


def drop_logs(client):
    for p in client.prefix.log_dir.glob("*.log"):
        p.unlink()


def wait_for(condition, timeout=30):
    deadline = time.monotonic() + timeout
    while not condition() and time.monotonic() < deadline:
        time.sleep(0.2)
    return condition()


def interactive(client, service, args, shot=None, until=None):
    """Runs the dialog until it shows its check's outcome (and `until` holds); returns
    (height of the band, result)."""
    p = client.start(args, timeout=60, clean=False)
    client.prefix.wait_window(TITLE, timeout=30)
    # The band is rebuilt when the banner is shown: read it once the check has ended.
    assert wait_for(lambda: [r for r in service.records() if r.get("method") == "QuickCheck"])
    if until:
        assert wait_for(until)
    time.sleep(0.5)
    height = band_height(client)
    if shot:
        client.screenshot(shot)
    client.prefix.close(TITLE)
    return height, p.finish(close_after=2)


@pytest.fixture
def service(client, start_service):
    client.clean_logs()
    svc = start_service(up_to_date())
    client.prefix.reg_set(wine.HKCU_SETTINGS, "DebugUrl_v2", svc.url())
    return svc


def test_first_run_fetches_the_banner_the_next_one_shows_it(client, service):
    serve_banner(service, bmp(150, 70))
    # Held back until the first dialog has shown its band.
    service.control("faults", {"slow": 2, "methods": [BANNER_GETS], "first": 1})
    cached = working_dir(client) / BANNER
    height, r = interactive(client, service, args_for(), "first-run", until=cached.exists)
    log = r.log(PRODUCT)
    assert height == DEFAULT_BANNER_HEIGHT + 2
    assert ("WAR", "Banner: Use Default") in [(l.level, l.text) for l in log.lines if l.ok]
    assert [g["path"] for g in banner_gets(service)] == ["/Uptide//Banner/" + BANNER]
    assert (working_dir(client) / BANNER).read_bytes() == bmp(150, 70)
    assert not (working_dir(client) / (BANNER + ".part")).exists()

    drop_logs(client)
    height, r = interactive(client, service, args_for(), "second-run")
    log = r.log(PRODUCT)
    assert log.find("Banner: Use bannerFileNameWithPath") and not log.find("Banner: Use Default")
    assert height == 70 + 2
    assert len(banner_gets(service)) == 1  # cached: not fetched again


@pytest.mark.parametrize("option, fetched", [("-UpdateSilent", False), ("-UpdateCheckSilent", True)])
def test_silent_runs(client, service, option, fetched):
    serve_banner(service, bmp(150, 70))
    r = client.run(args_for(option), timeout=60, close_after=20)
    log = r.log(PRODUCT)
    assert not log.find("Banner: Use")  # never shown
    assert bool(banner_gets(service)) == fetched
    assert (working_dir(client) / BANNER).exists() == fetched


def test_debug_banner_base_is_used_and_logged(client, service):
    base = f"http://127.0.0.1:{service.port}/Elsewhere"
    client.prefix.reg_set(PRODUCT_KEY, "DebugBannerDownloadUrl_v2", base)
    serve_banner(service, bmp(150, 70))
    r = client.run(args_for("-UpdateCheckSilent"), timeout=60, close_after=20)
    assert [g["path"] for g in banner_gets(service)] == ["/Elsewhere/Banner/" + BANNER]
    assert r.log(PRODUCT).find("Banner: Changed url to DEBUG-URL: " + base)[0].level == "WAR"
    assert (working_dir(client) / BANNER).exists()


@pytest.mark.parametrize("how", ["missing", "truncated", "a page, not a picture"])
def test_a_failed_fetch_is_never_cached(client, service, how):
    if how == "truncated":
        serve_banner(service, bmp(150, 70))
        service.control("faults", {"truncate": 3000, "methods": [BANNER_GETS]})
    elif how == "a page, not a picture":
        serve_banner(service, b"<html><body>Banner moved</body></html>")
    r = client.run(args_for("-UpdateCheckSilent"), timeout=60, close_after=20)
    assert banner_gets(service), "nothing was fetched"
    assert r.exit_code is not None
    assert sorted(p.name for p in working_dir(client).iterdir() if p.name.startswith("Banner_")) == []


@pytest.mark.parametrize("data", [bmp(10000, 57), bmp(1, 1), b""], ids=["10000 wide", "1 x 1", "empty"])
def test_an_unusable_cached_banner_gives_the_default_and_is_deleted(client, service, data):
    working_dir(client).mkdir(parents=True, exist_ok=True)
    (working_dir(client) / BANNER).write_bytes(data)
    service.control("faults", {"http_status": 404, "methods": [BANNER_GETS]})
    height, r = interactive(client, service, args_for())
    log = r.log(PRODUCT)
    assert height == DEFAULT_BANNER_HEIGHT + 2
    texts = [(l.level, l.text) for l in log.lines if l.ok]
    assert ("WAR", "Banner: Use Default") in texts
    assert any(lv == "WAR" and t.startswith("Banner: C:\\") for lv, t in texts), texts
    assert not (working_dir(client) / BANNER).exists()


def test_japanese_display_name(client, service):
    name = "Banner_~48E~48G_5.bmp"
    serve_banner(service, bmp(150, 70), name)
    client.run(args_for("-UpdateCheckSilent", display="\u3042\u3044"), timeout=60, close_after=20)
    assert [g["path"] for g in banner_gets(service)] == ["/Uptide//Banner/" + name]
    assert (working_dir(client) / name).exists()


def test_link_opens_its_target_through_the_html_handler(client, start_service, tmp_path):
    """Wine's shell cannot open the link's (empty) target; the ".htm" handler registered here gets it."""
    svc = start_service({"products": {PRODUCT: {"majors": {"5": "5.1.0", "6": "6.0.0"}, "major_upgrade": 6}}})
    client.prefix.reg_set(wine.HKCU_SETTINGS, "DebugUrl_v2", svc.url())
    record = tmp_path / "link.json"
    probe = client.prefix.win_path(client.prefix.probe_exe)
    handler = f'"{probe}" args "{client.prefix.win_path(record)}" "%1"'
    client.prefix.reg_set(r"HKCR\.htm", "", "BrutLinkTest")
    client.prefix.reg_set(r"HKCR\BrutLinkTest\shell\open\command", "", handler)
    try:
        p = client.start(args_for(), timeout=60)
        client.prefix.wait_window(TITLE, timeout=30)
        deadline = time.monotonic() + 30
        link = None
        while time.monotonic() < deadline:
            link = next((c for c in client.prefix.controls(TITLE) if c["id"] == LINK_ID and c["visible"]), None)
            if link:
                break
            time.sleep(0.2)
        assert link, "the upgrade offer never showed its link"
        r = client.prefix.rect("hwnd=" + link["hwnd"])
        x, y = (r["left"] + r["right"]) // 2, (r["top"] + r["bottom"]) // 2
        client.prefix.xdotool("mousemove", str(x), str(y))
        client.screenshot("link-hover")
        client.prefix.xdotool("click", "1")
        deadline = time.monotonic() + 20
        while not record.exists() and time.monotonic() < deadline:
            time.sleep(0.2)
        client.screenshot("link-opened")
        assert record.exists(), "the handler was not run"
        called = json.loads(record.read_text(encoding="utf-8"))
        assert called["argv"] == []  # the command cut before "%1", then a blank and the empty target
        # No error box: the open succeeded.
        assert not [w for w in client.prefix.windows(pid=p.pid, visible=True) if w["title"] != TITLE
                    and w["class"] == "#32770"]
        client.prefix.close(TITLE)
        p.finish(close_after=2)
    finally:
        client.prefix.reg_delete(r"HKCR\BrutLinkTest")
        client.prefix.reg_delete(r"HKCR\.htm")
