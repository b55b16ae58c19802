// The main window and the status dialog in the real Qt backend (offscreen):
// keys as Qt delivers them, the up-down's write-back, and the status dialog
// opened from its button with lamps drawn and a real timer tick.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "main_dialog_fixture.h"
#include "qt_test_support.h"
#include "status/printer_status_dlg.h"
#include "ui/qt/icons.h"
#include "ui/qt/qt_window_system.h"
#include "ui/qt/up_down.h"

namespace vorpane {
namespace {

using qt::QtWindowSystem;
using qt::test::WaitFor;

constexpr const char* kPrinter = "10.1.2.3";

// Closes every modal dialog that comes up (message boxes and the status
// dialog alike) and keeps its text or title, so a key that wrongly presses a
// button shows here instead of blocking the test.
class ModalCatcher {
public:
    ModalCatcher() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (d == nullptr || !d->isVisible()) {
                return;
            }
            auto* box = qobject_cast<QMessageBox*>(d);
            texts.push_back(box != nullptr ? box->text().toStdString()
                                           : d->windowTitle().toStdString());
            d->reject();
        });
        m_timer.start(5);
    }
    std::vector<std::string> texts;

private:
    QTimer m_timer;
};

bool ShowsIcon(QLabel* label, int iconId) {
    if (label == nullptr || label->pixmap().isNull()) {
        return false;
    }
    return label->pixmap().toImage() ==
           qt::IconPixmap(iconId, label->devicePixelRatioF()).toImage();
}

class StatusQtTest : public ::testing::Test {
protected:
    void SetUp() override {
        services.ws = &ws;
        services.link = &link;
        services.makeProber = [this] { return std::make_unique<ScriptedProber>(probes); };
        services.purgeArp = [](uint32_t) { return 1; };
        services.localTime = [] { return PinnedTime(2026, 12, 6, 9, 5, 3); };
        link.AddPrinter(kPrinter);
        dlg = std::make_unique<CPrinterToolDlg>(services);
        ASSERT_TRUE(dlg->Create());
        dlg->GetWindow()->SetText(IDC_IP, kPrinter);
        dialog = QtWindowSystem::DialogOf(dlg->GetWindow());
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(qt::test::ShowActive(dialog));
    }
    void TearDown() override { dlg.reset(); }

    QWidget* Control(int id) { return QtWindowSystem::ControlOf(dlg->GetWindow(), id); }
    void Focus(QWidget* w) {
        QApplication::setActiveWindow(dialog);
        w->setFocus(Qt::TabFocusReason);
        EXPECT_TRUE(WaitFor([&] { return w->hasFocus(); }));
    }

    QtWindowSystem ws;
    TablePrinterLink link;
    std::shared_ptr<ScriptedProber::Shared> probes = std::make_shared<ScriptedProber::Shared>();
    DialogServices services;
    std::unique_ptr<CPrinterToolDlg> dlg;
    QDialog* dialog = nullptr;
};

TEST_F(StatusQtTest, SpaceBarOnAFocusedButtonOrBoxDoesNothing) {
    ModalCatcher boxes;
    auto* hex = qobject_cast<QCheckBox*>(Control(IDC_HEX));
    auto* payload = qobject_cast<QPlainTextEdit*>(Control(IDC_PAYLOAD));
    auto* timeout = qobject_cast<QLineEdit*>(Control(IDC_TIMEOUT));
    ASSERT_TRUE(hex && payload && timeout);
    const std::string page = payload->toPlainText().toStdString();
    for (int id : {IDC_TEST, IDC_STATUS, IDC_HEX, IDC_PAYLOAD, IDC_TIMEOUT}) {
        Focus(Control(id));
        QTest::keyClick(Control(id), Qt::Key_Space);
        QCoreApplication::processEvents();
    }
    EXPECT_FALSE(hex->isChecked());
    EXPECT_EQ(payload->toPlainText().toStdString(), page);
    EXPECT_EQ(timeout->text().toStdString(), "1000");
    EXPECT_TRUE(boxes.texts.empty());
    EXPECT_TRUE(link.Calls().empty());

    // The same button still answers the mouse, so the keys reached a live
    // window.
    QTest::mouseClick(Control(IDC_TEST), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return !boxes.texts.empty(); }));
    EXPECT_EQ(boxes.texts, std::vector<std::string>{"Connect success!"});
}

