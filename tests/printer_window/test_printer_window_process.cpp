// vorpane-printer --window from outside: it starts the Qt window program,
// which serves as the printer does and ends on a quit line; only the window
// program loads Qt.

#include <signal.h>

#include <cstdio>

#include "printer_client.h"

namespace vorpane {
namespace {

TEST(PrinterWindowProcess, WindowOptionStartsTheWindowAndQuitOrASignalEndsIt) {
    PrinterProcess process({"--window", "--port", "0", "--listen", "127.0.0.1"});
    const auto listening = ReadLine(process.io[1], "listening on 127.0.0.1:");
    ASSERT_TRUE(listening);
    Client client(static_cast<uint16_t>(std::stoi(listening->substr(23))));
    client.Send({0x10, 0x04, 1});
    EXPECT_EQ(client.Receive(), Bytes{0x12});
    process.Write("quit\n");
    EXPECT_EQ(process.Wait(), 0);
    // SIGTERM ends it as quit does, whichever of its threads takes it.
    PrinterProcess stopped({"--window", "--port", "0", "--listen", "127.0.0.1"});
    ASSERT_TRUE(ReadLine(stopped.io[1], "listening on 127.0.0.1:"));
    ::kill(stopped.pid, SIGTERM);
    EXPECT_EQ(stopped.Wait(), 0);

    // Only the window program loads Qt.
    const auto libraries = [](const std::string& program) {
        std::string out;
        if (std::FILE* ldd = ::popen(("ldd " + program).c_str(), "r")) {
            char buf[4096];
            for (size_t n; (n = std::fread(buf, 1, sizeof buf, ldd)) > 0;) {
                out.append(buf, n);
            }
            ::pclose(ldd);
        }
        return out;
    };
    EXPECT_EQ(libraries(VORPANE_PRINTER_EXE).find("libQt"), std::string::npos);
    EXPECT_NE(libraries(VORPANE_PRINTER_WINDOW_EXE).find("libQt6Widgets"), std::string::npos);
}

}  // namespace
}  // namespace vorpane
