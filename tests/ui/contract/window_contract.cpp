// The window-system contract, run against every backend through its Driver:
// what the dialogs rely on from controls, notifications, timers, message
// boxes, file dialogs, keys, modal runs and Invoke from worker threads.

#include "window_contract.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <thread>
#include <tuple>

#include "ui/dialog.h"

namespace vorpane::ui::contract {

const DialogTemplate& OuterTemplate() {
    using C = ControlClass;
    static const DialogTemplate t{
        kOuterTemplate,
        "Contract",
        220,
        160,
        kSongTi,
        9,
        true,
        false,
        {
            {kIdOk, C::PushButton, "OK", 160, 140, 50, 14, kStyleDefault | kStyleTabStop},
            {kIdCancel, C::PushButton, "Cancel", 100, 140, 50, 14, kStyleTabStop},
            {kButton, C::PushButton, "&Press", 160, 10, 50, 14, kStyleTabStop},
            {kCheck, C::CheckBox, "Check", 160, 30, 50, 14, kStyleAutoCheckBox | kStyleTabStop},
            {kLabel, C::Label, "Label", 10, 10, 60, 8, 0},
            {kIp, C::IpAddress, "", 10, 24, 100, 15, kStyleTabStop},
            {kCombo, C::ComboBox, "", 10, 44, 100, 60,
             kStyleDropDownList | kStyleVScroll | kStyleTabStop},
            {kEdit, C::Edit, "", 10, 64, 80, 14, kStyleBorder | kStyleAutoHScroll | kStyleTabStop},
            {kSpin, C::UpDown, "", 91, 64, 10, 14, kStyleArrowKeys},
            {kProgress, C::ProgressBar, "", 10, 84, 200, 14, kStyleBorder},
            {kRich, C::RichEdit, "", 10, 102, 140, 34,
             kStyleMultiline | kStyleWantReturn | kStyleVScroll | kStyleBorder | kStyleTabStop},
            {kLamp, C::Icon, "", 160, 60, 20, 20, 0, kIconLampGrey, "Lamp"},
        },
    };
    return t;
}

const DialogTemplate& InnerTemplate() {
    using C = ControlClass;
    static const DialogTemplate t{
        kInnerTemplate,
        "Inner",
        120,
        40,
        kSongTi,
        9,
        true,
        false,
        {
            {kIdOk, C::PushButton, "OK", 60, 20, 50, 14, kStyleDefault | kStyleTabStop},
        },
    };
    return t;
}

namespace {

// Kind, key, control, and whether Control is down (not asked for Control's
// own messages, where the platforms' key state differs).
using Key = std::tuple<KeyMessage::Kind, int, int, bool>;
constexpr auto kDown = KeyMessage::Kind::KeyDown;
constexpr auto kUp = KeyMessage::Kind::KeyUp;
using Command = std::pair<int, Notify>;

// A dialog that records what reaches its logic.
class Probe : public CDialog {
public:
    Probe(const DialogTemplate& t, WindowSystem& ws, CDialog* parent = nullptr)
        : CDialog(t, ws, parent) {}
    ~Probe() override { DestroyWindow(); }

    bool OnInitDialog() override {
        CDialog::OnInitDialog();
        if (onInit) {
            onInit(*this);
        }
        return true;
    }
    int OnDeltaPos(int id, int delta) override {
        deltas.emplace_back(id, delta);
        return 0;
    }
    void OnTimer(int id) override { timers.push_back(id); }
    void OnSysCommand(uint32_t id) override { sysCommands.push_back(id); }
    bool PreTranslateMessage(const KeyMessage& m) override {
        keys.emplace_back(m.kind, m.virtualKey, m.controlId,
                          m.virtualKey != kVkControl && GetWindowSystem().IsControlKeyDown());
        return eatKey && eatKey(m);
    }
    void OnDestroy() override { ++destroyed; }
    int Count(int id, Notify code) const {
        return static_cast<int>(std::count(commands.begin(), commands.end(), Command(id, code)));
    }

