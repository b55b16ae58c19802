#include "cli/outcome_report.h"

#include "cli/command_line.h"
#include "platform/address_text.h"

namespace vorpane {

namespace {

std::string N(auto count) {
    return std::to_string(count);
}

// The command line confirms every change, so no run of vorpane-cli ends
// here; the words are for a caller that answers otherwise.
CliReport NotConfirmed() {
    return {kExitUsage, "Not confirmed: nothing was sent."};
}

}  // namespace

CliReport SetIpReport(SetIpOutcome outcome, const std::string& address) {
    switch (outcome) {
        case SetIpOutcome::kSameAddress:
            return {kExitUsage, "Please input a different IP Address!"};
        case SetIpOutcome::kCancelled:
            return NotConfirmed();
        case SetIpOutcome::kOccupied:
            return {kExitPrinter,
                    "This IP(" + address + ") has been occupied by other network equipment!"};
        case SetIpOutcome::kSent:
            return {kExitDone, "Success! Please restart the printer!"};
        case SetIpOutcome::kFailed:
            break;
    }
    return {kExitPrinter, "Modify the IP Address failed!"};
}

CliReport SetMacReport(const SetMacOutcome& outcome) {
    const std::string mac = "Mac:" + MacText(outcome.mac, '-') + " Success! ";
    switch (outcome.result) {
        case SetMacOutcome::Result::kCancelled:
            return NotConfirmed();
        case SetMacOutcome::Result::kFailed:
            return {
                kExitPrinter,
                "Modify Mac address failed, Please Confirm the printer is online and try again!"};
        case SetMacOutcome::Result::kSent:
            return {kExitDone, mac + "Please restart the printer!"};
        case SetMacOutcome::Result::kSentArpStale:
            break;
    }
    return {kExitDone, mac + "But you may have to connect the printer a few minutes later !"};
}

CliReport SendFileReport(const SendFileOutcome& o, const std::string& path) {
    using Result = SendFileOutcome::Result;
    // A file that cannot be opened or read whole is the argument's fault, not
    // the printer's.
    switch (o.result) {
        case Result::kOpenFailed:
            return {kExitUsage, "Open File Failed!Err=" + N(o.error) + " " + path};
        case Result::kTooLarge:
            return {kExitPrinter, "The file is too large to send! " + path};
        case Result::kUnmeasured:
            return {kExitUsage,
                    "Read File Failed!The file measures 0 bytes but holds more, nothing was sent " +
                        path};
        case Result::kReadShort:
            return {kExitUsage, "Read File Failed!Read " + N(o.got) + " of " + N(o.length) +
                                    " bytes, sent " + N(o.sent) + " of " + N(o.got) + " bytes " +
                                    path};
        case Result::kSendFailed:
            return {kExitPrinter,
                    "Send Failed!Sent " + N(o.sent) + " of " + N(o.length) + " bytes " + path};
        case Result::kEmpty:
            return {kExitUsage, "The file is empty: nothing was sent."};
        case Result::kSent:
            break;
    }
    return {kExitDone, "Send finished!"};
}

}  // namespace vorpane
