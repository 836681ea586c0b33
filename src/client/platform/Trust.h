#pragma once
// Authenticode checks of the programs the client starts, through handles that keep
// the file and its folder from being rewritten, replaced or renamed meanwhile.
// Results carry the system's own codes (Win32 errors, WinVerifyTrust HRESULTs).
#include <cstdint>
#include <string>

namespace plat {

using HeldFile = std::uintptr_t;  // 0: none

// What WinVerifyTrust (generic verify v2, never fetching anything from the network)
// says of a file, and who signed it.
struct Signature {
    int32_t status = 0;       // the signature and chain without revocation: 0 = verifies
    int32_t revocation = 0;   // with revocation from what is known offline: 0, or why not
    std::u16string subject;   // the signer's certificate subject (see Subject rule), empty when unreadable
};

class Trust {
public:
    virtual ~Trust() = default;
    // Opens `path` for reading, sharing reading only (nobody can write or delete it),
    // and its folder without delete sharing (nobody can rename it), neither following
    // a link: 0 with the hold, else the error code. `isLink`: the file or its folder
    // is a reparse point (a junction or symbolic link) that the hold did not follow.
    virtual uint32_t Hold(const std::u16string& path, HeldFile& held, bool& isLink) = 0;
    virtual void Release(HeldFile held) = 0;
    // Verifies `path` through the hold when there is one (else by its path). The
    // subject is the signer certificate's subject as CertNameToStrW renders it with
    // CERT_X500_NAME_STR and no other flag, e.g. "C=DE, O=Brindle, CN=Brindle".
    virtual Signature Verify(const std::u16string& path, HeldFile held) = 0;
};

}  // namespace plat
