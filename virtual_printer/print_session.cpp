#include "virtual_printer/print_session.h"

namespace vorpane {

using escpos::Command;

PrintSession::PrintSession(PrintSessionEvents& events, bool journal, const DrawingTools* tools,
                           escpos::TextMode start)
    : m_events(events),
      m_journal(journal ? std::make_unique<escpos::CommandJournal>(
                              [this](const std::string& line) { m_events.OnJournalLine(line); })
                        : nullptr),
      m_renderer(tools != nullptr && tools->glyphs != nullptr && tools->symbols != nullptr
                     ? std::make_unique<receipt::ReceiptRenderer>(
                           *tools->glyphs, *tools->symbols,
                           static_cast<receipt::ReceiptEvents&>(*this), tools->options)
                     : nullptr),
      m_decoder(static_cast<escpos::CommandSink&>(*this),
                m_journal != nullptr || m_renderer != nullptr, start),
      m_memory(tools != nullptr ? tools->memory : nullptr) {}

PrintSession::~PrintSession() {
    if (m_memory) {
        m_memory->Change(m_counted, 0);
    }
}

size_t PrintSession::Held() const {
    return m_decoder.HeldBytes() + (m_renderer ? m_renderer->HeldBytes() : 0);
}

void PrintSession::Account() {
    if (!m_memory) {
        return;
    }
    size_t held = Held();
    m_memory->Change(m_counted, held);
    m_counted = held;
    std::string dropped;
    while (m_memory->Used() > m_memory->Limit()) {
        std::string name;
        const size_t image = m_renderer ? m_renderer->DropLargestImage(name, false) : 0;
        const size_t arriving = m_decoder.HeldBytes();
        size_t freed = 0;
        if (arriving > image && m_decoder.DropHeld()) {
            name = "the command being read";
            freed = arriving;
        } else if (image > 0) {
            freed = m_renderer->DropLargestImage(name, true);
        }
        if (freed == 0) {
            break;
        }
        dropped += (dropped.empty() ? "" : ", ") + name;
        held = Held();
        m_memory->Change(m_counted, held);
        m_counted = held;
    }
    if (!dropped.empty()) {
        OnNote("printer memory over " + std::to_string(m_memory->Limit() >> 20) +
               " MiB, shared by its sessions: dropped " + dropped);
    }
}

bool PrintSession::MayGrow(size_t bytes) {
    if (!m_memory) {
        return true;
    }
    // Nothing is dropped here: the renderer may be drawing a stored image.
    return m_memory->Used() - m_counted + Held() + bytes <= m_memory->Limit();
}

size_t PrintSession::Feed(const uint8_t* data, size_t size,
                          std::chrono::steady_clock::time_point until) {
    m_until = until;
    const size_t taken = m_decoder.Feed(data, size);
    m_until.reset();
    Account();
    return taken;
}

void PrintSession::Finish() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    m_decoder.Finish();
    if (m_journal) {
        m_journal->Finish();
    }
    if (m_renderer) {
        m_renderer->Finish();
    }
}

void PrintSession::OnCommand(const Command& c) {
    if (m_journal) {
        m_journal->OnCommand(c);
    }
    if (const auto* request = c.Get<escpos::StatusRequest>()) {
        m_events.OnStatusRequest(*request);
    } else if (const auto* frame = c.Get<escpos::ConfigFrame>(); frame && frame->checksumOk) {
        const auto& v = frame->value;
        if (frame->kind == escpos::ConfigFrame::Kind::kAddress) {
            m_events.OnNewAddress({v[0], v[1], v[2], v[3]});
        } else {
            m_events.OnNewMac({v[0], v[1], v[2], v[3], v[4], v[5]});
        }
    }
    if (m_renderer) {
        m_renderer->OnCommand(c);
        Account();
    }
    // Checked after every command, since a few bytes can cost a long time
    // (a large QR code drawn again and again).
    if (m_until && std::chrono::steady_clock::now() >= *m_until) {
        m_decoder.Pause();
    }
}

void PrintSession::OnReceipt(receipt::Receipt receipt) {
    m_events.OnReceipt(std::move(receipt));
}

void PrintSession::OnNote(std::string line) {
    if (m_journal) {
        m_events.OnJournalLine(line);
    }
}

}  // namespace vorpane
