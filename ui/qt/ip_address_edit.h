#pragma once
// Four-field IPv4 address control: fields 0..255 with dots between, a blank
// field reads as 0, '.' moves to the next field, three digits move on by
// themselves. Tab leaves the control as a whole.

#include <QFrame>
#include <QString>
#include <array>
#include <cstdint>

class QLineEdit;

namespace vorpane::qt {

class IpAddressEdit : public QFrame {
    Q_OBJECT

public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    // "%d.%d.%d.%d"; blank fields count as 0.
    QString text() const;
    // Dotted text, into fields as AddressControlFields reads it.
    void setText(const QString& dotted);
    std::array<uint8_t, 4> octets() const;
    QLineEdit* field(int index) const { return m_fields[static_cast<size_t>(index)]; }

    // Names the four fields after the control: "1st octet of <name>".
    void setFieldNames(const QString& controlName);

signals:
    // Any field's text changed (by the user or by setText).
    void changed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    QSize sizeHint() const override;

private:
    int IndexOf(QObject* field) const;
    void FocusField(int index, bool selectAll, bool atEnd);
    void OnEdited(int index);

    std::array<QLineEdit*, 4> m_fields{};
    bool m_settingText = false;
    // The field that three typed digits just moved the focus into: a '.'
    // typed next belongs to those digits and must not move on again.
    int m_advancedInto = -1;
};

}  // namespace vorpane::qt
