// The main window at start and the application around it, its About entry
// and the data exchange, on the headless window system.

#include <gtest/gtest.h>

#include <filesystem>

#include "app/printer_tool_app.h"
#include "main_dialog_fixture.h"
#include "platform/codepage.h"

namespace vorpane {
namespace {

TEST_F(MainDialogTest, StateAfterStartAndTheExactTestPage) {
    Open();
    EXPECT_EQ(window->Title(), "Vorpane V2.1");
    EXPECT_EQ(window->IconId(), IDR_MAINFRAME);
    for (int id : {IDC_IP, IDC_NEW_IP}) {
        EXPECT_EQ(window->GetText(id), "192.168.1.10");
    }
    EXPECT_EQ(window->GetText(IDC_TIMEOUT), "1000");
    EXPECT_TRUE(ws.ShownBoxes().empty() && link.Calls().empty());  // nothing asked at start
    const std::string page =
        "Date Time:26-12-06 09:05:03\n\n0123456789\nabcdefghijklmnopqrstuvwxyz\n"
        "ABCDEFGHIJKLMNOPQRSTUVWXYZ\n~!@#$%^&*()_+-={}[]|,./?';:\\\"\n\nQuillory\n\n";
    EXPECT_EQ(dlg->EditText(), page);
    EXPECT_EQ(window->GetText(IDC_PAYLOAD), SystemToUtf8(page));
    EXPECT_EQ(BuildTestPage(PinnedTime(2009, 3, 17, 23, 0, 59)).substr(0, 29),
              "Date Time:09-03-17 23:00:59\n\n");
}

// Without sockets the window still opens; only the network actions fail.
TEST_F(MainDialogTest, SocketLibraryThatDoesNotStartIsReportedOnce) {
    services.startSockets = [] { return std::make_unique<SocketLibrary>(10091); };
    Open();
    link.AddPrinter("192.168.1.10");
    window->Click(IDC_TEST);
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"WSAStartup Failed", "Connect success!"}));
    EXPECT_EQ(ws.ShownBoxes()[0].style, 0u);
}

TEST_F(MainDialogTest, SystemMenuEndsWithAboutAndMaskedCommandsOpenIt) {
    Open();
    const auto& menu = window->SystemMenu();
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(std::pair(menu[0].commandId, menu[1].commandId), std::pair(0u, 0x10u));
    EXPECT_EQ(menu[1].text, "About Vorpane(&A)...");
    for (uint32_t cmd = 0x0F; cmd <= 0x20; ++cmd) {
        window->ChooseSystemMenu(cmd);
    }
    window->ChooseSystemMenu(0xF060);
    EXPECT_EQ(ws.ModalRuns(), std::vector<int>(16, IDD_ABOUTBOX));
}

// A time-out that is no integer keeps the members (the payload after it is
// not read either) and keeps Exit and Enter from closing; Esc still does.
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
    EXPECT_NE(dlg->EditText(), "edited payload");
    window->Click(ui::kIdOk);
    window->PressKey(ui::kVkReturn, IDC_IP);
    EXPECT_FALSE(window->EndResult().has_value());
    window->PressKey(ui::kVkEscape, IDC_TIMEOUT);
    EXPECT_EQ(window->EndResult(), ui::kIdCancel);
}

// Enter presses Exit, except in the payload box; blanks and a sign are fine.
TEST_F(MainDialogTest, IntegerTimeoutLetsEnterPressExit) {
    Open();
    window->SetText(IDC_TIMEOUT, " -250 ");
    window->PressKey(ui::kVkReturn, IDC_PAYLOAD);
    EXPECT_FALSE(window->EndResult().has_value());
    window->PressKey(ui::kVkReturn, IDC_IP);
    EXPECT_EQ(window->EndResult(), ui::kIdOk);
    EXPECT_EQ(dlg->TimeoutMs(), -250);
}

TEST_F(MainDialogTest, ApplicationRecordsStartDirAndAsksForTheSkin) {
    ws.QueueModalScript(IDD_PRINTER_TOOL, [](ui::HeadlessWindow& w) {
        EXPECT_EQ(w.Title(), "Vorpane V2.1");
        w.Click(ui::kIdOk);
    });
    EXPECT_EQ(CPrinterToolApp(services).InitInstance(), 0);
    EXPECT_EQ(g_startDir, std::filesystem::current_path().string());
    EXPECT_EQ(ws.SkinRequests(), std::vector<std::string>{g_startDir + "/XPCorona.ssk"});
    EXPECT_EQ(ws.ModalRuns(), std::vector<int>{IDD_PRINTER_TOOL});
}

}  // namespace
}  // namespace vorpane
