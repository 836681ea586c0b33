"""scripts/check-docs fails when the makers' reference and the code's tables of names part."""
import os
import re
import shutil
import subprocess

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "check-docs")
DOC = os.path.join(ROOT, "docs", "integration.md")
CODE = ["src/client/app/CommandLine.cpp", "src/client/ui/EndCodes.h", "src/client/update/HandOff.h",
        "src/client/system/Settings.h"]


def run(root=ROOT, doc=DOC):
    r = subprocess.run(["/usr/bin/python3", SCRIPT, "--root", str(root), "--doc", str(doc)],
                       capture_output=True, text=True)
    return r.returncode, r.stdout + r.stderr


def doc_copy(tmp_path, change):
    with open(DOC, encoding="utf-8") as f:
        text = f.read()
    changed = change(text)
    assert changed != text, "the change must touch the document"
    path = tmp_path / "integration.md"
    path.write_text(changed, encoding="utf-8")
    return path


def code_copy(tmp_path, rel, change):
    for name in CODE:
        (tmp_path / name).parent.mkdir(parents=True, exist_ok=True)
        shutil.copy(os.path.join(ROOT, name), tmp_path / name)
    target = tmp_path / rel
    text = target.read_text(encoding="utf-8")
    changed = change(text)
    assert changed != text, "the change must touch the code"
    target.write_text(changed, encoding="utf-8")
    return tmp_path


def without_row(name):
    return lambda text: re.sub(r"^\|[^\n]*`" + re.escape(name) + r"`[^\n]*\n", "", text, count=1, flags=re.M)


def with_row_after(marker, row):
    # The new row goes right below the separator line of the marker's table.
    return lambda text: re.sub(r"(" + re.escape(marker) + r"\n\n[^\n]*\n[^\n]*\n)", r"\1" + row + "\n", text)


def test_the_tree_itself_passes():
    code, out = run()
    assert code == 0, out


@pytest.mark.parametrize("name", ["-WindowCaption", "-UpdateFromVersionV1", "kWorkerAnotherInstance", "PreviewChannel"])
def test_a_name_missing_from_the_document_fails(tmp_path, name):
    code, out = run(doc=doc_copy(tmp_path, without_row(name)))
    assert code == 1
    assert f"{name.lstrip('-')} is in the code but not in" in out


@pytest.mark.parametrize("marker, row, name", [
    ("<!-- names: options -->", "| `-ProxyServer` | text | gone |", "ProxyServer"),
    ("<!-- names: switches -->", "| `-ForceUpdate` | forwarded |", "ForceUpdate"),
    ("<!-- names: exit codes -->", "| 3 | `kEndRetired` | never | nothing |", "kEndRetired"),
    ("<!-- names: settings -->", "| `DebugLevel` | HKCU | REG_DWORD | none | nobody |", "DebugLevel"),
])
def test_a_name_the_code_does_not_have_fails(tmp_path, marker, row, name):
    code, out = run(doc=doc_copy(tmp_path, with_row_after(marker, row)))
    assert code == 1
    assert f"names {name}, which the code no longer has" in out


def test_an_exit_code_with_another_number_fails(tmp_path):
    code, out = run(doc=doc_copy(tmp_path, lambda t: t.replace("| 9 | `kEndUpdateFailed`", "| 7 | `kEndUpdateFailed`")))
    assert code == 1
    assert "kEndUpdateFailed as 7, the code as 9" in out


def test_a_document_without_a_marker_fails(tmp_path):
    code, out = run(doc=doc_copy(tmp_path, lambda t: t.replace("<!-- names: settings -->\n", "")))
    assert code == 1
    assert "no <!-- names: settings -->" in out


@pytest.mark.parametrize("rel, old, new, says", [
    ("src/client/app/CommandLine.cpp", '{u"OnlyDownload", &mIsOnlyDownload},',
     '{u"OnlyDownload", &mIsOnlyDownload}, {u"NoBanner", &mIsOnlyDownload},', "NoBanner is in the code but not in"),
    ("src/client/system/Settings.h", 'u"DebugUrl_v2"', 'u"DebugUrl_v3"', "names DebugUrl_v2, which the code no longer"),
    ("src/client/system/Settings.h", 'constexpr char16_t kPreviewChannel[] = u"PreviewChannel";',
     '// u"PreviewChannel" retired', "names PreviewChannel, which the code no longer"),
    ("src/client/ui/EndCodes.h", "enum EndCode", "enum ExitCode", "EndCodes.h: the exit codes table"),
], ids=["switch added", "setting renamed", "name left in a comment", "table not found"])
def test_a_changed_code_table_fails(tmp_path, rel, old, new, says):
    code, out = run(root=code_copy(tmp_path, rel, lambda t: t.replace(old, new)))
    assert code == 1
    assert says in out
