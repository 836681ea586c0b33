#pragma once
// Parsing of texts from outside with TinyXML, guarded against nesting deep
// enough to exhaust the stack of TinyXML's recursive parser.
#include <cstddef>
#include <string>

#include <tinyxml.h>

namespace brut {

constexpr std::size_t kMaxXmlDepth = 256;
constexpr std::size_t kMaxXmlAttributes = 64;  // per element

// The deepest element nesting TinyXML's parser reaches on `text` (a zero-
// terminated text followed by at least four more zero bytes), found without
// recursion by following the parser's own reading rules. Scanning stops once
// the depth exceeds `limit`.
std::size_t XmlParseDepth(const char* text, std::size_t limit);

enum class XmlParse { Ok, NotWellFormed, NoRoot, TooDeep, TooManyAttributes };

// Parses `text` into `document` unless it nests deeper than kMaxXmlDepth;
// `errorText` names TinyXML's complaint for NotWellFormed.
XmlParse ParseXmlGuarded(TiXmlDocument& document, const std::string& text, std::string* errorText = nullptr);

}  // namespace brut
