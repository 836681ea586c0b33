#pragma once
// For the unit tests only; the product never calls these. Each undoes
// process-wide state that a run sets up once, so that cases start afresh.
#include <cstdint>

namespace brut {

// Forgets that the log was set up and closes its file. Called while the fake
// platform the file lives in is still installed.
void ResetLogForTests();
// Drops the published product record.
void ResetProgramInfoForTests();
// Shortens every wait for ProgramInfoLock; 0 restores the default.
void SetProgramInfoLockWaitForTests(uint32_t milliseconds);
// Forgets the remembered adapter address.
void ResetMacAddressForTests();

}  // namespace brut
