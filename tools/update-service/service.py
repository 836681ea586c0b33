#!/usr/bin/env python3
"""Reference BRUptide update service.

Answers the three web-service methods of the update client (QuickCheck,
ReportUpdateStatus, ReportUpgradeOfferStatus), decides from a JSON catalogue
whether a newer build or a major upgrade exists, serves the worker, the ad
viewer and banner pictures, records every request as a JSON line and can be
told to fail in the ways the client has to survive.

Python standard library only.  Run with --help for the command line; see
README.md beside this file for the catalogue format.
"""

import argparse
import codecs
import collections
import copy
import datetime
import fnmatch
import functools
import http.server
import json
import logging
import os
import re
import signal
import socket
import socketserver
import ssl
import sys
import threading
import time
import traceback
import xml.etree.ElementTree as ET
from urllib.parse import unquote, urlsplit

LOG = logging.getLogger("update-service")

ASMX = "BRUTWebservice.asmx"
DEFAULT_NAMESPACE = "http://brindle.example/Uptide/"

# method -> (form argument, document root, reply root)
METHODS = {
    "QuickCheck": ("QuickCheckXML", "QuickCheck", "QuickCheckResponse"),
    "ReportUpdateStatus": ("UpdateStatusXML", "UpdateStatus", "ReportUpdateStatusResponse"),
    "ReportUpgradeOfferStatus": ("UpgradeOfferStatusXML", "UpgradeOfferStatus",
                                 "ReportUpgradeOfferStatusResponse"),
}
FILE_REQUESTS = "GET"

MAX_BODY = 1 << 20
MAX_SLOW_SECONDS = 600.0
DEFAULT_HUGE_BYTES = 4 << 20
MAX_HUGE_BYTES = 64 << 20
CONNECTION_TIMEOUT = 30.0
FIRST_BYTE_TIMEOUT = 10.0
MAX_CONNECTIONS = 64
RECORDS_KEPT = 2000
RECORD_BODY_CHARS = 8192
DEFAULT_ERROR_MESSAGE = "The update service is temporarily unavailable."

ANSI_CODE_PAGES = {
    # primary language id -> code page of the client's ANSI conversions
    0x01: "cp1256", 0x02: "cp1251", 0x05: "cp1250", 0x08: "cp1253", 0x0D: "cp1255",
    0x0E: "cp1250", 0x11: "cp932", 0x12: "cp949", 0x15: "cp1250", 0x18: "cp1250",
    0x19: "cp1251", 0x1B: "cp1250", 0x1C: "cp1250", 0x1E: "cp874", 0x1F: "cp1254",
    0x20: "cp1256", 0x22: "cp1251", 0x23: "cp1251", 0x24: "cp1250", 0x25: "cp1257",
    0x26: "cp1257", 0x27: "cp1257", 0x29: "cp1256", 0x2A: "cp1258", 0x2F: "cp1251",
}
CHINESE_CODE_PAGES = {0x0804: "cp936", 0x1004: "cp936", 0x0404: "cp950",
                      0x0C04: "cp950", 0x1404: "cp950"}


def ansi_code_page(lcid):
    """Code page that a Windows system with this default locale uses as ANSI."""
    if not isinstance(lcid, int) or lcid <= 0:
        return "cp1252"
    if lcid in CHINESE_CODE_PAGES:
        return CHINESE_CODE_PAGES[lcid]
    if lcid == 0x0C1A or lcid == 0x1C1A:  # Serbian / Bosnian in Cyrillic script
        return "cp1251"
    return ANSI_CODE_PAGES.get(lcid & 0x3FF, "cp1252")


# ---------------------------------------------------------------------------
# Request decoding

class BadRequest(ValueError):
    """The request cannot be read; answered with HTTP 400."""


_HEX = "0123456789abcdefABCDEF"
_LOWER_HEX = "0123456789abcdef"


def _encoder_valid(digits, value):
    """Could the client's encoder have written this escape at all?

    Letters, digits and the blank are never escaped, code units up to 0xFF get
    exactly two digits, and the serializer writes control characters other
    than tab, line feed and carriage return as character references.
    """
    if len(digits) == 2:
        if value < 0x80 and (chr(value).isalnum() or value == 0x20):
            return False
        return value >= 0x20 or value in (0x09, 0x0A, 0x0D)
    if any(d not in _LOWER_HEX for d in digits):
        return False
    return value >= (0x100 if len(digits) == 3 else 0x1000)


@functools.lru_cache(maxsize=4096)
def _plausible(code_page, length, value):
    """Can this code unit come out of the client's ANSI conversion?"""
    if length == 2:
        if value < 0x80:
            return True
        try:
            widened = codecs.getincrementaldecoder(code_page)().decode(bytes([value]), final=False)
        except (UnicodeDecodeError, LookupError):
            return True  # a byte the page leaves undefined keeps its own value
        return widened == chr(value)
    try:
        chr(value).encode(code_page)
        return True
    except (UnicodeEncodeError, LookupError):
        return False


