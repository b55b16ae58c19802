#include "scan_lab.h"

#include <cstdlib>

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

bool RouteToSilentPrefix(lab::Lab& lab, const std::string& prefix, int via, std::string& error) {
    const std::string name = "sink" + std::to_string(via);
    if (!lab.AddHost(name, {via}, lab::EchoMode::kDrop)) {
        error = "no host " + name;
        return false;
    }
    const std::string drop =
        "add table ip sink; add chain ip sink pre { type filter hook "
        "prerouting priority -300; }; add rule ip sink pre ip daddr " +
        prefix + " drop";
    const std::string nft = "ip netns exec '" + lab.HostNamespace(name) + "' nft '" + drop + "'";
    if (std::system(nft.c_str()) != 0 ||
        lab::Lab::Script(
            {"ip", lab.Prefix(), "client", "route", "add", prefix, "via", lab.Address(via)}) != 0) {
        error = "no route to " + prefix + " through " + lab.Address(via);
        return false;
    }
    return true;
}

}  // namespace scanlab
}  // namespace vorpane