    std::vector<Command> commands;
    std::vector<std::pair<int, int>> deltas;
    std::vector<int> timers;
    std::vector<uint32_t> sysCommands;
    std::vector<Key> keys;
    std::function<bool(const KeyMessage&)> eatKey;
    std::function<void(Probe&, int, Notify)> onCommand;
    std::function<void(Probe&)> onInit;
    std::string editMember = "from the member";
    int destroyed = 0;

protected:
    void DoDataExchange(DataExchange& dx) override {
        if (GetTemplate().Find(kEdit) != nullptr) {
            dx.Text(kEdit, editMember);
        }
    }
    bool OnControlCommand(int id, Notify code) override {
        commands.emplace_back(id, code);
        if (onCommand) {
            onCommand(*this, id, code);
        }
        return false;  // commands 1 and 2 keep the framework's handling
    }
};

// A custom control that counts what reaches it.
struct PaintProbe : CustomControl {
    void OnPaint(PaintSurface&, const Rect& client) override {
        ++paints;
        lastClient = client;
    }
    void OnSize() override {}
    void OnSetText(const std::optional<std::string>& text) override { texts.push_back(text); }
    int paints = 0;
    Rect lastClient;
    std::vector<std::optional<std::string>> texts;
};

class WindowContract : public ::testing::Test {
protected:
    // The outer dialog, created and shown but not run modally.
    Probe& Open() {
        probe = std::make_unique<Probe>(OuterTemplate(), Ws());
        EXPECT_TRUE(probe->Create());
        driver->Show(W());
        return *probe;
    }
    WindowSystem& Ws() { return driver->System(); }
    Window& W() { return *probe->GetWindow(); }

