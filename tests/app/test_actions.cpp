// The main window's printer actions on the headless window system against
// the table link: the busy guard and the on-line check before every action,
// and each handler's composition of its subsystem (what reaches the library,
// the boxes, the controls written back), the scan included.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "main_dialog_fixture.h"
#include "platform/codepage.h"
#include "probe_gate.h"

namespace vorpane {
namespace {

using B = std::vector<uint8_t>;
using Boxes = std::vector<std::pair<std::string, uint32_t>>;
constexpr const char* kPrinter = "192.168.1.10";
const std::pair<std::string, uint32_t> kBusy = {"Scanning,Please wait...", 0x40};

// A terminal command whose end the test decides.
struct FakeTerminal : TerminalProcess {
    explicit FakeTerminal(std::function<bool()> f) : finished(std::move(f)) {}
    bool Finished() override { return finished(); }
    std::function<bool()> finished;
};

class ActionsTest : public MainDialogTest {
protected:
    void OpenOnline() {
        link.AddPrinter(kPrinter);
        Open();
        link.ClearCalls();
    }
    Boxes Shown() {
        Boxes out;
        for (const auto& b : ws.ShownBoxes()) {
            out.emplace_back(b.text, b.style);
        }
        ws.ClearShownBoxes();
        return out;
    }
    std::vector<B> Sends() {
        std::vector<B> out;
        for (const auto& c : link.CallsOf("SendData")) {
            EXPECT_EQ(std::pair(c.address, c.a),
                      std::pair(std::string(kPrinter), static_cast<int32_t>(c.bytes.size())));
            out.push_back(c.bytes);
        }
        link.ClearCalls();
        return out;
    }
};

// Every action but Ping refreshes, refuses while workers run and asks the
// library first; the refusal comes before anything else.
TEST_F(ActionsTest, BusyOrOfflineStopsEveryActionButPing) {
    const int guarded[] = {IDC_TEST,   IDC_PRINT,  IDC_INIT,    IDC_CASHDRAWER, IDC_CUTTER,
                           IDC_STATUS, IDC_SET_IP, IDC_SET_MAC, IDC_PRINT_FILE};
    for (const bool busy : {false, true}) {  // offline first: no printer in the table
        SCOPED_TRACE(busy ? "busy" : "offline");
        busy ? OpenOnline() : Open();
        ScanTestAccess::ActiveWorkers(dlg->Scan()) = busy ? 1 : 0;
        window->SetText(IDC_NEW_IP, "192.168.1.20");
        for (int id : guarded) {
            window->Click(id);
            const Boxes refusal = busy             ? Boxes{kBusy}
                                  : id == IDC_TEST ? Boxes{{"Connect failed!", 0x10}}
                                                   : Boxes{{"The printer is offline!", 0x10}};
            EXPECT_EQ(Shown(), refusal) << id;
        }
        EXPECT_EQ(link.Calls().size(), busy ? 0u : std::size(guarded));
        EXPECT_TRUE(ws.ModalRuns().empty() && ws.FileRequests().empty() && purged.empty());
        ScanTestAccess::ActiveWorkers(dlg->Scan()) = 0;
    }
    link.AddPrinter(kPrinter);
    window->Click(IDC_TEST);
    EXPECT_EQ(Shown(), (Boxes{{"Connect success!", 0x40}}));
}

TEST_F(ActionsTest, PayloadAndCommandFramesGoOutInOneSendEach) {
    OpenOnline();
    const std::string page = dlg->EditText();  // unedited, the test page goes out
    window->Click(IDC_PRINT);
    window->TypeText(IDC_PAYLOAD, "1B 40\n\xE6\x89\x93 \xC2\xA5\n");  // "打 ¥": GB18030 bytes
    window->Click(IDC_PRINT);
    const std::string gb = "1B 40\n\xB4\xF2 \x81\x30\x84\x36\n";
    // After a failed refresh, the last good text.
    window->SetText(IDC_TIMEOUT, "abc");
    window->TypeText(IDC_PAYLOAD, "second");
    window->Click(IDC_PRINT);
    window->SetText(IDC_TIMEOUT, "1000");
    window->Click(IDC_HEX);
    window->Click(IDC_PRINT);  // "second" read as hex: "ec" and a lone "d"
    window->Click(IDC_INIT);
    window->Click(IDC_CASHDRAWER);
    link.SetSendResult(kPrinter, -1);  // the cut goes out whatever became of the text
    window->Click(IDC_CUTTER);
    EXPECT_EQ(Sends(), (std::vector<B>{B(page.begin(), page.end()),
                                       B(gb.begin(), gb.end()),
                                       B(gb.begin(), gb.end()),
                                       B{0xEC, 0x0D},
                                       {0x1B, 0x40},
                                       {0x1B, 0x70, 0x00, 0x08, 0x08},
                                       {'T', 'e', 's', 't', 'i', 'n', 'g', ' ', 't', 'h', 'e', ' ',
                                        'c', 'u', 't', '\n', '\n', '\n', '\n'},
                                       {0x1B, 0x6D}}));
    // One box per complaint of the bad time-out (the edit, then the refresh).
    EXPECT_EQ(Shown(), Boxes(2, {"Please enter an integer.", 0x30}));
}

TEST_F(ActionsTest, PrintFileSendsTheChosenFileAndPutsTheDirectoryBack) {
    OpenOnline();
    const auto saved = std::filesystem::current_path();
    const auto dir =
        std::filesystem::temp_directory_path() / ("vorpane-pf-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir / "start");
    g_startDir = (dir / "start").string();
    std::ofstream(dir / "receipt") << "AB";
    ws.QueueFileAnswer(std::nullopt);
    window->Click(IDC_PRINT_FILE);  // cancelled: nothing sent, shown or moved
    ws.QueueFileAnswer((dir / "receipt").string());
    window->Click(IDC_PRINT_FILE);
    const auto after = std::filesystem::current_path();
    std::filesystem::current_path(saved);
    std::filesystem::remove_all(dir);
    ASSERT_EQ(ws.FileRequests().size(), 2u);
    EXPECT_EQ(ws.FileRequests()[0].filterName + "|" + ws.FileRequests()[0].pattern,
              "All Files (*.*)|*");  // "*" so that names without a dot show too
    EXPECT_EQ(Sends(), (std::vector<B>{B{'A', 'B'}}));
    EXPECT_EQ(Shown(), (Boxes{{"Send finished!", 0}}));
    EXPECT_EQ(after, dir / "start");
}

TEST_F(ActionsTest, PingStartsPlainPingAndServesTheWindowUntilItEnds) {
    std::vector<std::vector<std::string>> launched;
    std::atomic<bool> served{false};
    std::thread worker;
    services.startInTerminal = [&](const std::vector<std::string>& command) {
        launched.push_back(command);
        // A worker's request is answered during the wait; the terminal ends
        // only after that.
        worker = std::thread([&] { ws.Invoke([&] { served = true; }); });
        return std::make_unique<FakeTerminal>([&] { return served.load(); });
    };
    Open();
    window->SetText(IDC_IP, "10.1.2.3");
    ScanTestAccess::ActiveWorkers(dlg->Scan()) = 1;  // Ping has no busy guard
    window->Click(IDC_PING);
    ScanTestAccess::ActiveWorkers(dlg->Scan()) = 0;
    worker.join();
    // No "-t": here that would set a TTL.
    EXPECT_EQ(launched, (std::vector<std::vector<std::string>>{{"ping", "10.1.2.3"}}));
    services.startInTerminal = [](const std::vector<std::string>&) { return nullptr; };
    Open();
    window->Click(IDC_PING);
    EXPECT_EQ(Shown(), (Boxes{{"Cannot start ping: no terminal emulator found!", 0x10}}));
    EXPECT_TRUE(link.Calls().empty());
}

// Set IP takes the new address from control 1031 and sends to the one in
// control 1000; Set MAC writes the members back but keeps a payload still
// ahead of them, and purges the ARP row of control 1000's address.
TEST_F(ActionsTest, SetIpAndSetMacComposeTheirFlowsWithTheControls) {
    OpenOnline();
    window->SetText(IDC_NEW_IP, "10.0.0.9");
    ws.QueueAnswer(ui::kIdOk);
    window->Click(IDC_SET_IP);
    EXPECT_EQ(Sends(), (std::vector<B>{{0x1D, 0x44, 10, 0, 0, 9, 19}}));
    EXPECT_EQ(probes->probes, (std::vector<std::pair<std::string, int32_t>>{{"10.0.0.9", 1000}}));
    EXPECT_EQ(Shown().back().first, "Success!\nPlease restart the printer!");

    window->TypeText(IDC_TIMEOUT, "2500");
    window->SetText(IDC_PAYLOAD, "typed before the bad value");
    window->SetText(IDC_TIMEOUT, "");  // the payload is now ahead of the member
    ws.QueueAnswer(ui::kIdOk);         // the refresh's complaint
    ws.QueueAnswer(ui::kIdOk);         // the question
    window->Click(IDC_SET_MAC);
    EXPECT_EQ(Sends().size(), 1u);
    EXPECT_EQ(purged, std::vector<uint32_t>{0xC0A8010Au});
    EXPECT_TRUE(Shown().back().first.starts_with("Mac:"));
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), "typed before the bad value");
    EXPECT_EQ(window->GetText(IDC_TIMEOUT), "2500");
    EXPECT_EQ(window->GetText(IDC_NEW_IP), "10.0.0.9");
}

class ScanDialogTest : public ActionsTest {
protected:
    void SetUp() override { gate.Install(*probes); }
    void TearDown() override {
        gate.Open();  // workers gone before the gate their probes wait in
        dlg.reset();
    }
    bool Idle() { return dlg->Scan().ActiveWorkers() == 0; }
    ProbeGate gate;
    bool ButtonsEnabled(bool enabled) {
        for (int id : {IDC_TEST, IDC_PRINT, IDC_STATUS, IDC_CASHDRAWER, IDC_INIT, IDC_CUTTER,
                       IDC_SET_IP, IDC_SET_MAC, IDC_PRINT_FILE}) {
            if (window->IsEnabled(id) != enabled) {
                return false;
            }
        }
        return true;
    }
};

TEST_F(ScanDialogTest, ConfirmedScanListsPrintersAndTheFirstBecomesTheAddress) {
    Open();
    window->ComboAdd(IDC_PRINTER_LIST, "stale");
    ws.QueueAnswer(ui::kIdCancel);
    window->Click(IDC_SCAN);  // refused: nothing happens
    EXPECT_EQ(std::pair(window->ComboCount(IDC_PRINTER_LIST), sweepNet.opened), std::pair(1, 0));
    for (int host : {12, 30}) {
        link.AddPrinter("192.168.1." + std::to_string(host));
        probes->answers["192.168.1." + std::to_string(host)] = 1;
    }
    window->SetText(IDC_IP, "192.168.1.200");
    sweepNet.bindError = EADDRINUSE;
    ws.QueueAnswer(ui::kIdOk);
    window->Click(IDC_SCAN);
    EXPECT_EQ(Shown(), (Boxes{{"Are you sure to scan the printers?", 0x21},
                              {"Are you sure to scan the printers?", 0x21},
                              {"UDP Port 0 is conflict!", 0x10}}));
    EXPECT_EQ(window->GetText(IDC_SCAN), "Cancel");
    EXPECT_TRUE(ButtonsEnabled(false));
    EXPECT_EQ(window->ComboCount(IDC_PRINTER_LIST), 0);
    window->Click(IDC_SCAN);  // Cancel: no question, the caption stays
    window->Click(IDC_SCAN);  // again while workers finish: refused
    EXPECT_EQ(Shown(), (Boxes{kBusy}));
    EXPECT_EQ(window->GetText(IDC_SCAN), "Cancel");
    gate.Open();
    ASSERT_TRUE(ws.ServeUntilFor([&] { return Idle(); }, std::chrono::seconds(30)));
    EXPECT_EQ(window->GetText(IDC_SCAN), "Scan");
    EXPECT_TRUE(ButtonsEnabled(true));
    EXPECT_EQ(dlg->Progress().Position(), 0);

    ws.QueueAnswer(ui::kIdOk);
    window->Click(IDC_SCAN);
    ASSERT_TRUE(ws.ServeUntilFor([&] { return Idle(); }, std::chrono::seconds(30)));
    ASSERT_EQ(window->ComboCount(IDC_PRINTER_LIST), 2);
    EXPECT_EQ(window->GetText(IDC_IP), window->ComboItemText(IDC_PRINTER_LIST, 0));
    EXPECT_EQ(window->ComboGetCurSel(IDC_PRINTER_LIST), 1);  // the last found is selected
    EXPECT_EQ(window->GetText(IDC_SCAN), "Scan");
}

TEST_F(ScanDialogTest, ClosingDuringAScanWaitsForEveryWorker) {
    Open();
    ws.QueueAnswer(ui::kIdOk);
    window->Click(IDC_SCAN);
    ASSERT_TRUE(ws.ServeUntilFor([&] { return gate.Waiting() == kScanWorkerCount; },
                                 std::chrono::seconds(30)));
    // The probes end once the scan is cancelled, as real ones do within
    // their time-out.
    SubnetScan& scan = dlg->Scan();
    gate.ReleaseWhen([&scan] { return ScanTestAccess::CancelScan(scan) != 0; });
    dlg->DestroyWindow();
    EXPECT_TRUE(Idle());
    EXPECT_EQ(ScanTestAccess::HostsDone(dlg->Scan()), kScanWorkerCount);
}

}  // namespace
}  // namespace vorpane
