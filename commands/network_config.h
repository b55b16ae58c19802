#pragma once
// Set IP and Set MAC: the printer's own address and MAC, each changed by one
// configuration frame that the printer takes on its next start. Both flows
// reach the window they run in only through a CommandSite and end in an
// outcome that each front end words its own way.

#include <array>
#include <cstdint>
#include <ctime>
#include <functional>
#include <string>

#include "net/echo_probe.h"
#include "platform/ipv4_address.h"
#include "printer_link/printer_link.h"

namespace vorpane {

// What the configuration flows need from the window they run in.
class CommandSite {
public:
    virtual ~CommandSite() = default;
    // Whether the user wants the printer to take `address`; asked once the
    // address is known to differ from the current one.
    virtual bool ConfirmSetIp(const std::string& address) = 0;
    // Whether the user wants the printer to get a new MAC address.
    virtual bool ConfirmSetMac() = 0;
    // The controls get the window's values back, except a text box the user
    // is still ahead in.
    virtual void WriteBackControls() = 0;
    // Deletes the ARP row of the address the window shows.
    virtual int32_t PurgeArpEntry() = 0;
};

enum class SetIpOutcome {
    kSameAddress,  // the wanted address is the current one: nothing asked
    kCancelled,
    kOccupied,  // something answers at the wanted address: nothing sent
    kSent,      // the printer took the whole frame
    kFailed,    // it did not
};

struct SetMacOutcome {
    enum class Result {
        kCancelled,
        kFailed,        // the printer took nothing
        kSent,          // and the PC's ARP row of the printer is gone
        kSentArpStale,  // the PC still maps the address to the old MAC
    };
    Result result;
    std::array<uint8_t, 6> mac{};  // what was sent; zero unless sent
    bool operator==(const SetMacOutcome&) const = default;
};

// The clock and the C runtime generator behind a new MAC address.
struct MacSource {
    std::function<std::tm()> localTime;
    std::function<void(unsigned)> seedRandom;
    std::function<int()> drawRandom;
    std::function<std::time_t()> calendarTime;
};

// One reading of the local clock and five draws, each after re-seeding with
// the calendar time in whole seconds (so draws within one second are equal).
std::array<uint8_t, 6> MakeRandomMac(const MacSource& source);

// The printer at `current` (found online) is asked to take `wanted` as its
// address, once the user confirms and no one answers there.
SetIpOutcome SetPrinterIp(CommandSite& site, PrinterLink& link, const ProberFactory& makeProber,
                          const std::string& current, Ipv4Address wanted);
// The printer at `current` (found online) is given a new MAC address, once
// the user confirms.
SetMacOutcome SetPrinterMac(CommandSite& site, PrinterLink& link, const MacSource& source,
                            const std::string& current);
// The same flow with the MAC address the caller chose, asked for once the
// user confirms.
SetMacOutcome SetPrinterMacTo(CommandSite& site, PrinterLink& link,
                              const std::function<std::array<uint8_t, 6>()>& chooseMac,
                              const std::string& current);

}  // namespace vorpane
