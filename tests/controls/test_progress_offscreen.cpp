// The progress bar painted by the Qt widget into an image offscreen: the
// pixels must be the two fills and the text exactly as a plain rendering
// would give them, the text in the window colour left of the bar's edge and
// in the highlight colour right of it.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QImage>

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
        ctrl.SetRange(0, 100);
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
    // Checks the shot against the plain renderings split at `edge`, and
    // that each side really carries part of the text when it crosses.
    void ExpectSplitAt(int edge, const std::string& text, bool textCrossesEdge = true) {
        const QImage shot = Shot();
        const QImage overBar = Plain(shot.size(), highlight, window, text);
        const QImage overRest = Plain(shot.size(), window, highlight, text);
        int mismatches = 0;
        int inkLeft = 0;
        int inkRight = 0;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QImage& want = x < edge ? overBar : overRest;
                if (shot.pixel(x, y) != want.pixel(x, y)) {
                    ++mismatches;
                }
                const QRgb ground = x < edge ? Rgb(highlight) : Rgb(window);
                if ((shot.pixel(x, y) & 0xFFFFFF) != (ground & 0xFFFFFF)) {
                    ++(x < edge ? inkLeft : inkRight);
                }
            }
        }
        EXPECT_EQ(mismatches, 0) << text;
        if (textCrossesEdge) {
            EXPECT_GT(inkLeft, 0) << text;
        } else {
            EXPECT_EQ(inkLeft, 0) << text;
        }
        EXPECT_GT(inkRight, 0) << text;
        // The fills themselves, in the top row, on either side of the edge.
        EXPECT_EQ(shot.pixel(edge - 1, 0) & 0xFFFFFF, Rgb(highlight) & 0xFFFFFF);
        EXPECT_EQ(shot.pixel(edge, 0) & 0xFFFFFF, Rgb(window) & 0xFFFFFF);
    }
    static QRgb Rgb(ui::Color c) { return qRgb((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }

    qt::QtWindowSystem ws;
    ui::CDialog host{102, ws};
    qt::ProgressWidget* bar = nullptr;
    CPercentProgressCtrl ctrl{ws};
    const ui::Color highlight = ws.GetSysColor(ui::SysColor::Highlight);
    const ui::Color window = ws.GetSysColor(ui::SysColor::Window);
};

TEST_F(ProgressOffscreen, HalfOfTwoHundredPixelsFlipsTheTextColourAtPixel100) {
    ASSERT_NE(highlight, window);
    ctrl.SetPos(50);
    ExpectSplitAt(100, "50%");
}

TEST_F(ProgressOffscreen, TwentyNineReadsTwentyEightWithTheBarAt57) {
    // 0.29 × 200 lies just below 58, like 0.29 × 100 below 29; the text,
    // centred, stays right of the bar.
    ctrl.SetPos(29);
    ExpectSplitAt(57, "28%", false);
}

TEST_F(ProgressOffscreen, CustomTextIsSplitTheSameWay) {
    ctrl.SetPos(50);
    host.GetWindow()->SetText(kProgressId, "Busy");
    ExpectSplitAt(100, "Busy");
    host.GetWindow()->SetText(kProgressId, "");
    ExpectSplitAt(100, "50%");
}

TEST_F(ProgressOffscreen, FullBarShowsOneHundredPercentOverTheBarOnly) {
    ctrl.SetPos(100);
    const QImage shot = Shot();
    const QImage want = Plain(shot.size(), highlight, window, "100%");
    EXPECT_EQ(shot, want);
}

TEST_F(ProgressOffscreen, ScreenReadersReadTheValueAndTheShownText) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(bar);
    ASSERT_NE(iface, nullptr);
    QAccessibleValueInterface* value = iface->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::ProgressBar);

    ctrl.SetPos(50);
    EXPECT_EQ(value->currentValue().toInt(), 50);
    EXPECT_EQ(value->minimumValue().toInt(), 0);
    EXPECT_EQ(value->maximumValue().toInt(), 100);
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("50%"));

    // A position that leaves the pixel width alone still reaches the reader.
    ctrl.SetPos(29);
    ctrl.SetPos(29);
    EXPECT_EQ(value->currentValue().toInt(), 29);
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("28%"));

    host.GetWindow()->SetText(kProgressId, "Busy");
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("Busy"));
    host.GetWindow()->SetText(kProgressId, "");
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("28%"));

    ctrl.SetRange(0, 200);
    EXPECT_EQ(value->maximumValue().toInt(), 200);
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("14%"));
}

}  // namespace
}  // namespace vorpane
