// The live window's paper roll, without a window: what comes in from the
// printer, where each receipt goes at each zoom, following the end, the
// saved picture.

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "printer_test_util.h"

#include "printer_window/paper_roll.h"

namespace vorpane::printer_window {
namespace {

constexpr int kLabel = 20;

// A receipt `rows` dots long with ink on its first row.
PaperUpdate Update(uint64_t session, uint64_t receipt, int rows, bool finished = false) {
    auto paper =
        std::make_shared<receipt::Receipt>(receipt::kPaper80Dots, receipt::kMaxReceiptDots);
    paper->paper.Reserve(rows);
    paper->paper.Fill(0, 0, 8, 1);
    PaperUpdate u;
    u.session = session;
    u.receipt = receipt;
    u.client = "127.0.0.1:40312";
    u.paper = std::move(paper);
    u.finished = finished;
    return u;
}

std::vector<PaperUpdate> Updates(std::initializer_list<PaperUpdate> list) {
    return std::vector<PaperUpdate>(list);
}

TEST(PaperInbox, MergesUpdatesOfAReceiptInArrivalOrderAndAsksForOneWakeUp) {
    PaperInbox inbox;
    EXPECT_TRUE(inbox.Post(Update(1, 1, 10)));
    EXPECT_FALSE(inbox.Post(Update(2, 1, 10)));
    EXPECT_FALSE(inbox.Post(Update(1, 1, 30, true)));
    const auto taken = inbox.Take();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].session, 1u);
    EXPECT_EQ(taken[0].paper->paper.Height(), 30);
    EXPECT_TRUE(taken[0].finished);
    EXPECT_EQ(taken[1].session, 2u);
    EXPECT_TRUE(inbox.Take().empty());
    EXPECT_TRUE(inbox.Post(Update(1, 2, 10)));
}

TEST(PaperRoll, ReceiptsGrowInPlaceOneUnderTheOtherUnderTheirLabels) {
    PaperRoll roll(kLabel);
    EXPECT_TRUE(roll.Apply(Updates({Update(3, 1, 100), Update(3, 2, 50)})));
    EXPECT_TRUE(roll.Apply(Updates({Update(3, 1, 300, true)})));
    EXPECT_FALSE(roll.Apply({}));
    ASSERT_EQ(roll.Entries().size(), 2u);
    EXPECT_EQ(roll.Entries()[0].picture.height, 300);
    EXPECT_TRUE(roll.Entries()[0].finished);
    EXPECT_EQ(roll.Entries()[0].picture.width, receipt::kPaper80Dots + receipt::kMarginDots);
    EXPECT_TRUE(
        roll.Entries()[0].label.starts_with("session 3 \xC2\xB7 127.0.0.1:40312 \xC2\xB7 "));
    EXPECT_EQ(roll.Entries()[0].label.find("receipt"), std::string::npos);
    EXPECT_TRUE(roll.Entries()[1].label.ends_with(" \xC2\xB7 receipt 2"));

    const int view = 1000;
    const auto at = roll.Layout(view);
    ASSERT_EQ(at.size(), 2u);
    EXPECT_EQ(at[0].labelTop, PaperRoll::kMargin);
    EXPECT_EQ(at[0].paperTop, at[0].labelTop + kLabel);
    EXPECT_EQ(at[1].labelTop, at[0].paperTop + 300 + PaperRoll::kGap);
    EXPECT_EQ(at[1].height, 50);
    EXPECT_EQ(at[0].paperLeft, (view - at[0].width) / 2);
    EXPECT_EQ(roll.ContentHeight(view), at[1].paperTop + 50 + PaperRoll::kMargin);
    // Rows of the second receipt's label only, then of neither.
    const auto shown = roll.Visible(view, at[1].labelTop, 1);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].entry, 1u);
    EXPECT_TRUE(roll.Visible(view, roll.ContentHeight(view), 100).empty());
    // The gap between two receipts shows neither.
    EXPECT_TRUE(
        roll.Visible(view, at[1].labelTop - PaperRoll::kGap + 2, PaperRoll::kGap - 2).empty());

    roll.Clear();
    EXPECT_TRUE(roll.Entries().empty());
    EXPECT_EQ(roll.ContentHeight(view), 0);
}

