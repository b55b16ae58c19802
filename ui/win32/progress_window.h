#pragma once
// The window class that hosts the logic's painted progress bar: a class of
// our own on top of the standard progress bar, whose painting, size changes
// and window text go to a CustomControl. Every paint is drawn into an
// off-screen bitmap of the paint's clip box and copied to the screen in one
// block.

#include "ui/win32/windows_api.h"

#include "ui/win32/win32_handles.h"
#include "ui/window_system.h"

namespace vorpane::win32 {

// Registers the class once per process; true when it is registered.
bool RegisterProgressClass(HINSTANCE instance);

// Hands the window's painting to control (null: the standard painting).
void AttachProgressControl(HWND window, ui::CustomControl* control);

// The value assistive technology reads: the window answers the standard
// bar's position and range queries with it and announces each change.
void SetProgressAccessibleValue(HWND window, int value, int minimum, int maximum);

COLORREF ToColorRef(ui::Color c);
ui::Color FromColorRef(COLORREF c);

// A PaintSurface over a memory context that covers the target's clip box,
// in the target's coordinates; the destructor copies it to the target.
class BufferedPaintSurface final : public ui::PaintSurface {
public:
    // font: what the text is drawn in (null: the context's default).
    BufferedPaintSurface(HDC target, HFONT font);
    ~BufferedPaintSurface() override;
    BufferedPaintSurface(const BufferedPaintSurface&) = delete;
    BufferedPaintSurface& operator=(const BufferedPaintSurface&) = delete;

    // False when the clip box is empty or the bitmap could not be made.
    bool Ready() const { return static_cast<bool>(m_bitmap); }

    void FillSolidRect(const ui::Rect& r, ui::Color c) override;
    void SetClip(const ui::Rect* r) override;
    void DrawCenteredText(const ui::Rect& r, const std::string& utf8, ui::Color c) override;

private:
    HDC m_target;
    RECT m_box{};
    UniqueMemoryDc m_dc;
    UniqueBitmap m_bitmap;
    HGDIOBJ m_previousBitmap = nullptr;
    HGDIOBJ m_previousFont = nullptr;
};

}  // namespace vorpane::win32
