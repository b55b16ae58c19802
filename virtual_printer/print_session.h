#pragma once
// What the bytes of one session (or one captured file) do in the virtual
// printer: one decoder feeds the journal, the session's own effects (status
// requests, configuration frames) and, when drawing, the renderer.

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "escpos/command_decoder.h"
#include "escpos/command_journal.h"
#include "receipt/receipt_renderer.h"
#include "virtual_printer/printer_state.h"

namespace vorpane {

class PrintSessionEvents {
public:
    virtual ~PrintSessionEvents() = default;
    virtual void OnJournalLine(const std::string& line) = 0;
    // DLE EOT n with n in 1..4, GS r, GS I and GS a; the printer answers
    // and journals it.
    virtual void OnStatusRequest(StatusRequest request) = 0;
    // Configuration frames whose checksum was right.
    virtual void OnNewAddress(const std::array<uint8_t, 4>& address) = 0;
    virtual void OnNewMac(const std::array<uint8_t, 6>& mac) = 0;
    virtual void OnReceipt(receipt::Receipt receipt) = 0;
};

// What the sessions of one printer hold between commands, together: their
// receipts and pages, stored images and commands still arriving. Sessions
// run on one thread; the count is read by others.
class SharedMemory {
public:
    explicit SharedMemory(size_t limit) : m_limit(limit) {}
    size_t Limit() const { return m_limit; }
    size_t Used() const { return m_used.load(); }
    void Change(size_t from, size_t to) {
        m_used.fetch_add(to - from);  // wraps as intended when `to` is smaller
    }

private:
    const size_t m_limit;
    std::atomic<size_t> m_used{0};
};

// The glyphs and symbols a session draws with, and the memory it shares;
// they outlive the session.
struct DrawingTools {
    receipt::GlyphSource* glyphs = nullptr;
    receipt::SymbolEncoder* symbols = nullptr;
    receipt::RenderOptions options;
    SharedMemory* memory = nullptr;  // null: not bounded across sessions
};

class PrintSession final : private escpos::CommandSink, private receipt::ReceiptEvents {
public:
    // Without a journal, text is passed over unread; without tools, nothing
    // is drawn. `start` is the text mode at power-on.
    PrintSession(PrintSessionEvents& events, bool journal, const DrawingTools* tools,
                 escpos::TextMode start = {});
    ~PrintSession() override;

    void Feed(const uint8_t* data, size_t size) {
        m_decoder.Feed(data, size);
        Account();
    }
    // Feeds until the bytes end, or stops after the first command that ends
    // at or past `until`; returns the bytes taken.
    size_t Feed(const uint8_t* data, size_t size, std::chrono::steady_clock::time_point until);
    // End of the session: a command cut off, the last line, the last receipt.
    void Finish();
    // The receipt being printed, as far as it has come; null when nothing
    // is drawn or nothing is on it yet.
    const receipt::Receipt* CurrentReceipt() const {
        return m_renderer ? m_renderer->Current() : nullptr;
    }
    uint64_t DrawingWork() const { return m_renderer ? m_renderer->Work() : 0; }

private:
    void OnCommand(const escpos::Command& command) override;
    void OnReceipt(receipt::Receipt receipt) override;
    void OnNote(std::string line) override;
    bool MayGrow(size_t bytes) override;
    // Brings the shared count up to what this session holds; while the
    // printer is over its memory, drops the session's largest holdings.
    void Account();
    size_t Held() const;

    PrintSessionEvents& m_events;
    std::unique_ptr<escpos::CommandJournal> m_journal;
    std::unique_ptr<receipt::ReceiptRenderer> m_renderer;
    escpos::CommandDecoder m_decoder;
    SharedMemory* const m_memory;
    size_t m_counted = 0;  // of the shared memory
    bool m_finished = false;
    std::optional<std::chrono::steady_clock::time_point> m_until;  // while feeding with one
};

}  // namespace vorpane
