// The printer window's contract, run against the Qt and the Win32 window
// through their drivers: receipts sent over loopback to the printer behind
// the window, and what the window then shows and does.

#include "printer_window_contract.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "platform/socket.h"
#include "platform/whole_file.h"

namespace vorpane::printer_window::contract {
namespace {

using namespace std::chrono_literals;

std::string Lines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "line " + std::to_string(i) + "\n";
    }
    return text + "\x1dVB" + '\0';  // GS V 66 0: to the cutter, then a partial cut
}

// Which rows and columns of a shot show paper (pure white), and whether any
// ink (near black) shows.
struct Painted {
    std::vector<bool> rows, columns;
    bool ink = false;
    explicit Painted(const Shot& shot) : rows(shot.height), columns(shot.width) {
        for (size_t i = 0; i < shot.pixels.size(); ++i) {
            const uint32_t p = shot.pixels[i] & 0xFFFFFF;
            if (p == 0xFFFFFF) {
                rows[i / shot.width] = columns[i % shot.width] = true;
            }
            ink = ink || (p >> 16) + (p >> 8 & 0xFF) + (p & 0xFF) < 3 * 40;
        }
    }
    int Rows() const { return static_cast<int>(std::count(rows.begin(), rows.end(), true)); }
    int First() const {
        return static_cast<int>(std::ranges::find(columns, true) - columns.begin());
    }
    int Last() const {
        return static_cast<int>(columns.rend() -
                                std::find(columns.rbegin(), columns.rend(), true)) -
               1;
    }
};

class PrinterWindowContract : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(w);
        w->Resize(900, 800);
    }
    // "127.0.0.1:9100", as the printer listens.
    std::string At() { return "127.0.0.1:" + std::to_string(w->Printer().Port()); }
    // A connection that has sent `bytes` and stays open while it lives.
    Socket Send(const std::string& bytes) {
        Socket s = Socket::Open(Socket::Kind::kStream).socket;
        EXPECT_EQ(s.Connect({kLoopbackAddress, w->Printer().Port()}), 0);
        EXPECT_EQ(s.Send({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()}).bytes,
                  static_cast<int64_t>(bytes.size()));
        return s;
    }
    size_t Finished() {
        return std::ranges::count_if(w->Roll().Entries(), [](auto& e) { return e.finished; });
    }
    bool Print(const std::string& bytes, size_t finished) {
        Send(bytes);
        return w->Until([&] { return Finished() == finished; }, 10s);
    }
    Painted Look() { return Painted(w->Paint()); }
    // The scroll range is the content's, whatever the zoom and size.
    bool RangeFits() {
        const Shown s = w->Show();
        return s.topMax == std::max(0, w->Roll().ContentHeight(s.viewWidth) - s.viewHeight);
    }
    bool AtEnd() { return w->Show().top == w->Show().topMax; }
    bool Checked(size_t box) { return w->Show().checked.at(box); }

    std::unique_ptr<Driver> w = MakeDriver();
};

TEST_F(PrinterWindowContract, AReceiptShowsWhileItPrintsUnderItsLabel) {
    EXPECT_EQ(w->Show().title, "vorpane-printer \u2014 " + At());
    EXPECT_FALSE(Look().ink);
    w->Settle();
    const int paints = w->Repaints();
    Socket open = Send("first line\n");
    const auto& entries = w->Roll().Entries();
    ASSERT_TRUE(w->Until([&] { return !entries.empty() && w->Repaints() > paints; }, 10s))
        << "the view was not painted again when paper came";
    ASSERT_TRUE(w->Until([&] { return Look().ink; }, 10s)) << "nothing drawn before the cut";
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(entries[0].finished);
    EXPECT_TRUE(entries[0].label.starts_with("session 1 \u00B7 127.0.0.1:")) << entries[0].label;
    EXPECT_EQ(w->Show().status, "Listening on " + At() + " \u00B7 1 receipt");
    const int before = Look().Rows();
    const std::string more = Lines(3);
    open.Send({reinterpret_cast<const uint8_t*>(more.data()), more.size()});
    ASSERT_TRUE(w->Until([&] { return Finished() == 1; }, 10s));
    EXPECT_TRUE(w->Until([&] { return Look().Rows() > before; }, 10s));
}

