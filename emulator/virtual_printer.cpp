#include "emulator/virtual_printer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "emulator/escpos/command_journal.h"
#include "emulator/print_session.h"
#include "emulator/receipt_files.h"
#include "emulator/render/symbols.h"

namespace vorpane {
namespace {

using escpos::HexBytes;
using limits::kMaxPendingOutput;
using Clock = std::chrono::steady_clock;

// A scan connects and closes at once from many threads; a short accept
// queue would drop handshakes the clients already count as connected.
constexpr int kListenBacklog = SOMAXCONN;

std::string Endpoint(const sockaddr_in& addr) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
}

std::string Errno(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

std::string MacText(const std::array<uint8_t, 6>& b) {
    std::string text = HexBytes(b.data(), b.size());
    std::replace(text.begin(), text.end(), ' ', '-');
    return text;
}

std::string AddressText(const std::array<uint8_t, 4>& b) {
    return std::to_string(b[0]) + "." + std::to_string(b[1]) + "." + std::to_string(b[2]) + "." +
           std::to_string(b[3]);
}

// "300", "0.25"
std::string SecondsText(std::chrono::milliseconds d) {
    std::string text = std::to_string(d.count() / 1000);
    if (const auto ms = d.count() % 1000; ms != 0) {
        std::string fraction = std::to_string(ms + 1000).substr(1);
        fraction.erase(fraction.find_last_not_of('0') + 1);
        text += "." + fraction;
    }
    return text;
}

// Close with a reset, the way a busy one-session board turns a client away.
void ResetAndClose(UniqueFd fd) {
    const linger abort{1, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
}

}  // namespace

class VirtualPrinter::SessionEvents final : public PrintSessionEvents {
public:
    SessionEvents(VirtualPrinter& printer, Session& session)
        : m_printer(printer), m_session(session) {}
    void OnJournalLine(const std::string& line) override;
    void OnStatusRequest(uint8_t n) override { m_printer.StatusRequest(m_session, n); }
    void OnNewAddress(const std::array<uint8_t, 4>& address) override {
        m_printer.SetPendingAddress(address);
    }
    void OnNewMac(const std::array<uint8_t, 6>& mac) override { m_printer.SetPendingMac(mac); }
    void OnReceipt(render::Receipt receipt) override;

private:
    VirtualPrinter& m_printer;
    Session& m_session;
};

struct VirtualPrinter::Session {
    uint64_t id = 0;
    UniqueFd fd;
    uint64_t bytes = 0;
    uint64_t receipts = 0;
    Clock::time_point lastData;
    std::vector<uint8_t> output;
    std::vector<uint8_t> pending;  // received, not decoded yet: the turn's time was up
    LineBatch lines;               // journal lines of the bytes being read
    bool closed = false;
    std::unique_ptr<SessionEvents> events;
    std::unique_ptr<PrintSession> print;
};

void VirtualPrinter::SessionEvents::OnJournalLine(const std::string& line) {
    m_session.lines.Push(line);
}

void VirtualPrinter::SessionEvents::OnReceipt(render::Receipt receipt) {
    if (m_printer.m_files) {
        m_printer.m_files->Save(m_session.id, ++m_session.receipts, std::move(receipt));
    }
}

VirtualPrinter::Created VirtualPrinter::Create(VirtualPrinterConfig config) {
    std::unique_ptr<VirtualPrinter> printer(new VirtualPrinter(std::move(config)));
    std::string error = printer->Start();
    if (!error.empty()) {
        return {nullptr, std::move(error)};
    }
    return {std::move(printer), {}};
}

VirtualPrinter::VirtualPrinter(VirtualPrinterConfig config)
    : m_config(std::move(config)),
      m_journal(m_config.journalLines, m_config.journalWriter, m_config.journalFlush),
      m_raw(m_config.keepRaw, m_config.rawWriter),
      m_readBuffer(limits::kReadBufferBytes),
      m_conditions(m_config.conditions.bits) {}

VirtualPrinter::~VirtualPrinter() {
    Stop();
}

std::string VirtualPrinter::Start() {
    if (m_config.listenAddresses.empty()) {
        return "no address to listen on";
    }
    m_address = m_config.listenAddresses.front();
    uint16_t port = m_config.port;
    for (const std::string& text : m_config.listenAddresses) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        if (::inet_pton(AF_INET, text.c_str(), &addr.sin_addr) != 1) {
            return "not an IPv4 address: " + text;
        }
        UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!fd.valid()) {
            return Errno("socket");
        }
        const int one = 1;
        ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        addr.sin_port = htons(port);
        if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            return Errno(("bind " + text + ":" + std::to_string(port)).c_str());
        }
        // Refuse mode holds the port without listening: the kernel then
        // answers every connection attempt with a reset.
        if (m_config.mode != PrinterMode::kRefuse && ::listen(fd.get(), kListenBacklog) != 0) {
            return Errno("listen");
        }
        sockaddr_in bound{};
        socklen_t len = sizeof bound;
        if (::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&bound), &len) != 0) {
            return Errno("getsockname");
        }
        port = ntohs(bound.sin_port);  // later addresses share a port the system picked
        m_listeners.push_back(std::move(fd));
    }
    m_port = port;

    if (m_config.netbios) {
        // Broadcasts only reach a socket bound to the wildcard address.
        m_udp.reset(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!m_udp.valid()) {
            return Errno("socket");
        }
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        addr.sin_port = htons(m_config.netbiosPort);
        if (::bind(m_udp.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
            return Errno(("bind udp port " + std::to_string(m_config.netbiosPort)).c_str());
        }
        sockaddr_in bound{};
        socklen_t len = sizeof bound;
        ::getsockname(m_udp.get(), reinterpret_cast<sockaddr*>(&bound), &len);
        m_netbiosPort = ntohs(bound.sin_port);
    }

    if (!m_config.renderDir.empty()) {
        auto opened = render::OpenFontGlyphs(m_config.fontPath);
        m_glyphs = std::move(opened.glyphs);
        if (!m_glyphs) {
            m_journal.Add("font not found (" + opened.error + "): characters are drawn as boxes");
            m_glyphs = render::MakeBoxGlyphs();
        }
        m_symbols = render::MakeSymbolEncoder();
        m_tools = std::make_unique<DrawingTools>();
        m_tools->glyphs = m_glyphs.get();
        m_tools->symbols = m_symbols.get();
        m_tools->options.paperDots = m_config.paperDots;
        // Pictures are the least urgent work: compressing them must not take
        // the processor from the thread that answers status requests.
        m_files = std::make_unique<ReceiptFiles>(m_config.renderDir, m_journal, [] {
            ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
        });
    }

    m_wake.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!m_wake.valid()) {
        return Errno("eventfd");
    }
    for (const std::string& text : m_config.listenAddresses) {
        m_journal.Add("listening on " + text + ":" + std::to_string(m_port) + " (mode " +
                      PrinterModeName(m_config.mode) + ", conditions " +
                      ConditionNames(Conditions()) + ")");
    }
    if (m_udp.valid()) {
        m_journal.Add("netbios responder on udp port " + std::to_string(m_netbiosPort));
    }
    m_journal.Flush();
    m_thread = std::thread([this] { Serve(); });
    return {};
}

