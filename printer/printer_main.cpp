#include "printer/printer_main.h"

#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/program_arguments.h"
#include "platform/socket.h"
#include "platform/whole_file.h"
#include "printer/control_input.h"
#include "printer/printer_cli.h"
#include "virtual_printer/receipt_files.h"

namespace vorpane {
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

// Serves control lines until quit, a stop request or RequestStop.
void ServeControlLines(ControlInput& control, VirtualPrinter& printer) {
    std::string pending;
    for (;;) {
        char buf[4096];
        const int64_t n = control.Read(buf, sizeof buf);
        if (n < 0) {
            return;
        }
        if (n == 0) {
            continue;  // keep serving until a stop request
        }
        pending.append(buf, static_cast<size_t>(n));
        size_t newline;
        while ((newline = pending.find('\n')) != std::string::npos) {
            std::string_view line = std::string_view(pending).substr(0, newline);
            // A line typed into a Windows console ends in CR LF.
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            const auto outcome = ApplyControlLine(printer, line);
            pending.erase(0, newline + 1);
            if (!outcome.reply.empty()) {
                WriteLine(stdout, outcome.reply);
            }
            if (!outcome.error.empty()) {
                WriteLine(stderr, "vorpane-printer: " + outcome.error);
            }
            if (outcome.quit) {
                return;
            }
        }
        if (pending.size() > limits::kMaxControlLine) {
            WriteLine(stderr, "vorpane-printer: control line too long, dropped");
            pending.clear();
        }
    }
}

}  // namespace

int PrinterMain(int argc, char** argv, PrinterWindowHooks* window) {
    const auto parsed = ParsePrinterArguments(ProgramArguments(argc, argv));
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
    if (args.window && window == nullptr && args.renderFile.empty()) {
        return RunWindowProgram(argc, argv);
    }
    // A folder the pictures cannot go to is found now, not at the first receipt.
    if (args.renderFile.empty() && !args.config.renderDir.empty()) {
        if (const std::string error = ReceiptFiles::CheckFolder(args.config.renderDir);
            !error.empty()) {
            std::fprintf(stderr, "vorpane-printer: --render %s\n", error.c_str());
            return 2;
        }
    }

    File journal(args.journalPath.empty() ? stdout : OpenFile(args.journalPath, "w"));
    if (!journal) {
        std::perror(("vorpane-printer: " + args.journalPath).c_str());
        return 1;
    }
    File raw;
    if (!args.rawPath.empty()) {
        raw.reset(OpenFile(args.rawPath, "wb"));
        if (!raw) {
            std::perror(("vorpane-printer: " + args.rawPath).c_str());
            return 1;
        }
    }
    args.config.journalLines = 0;  // the file is the journal
    // Lines gather here (the journal calls both under its lock) and go out
    // in one write a turn, which replies to control lines on standard
    // output cannot split.
    auto lines = std::make_shared<std::string>();
    args.config.journalWriter = [lines](const std::string& line) {
        lines->append(line);
        lines->push_back('\n');
    };
    args.config.journalFlush = [lines, f = journal.get()] {
        std::fwrite(lines->data(), 1, lines->size(), f);
        std::fflush(f);
        lines->clear();
    };
    if (!args.renderFile.empty()) {
        if (args.renderFile == "-") {
            MakeStandardInputBinary();
        }
        // Lines go out as they come (the stream buffers them), so that a
        // long capture's journal never has to fit in memory.
        const std::string error =
            RenderCaptureFile(args, [f = journal.get()](const std::string& line) {
                std::fwrite(line.data(), 1, line.size(), f);
                std::fputc('\n', f);
            });
        std::fflush(journal.get());
        if (!error.empty()) {
            std::fprintf(stderr, "vorpane-printer: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    if (raw) {
        args.config.rawWriter = [f = raw.get()](const uint8_t* data, size_t size) {
            std::fwrite(data, 1, size, f);
            std::fflush(f);
        };
    }
    if (window != nullptr) {
        args.config.paperWatcher = window->paperWatcher;
    }

    const SocketLibrary sockets;
    if (sockets.Error() != 0) {
        std::fprintf(stderr, "vorpane-printer: no sockets (error %d)\n", sockets.Error());
        return 1;
    }
    ControlInput::Opened control = ControlInput::Open();
    if (!control.input) {
        std::fprintf(stderr, "vorpane-printer: %s\n", control.error.c_str());
        return 1;
    }

    auto created = VirtualPrinter::Create(std::move(args.config));
    if (!created.printer) {
        std::fprintf(stderr, "vorpane-printer: %s\n", created.error.c_str());
        return 1;
    }
    VirtualPrinter& printer = *created.printer;
    int status = 0;
    if (window == nullptr) {
        ServeControlLines(*control.input, printer);
    } else {
        // Either side ends both: a quit line closes the window, closing the
        // window ends the control lines.
        std::thread lines([&] {
            ServeControlLines(*control.input, printer);
            window->close();
        });
        status = window->run(printer);
        control.input->RequestStop();
        lines.join();
    }
    printer.Stop();
    return status;
}

}  // namespace vorpane
