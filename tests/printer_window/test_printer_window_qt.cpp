// The Qt window of vorpane-printer, offscreen, fed by a real printer on
// loopback: what it shows while receipts print, and what its controls do.

#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QtTest/QTest>
#include <cstdio>
#include <thread>

#include "loopback_printer.h"
#include "printer_client.h"

#include "printer_window/qt/printer_window.h"

namespace vorpane {
namespace {

using preview::PrinterWindow;

Bytes Receipt(const std::string& name, int lines) {
    Bytes bytes;
    for (int i = 0; i < lines; ++i) {
        bytes = bytes + Text(name + " line " + std::to_string(i) + "\n");
    }
    return bytes + B("\x1dVA\x00");
}

// Counts the paint events a widget gets.
struct PaintCounter : QObject {
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

struct PrinterWindowTest : ::testing::Test {
    PrinterWindowTest() {
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    // Runs the window's events until `done`, at most `deadline`.
    static bool Until(const std::function<bool()>& done,
                      std::chrono::milliseconds deadline = kWait) {
        return QTest::qWaitFor(done, static_cast<int>(deadline.count()));
    }
    size_t Finished() {
        size_t n = 0;
        for (const auto& e : window.View().Roll().Entries()) {
            n += e.finished;
        }
        return n;
    }
    // Printed dots in the view as it is drawn now.
    bool InkInSight() {
        const QImage shot = window.View().viewport()->grab().toImage();
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                if (qGray(shot.pixel(x, y)) < 40) {
                    return true;
                }
            }
        }
        return false;
    }
    QScrollBar& Bar() { return *window.View().verticalScrollBar(); }

