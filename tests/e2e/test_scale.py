"""The dialog at 100 %, 150 % and 200 % display scale, read from the real window under Wine.

Wine has one DPI for all monitors (LogPixels under HKCU\\Control Panel\\Desktop, read when
wineserver starts) and does not stretch windows: what is measured here is the client's own
layout in scaled pixels. A move to a monitor of another scale (WM_DPICHANGED) cannot happen
under Wine; the dialog's part of it is unit-tested through its view."""
import pytest

from service_fixture import start_service, untrusted_cert  # noqa: F401 (fixtures)
from test_dialog import (CLOSE, HEADER_BAND, MESSAGE, TITLE, UPDATE, UPDATE_NOW, UPDATE_TEXT, args_for, service,
                         wait_state)

DESKTOP = r"HKEY_CURRENT_USER\Control Panel\Desktop"
BUILT_IN_BANNER = 57  # pixels high at 96 DPI (res/Banner.bmp)


def scaled(px, dpi):
    return (px * dpi + 48) // 96


def overlaps(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


@pytest.mark.parametrize("dpi", [96, 144, 192])
def test_the_dialog_is_laid_out_in_scaled_pixels(fresh_client, start_service, dpi):
    client = fresh_client
    client.prefix.reg_set(DESKTOP, "LogPixels", dpi, "REG_DWORD")
    client.prefix.flush()  # the next wineserver takes the new scale
    service(start_service, client, UPDATE)
    p = client.start(args_for(), timeout=60)
    ctrls = wait_state(client.prefix, UPDATE_TEXT)
    client.screenshot(f"update-available-{dpi}")
    size = client.prefix.rect(TITLE)
    width, height = size["clientWidth"], size["clientHeight"]

    band = ctrls[HEADER_BAND]["rect"]
    assert band == [0, 0, width, scaled(BUILT_IN_BANNER, dpi) + scaled(2, dpi)]
    shown = {i: c for i, c in ctrls.items() if c["visible"]}
    for i, c in shown.items():
        left, top, right, bottom = c["rect"]
        assert 0 <= left < right <= width and 0 <= top < bottom <= height, (i, c["rect"], width, height)
    # Below the band, side by side: the band's text never covers the message or a button.
    ids = sorted(shown)
    for n, a in enumerate(ids):
        for b in ids[n + 1:]:
            assert not overlaps(shown[a]["rect"], shown[b]["rect"]), (a, b, shown[a]["rect"], shown[b]["rect"])
    # Texts fit their controls at this scale: buttons and one-line labels (the message wraps).
    for i in (UPDATE_NOW, CLOSE):
        c = shown[i]
        assert c["font"]["textWidth"] < c["rect"][2] - c["rect"][0], (i, c)
    assert shown[MESSAGE]["font"]["height"] >= scaled(13, dpi) - 1
    p.kill()
