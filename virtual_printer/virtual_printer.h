#pragma once
// A virtual ESC/POS printer behind a network board: raw data on a TCP port,
// DLE EOT status answered from its condition, a journal of what it received,
// and optionally a responder for the NetBIOS sweep on UDP.
//
// Journal lines besides those of the commands (escpos/command_journal.h):
//   listening on 127.0.0.1:9100 (mode normal, conditions online)
//   netbios responder on udp 127.0.0.1:137
//   session 1 open from 127.0.0.1:40312
//   session 1 closed after 7 bytes
//   session 1 closed after 7 bytes (Connection reset by peer)
//   session 1 closed after 7 bytes (idle for 300 s)
//   session 1 closed after 9000 bytes (printer stopped; 8000 held bytes not printed)
//                                          (bytes received but not decoded yet:
//                                          after a reset they are still printed,
//                                          a turn at a time; stopping drops them)
//   session 2 reset: busy with session 1          (one-session mode)
//   session 3 reset: too many sessions
//   session 4 closed after 9 bytes (reset for a session from 127.0.0.3)
//                                          (all slots taken, see MakeRoomFor)
//   DLE EOT 1 status request, answered 12
//   DLE EOT 1 status request, not answered (mute)
//   GS r 1 paper sensor status, answered 0F
//   GS I 67 model name, answered _VP-80 virtual (5F 56 ... 00)
//   GS I 9 version ID, not answered (unknown n)
//   GS a 15 automatic status back, sent 18 00 0F 00   (and at each change:)
//   automatic status back, sent 14 00 00 00
//   GS a 0 automatic status back, off
//   conditions: offline,paper-end                 (after a change)
//   restart: address now 192.168.1.20, MAC now AE-2B-64-14-2C-6C
//   netbios: answered 127.0.0.1:40000
// With rendering, the lines of receipt_files.h, and notes of the renderer:
//   receipt longer than 16384 dots: the rest of it is not drawn
//   GS k EAN13 12345: not drawn, data does not fit the symbology
//   font not found (cannot read font /x.ttc): characters are drawn as boxes
// The lines of a session's bytes (commands, text, answers, renderer notes)
// follow the last line about that session; when another session's lines
// came in between (sessions open at once), a line names the session again:
//   session 2:
// The lines themselves stay as they are, so readers that wait for one
// line find it whoever sent it, and one client's journal has no such line.
//
// All sockets are served by one thread; the calls below are thread-safe.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"
#include "receipt/glyphs.h"
#include "receipt/receipt_renderer.h"
#include "virtual_printer/journal.h"
#include "virtual_printer/limits.h"
#include "virtual_printer/netbios_responder.h"
#include "virtual_printer/printer_identity.h"
#include "virtual_printer/printer_profile.h"
#include "virtual_printer/printer_state.h"

namespace vorpane {

// A receipt as far as it has come out of the printer, for a live view of the
// paper. Updates of one receipt come in order; the last has `finished` set.
struct PaperUpdate {
    uint64_t session = 0;
    uint64_t receipt = 0;                          // the session's receipts, from 1
    std::string client;                            // "127.0.0.1:40312"
    std::chrono::system_clock::time_point opened;  // the session's start
    // A copy of the paper: the watcher may keep it as long as it likes.
    std::shared_ptr<const receipt::Receipt> paper;
    bool finished = false;  // cut, or the session ended: no more rows come
};
// Called on the serving thread, so it must hand the update on and return.
using PaperWatcher = std::function<void(PaperUpdate)>;

struct VirtualPrinterConfig {
    std::vector<std::string> listenAddresses = {"0.0.0.0"};
    uint16_t port = 9100;  // 0: the system picks one, see VirtualPrinter::Port()
    PrinterMode mode = PrinterMode::kNormal;
    ConditionSet conditions;
    // Answers NetBIOS name queries on each listening address.
    bool netbios = false;
    uint16_t netbiosPort = 137;  // 0: the system picks one
    // Lines kept in memory for Journal(); 0 keeps none.
    size_t journalLines = limits::kJournalLines;
    Journal::Writer journalWriter;
    // Given, the writer may buffer: the printer flushes after each turn.
    Journal::Flusher journalFlush;
    // Raw bytes kept in memory for Raw().Bytes().
    bool keepRaw = false;
    RawJournal::Writer rawWriter;
    // Sessions open at once before further ones are reset.
    size_t maxSessions = limits::kMaxSessions;
    // What the sessions hold together between commands, when drawing.
    size_t sharedMemoryBytes = limits::kSharedMemoryBytes;
    // Sessions that send nothing for this long are closed; zero: never.
    std::chrono::milliseconds idleTimeout = limits::kIdleTimeout;
    // Receipts are drawn and saved here as PNG files; empty: none are saved.
    std::string renderDir;
    // Given, receipts are drawn and shown to it while they print, at most
    // once per kPaperUpdateInterval each, and once more when they end.
    PaperWatcher paperWatcher;
    // The pictures in renderDir take at most this many bytes of disk blocks
    // and this many files; past either the oldest go. --render-file stops
    // writing pictures past them.
    uint64_t renderLimitBytes = uint64_t{256} << 20;
    size_t renderLimitFiles = 4096;
    PrinterProfile profile = DefaultPrinterProfile();
    // Chinese (GB18030) mode at power-on, as FS & sets it.
    bool chinese = true;
    // Pixels a dot takes each way in the pictures.
    int pngScale = 1;
    std::string fontPath = receipt::DefaultFontPath();
    // The answers to GS I 65-68.
    IdentityTexts identity;
};

class ReceiptFiles;
struct DrawingTools;
class SharedMemory;

class VirtualPrinter {
public:
    static constexpr std::chrono::milliseconds kPaperUpdateInterval{40};

