// The commands subsystem on its own: the hex parse, the MAC address from the
// clock, the whole-file send, and the Set IP / Set MAC flows against a
// recording site, the table link and a scripted probe: each case by the
// outcome it returns, whatever a front end makes of it.

#include <filesystem>
#include <fstream>
#include <tuple>

#include "commands/command_frames.h"
#include "commands/hex_payload.h"
#include "commands/network_config.h"
#include "commands/printer_commands.h"
#include "main_dialog_fixture.h"

namespace vorpane {
namespace {

using B = std::vector<uint8_t>;

TEST(HexPayload, ParseTable) {
    constexpr size_t kNone = std::string_view::npos;
    // The text, its bytes, and the first byte the parse skips without a word
    // (vorpane-cli refuses such text).
    const std::tuple<std::string, B, size_t> cases[] = {
        {"1B 40", {0x1B, 0x40}, kNone},
        {"1b4", {0x1B, 0x04}, kNone},
        {"1 2", {0x01, 0x02}, kNone},  // a separator ends a lone digit
        {"1x2", {0x12}, 1},            // a skipped byte joins
        {"1x 2", {0x01, 0x02}, 1},
        {"zz", {}, 0},
        {"0x1B", {0x01, 0x0B}, 1},  // 0x has no meaning
        {"123", {0x12, 0x03}, kNone},
        {"aBcDeF9", {0xAB, 0xCD, 0xEF, 0x09}, kNone},
        {"1B 4 40", {0x1B, 0x04, 0x40}, kNone},
        {"1\xD6\xD0\x32", {0x12}, 1},  // GB18030 bytes are never digits
        // Space, comma and semicolon end a lone digit; other bytes are skipped.
        {"1 2,3;4", {0x01, 0x02, 0x03, 0x04}, kNone},
        {"1:2\t3.4-5", {0x12, 0x34, 0x05}, 1},
        {"1b\t40\r\n0a\n", {0x1B, 0x40, 0x0A}, kNone},  // blanks are no stray bytes
    };
    for (const auto& [text, bytes, stray] : cases) {
        EXPECT_EQ(ParseHexPayload(text), bytes) << "'" << text << "'";
        EXPECT_EQ(PayloadBytes(text, true), bytes);
        EXPECT_EQ(FirstStrayHexByte(text), stray) << "'" << text << "'";
    }
    for (int b = 0; b < 256; ++b) {
        const auto ch = static_cast<unsigned char>(b);
        EXPECT_EQ(IsHexDigit(ch), std::isxdigit(b) != 0) << b;
    }
}

TEST(MacFromClock, ExamplesAndTwoDigitFields) {
    const std::array<int, 5> zero = {0, 0, 0, 0, 0};
    EXPECT_EQ(MacFromClock(PinnedTime(2026, 12, 6, 1, 42, 46), {5, 5, 5, 5, 5}),
              (std::array<uint8_t, 6>{0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C}));
    // Two-digit fields carry their tens in the low bits; only the low bits
    // of each draw count.
    const struct {
        int month, day, hour, minute, second;
        std::array<int, 5> draws;
        std::array<uint8_t, 6> mac;
    } cases[] = {
        {10, 31, 0, 0, 0, zero, {0x4E, 0x01, 0x13, 0, 0, 0}},
        {12, 31, 0, 0, 0, {0, 3, 0, 0, 0}, {0x4E, 0x21, 0x1F, 0, 0, 0}},
        {9, 1, 23, 59, 59, {7, 3, 3, 1, 1}, {0x4E, 0x9E, 0x1C, 0x3E, 0x9D, 0x9D}},
        {1, 1, 0, 0, 0, {8, 4, 4, 2, 9}, {0x4E, 0x10, 0x10, 0x00, 0x00, 0x08}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(
            MacFromClock(PinnedTime(2020, c.month, c.day, c.hour, c.minute, c.second), c.draws),
            c.mac)
            << c.month << "-" << c.day;
    }
}

class WholeFileTest : public ::testing::Test {
protected:
    WholeFileTest() { std::filesystem::create_directories(dir); }
    ~WholeFileTest() override { std::filesystem::remove_all(dir); }
    std::string Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return (dir / name).string();
    }
    // The outcome, and what reached the link.
    std::pair<SendFileOutcome, std::vector<B>> Send(const std::string& path) {
        link.ClearCalls();
        SendFileOutcome outcome = SendWholeFile(link, kPrinter, path);
        std::vector<B> sends;
        for (const auto& c : link.CallsOf("SendData")) {
            EXPECT_EQ(c.a, static_cast<int32_t>(c.bytes.size()));
            sends.push_back(c.bytes);
        }
        return {outcome, sends};
    }
    static constexpr const char* kPrinter = "192.168.1.10";
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("vorpane-file-" + std::to_string(getpid()));
    TablePrinterLink link;
};

TEST_F(WholeFileTest, EveryByteGoesOutInOneSendOrTheOutcomeSaysWhyNot) {
    using R = SendFileOutcome::Result;
    link.AddPrinter(kPrinter);
    std::string everyByte;
    for (int b = 0; b < 3 * 256; ++b) {
        everyByte += std::string(b % 256 == 0 ? 100 : 0, '\0') + static_cast<char>(b);
    }
    const auto all = static_cast<uint32_t>(everyByte.size());
    // Root reads every ordinary file; sysfs still refuses a write-only one.
    const std::string denied = geteuid() == 0 ? "/sys/bus/pci/rescan" : Write("locked", "x");
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(denied.c_str(), 0), 0);
    }
    // Refused before reading: no buffer is asked for (sparse: no disk taken).
    const std::string huge[] = {Write("huge", ""), Write("huger", "")};
    std::filesystem::resize_file(huge[0], 0x80000000);
    std::filesystem::resize_file(huge[1], 0x100000005);
    // sysfs gives an attribute the length of a page but far fewer bytes;
    // what was read goes out, unpadded.
    const std::string attribute = "/sys/class/net/lo/address";
    std::ifstream in(attribute, std::ios::binary);
    const std::string mac((std::istreambuf_iterator<char>(in)), {});
    const auto page = static_cast<uint32_t>(std::filesystem::file_size(attribute));
    const auto got = static_cast<uint32_t>(mac.size());
    const std::string digits = "0123456789";
    const std::string ten = Write("ten", digits);
    const std::vector<B> tenSent = {B(digits.begin(), digits.end())};
    const auto raw = static_cast<int32_t>(all);
    const struct {
        std::string path;
        int32_t sendResult;  // -2: every byte
        SendFileOutcome outcome;
        std::vector<B> sends;
    } cases[] = {
        {Write("empty", ""), -2, {R::kEmpty}, {B{}}},
        {Write("raw", everyByte),
         -2,
         {R::kSent, 0, all, all, raw},
         {B(everyByte.begin(), everyByte.end())}},
        {(dir / "missing").string(), -2, {R::kOpenFailed, 2}, {}},
        {dir.string(), -2, {R::kOpenFailed, 21}, {}},
        {denied, -2, {R::kOpenFailed, 13}, {}},
        {huge[0], -2, {R::kTooLarge}, {}},
        {huge[1], -2, {R::kTooLarge}, {}},
        // A /proc file measures 0 bytes and holds more: nothing would go out.
        {"/proc/self/status", -2, {R::kUnmeasured}, {}},
        {attribute, -1, {R::kReadShort, 0, page, got, 0}, {B(mac.begin(), mac.end())}},
        {attribute,
         -2,
         {R::kReadShort, 0, page, got, static_cast<int32_t>(got)},
         {B(mac.begin(), mac.end())}},
        // More or less than was handed over is no success.
        {ten, 3, {R::kSendFailed, 0, 10, 10, 3}, tenSent},
        {ten, 0, {R::kSendFailed, 0, 10, 10, 0}, tenSent},
        {ten, -1, {R::kSendFailed, 0, 10, 10, 0}, tenSent},
        {ten, 11, {R::kSendFailed, 0, 10, 10, 11}, tenSent},
        {Write("empty2", ""), 1, {R::kSendFailed, 0, 0, 0, 1}, {B{}}},
    };
    for (const auto& c : cases) {
        if (!std::filesystem::exists(c.path) && c.outcome.error == 13) {
            continue;  // no such attribute here
        }
        link.SetSendResult(kPrinter, c.sendResult);
        const auto [outcome, sends] = Send(c.path);
        EXPECT_EQ(outcome, c.outcome) << c.path << " " << c.sendResult;
        EXPECT_EQ(sends, c.sends) << c.path;
    }
}

