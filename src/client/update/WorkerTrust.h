#pragma once
// Whether a program the hand-off fetched may be started. The client starts the worker
// elevated from a folder the user can write to: a signed client starts only a worker
// signed by its own signer (or by a subject named at build time), checked through
// handles that keep the file and its folder as they were until the start has returned.
#include <string>
#include <vector>

#include "platform/Trust.h"

namespace brut {

struct WorkerTrust {
    // False: an unsigned client that names no signer; the worker starts unverified.
    bool verify = false;
    std::vector<std::u16string> subjects;  // who may sign, compared exactly
};

// The subjects given at build time (the CMake cache variable BRUT_WORKER_SIGNERS).
std::vector<std::u16string> BuildSigners();
// The client's own signer and `buildSigners`. A client whose own signature does not
// verify (stamped after signing, say) is logged and counts as unsigned.
WorkerTrust MakeWorkerTrust(const std::vector<std::u16string>& buildSigners);

// Holds `path` and verifies it: true with the hold kept for the caller to release once
// the start has returned; false with the reason in `why` and nothing held.
bool HoldVerified(const WorkerTrust& trust, const std::u16string& path, plat::HeldFile& held, std::u16string& why);

// Deletes every *.dll in `directory`, the worker's folder: only left-overs or plants
// can lie there. A WAR line per file; false (ERR) when one stays.
bool RemoveLibraries(const std::u16string& directory);

}  // namespace brut
