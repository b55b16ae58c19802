// The percentage progress bar: its geometry and text, its repaint rule, its
// custom text, and SetPos from worker threads; painted into a surface that
// records every drawing call.

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <thread>
#include <vector>

#include "app/codepage.h"
#include "controls/percent_progress_ctrl.h"
#include "ui/dialog.h"
#include "ui/headless/headless_window_system.h"

namespace vorpane {
namespace {

using ui::Color;
using ui::Rect;

constexpr int kProgressId = 1006;
constexpr Color kHighlight = 0x3399FF;
constexpr Color kWindow = 0xFFFFFF;

// Colours the test can change after the control has read them.
class ColourWindowSystem : public ui::HeadlessWindowSystem {
public:
    Color GetSysColor(ui::SysColor which) override {
        ++reads;
        return which == ui::SysColor::Highlight ? highlight : window;
    }
    Color highlight = kHighlight;
    Color window = kWindow;
    int reads = 0;
};

// Every drawing call in order, with the clip in force for text.
class RecordingSurface : public ui::PaintSurface {
public:
    struct Fill {
        Rect r;
        Color c;
    };
    struct Text {
        Rect r;
        std::string text;
        Color c;
        std::optional<Rect> clip;
    };
    void FillSolidRect(const Rect& r, Color c) override { fills.push_back({r, c}); }
    void SetClip(const Rect* r) override {
        clip = r != nullptr ? std::optional<Rect>(*r) : std::nullopt;
    }
    void DrawCenteredText(const Rect& r, const std::string& utf8, Color c) override {
        texts.push_back({r, utf8, c, clip});
    }
    std::vector<Fill> fills;
    std::vector<Text> texts;
    std::optional<Rect> clip;
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
    RecordingSurface Paint() {
        RecordingSurface s;
        ctrl.OnPaint(s, window->ControlClientRect(kProgressId));
        return s;
    }
    // Bar and rest filled, the text centred over the whole control twice:
    // over the bar in the window colour, over the rest in the highlight.
    // A bar of -1: nothing painted at all.
    void ExpectPainted(const RecordingSurface& s, int bar, int width, const std::string& text) {
        const int h = window->ControlClientRect(kProgressId).Height();
        ASSERT_GT(h, 0);
        const size_t parts = bar < 0 ? 0 : 2;
        ASSERT_EQ(s.fills.size(), parts);
        ASSERT_EQ(s.texts.size(), parts);
        const Rect side[] = {{0, 0, bar, h}, {bar, 0, width, h}};
        const Color ground[] = {kHighlight, kWindow};
        for (size_t i = 0; i < parts; ++i) {
            EXPECT_EQ(s.fills[i].r, side[i]);
            EXPECT_EQ(s.fills[i].c, ground[i]);
            EXPECT_EQ(s.texts[i].text, text);
            EXPECT_EQ(s.texts[i].r, (Rect{0, 0, width, h}));
            EXPECT_EQ(s.texts[i].clip, side[i]);
            EXPECT_EQ(s.texts[i].c, ground[1 - i]);
        }
        EXPECT_EQ(s.clip, std::nullopt);  // given back at the end
    }
    int Redraws() const { return window->RedrawCount(kProgressId); }

    ColourWindowSystem ws;
    ui::CDialog host{102, ws};  // the main window's template holds control 1006
    ui::HeadlessWindow* window = nullptr;
    CPercentProgressCtrl ctrl{ws};
};

TEST_F(ProgressTest, BarAndTextFollowPositionRangeAndWidth) {
    struct Case {
        int32_t lower, upper, pos;
        int width, bar;
        std::string text;
    };
    const Case cases[] = {
        {0, 100, 50, 200, 100, "50%"},
        {0, 100, 0, 200, 0, "0%"},
        // Truncated, not rounded: 0.29 lies just below 29/100.
        {0, 100, 29, 200, 57, "28%"},
        {0, 100, 99, 200, 198, "99%"},
        {0, 100, 100, 200, 200, "100%"},
        // The range is the control's own, lower first.
        {100, 200, 150, 300, 150, "50%"},
        {0, 3, 1, 300, 100, "33%"},
        // Outside the range both areas stay inside the control, and values
        // far outside give no overflow (the sanitizer build checks).
        {0, 100, 150, 200, 200, "150%"},
        {0, 100, -40, 200, 0, "-40%"},
        {INT_MIN, INT_MAX, INT_MAX, 200, 200, "100%"},
        {0, 1, INT_MAX, 200, 200, std::to_string(INT_MAX) + "%"},
        {5, 5, 3, 200, -1, ""},  // an empty range
    };
    AttachAt(200);
    for (const Case& c : cases) {
        SCOPED_TRACE(&c - cases);
        window->SetClientWidth(kProgressId, c.width);
        ctrl.SetRange(c.lower, c.upper);
        ctrl.SetPos(c.pos);
        ExpectPainted(Paint(), c.bar, c.width, c.text);
        EXPECT_EQ(ctrl.DisplayText(), c.text);
    }
}

TEST_F(ProgressTest, ColoursAreReadOnceAtConstruction) {
    const int reads = ws.reads;
    EXPECT_GT(reads, 0);
    ws.highlight = 0x112233;
    ws.window = 0x445566;
    AttachAt(200);
    ctrl.SetPos(50);
    ExpectPainted(Paint(), 100, 200, "50%");
    EXPECT_EQ(ws.reads, reads);
}

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
    // An empty range draws no bar to repaint.
    ctrl.SetRange(5, 5);
    EXPECT_EQ(ctrl.SetPos(3), 20);
    EXPECT_EQ(Redraws(), 3);
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
    const int invalidates = window->InvalidateCount(kProgressId);
    window->SetText(kProgressId, "Busy");
    EXPECT_EQ(window->InvalidateCount(kProgressId), invalidates + 1);
    ExpectPainted(Paint(), 100, 200, "Busy");
    window->SetText(kProgressId, "Busy");  // the same: nothing
    EXPECT_EQ(window->InvalidateCount(kProgressId), invalidates + 1);
    window->SetText(kProgressId, "");
    EXPECT_EQ(window->InvalidateCount(kProgressId), invalidates + 2);
    ExpectPainted(Paint(), 100, 200, "50%");

    window->SetText(kProgressId, "Busy");
    ctrl.OnSetText(std::nullopt);  // no text at all
    EXPECT_EQ(window->InvalidateCount(kProgressId), invalidates + 4);
    EXPECT_EQ(ctrl.DisplayText(), "50%");
    ctrl.OnSetText(std::nullopt);
    EXPECT_EQ(window->InvalidateCount(kProgressId), invalidates + 4);
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
