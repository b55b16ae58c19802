// vorpane-printer: a virtual ESC/POS network printer for trying the tool and
// its tests without hardware.

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "emulator/printer_cli.h"
#include "emulator/virtual_printer.h"
#include "platform/unique_fd.h"

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const {
        if (f != nullptr && f != stdout) {
            std::fclose(f);
        }
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

void WriteLine(std::FILE* f, const std::string& line) {
    const std::string whole = line + "\n";
    std::fwrite(whole.data(), 1, whole.size(), f);
    std::fflush(f);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace vorpane;
    const auto parsed = ParsePrinterArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.arguments) {
        std::fprintf(stderr, "vorpane-printer: %s\nTry 'vorpane-printer --help'.\n",
                     parsed.error.c_str());
        return 2;
    }
    PrinterArguments args = *parsed.arguments;
    if (args.help) {
        std::fputs(PrinterUsage().c_str(), stdout);
        return 0;
    }

    File journal(args.journalPath.empty() ? stdout : std::fopen(args.journalPath.c_str(), "w"));
    if (!journal) {
        std::perror(("vorpane-printer: " + args.journalPath).c_str());
        return 1;
    }
    File raw;
    if (!args.rawPath.empty()) {
        raw.reset(std::fopen(args.rawPath.c_str(), "wb"));
        if (!raw) {
            std::perror(("vorpane-printer: " + args.rawPath).c_str());
            return 1;
        }
    }
    args.config.journalLines = 0;  // the file is the journal
    args.config.journalWriter = [f = journal.get()](const std::string& line) {
        WriteLine(f, line);
    };
    if (raw) {
        args.config.rawWriter = [f = raw.get()](const uint8_t* data, size_t size) {
            std::fwrite(data, 1, size, f);
            std::fflush(f);
        };
    }

    // Signals are read from a descriptor next to standard input, so the main
    // loop has one place to wait and the printer stops cleanly.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    UniqueFd signals(::signalfd(-1, &stopSignals, SFD_CLOEXEC));
    if (!signals.valid()) {
        std::perror("vorpane-printer: signalfd");
        return 1;
    }

    auto created = VirtualPrinter::Create(std::move(args.config));
    if (!created.printer) {
        std::fprintf(stderr, "vorpane-printer: %s\n", created.error.c_str());
        return 1;
    }
    VirtualPrinter& printer = *created.printer;

    bool stdinOpen = true;
    std::string pending;
    for (;;) {
        pollfd fds[2] = {{signals.get(), POLLIN, 0}, {stdinOpen ? 0 : -1, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (fds[0].revents != 0) {
            break;
        }
        if (fds[1].revents == 0) {
            continue;
        }
        char buf[4096];
        const ssize_t n = ::read(0, buf, sizeof buf);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            stdinOpen = false;  // keep serving until a signal
            continue;
        }
        pending.append(buf, static_cast<size_t>(n));
        bool quit = false;
        size_t newline;
        while (!quit && (newline = pending.find('\n')) != std::string::npos) {
            const auto outcome =
                ApplyControlLine(printer, std::string_view(pending).substr(0, newline));
            pending.erase(0, newline + 1);
            if (!outcome.reply.empty()) {
                WriteLine(stdout, outcome.reply);
            }
            if (!outcome.error.empty()) {
                WriteLine(stderr, "vorpane-printer: " + outcome.error);
            }
            quit = outcome.quit;
        }
        if (quit) {
            break;
        }
        if (pending.size() > 4096) {
            WriteLine(stderr, "vorpane-printer: control line too long, dropped");
            pending.clear();
        }
    }
    printer.Stop();
    return 0;
}
