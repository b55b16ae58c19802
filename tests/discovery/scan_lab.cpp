#include "scan_lab.h"

#include "app/dialog_services.h"
#include "app/printer_tool_dlg.h"
#include "printer_link/network_printer_link.h"
#include "ui/headless/headless_window_system.h"

namespace vorpane {

namespace scanlab {

using Clock = std::chrono::steady_clock;

ScanRun RunScanInClient(lab::Lab& lab, const std::string& addressInControl,
                        std::chrono::milliseconds deadline, const ScanHooks& hooks) {
    ScanRun run;
    run.entered = lab.RunInClient([&] { run = RunScanHere(addressInControl, deadline, hooks); });
    return run;
}

ScanRun RunScanHere(const std::string& addressInControl, std::chrono::milliseconds deadline,
                    const ScanHooks& hooks) {
    ScanRun run;
    run.entered = true;
    ui::HeadlessWindowSystem ws;  // this thread is the UI thread
    NetworkPrinterLink link;
    DialogServices services = MakeSystemServices(ws, link);
    if (hooks.adjust) {
        hooks.adjust(services);
    }
    CPrinterToolDlg dlg(services);
    if (!dlg.Create()) {
        return run;
    }
    auto* window = static_cast<ui::HeadlessWindow*>(dlg.GetWindow());
    window->SetText(IDC_IP, addressInControl);
    ws.QueueAnswer(ui::kIdOk);
    const auto start = Clock::now();
    window->Click(IDC_SCAN);
    if (hooks.clicked) {
        hooks.clicked();
    }
    run.finished = ws.ServeUntilFor(
        [&] {
            if (hooks.serving) {
                hooks.serving();
            }
            return dlg.Scan().ActiveWorkers() == 0;
        },
        deadline);
    run.totalMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    for (int i = 0; i < window->ComboCount(IDC_PRINTER_LIST); ++i) {
        run.printers.push_back(window->ComboItemText(IDC_PRINTER_LIST, i));
    }
    run.addressAfter = window->GetText(IDC_IP);
    run.progressAfter = dlg.Progress().Position();
    run.alive = dlg.Scan().AliveHostsCopy();
    dlg.DestroyWindow();
    return run;
}

std::unique_ptr<VirtualPrinter> StartPrinter(lab::Lab& lab, const std::string& ns,
                                             const std::string& address, bool netbios,
                                             std::string& error, uint16_t port) {
    std::unique_ptr<VirtualPrinter> printer;
    const bool entered = lab.RunInNamespace(ns, [&] {
        VirtualPrinterConfig config;
        config.listenAddresses = {address};
        config.port = port;
        config.netbios = netbios;
        config.journalLines = 1000;
        VirtualPrinter::Created created = VirtualPrinter::Create(std::move(config));
        printer = std::move(created.printer);
        error = created.error;
    });
    if (!entered) {
        error = "cannot enter " + ns;
    }
    return printer;
}

}  // namespace scanlab
}  // namespace vorpane
