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
#include "lab_fixture.h"
#include "virtual_printer/virtual_printer.h"

namespace vorpane::scanlab {

struct ScanRun {
    bool entered = false;   // the client namespace could be joined
    bool finished = false;  // every worker ended within the deadline
    // From the click that confirms the scan to the last worker's end.
    double totalMs = 0;
    std::vector<std::string> printers;  // list items in order
    std::string addressAfter;           // control 1000
    int32_t progressAfter = -1;
    std::vector<std::string> alive;  // m_aliveHosts
};

// What a caller may hook into a run (the scan benchmark times it): the
// system's services before the dialog is made, the return of the Scan click,
// and every return of the UI thread to serving the workers.
struct ScanHooks {
    std::function<void(DialogServices&)> adjust;
    std::function<void()> clicked;
    std::function<void()> serving;
};

// Types `addressInControl` into control 1000, presses Scan, confirms, and
// serves the workers until they have all ended.
ScanRun RunScanInClient(lab::Lab& lab, const std::string& addressInControl,
                        std::chrono::milliseconds deadline = std::chrono::seconds(60),
                        const ScanHooks& hooks = {});

// The same on the calling thread, in whatever namespace it is.
ScanRun RunScanHere(const std::string& addressInControl,
                    std::chrono::milliseconds deadline = std::chrono::seconds(60),
                    const ScanHooks& hooks = {});

// Starts a virtual printer on address:port inside namespace `ns`, with the
// NetBIOS responder when asked; null with `error` set when it cannot start.
std::unique_ptr<VirtualPrinter> StartPrinter(lab::Lab& lab, const std::string& ns,
                                             const std::string& address, bool netbios,
                                             std::string& error, uint16_t port = 9100);

// Routes `prefix` ("198.19.0.0/16") from the client to lab host `via`, a
// namespace of its own that drops everything sent there and answers
// nothing: a routed network whose hosts are all silent.
bool RouteToSilentPrefix(lab::Lab& lab, const std::string& prefix, int via, std::string& error);

}  // namespace vorpane::scanlab
