#pragma once
// What names a product in the settings and on disk: its settings keys and its working
// folder are made of these. The product record (product/ProgramInfo.h) carries them
// among its fields, so the settings and the facts never need the record itself.
#include <cstdint>
#include <string>

namespace brut {

struct ProductIdentity {
    std::u16string ProgramName;
    std::u16string ProgramVersionNumber;
    int32_t IsStubExe = 0;
};

}  // namespace brut
