"""The dialog at 100 %, 150 % and 200 % display scale, read from the real window under Wine.

Wine has one DPI for all monitors (LogPixels under HKCU\\Control Panel\\Desktop, read when
wineserver starts) and does not stretch windows: what is measured here is the client's own
layout in scaled pixels. A move to a monitor of another scale (WM_DPICHANGED) cannot happen
under Wine; the dialog's part of it is unit-tested through its view."""
import pytest

from service_fixture import start_service, untrusted_cert  # noqa: F401 (fixtures)
from test_dialog import CLOSE, HEADER_BAND, MESSAGE, TITLE, UPDATE, UPDATE_NOW, args_for, controls, service, wait_for

DESKTOP = r"HKEY_CURRENT_USER\Control Panel\Desktop"
BUILT_IN_BANNER = 57  # pixels high at 96 DPI (res/Banner.bmp)


def scaled(px, dpi):
    return (px * dpi + 48) // 96


def overlaps(a, b):
    return a[0] < b[2] and b[0] < a[2] and a[1] < b[3] and b[1] < a[3]


TITLES = {1033: TITLE, 1031: TITLE, 1041: "\u81ea\u52d5\u66f4\u65b0\u30d7\u30ed\u30b0\u30e9\u30e0 9.0.8"}


def offer_shown(prefix, title):
    """The controls once the update offer is up (its Install button shows)."""
    def shown():
        try:
            ctrls = controls(prefix, title)
        except Exception:  # noqa: BLE001 (the window is not there yet)
            return None
        return ctrls if ctrls.get(UPDATE_NOW, {}).get("visible") else None
    prefix.wait_window(title, 30)
    return wait_for(shown, 30, "the update offer")


@pytest.mark.parametrize("dpi, language", [(96, 1033), (144, 1033), (192, 1033), (120, 1031), (144, 1031),
                                           (192, 1041)])
def test_the_dialog_is_laid_out_in_scaled_pixels(fresh_client, start_service, dpi, language):
    client = fresh_client
    client.prefix.reg_set(DESKTOP, "LogPixels", dpi, "REG_DWORD")
    client.prefix.flush()  # the next wineserver takes the new scale
    service(start_service, client, UPDATE)
    p = client.start(args_for(language=language), timeout=60)
    title = TITLES[language]
    ctrls = offer_shown(client.prefix, title)
    client.screenshot(f"update-available-{dpi}-{language}")
    size = client.prefix.rect(title)
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
