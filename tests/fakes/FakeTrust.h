#pragma once
// Scripted Authenticode: what each path's signature says, which holds are open,
// and injected failures of the hold.
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fakes/FakeLock.h"
#include "platform/Platform.h"

namespace fake {

class FakeTrust : public plat::Trust {
public:
    uint32_t Hold(const std::u16string& path, plat::HeldFile& held, bool& isLink) override;
    void Release(plat::HeldFile held) override;
    plat::Signature Verify(const std::u16string& path, plat::HeldFile held) override;

    // A valid signature by `subject` for `path` (paths compare case-insensitively).
    void Sign(const std::u16string& path, const std::u16string& subject);
    // What Verify answers for `path`; a path never set is unsigned.
    std::map<std::u16string, plat::Signature> signatures;
    std::map<std::u16string, uint32_t> holdErrors;  // Hold answers the code
    std::set<std::u16string> links;                 // Hold reports a reparse point

    std::map<plat::HeldFile, std::u16string> open;  // holds not yet released
    struct Check { std::u16string path; bool throughHold; };
    std::vector<Check> checks;  // every Verify, in order

    static std::u16string Key(const std::u16string& path);

private:
    FakeLock mGuard;
    plat::HeldFile mNext = 0x500;
};

}  // namespace fake
