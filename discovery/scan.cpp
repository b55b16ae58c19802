// Every window operation of a worker goes through RunOnUi, which waits for
// the UI thread; so a worker's operations land in its own order, and the UI
// thread must serve requests whenever it waits for workers.

#include "discovery/scan.h"

#include <memory>

namespace vorpane {

int32_t ScanProgressPosition(int32_t hostsDone) {
    return static_cast<int32_t>(static_cast<double>(hostsDone) * kScanProgressPerHost + 0.5);
}

SubnetScan::SubnetScan(ScanSite& site, ScanServices services)
    : m_site(site), m_services(std::move(services)) {}

SubnetScan::~SubnetScan() {
    for (auto& t : m_workerThreads) {
        if (t.joinable()) {
            t.join();
        }
    }
}

bool SubnetScan::SweepNetbiosHosts() {
    m_netbiosHosts.Clear();
    const NetbiosSweepResult swept = RunNetbiosSweep(m_services.netbios);
    for (const auto& host : swept.hosts) {
        m_netbiosHosts.Add(host);
    }
    return !swept.socketFailed;
}

int SubnetScan::IsNetbiosHost(const std::string& address) const {
    const int32_t count = m_netbiosHosts.GetSize();
    for (int32_t i = 0; i < count; ++i) {
        if (m_netbiosHosts.GetAt(i) == address) {
            return 1;
        }
    }
    return 0;
}

std::vector<std::string> SubnetScan::AliveHostsCopy() {
    std::lock_guard lock(m_aliveHostsLock);
    std::vector<std::string> out;
    out.reserve(static_cast<size_t>(m_aliveHosts.GetSize()));
    for (int32_t i = 0; i < m_aliveHosts.GetSize(); ++i) {
        out.push_back(m_aliveHosts.GetAt(i));
    }
    return out;
}

void SubnetScan::Cancel() {
    m_scanRunning = 0;
    m_cancelScan = 1;
}

void SubnetScan::Start(Ipv4Address address) {
    m_scanRunning = 1;
    m_subnet = address.Network(kScanPrefixLength);
    m_hostsDone = 0;
    m_activeWorkers = 0;
    m_cancelScan = 0;

    // Threads of earlier scans are all past their last step by now.
    for (auto& t : m_workerThreads) {
        t.join();
    }
    m_workerThreads.clear();

    bool allStarted = true;
    for (int32_t firstHost = kScanFirstHost; firstHost <= kScanLastHost;
         firstHost += kScanBlockSize) {
        auto job = std::make_unique<ScanJob>(ScanJob{this, firstHost});
        ScanJob* raw = job.get();
        m_activeWorkers.fetch_add(1);
        std::optional<std::thread> thread = m_services.startThread([raw] { Work(raw); });
        if (!thread) {
            m_activeWorkers.fetch_sub(1);
            allStarted = false;
            break;  // the job goes with `job`
        }
        job.release();  // the worker frees it
        m_workerThreads.push_back(std::move(*thread));
    }
    if (!allStarted) {
        // The hosts of a block without a worker are never counted, so the
        // scan could not complete: end it as a cancel. Workers that did
        // start only get to their completion check after we return, so they
        // all see the flag; with none running, complete here.
        m_cancelScan = 1;
        if (m_activeWorkers.load() == 0) {
            Complete();
        }
    }
}

void SubnetScan::Work(ScanJob* job) {
    SubnetScan& s = *job->scan;
    for (int32_t i = 0; i < kScanBlockSize; ++i) {
        const int32_t host = job->firstHost + i;
        if (s.m_cancelScan.load() != 0 || host > kScanLastHost) {
            break;
        }
        // Acts on the address the window shows, not on this host.
        s.m_site.PurgeArpEntry();
        const std::string address =
            s.m_subnet.WithHostNumber(kScanPrefixLength, static_cast<uint32_t>(host)).Text();
        // A probe that cannot be made counts like an answer, so the library
        // still gets asked.
        if (s.IsNetbiosHost(address) == 0 &&
            ProbeOnce(s.m_services.makeProber, address, kScanProbeTimeoutMs) != 0) {
            {
                std::lock_guard lock(s.m_aliveHostsLock);
                s.m_aliveHosts.Add(address);
            }
            if (s.m_services.link->IsConPrinterServer(address.c_str()) != 0) {
                s.m_site.RunOnUi([&] { s.m_site.AddPrinter(address); });
            }
        }
        s.m_hostsDone.fetch_add(1);
        s.m_site.SetProgress(ScanProgressPosition(s.m_hostsDone.load()));
    }
    // Decided on the UI thread, where the cancel flag is set, so a cancel
    // made while this worker was being started is always seen here.
    s.m_site.RunOnUi([&s] {
        if (s.m_hostsDone.load() >= kScanHostCount || s.m_cancelScan.load() != 0) {
            s.Complete();
        }
    });
    s.m_activeWorkers.fetch_sub(1);
    // Past the decrement the scan may be going away; only the job is ours.
    delete job;
}

void SubnetScan::Complete() {
    m_site.ShowScanEnded();
    m_scanRunning = 0;
}

void SubnetScan::WaitForWorkers() {
    if (m_activeWorkers.load() > 0) {
        m_cancelScan = 1;
        m_site.ServeUntil([this] { return m_activeWorkers.load() == 0; });
    }
    // Past their last decrement workers make no more requests, so joining
    // cannot wait on the UI thread.
    for (auto& t : m_workerThreads) {
        if (t.joinable()) {
            t.join();
        }
    }
    m_workerThreads.clear();
}

}  // namespace vorpane