def decode_outer(value):
    """Undo the encoding applied by the form layer.

    Its input is the once-encoded document, which is plain ASCII, so every
    escape has exactly two hex digits.
    """
    out = []
    i = 0
    n = len(value)
    while i < n:
        c = value[i]
        if c == "%":
            digits = value[i + 1:i + 3]
            if len(digits) != 2 or any(d not in _HEX for d in digits):
                raise BadRequest("bad escape %r at offset %d" % (value[i:i + 3], i))
            out.append(chr(int(digits, 16)))
            i += 3
        elif c == "+":
            out.append(" ")
            i += 1
        elif c.isascii() and c.isalnum():
            out.append(c)
            i += 1
        else:
            raise BadRequest("unencoded character %r at offset %d" % (c, i))
    return "".join(out)


def decode_inner(value, code_page="cp1252"):
    """Undo the client's own encoding of the document text.

    Code units above 0xFF were written with three or four hex digits, which
    the encoding does not delimit.  An ASCII reading always wins, so documents
    of plain ASCII decode exactly.  Otherwise the text is the client's
    single-byte document widened through its ANSI code page: the longest
    reading this code page can produce is taken, failing that the shortest
    reading the encoder could have written.  Residual ambiguity: a code unit
    whose high byte is ASCII punctuation (U+2122 under cp1252) followed by
    hex-looking text reads as that punctuation.
    """
    out = []
    i = 0
    n = len(value)
    while i < n:
        c = value[i]
        if c == "+":
            out.append(" ")
            i += 1
            continue
        if c != "%":
            if c.isascii() and c.isalnum():
                out.append(c)
                i += 1
                continue
            raise BadRequest("document is not encoded twice: raw %r at offset %d" % (c, i))
        two = value[i + 1:i + 3]
        if len(two) != 2 or any(d not in _HEX for d in two):
            raise BadRequest("bad escape %r in document at offset %d" % (value[i:i + 3], i))
        valid = []
        for length in (2, 3, 4):
            digits = value[i + 1:i + 1 + length]
            if len(digits) == length and all(d in _HEX for d in digits) \
                    and _encoder_valid(digits, int(digits, 16)):
                valid.append((length, int(digits, 16)))
        if not valid:
            raise BadRequest("escape %r in document cannot come from the client"
                             % value[i:i + 5])
        plausible = [v for v in valid if _plausible(code_page, *v)]
        if valid[0][0] == 2 and valid[0][1] < 0x80:
            length, unit = valid[0]
        else:
            length, unit = plausible[-1] if plausible else valid[0]
        out.append(chr(unit))
        i += 1 + length
    return "".join(out)


_ENCODED_OS_LANGUAGE = re.compile(r"%3cOsLanguage%3e(-?\d+)%3c%2fOsLanguage%3e", re.I)


def client_code_page(once_encoded):
    """The client's ANSI code page, from OsLanguage as it stands in the encoded text."""
    m = _ENCODED_OS_LANGUAGE.search(once_encoded)
    return ansi_code_page(int(m.group(1)) if m else 0)


def parse_form(body, argument):
    """Body bytes -> the (still once-encoded) value of the one expected argument."""
    try:
        text = body.decode("ascii")
    except UnicodeDecodeError:
        raise BadRequest("form body is not ASCII")
    values = []
    names = []
    for pair in text.split("&") if text else []:
        name, sep, value = pair.partition("=")
        names.append(name)
        if not sep:
            raise BadRequest("form pair %r has no '='" % pair[:40])
        if name == argument:
            values.append(value)
    if not values:
        raise BadRequest("form argument %s missing (got %s)"
                         % (argument, ", ".join(repr(n) for n in names) or "nothing"))
    if len(values) > 1:
        raise BadRequest("form argument %s given %d times" % (argument, len(values)))
    return values[0]


def document_bytes(text, code_page="cp1252"):
    """The client's single-byte document, recovered from the decoded UTF-16 text.

    The client widened the serialized bytes through its ANSI code page before
    encoding them; this turns them back.  Returns (bytes, problems).
    """
    problems = []
    out = bytearray()
    for ch in text:
        try:
            out += ch.encode(code_page)
            continue
        except (UnicodeEncodeError, LookupError):
            pass
        if ord(ch) <= 0xFF:
            out.append(ord(ch))
        else:
            problems.append("code unit U+%04X has no byte form in %s" % (ord(ch), code_page))
            out += b"?"
    return bytes(out), problems


# References to characters that XML 1.0 forbids, as the client's serializer
# writes them for control characters inside values.
_CONTROL_REF = re.compile(r"&#(?:x0*([0-9a-fA-F]{1,2})|0*(\d{1,2}));")
_CONTROL_BASE = 0xE000


def _mask_controls(doc):
    def repl(m):
        v = int(m.group(1), 16) if m.group(1) else int(m.group(2))
        if v < 0x20 and v not in (0x09, 0x0A, 0x0D):
            return chr(_CONTROL_BASE + v)
        return m.group(0)
    return _CONTROL_REF.sub(repl, doc)


def _unmask_controls(text):
    return "".join(chr(ord(c) - _CONTROL_BASE) if _CONTROL_BASE <= ord(c) < _CONTROL_BASE + 0x20
                   else c for c in text)


