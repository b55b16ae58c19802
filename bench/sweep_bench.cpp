// The printer sweep (SweepPort, time-out 500 ms) over a lab /24, against
// nmap's connect-free scan of the same port from the same namespace when nmap
// is installed. Three cases, an empty /24, 20 live hosts (3 printers) and 250
// live hosts (5 printers), several runs each, every run from an empty
// neighbour table.
//
//   sweep_bench [runs]   (as root: it builds its own lab)
//
// One line per case, the medians of its runs:
//   "<case> sweep <ms> nmap <ms> ratio <sweep/nmap> found <n>/<expected>"
// where found counts the printers of the worst run, and a line after it when
// nmap's list of open hosts differed from the sweep's.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "discovery/port_sweep.h"
#include "lab_fixture.h"
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
std::optional<std::set<std::string>> RunNmap(const std::string& ns, const std::string& subnet) {
    const std::string command = "ip netns exec '" + ns + "' nmap -n -p 9100 --open -oG - '" +
                                subnet + ".0/24' </dev/null 2>/dev/null";
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
            result = vorpane::SweepPort(hosts, {9100, 500, 512});
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
                RunNmap(lab->ClientNamespace(), c.subnet);
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

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    if (!Lab::Unavailable().empty()) {
        std::fprintf(stderr, "sweep_bench: %s\n", Lab::Unavailable().c_str());
        return 2;
    }
    const bool nmap = HaveNmap();
    if (!nmap) {
        std::fprintf(stderr, "sweep_bench: no nmap on PATH, the sweep alone is timed\n");
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
    return ok ? 0 : 1;
}
