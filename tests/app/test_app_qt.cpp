// The main window on the Qt backend (offscreen), driven through the window
// contract's Qt driver: a whole scan with its 17 workers calling into Qt.
// This executable runs under TSan.

#include <QDialog>
#include <algorithm>

#include "app/printer_tool_dlg.h"
#include "fake_udp_socket.h"
#include "main_dialog_fixture.h"
#include "ui/contract/window_contract.h"
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
        services.purgeArp = [](Ipv4Address) { return 1; };
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

// The second scan empties the list the first one filled; the subnet it
// sweeps must still be the one in the address box.
TEST_F(AppQtTest, WholeScansThroughQtListThePrinterAndKeepTheSubnet) {
    W().SetText(IDC_IP, "10.1.2.200");
    for (const char* alive : {"10.1.2.7", kPrinter}) {
        probes->answers[alive] = 1;
    }
    for (size_t scan = 1; scan <= 2; ++scan) {
        SCOPED_TRACE(scan);
        driver->AnswerMessageBox(BoxAnswer::Ok);
        driver->Click(W(), IDC_SCAN);
        ASSERT_TRUE(driver->LetTimePass(60000, [&] {
            return dlg->Scan().ActiveWorkers() == 0 && dlg->Scan().IsRunning() == 0;
        }));
        EXPECT_EQ(dlg->Scan().AliveHostsCopy().size(), 2 * scan);
        EXPECT_EQ(W().ComboCount(IDC_PRINTER_LIST), 1);
        EXPECT_EQ(W().GetText(IDC_IP), kPrinter);
        EXPECT_EQ(W().GetText(IDC_SCAN), "Scan");
        std::lock_guard lock(probes->mutex);
        EXPECT_EQ(probes->probes.size(), 253u * scan);
        EXPECT_TRUE(std::all_of(probes->probes.begin(), probes->probes.end(),
                                [](const auto& p) { return p.first.rfind("10.1.2.", 0) == 0; }));
    }
}

}  // namespace
}  // namespace vorpane
