#pragma once
// vorpane-cli's subcommands, run on what an environment gives them: the
// program's streams, the printer link, the neighbour table, the clock. The
// program hands in the system's; tests hand in loopback printers and a clock
// of their own.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/printer_reading.h"
#include "commands/network_config.h"
#include "net/echo_probe.h"
#include "platform/ipv4_address.h"
#include "printer_link/printer_link.h"

namespace vorpane {

// The printers a sweep found: their addresses and status bytes (-1 none),
// or an errno of our side.
struct FoundPrinters {
    std::vector<Ipv4Address> addresses;
    std::vector<int32_t> statusBytes;
    int error = 0;
};

struct CliEnvironment {
    std::ostream* out = nullptr;
    std::ostream* err = nullptr;
    // All of standard input.
    std::function<std::string()> readInput;
    // A link to the printers' port with the time-out; many threads call it.
    std::function<std::unique_ptr<PrinterLink>(uint16_t port, int32_t timeoutMs)> makeLink;
    // "00:11:62:0a:0b:0c" from the neighbour table; empty when it has no row.
    std::function<std::string(Ipv4Address)> macOf;
    // The maker of a MAC's OUI; empty when unknown.
    std::function<std::string(const std::string&)> vendorOf;
    // Sweeps the prefixes (A.B.C.D/N); none given: the local networks.
    std::function<FoundPrinters(const std::vector<std::string>& prefixes, uint16_t port,
                                int32_t timeoutMs)>
        sweep;
    ProberFactory makeProber;
    std::function<int32_t(Ipv4Address)> purgeArp;
    MacSource macSource;
    std::function<std::chrono::system_clock::time_point()> now;
    // Waits between two readings of --watch; false ends the watch.
    std::function<bool(std::chrono::milliseconds)> sleep;
    // The networks of the local interfaces, what metrics reads without
    // targets.
    std::function<std::vector<Ipv4Prefix>()> localPrefixes;
    // Ends a metrics server once true.
    const std::atomic<bool>* stopRequested = nullptr;
    // Catches the system's request to stop (Ctrl+C, SIGTERM) from here on,
    // in place of `stopRequested`: the flag it raises, null if it cannot.
    // Only the server asks for it; everything else simply ends.
    std::function<const std::atomic<bool>*()> catchStopRequests;
    size_t parallel = 64;
};

// Runs one parsed command line; the exit status.
int RunCli(const CliOptions& options, CliEnvironment& env);
// Parses `args` (without the program's name) and runs them.
int RunCommandLine(std::span<const std::string> args, CliEnvironment& env);

// "2026-03-01T12:00:00.250Z".
std::string IsoTimeUtc(std::chrono::system_clock::time_point time);

}  // namespace vorpane
