#pragma once
// The header band's window text. The band paints its lines itself; its text is
// what screen readers take as its name.
#include <string>

namespace brut {

// Both lines, one per line ("\r\n" between them; an empty one left out), each
// ampersand doubled: the system's accessibility proxy reads a single one as a
// mnemonic and drops it.
std::u16string HeaderBandName(const std::u16string& title, const std::u16string& versionLine);

}  // namespace brut