// The window the flows run in: answers every question with `answer` and
// records what it was asked and told.
struct RecordingSite : CommandSite {
    bool ConfirmSetIp(const std::string& address) override {
        events.push_back("(ask " + address + ")");
        return answer;
    }
    bool ConfirmSetMac() override {
        events.push_back("(ask mac)");
        return answer;
    }
    void WriteBackControls() override { events.push_back("(write-back)"); }
    int32_t PurgeArpEntry() override {
        events.push_back("(purge)");
        return purgeResult;
    }
    std::vector<std::string> events;
    bool answer = true;
    int32_t purgeResult = 1;
};

class ConfigFlowTest : public ::testing::Test {
protected:
    ConfigFlowTest() { link.AddPrinter(kCurrent); }
    // Runs `flow` with the question answered `answer`; the bytes sent.
    std::vector<B> Run(const std::function<void()>& flow, bool answer = true) {
        site = RecordingSite{};
        site.answer = answer;
        link.ClearCalls();
        probes->probes.clear();
        flow();
        std::vector<B> sends;
        for (const auto& c : link.CallsOf("SendData")) {
            EXPECT_EQ(c.address, kCurrent);
            sends.push_back(c.bytes);
        }
        return sends;
    }
    SetIpOutcome SetIp(std::array<uint8_t, 4> wanted) {
        return SetPrinterIp(site, link, makeProber, kCurrent, Ipv4Address::FromOctets(wanted));
    }

