#include "cli/oui.h"

#include "platform/file_reader.h"

namespace vorpane {

namespace {

int HexValue(char ch) {
    if (ch >= '0' && ch <= '9') {
        return ch - '0';
    }
    if (ch >= 'a' && ch <= 'f') {
        return ch - 'a' + 10;
    }
    if (ch >= 'A' && ch <= 'F') {
        return ch - 'A' + 10;
    }
    return -1;
}

// Three hex pairs, each after the first led by `separator` (0: none).
int64_t ThreePairs(std::string_view text, char separator) {
    const size_t step = separator != 0 ? 3 : 2;
    if (text.size() < 3 * step - (separator != 0 ? 1 : 0)) {
        return -1;
    }
    int64_t value = 0;
    for (size_t pair = 0; pair < 3; ++pair) {
        const size_t at = pair * step;
        if (pair > 0 && separator != 0 && text[at - 1] != separator) {
            return -1;
        }
        const int high = HexValue(text[at]);
        const int low = HexValue(text[at + 1]);
        if (high < 0 || low < 0) {
            return -1;
        }
        value = value << 8 | (high << 4 | low);
    }
    return value;
}

std::string_view Trim(std::string_view text) {
    const auto blank = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

std::unordered_map<uint32_t, std::string> ParseOuiText(std::string_view text) {
    std::unordered_map<uint32_t, std::string> names;
    constexpr std::string_view kMark = "(hex)";
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        const int64_t oui = ThreePairs(line, '-');
        const size_t mark = line.find(kMark);
        if (oui < 0 || mark == std::string_view::npos || !Trim(line.substr(8, mark - 8)).empty()) {
            continue;
        }
        const std::string_view name = Trim(line.substr(mark + kMark.size()));
        if (!name.empty()) {
            names.emplace(static_cast<uint32_t>(oui), std::string(name));
        }
    }
    return names;
}

int64_t OuiOf(std::string_view mac) {
    const char separator = mac.size() > 2 ? mac[2] : 0;
    return ThreePairs(mac, separator == ':' || separator == '-' ? separator : 0);
}

std::string OuiNames::VendorOf(std::string_view mac) {
    const int64_t oui = OuiOf(mac);
    if (oui < 0) {
        return {};
    }
    std::call_once(m_loaded, [this] {
        // A registry that is missing or unreadable names no makers.
        auto opened = FileReader::Open(m_path);
        std::string text;
        if (opened.file) {
            text.resize(static_cast<size_t>(opened.file->Size()));
            text.resize(
                opened.file->ReadAt(0, reinterpret_cast<uint8_t*>(text.data()), text.size()));
        }
        m_names = ParseOuiText(text);
    });
    const auto found = m_names.find(static_cast<uint32_t>(oui));
    return found != m_names.end() ? found->second : std::string();
}

}  // namespace vorpane
