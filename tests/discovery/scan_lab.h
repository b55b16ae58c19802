#pragma once
// A whole scan by the real main dialog, with real sockets, inside a lab's
// client namespace: the headless window system plays the user and the UI
// thread. Shared by the lab test and the scan benchmark.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/dialog_services.h"
#include "emulator/virtual_printer.h"
#include "lab_fixture.h"

namespace vorpane::scanlab {

struct ScanRun {
    bool entered = false;   // the client namespace could be joined
    bool finished = false;  // every worker ended within the deadline
    // From the click that confirms the scan to the last worker's end.
    double totalMs = 0;
    // The NetBIOS sweep's share of that (socket opened to socket closed).
    double sweepMs = 0;
    // Longest time the UI thread did not come back to serve, the sweep
    // excepted, and the CPU time the UI thread itself used in that time
    // (far less than the stall: the thread was waiting for a core).
    double longestStallMs = 0;
    double longestStallBusyMs = 0;

    std::vector<std::string> printers;  // list items in order
    std::string addressAfter;           // control 1000
    int32_t progressAfter = -1;
    std::vector<std::string> alive;  // m_aliveHosts
};

// Types `addressInControl` into control 1000, presses Scan, confirms, and
// serves the workers until they have all ended. `adjust` may wrap the
// system's services (to time the probes, say) before the dialog is made.
ScanRun RunScanInClient(lab::Lab& lab, const std::string& addressInControl,
                        std::chrono::milliseconds deadline = std::chrono::seconds(60),
                        const std::function<void(DialogServices&)>& adjust = nullptr);

// The same on the calling thread, in whatever namespace it is.
ScanRun RunScanHere(const std::string& addressInControl,
                    std::chrono::milliseconds deadline = std::chrono::seconds(60),
                    const std::function<void(DialogServices&)>& adjust = nullptr);

// Starts a virtual printer on address:9100 inside namespace `ns`, with the
// NetBIOS responder when asked; null with `error` set when it cannot start.
std::unique_ptr<VirtualPrinter> StartPrinter(lab::Lab& lab, const std::string& ns,
                                             const std::string& address, bool netbios,
                                             std::string& error);

}  // namespace vorpane::scanlab
