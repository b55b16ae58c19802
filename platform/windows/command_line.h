#pragma once
// The command line of a Windows process, built from separate arguments.

#include <string>
#include <vector>

namespace vorpane::windows {

// Quotes each argument so that the C runtime's parser (CommandLineToArgvW)
// gives back exactly the same list: an argument with a space, a tab or a
// quote goes in double quotes, with its quotes and the backslashes before
// them doubled as the parser expects.
std::wstring BuildCommandLine(const std::vector<std::string>& arguments);

}  // namespace vorpane::windows
