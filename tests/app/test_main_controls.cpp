// The connect time-out box and its arrows, the printer list, the key filter
// and the echo diagnostic.

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <thread>

#include "main_dialog_fixture.h"

namespace vorpane {
namespace {

constexpr int kUpper = -1;  // the upper arrow proposes -1
constexpr int kLower = +1;

std::vector<std::pair<int, int>> SetTimeOutCalls(const TablePrinterLink& link) {
    std::vector<std::pair<int, int>> out;
    for (const auto& c : link.CallsOf("SetTimeOut")) {
        out.emplace_back(c.a, c.b);
    }
    return out;
}

// The arrows step 500 ms (larger deltas when held), never reach zero or
// below, and never overflow.
TEST_F(MainDialogTest, ArrowsStepTheTimeoutAndWriteItBack) {
    Open();
    const struct {
        const char* text;  // written first; null: the box as it is
        int delta;
        const char* after;
    } steps[] = {
        {nullptr, kLower, "500"},
        {nullptr, kLower, "1000"},
        {"1200", kLower, "700"},
        {nullptr, kLower, "200"},
        {nullptr, kLower, "1000"},
        {nullptr, kUpper, "1500"},
        {nullptr, kUpper, "2000"},
        {nullptr, -4, "4000"},
        {"2147483400", kUpper, "2147483647"},
        {nullptr, INT_MIN, "2147483647"},
        {"-2147483648", INT_MAX, "1000"},
        {"0", kUpper, "500"},
    };
    for (const auto& step : steps) {
        if (step.text != nullptr) {
            window->SetText(IDC_TIMEOUT, step.text);
        }
        link.ClearCalls();
        EXPECT_EQ(window->Spin(IDC_TIMEOUT_SPIN, step.delta), 0);
        // Neither the arrows nor their write-back hand the time-out over.
        EXPECT_TRUE(SetTimeOutCalls(link).empty());
        EXPECT_EQ(window->GetText(IDC_TIMEOUT), step.after)
            << (step.text ? step.text : "") << " " << step.delta;
    }
}

TEST_F(MainDialogTest, TypingHandsEachPositiveValueToTheLibrary) {
    Open();
    for (const char* text : {"1", "15", "150", "1500"}) {
        window->TypeText(IDC_TIMEOUT, text);
    }
    EXPECT_EQ(SetTimeOutCalls(link),
              (std::vector<std::pair<int, int>>{{0, 1}, {0, 15}, {0, 150}, {1, 500}}));

    // Bad text keeps the previous value, handed over again as the box still
    // means it.
    link.ClearCalls();
    window->SetText(IDC_PAYLOAD, "typed before the bad value");
    window->TypeText(IDC_TIMEOUT, "15x");
    EXPECT_EQ(dlg->TimeoutMs(), 1500);
    EXPECT_EQ(SetTimeOutCalls(link), (std::vector<std::pair<int, int>>{{1, 500}}));
    // A spin step replaces it; the write-back keeps the payload the failed
    // exchange did not read.
    ws.ClearShownBoxes();
    window->Spin(IDC_TIMEOUT_SPIN, kLower);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"Please enter an integer."});
    EXPECT_EQ(window->GetText(IDC_TIMEOUT), "1000");
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), "typed before the bad value");
    EXPECT_TRUE(dlg->UpdateData(true));
    EXPECT_EQ(dlg->EditText(), "typed before the bad value");

    // Zero and below are kept but not handed over.
    link.ClearCalls();
    window->TypeText(IDC_TIMEOUT, "0");
    window->TypeText(IDC_TIMEOUT, "-5");
    EXPECT_TRUE(SetTimeOutCalls(link).empty());
    EXPECT_EQ(dlg->TimeoutMs(), -5);
}

TEST_F(MainDialogTest, ChoosingAPrinterPutsItsAddressInTheAddressControl) {
    Open();
    window->ComboAdd(IDC_PRINTER_LIST, "10.0.0.30");
    window->ComboAdd(IDC_PRINTER_LIST, "10.0.0.12");
    // No refresh of the members: bad time-out text raises no complaint.
    window->SetText(IDC_TIMEOUT, "not a number");
    ws.ClearShownBoxes();
    link.ClearCalls();
    window->SelectItem(IDC_PRINTER_LIST, 1);
    EXPECT_EQ(window->GetText(IDC_IP), "10.0.0.12");
    EXPECT_TRUE(ws.ShownBoxes().empty());
    EXPECT_TRUE(link.Calls().empty());
}