TEST_F(StatusQtTest, ArrowWriteBackIsNotAnEdit) {
    auto* upDown = qobject_cast<qt::UpDownControl*>(Control(IDC_TIMEOUT_SPIN));
    auto* timeout = qobject_cast<QLineEdit*>(Control(IDC_TIMEOUT));
    ASSERT_TRUE(upDown && timeout);
    QTest::mouseClick(upDown->downButton(), Qt::LeftButton);
    EXPECT_EQ(timeout->text().toStdString(), "500");
    EXPECT_TRUE(link.CallsOf("SetTimeOut").empty());

    // Typing is: each keystroke hands the value over.
    Focus(timeout);
    QTest::keyClick(timeout, Qt::Key_End);
    QTest::keyClick(timeout, Qt::Key_2);
    const auto calls = link.CallsOf("SetTimeOut");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(std::make_pair(calls[0].a, calls[0].b), std::make_pair(5, 2));
}

TEST_F(StatusQtTest, StatusDialogShowsItsLampsAndTicksOnItsOwnTimer) {
    link.SetStatus(kPrinter, 0x12121212 | 0x400);  // cover open
    int stage = 0;
    const int lamps[] = {IDC_ONLINE_LAMP, IDC_COVER_LAMP, IDC_BUSY_LAMP,
                         IDC_TEMP_LAMP,   IDC_PAUSE_LAMP, IDC_PAPER_LAMP};
    qt::test::WhenModalWidget(
        [&](QWidget* d) {
            if (!d->isVisible() || d->windowTitle() != "Printer Status") {
                return false;
            }
            auto label = [d](int id) { return d->findChild<QLabel*>(QString::number(id)); };
            auto text = [&](int id) { return label(id)->text().toStdString(); };
            if (stage == 0) {
                stage = 1;
                EXPECT_EQ(d->parentWidget(), dialog);  // owned by the main window
                for (int id : lamps) {
                    EXPECT_TRUE(ShowsIcon(label(id), IDI_LAMP_GREY)) << id;
                }
                QTest::mouseClick(d->findChild<QPushButton*>(QString::number(IDC_MONITOR)),
                                  Qt::LeftButton);
                EXPECT_TRUE(link.CallsOf("GetStatus").empty());
                return false;
            }
            // The first reading comes with the window timer's first tick.
            if (link.CallsOf("GetStatus").empty()) {
                return false;
            }
            EXPECT_EQ(text(IDC_ONLINE_TEXT), "On-line");
            EXPECT_TRUE(ShowsIcon(label(IDC_ONLINE_LAMP), IDI_LAMP_GREEN));
            EXPECT_EQ(text(IDC_COVER_TEXT), "Cover is Open");
            EXPECT_TRUE(ShowsIcon(label(IDC_COVER_LAMP), IDI_LAMP_RED));
            EXPECT_EQ(text(IDC_PAPER_TEXT), "Have paper");
            // A screen reader hears what each lamp shows after the tick.
            auto description = [&](int id) {
                return QAccessible::queryAccessibleInterface(label(id))
                    ->text(QAccessible::Description)
                    .toStdString();
            };
            EXPECT_EQ(description(IDC_ONLINE_LAMP), "On-line: green");
            EXPECT_EQ(description(IDC_COVER_LAMP), "Cover: red");
            EXPECT_EQ(description(IDC_PAPER_LAMP), "Paper: green");
            EXPECT_EQ(description(IDC_TEMP_LAMP), "Temperature: green");
            QTest::keyClick(d, Qt::Key_Escape);
            stage = 2;
            return true;
        },
        10000);
    QTest::mouseClick(Control(IDC_STATUS), Qt::LeftButton);
    EXPECT_EQ(stage, 2);
    const auto calls = link.CallsOf("GetStatus");
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].address, kPrinter);
}

}  // namespace
}  // namespace vorpane
