// The contract's driver for the Qt backend: input goes through QTest's
// synthetic mouse and key events, and a watcher on a short timer answers the
// message boxes, file dialogs and modal runs as they come up inside whatever
// event loop is running.

#include <gtest/gtest.h>
#include <QComboBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <qpa/qwindowsysteminterface.h>

#include "ui/qt/ip_address_edit.h"
#include "ui/qt/qt_window.h"
#include "ui/qt/qt_window_system.h"
#include "ui/qt/up_down.h"
#include "window_contract.h"

namespace vorpane::ui::contract {
namespace {

using qt::QtWindowSystem;

constexpr int kAnswerDeadlineMs = 10000;

// Letters are their own key; Enter, Esc and the space bar are all else the
// suite presses.
Qt::Key QtKey(int virtualKey) {
    const std::map<int, Qt::Key> keys = {
        {kVkReturn, Qt::Key_Return}, {kVkEscape, Qt::Key_Escape}, {kVkSpace, Qt::Key_Space}};
    const auto it = keys.find(virtualKey);
    return it != keys.end() ? it->second : static_cast<Qt::Key>(Qt::Key_A + (virtualKey - 'A'));
}

uint32_t StyleShown(const QMessageBox& box) {
    const std::map<QMessageBox::Icon, uint32_t> icons = {
        {QMessageBox::Critical, kMbIconError},
        {QMessageBox::Question, kMbIconQuestion},
        {QMessageBox::Warning, kMbIconWarning},
        {QMessageBox::Information, kMbIconInformation}};
    const auto it = icons.find(box.icon());
    return (box.standardButtons().testFlag(QMessageBox::Cancel) ? kMbOkCancel : kMbOk) |
           (it != icons.end() ? it->second : 0u);
}

class QtDriver : public Driver {
public:
    QtDriver() {
        QObject::connect(&m_watch, &QTimer::timeout, [this] { Watch(); });
        m_watch.start(5);
    }

    WindowSystem& System() override { return m_ws; }

    void Show(Window& w) override {
        QDialog* d = Dialog(w);
        d->show();
        d->activateWindow();
        QApplication::setActiveWindow(d);
        EXPECT_TRUE(QTest::qWaitForWindowActive(d, 5000));
    }
    std::string Title(Window& w) override { return Dialog(w)->windowTitle().toStdString(); }

    void Click(Window& w, int id) override { QTest::mouseClick(Control(w, id), Qt::LeftButton); }
    void QueueClick(Window& w, int id) override {
        // Through the window system's own queue, as a real click arrives:
        // Qt holds it there while a loop excludes the user's input.
        QWidget* c = Control(w, id);
        QWidget* top = c->window();
        const QPoint at = c->mapTo(top, c->rect().center());
        const QPointF global = top->mapToGlobal(QPointF(at));
        using Queue = QWindowSystemInterface;
        Queue::handleMouseEvent<Queue::AsynchronousDelivery>(top->windowHandle(), QPointF(at), global,
                                                             Qt::LeftButton, Qt::LeftButton,
                                                             QEvent::MouseButtonPress);
        Queue::handleMouseEvent<Queue::AsynchronousDelivery>(top->windowHandle(), QPointF(at), global,
                                                             Qt::NoButton, Qt::LeftButton,
                                                             QEvent::MouseButtonRelease);
    }

    void Type(Window& w, int id, const std::string& utf8) override {
        QWidget* c = Control(w, id);
        const QString text = QString::fromStdString(utf8);
        if (auto* rich = qobject_cast<QPlainTextEdit*>(c)) {
            rich->selectAll();
            rich->insertPlainText(text);  // as pasted
            return;
        }
        QLineEdit* edit = qobject_cast<QLineEdit*>(c);
        if (auto* ip = qobject_cast<qt::IpAddressEdit*>(c)) {
            edit = ip->field(0);  // '.' moves on from field to field
        }
        ASSERT_NE(edit, nullptr) << "no text to type into in control " << id;
        edit->setFocus();
        edit->selectAll();
        if (text.isEmpty()) {
            QTest::keyClick(edit, Qt::Key_Delete);
        }
        // Each key goes where the focus is at that moment, as typing does.
        for (const QChar ch : text) {
            QWidget* focus = QApplication::focusWidget();
            QTest::keyClicks(focus != nullptr ? focus : edit, QString(ch));
        }
    }

    void Select(Window& w, int id, int index) override {
        auto* combo = qobject_cast<QComboBox*>(Control(w, id));
        ASSERT_NE(combo, nullptr);
        combo->setFocus();
        for (int step = 0; step < 100 && combo->currentIndex() != index; ++step) {
            QTest::keyClick(combo, combo->currentIndex() < index ? Qt::Key_Down : Qt::Key_Up);
        }
    }

    void Spin(Window& w, int id, int delta) override {
        auto* upDown = qobject_cast<qt::UpDownControl*>(Control(w, id));
        ASSERT_NE(upDown, nullptr);
        QTest::mouseClick(delta < 0 ? upDown->upButton() : upDown->downButton(), Qt::LeftButton);
    }

    void PressKey(Window& w, int focusId, int virtualKey, bool control) override {
        QWidget* target = focusId != 0 ? Control(w, focusId) : Dialog(w);
        target->setFocus();
        QWidget* focus = QApplication::focusWidget();
        const bool inside = focus != nullptr && (focus == target || target->isAncestorOf(focus));
        QTest::keyClick(inside ? focus : target, QtKey(virtualKey),
                        control ? Qt::ControlModifier : Qt::NoModifier);
    }

