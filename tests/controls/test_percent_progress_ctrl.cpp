// The percentage progress bar without a screen: SetPos and its repaint rule,
// the custom text and GetText, and SetPos from worker threads.
// What it paints is checked pixel by pixel in the offscreen test.

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "app/main_dialog_template.h"
#include "controls/percent_progress_ctrl.h"
#include "platform/codepage.h"
#include "ui/dialog.h"
#include "ui/headless/headless_window_system.h"

namespace vorpane {
namespace {

using ui::Color;
using ui::Rect;

constexpr int kProgressId = 1006;
// Counts the drawing calls.
struct CountingSurface : ui::PaintSurface {
    void FillSolidRect(const Rect&, Color) override { ++calls; }
    void SetClip(const Rect*) override {}
    void DrawCenteredText(const Rect&, const std::string&, Color) override { ++calls; }
    int calls = 0;
};

class ProgressTest : public ::testing::Test {
protected:
    ProgressTest() {
        host.Create();
        window = static_cast<ui::HeadlessWindow*>(host.GetWindow());
    }
    void AttachAt(int width) {
        ctrl.Attach(window, kProgressId);
        window->SetClientWidth(kProgressId, width);
    }
    int Paint() {
        CountingSurface s;
        ctrl.OnPaint(s, window->ControlClientRect(kProgressId));
        return s.calls;
    }
    int Redraws() const { return window->RedrawCount(kProgressId); }

    ui::HeadlessWindowSystem ws;
    ui::CDialog host{MainDialogTemplate(), ws};  // the main window's template holds control 1006
    ui::HeadlessWindow* window = nullptr;
    CPercentProgressCtrl ctrl{ws};
};

TEST_F(ProgressTest, SetPosAnswersThePreviousPositionOrMinusOneWithoutAWindow) {
    EXPECT_EQ(ctrl.SetPos(40), -1);
    EXPECT_EQ(ctrl.Position(), 0);
    EXPECT_EQ(ctrl.PaintedWidth(), -1);
    AttachAt(200);
    // A fresh control repaints even for 0.
    EXPECT_EQ(ctrl.SetPos(0), 0);
    EXPECT_EQ(Redraws(), 1);
    EXPECT_EQ(ctrl.PaintedWidth(), 0);
    EXPECT_EQ(ctrl.SetPos(70), 0);
    EXPECT_EQ(ctrl.SetPos(20), 70);
    EXPECT_EQ(Redraws(), 3);
    // An empty range has no bar: no repaint, no text, nothing painted.
    ctrl.SetRange(5, 5);
    EXPECT_EQ(ctrl.SetPos(3), 20);
    EXPECT_EQ(Redraws(), 3);
    EXPECT_EQ(ctrl.DisplayText(), "");
    EXPECT_EQ(Paint(), 0);
}

TEST_F(ProgressTest, RepaintsOnlyWhenThePixelWidthChangesOrAfterASizeChange) {
    AttachAt(50);  // narrower than the range has steps
    ctrl.SetPos(10);
    const int after10 = Redraws();
    EXPECT_EQ(ctrl.PaintedWidth(), 5);
    ctrl.SetPos(11);  // 5.5 pixels: still 5
    EXPECT_EQ(Redraws(), after10);
    EXPECT_EQ(ctrl.Position(), 11);
    ctrl.SetPos(12);  // 6
    EXPECT_EQ(Redraws(), after10 + 1);
    ctrl.SetPos(12);
    EXPECT_EQ(Redraws(), after10 + 1);

    window->SetClientWidth(kProgressId, 50);  // same width, still a size event
    EXPECT_EQ(ctrl.PaintedWidth(), -1);
    ctrl.SetPos(12);
    EXPECT_EQ(Redraws(), after10 + 2);
    window->SetClientWidth(kProgressId, 400);
    ctrl.SetPos(12);
    EXPECT_EQ(Redraws(), after10 + 3);
    EXPECT_EQ(ctrl.PaintedWidth(), 48);
}

TEST_F(ProgressTest, SetPosFromWorkerThreadsIsCarriedOutOnTheUiThread) {
    AttachAt(200);
    constexpr int kThreads = 4;
    constexpr int kCalls = 200;
    std::atomic<int> finished{0};
    std::atomic<bool> bad{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kCalls; ++i) {
                const int previous = ctrl.SetPos(t * 1000 + i % 101);
                // The previous position is one some caller stored.
                if (previous != 0 && (previous % 1000 > 100 || previous / 1000 >= kThreads)) {
                    bad = true;
                }
            }
            ++finished;
        });
    }
    // Paints meanwhile, on the UI thread, as the window would.
    const bool done = ws.ServeUntilFor(
        [&] {
            Paint();
            return finished == kThreads;
        },
        std::chrono::seconds(30));
    for (auto& th : threads) {
        th.join();
    }
    ASSERT_TRUE(done);
    EXPECT_FALSE(bad);
    // Some thread's last call stands, with the width painted for it.
    EXPECT_EQ(ctrl.Position() % 1000, (kCalls - 1) % 101);
    EXPECT_LT(ctrl.Position() / 1000, kThreads);
    EXPECT_EQ(ctrl.PaintedWidth(), static_cast<int>(ctrl.Position() / 100.0 * 200));
}