    std::unique_ptr<Driver> driver = MakeDriver();
    std::unique_ptr<Probe> probe;
};

// Texts come back as they were set; of the controls the dialogs write to,
// only the edit box (exactly once, even for the text it holds already) and
// the address control (once or more) report a change, as the platform's
// controls do.
TEST_F(WindowContract, TextsRoundTripAndOnlyEditBoxesReportChanges) {
    Open();
    const struct {
        int id;
        std::string text;
        int changes;  // -1: one or more
    } rows[] = {
        {kButton, "Cancel", 0},
        {kCheck, "&Hex", 0},
        {kLabel, "A && B: \xE5\xAE\x8B", 0},
        {kEdit, "1500", 1},
        {kEdit, "1500", 1},
        {kEdit, "", 1},
        // The first rich edit is a window of the 8-bit code page: its row
        // keeps to characters both pages the tests run in (1252, 936) have,
        // one that takes two bytes in 936; CJK is on the label's.
        {kRich, "Date Time:26-12-06\n\nA \xC3\xA9 B\n", 0},
        {kRich, "", 0},
        {kIp, "192.168.1.10", -1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        probe->commands.clear();
        W().SetText(row.id, row.text);
        EXPECT_EQ(W().GetText(row.id), row.text);
        const int changes = probe->Count(row.id, Notify::Changed);
        EXPECT_EQ(probe->commands.size(), static_cast<size_t>(changes));
        if (row.changes >= 0) {
            EXPECT_EQ(changes, row.changes);
        } else {
            EXPECT_GE(changes, 1);
        }
    }
}

TEST_F(WindowContract, DataExchangeWritesWithoutNotifyingAndReadsWhatWasTyped) {
    Open();
    // Create ran the exchange once: the box shows the member, and the
    // change it caused never reached the dialog's handlers.
    EXPECT_EQ(W().GetText(kEdit), "from the member");
    EXPECT_TRUE(probe->commands.empty());
    probe->editMember = "written back";
    EXPECT_TRUE(probe->UpdateData(false));
    EXPECT_EQ(W().GetText(kEdit), "written back");
    probe->editMember = "and again";
    EXPECT_TRUE(probe->UpdateData(false));
    // Nor later: a notice the backend delivers after the exchange is over
    // still belongs to it.
    driver->LetTimePass(50);
    EXPECT_TRUE(probe->commands.empty());

    // One change a key, as the user types.
    driver->Type(W(), kEdit, "typed 42");
    EXPECT_EQ(probe->Count(kEdit, Notify::Changed), 8);
    EXPECT_TRUE(probe->UpdateData(true));
    EXPECT_EQ(probe->editMember, "typed 42");
    driver->Type(W(), kEdit, "");  // the text deleted: one change
    driver->Type(W(), kEdit, "");  // nothing left to delete: none
    EXPECT_EQ(probe->Count(kEdit, Notify::Changed), 9);
    // Typing into a rich edit reports nothing: its change events are off.
    driver->Type(W(), kRich, "payload");
    EXPECT_EQ(W().GetText(kRich), "payload");
    EXPECT_EQ(probe->Count(kRich, Notify::Changed), 0);
}

TEST_F(WindowContract, AddressControlReadsBlankFieldsAsZeroAndWritesNoLeadingZeros) {
    Open();
    const std::tuple<std::string, std::string, std::array<uint8_t, 4>> rows[] = {
        {"192.168.1.10", "192.168.1.10", {192, 168, 1, 10}},
        {"", "0.0.0.0", {0, 0, 0, 0}},
        {"10.0.7", "10.0.7.0", {10, 0, 7, 0}},
        {"010.1.2.3", "10.1.2.3", {10, 1, 2, 3}},
        // Digits count, anything else is skipped; past the fourth field
        // nothing counts.
        {"1.2.3.4.5", "1.2.3.4", {1, 2, 3, 4}},
        {" 1.2.3.4", "1.2.3.4", {1, 2, 3, 4}},
        {"1a.-2.3.4", "1.2.3.4", {1, 2, 3, 4}},
        {"1..3.4", "1.0.3.4", {1, 0, 3, 4}},
        {"a.b.c.d", "0.0.0.0", {0, 0, 0, 0}},
        {"999.1.1.1", "255.1.1.1", {255, 1, 1, 1}},
        {"12345678901.2.3.4", "255.2.3.4", {255, 2, 3, 4}},
    };
    for (const auto& [set, text, octets] : rows) {
        W().SetText(kIp, set);
        EXPECT_EQ(W().GetText(kIp), text) << set;
        EXPECT_EQ(W().GetIpOctets(kIp), octets) << set;
    }
    probe->commands.clear();
    driver->Type(W(), kIp, "127.0.0.1");
    EXPECT_EQ(W().GetText(kIp), "127.0.0.1");
    // How many depends on the platform's control (one a field or one a key).
    EXPECT_GE(probe->Count(kIp, Notify::Changed), 1);
}

TEST_F(WindowContract, ButtonsCheckBoxAndEnable) {
    Open();
    W().SetCheck(kCheck, 1);
    EXPECT_EQ(W().GetCheck(kCheck), 1);
    driver->Click(W(), kCheck);  // the user's click toggles and reports
    EXPECT_EQ(W().GetCheck(kCheck), 0);
    driver->Click(W(), kButton);
    EXPECT_EQ(probe->commands,
              (std::vector<Command>{{kCheck, Notify::Clicked}, {kButton, Notify::Clicked}}));
    W().Enable(kButton, false);
    W().Enable(kCheck, false);
    EXPECT_FALSE(W().IsEnabled(kButton));
    driver->Click(W(), kButton);
    driver->Click(W(), kCheck);
    EXPECT_EQ(probe->commands.size(), 2u);
    EXPECT_EQ(W().GetCheck(kCheck), 0);
    W().Enable(kButton, true);
    EXPECT_TRUE(W().IsEnabled(kButton));
    // A window may be destroyed from its own handler.
    probe->onCommand = [](Probe& self, int, Notify) { self.DestroyWindow(); };
    driver->Click(W(), kButton);
    EXPECT_EQ(probe->GetWindow(), nullptr);
    EXPECT_EQ(probe->destroyed, 1);
    driver->LetTimePass(50);  // whatever the backend deferred goes now
}

TEST_F(WindowContract, DropDownListSelectsOnlyWhenAskedAndReportsOnlyTheUser) {
    Open();
    EXPECT_EQ(W().ComboAdd(kCombo, "192.168.1.23"), 0);
    EXPECT_EQ(W().ComboAdd(kCombo, "192.168.1.87"), 1);
    EXPECT_EQ(W().ComboCount(kCombo), 2);
    EXPECT_EQ(W().ComboGetCurSel(kCombo), -1);
    EXPECT_EQ(W().GetText(kCombo), "");
    W().ComboSetCurSel(kCombo, 1);
    EXPECT_EQ(W().GetText(kCombo), "192.168.1.87");
    EXPECT_EQ(W().ComboItemText(kCombo, 0) + "|" + W().ComboItemText(kCombo, 2), "192.168.1.23|");
    W().ComboSetCurSel(kCombo, 5);
    EXPECT_EQ(W().ComboGetCurSel(kCombo), -1);
    W().SetText(kCombo, "192.168.1.23");  // the item of that text
    EXPECT_EQ(W().ComboGetCurSel(kCombo), 0);
    EXPECT_TRUE(probe->commands.empty());

    driver->Select(W(), kCombo, 1);
    EXPECT_EQ(W().ComboGetCurSel(kCombo), 1);
    EXPECT_EQ(probe->Count(kCombo, Notify::SelChange), 1);
    // Emptying the list is the program's own doing: a notice here would
    // reach the handler that copies the selection into the address box.
    W().ComboReset(kCombo);
    EXPECT_EQ(W().ComboCount(kCombo), 0);
    EXPECT_EQ(W().ComboGetCurSel(kCombo), -1);
    EXPECT_EQ(probe->Count(kCombo, Notify::SelChange), 1);
}

TEST_F(WindowContract, UpDownArrowsProposeStepsTitleIconsAndSystemMenu) {
    Open();
    driver->Spin(W(), kSpin, -1);
    driver->Spin(W(), kSpin, +1);
    EXPECT_EQ(probe->deltas, (std::vector<std::pair<int, int>>{{kSpin, -1}, {kSpin, 1}}));

    EXPECT_EQ(driver->Title(W()), "Contract");
    W().SetTitle("Vorpane V2.1");
    EXPECT_EQ(driver->Title(W()), "Vorpane V2.1");
    EXPECT_EQ(W().GetStaticIcon(kLamp), kIconLampGrey);
    W().SetStaticIcon(kLamp, kIconLampRed);
    EXPECT_EQ(W().GetStaticIcon(kLamp), kIconLampRed);

    ASSERT_TRUE(W().HasSystemMenu());
    W().AppendSystemMenuSeparator();
    W().AppendSystemMenuItem(0x10, "About Vorpane(&A)...");
    driver->ChooseSystemMenu(W(), 0x10);
    EXPECT_EQ(probe->sysCommands, std::vector<uint32_t>{0x10});
}

TEST_F(WindowContract, TimersTickWithTheirIdRestartWhenSetAgainAndStop) {
    Open();
    W().SetTimer(7, 40);
    EXPECT_TRUE(driver->LetTimePass(5000, [&] { return probe->timers.size() >= 3; }));
    EXPECT_EQ(probe->timers, std::vector<int>(probe->timers.size(), 7));
    W().SetTimer(7, 600000);
    W().SetTimer(8, 40);
    W().KillTimer(8);
    W().KillTimer(99);  // never set: harmless
    probe->timers.clear();
    driver->LetTimePass(200);
    EXPECT_TRUE(probe->timers.empty());
    W().KillTimer(7);

    // A window destroyed with its timer running hears no tick after.
    W().SetTimer(9, 20);
    probe->DestroyWindow();
    driver->LetTimePass(100);
    EXPECT_TRUE(probe->timers.empty());
}

TEST_F(WindowContract, CustomControlPaintsNowOrLaterAndHearsItsText) {
    Open();
    PaintProbe paint;
    W().AttachCustomControl(kProgress, &paint);
    const Rect client = W().ControlClientRect(kProgress);
    EXPECT_GT(client.Width(), 100);
    const int before = paint.paints;
    W().RedrawControlNow(kProgress);
    EXPECT_EQ(paint.paints, before + 1);
    EXPECT_EQ(paint.lastClient, client);
    W().InvalidateControl(kProgress);
    EXPECT_TRUE(driver->LetTimePass(5000, [&] { return paint.paints > before + 1; }));
    W().SetText(kProgress, "Busy");
    EXPECT_EQ(paint.texts, std::vector<std::optional<std::string>>{"Busy"});
    W().AttachCustomControl(kProgress, nullptr);
    const int detached = paint.paints;
    W().RedrawControlNow(kProgress);
    EXPECT_EQ(paint.paints, detached);
}

// Every style, alone and over a window; the title is the application's name
// and the text is shown as plain text.
TEST_F(WindowContract, MessageBoxesShowTheirStyleAndAnswer) {
    Open();
    const std::tuple<uint32_t, BoxAnswer, int> rows[] = {
        {0x00, BoxAnswer::Ok, kIdOk},        {0x10, BoxAnswer::Close, kIdOk},
        {0x30, BoxAnswer::Ok, kIdOk},        {0x40, BoxAnswer::Ok, kIdOk},
        {0x21, BoxAnswer::Ok, kIdOk},        {0x21, BoxAnswer::Cancel, kIdCancel},
        {0x21, BoxAnswer::Close, kIdCancel}, {0x01, BoxAnswer::Ok, kIdOk},
    };
    const std::string text = "Connect failed!\n<b>x</b>";
    std::vector<SeenBox> expected;
    for (const auto& [style, answer, result] : rows) {
        for (bool owned : {false, true}) {
            driver->AnswerMessageBox(answer);
            EXPECT_EQ(owned ? W().MessageBox(text, style) : Ws().MessageBox(text, style), result)
                << style;
            expected.push_back({Ws().ApplicationName(), text, style, owned});
        }
    }
    // Nothing queued: closed, which an OK/Cancel box answers with Cancel.
    EXPECT_EQ(probe->MessageBox("Are you sure?", 0x21), kIdCancel);
    expected.push_back({Ws().ApplicationName(), "Are you sure?", 0x21, true});
    EXPECT_EQ(driver->SeenBoxes(), expected);
}

TEST_F(WindowContract, OpenFileDialogReturnsTheChosenFileOrNothing) {
    Open();
    const auto dir =
        std::filesystem::temp_directory_path() / ("vorpane-contract-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const auto file = dir / "receipt";  // no dot: the pattern "*" must show it
    std::ofstream(file) << "x";
    const OpenFileRequest request{"", "All Files (*.*)", "*"};
    driver->AnswerFileDialog(file.string());
    const auto picked = Ws().GetOpenFileName(&W(), request);
    driver->AnswerFileDialog(std::nullopt);
    const auto cancelled = Ws().GetOpenFileName(&W(), request);
    std::filesystem::remove_all(dir);
    ASSERT_TRUE(picked.has_value());
    EXPECT_EQ(std::filesystem::path(*picked).filename(), "receipt");
    EXPECT_EQ(std::filesystem::path(*picked).parent_path().filename(), dir.filename());
    EXPECT_EQ(cancelled, std::nullopt);
}

// The key filter sees each key once, down then up, named after the control
// with the focus; a key it eats never reaches the control.
TEST_F(WindowContract, KeysPassTheFilterFirst) {
    Open();
    probe->eatKey = [](const KeyMessage& m) { return m.virtualKey == kVkSpace; };
    driver->PressKey(W(), kCheck, kVkSpace, false);
    EXPECT_EQ(probe->keys,
              (std::vector<Key>{{kDown, kVkSpace, kCheck, false}, {kUp, kVkSpace, kCheck, false}}));
    EXPECT_EQ(W().GetCheck(kCheck), 0);
    probe->eatKey = nullptr;
    driver->PressKey(W(), kCheck, kVkSpace, false);  // not eaten: the box takes it
    EXPECT_EQ(W().GetCheck(kCheck), 1);
    EXPECT_EQ(probe->commands, (std::vector<Command>{{kCheck, Notify::Clicked}}));

    // Control comes down first and goes up last, and is down for the key;
    // the address control is named, not the field inside it.
    probe->keys.clear();
    driver->PressKey(W(), kIp, kVkT, true);
    EXPECT_EQ(probe->keys, (std::vector<Key>{{kDown, kVkControl, kIp, false},
                                             {kDown, kVkT, kIp, true},
                                             {kUp, kVkT, kIp, true},
                                             {kUp, kVkControl, kIp, false}}));

    // Enter in the rich edit is a line break; eaten it is nothing; elsewhere
    // it presses the default button.
    driver->PressKey(W(), kRich, kVkReturn, false);
    probe->eatKey = [](const KeyMessage& m) { return m.virtualKey == kVkReturn; };
    driver->PressKey(W(), kEdit, kVkReturn, false);
    EXPECT_EQ(probe->Count(kIdOk, Notify::Clicked), 0);
    EXPECT_EQ(probe->EndResult(), std::nullopt);
    probe->eatKey = nullptr;
    driver->PressKey(W(), kEdit, kVkReturn, false);
    EXPECT_EQ(probe->Count(kIdOk, Notify::Clicked), 1);
    EXPECT_EQ(probe->EndResult(), kIdOk);
    // Esc and the close box ask the logic to cancel.
    for (bool escape : {true, false}) {
        Open();
        escape ? driver->PressKey(W(), kEdit, kVkEscape, false) : driver->CloseBox(W());
        EXPECT_EQ(probe->commands, (std::vector<Command>{{kIdCancel, Notify::Clicked}}));
    }
}

TEST_F(WindowContract, NestedModalRunsEndInsideOut) {
    Probe outer(OuterTemplate(), Ws());
    Probe inner(InnerTemplate(), Ws(), &outer);
    int innerResult = 0;
    bool outerWindowDuringInner = false;
    outer.onCommand = [&](Probe& self, int id, Notify) {
        if (id == kButton) {
            innerResult = inner.DoModal();
            outerWindowDuringInner = self.GetWindow() != nullptr;
            self.EndDialog(7);
        }
    };
    driver->WhenModal(kOuterTemplate, [&](Window& w) { driver->Click(w, kButton); });
    driver->WhenModal(kInnerTemplate, [&](Window& w) { driver->PressKey(w, 0, kVkEscape, false); });
    EXPECT_EQ(outer.DoModal(), 7);
    EXPECT_EQ(innerResult, kIdCancel);
    EXPECT_TRUE(outerWindowDuringInner);
    EXPECT_EQ(outer.destroyed + inner.destroyed * 10, 11);
    EXPECT_EQ(outer.GetWindow(), nullptr);

    // Ended while it initialises, a dialog never runs; with no script a
    // running dialog is closed as by its close box.
    Probe early(InnerTemplate(), Ws());
    early.onInit = [](Probe& self) { self.EndDialog(5); };
    EXPECT_EQ(early.DoModal(), 5);
    EXPECT_EQ(Probe(InnerTemplate(), Ws()).DoModal(), kIdCancel);
}

TEST_F(WindowContract, InvokeRunsOnTheUiThreadInEachCallersOrder) {
    int here = 0;
    Ws().Invoke([&] { ++here; });  // on the UI thread: at once
    EXPECT_EQ(here, 1);
    ASSERT_TRUE(Ws().IsUiThread());

    constexpr int kThreads = 17;
    constexpr int kCalls = 40;
    std::vector<std::vector<int>> seen(kThreads);  // touched on the UI thread only
    int offUiThread = 0;
    std::atomic<int> finished{0}, workerOnUi{0};
    std::vector<std::jthread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            workerOnUi += Ws().IsUiThread() ? 1 : 0;
            for (int i = 0; i < kCalls; ++i) {
                Ws().Invoke([&, t, i] {
                    offUiThread += Ws().IsUiThread() ? 0 : 1;
                    seen[static_cast<size_t>(t)].push_back(i);
                });
            }
            finished.fetch_add(1);
        });
    }
    // With workers waiting, the UI thread's own requests still run at once.
    Ws().Invoke([&] { ++here; });
    EXPECT_EQ(here, 2);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    Ws().ServeUntil(
        [&] { return finished.load() == kThreads || std::chrono::steady_clock::now() > deadline; });
    ASSERT_EQ(finished.load(), kThreads) << "workers were not served before the deadline";
    workers.clear();
    std::vector<int> inOrder(kCalls);
    std::iota(inOrder.begin(), inOrder.end(), 0);
    EXPECT_EQ(seen, std::vector<std::vector<int>>(kThreads, inOrder));
    EXPECT_EQ(workerOnUi.load() + offUiThread, 0);
}

// A worker waiting in Invoke is served while the UI thread sits in a
// message box or a nested modal dialog; ServeUntil looks at its condition
// again even when nothing happens.
TEST_F(WindowContract, ModalLoopsServeWorkersAndServeUntilKeepsLooking) {
    std::atomic<bool> served{false};
    std::thread worker([&] { Ws().Invoke([&] { served = true; }); });
    driver->AnswerMessageBox(BoxAnswer::Ok, [&] { return served.load(); });
    EXPECT_EQ(Ws().MessageBox("wait", 0), kIdOk);
    worker.join();
    EXPECT_TRUE(served.load());

    served = false;
    Probe dialog(InnerTemplate(), Ws());
    driver->WhenModal(kInnerTemplate, [&](Window&) {
        std::thread inner([&] { Ws().Invoke([&] { served = true; }); });
        EXPECT_TRUE(driver->LetTimePass(10000, [&] { return served.load(); }));
        inner.join();
    });
    dialog.DoModal();
    EXPECT_TRUE(served.load());

    // ServeUntil, which waits for workers while the dialog closes, leaves
    // the user's input queued: no handler runs in the middle of it.
    Open();
    driver->QueueClick(W(), kButton);
    EXPECT_TRUE(
        driver->LetTimePass(5000, [&] { return probe->Count(kButton, Notify::Clicked) == 1; }));
    driver->QueueClick(W(), kButton);
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(30);
    Ws().ServeUntil([&] { return std::chrono::steady_clock::now() >= end; });
    EXPECT_GE(std::chrono::steady_clock::now(), end);
    EXPECT_EQ(probe->Count(kButton, Notify::Clicked), 1);
}

}  // namespace
}  // namespace vorpane::ui::contract
