// vorpane.exe driven from outside, as a user would, against vorpane-printer.exe
// on a loopback address: the address goes into the IP control before any
// button is pressed, then Test, Print (the test page, typed text, hex),
// Init, Cashdrawer, Cutter, Print File and Status with its monitor. The
// printer's raw capture must hold the bytes the shared command code gives
// on Linux, in order. In the Chinese ANSI page (936) Chinese text is typed
// too, and the printer's journal must show it as Chinese. Scan is never
// pressed: its sweep broadcasts.

#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/main_dialog_template.h"
#include "app/printer_tool_dlg.h"
#include "commands/command_frames.h"
#include "platform/windows/command_line.h"
#include "status/status_dialog_template.h"
#include "ui/win32/win32_text.h"

namespace vorpane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kBoxText = 0xFFFF;
constexpr int kFileNameCombo = 0x47C;
constexpr int kFileNameEdit = 0x480;

// Waits for `done`, serving this thread's messages, until the deadline.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 20s) {
    const auto deadline = Clock::now() + limit;
    while (!done()) {
        if (Clock::now() >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    return true;
}

std::filesystem::path Here() {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    return std::filesystem::path(path).parent_path();
}

// A child process, its standard input a pipe of ours when asked.
struct Child {
    PROCESS_INFORMATION info{};
    HANDLE input = nullptr;

    Child(const std::filesystem::path& program, const std::vector<std::string>& args,
          bool pipedInput) {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE childInput = nullptr;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (pipedInput) {
            CreatePipe(&childInput, &input, &inherit, 0);
            SetHandleInformation(input, HANDLE_FLAG_INHERIT, 0);
            startup.dwFlags = STARTF_USESTDHANDLES;
            startup.hStdInput = childInput;
            startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
            startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        }
        std::vector<std::string> argv{program.string()};
        argv.insert(argv.end(), args.begin(), args.end());
        std::wstring line = windows::BuildCommandLine(argv);
        EXPECT_TRUE(CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr,
                                   pipedInput, 0, nullptr, nullptr, &startup, &info))
            << program;
        if (childInput != nullptr) {
            CloseHandle(childInput);
        }
    }
    ~Child() {
        if (info.hProcess != nullptr && WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info.hProcess, 99);
        }
        for (HANDLE h : {info.hProcess, info.hThread, input}) {
            if (h != nullptr) {
                CloseHandle(h);
            }
        }
    }
    void Write(const std::string& text) {
        DWORD written = 0;
        WriteFile(input, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    }
    // The exit code once the process ended within `limit`, else -1.
    long Ended(std::chrono::milliseconds limit = 20s) {
        DWORD code = 0;
        if (WaitForSingleObject(info.hProcess, static_cast<DWORD>(limit.count())) !=
                WAIT_OBJECT_0 ||
            !GetExitCodeProcess(info.hProcess, &code)) {
            return -1;
        }
        return static_cast<long>(code);
    }
};

