// Window-system services: message boxes, open-file dialog, skin, colours,
// key codes and the hand-over of work from other threads.

#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "qt_test_support.h"
#include "ui/qt/key_codes.h"

namespace vorpane::qt::test {
namespace {

// What a message box showed: icon, buttons, title, text and owner.
using SeenBox =
    std::tuple<QMessageBox::Icon, QMessageBox::StandardButtons, QString, QString, QWidget*>;

// Answers the next message box with `answer` (null: close it with Esc).
void AnswerNextBox(std::optional<SeenBox>& seen,
                   std::optional<QMessageBox::StandardButton> answer) {
    WhenModal<QMessageBox>([&seen, answer](QMessageBox* box) {
        seen = SeenBox(box->icon(), box->standardButtons(), box->windowTitle(), box->text(),
                       box->parentWidget());
        if (answer) {
            box->button(*answer)->click();
        } else {
            QTest::keyClick(box, Qt::Key_Escape);
        }
    });
}

// Every style through the window system (no owner) and through a window
// (owned by it); the title is the application's name.
TEST(QtMessageBox, StyleChoosesIconAndButtons) {
    EXPECT_EQ(QtWindowSystem().ApplicationName(), "Vorpane");
    QtWindowSystem ws("Other Name");
    RecordingEvents events;
    ShownWindow shown = ShowTemplate(ws, 102, events);
    const auto ok = QMessageBox::StandardButtons(QMessageBox::Ok);
    const auto okCancel = QMessageBox::Ok | QMessageBox::Cancel;
    const std::tuple<uint32_t, QMessageBox::Icon, QMessageBox::StandardButtons,
                     std::optional<QMessageBox::StandardButton>, int>
        cases[] = {{0x00, QMessageBox::NoIcon, ok, QMessageBox::Ok, ui::kIdOk},
                   {0x10, QMessageBox::Critical, ok, QMessageBox::Ok, ui::kIdOk},
                   {0x30, QMessageBox::Warning, ok, std::nullopt, ui::kIdOk},
                   {0x40, QMessageBox::Information, ok, QMessageBox::Ok, ui::kIdOk},
                   {0x21, QMessageBox::Question, okCancel, QMessageBox::Ok, ui::kIdOk},
                   {0x21, QMessageBox::Question, okCancel, QMessageBox::Cancel, ui::kIdCancel},
                   {0x21, QMessageBox::Question, okCancel, std::nullopt, ui::kIdCancel},
                   {0x01, QMessageBox::NoIcon, okCancel, QMessageBox::Ok, ui::kIdOk}};
    const std::string text = "Connect failed!\n<b>x</b>";
    for (const auto& [style, icon, buttons, answer, result] : cases) {
        for (bool owned : {false, true}) {
            SCOPED_TRACE(std::to_string(style) + (owned ? " owned" : ""));
            std::optional<SeenBox> seen;
            AnswerNextBox(seen, answer);
            EXPECT_EQ(owned ? shown.window->MessageBox(text, style) : ws.MessageBox(text, style),
                      result);
            EXPECT_EQ(seen, SeenBox(icon, buttons, "Other Name", QString::fromStdString(text),
                                    owned ? shown.dialog : nullptr));
        }
    }
}

TEST(QtOpenFile, OneFileOfAnyNameOrNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString plain = dir.filePath(QStringLiteral("receipt"));  // no dot
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    QtWindowSystem ws;
    ui::OpenFileRequest request{"", "All Files", "*"};
    QStringList filters;
    // selectFile() leaves the name box alone while it has the focus, and the
    // file model fills in the background: the name is typed into the box,
    // and the step is done only once the dialog has closed.
    WhenModalWidget([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        if (d == nullptr || !d->isVisible()) {
            return false;
        }
        filters = d->nameFilters();
        d->setDirectory(dir.path());
        if (auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) {
            name->setText(plain);
        } else {
            d->selectFile(plain);
        }
        QMetaObject::invokeMethod(d, "accept");  // protected; a direct call
        return !d->isVisible();
    });
    const auto picked = ws.GetOpenFileName(nullptr, request);
    EXPECT_EQ(filters, QStringList{QStringLiteral("All Files (*)")});
    ASSERT_TRUE(picked.has_value());
    EXPECT_EQ(QFileInfo(QString::fromStdString(*picked)).canonicalFilePath(),
              QFileInfo(plain).canonicalFilePath());

    WhenModal<QFileDialog>([](QFileDialog* d) { d->reject(); });
    EXPECT_EQ(ws.GetOpenFileName(nullptr, request), std::nullopt);
}

class QtSkin : public ::testing::Test {
protected:
    void TearDown() override { qApp->setStyleSheet(QString()); }
    std::string Write(const char* name, const QByteArray& bytes) {
        const QString path = dir.filePath(QString::fromLatin1(name));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path.toStdString();
    }
    QTemporaryDir dir;
    QtWindowSystem ws;
};

TEST_F(QtSkin, OnlyAStyleSheetThatParsesIsApplied) {
    EXPECT_FALSE(ws.ApplySkin(dir.filePath(QStringLiteral("XPCorona.ssk")).toStdString()));
    EXPECT_FALSE(ws.ApplySkin(Write("empty.ssk", QByteArray())));
    EXPECT_FALSE(ws.ApplySkin(Write("binary.ssk", QByteArray("SKN\0\x01\x02\xff", 7))));
    EXPECT_FALSE(ws.ApplySkin(Write("broken.ssk", "QPushButton { color: red; ")));
    EXPECT_FALSE(ws.ApplySkin(dir.path().toStdString()));  // a directory
    EXPECT_TRUE(qApp->styleSheet().isEmpty());

    const QByteArray sheet = "QPushButton { color: rgb(200, 0, 0); }";
    EXPECT_TRUE(ws.ApplySkin(Write("XPCorona.ssk", sheet)));
    EXPECT_EQ(qApp->styleSheet(), QString::fromLatin1(sheet));
}

TEST(QtSystem, ColoursComeFromThePalette) {
    QtWindowSystem ws;
    auto rgb = [](QPalette::ColorRole role) {
        const QColor c = QApplication::palette().color(QPalette::Active, role);
        return static_cast<ui::Color>((c.red() << 16) | (c.green() << 8) | c.blue());
    };
    EXPECT_EQ(ws.GetSysColor(ui::SysColor::Highlight), rgb(QPalette::Highlight));
    EXPECT_EQ(ws.GetSysColor(ui::SysColor::Window), rgb(QPalette::Base));
}

TEST(QtSystem, KeyCodesAreVirtualKeys) {
    const std::tuple<Qt::Key, Qt::KeyboardModifiers, int> cases[] = {
        {Qt::Key_T, Qt::ControlModifier, 0x54},     {Qt::Key_A, Qt::ShiftModifier, 0x41},
        {Qt::Key_7, Qt::NoModifier, 0x37},          {Qt::Key_Space, Qt::NoModifier, 0x20},
        {Qt::Key_Return, Qt::NoModifier, 0x0D},     {Qt::Key_Enter, Qt::KeypadModifier, 0x0D},
        {Qt::Key_Escape, Qt::NoModifier, 0x1B},     {Qt::Key_Tab, Qt::NoModifier, 0x09},
        {Qt::Key_Backtab, Qt::ShiftModifier, 0x09}, {Qt::Key_F1, Qt::NoModifier, 0x70},
        {Qt::Key_Down, Qt::NoModifier, 0x28},       {Qt::Key_Exclam, Qt::ShiftModifier, '1'},
        {Qt::Key_Period, Qt::NoModifier, 0xBE},     {Qt::Key_Period, Qt::KeypadModifier, 0x6E},
        {Qt::Key_5, Qt::KeypadModifier, 0x65},      {Qt::Key_Control, Qt::ControlModifier, 0x11},
        {Qt::Key_unknown, Qt::NoModifier, 0},
    };
    for (const auto& [key, modifiers, vk] : cases) {
        EXPECT_EQ(VirtualKeyFromQt(key, modifiers), vk) << key;
    }
}

TEST(QtInvoke, SeventeenThreadsKeepTheirOrderWhileTheUiThreadServes) {
    QtWindowSystem ws;
    ASSERT_TRUE(ws.IsUiThread());
    int ranHere = 0;
    ws.Invoke([&] { ++ranHere; });  // on the UI thread: at once
    EXPECT_EQ(ranHere, 1);

    constexpr int kThreads = 17;
    constexpr int kCalls = 40;
    // Touched only on the UI thread, inside the invoked functions.
    std::vector<std::vector<int>> seen(kThreads);
    int offUiThread = 0;
    std::atomic<int> finished{0}, workerSawUi{0};
    std::vector<std::jthread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            workerSawUi += ws.IsUiThread() ? 1 : 0;
            for (int i = 0; i < kCalls; ++i) {
                ws.Invoke([&, t, i] {
                    offUiThread += ws.IsUiThread() ? 0 : 1;
                    seen[static_cast<size_t>(t)].push_back(i);
                });
            }
            finished.fetch_add(1);  // Invoke returned: every call has run
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    ws.ServeUntil(
        [&] { return finished.load() == kThreads || std::chrono::steady_clock::now() > deadline; });
    ASSERT_EQ(finished.load(), kThreads) << "workers were not served before the deadline";
    workers.clear();
    EXPECT_EQ(workerSawUi.load(), 0);
    EXPECT_EQ(offUiThread, 0);
    std::vector<int> inOrder(kCalls);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    EXPECT_EQ(seen, std::vector<std::vector<int>>(kThreads, inOrder));
}

TEST(QtInvoke, ServedByNestedModalLoopsToo) {
    // A worker's request is carried out while the UI thread sits in a
    // message box; the box is closed by a second request.
    QtWindowSystem ws;
    std::atomic<bool> done{false};
    bool sawBox = false;
    std::thread worker([&] {
        ws.Invoke([&] {
            sawBox = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()) != nullptr;
        });
        ws.Invoke([&] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                box->button(QMessageBox::Ok)->click();
            }
        });
        done = true;
    });
    // Give up on the box after a deadline rather than hang the run.
    WhenModal<QMessageBox>([](QMessageBox* box) {
        QTimer::singleShot(20000, box, [box] { box->button(QMessageBox::Ok)->click(); });
    });
    EXPECT_EQ(ws.MessageBox("wait", 0), ui::kIdOk);
    ws.ServeUntil([&] { return done.load(); });
    worker.join();
    EXPECT_TRUE(sawBox);
}

}  // namespace
}  // namespace vorpane::qt::test
