#pragma once
// The program's command line.

#include <string>
#include <vector>

namespace vorpane {

// The arguments after the program's name, in UTF-8 as all text here. On
// Windows they come from the wide command line: the C runtime's argv holds
// them in the ANSI code page, which loses the characters it lacks (a folder
// named in Chinese under code page 1252).
std::vector<std::string> ProgramArguments(int argc, char** argv);

}  // namespace vorpane
