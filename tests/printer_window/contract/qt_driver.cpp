// The printer window's contract against the Qt window, offscreen: input
// through QTest's mouse events and the widgets' own actions, the view read
// back by grabbing it.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QWheelEvent>
#include <QtTest/QTest>
#include <map>

#include "loopback_printer.h"
#include "printer_window/qt/printer_window.h"
#include "printer_window_contract.h"

namespace vorpane::printer_window::contract {
namespace {

class QtDriver : public Driver, QObject {
public:
    QtDriver() {
        m_window.View().viewport()->installEventFilter(this);
        m_window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&m_window));
    }
    VirtualPrinter& Printer() override { return *m_printer; }
    const PaperRoll& Roll() override { return m_window.View().Roll(); }
    bool Until(const std::function<bool()>& done, std::chrono::milliseconds limit) override {
        return QTest::qWaitFor(done, static_cast<int>(limit.count()));
    }
    void Settle() override { QCoreApplication::processEvents(); }

    Shown Show() override {
        const RollView& view = m_window.View();
        const QScrollBar& v = *view.verticalScrollBar();
        const QScrollBar& h = *view.horizontalScrollBar();
        const QWidget& port = *view.viewport();
        const std::string title = m_window.windowTitle().toStdString();
        Shown s{title,
                m_window.StatusLine().text().toStdString(),
                {},
                {},
                {},
                port.width(),
                port.height(),
                v.value(),
                v.maximum(),
                h.value(),
                h.maximum()};
        for (int i = 0; i < m_window.ZoomChoice().count(); ++i) {
            s.zooms.push_back(m_window.ZoomChoice().itemText(i).toStdString());
        }
        for (const QWidget* child : m_window.findChildren<QWidget*>()) {
            const QVariant text = child->property(child->inherits("QGroupBox") ? "title" : "text");
            if (child != &m_window.StatusLine() && text.isValid()) {
                s.captions.push_back(text.toString().toStdString());
            }
        }
        for (size_t i = 0; i < ConditionBoxes().size(); ++i) {
            s.checked.push_back(m_window.ConditionCheck(i).isChecked());
        }
        return s;
    }
    Shot Paint() override {
        const QImage grabbed = m_window.View().viewport()->grab().toImage();
        Shot shot{grabbed.width(), grabbed.height(), {}};
        for (int y = 0; y < grabbed.height(); ++y) {
            for (int x = 0; x < grabbed.width(); ++x) {
                shot.pixels.push_back(grabbed.pixel(x, y));
            }
        }
        return shot;
    }
    int Repaints() override { return m_paints; }

    void Do(Act act, size_t index) override {
        RollView& view = m_window.View();
        static const std::map<Act, std::pair<bool, QAbstractSlider::SliderAction>> kBars = {
            {Act::kPageUp, {false, QAbstractSlider::SliderPageStepSub}},
            {Act::kTop, {false, QAbstractSlider::SliderToMinimum}},
            {Act::kEnd, {false, QAbstractSlider::SliderToMaximum}},
            {Act::kRightEnd, {true, QAbstractSlider::SliderToMaximum}}};
        QCheckBox* check = act == Act::kBox ? &m_window.ConditionCheck(index) : nullptr;
        if (const auto bar = kBars.find(act); bar != kBars.end()) {
            (bar->second.first ? view.horizontalScrollBar() : view.verticalScrollBar())
                ->triggerAction(bar->second.second);
        } else if (act == Act::kWheelLeft || act == Act::kWheelRight) {
            // A tilt to the left is a positive delta.
            const QPointF at(view.viewport()->width() / 2.0, view.viewport()->height() / 2.0);
            QWheelEvent wheel(at, view.viewport()->mapToGlobal(at), {},
                              QPoint(act == Act::kWheelLeft ? 120 : -120, 0), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QCoreApplication::sendEvent(view.viewport(), &wheel);
        } else if (act == Act::kZoom) {
            m_window.ZoomChoice().setCurrentIndex(static_cast<int>(index));
        } else if (check != nullptr) {
            // On the indicator: the box may be wider than its caption.
            QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(6, check->height() / 2));
        } else {
            QTest::mouseClick(&m_window.ClearButton(), Qt::LeftButton);
        }
    }
    void Resize(int width, int height) override {
        m_window.resize(width, height);
        EXPECT_TRUE(Until([&] { return m_window.size() == QSize(width, height); },
                          std::chrono::seconds(5)));
        Settle();
    }
    std::string SaveTo(const std::string& path) override {
        return m_window.SavePngTo(QString::fromStdString(path));
    }

private:
    bool eventFilter(QObject*, QEvent* e) override {
        m_paints += e->type() == QEvent::Paint;
        return false;
    }

    int m_paints = 0;
    PaperFeed m_feed;
    std::unique_ptr<VirtualPrinter> m_printer =
        StartLoopbackPrinter([this](VirtualPrinterConfig& c) {
            c.paperWatcher = [this](PaperUpdate u) { m_feed.Post(std::move(u)); };
        });
    PrinterWindow m_window{*m_printer, m_feed};
};

}  // namespace

std::unique_ptr<Driver> MakeDriver() {
    return std::make_unique<QtDriver>();
}

}  // namespace vorpane::printer_window::contract
