#pragma once
// A printer link that answers from a table of addresses and records every
// call, so the dialogs can be exercised without a network.

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "printer_link/printer_link.h"

namespace vorpane {

// One printer of the table.
struct TablePrinter {
    int32_t status = 0x12121212;  // what GetStatus answers
    int32_t sendResult = -2;      // what SendData answers; -2: the count
};

class TablePrinterLink : public PrinterLink {
public:
    using Printer = TablePrinter;
    struct Call {
        std::string function;
        std::string address;
        std::vector<uint8_t> bytes;  // SendData's bytes
        int32_t a = 0;               // first integer argument
        int32_t b = 0;               // second integer argument
    };

    void AddPrinter(const std::string& address, Printer printer = {});
    void RemovePrinter(const std::string& address);
    void SetStatus(const std::string& address, int32_t status);
    void SetSendResult(const std::string& address, int32_t result);

    std::vector<Call> Calls() const;
    std::vector<Call> CallsOf(const std::string& function) const;
    void ClearCalls();

    int32_t SetTimeOut(int32_t seconds, int32_t milliseconds) override;
    int32_t IsConPrinterServer(const char* address) override;
    int32_t GetStatus(const char* address) override;
    int32_t SendData(const char* address, const uint8_t* bytes, int32_t count) override;

private:
    void Record(Call call);
    mutable std::mutex m_mutex;
    std::map<std::string, Printer> m_printers;
    std::vector<Call> m_calls;
};

}  // namespace vorpane
