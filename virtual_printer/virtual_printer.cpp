#include "virtual_printer/virtual_printer.h"

#include <algorithm>
#include <cerrno>
#include <map>

#include "escpos/command_journal.h"
#include "platform/ipv4_address.h"
#include "platform/thread.h"
#include "receipt/symbols.h"
#include "virtual_printer/print_session.h"
#include "virtual_printer/receipt_files.h"

namespace vorpane {
namespace {

using escpos::HexBytes;
using limits::kMaxPendingOutput;
using Clock = std::chrono::steady_clock;

// A scan connects and closes at once from many threads; a short accept
// queue would drop handshakes the clients already count as connected.
constexpr int kListenBacklog = 4096;

std::string Endpoint(const Ipv4Endpoint& e) {
    return Ipv4Address::FromHostOrder(e.address).Text() + ":" + std::to_string(e.port);
}

std::string Failure(const std::string& what, int error) {
    return what + ": " + SocketErrorText(error);
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
void ResetAndClose(Socket socket) {
    socket.SetResetOnClose();
}

bool WouldBlock(int error) {
    return error == EWOULDBLOCK || error == EAGAIN;
}

}  // namespace

class VirtualPrinter::SessionEvents final : public PrintSessionEvents {
public:
    SessionEvents(VirtualPrinter& printer, Session& session)
        : m_printer(printer), m_session(session) {}
    void OnJournalLine(const std::string& line) override;
    void OnStatusRequest(StatusRequest r) override { m_printer.Answer(m_session, r); }
    void OnNewAddress(const std::array<uint8_t, 4>& address) override {
        m_printer.m_identity.SetPendingAddress(address);
    }
    void OnNewMac(const std::array<uint8_t, 6>& mac) override {
        m_printer.m_identity.SetPendingMac(mac);
    }
    void OnReceipt(receipt::Receipt receipt) override;

private:
    VirtualPrinter& m_printer;
    Session& m_session;
};

struct VirtualPrinter::Session {
    uint64_t id = 0;
    Socket socket;
    uint32_t peer = 0;  // the client's address
    uint64_t bytes = 0;
    uint64_t receipts = 0;
    std::string client;  // "address:port"
    std::chrono::system_clock::time_point opened;
    int paperShown = 0;  // rows of the receipt in progress the watcher saw
    Clock::time_point paperShownAt;
    Clock::time_point lastData;
    std::vector<uint8_t> output;
    std::vector<uint8_t> pending;  // received, not decoded yet: the turn's time was up
    LineBatch lines;               // journal lines of the bytes being read
    // The socket is gone but held bytes are still decoded, a turn at a time
    // like any session's: a printer prints what it took before a reset.
    bool draining = false;
    std::string closeReason;  // of a draining session, for its closing line
    bool closed = false;
    uint8_t automaticStatus = 0;  // the groups GS a enabled
    // GS ( H process IDs taken while printing was stopped, answered in order
    // once it goes on.
    std::vector<std::array<uint8_t, 4>> heldIds;
    std::array<uint8_t, 4> automaticSent{};
    std::unique_ptr<SessionEvents> events;
    std::unique_ptr<PrintSession> print;
};

void VirtualPrinter::SessionEvents::OnJournalLine(const std::string& line) {
    m_printer.SessionLine(m_session, line);
}

void VirtualPrinter::SessionEvents::OnReceipt(receipt::Receipt receipt) {
    ++m_session.receipts;
    if (m_printer.m_config.paperWatcher) {
        m_printer.ShowPaper(m_session, receipt, true);
    }
    if (m_printer.m_files) {
        m_printer.m_files->Save(m_session.id, m_session.receipts, std::move(receipt));
    }
}

void VirtualPrinter::ShowPaper(Session& s, const receipt::Receipt& receipt, bool finished) {
    PaperUpdate update;
    update.session = s.id;
    update.receipt = s.receipts + (finished ? 0 : 1);
    update.client = s.client;
    update.opened = s.opened;
    update.paper = std::make_shared<const receipt::Receipt>(receipt);
    update.finished = finished;
    s.paperShown = finished ? 0 : receipt.paper.Height();
    s.paperShownAt = Clock::now();
    m_config.paperWatcher(std::move(update));
}

int VirtualPrinter::WatchPaper() {
    if (!m_config.paperWatcher) {
        return -1;
    }
    const auto now = Clock::now();
    auto next = Clock::time_point::max();
    for (const auto& s : m_sessions) {
        const receipt::Receipt* receipt = s->closed ? nullptr : s->print->CurrentReceipt();
        if (receipt == nullptr || receipt->paper.Height() == s->paperShown) {
            continue;
        }
        // Copies are cheap (a bit a dot) but a flood must not make one a read.
        const auto due = s->paperShownAt + kPaperUpdateInterval;
        if (due > now) {
            next = std::min(next, due);
        } else if (receipt->paper.AnyInk()) {
            ShowPaper(*s, *receipt, false);
        }
    }
    if (next == Clock::time_point::max()) {
        return -1;
    }
    return static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(next - now).count());
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
      m_identity(m_config.listenAddresses.empty() ? "" : m_config.listenAddresses.front(),
                 m_config.identity),
      m_readBuffer(limits::kReadBufferBytes),
      m_conditions(m_config.conditions.bits) {}

VirtualPrinter::~VirtualPrinter() {
    Stop();
}

std::string VirtualPrinter::Start() {
    if (m_config.listenAddresses.empty()) {
        return "no address to listen on";
    }
    uint16_t port = m_config.port;
    for (const std::string& text : m_config.listenAddresses) {
        const std::optional<Ipv4Address> address = Ipv4Address::Parse(text);
        if (!address) {
            return "not an IPv4 address: " + text;
        }
        Socket::Opened opened = Socket::Open(Socket::Kind::kStream, true);
        if (!opened.socket.Valid()) {
            return Failure("socket", opened.error);
        }
        Socket& socket = opened.socket;
        socket.SetReuseAddress();
        if (const int error = socket.Bind({address->HostOrder(), port}); error != 0) {
            return Failure("bind " + text + ":" + std::to_string(port), error);
        }
        // Refuse mode holds the port without listening: the system then
        // answers every connection attempt with a reset.
        if (m_config.mode != PrinterMode::kRefuse) {
            if (const int error = socket.Listen(kListenBacklog); error != 0) {
                return Failure("listen", error);
            }
        }
        Ipv4Endpoint bound;
        if (const int error = socket.LocalEndpoint(bound); error != 0) {
            return Failure("getsockname", error);
        }
        port = bound.port;  // later addresses share a port the system picked
        m_listeners.push_back(std::move(socket));
    }
    m_port = port;

    if (m_config.netbios) {
        if (std::string error = m_netbios.Open(m_config.listenAddresses, m_config.netbiosPort);
            !error.empty()) {
            return error;
        }
    }

    if (!m_config.renderDir.empty() || m_config.paperWatcher) {
        auto opened = receipt::OpenFontGlyphs(m_config.fontPath, m_config.profile.cells);
        m_glyphs = std::move(opened.glyphs);
        if (!m_glyphs) {
            m_journal.Add("font not found (" + opened.error + "): characters are drawn as boxes");
            m_glyphs = receipt::MakeBoxGlyphs(m_config.profile.cells);
        }
        m_symbols = receipt::MakeSymbolEncoder();
        m_tools = std::make_unique<DrawingTools>();
        m_tools->glyphs = m_glyphs.get();
        m_tools->symbols = m_symbols.get();
        m_tools->options = RenderOptionsOf(m_config.profile);
        m_memory = std::make_unique<SharedMemory>(m_config.sharedMemoryBytes);
        m_tools->memory = m_memory.get();
        // Pictures are the least urgent work: compressing them must not take
        // the processor from the thread that answers status requests.
        if (!m_config.renderDir.empty()) {
            m_files = std::make_unique<ReceiptFiles>(
                m_config.renderDir, m_journal, LowerCurrentThreadPriority,
                m_config.renderLimitBytes, m_config.pngScale, m_config.renderLimitFiles);
        }
    }

    SocketWaker::Created waker = SocketWaker::Create();
    if (!waker.waker) {
        return Failure("waker", waker.error);
    }
    m_wake = std::move(waker.waker);
    SocketWaker::Created changes = SocketWaker::Create();
    if (!changes.waker) {
        return Failure("waker", changes.error);
    }
    m_conditionsChanged = std::move(changes.waker);
    for (const std::string& text : m_config.listenAddresses) {
        m_journal.Add("listening on " + text + ":" + std::to_string(m_port) + " (mode " +
                      PrinterModeName(m_config.mode) + ", conditions " +
                      ConditionNames(Conditions()) + ")");
    }
    for (size_t i = 0; i < m_netbios.Responders(); ++i) {
        m_journal.Add("netbios responder on udp " + m_config.listenAddresses[i] + ":" +
                      std::to_string(m_netbios.Port()));
    }
    m_journal.Flush();
    m_thread = std::thread([this] { Serve(); });
    return {};
}

void VirtualPrinter::Stop() {
    std::lock_guard lock(m_stopMutex);
    if (m_thread.joinable()) {
        m_wake->Wake();
        m_thread.join();
    }
    m_sessions.clear();
    m_listeners.clear();
    m_netbios.Close();
    m_files.reset();  // writes the receipts still waiting
}

void VirtualPrinter::Serve() {
    std::vector<SocketPoll> polls;
    std::vector<Session*> polled;
    int paperWait = -1;
    for (;;) {
        const int idleWait = CloseIdleSessions();
        const int timeout =
            paperWait < 0 ? idleWait : (idleWait < 0 ? paperWait : std::min(idleWait, paperWait));
        polls.clear();
        polled.clear();
        polls.push_back({m_wake->Handle(), kSocketReadable});
        polls.push_back({m_conditionsChanged->Handle(), kSocketReadable});
        const size_t firstListener = polls.size();
        if (m_config.mode != PrinterMode::kRefuse) {
            for (const Socket& listener : m_listeners) {
                polls.push_back({listener.Handle(), kSocketReadable});
            }
        }
        const size_t listenerEnd = polls.size();
        m_netbios.AddPolls(polls);
        const size_t firstSession = polls.size();
        bool waiting = false;  // bytes left from a turn: no time to sleep
        for (const auto& s : m_sessions) {
            if (s->draining) {
                waiting = true;
                continue;
            }
            short events = 0;
            if (s->output.size() < kMaxPendingOutput) {
                events |= kSocketReadable;
                waiting = waiting || !s->pending.empty();
            }
            if (!s->output.empty()) {
                events |= kSocketWritable;
            }
            polls.push_back({s->socket.Handle(), events});
            polled.push_back(s.get());
        }

        const int error = PollSockets(polls, waiting ? 0 : timeout);
        if (error == EINTR) {
            continue;
        }
        if ((error != 0 && error != EAGAIN) || polls[0].ready != 0) {
            break;
        }
        if (polls[1].ready != 0) {
            m_conditionsChanged->Drain();
            SendAutomaticStatus();
        }
        size_t busy = 0;
        for (size_t i = firstSession; i < polls.size(); ++i) {
            busy += polls[i].ready != 0 || !polled[i - firstSession]->pending.empty();
        }
        for (const auto& s : m_sessions) {
            busy += s->draining;
        }
        m_turnTime = std::clamp<Clock::duration>(limits::kRoundTime / std::max<size_t>(busy, 1),
                                                 limits::kMinTurnTime, limits::kTurnTime);
        for (size_t i = firstSession; i < polls.size(); ++i) {
            Session& s = *polled[i - firstSession];
            const short rev = polls[i].ready;
            if ((rev & kSocketWritable) != 0 && !FlushOutput(s)) {
                continue;
            }
            const bool held = !s.pending.empty() && s.output.size() < kMaxPendingOutput;
            if ((rev & kSocketReadable) != 0 || held) {
                ReadFrom(s);
            }
        }
        for (const auto& s : m_sessions) {
            if (s->draining) {
                DrainTurn(*s);
            }
        }
        std::erase_if(m_sessions, [](const auto& s) { return s->closed; });
        paperWait = WatchPaper();
        size_t listener = 0;
        for (size_t i = firstListener; i < listenerEnd; ++i, ++listener) {
            if (polls[i].ready != 0) {
                AcceptOn(m_listeners[listener]);
            }
        }
        m_netbios.Answer(polls.data() + listenerEnd, m_journal);
        m_journal.Flush();
    }
    // Stopping does not wait for held bytes: they are dropped, and the
    // closing line says how many.
    for (const auto& s : m_sessions) {
        if (s->draining) {
            FinishSession(*s, s->closeReason + "; printer stopped");
        } else {
            CloseSession(*s, "printer stopped", true);
        }
    }
    m_sessions.clear();
    m_journal.Flush();
}

void VirtualPrinter::AcceptOn(Socket& listener) {
    // Bounded so that a storm of connections cannot starve the sessions.
    for (int i = 0; i < limits::kAcceptsPerTurn; ++i) {
        Ipv4Endpoint peer;
        Socket::Opened accepted = listener.Accept(peer);
        if (!accepted.socket.Valid()) {
            return;
        }
        Socket& fd = accepted.socket;
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
                if (!s->closed && !s->draining) {
                    ReadFrom(*s);
                }
            }
            std::erase_if(m_sessions, [](const auto& s) { return s->closed; });
        }
        if (m_sessions.size() >= m_config.maxSessions && !MakeRoomFor(peer.address)) {
            m_journal.Add("session " + std::to_string(id) + " reset: too many sessions");
            ResetAndClose(std::move(fd));
            continue;
        }
        auto session = std::make_unique<Session>();
        session->id = id;
        session->socket = std::move(fd);
        session->peer = peer.address;
        session->client = Endpoint(peer);
        session->opened = std::chrono::system_clock::now();
        session->lastData = Clock::now();
        session->events = std::make_unique<SessionEvents>(*this, *session);
        const bool journalled = m_config.journalLines > 0 || m_config.journalWriter != nullptr;
        session->print =
            std::make_unique<PrintSession>(*session->events, journalled, m_tools.get(),
                                           StartModeOf(m_config.profile, m_config.chinese));
        m_sessionsOpened.fetch_add(1);
        m_openSessions.fetch_add(1);
        m_journal.Add("session " + std::to_string(id) + " open from " + Endpoint(peer));
        m_journalSession = id;
        m_sessions.push_back(std::move(session));
    }
}

