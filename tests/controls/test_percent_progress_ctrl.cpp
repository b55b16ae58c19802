// The percentage progress bar: its geometry and text, its repaint rule, its
// custom text, and SetPos from worker threads; painted into a surface that
// records every drawing call.

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <set>
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
        clips.push_back(clip);
    }
    void DrawCenteredText(const Rect& r, const std::string& utf8, Color c) override {
        texts.push_back({r, utf8, c, clip});
    }
    std::vector<Fill> fills;
    std::vector<Text> texts;
    std::vector<std::optional<Rect>> clips;
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
    int Redraws() const { return window->RedrawCount(kProgressId); }
    int Height() { return window->ControlClientRect(kProgressId).Height(); }

    ColourWindowSystem ws;
    ui::CDialog host{102, ws};  // the main window's template holds control 1006
    ui::HeadlessWindow* window = nullptr;
    CPercentProgressCtrl ctrl{ws};
};

// ---------------------------------------------------------------------------
// Painting

TEST_F(ProgressTest, HalfOfTwoHundredPixelsSplitsBarTextAndColoursAtPixel100) {
    AttachAt(200);
    ctrl.SetRange(0, 100);
    ctrl.SetPos(50);
    const auto s = Paint();
    const int h = Height();
    ASSERT_GT(h, 0);
    ASSERT_EQ(s.fills.size(), 2u);
    EXPECT_EQ(s.fills[0].r, (Rect{0, 0, 100, h}));
    EXPECT_EQ(s.fills[0].c, kHighlight);
    EXPECT_EQ(s.fills[1].r, (Rect{100, 0, 200, h}));
    EXPECT_EQ(s.fills[1].c, kWindow);
    // The same text centred in the whole control, twice: over the bar in
    // the window colour, over the rest in the highlight colour.
    ASSERT_EQ(s.texts.size(), 2u);
    for (const auto& t : s.texts) {
        EXPECT_EQ(t.text, "50%");
        EXPECT_EQ(t.r, (Rect{0, 0, 200, h}));
    }
    EXPECT_EQ(s.texts[0].clip, (Rect{0, 0, 100, h}));
    EXPECT_EQ(s.texts[0].c, kWindow);
    EXPECT_EQ(s.texts[1].clip, (Rect{100, 0, 200, h}));
    EXPECT_EQ(s.texts[1].c, kHighlight);
    // The clip is given back at the end.
    ASSERT_FALSE(s.clips.empty());
    EXPECT_EQ(s.clips.back(), std::nullopt);
}

TEST_F(ProgressTest, PercentageIsTruncatedNotRounded) {
    AttachAt(200);
    const std::pair<int, const char*> cases[] = {{0, "0%"},   {29, "28%"}, {57, "56%"},
                                                 {58, "57%"}, {99, "99%"}, {100, "100%"}};
    for (const auto& [pos, text] : cases) {
        ctrl.SetPos(pos);
        const auto s = Paint();
        ASSERT_EQ(s.texts.size(), 2u);
        EXPECT_EQ(s.texts[0].text, text) << pos;
        EXPECT_EQ(ctrl.DisplayText(), text) << pos;
    }
    // 100: the bar is the whole control and the rest is empty.
    const auto s = Paint();
    EXPECT_EQ(s.fills[0].r, (Rect{0, 0, 200, Height()}));
    EXPECT_EQ(s.fills[1].r.Width(), 0);
}

TEST_F(ProgressTest, RangeIsTheControlsOwnAndLowerComesFirst) {
    AttachAt(300);
    ctrl.SetRange(100, 200);
    ctrl.SetPos(150);
    auto s = Paint();
    EXPECT_EQ(s.fills[0].r.right, 150);
    EXPECT_EQ(s.texts[0].text, "50%");
    ctrl.SetRange(0, 3);
    ctrl.SetPos(1);
    s = Paint();
    EXPECT_EQ(s.fills[0].r.right, 100);  // 300 / 3
    EXPECT_EQ(s.texts[0].text, "33%");
}

