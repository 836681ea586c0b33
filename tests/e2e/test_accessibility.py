"""The update dialog without a mouse and without sight, under Wine against the reference
update service.

Keyboard: real keys (xdotool) walk the Tab order of the upgrade offer (the link, the radio
group, Continue) and of an available update (Install, Not now); the arrow keys move within
the radio group and choose as they go; Space and Enter open the link, Enter there never
presses the default button; Escape does nothing; the focused link draws a focus rectangle.
wine-probe's `focus` reads which control has the focus after each key.

Screen readers: the names of the header band (both its lines) and of the link as oleacc's
proxy gives them (wine-probe `acc`). Wine 8 answers names only: its proxy calls every window
a client (role 10) and its annotation service does nothing, so that the link's role is a link
(ROLE_SYSTEM_LINK, 0x1e, set by dynamic annotation) shows only on Windows (Inspect, Accessible
Event Watcher or a screen reader); the roles are printed here, not checked."""
import json
import time

import pytest

import wine
from service_fixture import start_service, untrusted_cert  # noqa: F401 (fixtures)
from test_dialog import (CLOSE, CONTINUE, DONT_SHOW, INSTALL_NOW, MESSAGE, OFFER_TEXT, REMIND_LATER, TITLE,
                         UP_TO_DATE_TEXT, UPDATE, UPDATE_NOW, UPDATE_TEXT, UPGRADE_ONLY, args_for, controls, reports,
                         service, wait_for, wait_state)

LINK = 1026
BAND = 103
LINK_TEXT = "More information about the upgrade"
ROLE_SYSTEM_LINK = 0x1E


def focus(prefix):
    return json.loads(prefix.probe("focus", TITLE)[1])


def key_then_focus(prefix, xwin, key, expected):
    """Types one key and waits for the focus to land on `expected`; fails with where it is."""
    prefix.x_key(xwin, key)
    seen = []

    def landed():
        seen.append(focus(prefix)["id"])
        return seen[-1] == expected
    try:
        wait_for(landed, 5, f"focus on {expected} after {key}")
    except AssertionError:
        raise AssertionError(f"after {key} the focus is on {seen[-1]}, not {expected}") from None


def checks(prefix):
    c = controls(prefix)
    return [c[i]["check"] for i in (INSTALL_NOW, REMIND_LATER, DONT_SHOW)]


def pixels(prefix, rect):
    """The screen's pixels inside rect (screen coordinates) as rows of (r, g, b)."""
    width, height = rect["right"] - rect["left"], rect["bottom"] - rect["top"]
    r = wine.run(["import", "-display", prefix.display, "-window", "root", "-crop",
                  f"{width}x{height}+{rect['left']}+{rect['top']}", "+repage", "-depth", "8", "ppm:-"],
                 prefix.env, timeout=30)
    data = r.stdout
    fields, pos = [], 0
    while len(fields) < 4:  # P6, width, height, maximum
        while data[pos:pos + 1].isspace():
            pos += 1
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    pos += 1
    w, h = int(fields[1]), int(fields[2])
    assert (fields[0], w, h) == (b"P6", width, height), fields
    body = data[pos:pos + w * h * 3]
    return [[tuple(body[(y * w + x) * 3:(y * w + x) * 3 + 3]) for x in range(w)] for y in range(h)]


def edge(rows):
    """The outermost ring of pixels: where the focus rectangle is drawn."""
    return rows[0] + rows[-1] + [row[0] for row in rows] + [row[-1] for row in rows]


@pytest.fixture
def link_handler(client, tmp_path):
    """A ".htm" handler that records its run: Wine's shell cannot open the link's (empty) target itself."""
    record = tmp_path / "link.json"
    probe = client.prefix.win_path(client.prefix.probe_exe)
    client.prefix.reg_set(r"HKCR\.htm", "", "BrutKeyLinkTest")
    client.prefix.reg_set(r"HKCR\BrutKeyLinkTest\shell\open\command", "",
                          f'"{probe}" args "{client.prefix.win_path(record)}" "%1"')
    yield record
    client.prefix.reg_delete(r"HKCR\BrutKeyLinkTest")
    client.prefix.reg_delete(r"HKCR\.htm")


