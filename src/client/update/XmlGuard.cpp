#include "update/XmlGuard.h"

#include <cctype>
#include <cstring>
#include <new>
#include <vector>

namespace brut {

namespace {

// Mirrors the reading rules of TinyXML 2.6 (white-space condensing on, as
// this program never turns it off): where each construct ends, how text,
// entities, attribute values and UTF-8 sequences are stepped over, and when
// the document's encoding switches. Scanning stops wherever the parser would
// stop; only the element nesting is counted.
class DepthScanner {
public:
    explicit DepthScanner(std::size_t limit) : mLimit(limit) {}
    bool TooManyAttributes() const { return mTooManyAttributes; }

    std::size_t Run(const char* p) {
        const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
        if (u[0] == 0xEF && u[1] == 0xBB && u[2] == 0xBF) mEnc = Enc::Utf8;
        p = SkipWs(p);
        while (p && *p && !Exceeded()) {
            Kind kind = Identify(p);
            if (kind == Kind::None) break;
            std::string encoding;
            p = ParseNode(kind, p, &encoding);
            if (mEnc == Enc::Unknown && kind == Kind::Declaration) {
                mEnc = (encoding.empty() || Equal(encoding.c_str(), "UTF-8", true) || Equal(encoding.c_str(), "UTF8", true))
                           ? Enc::Utf8
                           : Enc::Legacy;
            }
            p = SkipWs(p);
        }
        return mMaxDepth;
    }

private:
    enum class Enc { Unknown, Utf8, Legacy };
    enum class Kind { None, Declaration, Comment, Cdata, Unknown, Element };

    bool Exceeded() const { return mMaxDepth > mLimit || mTooManyAttributes; }

    static bool IsWs(char c) { return std::isspace(static_cast<unsigned char>(c)) || c == '\n' || c == '\r'; }
    static bool IsAlpha(char c) {
        unsigned char b = static_cast<unsigned char>(c);
        return b < 127 ? std::isalpha(b) != 0 : true;
    }
    static bool IsAlphaNum(char c) {
        unsigned char b = static_cast<unsigned char>(c);
        return b < 127 ? std::isalnum(b) != 0 : true;
    }
    static char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

    static bool Equal(const char* p, const char* tag, bool ignoreCase) {
        if (!p || !*p) return false;
        while (*p && *tag && (ignoreCase ? Lower(*p) == Lower(*tag) : *p == *tag)) {
            ++p;
            ++tag;
        }
        return *tag == 0;
    }

    const char* SkipWs(const char* p) const {
        if (!p || !*p) return nullptr;
        if (mEnc == Enc::Utf8) {
            while (*p) {
                const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
                if (u[0] == 0xEF && ((u[1] == 0xBB && u[2] == 0xBF) || (u[1] == 0xBF && (u[2] == 0xBE || u[2] == 0xBF)))) {
                    p += 3;
                    continue;
                }
                if (!IsWs(*p)) break;
                ++p;
            }
        } else {
            while (*p && IsWs(*p)) ++p;
        }
        return p;
    }

    static int Utf8Length(unsigned char b) {
        if (b < 0xC2) return 1;
        if (b < 0xE0) return 2;
        if (b < 0xF0) return 3;
        if (b < 0xF5) return 4;
        return 1;
    }

    // One character of text; `value` (optional) receives what the parser keeps of it.
    const char* GetChar(const char* p, std::string* value) const {
        int length = mEnc == Enc::Utf8 ? Utf8Length(static_cast<unsigned char>(*p)) : 1;
        if (length == 1) {
            if (*p == '&') return GetEntity(p, value);
            if (value) *value += *p;
            return p + 1;
        }
        // A sequence cut by the end still steps its full length: the padding
        // behind the terminator keeps that inside the buffer, for the parser too.
        if (value)
            for (int i = 0; i < length && p[i]; ++i) *value += p[i];
        return p + length;
    }

