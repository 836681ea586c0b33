#pragma once
// The command-line parser: tokens by the runtime's rules, each given to CmdLineInfo::ParseParam.
#include <string>
#include <vector>

#include "options/CmdLineInfo.h"

namespace brut {

// Splits a command line by the runtime's argument rules; token 0 is the program path.
std::vector<std::u16string> SplitCommandLine(const std::u16string& commandLine);
// Parses the process command line (token 0 skipped, one "-" or "/" removed).
void ParseCommandLine(CmdLineInfo& info);
void ParseCommandLine(CmdLineInfo& info, const std::u16string& commandLine);

}  // namespace brut
