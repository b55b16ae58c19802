// The Scan button: NetBIOS sweep on the UI thread, then 17 workers that
// probe the subnet's hosts and ask the printer library about every live one.
//
// Every control operation of a worker goes through RunOnUi, which waits for
// the UI thread; so a worker's operations land in its own order, and the UI
// thread must serve requests whenever it waits for workers.

#include "discovery/scan.h"

#include <cstdio>
#include <memory>
#include <system_error>

#include "app/printer_tool_dlg.h"

namespace vorpane {

int32_t ScanProgressPosition(int32_t hostsDone) {
    return static_cast<int32_t>(static_cast<double>(hostsDone) * 0.39370078740157477 + 0.5);
}

std::optional<std::thread> StartSystemThread(std::function<void()> fn) {
    try {
        return std::thread(std::move(fn));
    } catch (const std::system_error&) {
        return std::nullopt;
    }
}

void CPrinterToolDlg::OnScan() {
    // Workers of the previous scan may still be finishing their host after a
    // cancel; a new scan would reset the counters and the prefix under them.
    if (m_scanRunning.load() == 0 && IsScanBusy()) {
        return;
    }
    m_scanRunning = m_scanRunning.load() == 0 ? 1 : 0;
    if (m_scanRunning.load() == 0) {
        // The caption stays "Cancel" until a worker has stopped.
        m_cancelScan = 1;
        return;
    }
    if (MessageBox("Are you sure to scan the printers?", ui::kMbOkCancel | ui::kMbIconQuestion) !=
        ui::kIdOk) {
        m_scanRunning = 0;
        return;
    }
    m_scanButton.SetWindowText("Cancel");
    EnableActionButtons(0);
    m_printerCombo.ResetContent();
    SweepNetbiosHosts();
    UpdateData(true);
    const auto octets = m_ipCtrl.GetAddress();
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%d.%d.%d.", octets[0], octets[1], octets[2]);
    m_subnetPrefix = prefix;
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
        std::optional<std::thread> thread = m_services.startThread([raw] { ScanWorker(raw); });
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
            CompleteScan();
        }
    }
}

void CPrinterToolDlg::ScanWorker(ScanJob* job) {
    CPrinterToolDlg& d = *job->dialog;
    for (int32_t i = 0; i < kScanBlockSize; ++i) {
        const int32_t host = job->firstHost + i;
        if (d.m_cancelScan.load() != 0 || host > kScanLastHost) {
            break;
        }
        // Acts on the address in control 1000, not on this host.
        d.PurgeArpEntry();
        const std::string address = d.m_subnetPrefix + std::to_string(host);
        if (d.IsNetbiosHost(address) == 0) {
            std::unique_ptr<EchoProber> prober =
                d.m_services.makeProber ? d.m_services.makeProber() : nullptr;
            // A probe that cannot be made counts like an answer, so the
            // library still gets asked.
            const int32_t result = prober ? prober->Probe(address, kScanProbeTimeoutMs) : -1;
            if (result != 0) {
                {
                    std::lock_guard lock(d.m_aliveHostsLock);
                    d.m_aliveHosts.Add(address);
                }
                if (d.m_services.link->IsConPrinterServer(address.c_str()) != 0) {
                    d.RunOnUi([&] {
                        d.m_printerCombo.AddString(address);
                        d.m_printerCombo.SetCurSel(d.m_printerCombo.GetCount() - 1);
                    });
                }
            }
        }
        d.m_hostsDone.fetch_add(1);
        d.m_progress.SetPos(ScanProgressPosition(d.m_hostsDone.load()));
    }
    // Decided on the UI thread, where the cancel flag is set, so a cancel
    // made while this worker was being started is always seen here.
    d.RunOnUi([&d] {
        if (d.m_hostsDone.load() >= kScanHostCount || d.m_cancelScan.load() != 0) {
            d.CompleteScan();
        }
    });
    d.m_activeWorkers.fetch_sub(1);
    // Past the decrement the dialog may be going away; only the job is ours.
    delete job;
}

void CPrinterToolDlg::CompleteScan() {
    if (m_printerCombo.GetCount() > 0) {
        m_ipCtrl.SetWindowText(m_printerCombo.GetLBText(0));
    }
    m_progress.SetPos(0);
    m_scanButton.SetWindowText("Scan");
    EnableActionButtons(1);
    m_scanRunning = 0;
}

}  // namespace vorpane
