#pragma once
// The Qt window of vorpane-printer: the paper roll as it prints, with the
// zoom, Save PNG and Clear, and the printer's conditions as check boxes. What
// goes where is the paper roll's business; this only draws it and passes the
// user's actions on.

#include <QAbstractScrollArea>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "printer_window/paper_roll.h"
#include "printer_window/window_model.h"
#include "virtual_printer/virtual_printer.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;

namespace vorpane::printer_window {

// Carries the printer's paper from the serving thread to the window's.
// Made on the window's thread before the printer starts, and outlives it.
class PaperFeed {
public:
    // Any thread: keeps the update and wakes the window's thread once for
    // however many updates come before it takes them.
    void Post(PaperUpdate update);
    // The window's thread.
    std::vector<PaperUpdate> Take() { return m_inbox.Take(); }
    // The window's thread: called there after updates came; empty stops it.
    void OnArrival(std::function<void()> arrived) { m_arrived = std::move(arrived); }

private:
    PaperInbox m_inbox;
    QObject m_wakeTarget;  // lives on the window's thread
    std::function<void()> m_arrived;
};

// The roll in a scrolled view that draws only what is in sight.
class RollView : public QAbstractScrollArea {
public:
    explicit RollView(QWidget* parent = nullptr);

    const PaperRoll& Roll() const { return m_roll; }
    void Add(std::vector<PaperUpdate> updates);
    void SetZoom(Zoom zoom);
    void Clear();
    int ContentHeight() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    // Sets the scroll bars to the roll's size and keeps the view on the
    // roll's end while it follows.
    void Place();

    const int m_labelHeight;
    PaperRoll m_roll;
    bool m_placing = false;  // our own scroll bar changes are not the user's
};

class PrinterWindow : public QWidget {
public:
    PrinterWindow(VirtualPrinter& printer, PaperFeed& feed);
    ~PrinterWindow() override;

    RollView& View() { return *m_view; }
    QComboBox& ZoomChoice() { return *m_zoom; }
    QPushButton& ClearButton() { return *m_clear; }
    // In the order of ConditionBoxes().
    QCheckBox& ConditionCheck(size_t index) { return *m_checks.at(index); }
    QLabel& StatusLine() { return *m_status; }
    // The roll as a PNG file; the error, or empty.
    std::string SavePngTo(const QString& path);

private:
    void TakePaper();
    void ShowConditions();
    void ShowStatus();
    void AskAndSave();

    PaperFeed& m_feed;
    WindowModel m_model;
    RollView* m_view = nullptr;
    QComboBox* m_zoom = nullptr;
    QPushButton* m_clear = nullptr;
    QLabel* m_status = nullptr;
    std::vector<QCheckBox*> m_checks;
    QTimer m_conditionPoll;
};

}  // namespace vorpane::printer_window
