#pragma once
// Up-down control without a buddy: two arrow buttons that only propose a
// step; whoever listens decides what the step means. Holding an arrow
// repeats the step.

#include <QWidget>

class QToolButton;

namespace vorpane::qt {

class UpDownControl : public QWidget {
    Q_OBJECT

public:
    explicit UpDownControl(QWidget* parent = nullptr);
    QToolButton* upButton() const { return m_up; }
    QToolButton* downButton() const { return m_down; }
    void setButtonNames(const QString& controlName);

signals:
    // -1 for the upper arrow, +1 for the lower one.
    void deltaProposed(int delta);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* m_up;
    QToolButton* m_down;
};

}  // namespace vorpane::qt
