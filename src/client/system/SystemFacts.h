#pragma once
// Small services taken from the operating system, shared by several subsystems.
#include <cstdint>
#include <string>

#include "system/ProductIdentity.h"
#include "platform/System.h"

namespace brut {

uint32_t GetOsVersion(plat::OsVersionRecord& record);  // 0 = filled
int GetMacAddress(std::u16string& mac);
// For the unit tests only: forgets the remembered adapter address.
void ResetMacAddressForTests();
int GetMachineGuid(std::u16string& guid);
int GetWorkingDirectory(const ProductIdentity& info, std::u16string& dir, bool trailingBackslash);
int GetWorkerVersion(const ProductIdentity& info, std::u16string& version);
int ReadVersionString(const std::u16string& path, std::u16string& text, const std::u16string& valueName);
int StartThread(plat::ThreadRoutine routine, void* arg, plat::ThreadHandle& handle);

// Digits, ASCII letters, "." and blank stay; other code units below 256 are
// dropped; 256 and above become "~" + (u / 255) + ('A' + u % 26).
std::u16string MakePlainName(const std::u16string& value);

}  // namespace brut
