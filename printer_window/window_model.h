#pragma once
// What the printer window shows besides the paper, decided once for both
// toolkits: its title and status line, its captions, the zoom choices and
// the condition boxes with their poll. The Qt and the Win32 window put these
// on the screen and hand the user's clicks back.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "printer_window/paper_roll.h"
#include "virtual_printer/virtual_printer.h"

namespace vorpane::printer_window {

// The zoom list, in order: "1×", "2×", "Fit".
struct ZoomChoice {
    const char* caption;
    Zoom zoom;
};
const std::vector<ZoomChoice>& ZoomChoices();

// The captions around the roll, in UTF-8.
struct WindowCaptions {
    static constexpr const char* kZoom = "Zoom";
    static constexpr const char* kSave = "Save PNG...";
    static constexpr const char* kClear = "Clear";
    static constexpr const char* kConditions = "Conditions";
    static constexpr const char* kSaveDialog = "Save the roll as PNG";
    static constexpr const char* kSaveName = "receipts.png";
    static constexpr const char* kSaveFilter = "PNG pictures";  // (*.png)
    static constexpr const char* kSaveFailedTitle = "Save PNG";
};
// Behind the roll and its labels, as 0xRRGGBB.
inline constexpr uint32_t kDeskColour = 0x4A4D52;
inline constexpr uint32_t kLabelColour = 0xE6E6E6;

class WindowModel {
public:
    // Control lines change the conditions on another thread, so the window
    // asks this often whether its boxes still show them.
    static constexpr std::chrono::milliseconds kConditionPoll{250};

    // `printer` outlives the model.
    explicit WindowModel(VirtualPrinter& printer);

    // The first address the printer listens on, with its port:
    // "127.0.0.1:9100". A restart that takes a new identity leaves it, as
    // the printer goes on listening where it did.
    const std::string& Listening() const { return m_listening; }
    // "vorpane-printer — 127.0.0.1:9100"
    std::string Title() const;
    // "Listening on 127.0.0.1:9100 · 2 receipts"
    std::string StatusLine(size_t receipts) const;
    // "The roll was not saved: <error>"
    static std::string SaveFailed(const std::string& error);

    // The poll: what the boxes are to show, when it is not what they show
    // (the first call always answers).
    std::optional<ConditionSet> ConditionsToShow();
    // The user ticked (`on`) or cleared box `index` of ConditionBoxes().
    void BoxClicked(size_t index, bool on);

private:
    VirtualPrinter& m_printer;
    const std::string m_listening;
    std::optional<ConditionSet> m_shown;
};

}  // namespace vorpane::printer_window
