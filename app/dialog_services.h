#pragma once
// What the main dialog needs from outside itself, gathered so production can
// hand it the real network and clock and tests can hand it fakes.

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

#include "discovery/netbios_sweep.h"
#include "net/echo_probe.h"
#include "platform/clock.h"
#include "platform/ipv4_address.h"
#include "platform/socket.h"
#include "platform/terminal.h"
#include "platform/thread.h"

namespace vorpane {

namespace ui {
class WindowSystem;
}
class PrinterLink;

struct DialogServices {
    ui::WindowSystem* ws = nullptr;
    PrinterLink* link = nullptr;
    ProberFactory makeProber;
    // Deletes the ARP-cache row of the address: 1 deleted or none there, 0
    // the cache could not be read or the deletion was refused.
    std::function<int32_t(Ipv4Address)> purgeArp;
    // Local time now.
    std::function<std::tm()> localTime = SystemLocalTime;
    // Ping's terminal window; null when no terminal can be started.
    TerminalLauncher startInTerminal = StartInTerminal;
    // The C runtime generator and the calendar clock that seeds it, behind
    // the new MAC address.
    std::function<void(unsigned)> seedRandom = [](unsigned seed) { std::srand(seed); };
    std::function<int()> drawRandom = [] { return std::rand(); };
    std::function<std::time_t()> calendarTime = [] { return std::time(nullptr); };
    // Socket, destination and clock of the scan's NetBIOS sweep.
    NetbiosSweepServices netbios;
    // Starts one scan worker; nullopt when no thread could be started.
    ThreadStarter startThread = StartSystemThread;
    // Starts the system's socket library for the main dialog's lifetime.
    std::function<std::unique_ptr<SocketLibrary>()> startSockets = [] {
        return std::make_unique<SocketLibrary>();
    };
};

// Services of the real system: the echo probe and the ARP table (see
// posix/system_services.h and windows/system_services.cpp for how each
// system gets them). The window system and the printer link come from the
// caller.
DialogServices MakeSystemServices(ui::WindowSystem& ws, PrinterLink& link);

}  // namespace vorpane
