#include "commands/network_config.h"

#include "commands/command_frames.h"

namespace vorpane {

std::array<uint8_t, 6> MakeRandomMac(const MacSource& source) {
    const std::tm now = source.localTime();
    std::array<int, 5> draws{};
    for (int& draw : draws) {
        source.seedRandom(static_cast<unsigned>(source.calendarTime()));
        draw = source.drawRandom();
    }
    return MacFromClock(now, draws);
}

SetIpOutcome SetPrinterIp(CommandSite& site, PrinterLink& link, const ProberFactory& makeProber,
                          const std::string& current, Ipv4Address wanted) {
    const std::string address = wanted.Text();
    if (current == address) {
        return SetIpOutcome::kSameAddress;
    }
    if (!site.ConfirmSetIp(address)) {
        return SetIpOutcome::kCancelled;
    }
    // A probe that cannot be made leaves the address counted as free.
    if (ProbeOnce(makeProber, address, kProbeTimeoutMs) >= 1) {
        return SetIpOutcome::kOccupied;
    }
    const auto frame = BuildSetIpFrame(wanted.Octets());
    const int32_t length = static_cast<int32_t>(frame.size());
    return link.SendData(current.c_str(), frame.data(), length) == length ? SetIpOutcome::kSent
                                                                          : SetIpOutcome::kFailed;
}

SetMacOutcome SetPrinterMac(CommandSite& site, PrinterLink& link, const MacSource& source,
                            const std::string& current) {
    return SetPrinterMacTo(
        site, link, [&source] { return MakeRandomMac(source); }, current);
}

SetMacOutcome SetPrinterMacTo(CommandSite& site, PrinterLink& link,
                              const std::function<std::array<uint8_t, 6>()>& chooseMac,
                              const std::string& current) {
    using Result = SetMacOutcome::Result;
    if (!site.ConfirmSetMac()) {
        return {Result::kCancelled};
    }
    const std::array<uint8_t, 6> mac = chooseMac();
    const auto frame = BuildSetMacFrame(mac);
    // Any nonzero count, a negative one included, counts as sent.
    if (link.SendData(current.c_str(), frame.data(), static_cast<int32_t>(frame.size())) == 0) {
        return {Result::kFailed};
    }
    site.WriteBackControls();
    // The PC still maps the printer's address to the old MAC until the row
    // is gone.
    return {site.PurgeArpEntry() != 0 ? Result::kSent : Result::kSentArpStale, mac};
}

}  // namespace vorpane
