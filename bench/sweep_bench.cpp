// The printer sweep (SweepPort, time-out 500 ms) over a lab /24, against
// nmap's connect-free scan of the same port from the same namespace when nmap
// is installed. Three cases, an empty /24, 20 live hosts (3 printers) and 250
// live hosts (5 printers), several runs each, every run from an empty
// neighbour table.
//
//   sweep_bench [runs|routed] [--no-baseline]   (as root: it builds its own lab)
//
// One line per case, the medians of its runs:
//   "<case> sweep <ms> nmap <ms> ratio <sweep/nmap> found <n>/<expected>"
// where found counts the printers of the worst run, and a line after it when
// nmap's list of open hosts differed from the sweep's.
//
// Then, once each, routed networks whose hosts are all silent (a lab host
// that drops everything sent to them), swept with the window the raised open
// file limit gives:
//   "routed /22 sweep <ms> nmap <ms> ratio <sweep/nmap> peak <MB> sockets <n>"
//   "routed /16 sweep <ms> window 512 <ms> ratio <sweep/512> peak <MB> sockets <n>"
// nmap runs as `nmap -n -Pn -p 9100 --open` (the /16 would take it hours);
// the /16's baseline is the fixed 512-socket window of before, in the same
// run. peak is this process's resident high-water mark during the sweep.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "discovery/port_sweep.h"
#include "lab_fixture.h"
#include "platform/network_interfaces.h"
#include "platform/resource_limits.h"
#include "scan_lab.h"

namespace {

using vorpane::lab::Lab;
using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

bool HaveNmap() {
    return std::system("command -v nmap >/dev/null 2>&1") == 0;
}

// nmap in namespace `ns`: the addresses it lists with the port open, nullopt
// when it did not run.
std::optional<std::set<std::string>> RunNmap(const std::string& ns, const std::string& prefix,
                                             const char* flags = "-n") {
    const std::string command = "ip netns exec '" + ns + "' nmap " + flags +
                                " -p 9100 --open -oG - '" + prefix + "' </dev/null 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    std::set<std::string> open;
    char line[1024];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        // "Host: 198.18.43.23 ()	Ports: 9100/open/tcp//jetdirect///"
        const std::string text = line;
        if (text.rfind("Host: ", 0) == 0 && text.find("9100/open/") != std::string::npos) {
            open.insert(text.substr(6, text.find(' ', 6) - 6));
        }
    }
    return pclose(pipe) == 0 ? std::optional(open) : std::nullopt;
}

struct Case {
    std::string name;
    std::string subnet;
    std::vector<int> live;      // hosts with nothing on 9100
    std::vector<int> printers;  // virtual printers on 9100
};

