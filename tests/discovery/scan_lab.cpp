#include "scan_lab.h"

#include <time.h>

#include "app/dialog_services.h"
#include "app/printer_tool_dlg.h"
#include "printer_link/network_printer_link.h"
#include "ui/headless/headless_window_system.h"

namespace vorpane {

namespace scanlab {

namespace {

using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// Passes every call on and notes when the sweep's socket goes away.
class TimedSocket : public UdpSocket {
public:
    TimedSocket(std::unique_ptr<UdpSocket> inner, Clock::time_point& closedAt)
        : m_inner(std::move(inner)), m_closedAt(closedAt) {}
    ~TimedSocket() override {
        m_inner.reset();
        m_closedAt = Clock::now();
    }
    int SetBroadcast(bool enable) override { return m_inner->SetBroadcast(enable); }
    int SetReceiveTimeout(int32_t ms) override { return m_inner->SetReceiveTimeout(ms); }
    int Bind(const Ipv4Endpoint& local) override { return m_inner->Bind(local); }
    UdpIoResult SendTo(std::span<const uint8_t> d, const Ipv4Endpoint& to) override {
        return m_inner->SendTo(d, to);
    }
    UdpIoResult ReceiveFrom(std::span<uint8_t> buffer, Ipv4Endpoint& from) override {
        return m_inner->ReceiveFrom(buffer, from);
    }

private:
    std::unique_ptr<UdpSocket> m_inner;
    Clock::time_point& m_closedAt;
};

}  // namespace

ScanRun RunScanInClient(lab::Lab& lab, const std::string& addressInControl,
                        std::chrono::milliseconds deadline,
                        const std::function<void(DialogServices&)>& adjust) {
    ScanRun run;
    run.entered = lab.RunInClient([&] {
        ui::HeadlessWindowSystem ws;  // this thread is the UI thread
        NetworkPrinterLink link;
        DialogServices services = MakeSystemServices(ws, link);
        Clock::time_point sweepOpened{};
        Clock::time_point sweepClosed{};
        auto open = services.netbios.openSocket;
        services.netbios.openSocket = [&, open]() -> UdpSocketOrError {
            sweepOpened = Clock::now();
            UdpSocketOrError s = open();
            if (s.socket) {
                s.socket = std::make_unique<TimedSocket>(std::move(s.socket), sweepClosed);
            }
            return s;
        };
        if (adjust) {
            adjust(services);
        }

        CPrinterToolDlg dlg(services);
        if (!dlg.Create()) {
            return;
        }
        auto* window = static_cast<ui::HeadlessWindow*>(dlg.GetWindow());
        window->SetText(IDC_IP, addressInControl);

        ws.QueueAnswer(ui::kIdOk);
        const double cpuBefore = ThreadCpuMs();
        const auto start = Clock::now();
        window->Click(IDC_SCAN);
        const auto clickReturned = Clock::now();
        if (sweepOpened != Clock::time_point{} && sweepClosed != Clock::time_point{}) {
            run.sweepMs = MsBetween(sweepOpened, sweepClosed);
        }
        // The click itself, the sweep taken out.
        run.longestStallMs = MsBetween(start, clickReturned) - run.sweepMs;
        run.longestStallBusyMs = ThreadCpuMs() - cpuBefore;

        // The heartbeat: the UI thread comes back here between requests.
        auto last = Clock::now();
        double lastCpu = ThreadCpuMs();
        Clock::time_point ended{};
        run.finished = ws.ServeUntilFor(
            [&] {
                const auto now = Clock::now();
                const double cpu = ThreadCpuMs();
                if (MsBetween(last, now) > run.longestStallMs) {
                    run.longestStallMs = MsBetween(last, now);
                    run.longestStallBusyMs = cpu - lastCpu;
                }
                last = now;
                lastCpu = cpu;
                if (dlg.Scan().ActiveWorkers() == 0) {
                    ended = now;
                    return true;
                }
                return false;
            },
            deadline);
        run.totalMs = MsBetween(start, run.finished ? ended : Clock::now());

        for (int i = 0; i < window->ComboCount(IDC_PRINTER_LIST); ++i) {
            run.printers.push_back(window->ComboItemText(IDC_PRINTER_LIST, i));
        }
        run.addressAfter = window->GetText(IDC_IP);
        run.progressAfter = dlg.Progress().Position();
        run.alive = dlg.Scan().AliveHostsCopy();
        dlg.DestroyWindow();
    });
    return run;
}

std::unique_ptr<VirtualPrinter> StartPrinter(lab::Lab& lab, const std::string& ns,
                                             const std::string& address, bool netbios,
                                             std::string& error) {
    std::unique_ptr<VirtualPrinter> printer;
    const bool entered = lab.RunInNamespace(ns, [&] {
        VirtualPrinterConfig config;
        config.listenAddresses = {address};
        config.port = 9100;
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
