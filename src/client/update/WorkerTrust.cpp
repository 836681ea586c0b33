#include "update/WorkerTrust.h"

#include "BuildSigners.h"
#include "log/Log.h"
#include "system/Directories.h"
#include "util/Text.h"
#include "platform/Platform.h"

namespace brut {

namespace {

bool IsUnsigned(int32_t status) { return status == plat::kTrustNoSignature || status == plat::kTrustSubjectUnknown; }

std::u16string Hex(int32_t status) { return Format(u"0x%08X", static_cast<uint32_t>(status)); }

bool EndsWithDll(const std::u16string& name) {
    return name.size() >= 4 && ToLowerAscii(name.substr(name.size() - 4)) == u".dll";
}

}  // namespace

std::vector<std::u16string> BuildSigners() {
    std::vector<std::u16string> out;
    for (const char16_t* const* s = kBuildSigners; *s; ++s)
        if (**s) out.emplace_back(*s);
    return out;
}

WorkerTrust MakeWorkerTrust(const std::vector<std::u16string>& buildSigners) {
    WorkerTrust trust;
    trust.subjects = buildSigners;
    plat::Trust* platform = plat::Get().trust;
    if (platform) {
        const std::u16string self = plat::Sys().ModulePath();
        const plat::Signature own = platform->Verify(self, 0);
        if (own.status == 0 && !own.subject.empty()) {
            trust.subjects.push_back(own.subject);
        } else if (!IsUnsigned(own.status)) {
            LogError(u"The signature of %s does not verify (%s): the client counts as unsigned", self, Hex(own.status));
        }
    }
    trust.verify = !trust.subjects.empty();
    return trust;
}

bool HoldVerified(const WorkerTrust& trust, const std::u16string& path, plat::HeldFile& held, std::u16string& why) {
    held = 0;
    plat::Trust* platform = plat::Get().trust;
    if (!platform) {
        why = u"it cannot be checked on this system";
        return false;
    }
    bool isLink = false;
    const uint32_t error = platform->Hold(path, held, isLink);
    if (error != 0) {
        why = Format(u"it cannot be opened (%s)", GetErrorText(error));
        return false;
    }
    const plat::Signature s = isLink ? plat::Signature{} : platform->Verify(path, held);
    if (isLink) {
        why = u"it or its folder is a link to another place";
    } else if (IsUnsigned(s.status)) {
        why = u"it is not signed";
    } else if (s.status == plat::kTrustBadDigest) {
        why = u"its content does not match its signature";
    } else if (s.status != 0) {
        why = Format(u"its signature does not verify (%s)", Hex(s.status));
    } else if (s.revocation == plat::kCertRevoked) {
        why = u"its certificate is revoked";
    } else if (s.subject.empty()) {
        why = u"its signer cannot be read";
    } else {
        bool known = false;
        for (const std::u16string& subject : trust.subjects) known = known || subject == s.subject;
        if (known) {
            // Revocation is looked up offline only: what the machine cannot know does not stop an update.
            if (s.revocation != 0)
                LogWarning(u"Revocation of the signer of %s is not known offline (%s)", path, Hex(s.revocation));
            LogInfo(u"%s verified: signed by '%s'", path, s.subject);
            return true;
        }
        why = Format(u"it is signed by someone else ('%s')", s.subject);
    }
    platform->Release(held);
    held = 0;
    return false;
}

bool RemoveLibraries(const std::u16string& directory) {
    std::vector<std::u16string> names;
    const uint32_t found = plat::Fs().FindFiles(directory, u"*.dll", names);
    if (found != 0 && found != plat::kErrFileNotFound) {
        LogError(u"Libraries in %s cannot be listed (%s)", directory, GetErrorText(found));
        return false;
    }
    bool clean = true;
    for (const std::u16string& name : names) {
        if (!EndsWithDll(name)) continue;  // a short name matched, not the file's own
        const std::u16string path = directory + name;
        const uint32_t removed = plat::Fs().RemoveFile(path);
        if (removed == 0) {
            LogWarning(u"%s deleted: no library belongs beside the worker", path);
        } else {
            LogError(u"%s cannot be deleted (%s): the worker is not started beside it", path, GetErrorText(removed));
            clean = false;
        }
    }
    return clean;
}

}  // namespace brut
