#include "fakes/FakeTrust.h"

#include "util/Text.h"

namespace fake {

std::u16string FakeTrust::Key(const std::u16string& path) { return brut::ToLowerAscii(path); }

uint32_t FakeTrust::Hold(const std::u16string& path, plat::HeldFile& held, bool& isLink) {
    std::lock_guard<std::recursive_mutex> guard(mGuard.Get());
    held = 0;
    isLink = false;
    auto error = holdErrors.find(Key(path));
    if (error != holdErrors.end()) return error->second;
    held = mNext++;
    open[held] = Key(path);
    isLink = links.count(Key(path)) != 0;
    return plat::kErrSuccess;
}

void FakeTrust::Release(plat::HeldFile held) {
    std::lock_guard<std::recursive_mutex> guard(mGuard.Get());
    open.erase(held);
}

plat::Signature FakeTrust::Verify(const std::u16string& path, plat::HeldFile held) {
    std::lock_guard<std::recursive_mutex> guard(mGuard.Get());
    auto hold = open.find(held);
    checks.push_back({path, hold != open.end() && hold->second == Key(path)});
    auto it = signatures.find(Key(path));
    if (it != signatures.end()) return it->second;
    plat::Signature unsigned_;
    unsigned_.status = plat::kTrustNoSignature;
    return unsigned_;
}

void FakeTrust::Sign(const std::u16string& path, const std::u16string& subject) {
    plat::Signature s;
    s.subject = subject;
    signatures[Key(path)] = s;
}

}  // namespace fake
