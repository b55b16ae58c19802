#pragma once
// The printer window's paper roll, without a window system: the receipts a
// virtual printer shows while they print, one under the other, each under a
// label naming its session, client and time, drawn at a zoom. The Qt and the
// Win32 window draw what it lays out and hand it the user's actions, so what
// the window shows is decided here, once, and tested without a screen.

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "receipt/png.h"
#include "virtual_printer/virtual_printer.h"

namespace vorpane::printer_window {

// Updates from the serving thread to the window's thread. Updates of one
// receipt that the window has not taken yet are merged into the newest, so
// that however fast receipts come the window draws each at most once a turn.
class PaperInbox {
public:
    // Any thread. True when the inbox was empty: the caller wakes the window
    // then, and only then, so a flood costs one wake-up a turn.
    bool Post(PaperUpdate update);
    // The window's thread: everything posted since the last call, oldest first.
    std::vector<PaperUpdate> Take();

private:
    std::mutex m_mutex;
    std::vector<PaperUpdate> m_updates;
};

enum class Zoom { kOne, kTwo, kFit };

// One receipt on the roll, its picture drawn once per update.
struct RollEntry {
    uint64_t session = 0;
    uint64_t receipt = 0;
    std::string label;  // "session 3 · 127.0.0.1:40312 · 22:41:07"
    receipt::Picture picture;
    bool finished = false;
};

// Where an entry goes, in view pixels from the top left of the whole roll.
struct Placement {
    size_t entry = 0;
    int labelTop = 0;
    int paperTop = 0;
    int paperLeft = 0;
    int width = 0;  // of the picture at the zoom
    int height = 0;
};

class PaperRoll {
public:
    // Past either bound the oldest receipts leave the roll.
    static constexpr size_t kMaxEntries = 500;
    // 64 MiB of pictures, room for one receipt of the longest there is.
    static constexpr size_t kMaxPixels = size_t{16} << 20;
    static constexpr int kGap = 12;    // pixels between a receipt and the next label
    static constexpr int kMargin = 8;  // pixels around the roll
    static constexpr int kMinFitWidth = 64;

    // The label line's height in the window's font, in pixels.
    explicit PaperRoll(int labelHeight);

    // Adds or updates the receipts; true when anything changed. Time stamps
    // are shown in local time.
    bool Apply(std::vector<PaperUpdate> updates);
    void Clear();
    const std::vector<RollEntry>& Entries() const { return m_entries; }

    void SetZoom(Zoom zoom) { m_zoom = zoom; }
    Zoom GetZoom() const { return m_zoom; }
    // Pixels a dot takes at the zoom in a view `viewWidth` pixels wide; fit
    // shrinks or grows the paper to the view's width.
    double Scale(int viewWidth) const;

    // The whole roll laid out for a view of that width.
    std::vector<Placement> Layout(int viewWidth) const;
    int ContentHeight(int viewWidth) const;
    int ContentWidth(int viewWidth) const;
    // The entries that meet rows [top, top + height) of the view.
    std::vector<Placement> Visible(int viewWidth, int top, int height) const;

    // Following: the view keeps its bottom on the roll's end as receipts
    // come, until the user scrolls away from the end; back at the end, it
    // follows again.
    void UserScrolled(int top, int viewHeight, int contentHeight);
    bool Following() const { return m_following; }
    // Where the view's top goes after the roll changed.
    int TopAfterChange(int top, int viewHeight, int contentHeight) const;

    // The roll as one picture, one pixel a dot, receipts separated by a
    // grey gap; a roll without receipts is an error.
    struct Saved {
        bool ok = false;
        std::string error;
    };
    Saved SavePng(const std::string& path) const;

private:
    void Trim();

    const int m_labelHeight;
    std::vector<RollEntry> m_entries;
    size_t m_pixels = 0;
    Zoom m_zoom = Zoom::kOne;
    bool m_following = true;
};

// The label of a receipt: "session 3 · 127.0.0.1:40312 · 22:41:07", with
// " · receipt 2" from a session's second receipt on.
std::string ReceiptLabel(uint64_t session, uint64_t receipt, const std::string& client,
                         std::chrono::system_clock::time_point opened);

// The printer conditions the window offers as check boxes, in order, with
// their captions: "Off-line", "Cover open", "Paper near end", "Paper end",
// "Over temperature", "Waiting for recovery", "Drawer open", "Autocutter
// error", "Mechanical error", "Unrecoverable error", "Feed button pressed".
struct ConditionBox {
    Condition condition;
    const char* caption;
};
const std::vector<ConditionBox>& ConditionBoxes();

}  // namespace vorpane::printer_window