TEST_F(ProgressTest, EmptyRangePaintsNothing) {
    AttachAt(200);
    ctrl.SetRange(5, 5);
    const int before = Redraws();
    EXPECT_EQ(ctrl.SetPos(3), 0);
    EXPECT_EQ(ctrl.Position(), 3);
    EXPECT_EQ(Redraws(), before);
    const auto s = Paint();
    EXPECT_TRUE(s.fills.empty());
    EXPECT_TRUE(s.texts.empty());
}

TEST_F(ProgressTest, PositionOutsideTheRangeKeepsBothAreasInsideTheControl) {
    AttachAt(200);
    const int h = Height();
    ctrl.SetPos(150);
    auto s = Paint();
    EXPECT_EQ(s.fills[0].r, (Rect{0, 0, 200, h}));
    EXPECT_EQ(s.fills[1].r, (Rect{200, 0, 200, h}));
    EXPECT_EQ(s.texts[0].text, "150%");
    ctrl.SetPos(-40);
    s = Paint();
    EXPECT_EQ(s.fills[0].r, (Rect{0, 0, 0, h}));
    EXPECT_EQ(s.fills[1].r, (Rect{0, 0, 200, h}));
    // Values far outside give no overflow (the sanitizer build checks).
    ctrl.SetRange(INT_MIN, INT_MAX);
    ctrl.SetPos(INT_MAX);
    s = Paint();
    EXPECT_EQ(s.fills[0].r.right, 200);
    EXPECT_EQ(s.texts[0].text, "100%");
    ctrl.SetRange(0, 1);
    ctrl.SetPos(INT_MAX);
    s = Paint();
    EXPECT_EQ(s.fills[0].r.right, 200);
    EXPECT_EQ(s.texts[0].text, std::to_string(INT_MAX) + "%");
}

TEST_F(ProgressTest, ColoursAreReadOnceAtConstruction) {
    const int reads = ws.reads;
    EXPECT_GT(reads, 0);
    ws.highlight = 0x112233;
    ws.window = 0x445566;
    AttachAt(200);
    ctrl.SetPos(50);
    const auto s = Paint();
    EXPECT_EQ(s.fills[0].c, kHighlight);
    EXPECT_EQ(s.fills[1].c, kWindow);
    EXPECT_EQ(ws.reads, reads);
    // A control made now takes the new colours.
    CPercentProgressCtrl later(ws);
    later.SetRange(0, 100);
    RecordingSurface s2;
    later.OnPaint(s2, Rect{0, 0, 10, 10});
    EXPECT_EQ(s2.fills[1].c, 0x445566u);
    EXPECT_EQ(s2.texts[1].c, 0x112233u);
}

// ---------------------------------------------------------------------------
// SetPos and the repaint rule

TEST_F(ProgressTest, SetPosBeforeAttachAnswersMinusOneAndStoresNothing) {
    EXPECT_EQ(ctrl.SetPos(40), -1);
    EXPECT_EQ(ctrl.Position(), 0);
    EXPECT_EQ(ctrl.PaintedWidth(), -1);
}

TEST_F(ProgressTest, FreshControlRepaintsForZeroAndReturnsThePreviousPosition) {
    AttachAt(200);
    ctrl.SetRange(0, 100);
    EXPECT_EQ(ctrl.SetPos(0), 0);
    EXPECT_EQ(Redraws(), 1);
    EXPECT_EQ(ctrl.PaintedWidth(), 0);
    EXPECT_EQ(ctrl.SetPos(70), 0);
    EXPECT_EQ(ctrl.SetPos(20), 70);
    EXPECT_EQ(Redraws(), 3);
}

TEST_F(ProgressTest, NoRepaintWhileTheBarKeepsItsPixelWidth) {
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
}

