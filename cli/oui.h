#pragma once
// The maker of a network card from the first three bytes of its MAC (the
// OUI), as the IEEE's registry lists them in Debian's ieee-data package.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace vorpane {

inline constexpr char kSystemOuiPath[] = "/usr/share/ieee-data/oui.txt";

// The "(hex)" lines of the registry's text ("00-11-62   (hex)\t\tStar
// Micronics Co.,LTD."), by OUI (0x001162). Other lines are skipped.
std::unordered_map<uint32_t, std::string> ParseOuiText(std::string_view text);

// The OUI of "00:11:62:0a:0b:0c", "00-11-62-..." or "001162..."; -1 when
// the text does not start with three hex pairs.
int64_t OuiOf(std::string_view mac);

// Names makers from the registry file, read the first time a MAC needs a
// name and never again. Safe to call from many threads.
class OuiNames {
public:
    explicit OuiNames(std::string path = kSystemOuiPath) : m_path(std::move(path)) {}
    // The maker's name; empty when unknown or the file cannot be read.
    std::string VendorOf(std::string_view mac);

private:
    std::string m_path;
    std::once_flag m_loaded;
    std::unordered_map<uint32_t, std::string> m_names;
};

}  // namespace vorpane