    void ChooseSystemMenu(Window& w, uint32_t commandId) override {
        std::unique_ptr<QMenu> menu(dynamic_cast<qt::QtWindow&>(w).BuildSystemMenu(nullptr));
        for (QAction* a : menu->actions()) {
            if (!a->isSeparator() && a->data().toUInt() == commandId) {
                a->trigger();
                return;
            }
        }
        ADD_FAILURE() << "no system-menu item " << commandId;
    }

    void CloseBox(Window& w) override { Dialog(w)->close(); }

    void AnswerMessageBox(BoxAnswer answer, std::function<bool()> when) override {
        m_boxAnswers.push_back({answer, std::move(when)});
    }
    std::vector<SeenBox> SeenBoxes() override { return m_seen; }
    void AnswerFileDialog(std::optional<std::string> path) override {
        m_fileAnswers.push_back(std::move(path));
    }
    void WhenModal(int templateId, std::function<void(Window&)> script) override {
        m_scripts[templateId].push_back(std::move(script));
    }

    bool LetTimePass(int ms, const std::function<bool()>& until) override {
        QDeadlineTimer deadline(ms);
        while (!(until && until()) && !deadline.hasExpired()) {
            QTest::qWait(1);
        }
        return !until || until();
    }

private:
    struct BoxReply {
        BoxAnswer answer;
        std::function<bool()> when;
    };

    static QDialog* Dialog(Window& w) { return QtWindowSystem::DialogOf(&w); }
    static QWidget* Control(Window& w, int id) {
        QWidget* c = QtWindowSystem::ControlOf(&w, id);
        EXPECT_NE(c, nullptr) << "no control " << id;
        return c;
    }

    // Runs on every event loop's turn: acts on the modal window on top.
    void Watch() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) {
            return;
        }
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            WatchBox(box);
        } else if (auto* files = qobject_cast<QFileDialog*>(modal)) {
            WatchFiles(files);
        } else if (auto* dialog = qobject_cast<qt::VorpaneDialog*>(modal)) {
            WatchDialog(dialog);
        }
    }

    void WatchBox(QMessageBox* box) {
        if (m_box != box) {
            m_box = box;
            m_seen.push_back({box->windowTitle().toStdString(), box->text().toStdString(),
                              StyleShown(*box), box->parentWidget() != nullptr});
            m_reply = BoxReply{BoxAnswer::Close, nullptr};
            if (!m_boxAnswers.empty()) {
                m_reply = std::move(m_boxAnswers.front());
                m_boxAnswers.pop_front();
            }
            m_boxDeadline = QDeadlineTimer(kAnswerDeadlineMs);
        }
        if (m_reply.when && !m_reply.when()) {
            if (!m_boxDeadline.hasExpired()) {
                return;  // the box stays up meanwhile
            }
            ADD_FAILURE() << "box \"" << box->text().toStdString() << "\" waited in vain";
        }
        switch (m_reply.answer) {
            case BoxAnswer::Ok:
                box->button(QMessageBox::Ok)->click();
                break;
            case BoxAnswer::Cancel:
                box->button(QMessageBox::Cancel)->click();
                break;
            case BoxAnswer::Close:
                QTest::keyClick(box, Qt::Key_Escape);
                break;
        }
    }

    void WatchFiles(QFileDialog* files) {
        if (m_files != files) {
            m_files = files;
            m_fileAnswer.reset();
            if (!m_fileAnswers.empty()) {
                m_fileAnswer = std::move(m_fileAnswers.front());
                m_fileAnswers.pop_front();
            }
        }
        if (!m_fileAnswer) {
            files->reject();
            return;
        }
        // selectFile() leaves the name box alone while it has the focus, and
        // the file model fills in the background: the name is typed into the
        // box, and the step repeats until the dialog has closed.
        const QString path = QString::fromStdString(*m_fileAnswer);
        files->setDirectory(QFileInfo(path).absolutePath());
        files->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(path);
        QMetaObject::invokeMethod(files, "accept");
    }

    void WatchDialog(qt::VorpaneDialog* dialog) {
        for (const auto& seen : m_dialogs) {
            if (seen == dialog) {
                return;
            }
        }
        m_dialogs.emplace_back(dialog);
        std::function<void(Window&)> script;
        auto& queue = m_scripts[dialog->objectName().toInt()];
        if (!queue.empty()) {
            script = std::move(queue.front());
            queue.pop_front();
        }
        // Outside the watcher's own tick, so that the watcher keeps answering
        // whatever the script brings up.
        QPointer<qt::VorpaneDialog> guarded(dialog);
        QTimer::singleShot(0, dialog, [guarded, script = std::move(script)] {
            if (script && guarded && guarded->owner() != nullptr) {
                script(*guarded->owner());
            }
            if (guarded && guarded->isVisible()) {
                guarded->close();
            }
        });
    }

    QtWindowSystem m_ws;
    QTimer m_watch;
    std::deque<BoxReply> m_boxAnswers;
    std::vector<SeenBox> m_seen;
    QPointer<QMessageBox> m_box;
    BoxReply m_reply{BoxAnswer::Close, nullptr};
    QDeadlineTimer m_boxDeadline;
    std::deque<std::optional<std::string>> m_fileAnswers;
    QPointer<QFileDialog> m_files;
    std::optional<std::string> m_fileAnswer;
    std::map<int, std::deque<std::function<void(Window&)>>> m_scripts;
    std::vector<QPointer<QWidget>> m_dialogs;
};

}  // namespace

std::unique_ptr<Driver> MakeDriver() {
    return std::make_unique<QtDriver>();
}

}  // namespace vorpane::ui::contract