TEST_F(ProgressTest, SizeChangeForgetsThePaintedWidth) {
    AttachAt(200);
    ctrl.SetPos(30);
    const int before = Redraws();
    window->SetClientWidth(kProgressId, 200);  // same width, still a size event
    EXPECT_EQ(ctrl.PaintedWidth(), -1);
    ctrl.SetPos(30);
    EXPECT_EQ(Redraws(), before + 1);
    window->SetClientWidth(kProgressId, 400);
    ctrl.SetPos(30);
    EXPECT_EQ(Redraws(), before + 2);
    EXPECT_EQ(ctrl.PaintedWidth(), 120);
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

// ---------------------------------------------------------------------------
// Custom text

TEST_F(ProgressTest, WindowTextReplacesThePercentageWithTheSameSplit) {
    AttachAt(200);
    ctrl.SetPos(50);
    const int invalidates = window->InvalidateCount(kProgressId);
    window->SetText(kProgressId, "Busy");
    EXPECT_EQ(window->InvalidateCount(kProgressId), invalidates + 1);
    auto s = Paint();
    ASSERT_EQ(s.texts.size(), 2u);
    EXPECT_EQ(s.texts[0].text, "Busy");
    EXPECT_EQ(s.texts[0].c, kWindow);
    EXPECT_EQ(s.texts[0].clip, (Rect{0, 0, 100, Height()}));
    EXPECT_EQ(s.texts[1].text, "Busy");
    EXPECT_EQ(s.texts[1].c, kHighlight);

    window->SetText(kProgressId, "Busy");  // the same: nothing
    EXPECT_EQ(window->InvalidateCount(kProgressId), invalidates + 1);

    window->SetText(kProgressId, "");
    EXPECT_EQ(window->InvalidateCount(kProgressId), invalidates + 2);
    EXPECT_EQ(Paint().texts[0].text, "50%");

    window->SetText(kProgressId, "Busy");
    ctrl.OnSetText(std::nullopt);  // no text at all
    EXPECT_EQ(window->InvalidateCount(kProgressId), invalidates + 4);
    EXPECT_EQ(ctrl.DisplayText(), "50%");
    ctrl.OnSetText(std::nullopt);
    EXPECT_EQ(window->InvalidateCount(kProgressId), invalidates + 4);
}

TEST_F(ProgressTest, GetTextCopiesWholeCharactersAndATerminator) {
    AttachAt(200);
    window->SetText(kProgressId, "Busy");
    char buf[16];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(ctrl.OnGetText(3, buf), 2);
    EXPECT_EQ(std::string(buf, 3), std::string("Bu\0", 3));
    EXPECT_EQ(buf[3], 'x');
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(ctrl.OnGetText(10, buf), 4);
    EXPECT_STREQ(buf, "Busy");
    EXPECT_EQ(buf[5], 'x');
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(ctrl.OnGetText(0, buf), 0);
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(ctrl.OnGetText(1, buf), 0);
    EXPECT_EQ(buf[0], '\0');
}

TEST_F(ProgressTest, GetTextNeverSplitsAGb18030Character) {
    AttachAt(200);
    // U+4E2D U+6587: two bytes each; U+1F600: four bytes.
    window->SetText(kProgressId,
                    "\xE4\xB8\xAD\xE6\x96\x87"
                    "a\xF0\x9F\x98\x80");
    const std::string system = Utf8ToSystem(window->GetText(kProgressId));
    ASSERT_EQ(system.size(), 2u + 2u + 1u + 4u);
    const std::pair<int, int> cases[] = {{2, 0}, {3, 2}, {4, 2},  {5, 4},
                                         {6, 5}, {9, 5}, {10, 9}, {20, 9}};
    for (const auto& [n, copied] : cases) {
        char buf[32];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(ctrl.OnGetText(n, buf), copied) << n;
        EXPECT_EQ(std::string(buf, static_cast<size_t>(copied)), system.substr(0, copied)) << n;
        EXPECT_EQ(buf[copied], '\0') << n;
    }
}

}  // namespace
}  // namespace vorpane
