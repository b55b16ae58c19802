#pragma once
// A printer link that answers from a table of addresses and records every
// call, so the dialogs can be exercised without a network.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "printer_link/printer_link.h"

namespace vorpane {

// One printer of the table: what GetStatus and SendData answer (-2: the
// count it was given).
struct TablePrinter {
    int32_t status = 0x12121212;
    int32_t sendResult = -2;
};

class TablePrinterLink : public PrinterLink {
public:
    using Printer = TablePrinter;
    struct Call {
        std::string function;
        std::string address;
        std::vector<uint8_t> bytes = {};  // SendData's bytes
        int32_t a = 0, b = 0;             // the integer arguments
    };

    void AddPrinter(const std::string& address, Printer printer = {}) {
        std::lock_guard lock(m_mutex);
        m_printers[address] = printer;
    }
    void SetStatus(const std::string& address, int32_t status) {
        std::lock_guard lock(m_mutex);
        m_printers[address].status = status;
    }
    void SetSendResult(const std::string& address, int32_t result) {
        std::lock_guard lock(m_mutex);
        m_printers[address].sendResult = result;
    }
    std::vector<Call> Calls() const {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    std::vector<Call> CallsOf(const std::string& function) const {
        std::vector<Call> out;
        for (const auto& c : Calls()) {
            if (c.function == function) {
                out.push_back(c);
            }
        }
        return out;
    }
    void ClearCalls() {
        std::lock_guard lock(m_mutex);
        m_calls.clear();
    }

    int32_t SetTimeOut(int32_t seconds, int32_t milliseconds) override {
        Record({"SetTimeOut", "", {}, seconds, milliseconds}, "");
        return 1;
    }
    int32_t IsConPrinterServer(const char* address) override {
        return Record({"IsConPrinterServer", address}, address) != nullptr ? 1 : 0;
    }
    int32_t GetStatus(const char* address) override {
        const Printer* p = Record({"GetStatus", address}, address);
        return p != nullptr ? p->status : -1;
    }
    int32_t SendData(const char* address, const uint8_t* bytes, int32_t count) override {
        std::vector<uint8_t> data;
        if (bytes != nullptr && count > 0) {
            data.assign(bytes, bytes + count);
        }
        const Printer* p = Record({"SendData", address, std::move(data), count}, address);
        return p == nullptr ? 0 : p->sendResult == -2 ? count : p->sendResult;
    }

private:
    // Records the call; the printer at `address`, or null.
    const Printer* Record(Call call, const std::string& address) {
        std::lock_guard lock(m_mutex);
        m_calls.push_back(std::move(call));
        const auto it = m_printers.find(address);
        return it == m_printers.end() ? nullptr : &it->second;
    }
    mutable std::mutex m_mutex;
    std::map<std::string, Printer> m_printers;
    std::vector<Call> m_calls;
};

}  // namespace vorpane
