#pragma once
// The virtual printer's limits in one place.

#include <chrono>
#include <cstddef>

namespace vorpane::limits {

// Sessions open at once before further ones are reset.
constexpr size_t kMaxSessions = 64;
// Journal lines kept in memory by default.
constexpr size_t kJournalLines = 100000;
// Sessions that send nothing for this long are closed, as print servers do.
constexpr std::chrono::seconds kIdleTimeout{300};
// One read buffer for every session.
constexpr size_t kReadBufferBytes = 256 * 1024;
// One session's turn: at most these bytes and about this time (checked
// after each command, so a turn overruns it by one command at most), before
// the others are served. What one client sends delays another's status
// reply by about one turn.
constexpr size_t kReadBytesPerTurn = 16 * 1024;
constexpr std::chrono::milliseconds kTurnTime{2};
// With many sessions busy at once each turn is shorter, down to a floor,
// so that a round of them all stays about this long: another client's
// status request waits about a round.
constexpr std::chrono::microseconds kRoundTime{40000};
constexpr std::chrono::microseconds kMinTurnTime{200};
// Replies waiting for a client that does not read them; past this the
// session is not read any further until they drain, as a real printer would
// stop taking data.
constexpr size_t kMaxPendingOutput = 64 * 1024;
// Connections taken in one turn, so that a storm of them cannot starve the
// sessions.
constexpr int kAcceptsPerTurn = 64;
// NetBIOS datagrams answered in one turn, and the largest one read.
constexpr int kDatagramsPerTurn = 64;
constexpr size_t kMaxDatagramBytes = 576;
// What all sessions together hold between commands (receipts and pages,
// stored images, commands still arriving): past it the session over drops
// its largest stored images, and receipts stop growing.
constexpr size_t kSharedMemoryBytes = size_t{64} << 20;
// Standard-input control lines longer than this are dropped.
constexpr size_t kMaxControlLine = 4096;

}  // namespace vorpane::limits
