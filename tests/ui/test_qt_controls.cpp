// Control operations of the window: what the logic reads and writes, and
// which notifications reach it.

#include <gtest/gtest.h>
#include <QApplication>
#include <QDialog>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <QToolButton>

#include "qt_test_support.h"
#include "ui/qt/icons.h"
#include "ui/qt/ip_address_edit.h"
#include "ui/qt/progress_widget.h"
#include "ui/qt/up_down.h"

namespace vorpane::qt::test {
namespace {

// Each key goes where the focus is at that moment, as typing does.
void TypeIntoFocus(const char* text) {
    for (const char* c = text; *c != '\0'; ++c) {
        QTest::keyClick(QApplication::focusWidget(), *c);
    }
}

class QtControls : public QtWindowTest {
protected:
    void SetUp() override { shown = Show(102); }
    ui::Window& W() { return *shown.window; }
    ShownWindow shown;
};

TEST_F(QtControls, AddressControlTextAndOctets) {
    EXPECT_EQ(W().GetText(1000), "0.0.0.0");  // blank fields read as 0
    W().SetText(1000, "192.168.1.10");
    EXPECT_EQ(W().GetIpOctets(1000), (std::array<uint8_t, 4>{192, 168, 1, 10}));
    // Leading zeros are not kept; values above 255 are clamped; missing or
    // malformed fields are blank.
    W().SetText(1000, "010.300.x");
    EXPECT_EQ(W().GetText(1000), "10.255.0.0");
    auto* ip = qobject_cast<IpAddressEdit*>(shown.Control(1000));
    EXPECT_EQ(ip->field(2)->text(), QString());
    W().SetText(1000, "");
    EXPECT_EQ(ip->field(0)->text(), QString());
    // The other address control is separate.
    W().SetText(1031, "10.0.0.1");
    EXPECT_EQ(W().GetText(1000), "0.0.0.0");
    EXPECT_EQ(W().GetText(1031), "10.0.0.1");
}

TEST_F(QtControls, AddressControlTyping) {
    auto* ip = qobject_cast<IpAddressEdit*>(shown.Control(1031));
    Focus(ip->field(0));
    // '.' moves on; three digits move on by themselves; letters are refused.
    TypeIntoFocus("10.x0.9997");
    EXPECT_EQ(W().GetText(1031), "10.0.255.7");
    EXPECT_TRUE(ip->field(3)->hasFocus());
    EXPECT_GT(events.CountCommand(1031, ui::Notify::Changed), 0);
    // Backspace in an empty field goes back to the previous one.
    QTest::keyClick(ip->field(3), Qt::Key_Backspace);
    QTest::keyClick(ip->field(3), Qt::Key_Backspace);
    EXPECT_TRUE(ip->field(2)->hasFocus());
    EXPECT_EQ(W().GetText(1031), "10.0.255.0");

    // Over a whole old address: the '.' after three digits belongs to them,
    // the digits already moved on, so it must not skip the next field.
    W().SetText(1031, "192.168.1.10");
    Focus(ip->field(0));
    ip->field(0)->selectAll();
    TypeIntoFocus("127.0.0.1");
    EXPECT_EQ(W().GetText(1031), "127.0.0.1");
    EXPECT_TRUE(ip->field(3)->hasFocus());
    // A field typed with a leading zero shows its number once left.
    ip->field(3)->selectAll();
    TypeIntoFocus("010");
    EXPECT_EQ(W().GetText(1031), "127.0.0.10");
    Focus(ip->field(0));
    EXPECT_EQ(ip->field(3)->text(), QStringLiteral("10"));
}

TEST_F(QtControls, DropDownListSelection) {
    EXPECT_EQ(W().ComboGetCurSel(1002), -1);
    EXPECT_EQ(W().ComboAdd(1002, "192.168.1.23"), 0);
    EXPECT_EQ(W().ComboAdd(1002, "192.168.1.87"), 1);
    EXPECT_EQ(W().ComboCount(1002), 2);
    // Adding selects nothing, and the logic's own changes notify nothing.
    EXPECT_EQ(W().ComboGetCurSel(1002), -1);
    EXPECT_EQ(W().GetText(1002), "");
    W().ComboSetCurSel(1002, 1);
    EXPECT_EQ(W().ComboGetCurSel(1002), 1);
    EXPECT_EQ(W().GetText(1002), "192.168.1.87");
    EXPECT_EQ(W().ComboItemText(1002, 0) + "|" + W().ComboItemText(1002, 2), "192.168.1.23|");
    W().ComboSetCurSel(1002, 5);
    EXPECT_EQ(W().ComboGetCurSel(1002), -1);
    EXPECT_EQ(events.CountCommand(1002, ui::Notify::SelChange), 0);

    // The user's choice does notify.
    W().ComboSetCurSel(1002, 0);
    Focus(shown.Control(1002));
    QTest::keyClick(shown.Control(1002), Qt::Key_Down);
    EXPECT_EQ(W().ComboGetCurSel(1002), 1);
    EXPECT_EQ(events.CountCommand(1002, ui::Notify::SelChange), 1);

    W().ComboReset(1002);
    EXPECT_EQ(W().ComboCount(1002), 0);
    EXPECT_EQ(W().ComboGetCurSel(1002), -1);
}

TEST_F(QtControls, EditAndRichEditText) {
    W().SetText(1004, "1000");
    EXPECT_EQ(W().GetText(1004), "1000");
    EXPECT_EQ(events.CountCommand(1004, ui::Notify::Changed), 1);  // as the platform's edit does
    QTest::keyClicks(shown.Control(1004), "5");
    EXPECT_EQ(events.CountCommand(1004, ui::Notify::Changed), 2);

    // Line breaks, a no-break space and CJK text come back as they went in.
    for (const std::string text : {"Date Time:26-12-06\n\nA\xC2\xA0"
                                   "B\n\xE5\xAE\x8B\n",
                                   ""}) {
        W().SetText(1010, text);
        EXPECT_EQ(W().GetText(1010), text);
    }
}

TEST_F(QtControls, ButtonsCheckBoxAndEnable) {
    W().SetCheck(1015, 1);
    EXPECT_EQ(W().GetCheck(1015), 1);
    EXPECT_EQ(events.CountCommand(1015, ui::Notify::Clicked), 0);
    QTest::mouseClick(shown.Control(1015), Qt::LeftButton);
    EXPECT_EQ(W().GetCheck(1015), 0);
    EXPECT_EQ(events.CountCommand(1015, ui::Notify::Clicked), 1);

    QTest::mouseClick(shown.Control(1001), Qt::LeftButton);
    EXPECT_EQ(events.CountCommand(1001, ui::Notify::Clicked), 1);
    W().Enable(1001, false);
    EXPECT_FALSE(W().IsEnabled(1001));
    QTest::mouseClick(shown.Control(1001), Qt::LeftButton);
    EXPECT_EQ(events.CountCommand(1001, ui::Notify::Clicked), 1);
    W().Enable(1001, true);
    EXPECT_TRUE(W().IsEnabled(1001) && !W().IsEnabled(4242));  // 4242: no such control
}

TEST_F(QtControls, UpDownProposesSteps) {
    auto* ud = qobject_cast<UpDownControl*>(shown.Control(1008));
    QTest::mouseClick(ud->upButton(), Qt::LeftButton);
    QTest::mouseClick(ud->downButton(), Qt::LeftButton);
    QTest::mouseClick(ud->downButton(), Qt::LeftButton);
    EXPECT_EQ(events.deltas, (std::vector<std::pair<int, int>>{{1008, -1}, {1008, 1}, {1008, 1}}));
    // Held down, the arrow repeats.
    events.deltas.clear();
    QTest::mousePress(ud->upButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return events.deltas.size() >= 3; }, 5000));
    QTest::mouseRelease(ud->upButton(), Qt::LeftButton);
    for (const auto& d : events.deltas) {
        EXPECT_EQ(d, std::make_pair(1008, -1));
    }
}

