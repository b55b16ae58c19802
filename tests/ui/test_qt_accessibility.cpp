// What assistive technology finds in the dialogs: names, roles, relations,
// the progress bar's value and the status lamps' meaning.

#include <gtest/gtest.h>
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <map>

#include "qt_test_support.h"
#include "ui/qt/ip_address_edit.h"
#include "ui/qt/progress_widget.h"
#include "ui/qt/up_down.h"

namespace vorpane::qt::test {
namespace {

using ui::ControlClass;

QAccessible::Role RoleOf(ControlClass cls) {
    switch (cls) {
        case ControlClass::PushButton:
            return QAccessible::Button;
        case ControlClass::CheckBox:
            return QAccessible::CheckBox;
        case ControlClass::Label:
            return QAccessible::StaticText;
        case ControlClass::GroupBox:
            return QAccessible::Grouping;
        case ControlClass::IpAddress:
            return QAccessible::Grouping;
        case ControlClass::ComboBox:
            return QAccessible::ComboBox;
        case ControlClass::Edit:
        case ControlClass::RichEdit:
            return QAccessible::EditableText;
        case ControlClass::ProgressBar:
            return QAccessible::ProgressBar;
        case ControlClass::UpDown:
            return QAccessible::SpinBox;
        case ControlClass::Icon:
            return QAccessible::Graphic;
    }
    return QAccessible::NoRole;
}

QWidget* WidgetAt(const ShownWindow& shown, size_t index) {
    return QtWindowSystem::TemplateWidgets(shown.window.get()).at(index);
}

QString Name(QObject* o) {
    return QAccessible::queryAccessibleInterface(o)->text(QAccessible::Name);
}

class QtAccessibleTemplates : public ::testing::TestWithParam<int> {};

TEST_P(QtAccessibleTemplates, EveryControlHasANameAndTheRoleOfItsClass) {
    QtWindowSystem ws;
    RecordingEvents events;
    const ui::DialogTemplate& tmpl = ui::GetDialogTemplate(GetParam());
    ShownWindow shown = ShowTemplate(ws, tmpl.id, events);
    EXPECT_EQ(Name(shown.dialog).toStdString(), tmpl.caption);
    for (size_t i = 0; i < tmpl.controls.size(); ++i) {
        const ui::ControlTemplate& c = tmpl.controls[i];
        SCOPED_TRACE("control " + std::to_string(c.id) + " #" + std::to_string(i));
        QWidget* w = WidgetAt(shown, i);
        ASSERT_NE(w, nullptr);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(iface, nullptr);
        EXPECT_FALSE(iface->text(QAccessible::Name).trimmed().isEmpty());
        EXPECT_FALSE(iface->text(QAccessible::Name).contains(QLatin1Char('&')));
        EXPECT_EQ(iface->role(), RoleOf(c.cls));
        // Reachable from the dialog's own accessible tree.
        EXPECT_EQ(iface->parent()->object(), shown.dialog);
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, QtAccessibleTemplates, ::testing::Values(100, 102, 131));

TEST(QtAccessible, MainWindowNames) {
    QtWindowSystem ws;
    RecordingEvents events;
    ShownWindow shown = ShowTemplate(ws, 102, events);
    const std::map<int, const char*> expected = {
        {1, "Exit"},
        {1000, "IP Address"},
        {1001, "Test"},
        {1002, "Printer List"},
        {1003, "Scan"},
        {1004, "Connect Timeout"},
        {1006, "Scan progress"},
        {1008, "Connect Timeout step"},
        {1010, "Payload"},
        {1011, "Init"},
        {1012, "Print"},
        {1013, "Cashdrawer"},
        {1014, "Status"},
        {1015, "Hex"},
        {1016, "Cutter"},
        {1030, "Ping"},
        {1031, "New IP Address"},
        {1032, "Set IP"},
        {1033, "Set MAC"},
        {1035, "Print File"},
    };
    for (const auto& [id, name] : expected) {
        EXPECT_EQ(Name(shown.Control(id)), QString::fromUtf8(name)) << id;
    }
    // A caption that changes renames its button.
    shown.window->SetText(1003, "Cancel");
    EXPECT_EQ(Name(shown.Control(1003)), QStringLiteral("Cancel"));

    auto* ip = qobject_cast<IpAddressEdit*>(shown.Control(1031));
    EXPECT_EQ(Name(ip->field(0)), QStringLiteral("1st octet of New IP Address"));
    EXPECT_EQ(Name(ip->field(1)), QStringLiteral("2nd octet of New IP Address"));
    EXPECT_EQ(Name(ip->field(2)), QStringLiteral("3rd octet of New IP Address"));
    EXPECT_EQ(Name(ip->field(3)), QStringLiteral("4th octet of New IP Address"));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(ip->field(0))->role(),
              QAccessible::EditableText);

    auto* ud = qobject_cast<UpDownControl*>(shown.Control(1008));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(ud->upButton())->role(), QAccessible::Button);
    EXPECT_FALSE(Name(ud->upButton()).isEmpty());
    EXPECT_NE(Name(ud->upButton()), Name(ud->downButton()));
}

TEST(QtAccessible, LabelsAreLinkedToTheirControls) {
    QtWindowSystem ws;
    RecordingEvents events;
    ShownWindow shown = ShowTemplate(ws, 102, events);
    const std::map<int, QString> labels = {{1000, QStringLiteral("IP Address:")},
                                           {1002, QStringLiteral("Printer List:")},
                                           {1004, QStringLiteral("Connect Timeout:")},
                                           {1031, QStringLiteral("New IP Address:")}};
    for (const auto& [id, text] : labels) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(shown.Control(id));
        const auto related = iface->relations(QAccessible::Label);
        ASSERT_EQ(related.size(), 1) << id;
        auto* label = qobject_cast<QLabel*>(related[0].first->object());
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), text);
        EXPECT_EQ(label->buddy(), shown.Control(id));
    }
}

