// The main window at start, its About entry, Test, the busy guard, the data
// exchange and the action buttons, on the headless window system.

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>

#include "app/printer_tool_app.h"
#include "main_dialog_fixture.h"
#include "platform/codepage.h"
#include "platform/directory.h"

namespace vorpane {
namespace {

using ui::kMbIconError;
using ui::kMbIconInformation;

TEST_F(MainDialogTest, StateAfterStart) {
    Open();
    EXPECT_EQ(window->Title(), "Vorpane V2.1");
    EXPECT_EQ(window->IconId(), 128);
    EXPECT_EQ(window->GetText(IDC_IP), "192.168.1.10");
    EXPECT_EQ(window->GetText(IDC_NEW_IP), "192.168.1.10");
    EXPECT_EQ(window->GetText(IDC_TIMEOUT), "1000");
    EXPECT_EQ(dlg->Progress().Position(), 0);
    EXPECT_EQ(dlg->Progress().DisplayText(), "0%");
    EXPECT_EQ(window->ComboCount(IDC_PRINTER_LIST), 0);
    EXPECT_EQ(window->GetCheck(IDC_HEX), 0);
    EXPECT_EQ(window->GetText(IDC_SCAN), "Scan");
    EXPECT_TRUE(ws.ShownBoxes().empty());
    // Start-up hands nothing to the library.
    EXPECT_TRUE(link.Calls().empty());
}

TEST_F(MainDialogTest, TestPageIsExactBytes) {
    Open();
    std::string expected = "Date Time:26-12-06 09:05:03\n\n";
    expected += "0123456789\nabcdefghijklmnopqrstuvwxyz\nABCDEFGHIJKLMNOPQRSTUVWXYZ\n";
    expected += "~!@#$%^&*()_+-={}[]|,./?';:\\\"\n";  // backslash before double quote
    expected += "\nQuillory\n\n";
    EXPECT_EQ(dlg->EditText(), expected);
    // The box shows the page, and reading it back changes nothing.
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), SystemToUtf8(expected));
    dlg->UpdateData(true);
    EXPECT_EQ(dlg->EditText(), expected);
    EXPECT_EQ(BuildTestPage(PinnedTime(2009, 3, 17, 23, 0, 59)).substr(0, 29),
              "Date Time:09-03-17 23:00:59\n\n");
}

TEST_F(MainDialogTest, SystemMenuEndsWithAboutAndMaskedCommandsOpenIt) {
    Open();
    const auto& menu = window->SystemMenu();
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[0].commandId, 0u);
    EXPECT_EQ(menu[1].commandId, 0x10u);
    EXPECT_EQ(menu[1].text, "About Vorpane(&A)...");
    ws.QueueModalScript(100, [](ui::HeadlessWindow& about) {
        EXPECT_EQ(about.Title(), "About Vorpane");
        const auto& t = about.Template();
        ASSERT_EQ(t.controls.size(), 3u);
        EXPECT_EQ(t.controls[0].iconId, 128);
        EXPECT_EQ(t.controls[1].caption, "Vorpane V2.1");
        about.Click(1);
        EXPECT_EQ(about.EndResult(), 1);
    });
    for (uint32_t cmd = 0x10; cmd <= 0x1F; ++cmd) {
        window->ChooseSystemMenu(cmd);
    }
    for (uint32_t cmd : {0x20, 0xF060, 0x0F}) {
        window->ChooseSystemMenu(cmd);
    }
    EXPECT_EQ(ws.ModalRuns().size(), 16u);
}

TEST_F(MainDialogTest, NonIntegerTimeoutKeepsMembersAndBlocksExitNotCancel) {
    Open();
    window->SetText(IDC_PAYLOAD, "edited payload");
    for (const char* bad : {"12a", "", "-", "1.5", "99999999999"}) {
        ws.ClearShownBoxes();
        window->SetText(IDC_TIMEOUT, bad);
        EXPECT_FALSE(dlg->UpdateData(true)) << bad;
        EXPECT_EQ(dlg->TimeoutMs(), 1000) << bad;
        // One complaint for the edit, one for the refresh.
        EXPECT_EQ(BoxTexts(), std::vector<std::string>(2, "Please enter an integer.")) << bad;
    }
    // The payload after the failed field was not read either.
    EXPECT_NE(dlg->EditText(), "edited payload");
    window->Click(1);
    window->PressKey(ui::kVkReturn, IDC_IP);
    EXPECT_FALSE(window->EndResult().has_value());
    window->PressKey(ui::kVkEscape, IDC_TIMEOUT);
    EXPECT_EQ(window->EndResult(), 2);
}

// Enter presses Exit, except in the payload box; blanks and a sign are fine.
TEST_F(MainDialogTest, IntegerTimeoutLetsEnterPressExit) {
    Open();
    window->SetText(IDC_TIMEOUT, " -250 ");
    window->PressKey(ui::kVkReturn, IDC_PAYLOAD);
    EXPECT_FALSE(window->EndResult().has_value());
    window->PressKey(ui::kVkReturn, IDC_IP);
    EXPECT_EQ(window->EndResult(), 1);
    EXPECT_EQ(dlg->TimeoutMs(), -250);
}

TEST_F(MainDialogTest, EnableActionButtonsTouchesExactlyTheNine) {
    Open();
    const std::vector<int> nine = {1001, 1012, 1014, 1013, 1011, 1016, 1032, 1033, 1035};
    // From a worker the calls run on the UI thread.
    window->ClearEnableLog();
    std::atomic<bool> done{false};
    std::thread worker([&] {
        dlg->EnableActionButtons(0);
        done = true;
    });
    ASSERT_TRUE(ws.ServeUntilFor([&] { return done.load(); }, std::chrono::seconds(10)));
    worker.join();
    const auto expected = [&](bool on) {
        std::vector<std::pair<int, bool>> log;
        for (int id : nine) {
            log.emplace_back(id, on);
        }
        return log;
    };
    EXPECT_EQ(window->EnableLog(), expected(false));
    window->ClearEnableLog();
    dlg->EnableActionButtons(1);
    EXPECT_EQ(window->EnableLog(), expected(true));
}

TEST_F(MainDialogTest, ApplicationRecordsStartDirAndAsksForTheSkin) {
    ws.QueueModalScript(102, [](ui::HeadlessWindow& w) {
        EXPECT_EQ(w.Title(), "Vorpane V2.1");
        w.Click(1);
    });
    CPrinterToolApp app(services);
    EXPECT_EQ(app.InitInstance(), 0);
    EXPECT_EQ(g_startDir, std::filesystem::current_path().string());
    ASSERT_EQ(ws.SkinRequests().size(), 1u);
    EXPECT_EQ(ws.SkinRequests()[0], g_startDir + "/XPCorona.ssk");
    EXPECT_EQ(ws.ModalRuns(), std::vector<int>{102});
}

}  // namespace
}  // namespace vorpane