TEST(QtStaticIcons, LampsAreRoundOnTransparentGround) {
    for (int id : {kIconLampRed, kIconLampGreen, kIconLampGrey}) {
        const QImage img = IconPixmap(id).toImage();
        ASSERT_EQ(img.size(), QSize(32, 32));
        EXPECT_EQ(qAlpha(img.pixel(0, 0)), 0);
        EXPECT_EQ(qAlpha(img.pixel(31, 31)), 0);
        EXPECT_EQ(qAlpha(img.pixel(16, 16)), 255);
        const QColor c = QColor::fromRgb(img.pixel(20, 20));
        const int r = c.red(), g = c.green(), b = c.blue();
        EXPECT_TRUE(id == kIconLampRed     ? r > g + 60
                    : id == kIconLampGreen ? g > r + 60
                                           : std::abs(r - g) < 10 && std::abs(g - b) < 10)
            << id << ": " << r << "," << g << "," << b;
    }
    EXPECT_FALSE(LoadIcon(kIconApp).isNull());
    EXPECT_TRUE(LoadIcon(999).isNull());
}

// A custom control that counts what reaches it and paints nothing.
struct ControlProbe : ui::CustomControl {
    void OnPaint(ui::PaintSurface&, const ui::Rect&) override { ++paints; }
    void OnSize() override { ++sizes; }
    void OnSetText(const std::optional<std::string>&) override {}
    int paints = 0, sizes = 0;
};