TEST_F(PrinterWindowContract, FollowsTheEndUntilScrolledAwayAndClearEmpties) {
    ASSERT_TRUE(Print(Lines(60), 1));
    ASSERT_GT(w->Show().topMax, 0) << "the receipt should not fit the view";
    EXPECT_TRUE(AtEnd());
    ASSERT_TRUE(Print(Lines(60), 2));
    EXPECT_TRUE(AtEnd()) << "following lost after a receipt";
    w->Do(Act::kPageUp);
    const Shown scrolled = w->Show();
    EXPECT_LT(scrolled.top, scrolled.topMax);
    ASSERT_TRUE(Print(Lines(60), 3));
    EXPECT_GT(w->Show().topMax, scrolled.topMax);
    EXPECT_EQ(w->Show().top, scrolled.top) << "a scrolled view moved";
    w->Do(Act::kTop);
    ASSERT_TRUE(Print(Lines(60), 4));
    EXPECT_EQ(w->Show().top, 0);
    w->Do(Act::kEnd);
    ASSERT_TRUE(Print(Lines(60), 5));
    EXPECT_TRUE(AtEnd()) << "back at the end, it follows again";
    EXPECT_TRUE(RangeFits());

    w->Do(Act::kClear);
    EXPECT_TRUE(w->Roll().Entries().empty());
    EXPECT_EQ(w->Show().topMax, 0);
    EXPECT_EQ(Look().Rows(), 0);
    EXPECT_FALSE(Look().ink);
    EXPECT_EQ(w->Show().status, "Listening on " + At() + " \u00B7 0 receipts");
}

TEST_F(PrinterWindowContract, ZoomDoublesScrollsSidewaysAndFitFollowsTheWidth) {
    ASSERT_TRUE(Print(Lines(4), 1));
    const auto paper = [&] { return w->Roll().Layout(w->Show().viewWidth).at(0); };
    const Placement one = paper();
    const int oneRows = Look().Rows();
    ASSERT_GT(oneRows, 20);
    EXPECT_EQ(w->Show().leftMax, 0);

    w->Do(Act::kZoom, 1);
    EXPECT_EQ(paper().height, 2 * one.height);
    EXPECT_EQ(paper().width, 2 * one.width);
    EXPECT_NEAR(Look().Rows(), 2 * oneRows, 2);
    EXPECT_TRUE(RangeFits());
    // Twice the paper's dots and a margin each side, in a narrower view.
    const int wide = 2 * w->Roll().Entries()[0].picture.width;
    const int view = w->Show().viewWidth;
    ASSERT_GT(wide, view);
    EXPECT_EQ(w->Show().leftMax, wide + 2 * PaperRoll::kMargin - view);
    EXPECT_EQ(Look().First(), PaperRoll::kMargin);
    w->Do(Act::kRightEnd);
    // The paper's right edge, its grey margin beside it, then the roll's.
    EXPECT_EQ(Look().Last(), view - 1 - PaperRoll::kMargin - 2 * receipt::kMarginDots);
    const int right = w->Show().left;
    EXPECT_EQ(right, w->Show().leftMax);
    w->Do(Act::kWheelLeft);
    EXPECT_LT(w->Show().left, right);
    w->Do(Act::kWheelRight);
    EXPECT_EQ(w->Show().left, right);

    w->Do(Act::kZoom, 2);
    int wideRows = 0;
    for (const int width : {500, 1100, 700}) {
        SCOPED_TRACE(width);
        w->Resize(width, 600);
        EXPECT_EQ(paper().width, w->Show().viewWidth - 2 * PaperRoll::kMargin);
        EXPECT_EQ(paper().paperLeft, PaperRoll::kMargin);
        EXPECT_TRUE(RangeFits());
        EXPECT_EQ(w->Show().leftMax, 0);
        const int rows = Look().Rows();
        wideRows = width == 1100 ? rows : wideRows;
        EXPECT_TRUE(width != 700 || rows < wideRows * 3 / 4) << rows << " of " << wideRows;
    }
}

