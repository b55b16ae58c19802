#pragma once
// The call contract of the printer-access library: nine operations, each
// returning a signed 32-bit result, printers named by dotted-decimal text.
// Every caller in the system goes through this interface; the network
// implementation and the table substitute used by tests both implement it.

#include <cstdint>

namespace vorpane {

class PrinterLink {
public:
    virtual ~PrinterLink() = default;

    // Time-out for every later connect, send and receive. Safe to call while
    // other threads are inside IsConPrinterServer.
    virtual int32_t SetTimeOut(int32_t seconds, int32_t milliseconds) = 0;
    // Nonzero when a printer server answers at the address. Must allow many
    // concurrent callers (the scan asks from 17 threads at once).
    virtual int32_t IsConPrinterServer(const char* address) = 0;
    // Negative when no status could be read, else the status word.
    virtual int32_t GetStatus(const char* address) = 0;
    // Tests on a status word: nonzero when the condition holds.
    virtual int32_t IsCoverOpen(int32_t status) = 0;
    virtual int32_t IsBusy(int32_t status) = 0;
    virtual int32_t IsTempOver(int32_t status) = 0;
    virtual int32_t IsPause(int32_t status) = 0;
    virtual int32_t IsPaperEnd(int32_t status) = 0;
    // Number of bytes sent.
    virtual int32_t SendData(const char* address, const uint8_t* bytes, int32_t count) = 0;
};

}  // namespace vorpane
