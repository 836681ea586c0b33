"""scripts/check-layers fails on an include that points up the layer table."""
import os
import subprocess

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "check-layers")


def run(tmp_path, files):
    for rel, text in files.items():
        path = tmp_path / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_text(text)
    return subprocess.run(["/usr/bin/python3", SCRIPT, str(tmp_path)], capture_output=True, text=True)


@pytest.mark.parametrize("files, ok, says", [
    ({"ui/Dialog.cpp": '#include "net/Download.h"\n#include "ui/Dialog.h"\n'}, True, "every include points down"),
    ({"net/Download.cpp": '#include "ui/Dialog.h"\n'}, False, "net (layer 8) may not include ui (layer 10)"),
    ({"platform/Files.h": '#include "platform/win32/Win32Platform.h"\n'}, False, "points up"),
    ({"platform/win32/Win32Main.cpp": '#include "app/BRUptide.h"\n'}, True, "every include points down"),
    ({"widgets/Knob.cpp": '#include "util/Text.h"\n'}, False, "'widgets' is in no layer"),
    ({"ui/Banner.cpp": '#include "BuildSigners.h"\n'}, False, "generated one 'ui' may include"),
    ({"update/WorkerTrust.cpp": '#include "BuildSigners.h"\n'}, True, "every include points down"),
], ids=["down", "up", "interface to its implementation", "implementation to anything", "unknown folder",
        "generated header elsewhere", "generated header where named"])
def test_layers(tmp_path, files, ok, says):
    r = run(tmp_path, files)
    assert (r.returncode == 0) == ok, r.stdout + r.stderr
    assert says in r.stdout + r.stderr


def test_the_tree_itself_passes():
    r = subprocess.run(["/usr/bin/python3", SCRIPT], capture_output=True, text=True)
    assert r.returncode == 0, r.stderr