    struct Created;
    // Binds and starts serving, or says why it could not.
    static Created Create(VirtualPrinterConfig config);

    ~VirtualPrinter();
    VirtualPrinter(const VirtualPrinter&) = delete;
    VirtualPrinter& operator=(const VirtualPrinter&) = delete;

    // Closes every socket and ends the serving thread; idempotent.
    void Stop();

    uint16_t Port() const { return m_port; }
    uint16_t NetbiosPort() const { return m_netbios.Port(); }
    PrinterMode Mode() const { return m_config.mode; }
    // Where it listens, as configured; a restart does not change them.
    const std::vector<std::string>& ListenAddresses() const { return m_config.listenAddresses; }

    ConditionSet Conditions() const;
    // Replaces the condition set and journals the change.
    void SetConditions(ConditionSet conditions);
    std::array<uint8_t, 4> CurrentStatusReplies() const;

    // Takes a pending address and MAC; journals the outcome.
    void Restart();
    std::string Address() const { return m_identity.Address(); }
    std::string Mac() const { return m_identity.Mac(); }
    std::optional<std::string> PendingAddress() const { return m_identity.PendingAddress(); }
    std::optional<std::string> PendingMac() const { return m_identity.PendingMac(); }
    // One line describing conditions, mode, identity and pending changes.
    std::string Show() const;

    // Sessions taken since the start, and those open now. Both change before
    // the journal line that reports the change.
    size_t SessionsOpened() const { return m_sessionsOpened.load(); }
    size_t OpenSessions() const { return m_openSessions.load(); }

    Journal& GetJournal() { return m_journal; }
    RawJournal& Raw() { return m_raw; }

private:
    struct Session;
    class SessionEvents;

    explicit VirtualPrinter(VirtualPrinterConfig config);
    std::string Start();
    void Serve();
    void AcceptOn(Socket& listener);
    // All slots taken: closes the longest idle session of the client address
    // that holds the most, if it holds at least two more than `address`.
    bool MakeRoomFor(uint32_t address);
    // One turn of an open session: its held bytes, then what it sent; closes
    // it at the end of its data or on an error. Callers learn of the close
    // from the session itself, never from a return value, so that no caller
    // can act on a stale answer.
    void ReadFrom(Session& session);
    // Feeds bytes until a command ends past the deadline; the rest waits in
    // the session. False once the time is up.
    bool Decode(Session& session, const uint8_t* data, size_t size,
                std::chrono::steady_clock::time_point deadline);
    bool FlushOutput(Session& session);
    // Closes the socket; bytes still held are decoded in later turns unless
    // dropped. Error empty for an orderly end.
    void CloseSession(Session& session, const std::string& error, bool dropHeld = false);
    // One turn of a closed session's held bytes; finishes it once they are done.
    void DrainTurn(Session& session);
    // Ends the receipt and journals the end, with the held bytes dropped.
    void FinishSession(Session& session, std::string reason);
    // Answers DLE EOT, GS r, GS I and GS a from the conditions and identity.
    void Answer(Session& session, StatusRequest request);
    // Queues automatic status back for the sessions whose enabled groups
    // changed; the bytes go out with the next turn's writes.
    void SendAutomaticStatus();
    void SessionLine(Session& session, const std::string& line);
    // Adds the session's lines to the journal, after a line naming the
    // session when the lines before were another session's.
    void AddSessionLines(Session& session);
    // Closes sessions idle too long; returns the poll time-out until the next.
    int CloseIdleSessions();
    // Shows the watcher the receipts that grew since it last saw them;
    // returns the poll time-out until one that grew since is due, or -1.
    int WatchPaper();
    void ShowPaper(Session& session, const receipt::Receipt& receipt, bool finished);

    const VirtualPrinterConfig m_config;
    Journal m_journal;
    RawJournal m_raw;
    std::vector<Socket> m_listeners;
    NetbiosResponder m_netbios;
    PrinterIdentity m_identity;         // starts with the first listening address
    std::optional<SocketWaker> m_wake;  // ends Serve()
    std::optional<SocketWaker> m_conditionsChanged;
    uint16_t m_port = 0;
    std::vector<std::unique_ptr<Session>> m_sessions;  // serving thread only
    std::vector<uint8_t> m_readBuffer;                 // serving thread only
    // A session's turn this round, shorter the more sessions are busy.
    std::chrono::steady_clock::duration m_turnTime = limits::kTurnTime;  // serving thread only
    uint64_t m_nextSessionId = 1;                                        // serving thread only
    uint64_t m_journalSession = 0;  // whose lines the journal took last; serving thread only
    std::atomic<size_t> m_sessionsOpened{0};
    std::atomic<size_t> m_openSessions{0};
    std::atomic<uint32_t> m_conditions{0};

    std::unique_ptr<receipt::GlyphSource> m_glyphs;     // serving thread only
    std::unique_ptr<receipt::SymbolEncoder> m_symbols;  // serving thread only
    std::unique_ptr<SharedMemory> m_memory;
    std::unique_ptr<DrawingTools> m_tools;
    std::unique_ptr<ReceiptFiles> m_files;

    std::mutex m_stopMutex;
    std::thread m_thread;
};

struct VirtualPrinter::Created {
    std::unique_ptr<VirtualPrinter> printer;  // null on failure
    std::string error;
};

}  // namespace vorpane
