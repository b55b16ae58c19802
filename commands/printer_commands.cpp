// The payload and one-shot command buttons: Print, Init, Cashdrawer, Cutter,
// Print File and Ping.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>
#include <span>

#include "app/printer_tool_dlg.h"
#include "commands/command_frames.h"
#include "commands/hex_payload.h"
#include "commands/locked_buffer.h"
#include "commands/terminal_launcher.h"
#include "net/unique_fd.h"

namespace vorpane {

namespace {

int32_t Send(PrinterLink& link, const std::string& address, std::span<const uint8_t> bytes) {
    return link.SendData(address.c_str(), bytes.data(), static_cast<int32_t>(bytes.size()));
}

struct Outcome {
    std::string text;
    uint32_t style;
};

std::string Format(const char* format, auto... args) {
    const int n = std::snprintf(nullptr, 0, format, args...);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    std::snprintf(out.data(), out.size() + 1, format, args...);
    return out;
}

Outcome OpenFailed(int error, const std::string& path) {
    return {Format("Open File Failed!Err=%d\n%s", error, path.c_str()), ui::kMbOk};
}

// Reads the whole file into one locked buffer and hands it to the link in a
// single send. The buffer is gone before the caller shows the outcome.
Outcome SendWholeFile(PrinterLink& link, const std::string& address, const std::string& path) {
    // Non-blocking open: a FIFO picked by mistake must not hang the window.
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!fd.valid()) {
        return OpenFailed(errno, path);
    }
    struct stat st {};
    if (fstat(fd.get(), &st) != 0) {
        return OpenFailed(errno, path);
    }
    // A directory opens for reading here but is no file to send.
    if (S_ISDIR(st.st_mode)) {
        return OpenFailed(EISDIR, path);
    }
    // One send takes at most a signed 32-bit count.
    if (st.st_size < 0 || st.st_size > std::numeric_limits<int32_t>::max()) {
        return {Format("The file is too large to send!\n%s", path.c_str()), ui::kMbIconError};
    }
    const auto length = static_cast<uint32_t>(st.st_size);
    std::optional<LockedBuffer> buffer = LockedBuffer::Allocate(length);
    if (!buffer) {
        return {Format("The file is too large to send!\n%s", path.c_str()), ui::kMbIconError};
    }

    uint32_t got = 0;
    while (got < length) {
        const ssize_t n = read(fd.get(), buffer->Data() + got, length - got);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return OpenFailed(errno, path);
        }
        if (n == 0) {
            break;  // the file shrank since it was measured
        }
        got += static_cast<uint32_t>(n);
    }
    fd.reset();

    const int32_t result =
        link.SendData(address.c_str(), buffer->Data(), static_cast<int32_t>(got));
    buffer.reset();

    const int32_t sent = result > 0 ? result : 0;
    if (got < length) {
        return {Format("Read File Failed!Read %u of %u bytes, sent %d of %u bytes\n%s", got, length,
                       sent, got, path.c_str()),
                ui::kMbIconError};
    }
    if (result != static_cast<int32_t>(length)) {
        return {Format("Send Failed!Sent %d of %u bytes\n%s", sent, length, path.c_str()),
                ui::kMbIconError};
    }
    return {"Send finished!", ui::kMbOk};
}

}  // namespace

int CPrinterToolDlg::HexDigitValue(unsigned char ch) {
    return HexDigitValueOf(ch);
}

int CPrinterToolDlg::HexPairToByte(const std::string& text) {
    return HexPairValue(text);
}

void* CPrinterToolDlg::AllocLockedBuffer(uint32_t size) {
    return AllocLockedPages(size);
}

int CPrinterToolDlg::FreeLockedBuffer(void* pointer, uint32_t size) {
    FreeLockedPages(pointer, size);
    return 1;
}

void CPrinterToolDlg::OnPrint() {
    const auto address = GetOnlinePrinterAddress();
    if (!address) {
        return;
    }
    if (m_hexCheck.GetCheck() == 0) {
        Send(*m_services.link, *address,
             {reinterpret_cast<const uint8_t*>(m_editText.data()), m_editText.size()});
    } else {
        // Even a text without digits goes out, as a send of length 0.
        const std::vector<uint8_t> bytes = ParseHexPayload(m_editText);
        Send(*m_services.link, *address, bytes);
    }
}

void CPrinterToolDlg::OnInit() {
    if (const auto address = GetOnlinePrinterAddress()) {
        Send(*m_services.link, *address, kInitFrame);
    }
}

void CPrinterToolDlg::OnCashDrawer() {
    if (const auto address = GetOnlinePrinterAddress()) {
        Send(*m_services.link, *address, kCashDrawerFrame);
    }
}

void CPrinterToolDlg::OnCutter() {
    if (const auto address = GetOnlinePrinterAddress()) {
        // The cut goes out whatever became of the text.
        Send(*m_services.link, *address, kCutTextFrame);
        Send(*m_services.link, *address, kCutFrame);
    }
}

void CPrinterToolDlg::OnPrintFile() {
    const auto address = GetOnlinePrinterAddress();
    if (!address) {
        return;
    }
    // "*.*" would hide names without a dot here, so the pattern is "*".
    const ui::OpenFileRequest request{"", "All Files (*.*)", "*"};
    const std::optional<std::string> path = GetWindowSystem().GetOpenFileName(GetWindow(), request);
    if (!path) {
        return;
    }
    const Outcome outcome = SendWholeFile(*m_services.link, *address, *path);
    MessageBox(outcome.text, outcome.style);
    // The file dialog may have moved the current directory.
    (void)chdir(g_startDir.c_str());
}

void CPrinterToolDlg::OnPing() {
    UpdateData(true);
    const std::string address = m_ipCtrl.GetWindowText();
    // Plain "ping ADDRESS" repeats until the user stops it in its window.
    std::unique_ptr<TerminalProcess> ping =
        m_services.startInTerminal ? m_services.startInTerminal({"ping", address}) : nullptr;
    if (!ping) {
        MessageBox("Cannot start ping: no terminal emulator found!", ui::kMbIconError);
        return;
    }
    // The window keeps painting but takes no input until ping's window ends.
    GetWindowSystem().ServeUntil([&] { return ping->Finished(); });
}

}  // namespace vorpane
