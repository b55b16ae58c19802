#include "ui/qt/ip_address_edit.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOptionFrame>

#include "platform/ipv4_address.h"

namespace vorpane::qt {

IpAddressEdit::IpAddressEdit(QWidget* parent) : QFrame(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(3, 1, 3, 1);
    layout->setSpacing(0);
    auto* validator =
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,3}")), this);
    for (int i = 0; i < 4; ++i) {
        auto* f = new QLineEdit(this);
        f->setFrame(false);
        f->setAlignment(Qt::AlignCenter);
        f->setMaxLength(3);
        f->setValidator(validator);
        // Only the control as a whole is a Tab stop; the fields are reached
        // by typing, clicking and the arrow keys, as in the platform's
        // address control.
        f->setFocusPolicy(Qt::ClickFocus);
        f->setObjectName(QStringLiteral("octet%1").arg(i + 1));
        f->installEventFilter(this);
        // The control paints one panel behind all four fields.
        QPalette pal = f->palette();
        for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
            pal.setColor(group, QPalette::Base, Qt::transparent);
        }
        f->setPalette(pal);
        m_fields[static_cast<size_t>(i)] = f;
        layout->addWidget(f, 1);
        connect(f, &QLineEdit::textEdited, this, [this, i] { OnEdited(i); });
        connect(f, &QLineEdit::textChanged, this, [this] {
            if (!m_settingText) {
                emit changed();
            }
        });
        if (i < 3) {
            auto* dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            dot->setAttribute(Qt::WA_TransparentForMouseEvents);
            dot->setAccessibleName(QStringLiteral("dot"));
            layout->addWidget(dot, 0);
        }
    }
    setFocusProxy(m_fields[0]);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
}

QSize IpAddressEdit::sizeHint() const {
    const QFontMetrics fm(font());
    return QSize(fm.horizontalAdvance(QStringLiteral("888.888.888.888")) + 16, fm.height() + 6);
}

void IpAddressEdit::paintEvent(QPaintEvent*) {
    QPainter p(this);
    QStyleOptionFrame opt;
    opt.initFrom(this);
    opt.rect = rect();
    opt.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, this);
    opt.midLineWidth = 0;
    opt.state |= QStyle::State_Sunken;
    for (const QLineEdit* f : m_fields) {
        if (f->hasFocus()) {
            opt.state |= QStyle::State_HasFocus;
        }
    }
    style()->drawPrimitive(QStyle::PE_PanelLineEdit, &opt, &p, this);
}

void IpAddressEdit::changeEvent(QEvent* event) {
    QFrame::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        update();
    }
}

QString IpAddressEdit::text() const {
    return QString::fromStdString(Ipv4Address::FromOctets(octets()).Text());
}

std::array<uint8_t, 4> IpAddressEdit::octets() const {
    std::array<uint8_t, 4> out{};
    for (size_t i = 0; i < 4; ++i) {
        bool ok = false;
        const int v = m_fields[i]->text().toInt(&ok);
        out[i] = static_cast<uint8_t>(ok ? std::min(v, 255) : 0);
    }
    return out;
}

void IpAddressEdit::setText(const QString& dotted) {
    const auto fields = AddressControlFields(dotted.toStdString());
    m_settingText = true;
    for (size_t i = 0; i < fields.size(); ++i) {
        m_fields[i]->setText(fields[i] ? QString::number(*fields[i]) : QString());
    }
    m_settingText = false;
    emit changed();
}

void IpAddressEdit::setFieldNames(const QString& controlName) {
    static const char* const kOrdinals[] = {"1st", "2nd", "3rd", "4th"};
    for (int i = 0; i < 4; ++i) {
        m_fields[static_cast<size_t>(i)]->setAccessibleName(
            QStringLiteral("%1 octet of %2").arg(QLatin1String(kOrdinals[i]), controlName));
    }
}

int IpAddressEdit::IndexOf(QObject* field) const {
    for (int i = 0; i < 4; ++i) {
        if (m_fields[static_cast<size_t>(i)] == field) {
            return i;
        }
    }
    return -1;
}

void IpAddressEdit::FocusField(int index, bool selectAll, bool atEnd) {
    QLineEdit* f = m_fields[static_cast<size_t>(index)];
    f->setFocus(Qt::OtherFocusReason);
    if (selectAll) {
        f->selectAll();
    } else {
        f->setCursorPosition(atEnd ? f->text().size() : 0);
    }
}

void IpAddressEdit::OnEdited(int index) {
    QLineEdit* f = m_fields[static_cast<size_t>(index)];
    bool ok = false;
    const int v = f->text().toInt(&ok);
    if (ok && v > 255) {
        f->setText(QStringLiteral("255"));
    }
    if (f->text().size() == 3 && f->cursorPosition() == 3 && index < 3) {
        FocusField(index + 1, true, false);
        m_advancedInto = index + 1;
    }
}

bool IpAddressEdit::eventFilter(QObject* watched, QEvent* event) {
    const int index = IndexOf(watched);
    if (index < 0) {
        return QFrame::eventFilter(watched, event);
    }
    QLineEdit* f = m_fields[static_cast<size_t>(index)];
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        if (event->type() == QEvent::FocusOut) {
            // "010" reads as 10; show it the way the control's text has it.
            bool ok = false;
            const int v = f->text().toInt(&ok);
            if (ok && f->text() != QString::number(v)) {
                f->setText(QString::number(v));
            }
        }
        update();  // focus frame of the whole control
        return false;
    }
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    const bool justAdvanced = m_advancedInto == index;
    m_advancedInto = -1;
    switch (key->key()) {
        case Qt::Key_Period:
        case Qt::Key_Space:
            if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) {
                return false;
            }
            if (index < 3 && !f->text().isEmpty() && !justAdvanced) {
                FocusField(index + 1, true, false);
            }
            return true;  // never typed into a field
        case Qt::Key_Backspace:
            if (index > 0 && f->cursorPosition() == 0 && !f->hasSelectedText()) {
                FocusField(index - 1, false, true);
                return true;
            }
            return false;
        case Qt::Key_Left:
            if (index > 0 && f->cursorPosition() == 0 && !f->hasSelectedText()) {
                FocusField(index - 1, false, true);
                return true;
            }
            return false;
        case Qt::Key_Right:
            if (index < 3 && f->cursorPosition() == f->text().size() && !f->hasSelectedText()) {
                FocusField(index + 1, false, false);
                return true;
            }
            return false;
        default:
            return false;
    }
}

}  // namespace vorpane::qt