TEST_F(ProgressTest, WindowTextReplacesThePercentageUntilCleared) {
    AttachAt(200);
    ctrl.SetPos(50);
    const int before = window->InvalidateCount(kProgressId);
    // A text that changes nothing (the same again, or none twice) repaints nothing.
    const struct {
        std::optional<std::string> text;  // none: no text at all
        int invalidates;
        const char* shown;
    } steps[] = {{"Busy", 1, "Busy"}, {"Busy", 1, "Busy"},      {"", 2, "50%"},
                 {"Busy", 3, "Busy"}, {std::nullopt, 4, "50%"}, {std::nullopt, 4, "50%"}};
    for (const auto& st : steps) {
        SCOPED_TRACE(&st - steps);
        if (st.text) {
            window->SetText(kProgressId, *st.text);
        } else {
            ctrl.OnSetText(std::nullopt);
        }
        EXPECT_EQ(window->InvalidateCount(kProgressId) - before, st.invalidates);
        EXPECT_EQ(ctrl.DisplayText(), st.shown);
    }
}

TEST_F(ProgressTest, GetTextCopiesWholeGb18030CharactersAndATerminator) {
    AttachAt(200);
    struct Case {
        std::string utf8;
        int32_t n, copied;
    };
    // U+4E2D U+6587: two bytes each in GB18030; U+1F600: four bytes.
    const std::string cjk =
        "\xE4\xB8\xAD\xE6\x96\x87"
        "a\xF0\x9F\x98\x80";
    const Case cases[] = {
        {"Busy", 0, 0}, {"Busy", 1, 0}, {"Busy", 3, 2}, {"Busy", 10, 4}, {cjk, 2, 0},  {cjk, 3, 2},
        {cjk, 4, 2},    {cjk, 5, 4},    {cjk, 6, 5},    {cjk, 9, 5},     {cjk, 10, 9}, {cjk, 20, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.utf8 + " into " + std::to_string(c.n));
        window->SetText(kProgressId, c.utf8);
        const std::string system = Utf8ToSystem(c.utf8);
        char buf[32];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(ctrl.OnGetText(c.n, buf), c.copied);
        EXPECT_EQ(std::string(buf, static_cast<size_t>(c.copied)), system.substr(0, c.copied));
        // The terminator and nothing beyond; no room, nothing written.
        const size_t end = c.n > 0 ? static_cast<size_t>(c.copied) + 1 : 0;
        if (c.n > 0) {
            EXPECT_EQ(buf[c.copied], '\0');
        }
        EXPECT_EQ(buf[end], 'x');
    }
}

}  // namespace
}  // namespace vorpane