    static constexpr const char* kCurrent = "192.168.1.10";
    RecordingSite site;
    TablePrinterLink link;
    std::shared_ptr<ScriptedProber::Shared> probes = std::make_shared<ScriptedProber::Shared>();
    ProberFactory makeProber = [this] { return std::make_unique<ScriptedProber>(probes); };
    std::vector<int64_t> generatorLog;  // seeds as themselves, draws as -1
    int clockReads = 0;
    MacSource source{[this] {
                         ++clockReads;
                         return PinnedTime(2026, 12, 6, 1, 42, 46);
                     },
                     [this](unsigned seed) { generatorLog.push_back(seed); },
                     [this] {
                         generatorLog.push_back(-1);
                         return 5;
                     },
                     [] { return std::time_t{1796521366}; }};
};

TEST_F(ConfigFlowTest, SetIpAsksProbesAndSendsTheFrameToTheCurrentAddress) {
    using O = SetIpOutcome;
    using Events = std::vector<std::string>;
    const Events asked = {"(ask 192.168.1.20)"};
    const std::vector<B> frame = {{0x1D, 0x44, 0xC0, 0xA8, 0x01, 0x14, 0x7D}};
    const std::array<uint8_t, 4> wanted = {192, 168, 1, 20};
    // A probe that could not be made (-1) counts as free; only 7 is success.
    const struct {
        std::array<uint8_t, 4> wanted;
        bool answer;
        int32_t probe, sendResult;
        O outcome;
        Events events;
        std::vector<B> sends;
    } cases[] = {
        {{192, 168, 1, 10}, true, 0, -2, O::kSameAddress, {}, {}},
        {wanted, false, 0, -2, O::kCancelled, asked, {}},
        {wanted, true, 1, -2, O::kOccupied, asked, {}},
        {wanted, true, 2, -2, O::kOccupied, asked, {}},
        {wanted, true, -1, 7, O::kSent, asked, frame},
        {wanted, true, 0, -2, O::kSent, asked, frame},
        {wanted, true, -1, 0, O::kFailed, asked, frame},
        {wanted, true, -1, 6, O::kFailed, asked, frame},
        {wanted, true, -1, 8, O::kFailed, asked, frame},
        {wanted, true, -1, -1, O::kFailed, asked, frame},
    };
    for (const auto& c : cases) {
        probes->answers["192.168.1.20"] = c.probe;
        link.SetSendResult(kCurrent, c.sendResult);
        O outcome{};
        EXPECT_EQ(Run([&] { outcome = SetIp(c.wanted); }, c.answer), c.sends) << c.sendResult;
        EXPECT_EQ(outcome, c.outcome) << c.probe << " " << c.sendResult;
        EXPECT_EQ(site.events, c.events);
        // Probed once the user said yes, and only then.
        const bool probed = c.answer && !c.events.empty();
        EXPECT_EQ(probes->probes.size(), probed ? 1u : 0u);
        if (probed) {
            EXPECT_EQ(probes->probes[0], std::pair(std::string("192.168.1.20"), int32_t{1000}));
        }
    }
    makeProber = [] { return std::unique_ptr<EchoProber>(); };
    link.SetSendResult(kCurrent, -2);
    O outcome{};
    EXPECT_EQ(Run([&] {
                  outcome = SetIp({10, 255, 255, 1});
              }),
              (std::vector<B>{{0x1D, 0x44, 0x0A, 0xFF, 0xFF, 0x01, 0x09}}));
    EXPECT_EQ(outcome, O::kSent);
}

