#include "printer_window/qt/printer_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>

namespace vorpane::printer_window {

void PaperFeed::Post(PaperUpdate update) {
    if (m_inbox.Post(std::move(update))) {
        QMetaObject::invokeMethod(
            &m_wakeTarget,
            [this] {
                if (m_arrived) {
                    m_arrived();
                }
            },
            Qt::QueuedConnection);
    }
}

namespace {

const QColor kDesk(QRgb{kDeskColour});
const QColor kLabelText(QRgb{kLabelColour});

}  // namespace

RollView::RollView(QWidget* parent)
    : QAbstractScrollArea(parent),
      m_labelHeight(fontMetrics().height() + 4),
      m_roll(m_labelHeight) {
    // A bar that comes and goes would change the width, and with it the fit.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    verticalScrollBar()->setSingleStep(48);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int top) {
        if (!m_placing) {
            m_roll.UserScrolled(top, viewport()->height(), ContentHeight());
        }
    });
}

int RollView::ContentHeight() const {
    return m_roll.ContentHeight(viewport()->width());
}

void RollView::Add(std::vector<PaperUpdate> updates) {
    if (m_roll.Apply(std::move(updates))) {
        Place();
    }
}

void RollView::SetZoom(Zoom zoom) {
    m_roll.SetZoom(zoom);
    Place();
}

void RollView::Clear() {
    m_roll.Clear();
    Place();
}

void RollView::Place() {
    const bool outer = !std::exchange(m_placing, true);
    const int width = viewport()->width();
    const int height = viewport()->height();
    const int content = ContentHeight();
    QScrollBar* v = verticalScrollBar();
    v->setPageStep(height);
    v->setRange(0, std::max(0, content - height));
    v->setValue(m_roll.TopAfterChange(v->value(), height, content));
    QScrollBar* h = horizontalScrollBar();
    h->setPageStep(width);
    h->setRange(0, std::max(0, m_roll.ContentWidth(width) - width));
    if (outer) {
        m_placing = false;
    }
    viewport()->update();
}

void RollView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    Place();
}

void RollView::scrollContentsBy(int, int) {
    viewport()->update();
}

void RollView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    painter.fillRect(event->rect(), kDesk);
    const int width = viewport()->width();
    const int top = verticalScrollBar()->value();
    const int left = horizontalScrollBar()->value();
    // Shrunk paper reads better smoothed; enlarged dots stay sharp.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, m_roll.Scale(width) < 1.0);
    painter.setPen(kLabelText);
    for (const Placement& at : m_roll.Visible(width, top, viewport()->height())) {
        const RollEntry& entry = m_roll.Entries()[at.entry];
        const QRect label(at.paperLeft - left, at.labelTop - top, std::max(at.width, 1),
                          m_labelHeight);
        painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                         QString::fromStdString(entry.label));
        const receipt::Picture& picture = entry.picture;
        // The pixels are 0xFFRRGGBB words, as QImage keeps ARGB32.
        const QImage paper(reinterpret_cast<const uchar*>(picture.pixels.data()), picture.width,
                           picture.height, picture.width * 4, QImage::Format_ARGB32);
        painter.drawImage(QRect(at.paperLeft - left, at.paperTop - top, at.width, at.height),
                          paper);
    }
}

PrinterWindow::PrinterWindow(VirtualPrinter& printer, PaperFeed& feed)
    : m_feed(feed), m_model(printer) {
    using C = WindowCaptions;
    setWindowTitle(QString::fromStdString(m_model.Title()));

    m_view = new RollView(this);
    m_zoom = new QComboBox(this);
    for (const auto& choice : ZoomChoices()) {
        m_zoom->addItem(QString::fromUtf8(choice.caption));
    }
    auto* save = new QPushButton(C::kSave, this);
    m_clear = new QPushButton(C::kClear, this);
    auto* conditions = new QGroupBox(C::kConditions, this);
    auto* conditionList = new QVBoxLayout(conditions);
    for (size_t i = 0; i < ConditionBoxes().size(); ++i) {
        auto* check = new QCheckBox(ConditionBoxes()[i].caption, conditions);
        conditionList->addWidget(check);
        m_checks.push_back(check);
        connect(check, &QCheckBox::toggled, this,
                [this, i](bool on) { m_model.BoxClicked(i, on); });
    }
    m_status = new QLabel(this);

    auto* zoomRow = new QHBoxLayout;
    auto* zoomLabel = new QLabel(C::kZoom, this);
    zoomLabel->setBuddy(m_zoom);
    zoomRow->addWidget(zoomLabel);
    zoomRow->addWidget(m_zoom, 1);
    auto* panel = new QVBoxLayout;
    panel->addLayout(zoomRow);
    panel->addWidget(save);
    panel->addWidget(m_clear);
    panel->addWidget(conditions);
    panel->addStretch(1);
    auto* body = new QHBoxLayout;
    body->addWidget(m_view, 1);
    body->addLayout(panel);
    auto* whole = new QVBoxLayout(this);
    whole->addLayout(body, 1);
    whole->addWidget(m_status);

    connect(m_zoom, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0 && static_cast<size_t>(index) < ZoomChoices().size()) {
            m_view->SetZoom(ZoomChoices()[static_cast<size_t>(index)].zoom);
        }
    });
    connect(save, &QPushButton::clicked, this, &PrinterWindow::AskAndSave);
    connect(m_clear, &QPushButton::clicked, this, [this] {
        m_view->Clear();
        ShowStatus();
    });
    m_conditionPoll.setInterval(WindowModel::kConditionPoll);
    connect(&m_conditionPoll, &QTimer::timeout, this, &PrinterWindow::ShowConditions);
    m_conditionPoll.start();
    ShowConditions();

    // Paper that came before the window was there is taken now.
    m_feed.OnArrival([this] { TakePaper(); });
    TakePaper();
    resize(900, 800);
}

PrinterWindow::~PrinterWindow() {
    m_feed.OnArrival(nullptr);
}

void PrinterWindow::TakePaper() {
    m_view->Add(m_feed.Take());
    ShowStatus();
}

void PrinterWindow::ShowConditions() {
    const std::optional<ConditionSet> set = m_model.ConditionsToShow();
    if (!set) {
        return;
    }
    for (size_t i = 0; i < m_checks.size(); ++i) {
        const QSignalBlocker quiet(m_checks[i]);
        m_checks[i]->setChecked(set->Has(ConditionBoxes()[i].condition));
    }
}

void PrinterWindow::ShowStatus() {
    m_status->setText(QString::fromStdString(m_model.StatusLine(m_view->Roll().Entries().size())));
}

std::string PrinterWindow::SavePngTo(const QString& path) {
    const PaperRoll::Saved saved = m_view->Roll().SavePng(path.toStdString());
    return saved.ok ? std::string() : saved.error;
}

void PrinterWindow::AskAndSave() {
    using C = WindowCaptions;
    const QString path = QFileDialog::getSaveFileName(this, C::kSaveDialog, C::kSaveName,
                                                      QString(C::kSaveFilter) + " (*.png)");
    if (path.isEmpty()) {
        return;
    }
    const std::string error = SavePngTo(path);
    if (!error.empty()) {
        QMessageBox::warning(this, WindowCaptions::kSaveFailedTitle,
                             QString::fromStdString(WindowModel::SaveFailed(error)));
    }
}

}  // namespace vorpane::printer_window