    const char* GetEntity(const char* p, std::string* value) const {
        if (p[1] && p[1] == '#' && p[2]) {
            unsigned long ucs = 0;
            unsigned mult = 1;
            const char* end;
            if (p[2] == 'x') {
                if (!p[3]) return nullptr;
                end = std::strchr(p + 3, ';');
                if (!end) return nullptr;
                for (const char* q = end - 1; *q != 'x'; --q) {
                    unsigned digit;
                    if (*q >= '0' && *q <= '9') digit = static_cast<unsigned>(*q - '0');
                    else if (*q >= 'a' && *q <= 'f') digit = static_cast<unsigned>(*q - 'a' + 10);
                    else if (*q >= 'A' && *q <= 'F') digit = static_cast<unsigned>(*q - 'A' + 10);
                    else return nullptr;
                    ucs += mult * digit;
                    mult *= 16;
                }
            } else {
                end = std::strchr(p + 2, ';');
                if (!end) return nullptr;
                for (const char* q = end - 1; *q != '#'; --q) {
                    if (*q < '0' || *q > '9') return nullptr;
                    ucs += mult * static_cast<unsigned>(*q - '0');
                    mult *= 10;
                }
            }
            // Only declarations at document level keep values here, and there
            // the encoding is still unknown: one byte per reference.
            if (value) *value += static_cast<char>(ucs);
            return end + 1;
        }
        static const struct { const char* text; char chr; } kEntities[] = {
            {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '\"'}, {"&apos;", '\''}};
        for (const auto& e : kEntities) {
            std::size_t n = std::strlen(e.text);
            if (std::strncmp(e.text, p, n) == 0) {
                if (value) *value += e.chr;
                return p + n;
            }
        }
        return p + 1;  // an unknown reference: the parser drops the "&"
    }

    const char* ReadText(const char* p, bool trim, const char* endTag, bool ignoreCase, std::string* value) const {
        if (!trim) {
            while (p && *p && !Equal(p, endTag, ignoreCase)) p = GetChar(p, value);
        } else {
            p = SkipWs(p);
            while (p && *p && !Equal(p, endTag, ignoreCase)) {
                if (IsWs(*p)) ++p;
                else p = GetChar(p, nullptr);
            }
        }
        if (p && *p) p += std::strlen(endTag);
        return (p && *p) ? p : nullptr;
    }

    static const char* ReadName(const char* p, std::string* name) {
        if (!p || !*p || !(IsAlpha(*p) || *p == '_')) return nullptr;
        const char* start = p;
        while (*p && (IsAlphaNum(*p) || *p == '_' || *p == '-' || *p == '.' || *p == ':')) ++p;
        if (name) name->assign(start, static_cast<std::size_t>(p - start));
        return p;
    }

    const char* ParseAttribute(const char* p, std::string* value) const {
        p = SkipWs(p);
        if (!p || !*p) return nullptr;
        p = ReadName(p, nullptr);
        if (!p || !*p) return nullptr;
        p = SkipWs(p);
        if (!p || !*p || *p != '=') return nullptr;
        p = SkipWs(p + 1);
        if (!p || !*p) return nullptr;
        if (*p == '\'') return ReadText(p + 1, false, "\'", false, value);
        if (*p == '\"') return ReadText(p + 1, false, "\"", false, value);
        while (*p && !IsWs(*p) && *p != '/' && *p != '>') {
            if (*p == '\'' || *p == '\"') return nullptr;
            if (value) *value += *p;
            ++p;
        }
        return p;
    }

    Kind Identify(const char* p) const {
        p = SkipWs(p);
        if (!p || !*p || *p != '<') return Kind::None;
        if (Equal(p, "<?xml", true)) return Kind::Declaration;
        if (Equal(p, "<!--", false)) return Kind::Comment;
        if (Equal(p, "<![CDATA[", false)) return Kind::Cdata;
        if (Equal(p, "<!", false)) return Kind::Unknown;
        if (IsAlpha(p[1]) || p[1] == '_') return Kind::Element;
        return Kind::Unknown;
    }

    const char* ParseNode(Kind kind, const char* p, std::string* encoding) {
        switch (kind) {
            case Kind::Declaration: return ParseDeclaration(p, encoding);
            case Kind::Comment: return ParseComment(p);
            case Kind::Cdata: return ParseCdata(p);
            case Kind::Unknown: return ParseUnknown(p);
            case Kind::Element: return ParseElement(p);
            case Kind::None: break;
        }
        return nullptr;
    }

    const char* ParseDeclaration(const char* p, std::string* encoding) const {
        p = SkipWs(p);
        if (!p || !*p || !Equal(p, "<?xml", true)) return nullptr;
        p += 5;
        while (p && *p) {
            if (*p == '>') return p + 1;
            p = SkipWs(p);
            if (!p || !*p) break;
            if (Equal(p, "version", true) || Equal(p, "standalone", true)) {
                p = ParseAttribute(p, nullptr);
            } else if (Equal(p, "encoding", true)) {
                std::string value;
                p = ParseAttribute(p, &value);
                *encoding = value;
            } else {
                while (p && *p && *p != '>' && !IsWs(*p)) ++p;
            }
        }
        return nullptr;
    }

