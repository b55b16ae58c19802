#pragma once
// The subnet scan: the NetBIOS sweep on the UI thread, then 17 workers that
// probe the subnet's hosts and ask the printer library about every live one.
// The scan owns both host lists; it reaches the window it runs in only
// through a ScanSite.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "discovery/host_list.h"
#include "discovery/netbios_sweep.h"
#include "net/echo_probe.h"
#include "platform/ipv4_address.h"
#include "platform/thread.h"
#include "printer_link/printer_link.h"

namespace vorpane {

// A scan covers the /24 network of the address the window shows.
inline constexpr int kScanPrefixLength = 24;
// Host numbers 2..254 in blocks of 15, one worker per block: 17 workers,
// the last one covering 242..254.
inline constexpr int32_t kScanFirstHost = 2;
inline constexpr int32_t kScanBlockSize = 15;
inline constexpr int32_t kScanLastHost = 254;
inline constexpr int32_t kScanHostCount = kScanLastHost - kScanFirstHost + 1;
inline constexpr int32_t kScanWorkerCount = (kScanHostCount + kScanBlockSize - 1) / kScanBlockSize;
inline constexpr int32_t kScanProbeTimeoutMs = 500;
// The progress bar runs 0..100; each host done moves it 100/254, not
// 100/253, so that all 253 hosts read 100 once rounded.
inline constexpr int32_t kScanProgressUpper = 100;
inline constexpr double kScanProgressPerHost = double{kScanProgressUpper} / kScanLastHost;

// Bar position after `hostsDone` hosts, rounded to the nearest integer.
int32_t ScanProgressPosition(int32_t hostsDone);

// What the scan needs from the window it runs in.
class ScanSite {
public:
    virtual ~ScanSite() = default;
    // Runs fn on the UI thread and returns when it has run.
    virtual void RunOnUi(const std::function<void()>& fn) = 0;
    // On the UI thread: serves RunOnUi requests until done() holds.
    virtual void ServeUntil(const std::function<bool()>& done) = 0;
    // Any thread: deletes the ARP row of the address the window shows.
    virtual int32_t PurgeArpEntry() = 0;
    // UI thread: a printer at `address` joins the printer list as its
    // selection.
    virtual void AddPrinter(const std::string& address) = 0;
    // Any thread: the progress bar's position.
    virtual void SetProgress(int32_t position) = 0;
    // UI thread: the window as a scan leaves it; showing it again changes
    // nothing.
    virtual void ShowScanEnded() = 0;
};

struct ScanServices {
    PrinterLink* link = nullptr;
    ProberFactory makeProber;
    ThreadStarter startThread = StartSystemThread;
    NetbiosSweepServices netbios;
};

class SubnetScan {
public:
    SubnetScan(ScanSite& site, ScanServices services);
    // Joins the threads; WaitForWorkers must have run.
    ~SubnetScan();
    SubnetScan(const SubnetScan&) = delete;
    SubnetScan& operator=(const SubnetScan&) = delete;

    // 1 from Start until the scan ends or is cancelled.
    int IsRunning() const { return m_scanRunning.load(); }
    // Above 0 while any worker runs: the busy signal.
    int32_t ActiveWorkers() const { return m_activeWorkers.load(); }

    // Sweeps the NetBIOS list afresh; false when the sweep's socket could
    // not be had (the list stays empty).
    bool SweepNetbiosHosts();
    int IsNetbiosHost(const std::string& address) const;
    const HostList& NetbiosHosts() const { return m_netbiosHosts; }
    // A copy of the live hosts, safe while workers append.
    std::vector<std::string> AliveHostsCopy();

    // Starts the workers over hosts 2..254 of the /24 of `address`.
    void Start(Ipv4Address address);
    // Scan pressed during a scan: workers stop after their current host.
    void Cancel();
    // Cancels a running scan and waits for its workers, serving their
    // requests meanwhile, then joins every thread.
    void WaitForWorkers();

private:
    friend struct ScanTestAccess;
    struct ScanJob {
        SubnetScan* scan;
        int32_t firstHost;
    };
    static void Work(ScanJob* job);
    void Complete();

    ScanSite& m_site;
    ScanServices m_services;
    std::atomic<int> m_cancelScan{0};
    std::atomic<int> m_scanRunning{0};
    Ipv4Address m_subnet;
    std::atomic<int32_t> m_hostsDone{0};
    std::atomic<int32_t> m_activeWorkers{0};
    HostList m_netbiosHosts;
    HostList m_aliveHosts;  // guarded by m_aliveHostsLock
    std::mutex m_aliveHostsLock;
    // Threads of the current and earlier scans, joined once they have ended.
    std::vector<std::thread> m_workerThreads;
};

}  // namespace vorpane
