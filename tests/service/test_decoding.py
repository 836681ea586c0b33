import pytest

import service
from clientlike import quickcheck_doc, url_encode, widen


@pytest.mark.parametrize("text, page", [
    ("<QuickCheck>\n    <MAC />\n</QuickCheck>\n", "cp1252"),
    ("a&b=c+d%e 100% ~-_.*", "cp1252"),
    ("Caf\u00e9 \u00fc\u00ff\u00a0\u00a92022", "cp1252"),
    ("\u20acac\u201e1", "cp1252"),         # four-digit escapes followed by hex-looking text
    ("\u0152a\u0192" + "0", "cp1252"),    # three-digit escapes followed by hex-looking text
    ("\u65e5\u672c\u8a9ea\uff71b:1a~48E", "cp932"),
    ("\u0410\u0411a1 \u045f", "cp1251"),
])
def test_double_encoding_round_trips(text, page):
    encoded = url_encode(url_encode(text))
    assert service.decode_inner(service.decode_outer(encoded), page) == text


def test_double_encoding_of_markup_matches_the_wire_form():
    assert url_encode(url_encode("< ")) == "%253c%2b"
    assert service.decode_outer("%253c%2b") == "%3c+"


@pytest.mark.parametrize("outer", [
    "%3",           # truncated escape
    "%zz",
    "%3c",          # encoded once only: raw '<' reaches the inner level
    "abc-def",      # a character the client always escapes
    "%2530",        # '0' is never escaped by the client
    "%2520",        # nor is the blank
    "%2501",        # control characters arrive as character references
    "%25000a",      # three or four digits only for code units above 0xFF
])
def test_malformed_encodings_are_rejected(outer):
    with pytest.raises(service.BadRequest):
        service.decode_inner(service.decode_outer(outer))


def test_document_bytes_are_recovered_through_the_ansi_code_page():
    doc = quickcheck_doc("Caf\u00e9\x80ac")
    once = url_encode(widen(doc))
    assert service.client_code_page(once) == "cp1252"
    raw, problems = service.document_bytes(service.decode_inner(once, "cp1252"), "cp1252")
    assert raw == doc.encode("latin-1") and not problems

    doc = quickcheck_doc("Caf\u00e9s", os_language="1041")
    wide = widen(doc, "cp932")
    assert "\u00e9" not in wide          # the byte pair became one Japanese character
    once = url_encode(wide)
    assert service.client_code_page(once) == "cp932"
    raw, _ = service.document_bytes(service.decode_inner(once, "cp932"), "cp932")
    assert raw == doc.encode("latin-1")


def test_control_character_references_reach_the_fields():
    doc = quickcheck_doc("A\x01B\tC", affiliate="x&y")
    order, fields = service.parse_document(doc, "QuickCheck")
    assert fields["ProgramName"] == "A\x01B\tC"
    assert fields["AffiliateId"] == "x&y"
    assert fields["UptideWorkerVersion"] == ""
    assert order[0] == "Version" and order[-1] == "AffiliateId"
    with pytest.raises(service.BadRequest):
        service.parse_document(doc, "UpdateStatus")
    with pytest.raises(service.BadRequest):
        service.parse_document("<QuickCheck><A></QuickCheck>", "QuickCheck")


@pytest.mark.parametrize("catalogue, fragment", [
    ({"product": {}}, "unknown catalogue key"),
    ({"products": {"A": {"majors": {"5": "6.0"}}}}, "does not belong"),
    ({"products": {"A": {"majors": {"x": "1.0"}}}}, "not a number"),
    ({"products": {"A": {"majors": {"5": "5.x"}}}}, "not a dotted number"),
    ({"products": {"A": {"major_upgrade": "6"}}}, "major_upgrade"),
    ({"products": {"A": {"latest": "1.0"}}}, "unknown key"),
    ({"faults": {"http500": True}}, "unknown fault"),
    ({"faults": {"drop": 1}}, "wrong type"),
    ({"faults": {"slow": 10000}}, "slow"),
    ({"faults": {"drop": True, "methods": ["Quickcheck"]}}, "unknown method"),
    ({"files": {"dl/x": "x"}}, "files"),
])
def test_catalogue_mistakes_are_named(catalogue, fragment):
    with pytest.raises(service.CatalogueError, match=fragment):
        service.validate_catalogue(catalogue)