def parse_document(doc, expected_root):
    """Document text (latin-1 view of its bytes) -> (element names in order, fields).

    fields maps each child's name to the text of its first occurrence ("" when
    empty).
    """
    try:
        root = ET.fromstring(_mask_controls(doc))
    except ET.ParseError as e:
        raise BadRequest("document is not well-formed XML: %s" % e)
    if root.tag != expected_root:
        raise BadRequest("document root is <%s>, expected <%s>" % (root.tag, expected_root))
    order = []
    fields = {}
    for child in root:
        order.append(child.tag)
        if child.tag not in fields:
            fields[child.tag] = _unmask_controls(child.text or "")
    return order, fields


# ---------------------------------------------------------------------------
# Versions and the catalogue

class CatalogueError(ValueError):
    pass


def parse_version(text):
    """Dotted numeric version -> tuple of ints, or None when it is not one."""
    if not isinstance(text, str):
        return None
    parts = text.strip().split(".")
    if not parts or any(not p.isdigit() or not p.isascii() for p in parts):
        return None
    return tuple(int(p) for p in parts)


def compare_versions(a, b):
    """-1, 0, 1; missing trailing parts count as 0 (5.2 == 5.2.0)."""
    n = max(len(a), len(b))
    a = a + (0,) * (n - len(a))
    b = b + (0,) * (n - len(b))
    return (a > b) - (a < b)


FAULT_TYPES = {
    "http_500": bool, "http_status": int, "empty_envelope": bool,
    "malformed_envelope": bool, "malformed_inner": bool, "error_message": (bool, str),
    "slow": (int, float), "drop": bool, "huge": (bool, int), "first": int, "methods": list,
    "truncate": int,
}
DEFAULT_FAULT_METHODS = ["QuickCheck"]


def validate_faults(faults, where):
    if faults is None:
        return {}
    if not isinstance(faults, dict):
        raise CatalogueError("%s: faults must be an object" % where)
    for key, value in faults.items():
        if key not in FAULT_TYPES:
            raise CatalogueError("%s: unknown fault %r (known: %s)"
                                 % (where, key, ", ".join(sorted(FAULT_TYPES))))
        types = FAULT_TYPES[key] if isinstance(FAULT_TYPES[key], tuple) else (FAULT_TYPES[key],)
        if value is None:
            continue
        if not isinstance(value, types) or (isinstance(value, bool) and bool not in types):
            raise CatalogueError("%s: fault %s has a value of the wrong type: %r"
                                 % (where, key, value))
    status = faults.get("http_status")
    if status is not None and not 100 <= status <= 599:
        raise CatalogueError("%s: http_status %d is no HTTP status" % (where, status))
    slow = faults.get("slow")
    if slow is not None and not 0 <= slow <= MAX_SLOW_SECONDS:
        raise CatalogueError("%s: slow must be 0..%d seconds" % (where, MAX_SLOW_SECONDS))
    huge = faults.get("huge")
    if huge is not None and not isinstance(huge, bool) and not 0 <= huge <= MAX_HUGE_BYTES:
        raise CatalogueError("%s: huge must be at most %d bytes" % (where, MAX_HUGE_BYTES))
    truncate = faults.get("truncate")
    if truncate is not None and truncate < 0:
        raise CatalogueError("%s: truncate must not be negative" % where)
    first = faults.get("first")
    if first is not None and first < 0:
        raise CatalogueError("%s: first must not be negative" % where)
    for method in faults.get("methods") or []:
        if not isinstance(method, str) or not (
                method in METHODS or method == FILE_REQUESTS or method == "*"
                or method.startswith(FILE_REQUESTS + ":")):
            raise CatalogueError("%s: unknown method %r in faults" % (where, method))
    return dict(faults)


def _optional_url(entry, key, where):
    if key not in entry:
        return None
    value = entry[key]
    if value is not None and not isinstance(value, str):
        raise CatalogueError("%s: %s must be a text or null" % (where, key))
    return value