TEST_F(ConfigFlowTest, SetMacWorkedExampleOnTheWireAndInItsOutcome) {
    using R = SetMacOutcome::Result;
    const std::array<uint8_t, 6> mac = {0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C};
    const std::vector<std::string> sent = {"(ask mac)", "(write-back)", "(purge)"};
    const struct {
        bool answer;
        int32_t sendResult;  // -1 counts as sent
        int32_t purgeResult;
        SetMacOutcome outcome;
        std::vector<std::string> events;
    } cases[] = {
        {false, 9, 1, {R::kCancelled}, {"(ask mac)"}},
        {true, 9, 1, {R::kSent, mac}, sent},
        {true, -1, 0, {R::kSentArpStale, mac}, sent},
        {true, 0, 1, {R::kFailed}, {"(ask mac)"}},
    };
    const std::vector<B> frame = {{0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0xE9}};
    for (const auto& c : cases) {
        link.SetSendResult(kCurrent, c.sendResult);
        clockReads = 0;
        generatorLog.clear();
        SetMacOutcome outcome{R::kFailed};
        const auto sends = Run(
            [&] {
                site.purgeResult = c.purgeResult;
                outcome = SetPrinterMac(site, link, source, kCurrent);
            },
            c.answer);
        EXPECT_EQ(outcome, c.outcome) << c.sendResult;
        EXPECT_EQ(site.events, c.events) << c.sendResult;
        EXPECT_EQ(sends, c.answer ? frame : std::vector<B>{});
        // Nothing is drawn before the answer; then the clock is read once and
        // every draw re-seeds with the calendar time.
        const int64_t s = 1796521366;
        const std::vector<int64_t> draws = {s, -1, s, -1, s, -1, s, -1, s, -1};
        EXPECT_EQ(clockReads, c.answer ? 1 : 0);
        EXPECT_EQ(generatorLog, c.answer ? draws : std::vector<int64_t>{});
    }
}

}  // namespace
}  // namespace vorpane
