#include "app/outcome_words.h"

#include <cstdio>

#include "platform/address_text.h"
#include "ui/window_system.h"

namespace vorpane {

namespace {

std::string Format(const char* format, auto... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(out.data(), out.size() + 1, format, args...);
    return out;
}

constexpr uint32_t kInfo = ui::kMbIconInformation;
constexpr const char* kRestart = "Success!\nPlease restart the printer!";

}  // namespace

MessageWords SetIpQuestion(const std::string& address) {
    return {"Are you sure to set the new IP:" + address + "?",
            ui::kMbOkCancel | ui::kMbIconQuestion};
}

std::optional<MessageWords> SetIpWords(SetIpOutcome outcome, const std::string& address) {
    switch (outcome) {
        case SetIpOutcome::kSameAddress:
            return MessageWords{"Please input a different IP Address!", kInfo};
        case SetIpOutcome::kCancelled:
            return std::nullopt;
        case SetIpOutcome::kOccupied:
            return MessageWords{
                "This IP(" + address + ") has been occupied by other network equipment!", kInfo};
        case SetIpOutcome::kSent:
            return MessageWords{kRestart, kInfo};
        case SetIpOutcome::kFailed:
            break;
    }
    return MessageWords{"Modify the IP Address failed!", kInfo};
}

MessageWords SetMacQuestion() {
    return {"Are you sure to modify the Mac address?", ui::kMbOkCancel | ui::kMbIconQuestion};
}

std::optional<MessageWords> SetMacWords(const SetMacOutcome& outcome) {
    const std::string mac = "Mac:" + MacText(outcome.mac, '-') + "\n";
    switch (outcome.result) {
        case SetMacOutcome::Result::kCancelled:
            return std::nullopt;
        case SetMacOutcome::Result::kFailed:
            return MessageWords{
                "Modify Mac address failed, Please Confirm the printer is online and try again!",
                kInfo};
        case SetMacOutcome::Result::kSent:
            return MessageWords{mac + kRestart, kInfo};
        case SetMacOutcome::Result::kSentArpStale:
            break;
    }
    return MessageWords{
        mac + "Success!\nBut you may have to connect the printer a few minutes later !", kInfo};
}

MessageWords SendFileWords(const SendFileOutcome& o, const std::string& path) {
    using Result = SendFileOutcome::Result;
    const char* file = path.c_str();
    switch (o.result) {
        case Result::kOpenFailed:
            return {Format("Open File Failed!Err=%d\n%s", o.error, file), ui::kMbOk};
        case Result::kTooLarge:
            return {Format("The file is too large to send!\n%s", file), ui::kMbIconError};
        case Result::kUnmeasured:
            return {Format("Read File Failed!The file measures 0 bytes but holds more, nothing "
                           "was sent\n%s",
                           file),
                    ui::kMbIconError};
        case Result::kReadShort:
            return {Format("Read File Failed!Read %u of %u bytes, sent %d of %u bytes\n%s", o.got,
                           o.length, o.sent, o.got, file),
                    ui::kMbIconError};
        case Result::kSendFailed:
            return {Format("Send Failed!Sent %d of %u bytes\n%s", o.sent, o.length, file),
                    ui::kMbIconError};
        case Result::kEmpty:
        case Result::kSent:
            break;
    }
    return {"Send finished!", ui::kMbOk};
}

}  // namespace vorpane