TEST_F(PrinterWindowContract, ConditionBoxesChangeTheRepliesAndFollowThePrinter) {
    VirtualPrinter& printer = w->Printer();
    const auto online = printer.CurrentStatusReplies();
    Socket asker = Send("");
    ASSERT_EQ(asker.SetReceiveTimeout(5000), 0);
    for (size_t i = 0; i < ConditionBoxes().size(); ++i) {
        SCOPED_TRACE(ConditionBoxes()[i].caption);
        ConditionSet set;
        set.Add(ConditionBoxes()[i].condition);
        w->Do(Act::kBox, i);
        EXPECT_EQ(printer.Conditions(), set);
        EXPECT_EQ(printer.CurrentStatusReplies(), StatusReplies(set));
        const uint8_t ask[] = {0x10, 0x04, 4};  // DLE EOT 4
        uint8_t reply = 0;
        EXPECT_EQ(asker.Send(ask).bytes, 3);
        EXPECT_EQ(asker.Receive({&reply, 1}).bytes, 1);
        EXPECT_EQ(reply, StatusReplies(set)[3]);
        w->Do(Act::kBox, i);
        EXPECT_EQ(printer.CurrentStatusReplies(), online);
        // A change made elsewhere (a control line) shows in the box.
        printer.SetConditions(set);
        EXPECT_TRUE(w->Until([&] { return Checked(i); }, 2s));
        printer.SetConditions({});
        EXPECT_TRUE(w->Until([&] { return !Checked(i); }, 2s));
    }
}

TEST_F(PrinterWindowContract, SavesTheRollAsAPng) {
    // A name outside the ANSI code pages: the path goes as UTF-8 throughout.
    const std::string path =
        ::testing::TempDir() + "roll-\xE2\x82\xAC-\xE6\x94\xB6-" + At().substr(10) + ".png";
    EXPECT_NE(w->SaveTo(path), "") << "an empty roll was saved";
    ASSERT_TRUE(Print(Lines(3), 1));
    ASSERT_TRUE(Print(Lines(7), 2));
    ASSERT_EQ(w->SaveTo(path), "");
    const WholeFile file = ReadWholeFile(path);
    RemoveFile(path);
    ASSERT_EQ(file.status, WholeFile::Status::kRead);
    ASSERT_GE(file.got, 24u);
    const uint8_t* head = file.buffer->Data();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(head + 1), 3), "PNG");
    const auto word = [&](int at) {
        return uint32_t{head[at]} << 24 | head[at + 1] << 16 | head[at + 2] << 8 | head[at + 3];
    };
    const auto& e = w->Roll().Entries();
    EXPECT_EQ(word(16), static_cast<uint32_t>(e[0].picture.width));
    EXPECT_EQ(word(20),
              static_cast<uint32_t>(e[0].picture.height + PaperRoll::kGap + e[1].picture.height));
}

TEST_F(PrinterWindowContract, KeepsUpWithTwentyReceiptsASecond) {
    constexpr size_t kReceipts = 60;
    std::thread sender([this] {
        auto next = std::chrono::steady_clock::now();
        for (size_t i = 0; i < kReceipts; ++i) {
            Send("flood " + std::to_string(i) + "\n" + Lines(4));
            std::this_thread::sleep_until(next += 50ms);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const bool shown = w->Until([&] { return Finished() == kReceipts; }, 5s);
    const auto took = std::chrono::steady_clock::now() - start;
    sender.join();
    ASSERT_TRUE(shown) << Finished() << " of " << kReceipts << " shown";
    EXPECT_LT(took, 4s);
    EXPECT_EQ(w->Roll().Entries().size(), kReceipts);
    EXPECT_TRUE(AtEnd());
}

// Both windows name the printer by the address it listens on, which a
// restart that takes a new identity does not change, and use the same words.
TEST_F(PrinterWindowContract, ShowsTheListenAddressAfterARestartAndTheSameWords) {
    Send(std::string("\x1d\x44\x0a\x00\x00\x07\x11", 7));  // GS D 10.0.0.7, checksum
    ASSERT_TRUE(w->Until([&] { return w->Printer().PendingAddress().has_value(); }, 10s));
    w->Printer().Restart();
    ASSERT_EQ(w->Printer().Address(), "10.0.0.7");
    ASSERT_TRUE(Print(Lines(2), 1));
    Shown shown = w->Show();
    EXPECT_EQ(shown.status, "Listening on " + At() + " \u00B7 1 receipt");
    EXPECT_EQ(shown.title, "vorpane-printer \u2014 " + At());
    EXPECT_EQ(shown.zooms, (std::vector<std::string>{"1\u00D7", "2\u00D7", "Fit"}));
    std::vector<std::string> captions = {"Zoom", "Save PNG...", "Clear", "Conditions"};
    for (const ConditionBox& box : ConditionBoxes()) {
        captions.push_back(box.caption);
    }
    std::ranges::sort(captions);
    std::ranges::sort(shown.captions);
    EXPECT_EQ(shown.captions, captions);
}

}  // namespace
}  // namespace vorpane::printer_window::contract