void VirtualPrinter::Stop() {
    std::lock_guard lock(m_stopMutex);
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        while (::write(m_wake.get(), &one, sizeof one) < 0 && errno == EINTR) {
        }
        m_thread.join();
    }
    m_sessions.clear();
    m_listeners.clear();
    m_udp.reset();
    m_files.reset();  // writes the receipts still waiting
}

void VirtualPrinter::Serve() {
    std::vector<pollfd> fds;
    std::vector<Session*> polled;
    for (;;) {
        const int timeout = CloseIdleSessions();
        fds.clear();
        polled.clear();
        fds.push_back({m_wake.get(), POLLIN, 0});
        const size_t firstListener = fds.size();
        if (m_config.mode != PrinterMode::kRefuse) {
            for (const UniqueFd& fd : m_listeners) {
                fds.push_back({fd.get(), POLLIN, 0});
            }
        }
        const size_t listenerEnd = fds.size();
        if (m_udp.valid()) {
            fds.push_back({m_udp.get(), POLLIN, 0});
        }
        const size_t firstSession = fds.size();
        bool waiting = false;  // bytes left from a turn: no time to sleep
        for (const auto& s : m_sessions) {
            short events = 0;
            if (s->output.size() < kMaxPendingOutput) {
                events |= POLLIN;
                waiting = waiting || !s->pending.empty();
            }
            if (!s->output.empty()) {
                events |= POLLOUT;
            }
            fds.push_back({s->fd.get(), events, 0});
            polled.push_back(s.get());
        }

        if (::poll(fds.data(), fds.size(), waiting ? 0 : timeout) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        for (size_t i = firstSession; i < fds.size(); ++i) {
            Session& s = *polled[i - firstSession];
            const short rev = fds[i].revents;
            if ((rev & POLLOUT) != 0 && !FlushOutput(s)) {
                continue;
            }
            const bool held = !s.pending.empty() && s.output.size() < kMaxPendingOutput;
            if ((rev & (POLLIN | POLLHUP | POLLERR)) != 0 || held) {
                ReadFrom(s);
            }
        }
        std::erase_if(m_sessions, [](const auto& s) { return s->closed; });
        for (size_t i = firstListener; i < listenerEnd; ++i) {
            if (fds[i].revents != 0) {
                AcceptOn(fds[i].fd);
            }
        }
        if (m_udp.valid() && (fds[listenerEnd].revents & POLLIN) != 0) {
            AnswerNetbios();
        }
        m_journal.Flush();
    }
    for (const auto& s : m_sessions) {
        CloseSession(*s, "printer stopped");
    }
    m_sessions.clear();
    m_journal.Flush();
}

void VirtualPrinter::AcceptOn(int listenFd) {
    // Bounded so that a storm of connections cannot starve the sessions.
    for (int i = 0; i < limits::kAcceptsPerTurn; ++i) {
        sockaddr_in peer{};
        socklen_t len = sizeof peer;
        UniqueFd fd(::accept4(listenFd, reinterpret_cast<sockaddr*>(&peer), &len,
                              SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!fd.valid()) {
            return;
        }
        const uint64_t id = m_nextSessionId++;
        if (m_config.mode == PrinterMode::kOneSession && !m_sessions.empty()) {
            m_journal.Add("session " + std::to_string(id) + " reset: busy with session " +
                          std::to_string(m_sessions.front()->id));
            ResetAndClose(std::move(fd));
            continue;
        }
        if (m_sessions.size() >= m_config.maxSessions) {
            // A fast scan's clients close before this loop gets round to
            // reading their end: such sessions are over, not busy.
            for (const auto& s : m_sessions) {
                if (!s->closed) {
                    ReadFrom(*s);
                }
            }
            std::erase_if(m_sessions, [](const auto& s) { return s->closed; });
        }
        if (m_sessions.size() >= m_config.maxSessions) {
            m_journal.Add("session " + std::to_string(id) + " reset: too many sessions");
            ResetAndClose(std::move(fd));
            continue;
        }
        auto session = std::make_unique<Session>();
        session->id = id;
        session->fd = std::move(fd);
        session->lastData = Clock::now();
        session->events = std::make_unique<SessionEvents>(*this, *session);
        const bool journalled = m_config.journalLines > 0 || m_config.journalWriter != nullptr;
        session->print =
            std::make_unique<PrintSession>(*session->events, journalled, m_tools.get());
        m_sessionsOpened.fetch_add(1);
        m_openSessions.fetch_add(1);
        m_journal.Add("session " + std::to_string(id) + " open from " + Endpoint(peer));
        m_sessions.push_back(std::move(session));
    }
}

bool VirtualPrinter::ReadFrom(Session& s) {
    // A turn ends after a bounded amount of bytes or of time, whichever
    // comes first, so that every other session is served soon: some
    // commands (a QR code to draw) cost far more than their bytes.
    const auto deadline = Clock::now() + limits::kTurnTime;
    if (!s.pending.empty()) {
        std::vector<uint8_t> held;
        held.swap(s.pending);
        const bool more = Decode(s, held.data(), held.size(), deadline);
        if (!s.output.empty() && !FlushOutput(s)) {
            return false;
        }
        if (!more) {
            return true;
        }
    }
    size_t budget = limits::kReadBytesPerTurn;
    while (budget > 0 && s.output.size() < kMaxPendingOutput) {
        const ssize_t n =
            ::recv(s.fd.get(), m_readBuffer.data(), std::min(budget, m_readBuffer.size()), 0);
        if (n > 0) {
            budget -= static_cast<size_t>(n);
            s.lastData = Clock::now();
            m_raw.Add(m_readBuffer.data(), static_cast<size_t>(n));
            s.bytes += static_cast<uint64_t>(n);
            const bool more = Decode(s, m_readBuffer.data(), static_cast<size_t>(n), deadline);
            if (!s.output.empty() && !FlushOutput(s)) {
                return false;
            }
            if (!more) {
                return true;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return true;
        }
        if (n == 0) {
            // The client half-closed: send what is still owed, then close,
            // which the client sees as the end of its send.
            s.print->Finish();
            FlushOutput(s);
            CloseSession(s, "");
        } else {
            CloseSession(s, std::strerror(errno));
        }
        return false;
    }
    return true;
}

bool VirtualPrinter::Decode(Session& s, const uint8_t* data, size_t size,
                            Clock::time_point deadline) {
    size_t done = 0;
    while (done < size) {
        const size_t n = std::min(limits::kDecodeSliceBytes, size - done);
        s.print->Feed(data + done, n);
        done += n;
        if (done < size && Clock::now() >= deadline) {
            s.pending.assign(data + done, data + size);
            break;
        }
    }
    m_journal.Add(s.lines);
    return done == size && Clock::now() < deadline;
}

bool VirtualPrinter::FlushOutput(Session& s) {
    size_t sent = 0;
    while (sent < s.output.size()) {
        const ssize_t n = ::send(s.fd.get(), s.output.data() + sent, s.output.size() - sent,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        }
        CloseSession(s, std::strerror(errno));
        return false;
    }
    s.output.erase(s.output.begin(), s.output.begin() + static_cast<ptrdiff_t>(sent));
    return true;
}

void VirtualPrinter::CloseSession(Session& s, const std::string& error) {
    if (s.closed) {
        return;
    }
    s.print->Feed(s.pending.data(), s.pending.size());  // received, so decoded
    s.print->Finish();
    m_journal.Add(s.lines);
    s.closed = true;
    s.fd.reset();
    s.output.clear();
    // Counted before the journal line, so that a test woken by the line sees it.
    m_openSessions.fetch_sub(1);
    m_journal.Add("session " + std::to_string(s.id) + " closed after " + std::to_string(s.bytes) +
                  " bytes" + (error.empty() ? "" : " (" + error + ")"));
}

void VirtualPrinter::StatusRequest(Session& s, uint8_t n) {
    // Through the session's lines, so that it keeps its place among them.
    const std::string request = "DLE EOT " + std::to_string(n) + " status request, ";
    if (m_config.mode == PrinterMode::kMute) {
        s.lines.Push(request + "not answered (mute)");
        return;
    }
    const uint8_t reply = CurrentStatusReplies()[n - 1];
    s.output.push_back(reply);
    s.lines.Push(request + "answered " + HexBytes(&reply, 1));
}

int VirtualPrinter::CloseIdleSessions() {
    const auto idle = m_config.idleTimeout;
    if (idle <= std::chrono::milliseconds::zero() || m_sessions.empty()) {
        return -1;
    }
    const auto now = Clock::now();
    auto next = Clock::time_point::max();
    for (const auto& s : m_sessions) {
        if (s->closed) {
            continue;
        }
        const auto deadline = s->lastData + idle;
        if (deadline <= now) {
            CloseSession(*s, "idle for " + SecondsText(idle) + " s");
        } else {
            next = std::min(next, deadline);
        }
    }
    std::erase_if(m_sessions, [](const auto& s) { return s->closed; });
    if (next == Clock::time_point::max()) {
        return -1;
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return static_cast<int>(std::min<int64_t>(wait, 60000));
}

void VirtualPrinter::AnswerNetbios() {
    for (int i = 0; i < limits::kDatagramsPerTurn; ++i) {
        uint8_t buf[limits::kMaxDatagramBytes];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n =
            ::recvfrom(m_udp.get(), buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 0) {
            return;
        }
        // Answers are not answered, so two responders cannot ping-pong.
        if (n >= 3 && (buf[2] & 0x80) != 0) {
            continue;
        }
        // Header of a name service response with the query's transaction id
        // and no records: enough for a sweep that counts senders.
        const uint8_t reply[12] = {n >= 1 ? buf[0] : uint8_t{0},
                                   n >= 2 ? buf[1] : uint8_t{0},
                                   0x85,
                                   0x03,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0};
        if (::sendto(m_udp.get(), reply, sizeof reply, MSG_DONTWAIT,
                     reinterpret_cast<const sockaddr*>(&from), len) == sizeof reply) {
            m_journal.Add("netbios: answered " + Endpoint(from));
        }
    }
}

ConditionSet VirtualPrinter::Conditions() const {
    return ConditionSet{m_conditions.load()};
}

void VirtualPrinter::SetConditions(ConditionSet conditions) {
    m_conditions.store(conditions.bits);
    m_journal.Add("conditions: " + ConditionNames(conditions));
    m_journal.Flush();
}

std::array<uint8_t, 4> VirtualPrinter::CurrentStatusReplies() const {
    return StatusReplies(Conditions());
}

void VirtualPrinter::SetPendingAddress(const std::array<uint8_t, 4>& address) {
    std::lock_guard lock(m_identityMutex);
    m_pendingAddress = address;
}

void VirtualPrinter::SetPendingMac(const std::array<uint8_t, 6>& mac) {
    std::lock_guard lock(m_identityMutex);
    m_pendingMac = mac;
}

void VirtualPrinter::Restart() {
    std::string line;
    {
        std::lock_guard lock(m_identityMutex);
        if (m_pendingAddress) {
            m_address = AddressText(*m_pendingAddress);
            m_pendingAddress.reset();
        }
        if (m_pendingMac) {
            m_mac = *m_pendingMac;
            m_pendingMac.reset();
        }
        line = "restart: address now " + m_address + ", MAC now " + MacText(m_mac);
    }
    m_journal.Add(std::move(line));
    m_journal.Flush();
}

std::string VirtualPrinter::Address() const {
    std::lock_guard lock(m_identityMutex);
    return m_address;
}

std::string VirtualPrinter::Mac() const {
    std::lock_guard lock(m_identityMutex);
    return MacText(m_mac);
}

std::optional<std::string> VirtualPrinter::PendingAddress() const {
    std::lock_guard lock(m_identityMutex);
    if (!m_pendingAddress) {
        return std::nullopt;
    }
    return AddressText(*m_pendingAddress);
}

std::optional<std::string> VirtualPrinter::PendingMac() const {
    std::lock_guard lock(m_identityMutex);
    if (!m_pendingMac) {
        return std::nullopt;
    }
    return MacText(*m_pendingMac);
}

std::string VirtualPrinter::Show() const {
    const auto replies = CurrentStatusReplies();
    return "conditions " + ConditionNames(Conditions()) + "; mode " +
           PrinterModeName(m_config.mode) + "; port " + std::to_string(m_port) + "; address " +
           Address() + " (pending " + PendingAddress().value_or("none") + "); MAC " + Mac() +
           " (pending " + PendingMac().value_or("none") + "); status " +
           HexBytes(replies.data(), replies.size()) + "; sessions " +
           std::to_string(SessionsOpened());
}

}  // namespace vorpane
