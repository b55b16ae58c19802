#include "commands/network_config.h"

#include "commands/command_frames.h"
#include "platform/address_text.h"
#include "ui/window_system.h"

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

void SetPrinterIp(CommandSite& site, PrinterLink& link, const ProberFactory& makeProber,
                  const std::string& current, Ipv4Address wanted) {
    const std::string address = wanted.Text();
    if (current == address) {
        site.ShowMessage("Please input a different IP Address!", ui::kMbIconInformation);
        return;
    }
    if (site.ShowMessage("Are you sure to set the new IP:" + address + "?",
                         ui::kMbOkCancel | ui::kMbIconQuestion) != ui::kIdOk) {
        return;
    }
    // A probe that cannot be made leaves the address counted as free.
    if (ProbeOnce(makeProber, address, kProbeTimeoutMs) >= 1) {
        site.ShowMessage("This IP(" + address + ") has been occupied by other network equipment!",
                         ui::kMbIconInformation);
        return;
    }
    const auto frame = BuildSetIpFrame(wanted.Octets());
    const int32_t length = static_cast<int32_t>(frame.size());
    if (link.SendData(current.c_str(), frame.data(), length) == length) {
        site.ShowMessage("Success!\nPlease restart the printer!", ui::kMbIconInformation);
    } else {
        site.ShowMessage("Modify the IP Address failed!", ui::kMbIconInformation);
    }
}

void SetPrinterMac(CommandSite& site, PrinterLink& link, const MacSource& source,
                   const std::string& current) {
    SetPrinterMacTo(
        site, link, [&source] { return MakeRandomMac(source); }, current);
}

void SetPrinterMacTo(CommandSite& site, PrinterLink& link,
                     const std::function<std::array<uint8_t, 6>()>& chooseMac,
                     const std::string& current) {
    if (site.ShowMessage("Are you sure to modify the Mac address?",
                         ui::kMbOkCancel | ui::kMbIconQuestion) != ui::kIdOk) {
        return;
    }
    const std::array<uint8_t, 6> mac = chooseMac();
    const auto frame = BuildSetMacFrame(mac);
    // Any nonzero count, a negative one included, counts as sent.
    if (link.SendData(current.c_str(), frame.data(), static_cast<int32_t>(frame.size())) == 0) {
        site.ShowMessage(
            "Modify Mac address failed, Please Confirm the printer is online and try again!",
            ui::kMbIconInformation);
        return;
    }
    site.WriteBackControls();
    std::string message = "Mac:" + MacText(mac, '-') + "\n";
    // The PC still maps the printer's address to the old MAC until the row
    // is gone.
    if (site.PurgeArpEntry() != 0) {
        message += "Success!\nPlease restart the printer!";
    } else {
        message += "Success!\nBut you may have to connect the printer a few minutes later !";
    }
    site.ShowMessage(message, ui::kMbIconInformation);
}

}  // namespace vorpane
