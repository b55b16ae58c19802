#pragma once
// The command line of vorpane-cli: its subcommands and options, read into
// one value. Bad usage is an exit status of 2 and one line naming the
// argument, never an exception.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "discovery/port_sweep.h"
#include "platform/ipv4_address.h"

namespace vorpane {

enum class CliCommand {
    kScan,
    kStatus,
    kTest,
    kPrint,
    kSendFile,
    kInit,
    kDrawer,
    kCut,
    kSetIp,
    kSetMac,
    kMetrics,
};

inline constexpr int kExitDone = 0;
inline constexpr int kExitPrinter = 1;  // a printer did not answer or refused
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNetwork = 3;  // a network error on our side

struct CliOptions {
    CliCommand command = CliCommand::kTest;
    std::string name;  // the subcommand as typed: "set-ip"
    bool json = false;
    uint16_t port = 9100;
    int32_t timeoutMs = 1000;  // 500 for scan
    // scan: none or one prefix; status and metrics: addresses and prefixes.
    std::vector<std::string> targets;
    int32_t watchSeconds = 0;  // status: 0 reads once
    // scan, status, metrics: what an open drawer does to connector pin 3
    // (true: high); none given, the pin's level is reported as it is.
    std::optional<bool> drawerOpenHigh;
    // scan, status, metrics: the least time between two readings of one
    // printer.
    int32_t minIntervalMs = 1000;
    Ipv4Address address;              // the one printer of an action
    std::optional<std::string> text;  // print: none reads standard input
    bool hex = false;
    // print, send-file, drawer, cut: end the job with GS ( H and wait for the
    // printer to say it printed.
    bool confirm = false;
    std::string file;                           // send-file
    Ipv4Address newAddress;                     // set-ip
    std::optional<std::array<uint8_t, 6>> mac;  // set-mac: none makes one
    std::string listen = "127.0.0.1:9464";      // metrics
    int32_t rescanSeconds = 300;                // metrics
    // metrics: what /probe may read (A.B.C.D/N); none given: the targets.
    std::vector<std::string> allowProbe;
};

struct ParsedCommandLine {
    std::optional<CliOptions> options;  // none: exit with `exitCode`
    int exitCode = kExitDone;
    std::string out;  // help for standard output
    std::string err;  // the one line of a bad usage
};

// `args` without the program's name.
ParsedCommandLine ParseCommandLine(std::span<const std::string> args);

// "aa:bb:cc:dd:ee:ff" or "aa-bb-cc-dd-ee-ff", either case.
std::optional<std::array<uint8_t, 6>> ParseMac(const std::string& text);

}  // namespace vorpane
