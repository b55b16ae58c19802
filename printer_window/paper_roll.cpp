#include "printer_window/paper_roll.h"

#include <algorithm>
#include <cmath>
#include <ctime>

#include "platform/clock.h"

namespace vorpane::printer_window {

bool PaperInbox::Post(PaperUpdate update) {
    std::lock_guard lock(m_mutex);
    const bool wasEmpty = m_updates.empty();
    // Only the newest picture of a receipt matters; its place in the order
    // stays that of its first update, so receipts keep their arrival order.
    const auto same = std::find_if(m_updates.begin(), m_updates.end(), [&](const PaperUpdate& u) {
        return u.session == update.session && u.receipt == update.receipt;
    });
    if (same != m_updates.end()) {
        *same = std::move(update);
    } else {
        m_updates.push_back(std::move(update));
    }
    return wasEmpty;
}

std::vector<PaperUpdate> PaperInbox::Take() {
    std::lock_guard lock(m_mutex);
    std::vector<PaperUpdate> taken;
    taken.swap(m_updates);
    return taken;
}

std::string ReceiptLabel(uint64_t session, uint64_t receipt, const std::string& client,
                         std::chrono::system_clock::time_point opened) {
    const std::tm local = LocalTimeAt(std::chrono::system_clock::to_time_t(opened));
    char clock[16];
    std::strftime(clock, sizeof clock, "%H:%M:%S", &local);
    std::string label =
        "session " + std::to_string(session) + " \xC2\xB7 " + client + " \xC2\xB7 " + clock;
    if (receipt > 1) {
        label += " \xC2\xB7 receipt " + std::to_string(receipt);
    }
    return label;
}

const std::vector<ConditionBox>& ConditionBoxes() {
    static const std::vector<ConditionBox> boxes = {
        {Condition::kOffline, "Off-line"},
        {Condition::kCoverOpen, "Cover open"},
        {Condition::kPaperNearEnd, "Paper near end"},
        {Condition::kPaperEnd, "Paper end"},
        {Condition::kOverTemp, "Over temperature"},
        {Condition::kWaitingRecovery, "Waiting for recovery"},
        {Condition::kDrawer, "Drawer open"},
        {Condition::kCutterError, "Autocutter error"},
        {Condition::kMechanicalError, "Mechanical error"},
        {Condition::kUnrecoverableError, "Unrecoverable error"},
        {Condition::kFeedButton, "Feed button pressed"},
    };
    return boxes;
}

PaperRoll::PaperRoll(int labelHeight) : m_labelHeight(std::max(labelHeight, 1)) {}

bool PaperRoll::Apply(std::vector<PaperUpdate> updates) {
    bool changed = false;
    for (PaperUpdate& update : updates) {
        if (!update.paper) {
            continue;
        }
        // Updates of a receipt come after its first, so the newest entries
        // are the ones to look at.
        auto entry = std::find_if(m_entries.rbegin(), m_entries.rend(), [&](const RollEntry& e) {
            return e.session == update.session && e.receipt == update.receipt;
        });
        RollEntry* target = nullptr;
        if (entry != m_entries.rend()) {
            target = &*entry;
            m_pixels -= target->picture.pixels.size();
        } else {
            RollEntry added;
            added.session = update.session;
            added.receipt = update.receipt;
            added.label =
                ReceiptLabel(update.session, update.receipt, update.client, update.opened);
            m_entries.push_back(std::move(added));
            target = &m_entries.back();
        }
        target->picture = receipt::DrawReceiptPicture(*update.paper);
        target->finished = update.finished;
        m_pixels += target->picture.pixels.size();
        changed = true;
    }
    Trim();
    return changed;
}

void PaperRoll::Trim() {
    // The newest receipt always stays, however big.
    size_t drop = 0;
    size_t pixels = m_pixels;
    while (m_entries.size() - drop > 1 &&
           (m_entries.size() - drop > kMaxEntries || pixels > kMaxPixels)) {
        pixels -= m_entries[drop].picture.pixels.size();
        ++drop;
    }
    m_entries.erase(m_entries.begin(), m_entries.begin() + static_cast<ptrdiff_t>(drop));
    m_pixels = pixels;
}

void PaperRoll::Clear() {
    m_entries.clear();
    m_pixels = 0;
    m_following = true;
}

double PaperRoll::Scale(int viewWidth) const {
    switch (m_zoom) {
        case Zoom::kOne:
            return 1.0;
        case Zoom::kTwo:
            return 2.0;
        case Zoom::kFit:
            break;
    }
    int widest = 0;
    for (const RollEntry& e : m_entries) {
        widest = std::max(widest, e.picture.width);
    }
    if (widest == 0) {
        return 1.0;
    }
    const int room = std::max(viewWidth - 2 * kMargin, kMinFitWidth);
    return static_cast<double>(room) / widest;
}

std::vector<Placement> PaperRoll::Layout(int viewWidth) const {
    const double scale = Scale(viewWidth);
    std::vector<Placement> placed;
    placed.reserve(m_entries.size());
    int y = kMargin;
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const receipt::Picture& p = m_entries[i].picture;
        Placement at;
        at.entry = i;
        at.labelTop = y;
        at.paperTop = y + m_labelHeight;
        at.width = std::max(1, static_cast<int>(std::lround(p.width * scale)));
        at.height = std::max(1, static_cast<int>(std::lround(p.height * scale)));
        // Centred while the view is wider than the paper, else at the margin.
        at.paperLeft = std::max(kMargin, (viewWidth - at.width) / 2);
        placed.push_back(at);
        y = at.paperTop + at.height + kGap;
    }
    return placed;
}