def validate_catalogue(data):
    """Check a parsed catalogue and return a normalized deep copy."""
    if not isinstance(data, dict):
        raise CatalogueError("catalogue must be a JSON object")
    known = {"products", "worker", "faults", "files", "namespace", "comment"}
    for key in data:
        if key not in known:
            raise CatalogueError("unknown catalogue key %r (known: %s)"
                                 % (key, ", ".join(sorted(known))))
    cat = {"products": {}, "worker": {}, "faults": {}, "files": {},
           "namespace": data.get("namespace") or DEFAULT_NAMESPACE}
    if not isinstance(cat["namespace"], str):
        raise CatalogueError("namespace must be a text")

    worker = data.get("worker") or {}
    if not isinstance(worker, dict):
        raise CatalogueError("worker must be an object")
    for key in worker:
        if key not in ("worker_url", "ad_viewer_url", "comment"):
            raise CatalogueError("worker: unknown key %r" % key)
    cat["worker"] = {
        "worker_url": _optional_url(worker, "worker_url", "worker")
        if "worker_url" in worker else "BRUptideWorker.exe",
        "ad_viewer_url": _optional_url(worker, "ad_viewer_url", "worker")
        if "ad_viewer_url" in worker else "BRAdViewer.exe",
    }

    products = data.get("products") or {}
    if not isinstance(products, dict):
        raise CatalogueError("products must be an object keyed by ProgramName")
    product_keys = {"majors", "major_upgrade", "worker_url", "ad_viewer_url",
                    "error_message", "faults", "comment"}
    for name, entry in products.items():
        where = "product %r" % name
        if not isinstance(entry, dict):
            raise CatalogueError("%s must be an object" % where)
        for key in entry:
            if key not in product_keys:
                raise CatalogueError("%s: unknown key %r (known: %s)"
                                     % (where, key, ", ".join(sorted(product_keys))))
        majors = {}
        if not isinstance(entry.get("majors") or {}, dict):
            raise CatalogueError("%s: majors must be an object keyed by major version" % where)
        for major, info in (entry.get("majors") or {}).items():
            if not major.isdigit():
                raise CatalogueError("%s: major %r is not a number" % (where, major))
            latest = info.get("latest") if isinstance(info, dict) else info
            if parse_version(latest) is None:
                raise CatalogueError("%s: latest build of major %s (%r) is not a dotted number"
                                     % (where, major, latest))
            if parse_version(latest)[0] != int(major):
                raise CatalogueError("%s: latest build %s does not belong to major %s"
                                     % (where, latest, major))
            majors[int(major)] = latest.strip()
        upgrade = entry.get("major_upgrade")
        if upgrade is not None and (isinstance(upgrade, bool) or not isinstance(upgrade, int)
                                    or upgrade <= 0):
            raise CatalogueError("%s: major_upgrade must be a positive number or null" % where)
        message = entry.get("error_message")
        if message is not None and not isinstance(message, str):
            raise CatalogueError("%s: error_message must be a text or null" % where)
        product = {"majors": majors, "major_upgrade": upgrade, "error_message": message,
                   "faults": validate_faults(entry.get("faults"), where)}
        for key in ("worker_url", "ad_viewer_url"):
            if key in entry:
                product[key] = _optional_url(entry, key, where)
        cat["products"][name] = product

    cat["faults"] = validate_faults(data.get("faults"), "faults")

    files = data.get("files") or {}
    if not isinstance(files, dict) or not all(
            isinstance(k, str) and k.startswith("/") and isinstance(v, str)
            for k, v in files.items()):
        raise CatalogueError("files must map URL paths (starting with '/') to file names")
    cat["files"] = {re.sub("/+", "/", k): v for k, v in files.items()}
    return cat


def load_catalogue(path):
    """Read a catalogue file; returns the raw data after checking it."""
    try:
        with open(path, "r", encoding="utf-8") as f:
            data = json.load(f)
    except OSError as e:
        raise CatalogueError("cannot read catalogue %s: %s" % (path, e.strerror or e))
    except ValueError as e:
        raise CatalogueError("catalogue %s is not valid JSON: %s" % (path, e))
    validate_catalogue(data)
    return data


def resolve_url(value, scheme, host, base):
    """Catalogue URL value -> absolute URL ("" or None: no URL)."""
    if not value:
        return ""
    value = value.replace("{scheme}", scheme).replace("{host}", host).replace("{base}", base)
    if value.startswith("http://") or value.startswith("https://"):
        return value
    if value.startswith("/"):
        return "%s://%s%s" % (scheme, host, value)
    return "%s://%s%sfiles/%s" % (scheme, host, base, value)


def decide_quickcheck(catalogue, fields, scheme, host, base):
    """Reply elements (ordered list of (name, text)) and a decision summary."""
    worker = catalogue["worker"]
    decision = {"mode": "worker" if "ProgramName" not in fields else "product"}
    elements = []
    worker_url = worker["worker_url"]
    ad_viewer_url = worker["ad_viewer_url"]

    if decision["mode"] == "product":
        name = fields.get("ProgramName", "")
        installed_text = fields.get("ProgramVersionNumber", "")
        product = catalogue["products"].get(name)
        decision.update(product=name, installed=installed_text, known=product is not None)
        if product is not None:
            worker_url = product.get("worker_url", worker_url)
            ad_viewer_url = product.get("ad_viewer_url", ad_viewer_url)
            if product["error_message"]:
                elements.append(("ErrorMessage", product["error_message"]))
            installed = parse_version(installed_text)
            if installed is None:
                decision["note"] = "installed version is not a dotted number"
            else:
                major = installed[0]
                latest = product["majors"].get(major)
                decision["latest"] = latest
                if latest and compare_versions(parse_version(latest), installed) > 0:
                    elements.append(("MaxUpdateableProductVersionExistingOnServer", latest))
                    decision["offered_version"] = latest
                upgrade = product["major_upgrade"]
                if upgrade is not None and upgrade > major:
                    elements.append(("MajorUpgradeProductVersion", str(upgrade)))
                    decision["major_upgrade"] = upgrade

    for element, value in (("UptideWorkerUrl", worker_url), ("AdViewerUrl", ad_viewer_url)):
        url = resolve_url(value, scheme, host, base)
        if url:
            elements.append((element, url))
    return elements, decision


# ---------------------------------------------------------------------------
# Replies

_ESCAPES = {"&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;"}
_NEEDS_ESCAPE = re.compile(r'[&<>"\x00-\x1f]')
_NEEDS_ESCAPE_OR_HIGH = re.compile(r'[&<>"\x00-\x1f\x80-\xff]')


def _escape_bytes(data, references_above_ascii):
    """XML text for bytes, one character per byte; control bytes as references."""
    pattern = _NEEDS_ESCAPE_OR_HIGH if references_above_ascii else _NEEDS_ESCAPE
    return pattern.sub(lambda m: _ESCAPES.get(m.group()) or "&#x%02X;" % ord(m.group()),
                       data.decode("latin-1"))


