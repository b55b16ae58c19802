// The contract's driver for the headless backend: the user's actions are the
// headless window's own, answers go into its queues, time is its clock.

#include <gtest/gtest.h>

#include <algorithm>

#include "ui/headless/headless_window_system.h"
#include "window_contract.h"

namespace vorpane::ui::contract {
namespace {

class HeadlessDriver : public Driver {
public:
    WindowSystem& System() override { return m_ws; }
    void Show(Window&) override {}
    std::string Title(Window& w) override { return H(w).Title(); }
    void Click(Window& w, int id) override { H(w).Click(id); }
    void QueueClick(Window& w, int id) override { H(w).QueueClick(id); }
    void Type(Window& w, int id, const std::string& utf8) override { H(w).TypeText(id, utf8); }
    void Select(Window& w, int id, int index) override { H(w).SelectItem(id, index); }
    void Spin(Window& w, int id, int delta) override { H(w).Spin(id, delta); }
    void PressKey(Window& w, int focusId, int virtualKey, bool control) override {
        H(w).PressKey(virtualKey, focusId, control);
    }
    void ChooseSystemMenu(Window& w, uint32_t commandId) override {
        const auto& menu = H(w).SystemMenu();
        const bool present = std::any_of(menu.begin(), menu.end(), [&](const auto& item) {
            return item.commandId == commandId;
        });
        ASSERT_TRUE(present) << "no system-menu item " << commandId;
        H(w).ChooseSystemMenu(commandId);
    }
    void CloseBox(Window& w) override { H(w).CloseBox(); }
    void AnswerMessageBox(BoxAnswer answer, std::function<bool()> when) override {
        const int result = answer == BoxAnswer::Ok       ? kIdOk
                           : answer == BoxAnswer::Cancel ? kIdCancel
                                                         : 0;
        m_ws.QueueAnswer(result, std::move(when));
    }
    std::vector<SeenBox> SeenBoxes() override {
        std::vector<SeenBox> out;
        for (const auto& b : m_ws.ShownBoxes()) {
            out.push_back({m_ws.ApplicationName(), b.text, b.style, b.owned});
        }
        return out;
    }
    void AnswerFileDialog(std::optional<std::string> path) override {
        m_ws.QueueFileAnswer(std::move(path));
    }
    void WhenModal(int templateId, std::function<void(Window&)> script) override {
        m_ws.QueueModalScript(templateId,
                              [script = std::move(script)](HeadlessWindow& w) { script(w); });
    }
    bool LetTimePass(int ms, const std::function<bool()>& until) override {
        return m_ws.LetTimePass(ms, until);
    }

private:
    static HeadlessWindow& H(Window& w) { return static_cast<HeadlessWindow&>(w); }
    HeadlessWindowSystem m_ws;
};

}  // namespace

std::unique_ptr<Driver> MakeDriver() {
    return std::make_unique<HeadlessDriver>();
}

}  // namespace vorpane::ui::contract