TEST_F(MainDialogTest, SpaceBarKeyDownIsDiscardedEverywhere) {
    Open();
    link.AddPrinter("192.168.1.10");
    const std::string before = window->GetText(IDC_PAYLOAD);
    for (int id : {IDC_TEST, IDC_HEX, IDC_PAYLOAD}) {
        EXPECT_TRUE(window->PressKey(ui::kVkSpace, id)) << id;
    }
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), before);
    EXPECT_EQ(window->GetCheck(IDC_HEX), 0);
    EXPECT_TRUE(ws.ShownBoxes().empty());
    EXPECT_TRUE(link.Calls().empty());
    // The key-up is not swallowed.
    EXPECT_FALSE(dlg->PreTranslateMessage({ui::KeyMessage::Kind::KeyUp, ui::kVkSpace, IDC_TEST}));
    // A pasted space is a text change, not a key, and goes through.
    window->SetText(IDC_PAYLOAD, "a");
    window->TypeText(IDC_PAYLOAD, "a b");
    EXPECT_TRUE(dlg->UpdateData(true));
    EXPECT_EQ(dlg->EditText(), "a b");
    // Keys other than the space bar keep the dialog's own handling.
    EXPECT_FALSE(window->PressKey(ui::kVkEscape, IDC_TEST));
    EXPECT_EQ(window->EndResult(), ui::kIdCancel);
}

TEST_F(MainDialogTest, CtrlTProbesEveryLiveHostInScanOrder) {
    Open();
    // Before any scan: nothing appended, but the box is rewritten.
    const std::string page = dlg->EditText();
    window->SetText(IDC_PAYLOAD, "typed since the last exchange");
    EXPECT_FALSE(window->PressKey(ui::kVkT, IDC_PAYLOAD, /*control=*/true));
    EXPECT_EQ(dlg->EditText(), page);
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), page);
    EXPECT_TRUE(probes->probes.empty());

    ScanTestAccess::AppendAliveHost(dlg->Scan(), "10.0.0.7");
    ScanTestAccess::AppendAliveHost(dlg->Scan(), "10.0.0.3");
    probes->answers["10.0.0.7"] = 1;
    probes->answers["10.0.0.3"] = -1;
    window->PressKey(ui::kVkT, IDC_IP, /*control=*/true);
    EXPECT_EQ(dlg->EditText(), page + "1:10.0.0.7\n-1:10.0.0.3\n");
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), page + "1:10.0.0.7\n-1:10.0.0.3\n");
    ASSERT_EQ(probes->probes.size(), 2u);
    EXPECT_EQ(probes->probes[0], std::make_pair(std::string("10.0.0.7"), 1000));
    // T alone does nothing.
    window->PressKey(ui::kVkT, IDC_IP, /*control=*/false);
    EXPECT_EQ(probes->probes.size(), 2u);
    probes->probes.clear();

    // Only the key-up of T with Control held runs it.
    using Kind = ui::KeyMessage::Kind;
    // Control held for the key-down only: released before T came up.
    ws.SetControlKeyDown(true);
    EXPECT_FALSE(dlg->PreTranslateMessage({Kind::KeyDown, ui::kVkT, IDC_IP}));
    ws.SetControlKeyDown(false);
    EXPECT_FALSE(dlg->PreTranslateMessage({Kind::KeyUp, ui::kVkT, IDC_IP}));
    EXPECT_TRUE(probes->probes.empty());
    // Control with another key.
    window->PressKey('R', IDC_IP, /*control=*/true);
    EXPECT_TRUE(probes->probes.empty());
    // The key-up runs it and is still passed on.
    ws.SetControlKeyDown(true);
    EXPECT_FALSE(dlg->PreTranslateMessage({Kind::KeyUp, ui::kVkT, 0}));
    ws.SetControlKeyDown(false);
    EXPECT_EQ(probes->probes.size(), 2u);

    // Without a probe every host reports the set-up failure.
    services.makeProber = [] { return std::unique_ptr<EchoProber>(); };
    Open();
    ScanTestAccess::AppendAliveHost(dlg->Scan(), "10.0.0.7");
    window->PressKey(ui::kVkT, IDC_IP, /*control=*/true);
    EXPECT_TRUE(dlg->EditText().ends_with("\n\n-1:10.0.0.7\n"));
}

TEST_F(MainDialogTest, DiagnosticDuringAScanSeesAPrefixOfTheList) {
    Open();
    constexpr int kHosts = 400;
    std::vector<std::string> all;
    for (int i = 0; i < kHosts; ++i) {
        all.push_back("10.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1));
    }
    std::atomic<bool> started{false};
    std::thread scanner([&] {
        started = true;
        for (const auto& a : all) {
            ScanTestAccess::AppendAliveHost(dlg->Scan(), a);
        }
    });
    while (!started) {
        std::this_thread::yield();
    }
    std::vector<std::string> runs;
    for (int run = 0; run < 3; ++run) {
        const size_t before = dlg->EditText().size();
        window->PressKey(ui::kVkT, IDC_PAYLOAD, /*control=*/true);
        runs.push_back(dlg->EditText().substr(before));
    }
    scanner.join();
    std::string allLines;
    for (const auto& a : all) {
        allLines += "0:" + a + "\n";
    }
    for (const auto& lines : runs) {
        // Each run probed the first n hosts of the list, in list order.
        EXPECT_TRUE(allLines.starts_with(lines) && (lines.empty() || lines.ends_with('\n')))
            << lines;
    }
}

}  // namespace
}  // namespace vorpane