// The process's visible top-level window that `match` accepts, or null.
HWND FindWindowOf(DWORD process, const std::function<bool(HWND)>& match) {
    struct Search {
        DWORD process;
        const std::function<bool(HWND)>* match;
        HWND found = nullptr;
    } search{process, &match};
    EnumWindows(
        [](HWND h, LPARAM l) -> BOOL {
            auto* s = reinterpret_cast<Search*>(l);
            DWORD owner = 0;
            GetWindowThreadProcessId(h, &owner);
            if (owner == s->process && IsWindowVisible(h) && (*s->match)(h)) {
                s->found = h;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class VorpaneOnWindows : public ::testing::Test {
protected:
    void SetUp() override {
        // Another run on this machine may hold 9100 on its own loopback address.
        address = "127.0.0." + std::to_string(2 + GetCurrentProcessId() % 250);
        const auto dir = std::filesystem::temp_directory_path();
        const std::string tag = std::to_string(GetCurrentProcessId());
        raw = dir / ("vorpane-e2e-raw-" + tag);
        journal = dir / ("vorpane-e2e-journal-" + tag);
        // A name outside the ANSI page of a Western system.
        file = dir / (L"vorpane-e2e-\u6587\u4EF6-" + std::to_wstring(GetCurrentProcessId()));
        printer = std::make_unique<Child>(
            Here() / VORPANE_PRINTER_EXE,
            std::vector<std::string>{"--listen", address, "--port", "9100", "--raw", raw.string(),
                                     "--journal", journal.string()},
            true);
        ASSERT_TRUE(WaitFor([&] { return Journal().find("listening on") != std::string::npos; }))
            << Journal();
        app = std::make_unique<Child>(Here() / VORPANE_EXE, std::vector<std::string>{}, false);
        // The title is set last when the window starts.
        ASSERT_TRUE(WaitFor([&] {
            main = FindWindowOf(app->info.dwProcessId,
                                [](HWND h) { return win32::WindowText(h) == "Vorpane V2.1"; });
            return main != nullptr;
        }));
    }
    void TearDown() override {
        app.reset();
        printer.reset();
        for (const auto& path : {raw, journal, file}) {
            std::filesystem::remove(path);
        }
    }

    std::string Journal() const {
        std::ostringstream text;
        text << std::ifstream(journal).rdbuf();
        return text.str();
    }
    std::string Raw() const {
        std::ostringstream bytes;
        bytes << std::ifstream(raw, std::ios::binary).rdbuf();
        return bytes.str();
    }
    bool RawReaches(size_t size) {
        return WaitFor([&] { return Raw().size() >= size; });
    }

    HWND Control(int id) const { return GetDlgItem(main, id); }
    // What a click on the button sends its dialog; posted, so that a modal
    // box the handler opens does not hold us up.
    void Press(HWND dialog, int id) {
        PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    }
    // The program's window that holds one of `controls`, once it is up.
    HWND Dialog(std::initializer_list<int> controls) {
        HWND found = nullptr;
        WaitFor([&] {
            found = FindWindowOf(app->info.dwProcessId, [&](HWND h) {
                return std::any_of(controls.begin(), controls.end(),
                                   [&](int id) { return GetDlgItem(h, id) != nullptr; });
            });
            return found != nullptr;
        });
        return found;
    }
    // The text of the message box that comes up next; the box is closed.
    std::string NextBox() {
        const HWND box = Dialog({kBoxText});
        if (box == nullptr) {
            return "(no box)";
        }
        const std::string text = win32::WindowText(GetDlgItem(box, kBoxText));
        Press(box, IDOK);
        WaitFor([&] { return !IsWindow(box); });
        return text;
    }

    std::string address;
    std::filesystem::path raw, journal, file;
    std::unique_ptr<Child> printer, app;
    HWND main = nullptr;
};

TEST_F(VorpaneOnWindows, EveryPrinterActionSendsTheBytesOfLinux) {
    // The address first: the window starts with 192.168.1.10. Typed as a
    // user does, into the cleared control, each key where the focus is.
    const HWND ip = Control(IDC_IP);
    SendMessageW(ip, IPM_CLEARADDRESS, 0, 0);
    SendMessageW(ip, IPM_SETFOCUS, 0, 0);
    for (const char key : address) {
        GUITHREADINFO focus{};
        focus.cbSize = sizeof focus;
        ASSERT_TRUE(GetGUIThreadInfo(app->info.dwThreadId, &focus));
        SendMessageW(focus.hwndFocus, WM_CHAR, static_cast<WPARAM>(key), 1);
    }
    ASSERT_EQ(win32::WindowText(ip), address);

    Press(main, IDC_TEST);
    EXPECT_EQ(NextBox(), "Connect success!");

    // The test page as the window shows it, and as Linux builds it.
    std::tm shown{};
    ASSERT_EQ(std::sscanf(win32::WindowText(Control(IDC_PAYLOAD)).c_str(),
                          "Date Time:%d-%d-%d %d:%d:%d", &shown.tm_year, &shown.tm_mon,
                          &shown.tm_mday, &shown.tm_hour, &shown.tm_min, &shown.tm_sec),
              6);
    shown.tm_year += 100;
    shown.tm_mon -= 1;
    std::string expected = BuildTestPage(shown);
    Press(main, IDC_PRINT);
    ASSERT_TRUE(RawReaches(expected.size()));

    SetWindowTextW(Control(IDC_PAYLOAD), L"Hello 1B 40\r\nfrom Windows\r\n");
    Press(main, IDC_PRINT);
    expected += "Hello 1B 40\nfrom Windows\n";
    ASSERT_TRUE(RawReaches(expected.size()));

    // Typed a character at a time, as an input method hands them over (a
    // WM_CHAR would pass through the keyboard's page, which lacks them): in
    // the Chinese page the payload goes out in it, two bytes a character,
    // whatever the window reports as its length.
    const bool chinese = GetACP() == 936;
    if (chinese) {
        const HWND payload = Control(IDC_PAYLOAD);
        SetWindowTextW(payload, L"");
        for (const wchar_t key : std::wstring(L"\u4E2D\u6587\u00E9")) {
            SendMessageW(payload, WM_UNICHAR, key, 1);
        }
        ASSERT_EQ(win32::WindowText(payload), "中文é");
        Press(main, IDC_PRINT);
        expected += "\xD6\xD0\xCE\xC4\xA8\xA6";
        ASSERT_TRUE(RawReaches(expected.size()));
    }

    SendMessageW(Control(IDC_HEX), BM_SETCHECK, BST_CHECKED, 0);
    Press(main, IDC_HEX);
    SetWindowTextW(Control(IDC_PAYLOAD), L"1B 40\r\n41,42;0a 1b6D");
    Press(main, IDC_PRINT);
    expected += "\x1B\x40\x41\x42\x0A\x1B\x6D";
    ASSERT_TRUE(RawReaches(expected.size()));

    for (const auto& [button, frames] : std::vector<std::pair<int, std::string>>{
             {IDC_INIT, {kInitFrame.begin(), kInitFrame.end()}},
             {IDC_CASHDRAWER, {kCashDrawerFrame.begin(), kCashDrawerFrame.end()}},
             {IDC_CUTTER, std::string(kCutTextFrame.begin(), kCutTextFrame.end()) +
                              std::string(kCutFrame.begin(), kCutFrame.end())}}) {
        Press(main, button);
        expected += frames;
        ASSERT_TRUE(RawReaches(expected.size())) << button;
    }

    std::string contents;
    for (int b = 0; b < 256; ++b) {
        contents += static_cast<char>(b);
    }
    std::ofstream(file, std::ios::binary) << contents;
    Press(main, IDC_PRINT_FILE);
    const HWND files = Dialog({kFileNameCombo, kFileNameEdit});
    ASSERT_NE(files, nullptr);
    const int nameBox = GetDlgItem(files, kFileNameCombo) ? kFileNameCombo : kFileNameEdit;
    // The dialog takes a name once it has settled; tried again until it has.
    ASSERT_TRUE(WaitFor([&] {
        SetDlgItemTextW(files, nameBox, file.wstring().c_str());
        Press(files, IDOK);
        return WaitFor([&] { return !IsWindow(files); }, 300ms);
    }));
    EXPECT_EQ(NextBox(), "Send finished!");
    expected += contents;
    ASSERT_TRUE(RawReaches(expected.size()));

    // Status: nothing is read until the monitor runs, then every two seconds.
    Press(main, IDC_STATUS);
    const HWND status = Dialog({IDC_MONITOR});
    ASSERT_NE(status, nullptr);
    Press(status, IDC_MONITOR);
    const std::string request("\x10\x04\x01\x10\x04\x02\x10\x04\x03\x10\x04\x04", 12);
    ASSERT_TRUE(RawReaches(expected.size() + 2 * request.size()));
    EXPECT_EQ(win32::WindowText(GetDlgItem(status, IDC_ONLINE_TEXT)), "On-line");
    EXPECT_EQ(win32::WindowText(GetDlgItem(status, IDC_PAPER_TEXT)), "Have paper");
    Press(status, IDC_MONITOR);
    Press(status, IDCANCEL);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(status); }));

    Press(main, IDCANCEL);
    EXPECT_EQ(app->Ended(), 0);
    printer->Write("quit\n");
    EXPECT_EQ(printer->Ended(), 0);

    const std::string got = Raw();
    ASSERT_GE(got.size(), expected.size() + 2 * request.size());
    EXPECT_EQ(got.substr(0, expected.size()), expected);
    if (chinese) {
        EXPECT_NE(Journal().find("text: 中文é\n"), std::string::npos) << Journal();
    }
    const std::string requests = got.substr(expected.size());
    EXPECT_EQ(requests.size() % request.size(), 0u);
    for (size_t at = 0; at + request.size() <= requests.size(); at += request.size()) {
        EXPECT_EQ(requests.substr(at, request.size()), request) << at;
    }
}

// The installed program, whose path the installer's test passes on: its
// window comes up under its title, and closing it ends the program.
TEST(InstalledProgram, ShowsItsWindowAndEndsWhenClosed) {
    const char* path = std::getenv("VORPANE_INSTALLED");
    ASSERT_NE(path, nullptr) << "scripts/installer-test.sh runs this";
    Child app(path, {}, false);
    HWND main = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        main = FindWindowOf(app.info.dwProcessId,
                            [](HWND h) { return win32::WindowText(h) == "Vorpane V2.1"; });
        return main != nullptr;
    }));
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_EQ(app.Ended(), 0);
}

}  // namespace
}  // namespace vorpane
