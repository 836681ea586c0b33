#pragma once
// The documents sent to the service: single-byte values, built with TinyXML
// and serialized by its printer in the default settings.
#include <cstddef>
#include <memory>
#include <string>

#include <tinyxml.h>

#include "product/ProgramInfo.h"

namespace brut {

constexpr std::size_t kXmlTextFieldSize = 261;  // 260 bytes and the terminating zero

// A value as single-byte text: unchanged when every code unit is below 256,
// else rewritten by MakePlainName first; at most kXmlTextFieldSize - 1 bytes.
// `wasCut` reports a longer value that was cut.
std::string ToXmlText(const std::u16string& value, bool* wasCut = nullptr);

// Child element with a text node holding `text` (an empty node when `text` is empty).
TiXmlElement* AddTextElement(TiXmlNode& parent, const char* name, const std::string& text);
// Child element without any text node.
TiXmlElement* AddEmptyElement(TiXmlNode& parent, const char* name);
// Child element with ToXmlText of `value`; a cut value is logged. Returns the stored text.
std::string AddValueElement(TiXmlNode& parent, const char* name, const std::u16string& value);

// The first elements shared by every document, each with its log lines.
void AddVersionElement(TiXmlNode& root);
void AddMacElement(TiXmlNode& root);
void AddMachineGuidElement(TiXmlNode& root);

// TiXmlPrinter in its default settings (four blanks, "\n").
std::string SerializeXml(const TiXmlDocument& document);

// The QuickCheck request; null only when the document cannot be created.
// `error` (optional) is set to 0.
std::unique_ptr<TiXmlDocument> BuildQuickCheckXml(int* error, const ProgramInfo& info, bool isQuickCheck);

}  // namespace brut