TEST(QtAccessible, ProgressBarReportsValueAndTextAndAnnouncesChanges) {
    QtWindowSystem ws;
    RecordingEvents events;
    ShownWindow shown = ShowTemplate(ws, 102, events);
    auto* bar = qobject_cast<ProgressWidget*>(shown.Control(1006));
    ASSERT_NE(bar, nullptr);
    // Qt hands the announcement to the platform's accessibility bridge only
    // while a screen reader listens; the widget's own signal shows that one
    // was made.
    std::vector<std::pair<int, QString>> announced;
    QObject::connect(bar, &ProgressWidget::accessibleValueAnnounced,
                     [&](int v, const QString& t) { announced.emplace_back(v, t); });
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(bar);
    QAccessibleValueInterface* value = iface->valueInterface();
    ASSERT_NE(value, nullptr);

    shown.window->SetAccessibleValue(1006, 50, 0, 100, "50%");
    EXPECT_EQ(value->currentValue().toInt(), 50);
    EXPECT_EQ(value->minimumValue().toInt(), 0);
    EXPECT_EQ(value->maximumValue().toInt(), 100);
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("50%"));

    shown.window->SetAccessibleValue(1006, 50, 0, 100, "Busy");
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("Busy"));
    // The same report again is no news.
    shown.window->SetAccessibleValue(1006, 50, 0, 100, "Busy");

    const std::vector<std::pair<int, QString>> expected{{50, QStringLiteral("50%")},
                                                        {50, QStringLiteral("Busy")}};
    EXPECT_EQ(announced, expected);
    EXPECT_EQ(Name(bar), QStringLiteral("Scan progress"));
}

TEST(QtAccessible, StatusLampsSayWhatTheyShow) {
    QtWindowSystem ws;
    RecordingEvents events;
    ShownWindow shown = ShowTemplate(ws, 131, events);
    const std::map<int, QString> lamps = {
        {1019, QStringLiteral("On-line")}, {1020, QStringLiteral("Busy")},
        {1021, QStringLiteral("Paper")},   {1023, QStringLiteral("Pause")},
        {1025, QStringLiteral("Cover")},   {1026, QStringLiteral("Temperature")},
    };
    auto description = [&](int id) {
        return QAccessible::queryAccessibleInterface(shown.Control(id))
            ->text(QAccessible::Description);
    };
    for (const auto& [id, indicator] : lamps) {
        EXPECT_EQ(Name(shown.Control(id)), indicator + QStringLiteral(" lamp"));
        EXPECT_EQ(description(id), indicator + QStringLiteral(": grey"));
    }
    // A tick: on-line green, cover red, the rest green.
    for (const auto& [id, indicator] : lamps) {
        shown.window->SetStaticIcon(id, id == 1025 ? 132 : 133);
    }
    EXPECT_EQ(description(1019), QStringLiteral("On-line: green"));
    EXPECT_EQ(description(1025), QStringLiteral("Cover: red"));
    EXPECT_EQ(description(1026), QStringLiteral("Temperature: green"));
    shown.window->SetStaticIcon(1019, 134);
    EXPECT_EQ(description(1019), QStringLiteral("On-line: grey"));
}

TEST(QtAccessible, AboutBoxNames) {
    QtWindowSystem ws;
    RecordingEvents events;
    ShownWindow shown = ShowTemplate(ws, 100, events);
    EXPECT_EQ(Name(WidgetAt(shown, 0)), QStringLiteral("Vorpane icon"));
    EXPECT_EQ(Name(WidgetAt(shown, 1)), QStringLiteral("Vorpane V2.1"));
    EXPECT_EQ(Name(shown.Control(1)), QStringLiteral("OK"));
}

}  // namespace
}  // namespace vorpane::qt::test
