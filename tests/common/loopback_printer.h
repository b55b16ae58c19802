#pragma once
// A virtual printer on 127.0.0.1 for tests that talk to it over real sockets.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "virtual_printer/virtual_printer.h"

namespace vorpane {

// Port 0 lets the system pick a free port; `adjust` may change the rest.
inline std::unique_ptr<VirtualPrinter> StartLoopbackPrinter(
    const std::function<void(VirtualPrinterConfig&)>& adjust = nullptr) {
    VirtualPrinterConfig config;
    config.listenAddresses = {"127.0.0.1"};
    config.port = 0;
    if (adjust) {
        adjust(config);
    }
    auto created = VirtualPrinter::Create(std::move(config));
    EXPECT_TRUE(created.printer) << created.error;
    return std::move(created.printer);
}

}  // namespace vorpane
