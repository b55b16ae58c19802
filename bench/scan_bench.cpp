// Whole-scan time of the real dialog in a lab /24, against the time the
// design allows: the sweep (0.55 s) plus one probe time-out (0.5 s) for each
// silent host of the worker block that has the most of them. Two cases, an
// empty /24 and one with 250 live hosts and 5 printers, several runs each.
// Also the UI thread's longest stall during a scan, the sweep excepted.
//
//   scan_bench [runs] [--helper]   (as root: it builds its own lab)
//
// With --helper every probe goes through the built privileged helper, a
// process of its own per probe, as for a user without raw or ping sockets.
//
// One line per case, ending in "found <n>/<expected> ratio <worst/bound>".

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "discovery/scan.h"
#include "lab_fixture.h"
#include "net/posix/echo_arp_helper.h"
#include "scan_lab.h"

namespace {

using vorpane::lab::Lab;
using vorpane::scanlab::ScanRun;

constexpr double kSweepBoundMs = 550;

// Times every probe of a scan whose result is 0 (a silent host).
class ProbeTimes {
public:
    void Wrap(vorpane::DialogServices& services) {
        auto make = services.makeProber;
        services.makeProber = [this, make]() -> std::unique_ptr<vorpane::EchoProber> {
            return std::make_unique<Timed>(*this, make());
        };
    }
    std::vector<double> Silent() {
        std::lock_guard lock(m_mutex);
        auto out = m_silent;
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    class Timed : public vorpane::EchoProber {
    public:
        Timed(ProbeTimes& owner, std::unique_ptr<vorpane::EchoProber> inner)
            : m_owner(owner), m_inner(std::move(inner)) {}
        int32_t Probe(const std::string& address, int32_t timeoutMs) override {
            const auto start = std::chrono::steady_clock::now();
            const int32_t result = m_inner ? m_inner->Probe(address, timeoutMs) : -1;
            const double ms =
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count();
            if (result == 0) {
                std::lock_guard lock(m_owner.m_mutex);
                m_owner.m_silent.push_back(ms);
            }
            return result;
        }

    private:
        ProbeTimes& m_owner;
        std::unique_ptr<vorpane::EchoProber> m_inner;
    };
    std::mutex m_mutex;
    std::vector<double> m_silent;
};

using Clock = std::chrono::steady_clock;

double MsBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1000.0 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The sweep's time (its socket opened to closed) and the UI thread's longest
// stall after it: the longest time it did not come back to serve, with the
// CPU time it used itself in that time (far less than the stall: it was
// waiting for a core).
class UiWatch {
public:
    vorpane::scanlab::ScanHooks Hooks(ProbeTimes& probes) {
        vorpane::scanlab::ScanHooks hooks;
        hooks.adjust = [this, &probes](vorpane::DialogServices& s) {
            probes.Wrap(s);
            auto open = s.netbios.openSocket;
            s.netbios.openSocket = [this, open]() -> vorpane::UdpSocketOrError {
                m_sweepOpened = Clock::now();
                vorpane::UdpSocketOrError socket = open();
                if (socket.socket) {
                    socket.socket = std::make_unique<Timed>(std::move(socket.socket), *this);
                }
                return socket;
            };
        };
        // The click's own stall starts where the sweep ended.
        hooks.clicked = [this] { Beat(); };
        hooks.serving = [this] { Beat(); };
        return hooks;
    }
    double sweepMs = 0, stallMs = 0, stallBusyMs = 0;

private:
    // Passes every call on and notes when the socket goes away.
    class Timed : public vorpane::UdpSocket {
    public:
        Timed(std::unique_ptr<vorpane::UdpSocket> inner, UiWatch& owner)
            : m_inner(std::move(inner)), m_owner(owner) {}
        ~Timed() override {
            m_inner.reset();
            m_owner.m_last = Clock::now();
            m_owner.m_lastCpu = ThreadCpuMs();
            m_owner.sweepMs = MsBetween(m_owner.m_sweepOpened, m_owner.m_last);
        }
        int SetBroadcast(bool enable) override { return m_inner->SetBroadcast(enable); }
        int SetReceiveTimeout(int32_t ms) override { return m_inner->SetReceiveTimeout(ms); }
        int Bind(const vorpane::Ipv4Endpoint& local) override { return m_inner->Bind(local); }
        vorpane::UdpIoResult SendTo(std::span<const uint8_t> d,
                                    const vorpane::Ipv4Endpoint& to) override {
            return m_inner->SendTo(d, to);
        }
        vorpane::UdpIoResult ReceiveFrom(std::span<uint8_t> buffer,
                                         vorpane::Ipv4Endpoint& from) override {
            return m_inner->ReceiveFrom(buffer, from);
        }

