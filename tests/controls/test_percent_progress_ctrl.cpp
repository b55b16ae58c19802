// The percentage progress bar without a screen: SetPos and its repaint rule,
// the custom text and GetText. What it paints is checked pixel by pixel in
// the offscreen test; SetPos from the scan's workers with the scan.

#include <gtest/gtest.h>

#include <cstring>

#include "app/main_dialog_template.h"
#include "controls/percent_progress_ctrl.h"
#include "ui/dialog.h"
#include "ui/headless/headless_window_system.h"

namespace vorpane {
namespace {

class ProgressTest : public ::testing::Test {
protected:
    void AttachAt(int width) {
        ctrl.Attach(window, IDC_PROGRESS);
        window->SetClientWidth(IDC_PROGRESS, width);
    }
    int Redraws() const { return window->RedrawCount(IDC_PROGRESS); }

    ui::HeadlessWindowSystem ws;
    ui::CDialog host{MainDialogTemplate(), ws};
    ui::HeadlessWindow* window =
        static_cast<ui::HeadlessWindow*>(host.Create() ? host.GetWindow() : nullptr);
    CPercentProgressCtrl ctrl{ws};
};

// SetPos answers the previous position (-1 without a window) and repaints
// only when the bar's pixel width changes, or after a size change.
TEST_F(ProgressTest, RepaintsOnlyWhenThePixelWidthChanges) {
    EXPECT_EQ(ctrl.SetPos(40), -1);
    AttachAt(50);  // narrower than the range has steps
    const std::tuple<int, int, int> steps[] = {
        // position, previous, repaints so far
        {0, 0, 1},                 // a fresh control repaints even for 0
        {10, 0, 2},  {11, 10, 2},  // 5.5 pixels: still 5
        {12, 11, 3}, {12, 12, 3},
    };
    for (const auto& [position, previous, redraws] : steps) {
        EXPECT_EQ(ctrl.SetPos(position), previous);
        EXPECT_EQ(Redraws(), redraws) << position;
    }
    window->SetClientWidth(IDC_PROGRESS, 50);  // same width, still a size event
    ctrl.SetPos(12);
    EXPECT_EQ(Redraws(), 4);
    // An empty range has no bar: no repaint and no text.
    ctrl.SetRange(5, 5);
    EXPECT_EQ(ctrl.SetPos(3), 12);
    EXPECT_EQ(Redraws(), 4);
    EXPECT_EQ(ctrl.DisplayText(), "");
}

TEST_F(ProgressTest, WindowTextReplacesThePercentageUntilCleared) {
    AttachAt(200);
    ctrl.SetPos(50);
    const int before = window->InvalidateCount(IDC_PROGRESS);
    // A text that changes nothing (the same again, or none twice) repaints
    // nothing.
    const std::tuple<std::optional<std::string>, int, const char*> steps[] = {
        {"Busy", 1, "Busy"}, {"Busy", 1, "Busy"},      {"", 2, "50%"},
        {"Busy", 3, "Busy"}, {std::nullopt, 4, "50%"}, {std::nullopt, 4, "50%"}};
    for (const auto& [text, invalidates, shown] : steps) {
        text ? window->SetText(IDC_PROGRESS, *text) : ctrl.OnSetText(std::nullopt);
        EXPECT_EQ(window->InvalidateCount(IDC_PROGRESS) - before, invalidates);
        EXPECT_EQ(ctrl.DisplayText(), shown);
    }
}

TEST_F(ProgressTest, GetTextCopiesWholeGb18030CharactersAndATerminator) {
    AttachAt(200);
    // U+4E2D U+6587: two bytes each in GB18030; U+1F600: four bytes.
    const std::string cjk =
        "\xE4\xB8\xAD\xE6\x96\x87"
        "a\xF0\x9F\x98\x80";
    const std::string gb =
        "\xD6\xD0\xCE\xC4"
        "a\x94\x39\xFC\x36";
    const std::tuple<std::string, int32_t, std::string> cases[] = {{"Busy", 0, ""},
                                                                   {"Busy", 1, ""},
                                                                   {"Busy", 3, "Bu"},
                                                                   {"Busy", 10, "Busy"},
                                                                   {cjk, 2, ""},
                                                                   {cjk, 3, gb.substr(0, 2)},
                                                                   {cjk, 6, gb.substr(0, 5)},
                                                                   {cjk, 9, gb.substr(0, 5)},
                                                                   {cjk, 10, gb}};
    for (const auto& [utf8, n, copied] : cases) {
        window->SetText(IDC_PROGRESS, utf8);
        char buf[32];
        std::memset(buf, 'x', sizeof buf);
        EXPECT_EQ(ctrl.OnGetText(n, buf), static_cast<int32_t>(copied.size())) << n;
        // The bytes, the terminator and nothing beyond; no room, nothing written.
        const std::string expected = n > 0 ? copied + '\0' + 'x' : "x";
        EXPECT_EQ(std::string(buf, expected.size()), expected) << n;
    }
}

}  // namespace
}  // namespace vorpane