TEST(PaperRoll, ZoomDoublesOrFitsTheWidthAsTheViewChanges) {
    PaperRoll roll(kLabel);
    roll.Apply(Updates({Update(1, 1, 400)}));
    const int width = receipt::kPaper80Dots + receipt::kMarginDots;
    roll.SetZoom(Zoom::kTwo);
    EXPECT_EQ(roll.Layout(300)[0].height, 800);
    EXPECT_EQ(roll.Layout(300)[0].width, 2 * width);
    // Wider than the view: from the margin, and the roll is as wide as it.
    EXPECT_EQ(roll.Layout(300)[0].paperLeft, PaperRoll::kMargin);
    EXPECT_EQ(roll.ContentWidth(300), 2 * width + 2 * PaperRoll::kMargin);
    roll.SetZoom(Zoom::kFit);
    for (const int view :
         {width / 2 + 2 * PaperRoll::kMargin, 2 * width + 2 * PaperRoll::kMargin}) {
        const Placement at = roll.Layout(view)[0];
        EXPECT_EQ(at.width, view - 2 * PaperRoll::kMargin);
        EXPECT_NEAR(at.height, 400.0 * at.width / width, 1.0);
    }
    EXPECT_GE(roll.Layout(1)[0].width, PaperRoll::kMinFitWidth);
}

TEST(PaperRoll, FollowsTheEndUntilScrolledAwayAndAgainOnceBack) {
    PaperRoll roll(kLabel);
    EXPECT_TRUE(roll.Following());
    EXPECT_EQ(roll.TopAfterChange(0, 500, 2000), 1500);
    EXPECT_EQ(roll.TopAfterChange(0, 500, 300), 0);
    roll.UserScrolled(700, 500, 2000);
    EXPECT_FALSE(roll.Following());
    EXPECT_EQ(roll.TopAfterChange(700, 500, 2600), 700);
    EXPECT_EQ(roll.TopAfterChange(700, 500, 900), 400);  // the roll got shorter
    roll.UserScrolled(2096, 500, 2600);                  // within the slack of the end
    EXPECT_TRUE(roll.Following());
    roll.UserScrolled(0, 500, 2000);
    roll.Clear();
    EXPECT_TRUE(roll.Following());
}

TEST(PaperRoll, KeepsToItsBoundsDroppingTheOldestButNeverTheNewest) {
    PaperRoll roll(kLabel);
    for (uint64_t i = 1; i <= PaperRoll::kMaxEntries + 3; ++i) {
        roll.Apply(Updates({Update(i, 1, 8)}));
    }
    ASSERT_EQ(roll.Entries().size(), PaperRoll::kMaxEntries);
    EXPECT_EQ(roll.Entries().front().session, 4u);
    // Two of the longest receipts pass the bound; one alone does not.
    roll.Apply(Updates({Update(9000, 1, receipt::kMaxReceiptDots)}));
    ASSERT_EQ(roll.Entries().size(), PaperRoll::kMaxEntries);
    roll.Apply(Updates({Update(9001, 1, receipt::kMaxReceiptDots)}));
    ASSERT_EQ(roll.Entries().size(), 1u);
    EXPECT_EQ(roll.Entries().front().session, 9001u);
}

TEST(PaperRoll, SavesTheRollAsOnePictureOrSaysWhyNot) {
    const auto dir = std::filesystem::temp_directory_path() / "vorpane-paper-roll-test";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    PaperRoll roll(kLabel);
    EXPECT_EQ(roll.SavePng((dir / "empty.png").string()).error, "the roll is empty");
    roll.Apply(Updates({Update(1, 1, 100), Update(1, 2, 40)}));
    const std::string path = (dir / "roll.png").string();
    ASSERT_TRUE(roll.SavePng(path).ok);
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> png{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(Be32(&png[16]), uint32_t(receipt::kPaper80Dots + receipt::kMarginDots));
    EXPECT_EQ(Be32(&png[20]), uint32_t(100 + PaperRoll::kGap + 40));
    EXPECT_FALSE(roll.SavePng((dir / "missing" / "roll.png").string()).ok);
    std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vorpane::printer_window
