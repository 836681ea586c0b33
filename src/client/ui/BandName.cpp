#include "ui/BandName.h"

#include "product/ProgramInfo.h"

namespace brut {

std::u16string HeaderBandName(const std::u16string& title, const std::u16string& versionLine) {
    std::u16string name = EscapeAmpersands(title);
    if (!name.empty() && !versionLine.empty()) name += u"\r\n";
    return name + EscapeAmpersands(versionLine);
}

}  // namespace brut
