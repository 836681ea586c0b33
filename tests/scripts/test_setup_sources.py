"""scripts/setup derives its deb-src entries from the machine's own apt sources."""
import os
import subprocess
import textwrap

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

OWN_822 = """\
Types: deb
# a comment inside the stanza
URIs: http://mirror.example/debian
Suites: bookworm bookworm-updates
Components: main contrib
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
"""
OWN_822_SRC = OWN_822.replace("Types: deb", "Types: deb-src").replace("# a comment inside the stanza\n", "")

INLINE_KEY = """\
Types: deb
URIs: http://cache.local:3142/debian-security
Suites: bookworm-security
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mQINBGPL0BUBEADmW5NdOOHwPIJlgPu6JDcKw/NZJPR2lsD3
 -----END PGP PUBLIC KEY BLOCK-----
"""

OTHER_822 = """\
Types: deb
URIs: https://vendor.example/apt
Suites: nodistro
Components: main
"""

DISABLED_822 = """\
Enabled: no
Types: deb
URIs: http://old.example/debian
Suites: bookworm
Components: main
"""

CASES = {
    "deb822: own release only, comments and disabled stanzas dropped": (
        {"parts/debian.sources": OWN_822 + "\n" + DISABLED_822, "parts/vendor.sources": OTHER_822},
        "== bruptide-src.sources\n" + OWN_822_SRC),
    "deb822: an inline key survives the copy": (
        {"parts/security.sources": INLINE_KEY},
        "== bruptide-src.sources\n" + INLINE_KEY.replace("Types: deb", "Types: deb-src")),
    "one-line: options kept, comments and other hosts' suites dropped": (
        {"sources.list": "# deb http://x/ bookworm main\n"
                         "deb [signed-by=/k.gpg arch=amd64] http://m.example/debian bookworm main  # tail\n"
                         "  deb http://m.example/debian-security bookworm-security main non-free\n"
                         "deb http://vendor.example/apt stable main\n"},
        "== bruptide-src.list\n"
        "deb-src [signed-by=/k.gpg arch=amd64] http://m.example/debian bookworm main\n"
        "deb-src http://m.example/debian-security bookworm-security main non-free\n"),
    "both formats at once": (
        {"sources.list": "deb http://a.example/debian bookworm main\n", "parts/debian.sources": OWN_822},
        "== bruptide-src.list\ndeb-src http://a.example/debian bookworm main\n"
        "== bruptide-src.sources\n" + OWN_822_SRC),
    "no suite names the release: every deb entry": (
        {"sources.list": "deb http://a.example/debian stable main\n"},
        "== bruptide-src.list\ndeb-src http://a.example/debian stable main\n"),
    "deb-src configured already (one-line): nothing": (
        {"sources.list": "deb http://a.example/debian bookworm main\ndeb-src http://a.example/debian bookworm main\n"},
        ""),
    "deb-src configured already (deb822): nothing": (
        {"parts/debian.sources": OWN_822.replace("Types: deb", "Types: deb deb-src")},
        ""),
    "our own earlier file is not a source to copy": (
        {"parts/debian.sources": OWN_822,
         "parts/bruptide-src.sources": OWN_822.replace("Types: deb", "Types: deb-src")},
        "== bruptide-src.sources\n" + OWN_822_SRC),
    "files apt ignores are ignored": (
        {"parts/debian.sources": OWN_822, "parts/x.list.disabled": "deb-src http://x/ bookworm main\n"},
        "== bruptide-src.sources\n" + OWN_822_SRC),
}


@pytest.mark.parametrize("name", list(CASES))
def test_deb_src_derivation(tmp_path, name):
    files, expected = CASES[name]
    (tmp_path / "parts").mkdir()
    for rel, text in files.items():
        (tmp_path / rel).write_text(text)
    conf = tmp_path / "apt.conf"
    conf.write_text(textwrap.dedent(f"""\
        Dir::Etc::sourcelist "{tmp_path}/sources.list";
        Dir::Etc::sourceparts "{tmp_path}/parts";
        """))
    out = subprocess.run(["bash", os.path.join(ROOT, "scripts", "setup"), "--print-deb-src"],
                         env=dict(os.environ, APT_CONFIG=str(conf), BRUT_RELEASE_CODENAME="bookworm"), capture_output=True, text=True,
                         check=True).stdout
    assert out == expected

