// Layout check: the main window, the status dialog and the About box built
// by the Qt backend, side by side, with some content in them.
// Usage: vorpane_qt_demo [--quit-after MS]

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/main_dialog_template.h"
#include "controls/percent_progress_ctrl.h"
#include "status/status_dialog_template.h"
#include "ui/dialog.h"
#include "ui/qt/qt_window_system.h"

using namespace vorpane;

int main(int argc, char** argv) {
    if (!qt::DisplayAvailable()) {
        std::fprintf(stderr, "vorpane_qt_demo: no display (set DISPLAY or run under xvfb-run)\n");
        return 1;
    }
    QApplication app(argc, argv);
    int quitAfter = -1;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--quit-after") == 0) {
            quitAfter = std::atoi(argv[i + 1]);
        }
    }
    qt::QtWindowSystem ws;
    ui::CDialog main(MainDialogTemplate(), ws);
    ui::CDialog status(StatusDialogTemplate(), ws, &main);
    ui::CDialog about(AboutDialogTemplate(), ws, &main);
    main.Create();
    status.Create();
    about.Create();

    ui::Window* w = main.GetWindow();
    w->SetTitle("Vorpane V2.1");
    w->SetIcon(IDR_MAINFRAME);
    w->SetText(IDC_IP, "192.168.1.10");
    w->SetText(IDC_NEW_IP, "192.168.1.10");
    w->SetText(IDC_TIMEOUT, "1000");
    w->ComboAdd(IDC_PRINTER_LIST, "192.168.1.23");
    w->ComboAdd(IDC_PRINTER_LIST, "192.168.1.87");
    w->ComboSetCurSel(IDC_PRINTER_LIST, 0);
    w->SetText(IDC_PAYLOAD,
               "Date Time:26-12-06 09:05:03\n\n0123456789\nabcdefghijklmnopqrstuvwxyz\n"
               "ABCDEFGHIJKLMNOPQRSTUVWXYZ\n~!@#$%^&*()_+-={}[]|,./?';:\\\"\n\nQuillory\n\n");
    CPercentProgressCtrl progress(ws);
    progress.Attach(w, IDC_PROGRESS);
    progress.SetPos(50);

    ui::Window* s = status.GetWindow();
    s->SetText(IDC_MONITOR, "End &Monitor");
    s->SetText(IDC_ONLINE_TEXT, "On-line");
    s->SetStaticIcon(IDC_ONLINE_LAMP, IDI_LAMP_GREEN);
    s->SetText(IDC_COVER_TEXT, "Cover is Open");
    s->SetStaticIcon(IDC_COVER_LAMP, IDI_LAMP_RED);
    s->SetStaticIcon(IDC_BUSY_LAMP, IDI_LAMP_GREEN);
    s->SetText(IDC_BUSY_TEXT, "Idle");

    QDialog* md = qt::QtWindowSystem::DialogOf(w);
    QDialog* sd = qt::QtWindowSystem::DialogOf(s);
    QDialog* ad = qt::QtWindowSystem::DialogOf(about.GetWindow());
    md->move(10, 10);
    md->show();
    sd->move(md->frameGeometry().right() + 20, 10);
    sd->show();
    ad->move(md->frameGeometry().right() + 20, sd->frameGeometry().bottom() + 20);
    ad->show();
    if (quitAfter >= 0) {
        QTimer::singleShot(quitAfter, &app, [] { QApplication::exit(0); });
    }
    return app.exec();
}
