#include "table_printer_link.h"

namespace vorpane {

void TablePrinterLink::AddPrinter(const std::string& address, Printer printer) {
    std::lock_guard lock(m_mutex);
    m_printers[address] = printer;
}

void TablePrinterLink::RemovePrinter(const std::string& address) {
    std::lock_guard lock(m_mutex);
    m_printers.erase(address);
}

void TablePrinterLink::SetStatus(const std::string& address, int32_t status) {
    std::lock_guard lock(m_mutex);
    m_printers[address].status = status;
}

void TablePrinterLink::SetSendResult(const std::string& address, int32_t result) {
    std::lock_guard lock(m_mutex);
    m_printers[address].sendResult = result;
}

std::vector<TablePrinterLink::Call> TablePrinterLink::Calls() const {
    std::lock_guard lock(m_mutex);
    return m_calls;
}

std::vector<TablePrinterLink::Call> TablePrinterLink::CallsOf(const std::string& function) const {
    std::lock_guard lock(m_mutex);
    std::vector<Call> out;
    for (const auto& c : m_calls) {
        if (c.function == function) {
            out.push_back(c);
        }
    }
    return out;
}

void TablePrinterLink::ClearCalls() {
    std::lock_guard lock(m_mutex);
    m_calls.clear();
}

void TablePrinterLink::Record(Call call) {
    std::lock_guard lock(m_mutex);
    m_calls.push_back(std::move(call));
}

int32_t TablePrinterLink::SetTimeOut(int32_t seconds, int32_t milliseconds) {
    Record({"SetTimeOut", "", {}, seconds, milliseconds});
    return 1;
}

int32_t TablePrinterLink::IsConPrinterServer(const char* address) {
    Record({"IsConPrinterServer", address, {}, 0, 0});
    std::lock_guard lock(m_mutex);
    return m_printers.count(address) != 0 ? 1 : 0;
}

int32_t TablePrinterLink::GetStatus(const char* address) {
    Record({"GetStatus", address, {}, 0, 0});
    std::lock_guard lock(m_mutex);
    auto it = m_printers.find(address);
    return it == m_printers.end() ? -1 : it->second.status;
}

int32_t TablePrinterLink::SendData(const char* address, const uint8_t* bytes, int32_t count) {
    std::vector<uint8_t> data;
    if (bytes != nullptr && count > 0) {
        data.assign(bytes, bytes + count);
    }
    Record({"SendData", address, std::move(data), count, 0});
    std::lock_guard lock(m_mutex);
    auto it = m_printers.find(address);
    if (it == m_printers.end()) {
        return 0;
    }
    return it->second.sendResult == -2 ? count : it->second.sendResult;
}

}  // namespace vorpane
