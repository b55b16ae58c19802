#pragma once
// A growable list of address strings in insertion order. Duplicates are kept
// and nothing is validated. The list has no lock of its own: an owner that
// shares it between threads must guard it.

#include <cstdint>
#include <string>
#include <vector>

namespace vorpane {

class HostList {
public:
    void Clear() { m_items.clear(); }
    int32_t Add(std::string address) {
        m_items.push_back(std::move(address));
        return static_cast<int32_t>(m_items.size()) - 1;
    }
    // The index must lie in 0 .. GetSize() - 1.
    std::string GetAt(int32_t index) const { return m_items.at(static_cast<size_t>(index)); }
    int32_t GetSize() const { return static_cast<int32_t>(m_items.size()); }

private:
    std::vector<std::string> m_items;
};

}  // namespace vorpane