    preview::PaperFeed feed;
    std::unique_ptr<VirtualPrinter> printer = StartLoopbackPrinter([this](VirtualPrinterConfig& c) {
        c.paperWatcher = [this](PaperUpdate u) { feed.Post(std::move(u)); };
    });
    PrinterWindow window{*printer, feed, "127.0.0.1"};
};

TEST_F(PrinterWindowTest, AReceiptShowsWhileItPrintsUnderItsLabel) {
    EXPECT_EQ(window.windowTitle().toStdString(),
              "vorpane-printer \u2014 127.0.0.1:" + std::to_string(printer->Port()));
    EXPECT_FALSE(InkInSight());
    PaintCounter counter;
    window.View().viewport()->installEventFilter(&counter);
    QCoreApplication::processEvents();
    counter.paints = 0;
    Client client(printer->Port());
    client.Send(Text("first line\n"));
    const auto& entries = window.View().Roll().Entries();
    ASSERT_TRUE(Until([&] { return !entries.empty() && counter.paints > 0; }))
        << "the view was not painted again when paper came";
    ASSERT_TRUE(InkInSight()) << "nothing drawn before the cut";
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_FALSE(entries[0].finished);
    EXPECT_TRUE(entries[0].label.starts_with("session 1 \u00B7 127.0.0.1:")) << entries[0].label;
    EXPECT_TRUE(window.StatusLine().text().endsWith(QString::fromUtf8("\u00B7 1 receipt")));
    client.Send(Receipt("more", 3));
    EXPECT_TRUE(Until([&] { return Finished() == 1; }));
}

TEST_F(PrinterWindowTest, FollowsTheEndUntilScrolledUpAndClearEmpties) {
    const auto print = [&](size_t count) {
        Client(printer->Port()).Send(Receipt("r" + std::to_string(count), 60));
        return Until([&] { return Finished() == count; });
    };
    ASSERT_TRUE(print(1));
    ASSERT_GT(Bar().maximum(), 0) << "the receipt should not fit the view";
    EXPECT_EQ(Bar().value(), Bar().maximum());
    ASSERT_TRUE(print(2));
    EXPECT_EQ(Bar().value(), Bar().maximum()) << "following lost after a receipt";
    Bar().triggerAction(QAbstractSlider::SliderPageStepSub);
    const int scrolled = Bar().value();
    const int end = Bar().maximum();
    ASSERT_TRUE(print(3));
    EXPECT_GT(Bar().maximum(), end);
    EXPECT_EQ(Bar().value(), scrolled) << "a scrolled view moved";
    Bar().triggerAction(QAbstractSlider::SliderToMaximum);
    ASSERT_TRUE(print(4));
    EXPECT_EQ(Bar().value(), Bar().maximum()) << "back at the end, it follows again";

    QTest::mouseClick(&window.ClearButton(), Qt::LeftButton);
    EXPECT_TRUE(window.View().Roll().Entries().empty());
    EXPECT_EQ(Bar().maximum(), 0);
    EXPECT_FALSE(InkInSight());
    EXPECT_TRUE(window.StatusLine().text().endsWith(QString::fromUtf8("\u00B7 0 receipts")));
    const std::string path = ::testing::TempDir() + "empty-roll.png";
    EXPECT_FALSE(window.SavePngTo(QString::fromStdString(path)).empty());
}

TEST_F(PrinterWindowTest, ZoomDoublesAndFitFollowsTheWidth) {
    Client(printer->Port()).Send(Receipt("zoom", 60));
    ASSERT_TRUE(Until([&] { return Finished() == 1; }));
    const auto paper = [&] {
        return window.View().Roll().Layout(window.View().viewport()->width()).at(0);
    };
    const auto one = paper();
    window.ZoomChoice().setCurrentIndex(1);
    EXPECT_EQ(paper().height, 2 * one.height);
    EXPECT_EQ(paper().width, 2 * one.width);
    // The view's scroll range is the content's, whatever the zoom and size.
    const auto rangeFits = [&] {
        const int content = window.View().ContentHeight();
        return Bar().maximum() == std::max(0, content - window.View().viewport()->height());
    };
    EXPECT_TRUE(rangeFits());
    EXPECT_GT(window.View().horizontalScrollBar()->maximum(), 0);
    window.ZoomChoice().setCurrentIndex(2);
    for (const int width : {500, 1100, 700}) {
        SCOPED_TRACE(width);
        window.resize(width, 600);
        ASSERT_TRUE(Until([&] { return window.width() == width; }));
        const int room = window.View().viewport()->width() - 2 * preview::PaperRoll::kMargin;
        EXPECT_EQ(paper().width, room);
        EXPECT_TRUE(rangeFits());
        EXPECT_EQ(window.View().horizontalScrollBar()->maximum(), 0);
    }
}

TEST_F(PrinterWindowTest, ConditionBoxesChangeTheRepliesAndFollowThePrinter) {
    Client client(printer->Port());
    for (const preview::ConditionBox& box : preview::ConditionBoxes()) {
        SCOPED_TRACE(box.caption);
        QCheckBox& check = window.ConditionCheck(box.condition);
        EXPECT_EQ(check.text().toStdString(), box.caption);
        ConditionSet set;
        set.Add(box.condition);
        // On the indicator: the box may be wider than its caption.
        QTest::mouseClick(&check, Qt::LeftButton, {}, QPoint(6, check.height() / 2));
        EXPECT_EQ(printer->CurrentStatusReplies(), StatusReplies(set));
        client.Send({0x10, 0x04, 4});
        EXPECT_EQ(client.Receive(), Bytes{StatusReplies(set)[3]});
        QTest::mouseClick(&check, Qt::LeftButton, {}, QPoint(6, check.height() / 2));
        EXPECT_EQ(printer->Conditions(), ConditionSet{});
        // A change made elsewhere (a control line) shows in the box.
        printer->SetConditions(set);
        EXPECT_TRUE(Until([&] { return check.isChecked(); }, 1s));
        printer->SetConditions({});
        EXPECT_TRUE(Until([&] { return !check.isChecked(); }, 1s));
    }
}

TEST_F(PrinterWindowTest, SavesTheRollAsAPng) {
    for (const int lines : {3, 7}) {
        Client(printer->Port()).Send(Receipt("save", lines));
    }
    ASSERT_TRUE(Until([&] { return Finished() == 2; }));
    const std::string path = ::testing::TempDir() + "roll" + std::to_string(::getpid()) + ".png";
    ASSERT_EQ(window.SavePngTo(QString::fromStdString(path)), "");
    const QImage saved(QString::fromStdString(path));
    std::remove(path.c_str());
    const auto& entries = window.View().Roll().Entries();
    EXPECT_EQ(saved.width(), entries[0].picture.width);
    EXPECT_EQ(saved.height(),
              entries[0].picture.height + preview::PaperRoll::kGap + entries[1].picture.height);
}

TEST_F(PrinterWindowTest, KeepsUpWithTwentyReceiptsASecond) {
    constexpr int kReceipts = 60;
    std::thread sender([port = printer->Port()] {
        auto next = std::chrono::steady_clock::now();
        for (int i = 0; i < kReceipts; ++i) {
            Client(port).Send(Receipt("flood " + std::to_string(i), 4));
            next += 50ms;
            std::this_thread::sleep_until(next);
        }
    });
    const auto start = std::chrono::steady_clock::now();
    const bool shown = Until([&] { return Finished() == kReceipts; }, 3s + 2s);
    const auto took = std::chrono::steady_clock::now() - start;
    sender.join();
    ASSERT_TRUE(shown) << Finished() << " of " << kReceipts << " shown";
    EXPECT_LT(took, 3s + 1s);
    EXPECT_EQ(window.View().Roll().Entries().size(), size_t{kReceipts});
    EXPECT_EQ(Bar().value(), Bar().maximum());
}

// ---------------------------------------------------------------- the process

TEST(PrinterWindowProcess, WindowOptionStartsTheWindowAndQuitOrASignalEndsIt) {
    PrinterProcess process({"--window", "--port", "0", "--listen", "127.0.0.1"});
    const auto listening = ReadLine(process.io[1], "listening on 127.0.0.1:");
    ASSERT_TRUE(listening);
    Client client(static_cast<uint16_t>(std::stoi(listening->substr(23))));
    client.Send({0x10, 0x04, 1});
    EXPECT_EQ(client.Receive(), Bytes{0x12});
    process.Write("quit\n");
    EXPECT_EQ(process.Wait(), 0);
    // SIGTERM ends it as quit does, whichever of its threads takes it.
    PrinterProcess stopped({"--window", "--port", "0", "--listen", "127.0.0.1"});
    ASSERT_TRUE(ReadLine(stopped.io[1], "listening on 127.0.0.1:"));
    ::kill(stopped.pid, SIGTERM);
    EXPECT_EQ(stopped.Wait(), 0);

    // Only the window program loads Qt.
    const auto libraries = [](const std::string& program) {
        std::string out;
        if (std::FILE* ldd = ::popen(("ldd " + program).c_str(), "r")) {
            char buf[4096];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, ldd)) > 0;) {
                out.append(buf, n);
            }
            ::pclose(ldd);
        }
        return out;
    };
    EXPECT_EQ(libraries(VORPANE_PRINTER_EXE).find("libQt"), std::string::npos);
    EXPECT_NE(libraries(VORPANE_PRINTER_WINDOW_EXE).find("libQt6Widgets"), std::string::npos);
}

}  // namespace
}  // namespace vorpane
