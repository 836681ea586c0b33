#pragma once
// Parsing of texts from outside with TinyXML, within bounds that need no
// knowledge of the parser: the parser recurses once per nesting level, which
// cannot exceed the number of "<", and compares each attribute with all
// earlier ones of its element, which cannot outnumber the "=".
#include <cstddef>
#include <string>

#include <tinyxml.h>

namespace brut {

constexpr std::size_t kMaxXmlAngleBrackets = 512;  // "<" in one document; real replies have a few dozen
constexpr std::size_t kMaxXmlEqualSigns = 4096;    // "=" in one document
constexpr std::size_t kMaxXmlAttributes = 64;      // per element

enum class XmlParse { Ok, NotWellFormed, NoRoot, TooManyAngleBrackets, TooManyEqualSigns, TooManyAttributes };

// Parses `text` into `document` unless it exceeds one of the bounds above;
// `errorText` names TinyXML's complaint for NotWellFormed.
XmlParse ParseXmlGuarded(TiXmlDocument& document, const std::string& text, std::string* errorText = nullptr);

}  // namespace brut
