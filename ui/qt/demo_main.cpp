// Layout check: the main window, the status dialog and the About box built
// by the Qt backend, side by side, with some content in them.
// Usage: vorpane_qt_demo [--quit-after MS]

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <string>

#include "ui/dialog.h"
#include "ui/qt/qt_window_system.h"

namespace {

using namespace vorpane;

// Paints like the percentage bar: two fills and the split-colour text.
class DemoProgress : public ui::CustomControl {
public:
    explicit DemoProgress(ui::WindowSystem& ws)
        : m_bar(ws.GetSysColor(ui::SysColor::Highlight)),
          m_back(ws.GetSysColor(ui::SysColor::Window)) {}
    void OnPaint(ui::PaintSurface& s, const ui::Rect& r) override {
        const int barRight = r.left + r.Width() * 50 / 100;
        const ui::Rect bar{r.left, r.top, barRight, r.bottom};
        const ui::Rect rest{barRight, r.top, r.right, r.bottom};
        s.FillSolidRect(bar, m_bar);
        s.FillSolidRect(rest, m_back);
        s.SetClip(&bar);
        s.DrawCenteredText(r, "50%", m_back);
        s.SetClip(&rest);
        s.DrawCenteredText(r, "50%", m_bar);
        s.SetClip(nullptr);
    }
    void OnSize() override {}
    void OnSetText(const std::optional<std::string>&) override {}

private:
    ui::Color m_bar;
    ui::Color m_back;
};

}  // namespace

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
    ui::CDialog main(102, ws);
    ui::CDialog status(131, ws, &main);
    ui::CDialog about(100, ws, &main);
    main.Create();
    status.Create();
    about.Create();

    ui::Window* w = main.GetWindow();
    w->SetTitle("Vorpane V2.1");
    w->SetIcon(128);
    w->SetText(1000, "192.168.1.10");
    w->SetText(1031, "192.168.1.10");
    w->SetText(1004, "1000");
    w->ComboAdd(1002, "192.168.1.23");
    w->ComboAdd(1002, "192.168.1.87");
    w->ComboSetCurSel(1002, 0);
    w->SetText(1010,
               "Date Time:26-12-06 09:05:03\n\n0123456789\nabcdefghijklmnopqrstuvwxyz\n"
               "ABCDEFGHIJKLMNOPQRSTUVWXYZ\n~!@#$%^&*()_+-={}[]|,./?';:\\\"\n\nQuillory\n\n");
    DemoProgress progress(ws);
    w->AttachCustomControl(1006, &progress);

    ui::Window* s = status.GetWindow();
    s->SetText(1022, "End &Monitor");
    s->SetText(1018, "On-line");
    s->SetStaticIcon(1019, 133);
    s->SetText(1024, "Cover is Open");
    s->SetStaticIcon(1025, 132);
    s->SetStaticIcon(1020, 133);
    s->SetText(1017, "Idle");

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
