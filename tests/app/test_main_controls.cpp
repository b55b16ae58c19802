// The connect time-out box and its arrows, the printer list, the key filter
// and the echo diagnostic.

#include <algorithm>

#include "main_dialog_fixture.h"

namespace vorpane {
namespace {

using Pairs = std::vector<std::pair<int, int>>;

Pairs SetTimeOutCalls(TablePrinterLink& link) {
    Pairs out;
    for (const auto& c : link.CallsOf("SetTimeOut")) {
        out.emplace_back(c.a, c.b);
    }
    link.ClearCalls();
    return out;
}

// The arrows step 500 ms (more when held), never reach zero or below and
// never overflow; neither they nor their write-back hand the value over.
TEST_F(MainDialogTest, ArrowsStepTheTimeoutAndWriteItBack) {
    Open();
    const std::tuple<const char*, int, const char*> steps[] = {
        {nullptr, +1, "500"},
        {nullptr, +1, "1000"},
        {"1200", +1, "700"},
        {nullptr, +1, "200"},
        {nullptr, +1, "1000"},
        {nullptr, -1, "1500"},
        {nullptr, -4, "3500"},
        {"2147483400", -1, "2147483647"},
        {nullptr, INT_MIN, "2147483647"},
        {"-2147483648", INT_MAX, "1000"},
    };
    for (const auto& [text, delta, after] : steps) {
        if (text != nullptr) {
            window->SetText(IDC_TIMEOUT, text);
        }
        link.ClearCalls();
        EXPECT_EQ(window->Spin(IDC_TIMEOUT_SPIN, delta), 0);
        EXPECT_EQ(window->GetText(IDC_TIMEOUT), after) << delta;
        EXPECT_TRUE(SetTimeOutCalls(link).empty());
    }
}

TEST_F(MainDialogTest, TypingHandsEachPositiveValueToTheLibrary) {
    Open();
    for (const char* text : {"1", "1500", "0", "-5"}) {
        window->TypeText(IDC_TIMEOUT, text);
    }
    // Each key hands its value over; zero and below are kept only.
    EXPECT_EQ(SetTimeOutCalls(link), (Pairs{{0, 1}, {0, 1}, {0, 15}, {0, 150}, {1, 500}}));
    EXPECT_EQ(dlg->TimeoutMs(), -5);
    // Bad text keeps the previous value, handed over again; a spin step then
    // replaces it, and its write-back keeps the payload typed meanwhile.
    window->TypeText(IDC_TIMEOUT, "1500");
    window->SetText(IDC_PAYLOAD, "typed before the bad value");
    window->TypeText(IDC_TIMEOUT, "15x");
    EXPECT_EQ(SetTimeOutCalls(link),
              (Pairs{{0, 1}, {0, 15}, {0, 150}, {1, 500}, {0, 1}, {0, 15}, {0, 15}}));
    ws.ClearShownBoxes();
    window->Spin(IDC_TIMEOUT_SPIN, +1);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Please enter an integer."});
    EXPECT_EQ(window->GetText(IDC_TIMEOUT), "1000");
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), "typed before the bad value");
}

TEST_F(MainDialogTest, ChoosingAPrinterPutsItsAddressInTheAddressControlWithoutARefresh) {
    Open();
    window->ComboAdd(IDC_PRINTER_LIST, "10.0.0.30");
    window->ComboAdd(IDC_PRINTER_LIST, "10.0.0.12");
    window->SetText(IDC_TIMEOUT, "not a number");
    ws.ClearShownBoxes();
    link.ClearCalls();
    window->SelectItem(IDC_PRINTER_LIST, 1);
    EXPECT_EQ(window->GetText(IDC_IP), "10.0.0.12");
    EXPECT_TRUE(ws.ShownBoxes().empty() && link.Calls().empty());
}

