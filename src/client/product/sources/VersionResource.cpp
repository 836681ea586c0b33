// Discovery from the client's own version resource: a copy stamped as a product's download stub.
#include "product/sources/Sources.h"

#include "system/SystemFacts.h"
#include "util/Text.h"
#include "platform/Platform.h"

namespace brut {

namespace {

constexpr char16_t kOwnProductName[] = u"Brindle Uptide";

}  // namespace

int ReadFromVersionResource(ProgramInfo& record) {
    const std::u16string self = plat::Sys().ModulePath();
    if (self.empty()) return 0;
    if (!ReadVersionString(self, record.ProgramName, u"ProductName")) return 0;
    if (record.ProgramName == kOwnProductName) {
        record.ProgramName.clear();
        record.DisplayName.clear();
        record.IsStubExe = 0;
        return 0;
    }
    record.DisplayName = record.ProgramName;
    record.IsStubExe = 1;
    if (!ReadVersionString(self, record.ProgramVersionNumber, u"ProductVersion")) return 0;
    std::u16string comments;
    if (!ReadVersionString(self, comments, u"Comments")) return 0;
    record.ProgramLanguage = ParseInt32(comments);
    return 1;
}

}  // namespace brut