// What the control paints is checked pixel by pixel with the progress
// control itself; here, what the widget passes on to it.
TEST_F(QtControls, ProgressBarHostsTheCustomControl) {
    auto* bar = qobject_cast<ProgressWidget*>(shown.Control(1006));
    ASSERT_NE(bar, nullptr);
    const QColor ground = shown.dialog->palette().color(QPalette::Window);
    auto centre = [bar] {
        const QImage img = bar->grab().toImage();
        return QColor(img.pixel(img.width() / 2, img.height() / 2));
    };
    // Nothing but the border is drawn, without a control or with one that
    // draws nothing.
    EXPECT_EQ(centre(), ground);
    ControlProbe probe;
    W().AttachCustomControl(1006, &probe);
    EXPECT_EQ(centre(), ground);
    const ui::Rect client = W().ControlClientRect(1006);

    // Painting now paints now; invalidating paints later.
    const int before = probe.paints;
    W().RedrawControlNow(1006);
    W().InvalidateControl(1006);
    EXPECT_EQ(probe.paints, before + 1);
    EXPECT_TRUE(WaitFor([&] { return probe.paints > before + 1; }));

    // Size changes are passed on (texts: with the progress control itself).
    const int sizes = probe.sizes;
    bar->resize(bar->width() - 20, bar->height());
    EXPECT_EQ(probe.sizes, sizes + 1);
    EXPECT_EQ(W().ControlClientRect(1006).Width(), client.Width() - 20);

    W().AttachCustomControl(1006, nullptr);
    const int detached = probe.paints;
    bar->grab();
    EXPECT_EQ(probe.paints, detached);
}

// That ticks reach the dialog with their ID the status monitor shows.
TEST_F(QtControls, TimersRestartWithTheNewPeriodAndStop) {
    W().SetTimer(2, 60000);
    W().SetTimer(2, 10);
    ASSERT_TRUE(WaitFor([&] { return events.timers.size() >= 3; }));
    EXPECT_EQ(events.timers, std::vector<int>(events.timers.size(), 2));
    W().KillTimer(2);
    const size_t stopped = events.timers.size();
    // Several periods pass without a tick.
    QTest::qWait(100);
    EXPECT_EQ(events.timers.size(), stopped);
    W().KillTimer(77);  // unknown: harmless
}

}  // namespace
}  // namespace vorpane::qt::test
