"""What the update client puts on the wire, written independently of the service."""

import http.client
import xml.etree.ElementTree as ET

NS = "{http://brindle.example/Uptide/}"


def url_encode(text):
    """The client's UrlEncode: per UTF-16 code unit, alnum kept, blank '+', rest %hex."""
    data = text.encode("utf-16-le", "surrogatepass")
    out = []
    for i in range(0, len(data), 2):
        u = data[i] | (data[i + 1] << 8)
        c = chr(u)
        if u < 0x80 and c.isalnum():
            out.append(c)
        elif u == 0x20:
            out.append("+")
        else:
            out.append("%%%02x" % u)
    return "".join(out)


def _xml_escape(value):
    out = []
    for c in value:
        o = ord(c)
        if c == "&":
            out.append("&amp;")
        elif c == "<":
            out.append("&lt;")
        elif c == ">":
            out.append("&gt;")
        elif c == '"':
            out.append("&quot;")
        elif c == "'":
            out.append("&apos;")
        elif o < 32:
            out.append("&#x%02X;" % o)
        else:
            out.append(c)
    return "".join(out)


def serialize(root, children):
    """Serialize like the client's printer: four-blank indent, '\\n' line ends.

    children: (name, value) pairs; value None gives an empty element tag.
    Values hold single-byte text (code points up to 0xFF).
    """
    lines = ["<%s>" % root]
    for name, value in children:
        if value is None:
            lines.append("    <%s />" % name)
        else:
            lines.append("    <%s>%s</%s>" % (name, _xml_escape(value), name))
    lines.append("</%s>" % root)
    return "\n".join(lines) + "\n"


def quickcheck_doc(product=None, version="5.1.2", os_language="1033", **extra):
    """A QuickCheck document; product None gives the worker-mode form."""
    children = [("Version", "9.0.8"), ("MAC", "0:1A:2B:3C:4D:5E"), ("UptideWorkerVersion", None),
                ("OsVersion", "6.1"), ("OsProductType", "WorkStation"),
                ("OsLanguage", os_language), ("OsArchitecture", "64"),
                ("MachineGuid", "6f1c2d3e-0000-4000-8000-123456789abc")]
    if product is not None:
        children += [("ProgramName", product), ("ProgramVersionNumber", version),
                     ("ProgramLanguage", "1031"), ("ProgramInstallDate", "20200131"),
                     ("AffiliateId", extra.pop("affiliate", ""))]
    children += list(extra.items())
    return serialize("QuickCheck", children)


def widen(document, code_page="cp1252"):
    """The client takes the serialized bytes over into UTF-16 through its ANSI code page."""
    return document.encode("latin-1").decode(code_page)


def form_body(argument, document, code_page="cp1252"):
    return argument + "=" + url_encode(url_encode(widen(document, code_page)))


def post(port, method, body, base="/Uptide/", headers=None, timeout=10, connection=None):
    """POST a form body; returns (status, body bytes)."""
    conn = connection or http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        conn.request("POST", base + "BRUTWebservice.asmx/" + method, body.encode("ascii"),
                     headers or {"Content-Type": "application/x-www-form-urlencoded"})
        response = conn.getresponse()
        return response.status, response.read()
    finally:
        conn.close()


def quickcheck(port, document, **kw):
    return post(port, "QuickCheck", form_body("QuickCheckXML", document), **kw)


def read_reply(body, code_page="cp1252"):
    """Envelope bytes -> dict of the inner reply's elements (values decoded).

    The envelope text stands for the inner document's bytes one to one.
    """
    root = ET.fromstring(body)
    assert root.tag == NS + "string"
    inner = (root.text or "").encode("latin-1")
    if not inner:
        return None
    reply = ET.fromstring(inner.decode(code_page))
    return {child.tag: child.text or "" for child in reply}


def get(port, path, method="GET", context=None, timeout=10):
    if context is not None:
        conn = http.client.HTTPSConnection("127.0.0.1", port, timeout=timeout, context=context)
    else:
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        conn.request(method, path)
        response = conn.getresponse()
        return response.status, response.read()
    finally:
        conn.close()
