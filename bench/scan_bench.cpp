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
#include "net/echo_arp_helper.h"
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
        lab->Ip("client", {"neigh", "flush", "all"});
        // Control 1000 holds the client's own address: a purge with no row.
        ProbeTimes probes;
        const ScanRun run = vorpane::scanlab::RunScanInClient(
            *lab, lab->ClientAddress(), std::chrono::seconds(60), [&](vorpane::DialogServices& s) {
                if (helper) {
                    s.makeProber = [] {
                        return std::make_unique<vorpane::HelperEchoProbe>(
                            vorpane::EchoArpHelper(VORPANE_BUILT_HELPER));
                    };
                }
                probes.Wrap(s);
            });
        if (!run.entered || !run.finished) {
            std::fprintf(stderr, "%s: run %d did not finish\n", c.name.c_str(), r + 1);
            return false;
        }
        totals.push_back(run.totalMs);
        const auto silent = probes.Silent();
        silentProbes.insert(silentProbes.end(), silent.begin(), silent.end());
        if (run.longestStallMs > worstStall) {
            worstStall = run.longestStallMs;
            worstStallBusy = run.longestStallBusyMs;
        }
        worstSweep = std::max(worstSweep, run.sweepMs);
        size_t found = 0;
        for (const auto& p : run.printers) {
            found += expected.count(p);
        }
        fewestFound = std::min(fewestFound, found);
        extra = std::max(extra, run.printers.size() - found);
        std::fprintf(stderr,
                     "  %s run %d: %.0f ms (sweep %.0f ms), silent probes %zu (median %.0f ms, "
                     "max %.0f ms), UI stall %.1f ms (UI thread busy %.1f ms of it), found %zu\n",
                     c.name.c_str(), r + 1, run.totalMs, run.sweepMs, silent.size(),
                     silent.empty() ? 0.0 : silent[silent.size() / 2],
                     silent.empty() ? 0.0 : silent.back(), run.longestStallMs,
                     run.longestStallBusyMs, found);
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
