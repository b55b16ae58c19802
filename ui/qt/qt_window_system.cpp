#include "ui/qt/qt_window_system.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPalette>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <cstdlib>
#include <utility>

#include "ui/qt/qt_window.h"

namespace vorpane::qt {

namespace {

ui::Color ToColor(const QColor& c) {
    return (static_cast<ui::Color>(c.red()) << 16) | (static_cast<ui::Color>(c.green()) << 8) |
           static_cast<ui::Color>(c.blue());
}

QtWindow* AsQtWindow(ui::Window* window) {
    return dynamic_cast<QtWindow*>(window);
}

// Collects the style-sheet parser's complaints while a candidate sheet is
// tried out; the handler is process-wide, so only one trial runs at a time.
struct SheetTrial {
    static inline bool failed = false;
    static inline QtMessageHandler previous = nullptr;
    static void Handler(QtMsgType type, const QMessageLogContext& context, const QString& msg) {
        if (msg.contains(QLatin1String("Could not parse"))) {
            failed = true;
            return;
        }
        if (previous != nullptr) {
            previous(type, context, msg);
        }
    }
};

bool StyleSheetParses(const QString& sheet) {
    SheetTrial::failed = false;
    SheetTrial::previous = qInstallMessageHandler(&SheetTrial::Handler);
    {
        QWidget probe;
        probe.setStyleSheet(sheet);
        probe.ensurePolished();
    }
    qInstallMessageHandler(SheetTrial::previous);
    SheetTrial::previous = nullptr;
    return !SheetTrial::failed;
}

constexpr qint64 kMaxSkinBytes = 4 * 1024 * 1024;

}  // namespace

QtWindowSystem::QtWindowSystem(std::string applicationName)
    : m_appName(std::move(applicationName)),
      m_uiThread(QCoreApplication::instance() != nullptr ? QCoreApplication::instance()->thread()
                                                         : QThread::currentThread()),
      m_invoker(std::make_unique<InvokeTarget>([this] { DrainRequests(); })) {}

QtWindowSystem::~QtWindowSystem() = default;

std::unique_ptr<ui::Window> QtWindowSystem::CreateDialogWindow(const ui::DialogTemplate& tmpl,
                                                               ui::DialogEvents& events,
                                                               ui::Window* owner) {
    QWidget* parent = DialogOf(owner);
    if (parent == nullptr && owner == nullptr && !tmpl.appWindow) {
        // A dialog without an owner belongs to the window that is active,
        // as the platform's dialogs do.
        parent = QApplication::activeModalWidget();
        if (parent == nullptr) {
            parent = QApplication::activeWindow();
        }
    }
    return std::make_unique<QtWindow>(*this, tmpl, events, parent);
}

int QtWindowSystem::ShowMessageBox(QWidget* parent, const QString& title, const QString& text,
                                   uint32_t style) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (style & ui::kMbIconMask) {
        case ui::kMbIconError:
            icon = QMessageBox::Critical;
            break;
        case ui::kMbIconQuestion:
            icon = QMessageBox::Question;
            break;
        case ui::kMbIconWarning:
            icon = QMessageBox::Warning;
            break;
        case ui::kMbIconInformation:
            icon = QMessageBox::Information;
            break;
        default:
            break;
    }
    const bool okCancel = (style & ui::kMbTypeMask) == ui::kMbOkCancel;
    QMessageBox box(icon, title, text,
                    okCancel ? QMessageBox::Ok | QMessageBox::Cancel : QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.setObjectName(QStringLiteral("messageBox"));
    if (parent == nullptr) {
        box.setWindowModality(Qt::ApplicationModal);
    }
    box.setDefaultButton(QMessageBox::Ok);
    box.setEscapeButton(okCancel ? QMessageBox::Cancel : QMessageBox::Ok);
    box.exec();
    // Closing a box that has no Cancel button answers OK, as the platform's
    // message boxes do.
    if (!okCancel) {
        return ui::kIdOk;
    }
    return box.clickedButton() == box.button(QMessageBox::Ok) ? ui::kIdOk : ui::kIdCancel;
}

int QtWindowSystem::MessageBox(const std::string& utf8, uint32_t style) {
    return ShowMessageBox(nullptr, QString::fromStdString(m_appName), QString::fromStdString(utf8),
                          style);
}

std::optional<std::string> QtWindowSystem::GetOpenFileName(ui::Window* owner,
                                                           const ui::OpenFileRequest& request) {
    const QString filter = QStringLiteral("%1 (%2)").arg(QString::fromStdString(request.filterName),
                                                         QString::fromStdString(request.pattern));
    const QString title =
        request.title.empty() ? QStringLiteral("Open") : QString::fromStdString(request.title);
    // The entry shows its name alone ("All Files (*.*)"); the pattern in the
    // hidden details is what matches, so names without a dot match too.
    const QString path = QFileDialog::getOpenFileName(DialogOf(owner), title, QString(), filter,
                                                      nullptr, QFileDialog::HideNameFilterDetails);
    if (path.isEmpty()) {
        return std::nullopt;
    }
    return QFile::encodeName(path).toStdString();
}

ui::Color QtWindowSystem::GetSysColor(ui::SysColor which) {
    const QPalette pal = QApplication::palette();
    switch (which) {
        case ui::SysColor::Highlight:
            return ToColor(pal.color(QPalette::Active, QPalette::Highlight));
        case ui::SysColor::Window:
            // The platform's window colour is the background of text areas.
            return ToColor(pal.color(QPalette::Active, QPalette::Base));
    }
    return 0;
}

bool QtWindowSystem::IsControlKeyDown() {
    return QGuiApplication::queryKeyboardModifiers().testFlag(Qt::ControlModifier);
}

bool QtWindowSystem::ApplySkin(const std::string& path) {
    QFile file(QFile::decodeName(QByteArray::fromStdString(path)));
    if (!file.open(QIODevice::ReadOnly) || file.size() <= 0 || file.size() > kMaxSkinBytes) {
        return false;
    }
    const QByteArray bytes = file.readAll();
    // A binary skin of another toolkit is not a style sheet.
    if (bytes.isEmpty() || bytes.contains('\0')) {
        return false;
    }
    const QString sheet = QString::fromUtf8(bytes);
    if (sheet.trimmed().isEmpty() || !StyleSheetParses(sheet)) {
        return false;
    }
    qApp->setStyleSheet(sheet);
    return true;
}

bool QtWindowSystem::IsUiThread() {
    return QThread::currentThread() == m_uiThread;
}

void QtWindowSystem::Invoke(const std::function<void()>& fn) {
    if (IsUiThread()) {
        fn();
        return;
    }
    Request request{&fn};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(&request);
    }
    // Wakes whatever event loop the UI thread is in, nested ones included; a
    // drain that finds nothing left does nothing.
    QMetaObject::invokeMethod(m_invoker.get(), "Serve", Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_served.wait(lock, [&request] { return request.done; });
}

void QtWindowSystem::DrainRequests() {
    for (;;) {
        Request* request = nullptr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_requests.empty()) {
                return;
            }
            request = m_requests.front();
            m_requests.pop_front();
        }
        (*request->fn)();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            request->done = true;  // the requester may return and free it now
        }
        m_served.notify_all();
    }
}

