#pragma once
// The message boxes that say how a command ended: the main window's words
// for each outcome the commands return.

#include <cstdint>
#include <optional>
#include <string>

#include "commands/network_config.h"
#include "commands/printer_commands.h"

namespace vorpane {

struct MessageWords {
    std::string text;
    uint32_t style;
};

// `address` is the address asked for.
MessageWords SetIpQuestion(const std::string& address);
// Nothing to say when the user cancelled.
std::optional<MessageWords> SetIpWords(SetIpOutcome outcome, const std::string& address);
MessageWords SetMacQuestion();
std::optional<MessageWords> SetMacWords(const SetMacOutcome& outcome);
// `path` is the file that was sent.
MessageWords SendFileWords(const SendFileOutcome& outcome, const std::string& path);

}  // namespace vorpane