bool RunCase(const Case& c, int runs, bool nmap) {
    std::string error;
    std::unique_ptr<Lab> lab = Lab::Up(c.subnet, 1, error);
    if (!lab) {
        std::fprintf(stderr, "%s: lab: %s\n", c.name.c_str(), error.c_str());
        return false;
    }
    if ((!c.live.empty() && !lab->AddHost("live", c.live)) ||
        (!c.printers.empty() && !lab->AddHost("printers", c.printers))) {
        return false;
    }
    std::vector<std::unique_ptr<vorpane::VirtualPrinter>> printers;
    std::set<std::string> expected;
    for (int h : c.printers) {
        printers.push_back(vorpane::scanlab::StartPrinter(*lab, lab->HostNamespace("printers"),
                                                          lab->Address(h), false, error));
        if (!printers.back()) {
            std::fprintf(stderr, "%s: printer: %s\n", c.name.c_str(), error.c_str());
            return false;
        }
        expected.insert(lab->Address(h));
    }
    const std::vector<vorpane::Ipv4Address> hosts =
        vorpane::Ipv4Prefix::Parse(c.subnet + ".0/24")->Hosts();
    auto flush = [&] { Lab::Script({"ip", lab->Prefix(), "client", "neigh", "flush", "all"}); };

    std::vector<double> sweepMs, nmapMs;
    size_t fewest = expected.size();
    bool listsAgree = true;
    for (int r = 0; r < runs; ++r) {
        flush();
        vorpane::SweepResult result;
        double ms = 0;
        lab->RunInClient([&] {
            const auto start = Clock::now();
            result =
                vorpane::SweepPort(hosts, {.port = 9100, .timeoutMs = 500, .maxOpenSockets = 512});
            ms = MsSince(start);
        });
        std::set<std::string> found;
        for (const vorpane::SweepHit& hit : result.hits) {
            found.insert(hit.address.Text());
        }
        sweepMs.push_back(ms);
        size_t printersFound = 0;
        for (const std::string& p : expected) {
            printersFound += found.count(p);
        }
        fewest = std::min(fewest, printersFound);
        std::fprintf(stderr, "  %s run %d: sweep %.0f ms, %zu hits (error %d)", c.name.c_str(),
                     r + 1, ms, result.hits.size(), result.error);
        if (nmap) {
            flush();
            const auto start = Clock::now();
            const std::optional<std::set<std::string>> open =
                RunNmap(lab->ClientNamespace(), c.subnet + ".0/24");
            nmapMs.push_back(MsSince(start));
            listsAgree = listsAgree && open == found;
            std::fprintf(stderr, ", nmap %.0f ms, %zu open%s", nmapMs.back(),
                         open ? open->size() : 0, open == found ? "" : " (lists differ)");
        }
        std::fprintf(stderr, "\n");
    }
    const double sweep = Median(sweepMs);
    if (nmap) {
        const double other = Median(nmapMs);
        std::printf("%s sweep %.0f nmap %.0f ratio %.3f found %zu/%zu\n", c.name.c_str(), sweep,
                    other, other > 0 ? sweep / other : 0.0, fewest, expected.size());
        if (!listsAgree) {
            std::printf("%s: nmap's open hosts differ from the sweep's\n", c.name.c_str());
        }
    } else {
        std::printf("%s sweep %.0f nmap - ratio - found %zu/%zu\n", c.name.c_str(), sweep, fewest,
                    expected.size());
    }
    std::fflush(stdout);
    return fewest == expected.size() && listsAgree;
}

// This process's resident high-water mark in MB since the last reset.
double PeakMb() {
    const int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    char text[8192];
    const ssize_t got = fd < 0 ? -1 : read(fd, text, sizeof text - 1);
    if (fd >= 0) {
        close(fd);
    }
    if (got <= 0) {
        return -1;
    }
    text[got] = 0;
    const char* hwm = std::strstr(text, "VmHWM:");
    return hwm == nullptr ? -1 : std::atof(hwm + 6) / 1024.0;
}

void ResetPeak() {
    const int fd = open("/proc/self/clear_refs", O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        const ssize_t wrote = write(fd, "5", 1);
        static_cast<void>(wrote);
        close(fd);
    }
}

struct Routed {
    double ms = 0;
    double peakMb = 0;
    vorpane::SweepResult result;
};

Routed SweepRouted(Lab& lab, const std::string& prefix, int32_t window) {
    Routed r;
    const std::vector<vorpane::Ipv4Address> hosts = vorpane::Ipv4Prefix::Parse(prefix)->Hosts();
    lab.RunInClient([&] {
        vorpane::SweepOptions options{.port = 9100, .timeoutMs = 500, .maxOpenSockets = window};
        options.onLink = vorpane::LinkPrefixes(vorpane::ReadLocalInterfaces().interfaces);
        options.maxOnLinkPending = vorpane::OnLinkWindow(vorpane::NeighbourTableSize());
        ResetPeak();
        const auto start = Clock::now();
        r.result = vorpane::SweepPort(hosts, options);
        r.ms = MsSince(start);
        r.peakMb = PeakMb();
    });
    std::fprintf(stderr, "  %s window %d: %.0f ms, %zu hits (error %d), peak %.1f MB\n",
                 prefix.c_str(), window, r.ms, r.result.hits.size(), r.result.error, r.peakMb);
    return r;
}