def test_keyboard_walks_the_upgrade_offer(client, start_service, link_handler, artifacts):
    svc = service(start_service, client, UPGRADE_ONLY)
    p = client.start(args_for(), timeout=90)
    wait_state(client.prefix, OFFER_TEXT)
    [xwin] = client.prefix.x_search("^" + TITLE + "$")
    prefix = client.prefix
    wait_for(lambda: focus(prefix)["id"] == INSTALL_NOW, 10, "the first radio button focused")

    # Continue is disabled until a choice is made: Tab goes round the link and the radio group.
    for key, expected in [("Tab", LINK), ("Tab", INSTALL_NOW), ("shift+Tab", LINK), ("shift+Tab", INSTALL_NOW)]:
        key_then_focus(prefix, xwin, key, expected)
    assert checks(prefix) == [0, 0, 0]

    # The arrow keys move within the group and choose the button they land on.
    key_then_focus(prefix, xwin, "Down", REMIND_LATER)
    assert checks(prefix) == [0, 1, 0]
    wait_for(lambda: controls(prefix)[CONTINUE]["enabled"], 10, "Continue enabled")
    key_then_focus(prefix, xwin, "Down", DONT_SHOW)
    key_then_focus(prefix, xwin, "Up", REMIND_LATER)
    assert checks(prefix) == [0, 1, 0]

    # The group keeps one tab stop, on its chosen button.
    for key, expected in [("Tab", CONTINUE), ("Tab", LINK), ("Tab", REMIND_LATER), ("shift+Tab", LINK)]:
        key_then_focus(prefix, xwin, key, expected)

    # The focused link draws its focus rectangle around its text, and only while it has the focus.
    assert focus(prefix)["hidefocus"] is False
    link = next(c for c in prefix.controls(TITLE) if c["id"] == LINK)
    rect = prefix.rect("hwnd=" + link["hwnd"])
    client.screenshot("link-focused")
    focused = edge(pixels(prefix, rect))
    key_then_focus(prefix, xwin, "Tab", REMIND_LATER)
    client.screenshot("link-unfocused")
    unfocused = edge(pixels(prefix, rect))
    assert len(set(unfocused)) == 1, "the link's edge is drawn on although it has no focus"
    assert len([px for px in focused if px != unfocused[0]]) >= len(focused) // 4, "no focus rectangle"
    key_then_focus(prefix, xwin, "shift+Tab", LINK)

    # Escape does nothing, with the focus on the link too.
    prefix.x_key(xwin, "Escape")
    time.sleep(1)
    assert p.running() and focus(prefix)["id"] == LINK

    # Space opens the link.
    prefix.x_key(xwin, "space")
    wait_for(link_handler.exists, 20, "the link opened by Space")
    # Enter opens it too, and does not press Continue, the default button meanwhile.
    link_handler.unlink()
    prefix.x_key(xwin, "Return")
    wait_for(link_handler.exists, 20, "the link opened by Enter")
    time.sleep(1)
    assert controls(prefix)[MESSAGE]["text"] == OFFER_TEXT and reports(svc) == []
    assert not [w for w in prefix.windows(pid=p.pid, visible=True) if w["title"] != TITLE], "an error box"
    assert focus(prefix)["id"] == LINK

    # To Continue and through it by keys alone; the next state's only button takes the focus.
    key_then_focus(prefix, xwin, "Tab", REMIND_LATER)
    key_then_focus(prefix, xwin, "Tab", CONTINUE)
    prefix.x_key(xwin, "space")
    wait_state(prefix, UP_TO_DATE_TEXT)
    wait_for(lambda: focus(prefix)["id"] == CLOSE, 10, "Close focused")
    prefix.x_key(xwin, "space")
    assert p.wait().exit_code == 4
    assert reports(svc) == [("ReportUpgradeOfferStatus", "3")]


def test_keyboard_walks_an_available_update(client, start_service):
    service(start_service, client, UPDATE)
    p = client.start(args_for(), timeout=60)
    wait_state(client.prefix, UPDATE_TEXT)
    [xwin] = client.prefix.x_search("^" + TITLE + "$")
    prefix = client.prefix
    first = wait_for(lambda: focus(prefix)["id"], 10, "a focused control")
    assert first in (UPDATE_NOW, CLOSE)
    other = CLOSE if first == UPDATE_NOW else UPDATE_NOW
    for key, expected in [("Tab", other), ("Tab", first), ("shift+Tab", other), ("shift+Tab", first)]:
        key_then_focus(prefix, xwin, key, expected)
    assert focus(prefix)["hidefocus"] is False
    prefix.x_key(xwin, "Escape")
    time.sleep(1)
    assert p.running()
    prefix.click(TITLE, CLOSE)
    prefix.wait_window("End Brindle Uptide")
    prefix.answer("End Brindle Uptide", "Yes")
    assert p.wait().exit_code == 2


def test_screen_readers_name_the_band_and_the_link(client, start_service):
    service(start_service, client, UPGRADE_ONLY)
    # An ampersand in the product's name: the proxy takes a single one for a mnemonic.
    args = args_for()
    args[args.index("-DisplayName") + 1] = "Sample & Co"
    p = client.start(args, timeout=60)
    wait_state(client.prefix, OFFER_TEXT)
    rc, out = client.prefix.probe("acc", TITLE)
    acc = {c["id"]: c for c in json.loads(out)}
    print(json.dumps(acc, indent=1))
    assert acc[BAND]["name"] == "Sample & Co\r\nVersion 5.1 Build 0"
    assert acc[LINK]["name"] == LINK_TEXT
    # The radio buttons are named by their texts as well (the proxy's own work, for comparison).
    assert acc[REMIND_LATER]["name"] == controls(client.prefix)[REMIND_LATER]["text"]
    print("roles (Wine: 10 for every window; Windows: the link", ROLE_SYSTEM_LINK, "):",
          acc[BAND]["role"], acc[LINK]["role"])
    client.prefix.close(TITLE)
    p.finish(close_after=2)
