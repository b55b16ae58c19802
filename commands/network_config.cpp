// Set IP and Set MAC: the printer's own address and MAC, each changed by one
// configuration frame that the printer takes on its next start.

#include <cstdio>

#include "app/printer_tool_dlg.h"
#include "commands/command_frames.h"

namespace vorpane {

void CPrinterToolDlg::OnSetIp() {
    const std::optional<std::string> online = GetOnlinePrinterAddress();
    if (!online) {
        return;
    }
    const std::string& current = *online;
    const std::array<uint8_t, 4> octets = m_newIpCtrl.GetAddress();
    char wanted[16];
    std::snprintf(wanted, sizeof wanted, "%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
    if (current == wanted) {
        MessageBox("Please input a different IP Address!", ui::kMbIconInformation);
        return;
    }
    char question[64];
    std::snprintf(question, sizeof question, "Are you sure to set the new IP:%s?", wanted);
    if (MessageBox(question, ui::kMbOkCancel | ui::kMbIconQuestion) != ui::kIdOk) {
        return;
    }
    // A probe that cannot be made leaves the address counted as free.
    std::unique_ptr<EchoProber> prober = m_services.makeProber ? m_services.makeProber() : nullptr;
    const int32_t answered = prober ? prober->Probe(wanted, 1000) : -1;
    if (answered >= 1) {
        char taken[96];
        std::snprintf(taken, sizeof taken,
                      "This IP(%s) has been occupied by other network equipment!", wanted);
        MessageBox(taken, ui::kMbIconInformation);
        return;
    }
    const std::array<uint8_t, 7> frame = BuildSetIpFrame(octets);
    const int32_t sent = m_services.link->SendData(current.c_str(), frame.data(), 7);
    if (sent == 7) {
        MessageBox("Success!\nPlease restart the printer!", ui::kMbIconInformation);
    } else {
        MessageBox("Modify the IP Address failed!", ui::kMbIconInformation);
    }
}

std::string CPrinterToolDlg::MakeRandomMac() {
    const std::tm now = m_services.localTime();
    std::array<int, 5> draws{};
    for (int& draw : draws) {
        // Re-seeded from whole seconds before every draw: draws within one
        // second are equal.
        m_services.seedRandom(static_cast<unsigned>(m_services.calendarTime()));
        draw = m_services.drawRandom();
    }
    return MacText(MacFromClock(now, draws));
}

void CPrinterToolDlg::OnSetMac() {
    const std::optional<std::string> online = GetOnlinePrinterAddress();
    if (!online) {
        return;
    }
    const std::string& current = *online;
    if (MessageBox("Are you sure to modify the Mac address?",
                   ui::kMbOkCancel | ui::kMbIconQuestion) != ui::kIdOk) {
        return;
    }
    const std::string mac = MakeRandomMac();
    std::array<uint8_t, 6> bytes{};
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<uint8_t>(HexPairToByte(mac.substr(2 * i, 2)));
    }
    const std::array<uint8_t, 9> frame = BuildSetMacFrame(bytes);
    // Any nonzero count, a negative one included, counts as sent.
    if (m_services.link->SendData(current.c_str(), frame.data(), 9) == 0) {
        MessageBox("Modify Mac address failed, Please Confirm the printer is online and try again!",
                   ui::kMbIconInformation);
        return;
    }
    WriteBackKeepingTypedPayload();
    std::string message = "Mac:" + MacDisplayForm(mac) + "\n";
    // The PC still maps the printer's address to the old MAC until the row
    // is gone.
    if (PurgeArpEntry() != 0) {
        message += "Success!\nPlease restart the printer!";
    } else {
        message += "Success!\nBut you may have to connect the printer a few minutes later !";
    }
    MessageBox(message, ui::kMbIconInformation);
}

}  // namespace vorpane