bool VirtualPrinter::MakeRoomFor(uint32_t address) {
    std::map<uint32_t, size_t> held;
    for (const auto& s : m_sessions) {
        ++held[s->peer];
    }
    const auto most = std::max_element(
        held.begin(), held.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    // Only a client that would still hold at least as many sessions as the
    // newcomer gives one up, so that one alone keeps every slot as before,
    // and clients sharing a full printer cannot take turns throwing each
    // other out.
    if (most == held.end() || most->second < held[address] + 2) {
        return false;
    }
    // A draining session has no connection left to reset: it ends by itself.
    Session* idlest = nullptr;
    for (const auto& s : m_sessions) {
        if (s->peer == most->first && !s->draining &&
            (idlest == nullptr || s->lastData < idlest->lastData)) {
            idlest = s.get();
        }
    }
    if (idlest == nullptr) {
        return false;
    }
    idlest->socket.SetResetOnClose();
    CloseSession(*idlest, "reset for a session from " + Ipv4Address::FromHostOrder(address).Text());
    std::erase_if(m_sessions, [](const auto& s) { return s->closed; });
    return true;
}

void VirtualPrinter::ReadFrom(Session& s) {
    // A turn ends after a bounded amount of bytes or of time, whichever
    // comes first, so that every other session is served soon: some
    // commands (a QR code to draw) cost far more than their bytes.
    const auto deadline = Clock::now() + m_turnTime;
    if (!s.pending.empty()) {
        std::vector<uint8_t> held;
        held.swap(s.pending);
        const bool more = Decode(s, held.data(), held.size(), deadline);
        // A failed send closes the session.
        if ((!s.output.empty() && !FlushOutput(s)) || !more) {
            return;
        }
    }
    size_t budget = limits::kReadBytesPerTurn;
    while (budget > 0 && s.output.size() < kMaxPendingOutput) {
        const SocketIo got =
            s.socket.Receive({m_readBuffer.data(), std::min(budget, m_readBuffer.size())});
        const auto n = static_cast<size_t>(got.bytes);
        if (got.error == 0 && n > 0) {
            budget -= n;
            s.lastData = Clock::now();
            m_raw.Add(m_readBuffer.data(), n);
            s.bytes += n;
            const bool more = Decode(s, m_readBuffer.data(), n, deadline);
            // A failed send closes the session.
            if ((!s.output.empty() && !FlushOutput(s)) || !more) {
                return;
            }
            continue;
        }
        if (got.error == EINTR) {
            continue;
        }
        if (WouldBlock(got.error)) {
            return;
        }
        if (got.error == 0) {
            // The client half-closed: send what is still owed, then close,
            // which the client sees as the end of its send.
            s.print->Finish();
            FlushOutput(s);
            CloseSession(s, "");
        } else {
            CloseSession(s, SocketErrorText(got.error));
        }
        return;
    }
}

bool VirtualPrinter::Decode(Session& s, const uint8_t* data, size_t size,
                            Clock::time_point deadline) {
    const size_t taken = s.print->Feed(data, size, deadline);
    if (taken < size) {
        s.pending.assign(data + taken, data + size);
    }
    AddSessionLines(s);
    return taken == size && Clock::now() < deadline;
}

bool VirtualPrinter::FlushOutput(Session& s) {
    size_t sent = 0;
    while (sent < s.output.size()) {
        const SocketIo n = s.socket.Send({s.output.data() + sent, s.output.size() - sent});
        if (n.error == 0 && n.bytes > 0) {
            sent += static_cast<size_t>(n.bytes);
            continue;
        }
        if (n.error == EINTR) {
            continue;
        }
        if (WouldBlock(n.error)) {
            break;
        }
        CloseSession(s, SocketErrorText(n.error));
        return false;
    }
    s.output.erase(s.output.begin(), s.output.begin() + static_cast<ptrdiff_t>(sent));
    return true;
}

void VirtualPrinter::CloseSession(Session& s, const std::string& error, bool dropHeld) {
    if (s.closed || s.draining) {
        return;
    }
    s.socket.Close();
    s.output.clear();
    if (!s.pending.empty() && !dropHeld) {
        s.draining = true;
        s.closeReason = error;
        return;
    }
    FinishSession(s, error);
}

void VirtualPrinter::DrainTurn(Session& s) {
    std::vector<uint8_t> held;
    held.swap(s.pending);
    Decode(s, held.data(), held.size(), Clock::now() + m_turnTime);
    s.output.clear();  // replies to a client that is gone
    if (s.pending.empty()) {
        FinishSession(s, s.closeReason);
    }
}

void VirtualPrinter::FinishSession(Session& s, std::string reason) {
    if (!s.pending.empty()) {
        reason += (reason.empty() ? "" : "; ") + std::to_string(s.pending.size()) +
                  " held bytes not printed";
        s.pending.clear();
    }
    s.print->Finish();
    AddSessionLines(s);
    s.closed = true;
    s.draining = false;
    // Counted before the journal line, so that a test woken by the line sees it.
    m_openSessions.fetch_sub(1);
    m_journal.Add("session " + std::to_string(s.id) + " closed after " + std::to_string(s.bytes) +
                  " bytes" + (reason.empty() ? "" : " (" + reason + ")"));
}

void VirtualPrinter::SessionLine(Session& s, const std::string& line) {
    s.lines.Push(line);
}

void VirtualPrinter::AddSessionLines(Session& s) {
    if (s.lines.Size() == 0) {
        return;
    }
    if (s.id != m_journalSession) {
        m_journalSession = s.id;
        m_journal.Add("session " + std::to_string(s.id) + ":");
    }
    m_journal.Add(s.lines);
}

namespace {

// 37 22 d1 d2 d3 d4 00.
std::string ProcessIdReply(const std::array<uint8_t, 4>& id) {
    return std::string("\x37\x22", 2) + std::string(id.begin(), id.end()) + std::string(1, '\0');
}

}  // namespace

void VirtualPrinter::Answer(Session& s, StatusRequest request) {
    using Kind = StatusRequest::Kind;
    // Through the session's lines, so that it keeps its place among them.
    const std::string name = StatusRequestName(request) + ", ";
    if (m_config.mode == PrinterMode::kMute) {
        return SessionLine(s, name + "not answered (mute)");
    }
    std::string reply;
    switch (request.kind) {
        case Kind::kRealTime:
            reply.assign(1, static_cast<char>(CurrentStatusReplies()[request.n - 1]));
            break;
        case Kind::kTransmit:
            if (const auto byte = TransmitStatusReply(Conditions(), request.n)) {
                reply.assign(1, static_cast<char>(*byte));
            }
            break;
        case Kind::kPrinterId:
            reply = m_identity.IdReply(request.n).value_or("");
            break;
        case Kind::kProcessId:
            if ((CurrentStatusReplies()[0] & 0x08) != 0 || !s.heldIds.empty()) {
                s.heldIds.push_back(request.id);
                return SessionLine(s, name + "held: printing is stopped");
            }
            reply = ProcessIdReply(request.id);
            break;
        case Kind::kAutomatic:
            s.automaticStatus = request.n & 0x0F;
            if (s.automaticStatus == 0) {
                return SessionLine(s, name + "off");
            }
            s.automaticSent = AutomaticStatus(Conditions());
            reply.assign(s.automaticSent.begin(), s.automaticSent.end());
            break;
    }
    if (reply.empty()) {
        return SessionLine(s, name + "not answered (unknown n)");
    }
    s.output.insert(s.output.end(), reply.begin(), reply.end());
    std::string shown = HexBytes(reinterpret_cast<const uint8_t*>(reply.data()), reply.size());
    if (reply.size() > 2 && reply.front() == '_') {
        shown = reply.substr(0, reply.size() - 1) + " (" + shown + ")";
    }
    SessionLine(s, name + (request.kind == Kind::kAutomatic ? "sent " : "answered ") + shown);
}

void VirtualPrinter::SendAutomaticStatus() {
    const auto now = AutomaticStatus(Conditions());
    const bool printing = (CurrentStatusReplies()[0] & 0x08) == 0;
    for (const auto& s : m_sessions) {
        if (printing && !s->closed && !s->draining && !s->heldIds.empty()) {
            for (const auto& id : s->heldIds) {
                const std::string reply = ProcessIdReply(id);
                s->output.insert(s->output.end(), reply.begin(), reply.end());
                SessionLine(
                    *s, StatusRequestName({StatusRequest::Kind::kProcessId, 48, id}) +
                            ", printed: answered " +
                            HexBytes(reinterpret_cast<const uint8_t*>(reply.data()), reply.size()));
            }
            s->heldIds.clear();
            AddSessionLines(*s);
        }
        if (s->closed || s->draining || s->automaticStatus == 0 ||
            !AutomaticStatusChanged(s->automaticSent, now, s->automaticStatus)) {
            continue;
        }
        s->automaticSent = now;
        s->output.insert(s->output.end(), now.begin(), now.end());
        SessionLine(*s, "automatic status back, sent " + HexBytes(now.data(), now.size()));
        AddSessionLines(*s);
    }
}

int VirtualPrinter::CloseIdleSessions() {
    const auto idle = m_config.idleTimeout;
    if (idle <= std::chrono::milliseconds::zero() || m_sessions.empty()) {
        return -1;
    }
    const auto now = Clock::now();
    auto next = Clock::time_point::max();
    for (const auto& s : m_sessions) {
        if (s->closed || s->draining) {
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

ConditionSet VirtualPrinter::Conditions() const {
    return ConditionSet{m_conditions.load()};
}

void VirtualPrinter::SetConditions(ConditionSet conditions) {
    m_conditions.store(conditions.bits);
    m_journal.Add("conditions: " + ConditionNames(conditions));
    m_journal.Flush();
    // Sessions with automatic status back hear of it from the serving thread.
    if (m_conditionsChanged) {
        m_conditionsChanged->Wake();
    }
}

std::array<uint8_t, 4> VirtualPrinter::CurrentStatusReplies() const {
    return StatusReplies(Conditions());
}

void VirtualPrinter::Restart() {
    m_journal.Add(m_identity.Restart());
    m_journal.Flush();
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