TEST_F(MainDialogTest, SpaceBarKeyDownIsDiscardedEverywhere) {
    Open();
    const std::string before = window->GetText(IDC_PAYLOAD);
    for (int id : {IDC_TEST, IDC_HEX, IDC_PAYLOAD}) {
        EXPECT_TRUE(window->PressKey(ui::kVkSpace, id)) << id;
    }
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), before);
    EXPECT_EQ(window->GetCheck(IDC_HEX), 0);
    EXPECT_TRUE(ws.ShownBoxes().empty() && link.Calls().empty());
    // The key-up passes, and so does every other key.
    EXPECT_FALSE(dlg->PreTranslateMessage({ui::KeyMessage::Kind::KeyUp, ui::kVkSpace, IDC_TEST}));
    EXPECT_FALSE(window->PressKey(ui::kVkEscape, IDC_TEST));
}

// Only the key-up of T with Control down probes: every live host in scan
// order, the results appended to the payload.
TEST_F(MainDialogTest, CtrlTProbesEveryLiveHostInScanOrder) {
    Open();
    const std::string page = dlg->EditText();
    window->SetText(IDC_PAYLOAD, "typed since the last exchange");
    EXPECT_FALSE(window->PressKey(ui::kVkT, IDC_PAYLOAD, true));
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), page);  // rewritten even with no hosts
    ScanTestAccess::AppendAliveHost(dlg->Scan(), "10.0.0.7");
    ScanTestAccess::AppendAliveHost(dlg->Scan(), "10.0.0.3");
    probes->answers = {{"10.0.0.7", 1}, {"10.0.0.3", -1}};
    using Kind = ui::KeyMessage::Kind;
    window->PressKey(ui::kVkT, IDC_IP, false);
    window->PressKey('R', IDC_IP, true);
    ws.SetControlKeyDown(true);  // released before T came up
    dlg->PreTranslateMessage({Kind::KeyDown, ui::kVkT, IDC_IP});
    ws.SetControlKeyDown(false);
    dlg->PreTranslateMessage({Kind::KeyUp, ui::kVkT, IDC_IP});
    EXPECT_TRUE(probes->probes.empty());
    window->PressKey(ui::kVkT, IDC_IP, true);
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), page + "1:10.0.0.7\n-1:10.0.0.3\n");
    EXPECT_EQ(probes->probes, (std::vector<std::pair<std::string, int32_t>>{{"10.0.0.7", 1000},
                                                                            {"10.0.0.3", 1000}}));

    services.makeProber = [] { return std::unique_ptr<EchoProber>(); };
    Open();  // without a probe every host reports the set-up failure
    ScanTestAccess::AppendAliveHost(dlg->Scan(), "10.0.0.7");
    window->PressKey(ui::kVkT, IDC_IP, true);
    EXPECT_TRUE(dlg->EditText().ends_with("\n\n-1:10.0.0.7\n"));
}

// While a worker appends, each run probes a prefix of the list, in order.
TEST_F(MainDialogTest, DiagnosticDuringAScanSeesAPrefixOfTheList) {
    Open();
    std::string allLines;
    std::vector<std::string> all;
    for (int i = 0; i < 400; ++i) {
        all.push_back("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1));
        allLines += "0:" + all.back() + "\n";
    }
    // A quarter is there before the first run, so every run has a prefix to
    // show; the rest arrives while the runs go on.
    constexpr size_t kBefore = 100;
    for (size_t i = 0; i < kBefore; ++i) {
        ScanTestAccess::AppendAliveHost(dlg->Scan(), all[i]);
    }
    std::thread scanner([&] {
        for (size_t i = kBefore; i < all.size(); ++i) {
            ScanTestAccess::AppendAliveHost(dlg->Scan(), all[i]);
        }
    });
    std::vector<std::string> runs;
    for (int run = 0; run < 3; ++run) {
        const size_t before = dlg->EditText().size();
        window->PressKey(ui::kVkT, IDC_PAYLOAD, true);
        runs.push_back(dlg->EditText().substr(before));
    }
    scanner.join();
    for (const auto& lines : runs) {
        EXPECT_TRUE(allLines.starts_with(lines)) << lines;
        EXPECT_GE(std::count(lines.begin(), lines.end(), '\n'), static_cast<long>(kBefore));
    }
}

}  // namespace
}  // namespace vorpane
