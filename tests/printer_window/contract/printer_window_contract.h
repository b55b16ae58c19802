#pragma once
// The printer window's contract: what the Qt and the Win32 window show and
// do the same way, written once (printer_window_contract.cpp) and run
// against each through its Driver, with a printer on 127.0.0.1 behind it.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "printer_window/paper_roll.h"

namespace vorpane::printer_window::contract {

// The roll view as it paints now, 0xRRGGBB a pixel, row by row.
struct Shot {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
};

// What the window shows besides the paper.
struct Shown {
    std::string title, status;
    std::vector<std::string> zooms;     // the zoom list, in order
    std::vector<std::string> captions;  // labels, buttons, group and boxes beside the roll
    std::vector<bool> checked;          // the condition boxes
    int viewWidth = 0, viewHeight = 0;
    // The roll view's scrolling, in pixels; a maximum of 0: none that way.
    int top = 0, topMax = 0, left = 0, leftMax = 0;
};

// The user, through the toolkit's own input: a zoom or a condition box by
// its index, a button, the scroll bars, the wheel tilted sideways.
enum class Act { kZoom, kBox, kClear, kPageUp, kTop, kEnd, kRightEnd, kWheelLeft, kWheelRight };

// One window, shown, fed by a printer of its own that listens on 127.0.0.1
// (the system's port). Every call is made on the window's thread.
class Driver {
public:
    virtual ~Driver() = default;
    virtual VirtualPrinter& Printer() = 0;
    virtual const PaperRoll& Roll() = 0;
    // Runs the window's events until done() holds or `limit` passed; done()'s
    // last value.
    virtual bool Until(const std::function<bool()>& done, std::chrono::milliseconds limit) = 0;
    // Handles every event that waits now, paints included.
    virtual void Settle() = 0;
    virtual Shown Show() = 0;
    virtual Shot Paint() = 0;
    virtual int Repaints() = 0;  // paints the roll view had on screen
    virtual void Do(Act act, size_t index = 0) = 0;
    // Resizes the window's frame; the view has its new size on return.
    virtual void Resize(int width, int height) = 0;
    // What Save PNG... does once the user picked `path` (UTF-8): the error,
    // or empty.
    virtual std::string SaveTo(const std::string& path) = 0;
};

// Defined once per toolkit's test program.
std::unique_ptr<Driver> MakeDriver();

}  // namespace vorpane::printer_window::contract
