// What only the Qt backend can get wrong; everything the dialogs expect of
// any backend is in the contract suite. Here: dialog-unit geometry, what each
// control is to Qt and to assistive technology, key handling inside Qt's
// widgets (address fields, Tab), the lamps' pixels and the skin.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>
#include <array>
#include <cstdlib>
#include <optional>

#include "app/main_dialog_template.h"
#include "status/status_dialog_template.h"
#include "ui/contract/window_contract.h"
#include "ui/qt/dialog_units.h"
#include "ui/qt/icons.h"
#include "ui/qt/ip_address_edit.h"
#include "ui/qt/progress_widget.h"
#include "ui/qt/qt_window_system.h"
#include "ui/qt/up_down.h"

namespace vorpane::qt {
namespace {

using ui::ControlClass;

QString Name(QObject* o) {
    return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name);
}

// What reaches the logic from the widgets.
struct Recorder : ui::DialogEvents {
    bool OnInitDialog() override { return true; }
    void OnCommand(int, ui::Notify) override {}
    int OnDeltaPos(int, int delta) override {
        deltas.push_back(delta);
        return 0;
    }
    void OnTimer(int) override {}
    void OnSysCommand(uint32_t) override {}
    bool PreTranslateMessage(const ui::KeyMessage&) override { return false; }
    void OnDestroy() override {}
    std::vector<int> deltas;
};

// Template windows shown by the window contract's Qt driver, which also
// types and waits.
class QtBackend : public ::testing::Test {
protected:
    QDialog* Show(const ui::DialogTemplate& tmpl) {
        window.reset();  // an owner-less dialog would belong to the old one
        window = driver->System().CreateDialogWindow(tmpl, events, nullptr);
        driver->Show(*window);
        return QtWindowSystem::DialogOf(window.get());
    }
    bool WaitFor(const std::function<bool()>& cond) { return driver->LetTimePass(5000, cond); }
    QWidget* Control(int id) { return QtWindowSystem::ControlOf(window.get(), id); }
    std::optional<int> FocusedId() {
        QWidget* d = QtWindowSystem::DialogOf(window.get());
        for (QObject* o = QApplication::focusWidget(); o != nullptr; o = o->parent()) {
            if (o->parent() == d) {
                return o->objectName().toInt();
            }
        }
        return std::nullopt;
    }
    std::unique_ptr<ui::contract::Driver> driver = ui::contract::MakeDriver();
    Recorder events;
    std::unique_ptr<ui::Window> window;
};

TEST(QtDialogUnits, ConvertLikeThePlatform) {
    // MulDiv rounds halves away from zero.
    for (const auto& [a, b, c, result] :
         {std::array{5, 6, 4, 8}, {3, 6, 4, 5}, {1, 6, 4, 2}, {-5, 6, 4, -8}, {7, 12, 8, 11}}) {
        EXPECT_EQ(MulDiv(a, b, c), result) << a << "*" << b << "/" << c;
    }
    // SimSun 9 pt at 96 dpi has base units 6 x 12: the Exit button (199, 301,
    // 50 x 14) covers 299..374 x 452..473, its edges mapped apart.
    EXPECT_EQ(MapDialogRect(199, 301, 50, 14, {6, 12}), QRect(QPoint(299, 452), QPoint(373, 472)));
    EXPECT_EQ(MapDialogSize(256, 323, {6, 12}), QSize(384, 485));
    const QFont font = DialogFont(MainDialogTemplate());
    const QFontMetrics fm(font);
    int sum = 0;
    for (char c = 'A'; c <= 'Z'; ++c) {
        sum += fm.horizontalAdvance(QLatin1Char(c)) + fm.horizontalAdvance(QLatin1Char(c + 32));
    }
    // The rounded average letter width (kerning may move it by a pixel).
    EXPECT_NEAR(BaseUnitsForFont(font).x, (sum + 26) / 52, 1);
    EXPECT_EQ(BaseUnitsForFont(font).y, fm.height());
}

// The Qt class and the accessible role each template class becomes.
const std::tuple<ControlClass, const QMetaObject*, QAccessible::Role> kClasses[] = {
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

TEST_F(QtBackend, EveryControlAtItsPlaceWithItsClassRoleAndName) {
    for (const ui::DialogTemplate* tmpl :
         {&AboutDialogTemplate(), &MainDialogTemplate(), &StatusDialogTemplate()}) {
        QDialog* d = Show(*tmpl);
        const DialogBaseUnits units = QtWindowSystem::BaseUnitsOf(window.get());
        EXPECT_EQ(d->size(), MapDialogSize(tmpl->cx, tmpl->cy, units));
        EXPECT_EQ(d->minimumSize(), d->maximumSize());  // fixed, like a modal frame
        EXPECT_EQ(Name(d).toStdString(), tmpl->caption);
        const std::vector<QWidget*> widgets = QtWindowSystem::TemplateWidgets(window.get());
        ASSERT_EQ(widgets.size(), tmpl->controls.size());
        for (size_t i = 0; i < widgets.size(); ++i) {
            const ui::ControlTemplate& c = tmpl->controls[i];
            QWidget* w = widgets[i];
            SCOPED_TRACE(std::to_string(tmpl->id) + " control " + std::to_string(c.id));
            const QRect want = MapDialogRect(c.x, c.y, c.cx, c.cy, units);
            const QRect got = w->geometry();
            EXPECT_EQ(got.topLeft(), want.topLeft());
            if (c.cls == ControlClass::Icon) {
                EXPECT_EQ(got.size(), QSize(32, 32));  // icons keep their own size
            } else if (c.cls == ControlClass::ComboBox) {
                // Closed: the template's height includes the open list.
                EXPECT_EQ(got.width(), want.width());
                EXPECT_LT(got.height(), want.height());
            } else if (c.cls == ControlClass::Label) {
                EXPECT_GE(got.width(), std::max(want.width(), w->sizeHint().width()));
            } else {
                EXPECT_EQ(got.size(), want.size());
            }
            const auto& [cls, meta, role] =
                *std::find_if(std::begin(kClasses), std::end(kClasses),
                              [&](const auto& k) { return std::get<ControlClass>(k) == c.cls; });
            EXPECT_TRUE(w->metaObject()->inherits(meta)) << w->metaObject()->className();
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
            EXPECT_EQ(iface->parent()->object(), d);
            EXPECT_EQ(iface->role(), role);
            EXPECT_FALSE(Name(w).trimmed().isEmpty());
            if (!c.caption.empty()) {
                EXPECT_EQ(Name(w), QString::fromStdString(c.caption).remove(QLatin1Char('&')));
            }
        }
    }
}

// Caption-less controls are named by the label before them or by the
// template; lamps say what they show.
TEST_F(QtBackend, AccessibleNamesComeFromLabelsAndTheTemplate) {
    Show(MainDialogTemplate());
    EXPECT_EQ(Name(Control(IDC_IP)), QStringLiteral("IP Address"));
    EXPECT_EQ(Name(Control(IDC_PROGRESS)), QStringLiteral("Scan progress"));
    EXPECT_EQ(Name(qobject_cast<IpAddressEdit*>(Control(IDC_NEW_IP))->field(3)),
              QStringLiteral("4th octet of New IP Address"));
    Show(StatusDialogTemplate());
    EXPECT_EQ(Name(Control(IDC_COVER_LAMP)), QStringLiteral("Cover lamp"));
    window->SetStaticIcon(IDC_COVER_LAMP, ui::kIconLampRed);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(Control(IDC_COVER_LAMP))
                  ->text(QAccessible::Description),
              QStringLiteral("Cover: red"));
}

// The program starts Qt only where Qt can show a window; an empty variable
// names no display.
TEST(QtDisplay, AvailableWhenAPlatformOrADisplayIsNamed) {
    const char* names[] = {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"};
    std::vector<std::optional<std::string>> saved;
    for (const char* name : names) {
        const char* v = std::getenv(name);
        saved.push_back(v != nullptr ? std::optional<std::string>(v) : std::nullopt);
    }
    const std::pair<std::array<const char*, 3>, bool> rows[] = {
        {{nullptr, nullptr, nullptr}, false},    {{"", "", ""}, false},
        {{"offscreen", nullptr, nullptr}, true}, {{nullptr, ":99", nullptr}, true},
        {{nullptr, "", "wayland-0"}, true},
    };
    for (const auto& [values, available] : rows) {
        for (size_t i = 0; i < 3; ++i) {
            values[i] != nullptr ? setenv(names[i], values[i], 1) : unsetenv(names[i]);
        }
        EXPECT_EQ(DisplayAvailable(), available) << (values[1] != nullptr ? values[1] : "-");
    }
    for (size_t i = 0; i < 3; ++i) {
        saved[i] ? setenv(names[i], saved[i]->c_str(), 1) : unsetenv(names[i]);
    }
}

TEST_F(QtBackend, AddressFieldsMoveOnAsThePlatformsDo) {
    Show(MainDialogTemplate());
    auto* ip = qobject_cast<IpAddressEdit*>(Control(IDC_NEW_IP));
    // '.' moves on; three digits move on by themselves; letters are refused.
    driver->Type(*window, IDC_NEW_IP, "10.x0.9997");
    EXPECT_EQ(window->GetText(IDC_NEW_IP), "10.0.255.7");
    // Backspace in an empty field goes back to the previous one.
    QTest::keyClick(ip->field(3), Qt::Key_Backspace);
    QTest::keyClick(ip->field(3), Qt::Key_Backspace);
    QTest::keyClick(QApplication::focusWidget(),
                    Qt::Key_Backspace);  // at the end of the third field
    EXPECT_EQ(window->GetText(IDC_NEW_IP), "10.0.25.0");
    // The '.' after three digits belongs to them: it must not skip a field.
    driver->Type(*window, IDC_NEW_IP, "127.0.0.010");
    EXPECT_EQ(window->GetText(IDC_NEW_IP), "127.0.0.10");
    ip->field(0)->setFocus();  // leaving the field shows its number
    EXPECT_EQ(ip->field(3)->text(), QStringLiteral("10"));
}

TEST_F(QtBackend, TabFollowsTheTemplate) {
    Show(MainDialogTemplate());
    std::vector<int> stops;
    for (const auto& c : MainDialogTemplate().controls) {
        if ((c.style & ui::kStyleTabStop) != 0) {
            stops.push_back(c.id);
        }
    }
    Control(stops[0])->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(WaitFor([&] { return FocusedId() == stops[0]; }));
    std::vector<int> walked;
    for (size_t i = 0; i < stops.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        walked.push_back(FocusedId().value_or(-1));
    }
    std::rotate(stops.begin(), stops.begin() + 1, stops.end());
    EXPECT_EQ(walked, stops);
}

TEST_F(QtBackend, UpDownArrowRepeatsWhileHeld) {
    Show(MainDialogTemplate());
    auto* upDown = qobject_cast<UpDownControl*>(Control(IDC_TIMEOUT_SPIN));
    QTest::mousePress(upDown->upButton(), Qt::LeftButton);
    EXPECT_TRUE(WaitFor([&] { return events.deltas.size() >= 3; }));
    QTest::mouseRelease(upDown->upButton(), Qt::LeftButton);
    EXPECT_EQ(events.deltas, std::vector<int>(events.deltas.size(), -1));
}

TEST(QtIcons, LampsAreRoundOnTransparentGround) {
    for (int id : {ui::kIconLampRed, ui::kIconLampGreen, ui::kIconLampGrey}) {
        const QImage img = IconPixmap(id).toImage();
        ASSERT_EQ(img.size(), QSize(32, 32));
        EXPECT_EQ(qAlpha(img.pixel(0, 0)) + qAlpha(img.pixel(31, 31)), 0);
        EXPECT_EQ(qAlpha(img.pixel(16, 16)), 255);
        const QColor c = QColor::fromRgb(img.pixel(20, 20));
        const int r = c.red(), g = c.green(), b = c.blue();
        EXPECT_TRUE(id == ui::kIconLampRed     ? r > g + 60
                    : id == ui::kIconLampGreen ? g > r + 60
                                               : std::abs(r - g) < 10 && std::abs(g - b) < 10)
            << id;
    }
    EXPECT_FALSE(LoadIcon(ui::kIconApp).isNull());
    EXPECT_TRUE(LoadIcon(999).isNull());
}

TEST(QtSkin, OnlyAStyleSheetThatParsesIsApplied) {
    QTemporaryDir dir;
    QtWindowSystem ws;
    auto write = [&](const char* name, const QByteArray& bytes) {
        QFile f(dir.filePath(QString::fromLatin1(name)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        return f.fileName().toStdString();
    };
    for (const QByteArray& bad : {QByteArray(), QByteArray("SKN\0\x01\x02\xff", 7),
                                  QByteArray("QPushButton { color: red; ")}) {
        EXPECT_FALSE(ws.ApplySkin(write("bad.ssk", bad)));
    }
    EXPECT_FALSE(ws.ApplySkin(dir.path().toStdString()));  // a directory
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
    const QByteArray sheet = "QPushButton { color: rgb(200, 0, 0); }";
    EXPECT_TRUE(ws.ApplySkin(write("XPCorona.ssk", sheet)));
    EXPECT_EQ(qApp->styleSheet(), QString::fromLatin1(sheet));
    qApp->setStyleSheet(QString());
}

}  // namespace
}  // namespace vorpane::qt
