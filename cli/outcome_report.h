#pragma once
// What vorpane-cli says of each outcome the commands return, and the exit
// status it ends with: chosen from the outcome, never from any wording.

#include <string>

#include "commands/network_config.h"
#include "commands/printer_commands.h"

namespace vorpane {

struct CliReport {
    int exit = 0;
    std::string words;  // one line
};

// `address` is the address asked for.
CliReport SetIpReport(SetIpOutcome outcome, const std::string& address);
CliReport SetMacReport(const SetMacOutcome& outcome);
// `path` is the file that was sent.
CliReport SendFileReport(const SendFileOutcome& outcome, const std::string& path);

}  // namespace vorpane
