// The Win32 printer window driven in-process under wine: a virtual printer on
// 127.0.0.1 whose watcher is the window's, receipts sent over loopback, and
// what the roll view paints read back through WM_PRINTCLIENT.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "loopback_printer.h"
#include "platform/socket.h"
#include "platform/windows/wide_text.h"
#include "printer_window/win32/printer_window.h"

namespace vorpane::preview::win32 {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string Lines(int count) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        text += "line " + std::to_string(i) + "\n";
    }
    return text;
}
// GS V 66 0: to the cutter, then a partial cut.
const std::string kCut("\x1dVB\0", 4);

class PrinterWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_printer = StartLoopbackPrinter([this](VirtualPrinterConfig& config) {
            config.paperWatcher = [this](PaperUpdate u) { m_mailbox.Post(std::move(u)); };
        });
        ASSERT_TRUE(m_printer);
        auto created = PrinterWindow::Create(*m_printer, m_mailbox, true);
        ASSERT_TRUE(created.window) << created.error;
        m_window = std::move(created.window);
        SetWindowPos(m_window->Frame(), nullptr, 0, 0, 900, 1000, SWP_NOZORDER);
    }
    void TearDown() override {
        m_window.reset();
        if (m_printer) {
            m_printer->Stop();
        }
    }

    // Pumps the window's messages until `done` or the deadline.
    bool PumpUntil(const std::function<bool()>& done, milliseconds limit = milliseconds(10000)) {
        const auto deadline = Clock::now() + limit;
        while (m_window->Pump()) {
            if (done()) {
                return true;
            }
            const auto left = deadline - Clock::now();
            if (left <= milliseconds(0)) {
                return false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
        }
        return false;
    }

    Socket Send(const std::string& bytes) {
        Socket s = Socket::Open(Socket::Kind::kStream).socket;
        EXPECT_EQ(s.Connect({kLoopbackAddress, m_printer->Port()}), 0);
        const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
        EXPECT_EQ(s.Send({data, bytes.size()}).bytes, static_cast<int64_t>(bytes.size()));
        return s;
    }

    bool AllFinished(size_t count) const {
        const auto& entries = m_window->Roll().Entries();
        return entries.size() == count &&
               std::all_of(entries.begin(), entries.end(), [](auto& e) { return e.finished; });
    }

    // The roll view as it paints, and which of its rows and columns show
    // paper (pure white).
    struct Painted {
        std::vector<bool> rows, columns;
        int Count() const { return static_cast<int>(std::count(rows.begin(), rows.end(), true)); }
        int FirstColumn() const {
            return static_cast<int>(std::find(columns.begin(), columns.end(), true) -
                                    columns.begin());
        }
        int LastColumn() const {
            return static_cast<int>(columns.rend() -
                                    std::find(columns.rbegin(), columns.rend(), true)) -
                   1;
        }
    };
    Painted Paint() const {
        RECT r{};
        GetClientRect(m_window->RollView(), &r);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof info.bmiHeader, r.right, -r.bottom, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        const OwnedMemoryDc dc(CreateCompatibleDC(nullptr));
        const OwnedBitmap bitmap(
            CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        const HGDIOBJ old = SelectObject(dc.get(), bitmap.get());
        SendMessageW(m_window->RollView(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc.get()),
                     PRF_CLIENT);
        GdiFlush();
        SelectObject(dc.get(), old);
        const auto* pixels = static_cast<const uint32_t*>(bits);
        Painted painted{std::vector<bool>(r.bottom), std::vector<bool>(r.right)};
        for (int y = 0; y < r.bottom; ++y) {
            for (int x = 0; x < r.right; ++x) {
                if ((pixels[y * r.right + x] & 0xFFFFFF) == 0xFFFFFF) {
                    painted.rows[y] = painted.columns[x] = true;
                }
            }
        }
        return painted;
    }
    int PaperRows() const { return Paint().Count(); }

    int ContentHeight() const {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_ALL;
        GetScrollInfo(m_window->RollView(), SB_VERT, &info);
        return info.nMax + 1;
    }
    // How far the view can go sideways: 0 without a sideways bar.
    int SidewaysRange() const {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_ALL;
        if (!GetScrollInfo(m_window->RollView(), SB_HORZ, &info)) {
            return -1;
        }
        return std::max(0, info.nMax + 1 - static_cast<int>(info.nPage));
    }
    int ViewWidth() const {
        RECT r{};
        GetClientRect(m_window->RollView(), &r);
        return r.right;
    }
    int ViewHeight() const {
        RECT r{};
        GetClientRect(m_window->RollView(), &r);
        return r.bottom;
    }
    void ChooseZoom(int index) {
        SendMessageW(m_window->ZoomBox(), CB_SETCURSEL, index, 0);
        SendMessageW(m_window->Frame(), WM_COMMAND, MAKEWPARAM(100, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(m_window->ZoomBox()));
    }
    bool Checked(size_t box) const {
        return SendMessageW(m_window->ConditionBox(box), BM_GETCHECK, 0, 0) == BST_CHECKED;
    }

    WindowMailbox m_mailbox;
    std::unique_ptr<VirtualPrinter> m_printer;
    std::unique_ptr<PrinterWindow> m_window;
};

TEST_F(PrinterWindowTest, ReceiptIsPaintedBeforeItsCutAndClearEmptiesTheRoll) {
    Socket open = Send(Lines(3));
    ASSERT_TRUE(PumpUntil([&] { return PaperRows() > 0; }));
    ASSERT_EQ(m_window->Roll().Entries().size(), 1u);
    EXPECT_FALSE(m_window->Roll().Entries()[0].finished);
    const int before = PaperRows();
    open.Send({reinterpret_cast<const uint8_t*>(kCut.data()), kCut.size()});
    ASSERT_TRUE(PumpUntil([&] { return AllFinished(1); }));
    EXPECT_TRUE(PumpUntil([&] { return PaperRows() > before; }));  // the feed to the cut

    SendMessageW(m_window->ClearButton(), BM_CLICK, 0, 0);
    EXPECT_TRUE(m_window->Roll().Entries().empty());
    EXPECT_EQ(PaperRows(), 0);
    wchar_t status[256] = {};
    GetWindowTextW(m_window->StatusLine(), status, 256);
    EXPECT_NE(std::wstring(status).find(L" 0 receipts"), std::wstring::npos);
}

TEST_F(PrinterWindowTest, ViewFollowsTheEndUntilTheUserScrollsAway) {
    for (int i = 1; i <= 4; ++i) {
        Send(Lines(40) + kCut);
        ASSERT_TRUE(PumpUntil([&] { return AllFinished(static_cast<size_t>(i)); }));
    }
    ASSERT_GT(ContentHeight(), ViewHeight());
    EXPECT_EQ(m_window->ScrollTop(), ContentHeight() - ViewHeight());

    SendMessageW(m_window->RollView(), WM_VSCROLL, SB_TOP, 0);
    Send(Lines(40) + kCut);
    ASSERT_TRUE(PumpUntil([&] { return AllFinished(5); }));
    EXPECT_EQ(m_window->ScrollTop(), 0);
    SendMessageW(m_window->RollView(), WM_VSCROLL, SB_BOTTOM, 0);
    Send(Lines(40) + kCut);
    ASSERT_TRUE(PumpUntil([&] { return AllFinished(6); }));
    EXPECT_EQ(m_window->ScrollTop(), ContentHeight() - ViewHeight());
}

TEST_F(PrinterWindowTest, ZoomTwoDoublesThePaperAndScrollsSidewaysAndFitFollowsTheWidth) {
    Send(Lines(4) + kCut);
    ASSERT_TRUE(PumpUntil([&] { return AllFinished(1); }));
    const int one = PaperRows();
    ASSERT_GT(one, 20);
    EXPECT_EQ(SidewaysRange(), 0);
    ChooseZoom(1);
    EXPECT_NEAR(PaperRows(), 2 * one, 2);

    // Twice the paper's dots and a margin each side, in a narrower view.
    const int paper = 2 * m_window->Roll().Entries()[0].picture.width;
    ASSERT_GT(paper, ViewWidth());
    EXPECT_EQ(SidewaysRange(), paper + 2 * PaperRoll::kMargin - ViewWidth());
    EXPECT_EQ(Paint().FirstColumn(), PaperRoll::kMargin);
    SendMessageW(m_window->RollView(), WM_HSCROLL, SB_RIGHT, 0);
    // The paper's right edge, its grey margin beside it, then the roll's.
    EXPECT_EQ(Paint().LastColumn(),
              ViewWidth() - 1 - PaperRoll::kMargin - 2 * receipt::kMarginDots);
    const int right = m_window->ScrollLeft();
    SendMessageW(m_window->RollView(), WM_MOUSEWHEEL, MAKEWPARAM(MK_SHIFT, WHEEL_DELTA), 0);
    EXPECT_LT(m_window->ScrollLeft(), right);
    SendMessageW(m_window->RollView(), WM_MOUSEHWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0);
    EXPECT_EQ(m_window->ScrollLeft(), right);

    // Fit: the paper within the view again, from its left margin.
    ChooseZoom(2);
    EXPECT_EQ(SidewaysRange(), 0);
    EXPECT_EQ(Paint().FirstColumn(), PaperRoll::kMargin);
    const int wide = PaperRows();
    SetWindowPos(m_window->Frame(), nullptr, 0, 0, 600, 1000, SWP_NOZORDER | SWP_NOMOVE);
    const int narrow = PaperRows();
    EXPECT_LT(narrow, wide * 3 / 4) << "fit at " << wide << " rows, narrower at " << narrow;
}

TEST_F(PrinterWindowTest, ConditionBoxesAndTheStatusRepliesAgree) {
    const auto online = m_printer->CurrentStatusReplies();
    for (size_t i = 0; i < ConditionBoxes().size(); ++i) {
        const Condition condition = ConditionBoxes()[i].condition;
        SCOPED_TRACE(ConditionBoxes()[i].caption);
        SendMessageW(m_window->ConditionBox(i), BM_CLICK, 0, 0);
        EXPECT_EQ(m_printer->Conditions().bits, static_cast<uint32_t>(condition));
        EXPECT_NE(m_printer->CurrentStatusReplies(), online);
        SendMessageW(m_window->ConditionBox(i), BM_CLICK, 0, 0);
        EXPECT_EQ(m_printer->CurrentStatusReplies(), online);

        // Changed elsewhere (a control line), the box follows.
        ConditionSet set;
        set.Add(condition);
        m_printer->SetConditions(set);
        EXPECT_TRUE(PumpUntil([&] { return Checked(i); }, milliseconds(2000)));
        m_printer->SetConditions({});
        EXPECT_TRUE(PumpUntil([&] { return !Checked(i); }, milliseconds(2000)));
    }
}

TEST_F(PrinterWindowTest, SaveWritesTheRollAsPng) {
    wchar_t folder[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, folder);
    // A name outside the ANSI code pages: the path goes as UTF-8 throughout.
    const std::string path = windows::WideToUtf8(folder) + "roll-\xE2\x82\xAC-\xE6\x94\xB6.png";
    EXPECT_FALSE(m_window->SaveTo(path).ok);  // nothing on the roll yet
    Send(Lines(2) + kCut);
    Send(Lines(5) + kCut);
    ASSERT_TRUE(PumpUntil([&] { return AllFinished(2); }));
    const PaperRoll::Saved saved = m_window->SaveTo(path);
    ASSERT_TRUE(saved.ok) << saved.error;
    FILE* f = _wfopen(windows::Utf8ToWide(path).c_str(), L"rb");
    ASSERT_NE(f, nullptr);
    unsigned char head[24] = {};
    EXPECT_EQ(std::fread(head, 1, sizeof head, f), sizeof head);
    std::fclose(f);
    _wremove(windows::Utf8ToWide(path).c_str());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(head + 1), 3), "PNG");
    const auto& e = m_window->Roll().Entries();
    const uint32_t height = head[20] << 24 | head[21] << 16 | head[22] << 8 | head[23];
    EXPECT_EQ(height,
              static_cast<uint32_t>(e[0].picture.height + e[1].picture.height + PaperRoll::kGap));
}

TEST_F(PrinterWindowTest, FloodOfTwentyReceiptsASecondIsAllShown) {
    constexpr int kReceipts = 60;
    const auto start = Clock::now();
    for (int i = 0; i < kReceipts; ++i) {
        // Paced at 20 a second while the window keeps pumping.
        PumpUntil([&] { return Clock::now() >= start + milliseconds(50 * i); });
        Send("receipt " + std::to_string(i) + "\n" + Lines(6) + kCut);
    }
    EXPECT_TRUE(PumpUntil([&] { return AllFinished(kReceipts); }, milliseconds(3000)))
        << m_window->Roll().Entries().size() << " receipts shown";
    EXPECT_EQ(m_window->ScrollTop(), ContentHeight() - ViewHeight());
}

}  // namespace
}  // namespace vorpane::preview::win32
