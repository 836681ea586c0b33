#include "update/XmlGuard.h"

#include <algorithm>
#include <new>
#include <vector>

namespace brut {

namespace {

bool HasTooManyAttributes(const TiXmlDocument& document) {
    // Without recursion: the nesting is bounded, but not by much stack.
    std::vector<const TiXmlNode*> pending{&document};
    while (!pending.empty()) {
        const TiXmlNode* node = pending.back();
        pending.pop_back();
        if (const TiXmlElement* element = node->ToElement()) {
            std::size_t attributes = 0;
            for (const TiXmlAttribute* a = element->FirstAttribute(); a; a = a->Next())
                if (++attributes > kMaxXmlAttributes) return true;
        }
        for (const TiXmlNode* child = node->FirstChild(); child; child = child->NextSibling()) pending.push_back(child);
    }
    return false;
}

}  // namespace

XmlParse ParseXmlGuarded(TiXmlDocument& document, const std::string& text, std::string* errorText) {
    if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '<')) > kMaxXmlAngleBrackets)
        return XmlParse::TooManyAngleBrackets;
    if (static_cast<std::size_t>(std::count(text.begin(), text.end(), '=')) > kMaxXmlEqualSigns)
        return XmlParse::TooManyEqualSigns;
    try {
        // TinyXML steps over a UTF-8 sequence cut by the end of the text by its
        // full length: the zero bytes behind the terminator catch that.
        std::string padded = text;
        padded.append(8, '\0');
        document.Parse(padded.c_str());
        if (document.Error()) {
            if (errorText) *errorText = document.ErrorDesc() ? document.ErrorDesc() : "";
            return XmlParse::NotWellFormed;
        }
        if (!document.RootElement()) return XmlParse::NoRoot;
        if (HasTooManyAttributes(document)) {
            document.Clear();
            return XmlParse::TooManyAttributes;
        }
        return XmlParse::Ok;
    } catch (const std::bad_alloc&) {
        if (errorText) *errorText = "out of memory";
        return XmlParse::NotWellFormed;
    }
}

}  // namespace brut
