#include "ui/headless/headless_window_system.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/ipv4_address.h"

namespace vorpane::ui {

HeadlessWindow::HeadlessWindow(HeadlessWindowSystem& ws, const DialogTemplate& tmpl,
                               DialogEvents& events)
    : m_ws(ws), m_template(tmpl), m_events(events), m_title(tmpl.caption) {
    for (const auto& c : tmpl.controls) {
        if (c.id == kStaticId) {
            continue;
        }
        Control ctl;
        ctl.tmpl = &c;
        ctl.text = c.caption;
        ctl.iconId = c.iconId;
        // 1.5 pixels per dialog unit is what a 9-point font gives at 96 dpi.
        ctl.clientWidth = c.cx * 3 / 2;
        m_controls[c.id] = ctl;
    }
    m_ws.m_windows.push_back(this);
}

HeadlessWindow::~HeadlessWindow() {
    auto& v = m_ws.m_windows;
    v.erase(std::remove(v.begin(), v.end(), this), v.end());
    auto& clicks = m_ws.m_queuedClicks;
    clicks.erase(std::remove_if(clicks.begin(), clicks.end(),
                                [this](const auto& click) { return click.first == this; }),
                 clicks.end());
}

HeadlessWindow::Control& HeadlessWindow::Get(int id) {
    auto it = m_controls.find(id);
    if (it == m_controls.end()) {
        // A wrong control ID is a programming error in the logic or the test.
        std::fprintf(stderr, "headless window: no control %d in dialog %d\n", id, m_template.id);
        std::abort();
    }
    return it->second;
}

const HeadlessWindow::Control& HeadlessWindow::Get(int id) const {
    return const_cast<HeadlessWindow*>(this)->Get(id);
}

int HeadlessWindow::RunModal() {
    m_ws.m_modalRuns.push_back(m_template.id);
    if (!m_endResult) {
        auto& queue = m_ws.m_scripts[m_template.id];
        if (!queue.empty()) {
            auto script = std::move(queue.front());
            queue.pop_front();
            script(*this);
        }
    }
    if (!m_endResult) {
        // Nobody drove the dialog: it is closed the way Esc closes it.
        m_events.OnCommand(kIdCancel, Notify::Clicked);
    }
    return m_endResult.value_or(kIdCancel);
}

void HeadlessWindow::EndDialog(int result) {
    m_endResult = result;
}

std::string HeadlessWindow::GetText(int id) {
    Control& c = Get(id);
    if (c.tmpl->cls == ControlClass::IpAddress) {
        return Ipv4Address::FromOctets(GetIpOctets(id)).Text();
    }
    if (c.tmpl->cls == ControlClass::ComboBox) {
        return c.curSel >= 0 ? c.items[static_cast<size_t>(c.curSel)] : std::string();
    }
    return c.text;
}

void HeadlessWindow::SetText(int id, const std::string& utf8) {
    Control& c = Get(id);
    switch (c.tmpl->cls) {
        case ControlClass::IpAddress: {
            c.octets = AddressControlFields(utf8);
            m_events.OnCommand(id, Notify::Changed);
            return;
        }
        case ControlClass::ComboBox: {
            // A drop-down list has no text of its own: the item of that text
            // becomes the selection.
            const auto it = std::find(c.items.begin(), c.items.end(), utf8);
            if (it != c.items.end()) {
                c.curSel = static_cast<int>(it - c.items.begin());
            }
            return;
        }
        case ControlClass::Edit:
            c.text = utf8;
            m_events.OnCommand(id, Notify::Changed);
            return;
        default:
            c.text = utf8;
            if (c.custom != nullptr) {
                c.custom->OnSetText(utf8);
            }
    }
}

void HeadlessWindow::SetBlankIp(int id) {
    Get(id).octets = {};
}

void HeadlessWindow::Enable(int id, bool enable) {
    Get(id).enabled = enable;
    m_enableLog.emplace_back(id, enable);
}

bool HeadlessWindow::IsEnabled(int id) {
    return Get(id).enabled;
}

std::array<uint8_t, 4> HeadlessWindow::GetIpOctets(int id) {
    const Control& c = Get(id);
    std::array<uint8_t, 4> out{};
    for (size_t i = 0; i < 4; ++i) {
        out[i] = c.octets[i].value_or(0);
    }
    return out;
}

void HeadlessWindow::ComboReset(int id) {
    Control& c = Get(id);
    c.items.clear();
    c.curSel = -1;
}

int HeadlessWindow::ComboAdd(int id, const std::string& utf8) {
    Control& c = Get(id);
    c.items.push_back(utf8);
    return static_cast<int>(c.items.size()) - 1;
}

int HeadlessWindow::ComboCount(int id) {
    return static_cast<int>(Get(id).items.size());
}

void HeadlessWindow::ComboSetCurSel(int id, int index) {
    Control& c = Get(id);
    c.curSel = (index >= 0 && index < static_cast<int>(c.items.size())) ? index : -1;
}

int HeadlessWindow::ComboGetCurSel(int id) {
    return Get(id).curSel;
}

std::string HeadlessWindow::ComboItemText(int id, int index) {
    Control& c = Get(id);
    if (index < 0 || index >= static_cast<int>(c.items.size())) {
        return {};
    }
    return c.items[static_cast<size_t>(index)];
}

int HeadlessWindow::GetCheck(int id) {
    return Get(id).check;
}
void HeadlessWindow::SetCheck(int id, int state) {
    Get(id).check = state;
}
void HeadlessWindow::SetStaticIcon(int id, int iconId) {
    Get(id).iconId = iconId;
}
int HeadlessWindow::GetStaticIcon(int id) {
    return Get(id).iconId;
}

void HeadlessWindow::AttachCustomControl(int id, CustomControl* control) {
    Get(id).custom = control;
}

Rect HeadlessWindow::ControlClientRect(int id) {
    const Control& c = Get(id);
    return Rect{0, 0, c.clientWidth, c.tmpl->cy * 3 / 2};
}

void HeadlessWindow::SetClientWidth(int id, int width) {
    Control& c = Get(id);
    c.clientWidth = width;
    if (c.custom != nullptr) {
        c.custom->OnSize();
    }
}

namespace {

// Paints into nothing: the headless backend has no pixels.
struct NullSurface : PaintSurface {
    void FillSolidRect(const Rect&, Color) override {}
    void SetClip(const Rect*) override {}
    void DrawCenteredText(const Rect&, const std::string&, Color) override {}
};

}  // namespace

void HeadlessWindow::Paint(int id) {
    Control& c = Get(id);
    c.invalid = false;
    if (c.custom != nullptr) {
        NullSurface surface;
        c.custom->OnPaint(surface, ControlClientRect(id));
    }
}

void HeadlessWindow::RedrawControlNow(int id) {
    ++Get(id).redraws;
    Paint(id);
}

void HeadlessWindow::InvalidateControl(int id) {
    Control& c = Get(id);
    ++c.invalidates;
    c.invalid = true;
}

void HeadlessWindow::PaintInvalidated() {
    for (auto& [id, c] : m_controls) {
        if (c.invalid) {
            Paint(id);
        }
    }
}
int HeadlessWindow::RedrawCount(int id) const {
    return Get(id).redraws;
}
int HeadlessWindow::InvalidateCount(int id) const {
    return Get(id).invalidates;
}

void HeadlessWindow::SetTimer(int timerId, int periodMs) {
    // Setting a running timer again starts its period afresh.
    const int period = std::max(periodMs, 1);
    m_timers[timerId] = Timer{period, m_ws.NowMs() + period};
}
void HeadlessWindow::KillTimer(int timerId) {
    m_timers.erase(timerId);
}

int HeadlessWindow::TimerPeriod(int timerId) const {
    auto it = m_timers.find(timerId);
    return it == m_timers.end() ? 0 : it->second.periodMs;
}

std::optional<int64_t> HeadlessWindow::NextDue() const {
    std::optional<int64_t> next;
    for (const auto& [id, t] : m_timers) {
        if (!next || t.dueMs < *next) {
            next = t.dueMs;
        }
    }
    return next;
}

bool HeadlessWindow::FireDueTimer(int64_t nowMs) {
    for (auto& [id, t] : m_timers) {
        if (t.dueMs <= nowMs) {
            t.dueMs = nowMs + t.periodMs;
            m_events.OnTimer(id);  // may kill or set timers: no iterator use after
            return true;
        }
    }
    return false;
}

int HeadlessWindow::MessageBox(const std::string& utf8, uint32_t style) {
    return m_ws.ShowBox(utf8, style, true);
}

void HeadlessWindow::Click(int id) {
    Control& c = Get(id);
    if (!c.enabled) {
        return;
    }
    if (c.tmpl->cls == ControlClass::CheckBox && (c.tmpl->style & kStyleAutoCheckBox) != 0) {
        c.check = c.check != 0 ? 0 : 1;
    }
    m_events.OnCommand(id, Notify::Clicked);
}

void HeadlessWindow::TypeText(int id, const std::string& utf8) {
    Control& c = Get(id);
    if (!c.enabled) {
        return;
    }
    if (c.tmpl->cls == ControlClass::Edit) {
        // Typed over the whole text, key by key: each key is one change, and
        // emptying a box is one more only when it held something.
        if (utf8.empty() && !c.text.empty()) {
            c.text.clear();
            m_events.OnCommand(id, Notify::Changed);
        }
        c.text.clear();
        for (size_t at = 0; at < utf8.size();) {
            const auto lead = static_cast<unsigned char>(utf8[at]);
            const size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
            c.text += utf8.substr(at, length);
            at += length;
            m_events.OnCommand(id, Notify::Changed);
        }
        return;
    }
    // The address control reports its change itself; a rich edit reports
    // none, as its change events are not asked for.
    SetText(id, utf8);
}

void HeadlessWindow::QueueClick(int id) {
    m_ws.m_queuedClicks.emplace_back(this, id);
}

void HeadlessWindow::SelectItem(int id, int index) {
    Control& c = Get(id);
    if (!c.enabled) {
        return;
    }
    ComboSetCurSel(id, index);
    m_events.OnCommand(id, Notify::SelChange);
}

int HeadlessWindow::Spin(int id, int delta) {
    if (!Get(id).enabled) {
        return 0;
    }
    return m_events.OnDeltaPos(id, delta);
}

bool HeadlessWindow::PressKey(int virtualKey, int focusId, bool control) {
    const bool wasDown = m_ws.IsControlKeyDown();
    m_ws.SetControlKeyDown(control);
    // A key pressed with Control comes between Control's own down and up.
    if (control) {
        m_events.PreTranslateMessage({KeyMessage::Kind::KeyDown, kVkControl, focusId});
    }
    const bool consumed =
        m_events.PreTranslateMessage({KeyMessage::Kind::KeyDown, virtualKey, focusId});
    if (!consumed) {
        const ControlTemplate* focus = focusId != 0 ? m_template.Find(focusId) : nullptr;
        const bool takesReturn = focus != nullptr && (focus->style & kStyleWantReturn) != 0;
        if (virtualKey == kVkReturn && !takesReturn) {
            // The default push button answers Enter.
            for (const auto& c : m_template.controls) {
                if ((c.style & kStyleDefault) != 0 && c.cls == ControlClass::PushButton) {
                    m_events.OnCommand(c.id, Notify::Clicked);
                    break;
                }
            }
        } else if (virtualKey == kVkEscape) {
            m_events.OnCommand(kIdCancel, Notify::Clicked);
        } else if (virtualKey == kVkSpace && focus != nullptr &&
                   (focus->cls == ControlClass::PushButton ||
                    focus->cls == ControlClass::CheckBox)) {
            Click(focusId);
        } else if (virtualKey == kVkSpace && focus != nullptr &&
                   (focus->cls == ControlClass::Edit || focus->cls == ControlClass::RichEdit)) {
            TypeText(focusId, GetText(focusId) + " ");
        }
    }
    m_events.PreTranslateMessage({KeyMessage::Kind::KeyUp, virtualKey, focusId});
    m_ws.SetControlKeyDown(wasDown);
    if (control) {
        m_events.PreTranslateMessage({KeyMessage::Kind::KeyUp, kVkControl, focusId});
    }
    return consumed;
}

void HeadlessWindow::FireTimer(int timerId) {
    if (TimerActive(timerId)) {
        m_events.OnTimer(timerId);
    }
}

HeadlessWindowSystem::HeadlessWindowSystem() : m_uiThread(std::this_thread::get_id()) {}

HeadlessWindowSystem::~HeadlessWindowSystem() = default;

std::unique_ptr<Window> HeadlessWindowSystem::CreateDialogWindow(const DialogTemplate& tmpl,
                                                                 DialogEvents& events, Window*) {
    return std::make_unique<HeadlessWindow>(*this, tmpl, events);
}

int HeadlessWindowSystem::MessageBox(const std::string& utf8, uint32_t style) {
    return ShowBox(utf8, style, false);
}

int HeadlessWindowSystem::ShowBox(const std::string& utf8, uint32_t style, bool owned) {
    const int closed = (style & kMbTypeMask) == kMbOkCancel ? kIdCancel : kIdOk;
    Answer next{0, nullptr};
    if (!m_answers.empty()) {
        next = std::move(m_answers.front());
        m_answers.pop_front();
    }
    if (next.when && !ServeUntilFor(next.when, std::chrono::seconds(10))) {
        std::fprintf(stderr, "headless window: box \"%s\" waited in vain\n", utf8.c_str());
    }
    const int answer = next.answer != 0 ? next.answer : closed;
    m_shown.push_back({utf8, style, answer, owned});
    return answer;
}

std::optional<std::string> HeadlessWindowSystem::GetOpenFileName(Window*,
                                                                 const OpenFileRequest& request) {
    m_fileRequests.push_back(request);
    if (m_fileAnswers.empty()) {
        return std::nullopt;
    }
    auto answer = m_fileAnswers.front();
    m_fileAnswers.pop_front();
    return answer;
}

Color HeadlessWindowSystem::GetSysColor(SysColor which) {
    return which == SysColor::Highlight ? 0x3399FFu : 0xFFFFFFu;
}

bool HeadlessWindowSystem::ApplySkin(const std::string& path) {
    m_skinRequests.push_back(path);
    return m_skinResult;
}

void HeadlessWindowSystem::Invoke(const std::function<void()>& fn) {
    if (IsUiThread()) {
        fn();
        return;
    }
    Request request{fn};
    std::unique_lock lock(m_mutex);
    m_requests.push_back(&request);
    m_requestArrived.notify_all();
    m_requestDone.wait(lock, [&] { return request.done; });
}

int HeadlessWindowSystem::ServePending() {
    int served = 0;
    for (;;) {
        Request* request = nullptr;
        {
            std::lock_guard lock(m_mutex);
            if (m_requests.empty()) {
                return served;
            }
            request = m_requests.front();
            m_requests.pop_front();
        }
        request->fn();
        {
            std::lock_guard lock(m_mutex);
            request->done = true;
        }
        m_requestDone.notify_all();
        ++served;
    }
}

void HeadlessWindowSystem::PaintAll() {
    for (HeadlessWindow* w : m_windows) {
        w->PaintInvalidated();
    }
}

bool HeadlessWindowSystem::LetTimePass(int ms, const std::function<bool()>& until) {
    const int64_t end = m_nowMs + std::max(ms, 0);
    const auto realEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    // One at a time: a click may close a window whose clicks then go too.
    while (!m_queuedClicks.empty()) {
        const auto [window, id] = m_queuedClicks.front();
        m_queuedClicks.erase(m_queuedClicks.begin());
        window->Click(id);
    }
    for (;;) {
        ServePending();
        PaintAll();
        if (until && until()) {
            return true;
        }
        std::optional<int64_t> next;
        for (HeadlessWindow* w : m_windows) {
            const auto due = w->NextDue();
            if (due && (!next || *due < *next)) {
                next = due;
            }
        }
        if (next && *next <= end) {
            m_nowMs = std::max(m_nowMs, *next);
            for (HeadlessWindow* w : m_windows) {
                if (w->FireDueTimer(m_nowMs)) {
                    break;  // the tick may have closed windows
                }
            }
            continue;
        }
        m_nowMs = end;
        if (!until) {
            return true;
        }
        std::unique_lock lock(m_mutex);
        if (std::chrono::steady_clock::now() >= realEnd) {
            lock.unlock();
            return until();
        }
        m_requestArrived.wait_for(lock, std::chrono::milliseconds(2),
                                  [&] { return !m_requests.empty(); });
    }
}

bool HeadlessWindowSystem::ServeUntilFor(const std::function<bool()>& done,
                                         std::chrono::milliseconds deadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        ServePending();
        PaintAll();
        if (done()) {
            return true;
        }
        std::unique_lock lock(m_mutex);
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        // The condition may also change without a request (a worker's own
        // counter), so the wait is short rather than indefinite.
        m_requestArrived.wait_for(lock, std::chrono::milliseconds(2),
                                  [&] { return !m_requests.empty(); });
    }
}

void HeadlessWindowSystem::ServeUntil(const std::function<bool()>& done) {
    ServeUntilFor(done, std::chrono::hours(24));
}

void HeadlessWindowSystem::QueueModalScript(int templateId, ModalScript script) {
    m_scripts[templateId].push_back(std::move(script));
}

HeadlessWindow* HeadlessWindowSystem::FindWindow(int templateId) {
    for (auto it = m_windows.rbegin(); it != m_windows.rend(); ++it) {
        if ((*it)->Template().id == templateId) {
            return *it;
        }
    }
    return nullptr;
}

}  // namespace vorpane::ui