bool RunRouted(bool nmap, bool baseline) {
    std::string error;
    std::unique_ptr<Lab> lab = Lab::Up("198.18.45", 1, error);
    if (!lab || !vorpane::scanlab::RouteToSilentPrefix(*lab, "198.19.0.0/16", 2, error)) {
        std::fprintf(stderr, "routed: lab: %s\n", error.c_str());
        return false;
    }
    const vorpane::OpenFileLimit limit = vorpane::RaiseOpenFileLimit();
    const int32_t window = vorpane::SweepWindow(limit.soft);
    std::fprintf(stderr, "  open file limit %lld (error %d), window %d\n",
                 static_cast<long long>(limit.soft), limit.error, window);

    const Routed small = SweepRouted(*lab, "198.19.4.0/22", window);
    bool ok = small.result.error == 0 && small.result.hits.empty();
    if (nmap) {
        const auto start = Clock::now();
        const auto open = RunNmap(lab->ClientNamespace(), "198.19.4.0/22", "-n -Pn");
        const double other = MsSince(start);
        std::printf("routed /22 sweep %.0f nmap %.0f ratio %.4f peak %.1f sockets %d%s\n", small.ms,
                    other, other > 0 ? small.ms / other : 0.0, small.peakMb,
                    small.result.peakOpenSockets,
                    open && open->empty() ? "" : " (nmap listed hosts or failed)");
        ok = ok && open && open->empty();
    } else {
        std::printf("routed /22 sweep %.0f nmap - ratio - peak %.1f sockets %d\n", small.ms,
                    small.peakMb, small.result.peakOpenSockets);
    }
    std::fflush(stdout);

    const Routed big = SweepRouted(*lab, "198.19.0.0/16", window);
    ok = ok && big.result.error == 0 && big.result.hits.empty();
    if (baseline) {
        const Routed before = SweepRouted(*lab, "198.19.0.0/16", 512);
        std::printf("routed /16 sweep %.0f window 512 %.0f ratio %.3f peak %.1f sockets %d\n",
                    big.ms, before.ms, before.ms > 0 ? big.ms / before.ms : 0.0, big.peakMb,
                    big.result.peakOpenSockets);
    } else {
        std::printf("routed /16 sweep %.0f window 512 - ratio - peak %.1f sockets %d\n", big.ms,
                    big.peakMb, big.result.peakOpenSockets);
    }
    std::fflush(stdout);
    return ok && big.ms <= 10000 && big.peakMb <= 64;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    // "routed" alone: only the routed networks; "--no-baseline" skips the
    // 64 s of the old window.
    const std::string only = argc > 1 ? argv[1] : "";
    const bool baseline = !(argc > 2 && std::string(argv[2]) == "--no-baseline");
    if (!Lab::Unavailable().empty()) {
        std::fprintf(stderr, "sweep_bench: %s\n", Lab::Unavailable().c_str());
        return 2;
    }
    const bool nmap = HaveNmap();
    if (!nmap) {
        std::fprintf(stderr, "sweep_bench: no nmap on PATH, the sweep alone is timed\n");
    }
    if (only == "routed") {
        return RunRouted(nmap, baseline) ? 0 : 1;
    }
    // The client is .1; the /24's other 253 addresses are swept.
    Case empty{"empty /24", "198.18.42", {}, {}};
    Case few{"20 live hosts, 3 printers", "198.18.43", {}, {30, 101, 202}};
    for (int h : {5, 12, 17, 44, 45, 46, 60, 77, 88, 99, 120, 140, 160, 199, 230, 250, 254}) {
        few.live.push_back(h);
    }
    Case busy{"250 live hosts, 5 printers", "198.18.44", {}, {20, 77, 133, 190, 251}};
    const std::set<int> silent = {100, 150, 200};
    for (int h = 2; h <= 254; ++h) {
        if (silent.count(h) == 0 &&
            std::find(busy.printers.begin(), busy.printers.end(), h) == busy.printers.end()) {
            busy.live.push_back(h);
        }
    }
    bool ok = RunCase(empty, runs, nmap);
    ok = RunCase(few, runs, nmap) && ok;
    ok = RunCase(busy, runs, nmap) && ok;
    ok = RunRouted(nmap, baseline) && ok;
    return ok ? 0 : 1;
}
