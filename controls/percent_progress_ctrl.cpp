#include "controls/percent_progress_ctrl.h"

#include <cstdio>
#include <cstring>

#include "app/codepage.h"

namespace vorpane {

CPercentProgressCtrl::CPercentProgressCtrl(ui::WindowSystem& ws)
    : m_ws(ws),
      m_barColor(ws.GetSysColor(ui::SysColor::Highlight)),
      m_backColor(ws.GetSysColor(ui::SysColor::Window)),
      m_textOverBackColor(ws.GetSysColor(ui::SysColor::Highlight)),
      m_textOverBarColor(ws.GetSysColor(ui::SysColor::Window)) {}

CPercentProgressCtrl::~CPercentProgressCtrl() {
    Detach();
}

void CPercentProgressCtrl::Attach(ui::Window* window, int id) {
    m_window = window;
    m_id = id;
    if (m_window != nullptr) {
        m_window->AttachCustomControl(id, this);
    }
}

void CPercentProgressCtrl::Detach() {
    if (m_window != nullptr) {
        m_window->AttachCustomControl(m_id, nullptr);
        m_window = nullptr;
    }
}

void CPercentProgressCtrl::SetRange(int32_t lower, int32_t upper) {
    m_lower = lower;
    m_upper = upper;
}

int32_t CPercentProgressCtrl::SetPos(int32_t position) {
    int32_t previous = -1;
    // Position, painted width and the repaint all belong to the UI thread,
    // so concurrent callers and a paint never see each other half-done.
    m_ws.Invoke([&] { previous = SetPosOnUiThread(position); });
    return previous;
}

int32_t CPercentProgressCtrl::SetPosOnUiThread(int32_t position) {
    if (m_window == nullptr) {
        return -1;
    }
    const int32_t old = m_position;
    m_position = position;
    if (m_upper <= m_lower) {
        return old;
    }
    const ui::Rect client = m_window->ControlClientRect(m_id);
    const int w = client.Width();
    const auto width = static_cast<int32_t>(static_cast<double>(position - m_lower) /
                                            static_cast<double>(m_upper - m_lower) * w);
    if (width != m_paintedWidth) {
        m_paintedWidth = width;
        m_window->RedrawControlNow(m_id);
    }
    return old;
}

std::string CPercentProgressCtrl::DisplayText() const {
    if (!m_customText.empty()) {
        return m_customText;
    }
    if (m_lower >= m_upper) {
        return {};
    }
    const double f =
        static_cast<double>(m_position - m_lower) / static_cast<double>(m_upper - m_lower);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d%%", static_cast<int>(f * 100.0));
    return buf;
}

void CPercentProgressCtrl::OnPaint(ui::PaintSurface& surface, const ui::Rect& r) {
    if (m_lower >= m_upper) {
        return;
    }
    const double f =
        static_cast<double>(m_position - m_lower) / static_cast<double>(m_upper - m_lower);
    const int barRight = r.left + static_cast<int>((r.right - r.left) * f);
    const ui::Rect bar{r.left, r.top, barRight, r.bottom};
    const ui::Rect rest{barRight, r.top, r.right, r.bottom};
    surface.FillSolidRect(bar, m_barColor);
    surface.FillSolidRect(rest, m_backColor);
    const std::string text = DisplayText();
    surface.SetClip(&bar);
    surface.DrawCenteredText(r, text, m_textOverBarColor);
    surface.SetClip(&rest);
    surface.DrawCenteredText(r, text, m_textOverBackColor);
    surface.SetClip(nullptr);
}

void CPercentProgressCtrl::OnSize() {
    m_paintedWidth = -1;
}

void CPercentProgressCtrl::OnSetText(const std::optional<std::string>& text) {
    if (!text) {
        if (!m_customText.empty()) {
            m_customText.clear();
            if (m_window != nullptr) {
                m_window->InvalidateControl(m_id);
            }
        }
        return;
    }
    if (*text != m_customText) {
        m_customText = *text;
        if (m_window != nullptr) {
            m_window->InvalidateControl(m_id);
        }
    }
}

int32_t CPercentProgressCtrl::OnGetText(int32_t n, char* buffer) const {
    if (n <= 0 || buffer == nullptr) {
        return 0;
    }
    const std::string bytes = Utf8ToSystem(m_customText);
    const size_t len = SystemPrefixLength(bytes, static_cast<size_t>(n) - 1);
    std::memcpy(buffer, bytes.data(), len);
    buffer[len] = '\0';
    return static_cast<int32_t>(len);
}

}  // namespace vorpane
