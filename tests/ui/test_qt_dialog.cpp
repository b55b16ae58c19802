// The dialog window as a whole: geometry from dialog units, what each
// control is to Qt and to assistive technology, tab order, the keys that
// end a dialog, modal runs, the key filter and the system menu.

#include <gtest/gtest.h>
#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "qt_test_support.h"
#include "ui/dialog.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/ip_address_edit.h"
#include "ui/qt/progress_widget.h"
#include "ui/qt/up_down.h"

namespace vorpane::qt::test {
namespace {

using ui::ControlClass;

TEST(QtDialogUnits, ConvertLikeThePlatform) {
    // MulDiv rounds halves away from zero.
    for (const auto& [a, b, c, result] :
         {std::array{5, 6, 4, 8}, {3, 6, 4, 5}, {1, 6, 4, 2}, {-5, 6, 4, -8}, {7, 12, 8, 11}}) {
        EXPECT_EQ(MulDiv(a, b, c), result) << a << "*" << b << "/" << c;
    }
    // SimSun 9 pt on a 96 dpi screen has base units 6 x 12: the Exit button
    // (199, 301, 50 x 14) covers 299..374 x 452..473, its edges mapped apart.
    const DialogBaseUnits simsun{6, 12};
    EXPECT_EQ(MapDialogRect(199, 301, 50, 14, simsun), QRect(QPoint(299, 452), QPoint(373, 472)));
    EXPECT_EQ(MapDialogSize(256, 323, simsun), QSize(384, 485));
}

TEST(QtDialogUnits, BaseUnitsComeFromTheFontsLetters) {
    const QFont font = DialogFont(TemplateById(102));
    const DialogBaseUnits units = BaseUnitsForFont(font);
    const QFontMetrics fm(font);
    int sum = 0;
    for (char c = 'A'; c <= 'Z'; ++c) {
        sum += fm.horizontalAdvance(QLatin1Char(c)) + fm.horizontalAdvance(QLatin1Char(c + 32));
    }
    // Rounded average letter width (kerning may move the whole line by a pixel).
    EXPECT_NEAR(units.x, (sum + 26) / 52, 1);
    EXPECT_EQ(units.y, fm.height());
}

// The Qt class and the accessible role each template class becomes.
struct ClassInfo {
    ControlClass cls;
    const QMetaObject* meta;
    QAccessible::Role role;
};
const ClassInfo kClasses[] = {
    {ControlClass::PushButton, &QPushButton::staticMetaObject, QAccessible::Button},
    {ControlClass::CheckBox, &QCheckBox::staticMetaObject, QAccessible::CheckBox},
    {ControlClass::Label, &QLabel::staticMetaObject, QAccessible::StaticText},
    {ControlClass::Icon, &QLabel::staticMetaObject, QAccessible::Graphic},
    {ControlClass::GroupBox, &QGroupBox::staticMetaObject, QAccessible::Grouping},
    {ControlClass::IpAddress, &IpAddressEdit::staticMetaObject, QAccessible::Grouping},
    {ControlClass::ComboBox, &QComboBox::staticMetaObject, QAccessible::ComboBox},
    {ControlClass::Edit, &QLineEdit::staticMetaObject, QAccessible::EditableText},
    {ControlClass::RichEdit, &QPlainTextEdit::staticMetaObject, QAccessible::EditableText},
    {ControlClass::ProgressBar, &ProgressWidget::staticMetaObject, QAccessible::ProgressBar},
    {ControlClass::UpDown, &UpDownControl::staticMetaObject, QAccessible::SpinBox},
};

class QtDialogTemplates : public QtWindowTest, public ::testing::WithParamInterface<int> {};

TEST_P(QtDialogTemplates, EveryControlAtItsPlaceWithItsClassNameAndRole) {
    const ui::DialogTemplate& tmpl = TemplateById(GetParam());
    ShownWindow shown = Show(tmpl.id);
    QDialog* d = shown.dialog;
    const DialogBaseUnits units = QtWindowSystem::BaseUnitsOf(shown.window.get());
    EXPECT_EQ(std::pair(units.x, units.y),
              std::pair(BaseUnitsForFont(d->font()).x, BaseUnitsForFont(d->font()).y));
    EXPECT_EQ(d->windowTitle().toStdString(), tmpl.caption);
    EXPECT_EQ(Name(d).toStdString(), tmpl.caption);
    EXPECT_EQ(d->size(), MapDialogSize(tmpl.cx, tmpl.cy, units));
    EXPECT_EQ(d->minimumSize(), d->maximumSize());  // fixed, like a modal frame

    const std::vector<QWidget*> widgets = QtWindowSystem::TemplateWidgets(shown.window.get());
    ASSERT_EQ(widgets.size(), tmpl.controls.size());
    for (size_t i = 0; i < tmpl.controls.size(); ++i) {
        const ui::ControlTemplate& c = tmpl.controls[i];
        QWidget* w = widgets[i];
        SCOPED_TRACE("control " + std::to_string(c.id) + " #" + std::to_string(i));
        EXPECT_EQ(w->objectName(), QString::number(c.id));
        if (c.id != ui::kStaticId) {
            EXPECT_EQ(shown.Control(c.id), w);
        }
        const QRect expected = MapDialogRect(c.x, c.y, c.cx, c.cy, units);
        const QRect got = w->geometry();
        EXPECT_EQ(got.topLeft(), expected.topLeft());
        switch (c.cls) {
            case ControlClass::Icon:
                EXPECT_EQ(got.size(), QSize(32, 32));  // icons keep their own size
                break;
            case ControlClass::ComboBox:
                // Closed box: the template height includes the open list.
                EXPECT_EQ(got.width(), expected.width());
                EXPECT_LT(got.height(), expected.height());
                EXPECT_GE(got.height(), QFontMetrics(d->font()).height());
                break;
            case ControlClass::Label:
                EXPECT_EQ(got.height(), expected.height());
                EXPECT_GE(got.width(), expected.width());
                EXPECT_GE(got.width(), w->sizeHint().width());  // whole text visible
                break;
            default:
                EXPECT_EQ(got.size(), expected.size());
        }
        if (c.cls == ControlClass::PushButton) {
            auto* b = static_cast<QPushButton*>(w);
            EXPECT_EQ(b->text().toStdString(), c.caption);
            EXPECT_EQ(b->isDefault(), (c.style & ui::kStyleDefault) != 0);
        }

        const ClassInfo& info = *std::find_if(std::begin(kClasses), std::end(kClasses),
                                              [&](const ClassInfo& k) { return k.cls == c.cls; });
        EXPECT_TRUE(w->metaObject()->inherits(info.meta)) << w->metaObject()->className();
        // Reachable from the dialog's own accessible tree, named, with the
        // role its class implies; a caption names its control, without the
        // mnemonic.
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(iface, nullptr);
        EXPECT_EQ(iface->parent()->object(), d);
        EXPECT_EQ(iface->role(), info.role);
        EXPECT_FALSE(iface->text(QAccessible::Name).trimmed().isEmpty());
        if (!c.caption.empty()) {
            EXPECT_EQ(iface->text(QAccessible::Name),
                      QString::fromStdString(c.caption).remove(QLatin1Char('&')));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, QtDialogTemplates, ::testing::Values(100, 102, 131));

class QtDialog : public QtWindowTest {};

TEST_F(QtDialog, TabOrderIsTheTemplateOrder) {
    for (int id : {102, 131}) {
        SCOPED_TRACE(id);
        ShownWindow shown = Show(id);
        std::vector<int> expected;
        for (const auto& c : TemplateById(id).controls) {
            if ((c.style & ui::kStyleTabStop) != 0) {
                expected.push_back(c.id);
            }
        }
        ASSERT_GT(expected.size(), 1u);
        shown.Control(expected[0])->setFocus(Qt::TabFocusReason);
        ASSERT_TRUE(WaitFor([&] { return FocusedControlId(shown.dialog) == expected[0]; }));
        std::vector<int> forward;
        for (size_t i = 0; i < expected.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            forward.push_back(FocusedControlId(shown.dialog).value_or(-99));
        }
        // Round again to the first, and Shift+Tab walks back.
        std::rotate(expected.begin(), expected.begin() + 1, expected.end());
        EXPECT_EQ(forward, expected);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(FocusedControlId(shown.dialog), expected[expected.size() - 2]);
    }
    // Tab leaves the address control from any of its fields.
    ShownWindow shown = Show(102);
    auto* ip = qobject_cast<IpAddressEdit*>(shown.Control(1000));
    ip->field(2)->setFocus(Qt::MouseFocusReason);
    ASSERT_TRUE(WaitFor([&] { return ip->field(2)->hasFocus(); }));
    QTest::keyClick(ip->field(2), Qt::Key_Tab);
    EXPECT_EQ(FocusedControlId(shown.dialog), 1001);
}

// Enter in the rich edit makes a line break (Enter pressing the default
// button is checked with the address control's modal run); Esc and the
// close box ask the logic to cancel. None of them closes the window itself.
TEST_F(QtDialog, EnterAndEscapeGoToTheLogic) {
    ShownWindow shown = Show(102);
    auto* rich = qobject_cast<QPlainTextEdit*>(shown.Control(1010));
    Focus(rich);
    QTest::keyClicks(rich, "ab");
    QTest::keyClick(rich, Qt::Key_Return);
    QTest::keyClicks(rich, "c");
    EXPECT_EQ(shown.window->GetText(1010), "ab\nc");
    EXPECT_EQ(events.CountCommand(1, ui::Notify::Clicked), 0);

    QTest::keyClick(rich, Qt::Key_Escape);
    EXPECT_EQ(events.CountCommand(2, ui::Notify::Clicked), 1);
    shown.dialog->close();
    EXPECT_EQ(events.CountCommand(2, ui::Notify::Clicked), 2);
    EXPECT_TRUE(shown.dialog->isVisible());
    EXPECT_EQ(events.commands.size(), 2u);
}

// A dialog of the core that the tests run modally.
class ModalDialog : public ui::CDialog {
public:
    ModalDialog(int templateId, ui::WindowSystem& ws, ui::CDialog* parent = nullptr)
        : CDialog(TemplateById(templateId), ws, parent) {}
    std::function<void(ModalDialog&, int, ui::Notify)> onControl;
    int destroyed = 0;

protected:
    bool OnControlCommand(int id, ui::Notify code) override {
        if (onControl) {
            onControl(*this, id, code);
            return true;
        }
        return false;
    }
    void OnDestroy() override { ++destroyed; }
};

TEST_F(QtDialog, EnterInTheAddressControlEndsTheModalRunWithExit) {
    ModalDialog dlg(102, ws);
    WhenModalWidget([](QWidget* w) {
        auto* d = qobject_cast<QDialog*>(w);
        if (d == nullptr || !d->isActiveWindow()) {
            return false;
        }
        // The first Tab stop has the focus when the run starts.
        EXPECT_EQ(FocusedControlId(d), 1);
        auto* ip = d->findChild<IpAddressEdit*>(QStringLiteral("1000"));
        ip->field(3)->setFocus();
        QTest::keyClick(ip->field(3), Qt::Key_Return);
        return true;
    });
    EXPECT_EQ(dlg.DoModal(), ui::kIdOk);
    EXPECT_EQ(dlg.destroyed, 1);
    EXPECT_EQ(dlg.GetWindow(), nullptr);
}

TEST_F(QtDialog, NestedModalRunsEndInsideOut) {
    ModalDialog main(102, ws);
    ModalDialog status(131, ws, &main);
    int statusResult = 0;
    bool mainVisibleAfterStatus = false;
    auto pressWhenShown = [](const char* templateId, auto press) {
        WhenModalWidget([=](QWidget* w) {
            const bool shown = w->objectName() == QLatin1String(templateId);
            if (shown) {
                press(w);
            }
            return shown;
        });
    };
    main.onControl = [&](ModalDialog& self, int id, ui::Notify code) {
        if (id != 1014 || code != ui::Notify::Clicked) {
            return;
        }
        pressWhenShown("131", [](QWidget* w) { QTest::keyClick(w, Qt::Key_Escape); });
        statusResult = status.DoModal();
        mainVisibleAfterStatus = QtWindowSystem::DialogOf(self.GetWindow())->isVisible();
        self.EndDialog(7);
    };
    pressWhenShown("102",
                   [](QWidget* w) { w->findChild<QPushButton*>(QStringLiteral("1014"))->click(); });
    EXPECT_EQ(main.DoModal(), 7);
    EXPECT_EQ(statusResult, ui::kIdCancel);
    EXPECT_TRUE(mainVisibleAfterStatus);
    EXPECT_EQ(status.destroyed, 1);
}

TEST_F(QtDialog, WindowMayBeDestroyedFromItsOwnCallback) {
    ModalDialog dlg(131, ws);
    ASSERT_TRUE(dlg.Create());
    dlg.onControl = [](ModalDialog& self, int id, ui::Notify) {
        if (id == 1022) {
            self.DestroyWindow();
        }
    };
    auto* button = QtWindowSystem::ControlOf(dlg.GetWindow(), 1022);
    QPointer<QWidget> dialog = QtWindowSystem::DialogOf(dlg.GetWindow());
    static_cast<QPushButton*>(button)->click();
    EXPECT_EQ(dlg.GetWindow(), nullptr);
    EXPECT_EQ(dlg.destroyed, 1);
    // The widgets go once control is back in the event loop.
    EXPECT_TRUE(WaitFor([&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        return dialog.isNull();
    }));
}

TEST_F(QtDialog, EndDialogDuringInitialisationSkipsTheRun) {
    auto window = ws.CreateDialogWindow(TemplateById(100), events, nullptr);
    window->EndDialog(5);
    EXPECT_EQ(window->RunModal(), 5);
    EXPECT_FALSE(QtWindowSystem::DialogOf(window.get())->isVisible());
}

TEST_F(QtDialog, KeyFilterSeesEachKeyOnceAndMayEatIt) {
    events.eatKey = [](const ui::KeyMessage& m) { return m.virtualKey == ui::kVkSpace; };
    ShownWindow shown = Show(102);
    auto* hex = qobject_cast<QCheckBox*>(shown.Control(1015));
    Focus(hex);
    QTest::keyClick(hex, Qt::Key_Space);
    EXPECT_EQ(events.keys, (std::vector<Key>{{kDown, 0x20, 1015}, {kUp, 0x20, 1015}}));
    EXPECT_FALSE(hex->isChecked());
    EXPECT_EQ(events.CountCommand(1015, ui::Notify::Clicked), 0);

    // Not eaten: the key reaches the control.
    events.eatKey = nullptr;
    events.keys.clear();
    QTest::keyClick(hex, Qt::Key_Space);
    EXPECT_TRUE(hex->isChecked());
    EXPECT_EQ(events.keys.size(), 2u);
    EXPECT_EQ(events.CountCommand(1015, ui::Notify::Clicked), 1);

    // A key the focus widget passes on to its parents is still seen once,
    // named after the control, not the field inside it; the Control key
    // comes first, as a key of its own.
    auto* ip = qobject_cast<IpAddressEdit*>(shown.Control(1000));
    Focus(ip->field(0));
    events.keys.clear();
    QTest::keyClick(ip->field(0), Qt::Key_T, Qt::ControlModifier);
    const std::vector<Key> ctrlT{
        {kDown, 0x11, 1000}, {kDown, ui::kVkT, 1000}, {kUp, ui::kVkT, 1000}, {kUp, 0x11, 1000}};
    EXPECT_EQ(events.keys, ctrlT);

    // Eating Enter keeps it from the default button.
    events.eatKey = [](const ui::KeyMessage& m) { return m.virtualKey == ui::kVkReturn; };
    QTest::keyClick(ip->field(0), Qt::Key_Return);
    EXPECT_EQ(events.CountCommand(1, ui::Notify::Clicked), 0);
}

TEST_F(QtDialog, SystemMenuItemsLiveInTheContextMenu) {
    ShownWindow shown = Show(102);
    ASSERT_TRUE(shown.window->HasSystemMenu());
    auto openMenu = [&] {
        QContextMenuEvent ev(QContextMenuEvent::Mouse, QPoint(5, 5),
                             shown.dialog->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(shown.dialog, &ev);
        return shown.dialog->findChild<QMenu*>(QStringLiteral("systemMenu"));
    };
    EXPECT_EQ(openMenu(), nullptr);  // no items yet: no menu

    shown.window->AppendSystemMenuSeparator();
    shown.window->AppendSystemMenuItem(16, "About Vorpane(&A)...");
    QMenu* menu = openMenu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_TRUE(actions[0]->isSeparator());
    EXPECT_EQ(actions[1]->text(), QStringLiteral("About Vorpane(&A)..."));
    actions[1]->trigger();
    EXPECT_EQ(events.sysCommands, std::vector<uint32_t>{16});
    menu->close();
}

TEST_F(QtDialog, MnemonicsPressTheirButtons) {
    ShownWindow shown = Show(102);
    Focus(shown.Control(1010));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_P, Qt::AltModifier);
    EXPECT_TRUE(WaitFor([&] { return events.CountCommand(1012, ui::Notify::Clicked) == 1; }));
    // "&Cashdrawer" and "&Cutter" share their letter: it moves the focus
    // between them and presses neither.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::AltModifier);
    const auto first = FocusedControlId(shown.dialog);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_C, Qt::AltModifier);
    const auto second = FocusedControlId(shown.dialog);
    EXPECT_TRUE((first == 1013 && second == 1016) || (first == 1016 && second == 1013));
    EXPECT_EQ(events.CountCommand(1013, ui::Notify::Clicked), 0);
    EXPECT_EQ(events.CountCommand(1016, ui::Notify::Clicked), 0);
}

TEST_F(QtDialog, WindowIconAndControlKey) {
    ShownWindow shown = Show(102);
    EXPECT_TRUE(shown.dialog->windowIcon().availableSizes().isEmpty());
    shown.window->SetIcon(128);
    EXPECT_FALSE(shown.dialog->windowIcon().availableSizes().isEmpty());

    EXPECT_FALSE(ws.IsControlKeyDown());
    QTest::keyPress(QApplication::focusWidget(), Qt::Key_Control, Qt::ControlModifier);
    EXPECT_TRUE(ws.IsControlKeyDown());
    QTest::keyRelease(QApplication::focusWidget(), Qt::Key_Control, Qt::NoModifier);
    EXPECT_FALSE(ws.IsControlKeyDown());
}

}  // namespace
}  // namespace vorpane::qt::test
