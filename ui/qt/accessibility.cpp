#include "ui/qt/accessibility.h"

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <mutex>

#include "ui/qt/ip_address_edit.h"
#include "ui/qt/progress_widget.h"
#include "ui/qt/up_down.h"

namespace vorpane::qt {

namespace {

class ProgressAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressAccessible(ProgressWidget* w)
        : QAccessibleWidget(w, QAccessible::ProgressBar) {}

    void* interface_cast(QAccessible::InterfaceType t) override {
        if (t == QAccessible::ValueInterface) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(t);
    }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value) {
            return bar()->accessibleValueText();
        }
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return bar()->accessibleValue(); }
    void setCurrentValue(const QVariant&) override {}  // read-only for the user
    QVariant maximumValue() const override { return bar()->accessibleMaximum(); }
    QVariant minimumValue() const override { return bar()->accessibleMinimum(); }
    QVariant minimumStepSize() const override { return 0; }

private:
    ProgressWidget* bar() const { return static_cast<ProgressWidget*>(widget()); }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
    if (object == nullptr || !object->isWidgetType()) {
        return nullptr;
    }
    auto* w = static_cast<QWidget*>(object);
    if (className == QLatin1String(ProgressWidget::staticMetaObject.className())) {
        return new ProgressAccessible(static_cast<ProgressWidget*>(w));
    }
    // The address control is a group of four edit fields.
    if (className == QLatin1String(IpAddressEdit::staticMetaObject.className())) {
        return new QAccessibleWidget(w, QAccessible::Grouping);
    }
    // The up-down control is a spin button made of its two arrow buttons.
    if (className == QLatin1String(UpDownControl::staticMetaObject.className())) {
        return new QAccessibleWidget(w, QAccessible::SpinBox);
    }
    return nullptr;
}

}  // namespace

void InstallAccessibility() {
    static std::once_flag once;
    std::call_once(once, [] { QAccessible::installFactory(&Factory); });
}

}  // namespace vorpane::qt