    private:
        std::unique_ptr<vorpane::UdpSocket> m_inner;
        UiWatch& m_owner;
    };

    void Beat() {
        const auto now = Clock::now();
        const double cpu = ThreadCpuMs();
        if (m_last != Clock::time_point{} && MsBetween(m_last, now) > stallMs) {
            stallMs = MsBetween(m_last, now);
            stallBusyMs = cpu - m_lastCpu;
        }
        m_last = now;
        m_lastCpu = cpu;
    }

    Clock::time_point m_sweepOpened{}, m_last{};
    double m_lastCpu = 0;
};

// Bound for a subnet whose silent hosts (among 2..254) are `silent`.
double BoundMs(const std::set<int>& silent) {
    int worst = 0;
    for (int first = vorpane::kScanFirstHost; first <= vorpane::kScanLastHost;
         first += vorpane::kScanBlockSize) {
        int n = 0;
        for (int h = first; h < first + vorpane::kScanBlockSize && h <= vorpane::kScanLastHost;
             ++h) {
            n += static_cast<int>(silent.count(h));
        }
        worst = std::max(worst, n);
    }
    return kSweepBoundMs + vorpane::kScanProbeTimeoutMs * worst;
}

struct Case {
    std::string name;
    std::string subnet;
    std::vector<int> live;      // plain hosts answering echo
    std::vector<int> printers;  // printers (answering echo too)
};

bool RunCase(const Case& c, int runs, bool helper) {
    std::string error;
    std::unique_ptr<Lab> lab = Lab::Up(c.subnet, 1, error);
    if (!lab) {
        std::fprintf(stderr, "%s: lab: %s\n", c.name.c_str(), error.c_str());
        return false;
    }
    if (!c.live.empty() && !lab->AddHost("live", c.live)) {
        return false;
    }
    std::vector<std::unique_ptr<vorpane::VirtualPrinter>> printers;
    if (!c.printers.empty()) {
        if (!lab->AddHost("printers", c.printers)) {
            return false;
        }
        for (int h : c.printers) {
            printers.push_back(vorpane::scanlab::StartPrinter(*lab, lab->HostNamespace("printers"),
                                                              lab->Address(h), false, error));
            if (!printers.back()) {
                std::fprintf(stderr, "%s: printer: %s\n", c.name.c_str(), error.c_str());
                return false;
            }
        }
    }
    std::set<int> silent;
    for (int h = vorpane::kScanFirstHost; h <= vorpane::kScanLastHost; ++h) {
        silent.insert(h);
    }
    for (int h : c.live) {
        silent.erase(h);
    }
    for (int h : c.printers) {
        silent.erase(h);
    }
    std::set<std::string> expected;
    for (int h : c.printers) {
        expected.insert(lab->Address(h));
    }
    const double bound = BoundMs(silent);

    std::vector<double> totals;
    std::vector<double> silentProbes;
    double worstStall = 0;
    double worstStallBusy = 0;
    double worstSweep = 0;
    size_t fewestFound = expected.size();
    size_t extra = 0;
    for (int r = 0; r < runs; ++r) {
        // Each run starts from an empty neighbour table, like a first scan.
        vorpane::lab::Lab::Script({"ip", lab->Prefix(), "client", "neigh", "flush", "all"});
        // Control 1000 holds the client's own address: a purge with no row.
        ProbeTimes probes;
        UiWatch watch;
        vorpane::scanlab::ScanHooks hooks = watch.Hooks(probes);
        if (helper) {
            // The helper's probe goes in first, so the timing wraps it.
            hooks.adjust = [timed = hooks.adjust](vorpane::DialogServices& s) {
                s.makeProber = [] {
                    return std::make_unique<vorpane::HelperEchoProbe>(
                        vorpane::EchoArpHelper(VORPANE_BUILT_HELPER));
                };
                timed(s);
            };
        }
        const ScanRun run = vorpane::scanlab::RunScanInClient(*lab, lab->ClientAddress(),
                                                              std::chrono::seconds(60), hooks);
        if (!run.entered || !run.finished) {
            std::fprintf(stderr, "%s: run %d did not finish\n", c.name.c_str(), r + 1);
            return false;
        }
        totals.push_back(run.totalMs);
        const auto silent = probes.Silent();
        silentProbes.insert(silentProbes.end(), silent.begin(), silent.end());
        if (watch.stallMs > worstStall) {
            worstStall = watch.stallMs;
            worstStallBusy = watch.stallBusyMs;
        }
        worstSweep = std::max(worstSweep, watch.sweepMs);
        size_t found = 0;
        for (const auto& p : run.printers) {
            found += expected.count(p);
        }
        fewestFound = std::min(fewestFound, found);
        extra = std::max(extra, run.printers.size() - found);
        std::fprintf(stderr,
                     "  %s run %d: %.0f ms (sweep %.0f ms), silent probes %zu (median %.0f ms, "
                     "max %.0f ms), UI stall %.1f ms (UI thread busy %.1f ms of it), found %zu\n",
                     c.name.c_str(), r + 1, run.totalMs, watch.sweepMs, silent.size(),
                     silent.empty() ? 0.0 : silent[silent.size() / 2],
                     silent.empty() ? 0.0 : silent.back(), watch.stallMs, watch.stallBusyMs, found);
    }
    std::sort(silentProbes.begin(), silentProbes.end());
    std::vector<double> sorted = totals;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted[sorted.size() / 2];
    const double worst = sorted.back();
    const double probeMedian = silentProbes.empty() ? 0.0 : silentProbes[silentProbes.size() / 2];
    std::printf(
        "%s: %d runs, median %.0f ms, worst %.0f ms, bound %.0f ms, sweep <= %.0f ms, "
        "silent probe median %.0f ms, UI stall <= %.1f ms (busy %.1f ms), extra %zu, "
        "found %zu/%zu ratio %.3f\n",
        c.name.c_str(), runs, median, worst, bound, worstSweep, probeMedian, worstStall,
        worstStallBusy, extra, fewestFound, expected.size(), worst / bound);
    std::fflush(stdout);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const bool helper = argc > 2 && std::string(argv[2]) == "--helper";
    if (!Lab::Unavailable().empty()) {
        std::fprintf(stderr, "scan_bench: %s\n", Lab::Unavailable().c_str());
        return 2;
    }
    Case empty{"empty /24", "198.18.40", {}, {}};

    // 250 of the 253 scanned addresses live, 5 of them printers; the three
    // silent ones in different blocks.
    Case busy{"250 live hosts, 5 printers", "198.18.41", {}, {20, 77, 133, 190, 251}};
    const std::set<int> silentBusy = {100, 150, 200};
    for (int h = vorpane::kScanFirstHost; h <= vorpane::kScanLastHost; ++h) {
        if (silentBusy.count(h) == 0 &&
            std::find(busy.printers.begin(), busy.printers.end(), h) == busy.printers.end()) {
            busy.live.push_back(h);
        }
    }

    bool ok = RunCase(empty, runs, helper);
    ok = RunCase(busy, runs, helper) && ok;
    return ok ? 0 : 1;
}
