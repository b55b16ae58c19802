#pragma once
// A progress bar that paints itself: the covered part in one colour, the
// rest in another, and a centred text (the percentage, or a custom text)
// whose colour flips exactly at the bar's edge.

#include <cstdint>
#include <optional>
#include <string>

#include "ui/window_system.h"

namespace vorpane {

class CPercentProgressCtrl : public ui::CustomControl {
public:
    // The colours are read from the system once, here.
    explicit CPercentProgressCtrl(ui::WindowSystem& ws);
    ~CPercentProgressCtrl() override;

    // Binds the control to control `id` of `window`; until then SetPos
    // answers -1 and stores nothing.
    void Attach(ui::Window* window, int id);
    void Detach();

    void SetRange(int32_t lower, int32_t upper);
    // Returns the previous position. Callable from any thread: the work is
    // done on the UI thread while the caller waits.
    int32_t SetPos(int32_t position);

    // ui::CustomControl
    void OnPaint(ui::PaintSurface& surface, const ui::Rect& client) override;
    void OnSize() override;
    void OnSetText(const std::optional<std::string>& text) override;

    // Copies the custom text in the system code page into buffer[0..n):
    // at most n - 1 bytes, never splitting a character, then a zero.
    // Returns the bytes copied without the terminator.
    int32_t OnGetText(int32_t n, char* buffer) const;

    // The text the control shows now.
    std::string DisplayText() const;
    int32_t Position() const { return m_position; }

private:
    int32_t SetPosOnUiThread(int32_t position);
    void ReportAccessibleValue();

    ui::WindowSystem& m_ws;
    ui::Window* m_window = nullptr;
    int m_id = 0;

    int32_t m_position = 0;
    int32_t m_upper = 100;
    int32_t m_lower = 0;
    std::string m_customText;  // UTF-8
    int32_t m_paintedWidth = -1;
    ui::Color m_barColor;
    ui::Color m_backColor;
    ui::Color m_textOverBackColor;
    ui::Color m_textOverBarColor;
};

}  // namespace vorpane