int PaperRoll::ContentHeight(int viewWidth) const {
    const std::vector<Placement> placed = Layout(viewWidth);
    if (placed.empty()) {
        return 0;
    }
    return placed.back().paperTop + placed.back().height + kMargin;
}

int PaperRoll::ContentWidth(int viewWidth) const {
    int width = 0;
    for (const Placement& at : Layout(viewWidth)) {
        width = std::max(width, at.paperLeft + at.width + kMargin);
    }
    return width;
}

std::vector<Placement> PaperRoll::Visible(int viewWidth, int top, int height) const {
    std::vector<Placement> shown;
    for (const Placement& at : Layout(viewWidth)) {
        if (at.paperTop + at.height > top && at.labelTop < top + height) {
            shown.push_back(at);
        }
    }
    return shown;
}

void PaperRoll::UserScrolled(int top, int viewHeight, int contentHeight) {
    // A few pixels of slack, so a wheel that stops just short still counts.
    m_following = top + viewHeight >= contentHeight - 4;
}

int PaperRoll::TopAfterChange(int top, int viewHeight, int contentHeight) const {
    const int bottomTop = std::max(0, contentHeight - viewHeight);
    return m_following ? bottomTop : std::clamp(top, 0, bottomTop);
}

PaperRoll::Saved PaperRoll::SavePng(const std::string& path) const {
    if (m_entries.empty()) {
        return {false, "the roll is empty"};
    }
    receipt::Picture roll;
    for (const RollEntry& e : m_entries) {
        roll.width = std::max(roll.width, e.picture.width);
        roll.height += e.picture.height + kGap;
    }
    roll.height -= kGap;
    constexpr uint32_t kGapColour = 0xFFA0A0A0;
    roll.pixels.assign(static_cast<size_t>(roll.width) * roll.height, kGapColour);
    int y = 0;
    for (const RollEntry& e : m_entries) {
        for (int row = 0; row < e.picture.height; ++row) {
            std::copy_n(e.picture.pixels.begin() + static_cast<ptrdiff_t>(row) * e.picture.width,
                        e.picture.width,
                        roll.pixels.begin() + static_cast<ptrdiff_t>(y + row) * roll.width);
        }
        y += e.picture.height + kGap;
    }
    const std::string error = receipt::WriteFileAtomically(path, receipt::EncodePicturePng(roll));
    if (!error.empty()) {
        return {false, error};
    }
    return {true, {}};
}

}  // namespace vorpane::printer_window
