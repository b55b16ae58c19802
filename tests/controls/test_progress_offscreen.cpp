// The progress bar painted by the Qt widget into an image offscreen: the
// pixels must be the two fills and the text exactly as a plain rendering
// would give them, the text in the window colour left of the bar's edge and
// in the highlight colour right of it; and what assistive technology reads.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QImage>
#include <climits>

#include "app/main_dialog_template.h"
#include "controls/percent_progress_ctrl.h"
#include "ui/dialog.h"
#include "ui/qt/progress_widget.h"
#include "ui/qt/qt_window_system.h"

namespace vorpane {
namespace {

constexpr int kProgressId = 1006;

class ProgressOffscreen : public ::testing::Test {
protected:
    ProgressOffscreen() {
        host.Create();
        bar = qobject_cast<qt::ProgressWidget*>(
            qt::QtWindowSystem::ControlOf(host.GetWindow(), kProgressId));
    }
    void SetUp() override {
        ASSERT_NE(bar, nullptr);
        ctrl.Attach(host.GetWindow(), kProgressId);
        // A client area of exactly 200 pixels inside the frame.
        const QRect inner = bar->contentsRect();
        bar->resize(200 + bar->width() - inner.width(), bar->height());
        ASSERT_EQ(host.GetWindow()->ControlClientRect(kProgressId).Width(), 200);
    }

    // The client area as the widget shows it.
    QImage Shot() {
        const QImage whole = bar->grab().toImage().convertToFormat(QImage::Format_RGB32);
        return whole.copy(bar->contentsRect());
    }
    // What one fill with the text drawn over it, unclipped, looks like.
    QImage Plain(const QSize& size, ui::Color fill, ui::Color ink, const std::string& text) {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            qt::ImagePaintSurface surface(image, bar->font());
            const ui::Rect all{0, 0, size.width(), size.height()};
            surface.FillSolidRect(all, fill);
            surface.DrawCenteredText(all, text, ink);
        }
        return image.convertToFormat(QImage::Format_RGB32);
    }
    // Checks the shot against the plain renderings split at `edge`, and on
    // which sides the text leaves ink.
    void ExpectSplitAt(int edge, const std::string& text, bool inkLeft, bool inkRight) {
        const QImage shot = Shot();
        const QImage overBar = Plain(shot.size(), highlight, window, text);
        const QImage overRest = Plain(shot.size(), window, highlight, text);
        int mismatches = 0;
        int ink[2] = {0, 0};
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const bool left = x < edge;
                mismatches += shot.pixel(x, y) != (left ? overBar : overRest).pixel(x, y) ? 1 : 0;
                ink[left ? 0 : 1] += Rgb(shot.pixel(x, y)) != (left ? highlight : window) ? 1 : 0;
            }
        }
        EXPECT_EQ(mismatches, 0);
        EXPECT_EQ(ink[0] > 0, inkLeft);
        EXPECT_EQ(ink[1] > 0, inkRight);
    }
    static ui::Color Rgb(QRgb p) { return static_cast<ui::Color>(p & 0xFFFFFF); }

    qt::QtWindowSystem ws;
    ui::CDialog host{MainDialogTemplate(), ws};
    qt::ProgressWidget* bar = nullptr;
    CPercentProgressCtrl ctrl{ws};
    const ui::Color highlight = ws.GetSysColor(ui::SysColor::Highlight);
    const ui::Color window = ws.GetSysColor(ui::SysColor::Window);
};

// Screen readers get the value and the shown text with every change.
TEST_F(ProgressOffscreen, TextColourFlipsExactlyAtTheBarsEdgeAndReadersGetTheText) {
    ASSERT_NE(highlight, window);
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(bar);
    QAccessibleValueInterface* value = iface->valueInterface();
    ASSERT_NE(value, nullptr);
    // The colours were read when the control was made; later palettes do not count.
    const QPalette palette = QApplication::palette();
    QPalette other = palette;
    other.setColor(QPalette::Highlight, Qt::red);
    other.setColor(QPalette::Base, Qt::green);
    QApplication::setPalette(other);
    struct Case {
        int32_t lower, upper, pos;
        std::string customText, shown;
        int edge;
        bool inkLeft, inkRight;
    };
    const Case cases[] = {
        {0, 100, 50, "", "50%", 100, true, true},
        // 0.29 x 200 lies just below 58, like 0.29 x 100 below 29; the text,
        // centred, stays right of the bar.
        {0, 100, 29, "", "28%", 57, false, true},
        {0, 100, 50, "Busy", "Busy", 100, true, true},
        {0, 100, 50, "", "50%", 100, true, true},  // the custom text cleared again
        {0, 100, 100, "", "100%", 200, true, false},
        {100, 200, 150, "", "50%", 100, true, true},  // the control's own range
        {0, 3, 1, "", "33%", 66, false, true},
        // Outside the range the bar stays inside the control, and values far
        // outside give no overflow (the sanitizer build checks).
        {0, 100, 150, "", "150%", 200, true, false},
        {0, 100, -40, "", "-40%", 0, false, true},
        {INT_MIN, INT_MAX, INT_MAX, "", "100%", 200, true, false},
        {0, 1, INT_MAX, "", std::to_string(INT_MAX) + "%", 200, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown + " at " + std::to_string(c.pos));
        ctrl.SetRange(c.lower, c.upper);
        ctrl.SetPos(c.pos);
        host.GetWindow()->SetText(kProgressId, c.customText);
        ExpectSplitAt(c.edge, c.shown, c.inkLeft, c.inkRight);
        EXPECT_EQ(value->currentValue().toInt(), c.pos);
        EXPECT_EQ(value->minimumValue().toInt(), c.lower);
        EXPECT_EQ(value->maximumValue().toInt(), c.upper);
        EXPECT_EQ(iface->text(QAccessible::Value).toStdString(), c.shown);
    }
    QApplication::setPalette(palette);
}

}  // namespace
}  // namespace vorpane
