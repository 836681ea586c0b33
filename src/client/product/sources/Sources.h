#pragma once
// The discovery sources; each returns 1 on success, 0 on failure and leaves
// the fields it set before a failure.
#include <string>

#include "product/ProgramInfo.h"

namespace brut {

int ReadFromVersionResource(ProgramInfo& record);
int ReadFromVersionInfoFile(ProgramInfo& record);
int ReadFromRegistry(ProgramInfo& record);
int GetUninstallRegKey(const std::u16string& valueName, const std::u16string& wanted, std::u16string& keyName);
int ReadFromMsiDB(ProgramInfo& record);
int ReadFromWin32_Products(ProgramInfo& record);

}  // namespace brut