def inner_document(root, elements, code_page):
    """The inner reply document as bytes in the client's ANSI code page.

    The client takes element texts over through its ANSI code page, so values
    are encoded for that page; characters it cannot represent become '?'.
    """
    parts = [b"<" + root.encode("ascii") + b">"]
    for name, value in elements:
        data = value.encode(code_page, errors="replace")
        tag = name.encode("ascii")
        parts.append(b"<" + tag + b">" + _escape_bytes(data, False).encode("latin-1")
                     + b"</" + tag + b">")
    parts.append(b"</" + root.encode("ascii") + b">")
    return b"".join(parts)


def _envelope_start(namespace):
    return ('<?xml version="1.0" encoding="ISO-8859-1"?>\r\n<string xmlns="%s"'
            % _escape_bytes(namespace.encode("latin-1", "replace"), True))


def envelope(inner, namespace):
    """Wrap the inner document's bytes as the text of an ASCII envelope.

    The declaration names ISO-8859-1 so that the client's XML parser turns each
    character reference back into the single byte it stands for (a UTF-8
    declaration would make it write the reference as a UTF-8 sequence).
    """
    return "%s>%s</string>" % (_envelope_start(namespace), _escape_bytes(inner, True))


def empty_envelope(namespace):
    return _envelope_start(namespace) + " />"


def malformed_envelope(namespace):
    return _envelope_start(namespace) + "><QuickCheckResponse></string>"


MALFORMED_INNER = (b"<QuickCheckResponse><MaxUpdateableProductVersionExistingOnServer>"
                   b"99.0.0</QuickCheckResponse>")


# ---------------------------------------------------------------------------
# Shared state

class FaultSet:
    def __init__(self, faults):
        self.faults = dict(faults)
        self.seen = 0
        self.lock = threading.Lock()

    def matches(self, method, path):
        for m in self.faults.get("methods") or DEFAULT_FAULT_METHODS:
            if m == "*" or m == method:
                return True
            if method == FILE_REQUESTS and m.startswith(FILE_REQUESTS + ":") \
                    and fnmatch.fnmatchcase(path, m[len(FILE_REQUESTS) + 1:]):
                return True
        return False

    def take(self, method, path):
        """Faults to apply to this request ({} when none)."""
        if not self.faults or not self.matches(method, path):
            return {}
        with self.lock:
            self.seen += 1
            seen = self.seen
        first = self.faults.get("first")
        if first is not None and seen > first:
            return {}
        return {k: v for k, v in self.faults.items()
                if k not in ("first", "methods") and v not in (None, False, 0)}


class ServiceState:
    def __init__(self, catalogue, record_path=None, files_dir=None):
        self.lock = threading.Lock()
        self.stop_event = threading.Event()
        self.files_dir = os.path.realpath(files_dir) if files_dir else None
        self.record_path = record_path
        self.records = collections.deque(maxlen=RECORDS_KEPT)
        self.sequence = 0
        self.set_catalogue(catalogue)

    def set_catalogue(self, catalogue):
        with self.lock:
            self.catalogue = catalogue
            self.global_faults = FaultSet(catalogue["faults"])
            self.product_faults = {name: FaultSet(p["faults"])
                                   for name, p in catalogue["products"].items()}

    def set_faults(self, faults, product=None):
        with self.lock:
            if product is None:
                self.catalogue["faults"] = faults
                self.global_faults = FaultSet(faults)
            else:
                if product not in self.catalogue["products"]:
                    raise CatalogueError("unknown product %r" % product)
                self.catalogue["products"][product]["faults"] = faults
                self.product_faults[product] = FaultSet(faults)

    def faults_for(self, method, path, product=None):
        with self.lock:
            product_set = self.product_faults.get(product) if product is not None else None
            global_set = self.global_faults
        if product_set is not None and product_set.faults and product_set.matches(method, path):
            return product_set.take(method, path)
        return global_set.take(method, path)

    def record(self, entry):
        with self.lock:
            self.sequence += 1
            entry = dict(entry, seq=self.sequence)
            self.records.append(entry)
            if self.record_path:
                try:
                    with open(self.record_path, "a", encoding="ascii") as f:
                        f.write(json.dumps(entry, ensure_ascii=True) + "\n")
                except OSError as e:
                    LOG.error("cannot write record file %s: %s", self.record_path, e)


def _now():
    return datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="milliseconds")


# ---------------------------------------------------------------------------
# HTTP

_METHOD_PATH = re.compile(r"^(?P<base>/(?:.*/)?)" + re.escape(ASMX) + r"/(?P<method>[^/]+)$")
_CONTENT_TYPES = {".bmp": "image/bmp", ".exe": "application/octet-stream",
                  ".msi": "application/octet-stream", ".txt": "text/plain"}


