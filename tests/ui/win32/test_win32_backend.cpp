#include <gtest/gtest.h>

#include <atomic>
#include <cwctype>
#include <string>
#include <thread>
#include <vector>

#include "app/main_dialog_template.h"
#include "status/status_dialog_template.h"
#include "ui/dialog.h"
#include "ui/win32/dialog_resource.h"
#include "ui/win32/progress_window.h"
#include "ui/win32/win32_text.h"
#include "ui/win32/win32_window_system.h"

namespace vorpane::win32 {
namespace {

std::wstring Lower(std::wstring s) {
    for (auto& c : s) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return s;
}

std::vector<HWND> Children(HWND dialog) {
    std::vector<HWND> out;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        out.push_back(c);
    }
    return out;
}

class Win32Dialogs : public ::testing::TestWithParam<const ui::DialogTemplate& (*)()> {
protected:
    Win32WindowSystem ws;
};

// Every control sits where the template's dialog units put it, in template
// order, of the right class and caption; Tab visits exactly the tab stops.
TEST_P(Win32Dialogs, ControlsFollowTheTemplate) {
    ui::CDialog dialog(GetParam()(), ws);
    ASSERT_TRUE(dialog.Create());
    const HWND h = Win32WindowSystem::HandleOf(dialog.GetWindow());
    const ui::DialogTemplate& t = dialog.GetTemplate();

    RECT client, expected{0, 0, t.cx, t.cy};
    GetClientRect(h, &client);
    MapDialogRect(h, &expected);
    EXPECT_EQ(client.right, expected.right);
    EXPECT_EQ(client.bottom, expected.bottom);

    const std::vector<HWND> children = Children(h);
    ASSERT_EQ(children.size(), t.controls.size());
    std::vector<HWND> tabStops;
    for (size_t i = 0; i < children.size(); ++i) {
        const ui::ControlTemplate& c = t.controls[i];
        const HWND w = children[i];
        SCOPED_TRACE("control " + std::to_string(i) + " id " + std::to_string(c.id));
        EXPECT_EQ(GetDlgCtrlID(w), c.id);
        wchar_t cls[64] = {};
        GetClassNameW(w, cls, 64);
        EXPECT_EQ(Lower(cls), Lower(WindowClassFor(c).className));

        // The dialog manager maps the position and the size, each rounded.
        RECT want{c.x, c.y, c.cx, c.cy};
        MapDialogRect(h, &want);
        RECT got;
        GetWindowRect(w, &got);
        MapWindowPoints(nullptr, h, reinterpret_cast<POINT*>(&got), 2);
        EXPECT_EQ(got.left, want.left);
        EXPECT_EQ(got.top, want.top);
        // An icon takes its picture's size, a vertical up-down control its
        // own width, a drop-down list's height is that of its open list.
        if (c.cls != ui::ControlClass::Icon && c.cls != ui::ControlClass::UpDown) {
            EXPECT_EQ(got.right - got.left, want.right);
        }
        if (c.cls != ui::ControlClass::Icon && c.cls != ui::ControlClass::ComboBox) {
            EXPECT_EQ(got.bottom - got.top, want.bottom);
        }
        const bool captioned =
            c.cls == ui::ControlClass::Label || c.cls == ui::ControlClass::PushButton ||
            c.cls == ui::ControlClass::CheckBox || c.cls == ui::ControlClass::GroupBox;
        if (captioned) {
            EXPECT_EQ(WindowText(w), c.caption);
        }
        if (c.style & ui::kStyleTabStop) {
            tabStops.push_back(w);
        }
    }
    ASSERT_FALSE(tabStops.empty());
    for (size_t i = 0; i < tabStops.size(); ++i) {
        EXPECT_EQ(GetNextDlgTabItem(h, tabStops[i], FALSE), tabStops[(i + 1) % tabStops.size()])
            << "after tab stop " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Templates, Win32Dialogs,
                         ::testing::Values(&AboutDialogTemplate, &MainDialogTemplate,
                                           &StatusDialogTemplate));

// Text that the user's ANSI page can hold.
bool InAnsiPage(const std::string& utf8) {
    const std::wstring wide = Widen(utf8);
    BOOL lost = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        nullptr, 0, nullptr, &lost);
    return !lost;
}

// The payload's rich edit is an ANSI window: its text needs more bytes than
// it reports characters once a character takes two, and a read sized by its
// report gets nothing. Both edits give back whole what went in.
TEST(Win32Text, EditsGiveBackTheirWholeText) {
    Win32WindowSystem ws;
    ui::CDialog dialog(MainDialogTemplate(), ws);
    ASSERT_TRUE(dialog.Create());
    ui::Window& w = *dialog.GetWindow();
    const std::string texts[] = {"中文", "é中", "A€é", "x", std::string(300, 'x') + "中文"};
    for (const int id : {IDC_PAYLOAD, IDC_TIMEOUT}) {
        for (const std::string& text : texts) {
            // The rich edit keeps its text in the ANSI page.
            if (id == IDC_PAYLOAD && !InAnsiPage(text)) {
                continue;
            }
            w.SetText(id, text);
            EXPECT_EQ(w.GetText(id), text) << "control " << id << ", ANSI page " << GetACP();
        }
    }
}

// The off-screen surface covers the target's clip box in the target's
// coordinates: fills land where asked, text is cut at the clip rectangle,
// and nothing outside the clip box is copied back.
TEST(BufferedPaintSurface, DrawsInTargetCoordinatesWithinTheClipBox) {
    constexpr int kW = 120, kH = 40;
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = kW;
    bi.bmiHeader.biHeight = -kH;  // top-down rows
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    UniqueMemoryDc target(CreateCompatibleDC(nullptr));
    UniqueBitmap bitmap(CreateDIBSection(target.get(), &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_TRUE(bitmap && bits != nullptr);
    const HGDIOBJ previous = SelectObject(target.get(), bitmap.get());
    RECT all{0, 0, kW, kH};
    FillRect(target.get(), &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    UniqueRegion clip(CreateRectRgn(10, 4, 110, 36));
    SelectClipRgn(target.get(), clip.get());

    constexpr ui::Color kRed = 0xFF0000, kBlue = 0x0000FF, kGreen = 0x00FF00, kYellow = 0xFFFF00;
    const ui::Rect whole{0, 0, kW, kH}, left{0, 0, kW / 2, kH}, right{kW / 2, 0, kW, kH};
    {
        BufferedPaintSurface surface(target.get(), nullptr);
        ASSERT_TRUE(surface.Ready());
        surface.FillSolidRect(left, kRed);
        surface.FillSolidRect(right, kBlue);
        surface.SetClip(&left);
        surface.DrawCenteredText(whole, "MMMMMMMM", kGreen);
        surface.SetClip(&right);
        surface.DrawCenteredText(whole, "MMMMMMMM", kYellow);
        surface.SetClip(nullptr);
    }
    GdiFlush();
    const auto* px = static_cast<const uint32_t*>(bits);
    auto at = [&](int x, int y) { return px[y * kW + x] & 0xFFFFFF; };  // 0x00RRGGBB
    EXPECT_EQ(at(2, 2), 0xFFFFFFu) << "outside the clip box";
    EXPECT_EQ(at(115, 38), 0xFFFFFFu) << "outside the clip box";
    EXPECT_EQ(at(12, 6), kRed);
    EXPECT_EQ(at(107, 33), kBlue);
    int greenLeft = 0, greenRight = 0, yellowLeft = 0, yellowRight = 0;
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const uint32_t c = at(x, y);
            const bool r = (c >> 16 & 0xFF) > 200, g = (c >> 8 & 0xFF) > 200, b = (c & 0xFF) > 100;
            if (!r && g && !b) {
                ++(x < kW / 2 ? greenLeft : greenRight);
            } else if (r && g && !b) {
                ++(x < kW / 2 ? yellowLeft : yellowRight);
            }
        }
    }
    EXPECT_GT(greenLeft, 0);
    EXPECT_EQ(greenRight, 0);
    EXPECT_GT(yellowRight, 0);
    EXPECT_EQ(yellowLeft, 0);
    SelectObject(target.get(), previous);
}

// While the UI thread waits in ServeUntil a worker's request runs, but a key
// waits in the queue until a dialog's loop takes it.
TEST(Win32WindowSystem, ServeUntilServesWorkersAndLeavesKeysQueued) {
    struct KeyCounter : ui::CDialog {
        using CDialog::CDialog;
        bool PreTranslateMessage(const ui::KeyMessage&) override {
            ++keys;
            return true;
        }
        int keys = 0;
    };
    Win32WindowSystem ws;
    KeyCounter dialog(AboutDialogTemplate(), ws);
    ASSERT_TRUE(dialog.Create());
    const HWND h = Win32WindowSystem::HandleOf(dialog.GetWindow());
    PostMessageW(h, WM_KEYDOWN, VK_SPACE, 1);
    std::atomic<bool> served{false};
    std::thread worker([&] { ws.Invoke([&] { served = true; }); });
    ws.ServeUntil([&] { return served.load(); });
    worker.join();
    EXPECT_EQ(dialog.keys, 0);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        Win32WindowSystem::DeliverMessage(msg);
    }
    EXPECT_EQ(dialog.keys, 1);
}

}  // namespace
}  // namespace vorpane::win32
