#include "qt_test_support.h"

#include "app/main_dialog_template.h"
#include "status/status_dialog_template.h"

#include <gtest/gtest.h>
#include <QAccessible>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QTest>
#include <QTimer>

namespace vorpane::qt::test {

const ui::DialogTemplate& TemplateById(int id) {
    return id == 100   ? AboutDialogTemplate()
           : id == 102 ? MainDialogTemplate()
                       : StatusDialogTemplate();
}

bool WaitFor(const std::function<bool()>& cond, int deadlineMs) {
    QDeadlineTimer deadline(deadlineMs);
    while (!cond() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QTest::qWait(1);
    }
    return cond();
}

void WhenModalWidget(const std::function<bool(QWidget*)>& fn, int deadlineMs) {
    auto* timer = new QTimer(qApp);
    auto deadline = std::make_shared<QDeadlineTimer>(deadlineMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, fn, deadline] {
        QWidget* modal = QApplication::activeModalWidget();
        const bool done = modal != nullptr && fn(modal);
        if (!done && !deadline->hasExpired()) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        if (!done) {
            // Fail, and do not leave the caller blocked in its modal loop.
            ADD_FAILURE() << "modal step did not finish before its deadline";
            if (auto* d = qobject_cast<QDialog*>(modal)) {
                d->reject();
            }
        }
    });
    timer->start(10);
}

ShownWindow ShowTemplate(QtWindowSystem& ws, int templateId, ui::DialogEvents& events) {
    ShownWindow shown;
    shown.window = ws.CreateDialogWindow(TemplateById(templateId), events, nullptr);
    shown.dialog = QtWindowSystem::DialogOf(shown.window.get());
    EXPECT_TRUE(ShowActive(shown.dialog));
    return shown;
}

bool ShowActive(QDialog* dialog) {
    dialog->show();
    dialog->activateWindow();
    QApplication::setActiveWindow(dialog);
    return QTest::qWaitForWindowActive(dialog, 5000);
}

void Focus(QWidget* w) {
    w->setFocus();
    EXPECT_TRUE(WaitFor([w] { return w->hasFocus(); })) << w->objectName().toStdString();
}

QString Name(QObject* o) {
    return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name);
}

std::optional<int> FocusedControlId(QDialog* dialog) {
    for (QObject* o = QApplication::focusWidget(); o != nullptr; o = o->parent()) {
        if (o->parent() == dialog) {
            bool ok = false;
            const int id = o->objectName().toInt(&ok);
            return ok ? std::optional(id) : std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace vorpane::qt::test
