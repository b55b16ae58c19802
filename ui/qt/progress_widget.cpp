#include "ui/qt/progress_widget.h"

#include "ui/qt/accessibility.h"

#include <QAccessible>
#include <QPainter>
#include <QResizeEvent>

namespace vorpane::qt {

namespace {

QColor ToQColor(ui::Color c) {
    return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF);
}

QRect ToQRect(const ui::Rect& r) {
    return QRect(r.left, r.top, r.Width(), r.Height());
}

}  // namespace

ImagePaintSurface::ImagePaintSurface(QImage& image, const QFont& font)
    : m_image(image), m_font(font) {}

QPainter* ImagePaintSurface::Painter() {
    if (!m_painter) {
        m_painter.emplace(&m_image);
        m_painter->setFont(m_font);
    }
    return &*m_painter;
}

void ImagePaintSurface::FillSolidRect(const ui::Rect& r, ui::Color c) {
    Painter()->fillRect(ToQRect(r), ToQColor(c));
}

void ImagePaintSurface::SetClip(const ui::Rect* r) {
    QPainter* p = Painter();
    if (r == nullptr) {
        p->setClipping(false);
    } else {
        p->setClipRect(ToQRect(*r));
    }
}

void ImagePaintSurface::DrawCenteredText(const ui::Rect& r, const std::string& utf8, ui::Color c) {
    QPainter* p = Painter();
    p->setPen(ToQColor(c));
    p->drawText(ToQRect(r), Qt::AlignCenter | Qt::TextSingleLine, QString::fromStdString(utf8));
}

ProgressWidget::ProgressWidget(QWidget* parent) : QFrame(parent) {
    InstallAccessibility();
    setFocusPolicy(Qt::NoFocus);
    // The control paints every pixel of its client area itself.
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    m_valueText = QStringLiteral("0%");
}

ProgressWidget::~ProgressWidget() = default;

ui::Rect ProgressWidget::clientRect() const {
    const QRect c = contentsRect();
    return ui::Rect{0, 0, c.width(), c.height()};
}

void ProgressWidget::setWindowText(const std::string& utf8) {
    m_windowText = utf8;
    if (m_control != nullptr) {
        m_control->OnSetText(utf8);
    }
}

void ProgressWidget::setAccessibleValue(int value, int minimum, int maximum, const QString& text) {
    if (value == m_value && minimum == m_minimum && maximum == m_maximum && text == m_valueText) {
        return;
    }
    m_value = value;
    m_minimum = minimum;
    m_maximum = maximum;
    m_valueText = text;
    // Reaches the accessibility bus when a screen reader listens.
    QAccessibleValueChangeEvent event(this, value);
    QAccessible::updateAccessibility(&event);
    emit accessibleValueAnnounced(value, text);
}

void ProgressWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    drawFrame(&p);
    if (m_control == nullptr) {
        return;
    }
    const QRect client = contentsRect();
    if (client.isEmpty()) {
        return;
    }
    // Drawn off-screen and shown in one block; pixels the control leaves
    // untouched stay transparent and show what was there.
    const qreal dpr = devicePixelRatioF();
    QImage image(client.size() * dpr, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    {
        ImagePaintSurface surface(image, font());
        m_control->OnPaint(surface, clientRect());
    }
    p.drawImage(client.topLeft(), image);
}

void ProgressWidget::resizeEvent(QResizeEvent* event) {
    QFrame::resizeEvent(event);
    if (m_control != nullptr) {
        m_control->OnSize();
    }
}

}  // namespace vorpane::qt
