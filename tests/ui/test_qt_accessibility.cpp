// What assistive technology finds beyond each control's name and role:
// names of controls without a caption, label relations, the progress bar's
// announcements and the status lamps' meaning.

#include <gtest/gtest.h>
#include <QAccessible>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

#include "qt_test_support.h"
#include "ui/qt/icons.h"
#include "ui/qt/ip_address_edit.h"
#include "ui/qt/progress_widget.h"
#include "ui/qt/up_down.h"

namespace vorpane::qt::test {
namespace {

class QtAccessible : public QtWindowTest {};

QString Description(QWidget* w) {
    return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Description);
}

TEST_F(QtAccessible, ControlsWithoutACaptionAreNamedByTheirLabelOrPurpose) {
    ShownWindow shown = Show(102);
    // Named after their label and linked to it.
    const std::pair<int, const char*> labelled[] = {{1000, "IP Address"},
                                                    {1002, "Printer List"},
                                                    {1004, "Connect Timeout"},
                                                    {1031, "New IP Address"}};
    for (const auto& [id, name] : labelled) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Name(shown.Control(id)), QString::fromUtf8(name));
        const auto related =
            QAccessible::queryAccessibleInterface(shown.Control(id))->relations(QAccessible::Label);
        ASSERT_EQ(related.size(), 1);
        auto* label = qobject_cast<QLabel*>(related[0].first->object());
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), QString::fromUtf8(name) + QLatin1Char(':'));
        EXPECT_EQ(label->buddy(), shown.Control(id));
    }
    for (const auto& [id, name] :
         {std::pair(1006, "Scan progress"), std::pair(1008, "Connect Timeout step"),
          std::pair(1010, "Payload")}) {
        EXPECT_EQ(Name(shown.Control(id)), QString::fromUtf8(name));
    }

    auto* ip = qobject_cast<IpAddressEdit*>(shown.Control(1031));
    const char* ordinals[] = {"1st", "2nd", "3rd", "4th"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(Name(ip->field(i)), QString::fromUtf8(ordinals[i]) + " octet of New IP Address");
        EXPECT_EQ(QAccessible::queryAccessibleInterface(ip->field(i))->role(),
                  QAccessible::EditableText);
    }
    auto* ud = qobject_cast<UpDownControl*>(shown.Control(1008));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(ud->upButton())->role(), QAccessible::Button);
    EXPECT_FALSE(Name(ud->upButton()).isEmpty());
    EXPECT_NE(Name(ud->upButton()), Name(ud->downButton()));

    // A caption that changes renames its button.
    shown.window->SetText(1003, "Cancel");
    EXPECT_EQ(Name(shown.Control(1003)), QStringLiteral("Cancel"));

    ShownWindow about = Show(100);
    EXPECT_EQ(Name(QtWindowSystem::TemplateWidgets(about.window.get()).at(0)),
              QStringLiteral("Vorpane icon"));
}

TEST_F(QtAccessible, ProgressBarAnnouncesEachNewReport) {
    ShownWindow shown = Show(102);
    auto* bar = qobject_cast<ProgressWidget*>(shown.Control(1006));
    ASSERT_NE(bar, nullptr);
    // Qt hands the announcement to the platform's accessibility bridge only
    // while a screen reader listens; the widget's own signal shows that one
    // was made.
    std::vector<std::pair<int, QString>> announced;
    QObject::connect(bar, &ProgressWidget::accessibleValueAnnounced,
                     [&](int v, const QString& t) { announced.emplace_back(v, t); });
    shown.window->SetAccessibleValue(1006, 50, 0, 100, "50%");
    shown.window->SetAccessibleValue(1006, 50, 0, 100, "Busy");
    shown.window->SetAccessibleValue(1006, 50, 0, 100, "Busy");  // the same again: no news
    EXPECT_EQ(announced, (std::vector<std::pair<int, QString>>{{50, "50%"}, {50, "Busy"}}));
}

TEST_F(QtAccessible, StatusLampsSayWhatTheyShow) {
    ShownWindow shown = Show(131);
    const std::pair<int, QString> lamps[] = {{1019, "On-line"}, {1020, "Busy"},
                                             {1021, "Paper"},   {1023, "Pause"},
                                             {1025, "Cover"},   {1026, "Temperature"}};
    for (const auto& [id, indicator] : lamps) {
        EXPECT_EQ(Name(shown.Control(id)), indicator + " lamp");
        EXPECT_EQ(Description(shown.Control(id)), indicator + ": grey");
    }
    // Green and red after a status tick are checked with the status dialog.
    shown.window->SetStaticIcon(1025, kIconLampRed);
    EXPECT_EQ(shown.window->GetStaticIcon(1025), kIconLampRed);
    EXPECT_EQ(Description(shown.Control(1025)), QStringLiteral("Cover: red"));
}

}  // namespace
}  // namespace vorpane::qt::test
