#include "ui/qt/up_down.h"

#include <QToolButton>

namespace vorpane::qt {

UpDownControl::UpDownControl(QWidget* parent)
    : QWidget(parent), m_up(new QToolButton(this)), m_down(new QToolButton(this)) {
    setFocusPolicy(Qt::NoFocus);
    for (QToolButton* b : {m_up, m_down}) {
        b->setAutoRepeat(true);
        b->setAutoRepeatDelay(400);
        b->setAutoRepeatInterval(80);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRaise(false);
    }
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    m_up->setObjectName(QStringLiteral("up"));
    m_down->setObjectName(QStringLiteral("down"));
    // clicked() also fires on every auto-repeat step.
    connect(m_up, &QToolButton::clicked, this, [this] { emit deltaProposed(-1); });
    connect(m_down, &QToolButton::clicked, this, [this] { emit deltaProposed(1); });
}

void UpDownControl::setButtonNames(const QString& controlName) {
    m_up->setAccessibleName(controlName + QStringLiteral(" up"));
    m_down->setAccessibleName(controlName + QStringLiteral(" down"));
}

void UpDownControl::resizeEvent(QResizeEvent*) {
    const int h = height();
    const int top = h / 2;
    m_up->setGeometry(0, 0, width(), top);
    m_down->setGeometry(0, top, width(), h - top);
}

}  // namespace vorpane::qt
