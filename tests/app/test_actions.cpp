// The main window's printer actions on the headless window system against
// the table link: the busy guard and the on-line check before every action,
// and each handler's composition of its subsystem (what reaches the library,
// the boxes, the controls written back), the scan included.

#include <filesystem>
#include <fstream>

#include "app/outcome_words.h"
#include "commands/command_frames.h"
#include "main_dialog_fixture.h"
#include "platform/address_text.h"
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

TEST_F(ActionsTest, PrintFileSendsTheChosenFileAndPutsTheDirectoryBack) {
    OpenOnline();
    const auto saved = std::filesystem::current_path();
    const auto dir = std::filesystem::temp_directory_path() /
                     ("vorpane-pf-" + std::to_string(CurrentProcessId()));
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

// Set IP and Set MAC ask first, then show the box of their outcome; a
// cancel shows nothing more.
TEST_F(ActionsTest, SetIpAndSetMacShowTheBoxOfEachOutcome) {
    services.seedRandom = [](unsigned) {};
    services.drawRandom = [] { return 5; };
    OpenOnline();
    const std::pair<std::string, uint32_t> ipAsk = {"Are you sure to set the new IP:192.168.1.20?",
                                                    0x21};
    const std::pair<std::string, uint32_t> macAsk = {"Are you sure to modify the Mac address?",
                                                     0x21};
    const std::string mac =
        "Mac:" + MacText(MacFromClock(PinnedTime(2026, 12, 6, 9, 5, 3), {5, 5, 5, 5, 5}), '-');
    const std::string restart = "\nSuccess!\nPlease restart the printer!";
    const struct {
        int button;
        const char* newIp;
        int answer;  // 0: no question comes
        int32_t probe, sendResult, purge;
        Boxes boxes;
    } cases[] = {
        {IDC_SET_IP, "192.168.1.10", 0, 0, -2, 1, {{"Please input a different IP Address!", 0x40}}},
        {IDC_SET_IP, "192.168.1.20", ui::kIdCancel, 0, -2, 1, {ipAsk}},
        {IDC_SET_IP,
         "192.168.1.20",
         ui::kIdOk,
         1,
         -2,
         1,
         {ipAsk, {"This IP(192.168.1.20) has been occupied by other network equipment!", 0x40}}},
        {IDC_SET_IP, "192.168.1.20", ui::kIdOk, 0, -2, 1, {ipAsk, {restart.substr(1), 0x40}}},
        {IDC_SET_IP,
         "192.168.1.20",
         ui::kIdOk,
         0,
         3,
         1,
         {ipAsk, {"Modify the IP Address failed!", 0x40}}},
        {IDC_SET_MAC, "", ui::kIdCancel, 0, -2, 1, {macAsk}},
        {IDC_SET_MAC,
         "",
         ui::kIdOk,
         0,
         0,
         1,
         {macAsk,
          {"Modify Mac address failed, Please Confirm the printer is online and try again!",
           0x40}}},
        {IDC_SET_MAC, "", ui::kIdOk, 0, -2, 1, {macAsk, {mac + restart, 0x40}}},
        {IDC_SET_MAC,
         "",
         ui::kIdOk,
         0,
         -2,
         0,
         {macAsk,
          {mac + "\nSuccess!\nBut you may have to connect the printer a few minutes later !",
           0x40}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.boxes.back().first);
        window->SetText(IDC_NEW_IP, c.newIp);
        probes->answers["192.168.1.20"] = c.probe;
        link.SetSendResult(kPrinter, c.sendResult);
        purgeResult = c.purge;
        if (c.answer != 0) {
            ws.QueueAnswer(c.answer);
        }
        window->Click(c.button);
        EXPECT_EQ(Shown(), c.boxes);
    }
}

TEST(OutcomeWords, SendFileSaysEachOutcome) {
    using R = SendFileOutcome::Result;
    const std::pair<SendFileOutcome, std::pair<std::string, uint32_t>> cases[] = {
        {{R::kOpenFailed, 2}, {"Open File Failed!Err=2\n/p", 0}},
        {{R::kTooLarge}, {"The file is too large to send!\n/p", 0x10}},
        {{R::kUnmeasured},
         {"Read File Failed!The file measures 0 bytes but holds more, nothing was sent\n/p", 0x10}},
        {{R::kReadShort, 0, 4096, 18, 18},
         {"Read File Failed!Read 18 of 4096 bytes, sent 18 of 18 bytes\n/p", 0x10}},
        {{R::kSendFailed, 0, 10, 10, 3}, {"Send Failed!Sent 3 of 10 bytes\n/p", 0x10}},
        {{R::kEmpty}, {"Send finished!", 0}},
        {{R::kSent, 0, 5, 5, 5}, {"Send finished!", 0}},
    };
    for (const auto& [outcome, box] : cases) {
        const MessageWords words = SendFileWords(outcome, "/p");
        EXPECT_EQ(std::pair(words.text, words.style), box);
    }
}

// The window is served (not refreshed by the user) until ping's window ends.
TEST_F(ActionsTest, PingStartsTheContinuousPingAndWaitsForItsWindow) {
    std::vector<std::vector<std::string>> launched;
    int polls = 0;
    services.startInTerminal = [&](const std::vector<std::string>& command) {
        launched.push_back(command);
        return std::make_unique<FakeTerminal>([&] { return ++polls == 3; });
    };
    Open();
    window->SetText(IDC_IP, "10.1.2.3");
    ScanTestAccess::ActiveWorkers(dlg->Scan()) = 1;  // Ping has no busy guard
    window->Click(IDC_PING);
    ScanTestAccess::ActiveWorkers(dlg->Scan()) = 0;
    EXPECT_EQ(polls, 3);
    EXPECT_EQ(launched, (std::vector<std::vector<std::string>>{ContinuousPingCommand("10.1.2.3")}));
    services.startInTerminal = [](const std::vector<std::string>&) { return nullptr; };
    Open();
    window->Click(IDC_PING);
    EXPECT_EQ(Shown(), (Boxes{{"Cannot start ping: no terminal emulator found!", 0x10}}));
    EXPECT_TRUE(link.Calls().empty());
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
    EXPECT_TRUE(ButtonsEnabled(false));  // the nine; Scan, Ping and Exit stay
    EXPECT_TRUE(window->IsEnabled(IDC_SCAN) && window->IsEnabled(IDC_PING) &&
                window->IsEnabled(ui::kIdOk));
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