void QtWindowSystem::ServeUntil(const std::function<bool()>& done) {
    // Conditions that change without an event of their own (a counter a
    // worker bumps) are looked at again at least every few milliseconds.
    QTimer wake;
    wake.start(2);
    for (;;) {
        DrainRequests();
        if (done()) {
            return;
        }
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                        QEventLoop::WaitForMoreEvents);
    }
}

QDialog* QtWindowSystem::DialogOf(ui::Window* window) {
    QtWindow* w = AsQtWindow(window);
    return w != nullptr ? w->dialog() : nullptr;
}

QWidget* QtWindowSystem::ControlOf(ui::Window* window, int id) {
    QtWindow* w = AsQtWindow(window);
    return w != nullptr ? w->control(id) : nullptr;
}

std::vector<QWidget*> QtWindowSystem::TemplateWidgets(ui::Window* window) {
    QtWindow* w = AsQtWindow(window);
    return w != nullptr ? w->widgets() : std::vector<QWidget*>{};
}

DialogBaseUnits QtWindowSystem::BaseUnitsOf(ui::Window* window) {
    QtWindow* w = AsQtWindow(window);
    return w != nullptr ? w->baseUnits() : DialogBaseUnits{};
}

bool DisplayAvailable() {
    auto set = [](const char* name) {
        const char* v = std::getenv(name);
        return v != nullptr && *v != '\0';
    };
    return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

}  // namespace vorpane::qt
