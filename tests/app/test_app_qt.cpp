// The main window on the Qt backend (offscreen), driven through the window
// contract's Qt driver: a whole scan with its 17 workers calling into Qt
// (this executable runs under TSan), keys as Qt delivers them, the arrows'
// write-back, and the status dialog ticking on its real timer.

#include <gtest/gtest.h>
#include <QApplication>
#include <QDialog>
#include <QLabel>

#include "app/printer_tool_dlg.h"
#include "fake_udp_socket.h"
#include "main_dialog_fixture.h"
#include "status/printer_status_dlg.h"
#include "ui/contract/window_contract.h"
#include "ui/qt/icons.h"
#include "ui/qt/qt_window_system.h"

namespace vorpane {
namespace {

using ui::contract::BoxAnswer;

constexpr const char* kPrinter = "10.1.2.30";

class AppQtTest : public ::testing::Test {
protected:
    void SetUp() override {
        services.ws = &driver->System();
        services.link = &link;
        services.makeProber = [this] { return std::make_unique<ScriptedProber>(probes); };
        services.purgeArp = [](uint32_t) { return 1; };
        services.netbios = sweepNet.Services();
        link.AddPrinter(kPrinter);
        dlg = std::make_unique<CPrinterToolDlg>(services);
        ASSERT_TRUE(dlg->Create());
        driver->Show(W());
    }
    void TearDown() override { dlg.reset(); }
    ui::Window& W() { return *dlg->GetWindow(); }

    std::unique_ptr<ui::contract::Driver> driver = ui::contract::MakeDriver();
    TablePrinterLink link;
    std::shared_ptr<ScriptedProber::Shared> probes = std::make_shared<ScriptedProber::Shared>();
    FakeUdpNetwork sweepNet;
    DialogServices services;
    std::unique_ptr<CPrinterToolDlg> dlg;
};

TEST_F(AppQtTest, WholeScanThroughQtListsThePrinterAndEnds) {
    W().SetText(IDC_IP, "10.1.2.200");
    for (const char* alive : {"10.1.2.7", kPrinter}) {
        probes->answers[alive] = 1;
    }
    driver->AnswerMessageBox(BoxAnswer::Ok);
    driver->Click(W(), IDC_SCAN);
    ASSERT_TRUE(driver->LetTimePass(
        60000, [&] { return dlg->Scan().ActiveWorkers() == 0 && dlg->Scan().IsRunning() == 0; }));
    EXPECT_EQ(dlg->Scan().AliveHostsCopy().size(), 2u);
    EXPECT_EQ(W().ComboCount(IDC_PRINTER_LIST), 1);
    EXPECT_EQ(W().GetText(IDC_IP), kPrinter);
    EXPECT_EQ(W().GetText(IDC_SCAN), "Scan");
    EXPECT_TRUE(W().IsEnabled(IDC_SET_MAC));
    EXPECT_EQ(dlg->Progress().Position(), 0);
    EXPECT_EQ(probes->probes.size(), 253u);
}

TEST_F(AppQtTest, SpaceBarDoesNothingAndTheArrowsWriteBackWithoutAnEdit) {
    W().SetText(IDC_IP, kPrinter);
    const std::string payload = W().GetText(IDC_PAYLOAD);
    for (int id : {IDC_TEST, IDC_STATUS, IDC_HEX, IDC_PAYLOAD, IDC_TIMEOUT}) {
        driver->PressKey(W(), id, ui::kVkSpace, false);
    }
    EXPECT_EQ(W().GetCheck(IDC_HEX), 0);
    EXPECT_EQ(W().GetText(IDC_PAYLOAD), payload);
    EXPECT_EQ(W().GetText(IDC_TIMEOUT), "1000");
    EXPECT_TRUE(driver->SeenBoxes().empty());
    EXPECT_TRUE(link.Calls().empty());

    driver->Spin(W(), IDC_TIMEOUT_SPIN, +1);
    EXPECT_EQ(W().GetText(IDC_TIMEOUT), "500");
    EXPECT_TRUE(link.CallsOf("SetTimeOut").empty());
    driver->Type(W(), IDC_TIMEOUT, "52");  // each keystroke hands its value over
    const auto calls = link.CallsOf("SetTimeOut");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(std::make_pair(calls[1].a, calls[1].b), std::make_pair(0, 52));
}

TEST_F(AppQtTest, StatusDialogShowsItsLampsAndTicksOnItsOwnTimer) {
    W().SetText(IDC_IP, kPrinter);
    link.SetStatus(kPrinter, 0x12121212 | kStatusCoverOpen);
    auto lamp = [](ui::Window& w, int id, int icon) {
        auto* label = qobject_cast<QLabel*>(qt::QtWindowSystem::ControlOf(&w, id));
        return label->pixmap().toImage() ==
               qt::IconPixmap(icon, label->devicePixelRatioF()).toImage();
    };
    bool checked = false;
    driver->WhenModal(IDD_PRINTER_STATUS, [&](ui::Window& s) {
        EXPECT_EQ(qt::QtWindowSystem::DialogOf(&s)->parentWidget(),
                  qt::QtWindowSystem::DialogOf(&W()));
        EXPECT_TRUE(lamp(s, IDC_COVER_LAMP, IDI_LAMP_GREY));
        driver->Click(s, IDC_MONITOR);
        ASSERT_TRUE(driver->LetTimePass(10000, [&] { return !link.CallsOf("GetStatus").empty(); }));
        EXPECT_EQ(s.GetText(IDC_COVER_TEXT), "Cover is Open");
        EXPECT_TRUE(lamp(s, IDC_COVER_LAMP, IDI_LAMP_RED));
        EXPECT_TRUE(lamp(s, IDC_PAPER_LAMP, IDI_LAMP_GREEN));
        checked = true;
        driver->PressKey(s, 0, ui::kVkEscape, false);
    });
    driver->Click(W(), IDC_STATUS);
    EXPECT_TRUE(checked);
    EXPECT_EQ(link.CallsOf("GetStatus").size(), 1u);
}

}  // namespace
}  // namespace vorpane