class Handler(http.server.BaseHTTPRequestHandler):
    server_version = "BRUTService/1.0"
    timeout = CONNECTION_TIMEOUT

    @property
    def state(self):
        return self.server.state

    @property
    def is_tls(self):
        return isinstance(self.connection, ssl.SSLSocket)

    def log_message(self, fmt, *args):
        LOG.debug("%s %s", self.address_string(), fmt % args)

    def _host(self):
        host = self.headers.get("Host")
        if not host or not re.match(r"^[A-Za-z0-9.\-\[\]:]+$", host):
            addr, port = self.server.server_address[:2]
            host = "%s:%d" % (addr, port)
        return host

    def _transport_fault(self, faults, entry, what):
        """Applies the faults that concern the connection itself (delay, drop,
        HTTP status). True when the request has been answered (or dropped)."""
        if faults.get("slow"):
            self._sleep(faults["slow"])
        if faults.get("drop"):
            LOG.info("%s: dropping the connection without an answer", what)
            self.close_connection = True
            self.state.record(dict(entry, status=None))
            return True
        status = faults.get("http_status") or (500 if faults.get("http_500") else None)
        if status:
            self.state.record(dict(entry, status=status))
            self._send(status, "fault: HTTP %d\n" % status)
            return True
        return False

    def _send(self, status, body, content_type="text/plain; charset=us-ascii"):
        if isinstance(body, str):
            body = body.encode("ascii", "backslashreplace")
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)
        self.close_connection = True

    def _base_entry(self):
        return {"time": _now(), "client": "%s:%d" % self.client_address[:2], "tls": self.is_tls,
                "http_method": self.command, "path": self.path}

    def _sleep(self, seconds):
        LOG.info("fault slow: waiting %.1f s", seconds)
        self.state.stop_event.wait(min(float(seconds), MAX_SLOW_SECONDS))

    def _guarded(self, work):
        try:
            work()
        except (ConnectionError, socket.timeout) as e:
            LOG.warning("%s: connection lost: %s", self.address_string(), e)
            self.close_connection = True
        except Exception:  # never let one request take the service down
            LOG.error("internal error on %s %s:\n%s", self.command, self.path,
                      traceback.format_exc())
            try:
                self._send(500, "internal error\n")
            except Exception:
                pass
            self.state.record(dict(self._base_entry(), status=500, error="internal error"))

    # -- dispatch

    def do_POST(self):
        self._guarded(self._post)

    def do_GET(self):
        self._guarded(self._get)

    def do_HEAD(self):
        self._guarded(self._get)

    def _read_body(self):
        if self.headers.get("Transfer-Encoding"):
            raise BadRequest("chunked bodies are not accepted")
        length = self.headers.get("Content-Length")
        if length is None or not length.strip().isdigit():
            raise BadRequest("missing or bad Content-Length")
        length = int(length)
        if length > MAX_BODY:
            raise BadRequest("body of %d bytes exceeds the limit of %d" % (length, MAX_BODY))
        body = self.rfile.read(length)
        if len(body) != length:
            raise BadRequest("body ended after %d of %d bytes" % (len(body), length))
        return body

    def _post(self):
        path = urlsplit(self.path).path
        if path.startswith("/control/"):
            return self._control(path)
        entry = self._base_entry()
        m = _METHOD_PATH.match(path)
        if not m or m.group("method") not in METHODS:
            LOG.warning("POST to unknown address %s", path)
            self.state.record(dict(entry, status=404, error="unknown address"))
            self._send(404, "no such method\n")
            return
        method, base = m.group("method"), m.group("base")
        argument, root, reply_root = METHODS[method]
        entry.update(method=method, base=base, argument=argument)
        body = b""
        try:
            body = self._read_body()
            content_type = self.headers.get("Content-Type", "")
            if content_type.split(";")[0].strip().lower() != "application/x-www-form-urlencoded":
                LOG.warning("%s: unexpected Content-Type %r", method, content_type)
                entry["problems"] = ["unexpected Content-Type %r" % content_type]
            once = decode_outer(parse_form(body, argument))
            page = client_code_page(once)
            raw, problems = document_bytes(decode_inner(once, page), page)
            doc = raw.decode("latin-1")
            entry.update(document=doc, code_page=page)
            if problems:
                entry.setdefault("problems", []).extend(problems)
            order, fields = parse_document(doc, root)
        except BadRequest as e:
            LOG.error("%s from %s rejected: %s", method, self.client_address[0], e)
            self.state.record(dict(entry, status=400, error=str(e),
                                   body=body[:RECORD_BODY_CHARS].decode("latin-1")))
            self._send(400, "bad request: %s\n" % e)
            return
        entry.update(elements=order, fields=fields)

        with self.state.lock:
            catalogue = copy.deepcopy(self.state.catalogue)
        scheme = "https" if self.is_tls else "http"
        if method == "QuickCheck":
            elements, decision = decide_quickcheck(catalogue, fields, scheme, self._host(), base)
            entry["decision"] = decision
            product = fields.get("ProgramName")
            LOG.info("QuickCheck (%s mode) product=%r installed=%r -> %s", decision["mode"],
                     product, fields.get("ProgramVersionNumber"),
                     ", ".join("%s=%s" % e for e in elements) or "nothing")
        else:
            elements, product = [("Result", "OK")], fields.get("ProgramName")
            LOG.info("%s: %s", method, ", ".join("%s=%s" % kv for kv in fields.items()))

        faults = self.state.faults_for(method, path, product)
        if faults:
            entry["faults"] = sorted(faults)
            LOG.info("%s: applying faults %s", method, ", ".join(sorted(faults)))
        if self._transport_fault(faults, entry, method):
            return

        namespace = catalogue["namespace"]
        if faults.get("error_message"):
            text = faults["error_message"]
            text = DEFAULT_ERROR_MESSAGE if text is True else text
            elements = [("ErrorMessage", text)] + [e for e in elements if e[0] != "ErrorMessage"]
        if faults.get("huge"):
            size = DEFAULT_HUGE_BYTES if faults["huge"] is True else faults["huge"]
            elements = elements + [("Padding", "x" * size)]
        inner = inner_document(reply_root, elements, page)
        if faults.get("malformed_inner"):
            inner = MALFORMED_INNER
        if faults.get("empty_envelope"):
            reply = empty_envelope(namespace)
        elif faults.get("malformed_envelope"):
            reply = malformed_envelope(namespace)
        else:
            reply = envelope(inner, namespace)
        entry.update(status=200,
                     reply_elements={k: v for k, v in elements if k != "Padding"},
                     inner=inner.decode("latin-1")[:RECORD_BODY_CHARS],
                     reply=reply[:RECORD_BODY_CHARS], reply_length=len(reply))
        # recorded before answering, so whoever got the answer finds the record
        self.state.record(entry)
        self._send(200, reply, "text/xml; charset=iso-8859-1")

    # -- files

    def _resolve_file(self, path):
        root = self.state.files_dir
        if not root:
            return None
        with self.state.lock:
            routes = dict(self.state.catalogue["files"])
        candidates = []
        if path in routes:
            candidates.append(routes[path])
        segments = path.strip("/").split("/")
        for i, seg in enumerate(segments):
            if seg == "files" and i + 1 < len(segments):
                candidates.append("/".join(segments[i + 1:]))
            if seg == "Banner" and i + 2 == len(segments):
                candidates.append("Banner/" + segments[-1])
        for rel in candidates:
            full = os.path.realpath(os.path.join(root, rel))
            if os.path.commonpath([full, root]) != root:
                LOG.warning("refusing %s: outside the files directory", path)
                continue
            if os.path.isfile(full):
                return full
        return None

    def _get(self):
        path = urlsplit(self.path).path
        if path.startswith("/control/"):
            return self._control(path)
        path = re.sub("/+", "/", unquote(path))
        entry = dict(self._base_entry(), method=FILE_REQUESTS)
        faults = self.state.faults_for(FILE_REQUESTS, path)
        if faults:
            entry["faults"] = sorted(faults)
        if self._transport_fault(faults, entry, "GET " + path):
            return
        full = self._resolve_file(path)
        if full is None:
            LOG.warning("GET %s: not found", path)
            self.state.record(dict(entry, status=404))
            self._send(404, "not found\n")
            return
        size = os.path.getsize(full)
        # truncate: the full length is announced, fewer bytes arrive, the connection closes.
        sent = min(size, faults["truncate"]) if faults.get("truncate") is not None else size
        self.state.record(dict(entry, status=200, file=os.path.relpath(full, self.state.files_dir),
                               bytes=sent))
        self.send_response(200)
        self.send_header("Content-Type", _CONTENT_TYPES.get(
            os.path.splitext(full)[1].lower(), "application/octet-stream"))
        self.send_header("Content-Length", str(size))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            with open(full, "rb") as f:
                left = sent
                while left:
                    chunk = f.read(min(65536, left))
                    if not chunk:
                        break
                    self.wfile.write(chunk)
                    left -= len(chunk)
        self.close_connection = True
        LOG.info("GET %s: sent %s (%d of %d bytes)", path, full, sent, size)

    # -- control

    def _json(self, status, value):
        self._send(status, json.dumps(value, ensure_ascii=True, indent=1) + "\n",
                   "application/json")

    def _control(self, path):
        try:
            if self.command in ("GET", "HEAD"):
                if path == "/control/state":
                    with self.state.lock:
                        return self._json(200, {"catalogue": self.state.catalogue})
                if path == "/control/records":
                    with self.state.lock:
                        return self._json(200, list(self.state.records))
                return self._json(404, {"error": "unknown control address"})
            data = json.loads(self._read_body().decode("utf-8") or "null")
            if path == "/control/faults":
                if isinstance(data, dict) and "faults" in data:
                    product = data.get("product")
                    faults = validate_faults(data["faults"], "control")
                else:
                    product, faults = None, validate_faults(data, "control")
                self.state.set_faults(faults, product)
                LOG.info("control: faults%s set to %s",
                         "" if product is None else " of %r" % product, json.dumps(faults))
                return self._json(200, {"ok": True})
            if path == "/control/catalogue":
                self.state.set_catalogue(validate_catalogue(data))
                LOG.info("control: catalogue replaced")
                return self._json(200, {"ok": True})
            return self._json(404, {"error": "unknown control address"})
        except (BadRequest, CatalogueError, ValueError) as e:
            LOG.error("control %s rejected: %s", path, e)
            return self._json(400, {"error": str(e)})


class SniffingServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    """HTTP server that also speaks TLS on the same port.

    The first byte of a TLS connection is a handshake record (0x16); only such
    connections are wrapped, so a client's https-to-http retry reaches the
    same host and port.
    """
    daemon_threads = True
    block_on_close = False
    allow_reuse_address = True

    def __init__(self, address, state, tls_context=None):
        self.state = state
        self.tls_context = tls_context
        self.slots = threading.BoundedSemaphore(MAX_CONNECTIONS)
        super().__init__(address, Handler)

    def process_request(self, request, client_address):
        if not self.slots.acquire(blocking=False):
            LOG.error("too many connections; closing the one from %s", client_address[0])
            self.shutdown_request(request)
            return
        super().process_request(request, client_address)

    def process_request_thread(self, request, client_address):
        try:
            super().process_request_thread(request, client_address)
        finally:
            self.slots.release()

    def finish_request(self, request, client_address):
        conn = request
        try:
            if self.tls_context is not None:
                request.settimeout(FIRST_BYTE_TIMEOUT)
                first = request.recv(1, socket.MSG_PEEK)
                if not first:
                    return
                if first == b"\x16":
                    try:
                        conn = self.tls_context.wrap_socket(request, server_side=True)
                    except (ssl.SSLError, OSError) as e:
                        LOG.warning("TLS handshake with %s failed: %s", client_address[0], e)
                        self.state.record({"time": _now(), "client": "%s:%d" % client_address[:2],
                                           "tls": True, "event": "tls_handshake_failed",
                                           "error": str(e)})
                        return
            conn.settimeout(CONNECTION_TIMEOUT)
            Handler(conn, client_address, self)
        except (socket.timeout, ConnectionError) as e:
            LOG.warning("connection from %s ended: %s", client_address[0], e)
        finally:
            if conn is not request:
                try:
                    conn.close()
                except OSError:
                    pass

    def handle_error(self, request, client_address):
        LOG.error("unhandled error for %s:\n%s", client_address, traceback.format_exc())


