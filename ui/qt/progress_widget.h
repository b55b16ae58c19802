#pragma once
// A progress bar whose painting belongs to a CustomControl of the logic. It
// only hosts the control: paints go to the control over an off-screen image
// that is shown in one go, size changes and window texts are passed on.
// Assistive technology reads the value the logic reports.

#include <QFrame>
#include <QImage>
#include <QPainter>
#include <QString>
#include <optional>
#include <string>

#include "ui/window_system.h"

namespace vorpane::qt {

// PaintSurface over a QPainter on an image; coordinates are the control's
// client coordinates.
class ImagePaintSurface : public ui::PaintSurface {
public:
    // The image must outlive the surface; the painter ends with it.
    explicit ImagePaintSurface(QImage& image, const QFont& font);
    void FillSolidRect(const ui::Rect& r, ui::Color c) override;
    void SetClip(const ui::Rect* r) override;
    void DrawCenteredText(const ui::Rect& r, const std::string& utf8, ui::Color c) override;

private:
    QPainter* Painter();
    QImage& m_image;
    QFont m_font;
    std::optional<QPainter> m_painter;
};

class ProgressWidget : public QFrame {
    Q_OBJECT

public:
    explicit ProgressWidget(QWidget* parent = nullptr);
    ~ProgressWidget() override;

    void attach(ui::CustomControl* control) { m_control = control; }
    ui::CustomControl* control() const { return m_control; }
    ui::Rect clientRect() const;

    void setWindowText(const std::string& utf8);
    const std::string& windowText() const { return m_windowText; }

    // What assistive technology reads; announces a change.
    void setAccessibleValue(int value, int minimum, int maximum, const QString& text);
    int accessibleValue() const { return m_value; }
    int accessibleMinimum() const { return m_minimum; }
    int accessibleMaximum() const { return m_maximum; }
    QString accessibleValueText() const { return m_valueText; }

signals:
    // Emitted with every change announced to assistive technology.
    void accessibleValueAnnounced(int value, const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    ui::CustomControl* m_control = nullptr;
    std::string m_windowText;
    int m_value = 0;
    int m_minimum = 0;
    int m_maximum = 100;
    QString m_valueText;
};

}  // namespace vorpane::qt
