#pragma once
// The Qt Widgets backend of the window-system seam. Needs a QApplication
// created on the thread that is to be the UI thread before it is built.

#include <QObject>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ui/qt/dialog_units.h"
#include "ui/window_system.h"

class QDialog;
class QThread;
class QWidget;

namespace vorpane::qt {

// Lives on the UI thread; a worker reaches it by a queued call made by name,
// so the call's only shared memory is Qt's own event and nothing a worker
// allocated is touched by this project's code on the UI thread.
class InvokeTarget : public QObject {
    Q_OBJECT
public:
    explicit InvokeTarget(std::function<void()> serve) : m_serve(std::move(serve)) {}
public slots:
    void Serve() { m_serve(); }

private:
    std::function<void()> m_serve;
};

class QtWindowSystem : public ui::WindowSystem {
public:
    explicit QtWindowSystem(std::string applicationName = "Vorpane");
    ~QtWindowSystem() override;
    QtWindowSystem(const QtWindowSystem&) = delete;
    QtWindowSystem& operator=(const QtWindowSystem&) = delete;

    std::unique_ptr<ui::Window> CreateDialogWindow(const ui::DialogTemplate& tmpl,
                                                   ui::DialogEvents& events,
                                                   ui::Window* owner) override;
    std::string ApplicationName() override { return m_appName; }
    int MessageBox(const std::string& utf8, uint32_t style) override;
    std::optional<std::string> GetOpenFileName(ui::Window* owner,
                                               const ui::OpenFileRequest& request) override;
    ui::Color GetSysColor(ui::SysColor which) override;
    bool IsControlKeyDown() override;
    bool ApplySkin(const std::string& path) override;
    bool IsUiThread() override;
    void Invoke(const std::function<void()>& fn) override;
    void ServeUntil(const std::function<bool()>& done) override;

    // A message box over parent (may be null) with the style's icon and
    // buttons; kIdOk or kIdCancel.
    static int ShowMessageBox(QWidget* parent, const QString& title, const QString& text,
                              uint32_t style);

    // The Qt side of a window this backend made (null for any other), for
    // the application's start-up and for tests.
    static QDialog* DialogOf(ui::Window* window);
    // The widget of control `id` ("1000"), null when there is none.
    static QWidget* ControlOf(ui::Window* window, int id);
    // Every control's widget, statics included, in template order.
    static std::vector<QWidget*> TemplateWidgets(ui::Window* window);
    static DialogBaseUnits BaseUnitsOf(ui::Window* window);

private:
    struct Request {
        const std::function<void()>* fn;
        bool done = false;
    };
    void DrainRequests();

    std::string m_appName;
    QThread* m_uiThread;
    // A worker queues its request below, then wakes whatever event loop the
    // UI thread is in by a queued call of Serve on this object (Qt's
    // thread-safe way to reach another thread's loop), which drains the
    // requests. The worker then waits on m_served; the UI thread never waits.
    std::unique_ptr<InvokeTarget> m_invoker;
    // Requests from worker threads, served in arrival order on the UI thread.
    std::mutex m_mutex;
    std::condition_variable m_served;
    std::deque<Request*> m_requests;
};

// True when a QApplication can be created here: a display or a platform
// chosen through QT_QPA_PLATFORM. Call before creating the QApplication.
bool DisplayAvailable();

}  // namespace vorpane::qt