class UpdateService:
    """The service as an object: start(), port, url(), stop()."""

    def __init__(self, catalogue=None, record_path=None, files_dir=None, host="127.0.0.1",
                 port=0, cert=None, key=None):
        catalogue = validate_catalogue(catalogue if catalogue is not None else {})
        tls = None
        if cert:
            tls = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            tls.load_cert_chain(cert, key)
        self.state = ServiceState(catalogue, record_path, files_dir)
        self.httpd = SniffingServer((host, port), self.state, tls)
        self.https = tls is not None
        self.thread = None

    @property
    def port(self):
        return self.httpd.server_address[1]

    def url(self, base="/Uptide/", scheme="http"):
        return "%s://%s:%d%s" % (scheme, self.httpd.server_address[0], self.port, base)

    def start(self):
        self.thread = threading.Thread(target=self.httpd.serve_forever,
                                       kwargs={"poll_interval": 0.05},
                                       name="update-service", daemon=True)
        self.thread.start()
        return self

    def stop(self):
        self.state.stop_event.set()
        if self.thread is not None:
            self.httpd.shutdown()
            self.thread.join(5)
        self.httpd.server_close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


def main(argv=None):
    parser = argparse.ArgumentParser(description="Reference BRUptide update service.")
    parser.add_argument("--catalogue", help="JSON catalogue (default: no products)")
    parser.add_argument("--host", default="127.0.0.1", help="address to bind (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=0, help="port (default 0: any free port)")
    parser.add_argument("--record", help="append one JSON line per request to this file")
    parser.add_argument("--files", help="directory with the files to serve")
    parser.add_argument("--https", action="store_true",
                        help="also accept TLS on the same port (needs --cert and --key)")
    parser.add_argument("--cert", help="PEM certificate for --https")
    parser.add_argument("--key", help="PEM private key for --https")
    parser.add_argument("--port-file", help="write the chosen port number to this file")
    parser.add_argument("--lifetime", type=float, default=0,
                        help="stop by itself after this many seconds (default 0: run until "
                             "interrupted)")
    parser.add_argument("--verbose", action="store_true", help="also log each HTTP request line")
    args = parser.parse_args(argv)

    logging.basicConfig(level=logging.DEBUG if args.verbose else logging.INFO,
                        format="%(asctime)s %(levelname).3s %(message)s", stream=sys.stderr)
    if args.https and not (args.cert and args.key):
        parser.error("--https needs --cert and --key (see make-cert.sh)")
    if args.files and not os.path.isdir(args.files):
        parser.error("--files %s is not a directory" % args.files)
    try:
        catalogue = load_catalogue(args.catalogue) if args.catalogue else {}
    except CatalogueError as e:
        LOG.error("%s", e)
        return 2
    try:
        service = UpdateService(catalogue, args.record, args.files, args.host, args.port,
                                args.cert if args.https else None, args.key)
    except (OSError, ssl.SSLError) as e:
        LOG.error("cannot start: %s", e)
        return 2

    def stop(signum, frame):
        service.state.stop_event.set()
    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    service.start()
    if args.port_file:
        with open(args.port_file, "w") as f:
            f.write("%d\n" % service.port)
    print("PORT=%d" % service.port, flush=True)
    LOG.info("listening on %s:%d (%s); base URL for the client: %s", args.host, service.port,
             "http and https" if service.https else "http", service.url())
    deadline = time.monotonic() + args.lifetime if args.lifetime > 0 else None
    while not service.state.stop_event.wait(1.0):
        if deadline is not None and time.monotonic() >= deadline:
            break
    LOG.info("stopping")
    service.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
