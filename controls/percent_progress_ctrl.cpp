#include "controls/percent_progress_ctrl.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/codepage.h"

namespace vorpane {

namespace {

// Share of the range covered by `position`; the differences are taken in
// double so that extreme values cannot overflow.
double Fraction(int32_t position, int32_t lower, int32_t upper) {
    return (static_cast<double>(position) - lower) / (static_cast<double>(upper) - lower);
}

// Truncation toward zero. A position far outside the range gives values no
// int holds, and converting those is undefined, so they are pinned first.
int TruncateToInt(double value) {
    constexpr double kMin = std::numeric_limits<int>::min();
    constexpr double kMax = std::numeric_limits<int>::max();
    if (value <= kMin) {
        return std::numeric_limits<int>::min();
    }
    if (value >= kMax) {
        return std::numeric_limits<int>::max();
    }
    return static_cast<int>(value);
}

}  // namespace

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
    ReportAccessibleValue();
}

void CPercentProgressCtrl::ReportAccessibleValue() {
    // Screen readers read the value and the text from here, whether or not
    // the bar's pixel width (and so its painting) changed.
    if (m_window != nullptr) {
        m_window->SetAccessibleValue(m_id, m_position, m_lower, m_upper, DisplayText());
    }
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
    ReportAccessibleValue();
    if (m_upper <= m_lower) {
        return old;
    }
    const ui::Rect client = m_window->ControlClientRect(m_id);
    const int w = client.Width();
    const int32_t width = TruncateToInt(Fraction(position, m_lower, m_upper) * w);
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
    const double f = Fraction(m_position, m_lower, m_upper);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d%%", TruncateToInt(f * 100.0));
    return buf;
}

void CPercentProgressCtrl::OnPaint(ui::PaintSurface& surface, const ui::Rect& r) {
    if (m_lower >= m_upper) {
        return;
    }
    const double f = Fraction(m_position, m_lower, m_upper);
    const int w = r.right - r.left;
    int covered = TruncateToInt(w * f);
    // Callers stay inside the range; should one not, the bar still ends
    // inside the control rather than the two areas overlapping.
    if (covered < 0) {
        covered = 0;
    } else if (covered > w) {
        covered = w;
    }
    const int barRight = r.left + covered;
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
            ReportAccessibleValue();
        }
        return;
    }
    if (*text != m_customText) {
        m_customText = *text;
        if (m_window != nullptr) {
            m_window->InvalidateControl(m_id);
        }
        ReportAccessibleValue();
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
