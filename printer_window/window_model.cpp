#include "printer_window/window_model.h"

namespace vorpane::printer_window {

const std::vector<ZoomChoice>& ZoomChoices() {
    static const std::vector<ZoomChoice> choices = {
        {"1\xC3\x97", Zoom::kOne},
        {"2\xC3\x97", Zoom::kTwo},
        {"Fit", Zoom::kFit},
    };
    return choices;
}

namespace {

std::string ListeningOn(const VirtualPrinter& printer) {
    const std::vector<std::string>& addresses = printer.ListenAddresses();
    return (addresses.empty() ? std::string("0.0.0.0") : addresses.front()) + ":" +
           std::to_string(printer.Port());
}

}  // namespace

WindowModel::WindowModel(VirtualPrinter& printer)
    : m_printer(printer), m_listening(ListeningOn(printer)) {}

std::string WindowModel::Title() const {
    return "vorpane-printer \xE2\x80\x94 " + m_listening;
}

std::string WindowModel::StatusLine(size_t receipts) const {
    return "Listening on " + m_listening + " \xC2\xB7 " + std::to_string(receipts) +
           (receipts == 1 ? " receipt" : " receipts");
}

std::string WindowModel::SaveFailed(const std::string& error) {
    return "The roll was not saved: " + error;
}

std::optional<ConditionSet> WindowModel::ConditionsToShow() {
    const ConditionSet now = m_printer.Conditions();
    if (m_shown == now) {
        return std::nullopt;
    }
    m_shown = now;
    return now;
}

void WindowModel::BoxClicked(size_t index, bool on) {
    if (index >= ConditionBoxes().size()) {
        return;
    }
    ConditionSet set = m_printer.Conditions();
    const Condition condition = ConditionBoxes()[index].condition;
    on ? set.Add(condition) : set.Remove(condition);
    m_printer.SetConditions(set);
    m_shown = set;
}

}  // namespace vorpane::printer_window