    const char* ParseComment(const char* p) const {
        p = SkipWs(p);
        if (!Equal(p, "<!--", false)) return nullptr;
        p += 4;
        while (*p && !Equal(p, "-->", false)) ++p;
        if (*p) p += 3;
        return p;
    }

    const char* ParseCdata(const char* p) const {
        if (!Equal(p, "<![CDATA[", false)) return nullptr;
        p += 9;
        while (*p && !Equal(p, "]]>", false)) ++p;
        return ReadText(p, false, "]]>", false, nullptr);
    }

    const char* ParseUnknown(const char* p) const {
        p = SkipWs(p);
        if (!p || !*p || *p != '<') return nullptr;
        ++p;
        while (*p && *p != '>') ++p;
        return *p == '>' ? p + 1 : p;
    }

    // Text up to the next "<" (the "<" stays unread).
    const char* ParseText(const char* p) const {
        p = ReadText(p, true, "<", false, nullptr);
        return (p && *p) ? p - 1 : nullptr;
    }

    // An element with everything inside it, without recursion: `open` holds
    // the end tags of the elements whose content is being read.
    const char* ParseElement(const char* p) {
        std::vector<std::string> open;
        for (;;) {
            // Start tag at p: the parser has entered one more level already.
            if (open.size() + 1 > mMaxDepth) mMaxDepth = open.size() + 1;
            if (Exceeded()) return nullptr;
            p = SkipWs(p);
            if (!p || !*p || *p != '<') return nullptr;
            p = SkipWs(p + 1);
            std::string name;
            p = ReadName(p, &name);
            if (!p || !*p) return nullptr;
            bool hasContent = false;
            std::size_t attributes = 0;
            for (;;) {
                p = SkipWs(p);
                if (!p || !*p) return nullptr;
                if (*p == '/') {
                    if (p[1] != '>') return nullptr;
                    p += 2;
                    break;
                }
                if (*p == '>') {
                    ++p;
                    hasContent = true;
                    break;
                }
                // TinyXML compares every attribute with all earlier ones of its
                // element: thousands of them would keep it busy for hours.
                if (++attributes > kMaxXmlAttributes) {
                    mTooManyAttributes = true;
                    return nullptr;
                }
                p = ParseAttribute(p, nullptr);
                if (!p || !*p) return nullptr;
            }
            if (hasContent) open.push_back("</" + name);

            // Content of the innermost open element, until a child element
            // starts (next round of the outer loop) or the end tag closes it.
            bool child = false;
            while (!open.empty() && !child) {
                p = SkipWs(p);
                while (p && *p) {
                    if (*p != '<') {
                        p = ParseText(p);
                    } else if (Equal(p, "</", false)) {
                        break;
                    } else {
                        Kind kind = Identify(p);
                        if (kind == Kind::Element) {
                            child = true;
                            break;
                        }
                        std::string ignored;
                        p = ParseNode(kind, p, &ignored);
                    }
                    p = SkipWs(p);
                }
                if (child) break;
                if (!p || !*p) return nullptr;
                const std::string& endTag = open.back();
                if (!Equal(p, endTag.c_str(), false)) return nullptr;
                p = SkipWs(p + endTag.size());
                if (!p || *p != '>') return nullptr;
                ++p;
                open.pop_back();
            }
            if (!child) return p;
        }
    }

    std::size_t mLimit;
    std::size_t mMaxDepth = 0;
    bool mTooManyAttributes = false;
    Enc mEnc = Enc::Unknown;
};

}  // namespace

std::size_t XmlParseDepth(const char* text, std::size_t limit) {
    DepthScanner scanner(limit);
    return scanner.Run(text);
}

XmlParse ParseXmlGuarded(TiXmlDocument& document, const std::string& text, std::string* errorText) {
    try {
        // TinyXML steps over a UTF-8 sequence cut by the end of the text by its
        // full length: the zero bytes behind the terminator catch that.
        std::string padded = text;
        padded.append(8, '\0');
        DepthScanner scanner(kMaxXmlDepth);
        if (scanner.Run(padded.c_str()) > kMaxXmlDepth) return XmlParse::TooDeep;
        if (scanner.TooManyAttributes()) return XmlParse::TooManyAttributes;
        document.Parse(padded.c_str());
        if (document.Error()) {
            if (errorText) *errorText = document.ErrorDesc() ? document.ErrorDesc() : "";
            return XmlParse::NotWellFormed;
        }
        return document.RootElement() ? XmlParse::Ok : XmlParse::NoRoot;
    } catch (const std::bad_alloc&) {
        if (errorText) *errorText = "out of memory";
        return XmlParse::NotWellFormed;
    }
}

}  // namespace brut
