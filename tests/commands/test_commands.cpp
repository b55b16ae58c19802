// The commands subsystem on its own: the hex parse, the MAC address from the
// clock, the whole-file send, and the Set IP / Set MAC flows against a
// recording site, the table link and a scripted probe.

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
using Boxes = std::vector<std::pair<std::string, uint32_t>>;
constexpr uint32_t kQuestion = ui::kMbOkCancel | ui::kMbIconQuestion;
constexpr uint32_t kInfo = ui::kMbIconInformation;

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
    std::pair<SendOutcome, std::vector<B>> Send(const std::string& path) {
        link.ClearCalls();
        SendOutcome outcome = SendWholeFile(link, kPrinter, path);
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

TEST_F(WholeFileTest, EveryByteGoesOutInOneSendOrTheFailureIsSaid) {
    link.AddPrinter(kPrinter);
    std::string everyByte;
    for (int b = 0; b < 3 * 256; ++b) {
        everyByte += std::string(b % 256 == 0 ? 100 : 0, '\0') + static_cast<char>(b);
    }
    for (const std::string& content : {std::string(), everyByte}) {
        const auto [outcome, sends] = Send(Write("RAW_DATA", content));
        EXPECT_EQ(std::pair(outcome.text, outcome.style),
                  std::pair(std::string("Send finished!"), 0u));
        EXPECT_EQ(outcome.empty, content.empty());
        EXPECT_EQ(sends, std::vector<B>{B(content.begin(), content.end())});
    }
    // Root reads every ordinary file; sysfs still refuses a write-only one.
    const std::string denied = geteuid() == 0 ? "/sys/bus/pci/rescan" : Write("locked", "x");
    if (geteuid() != 0) {
        ASSERT_EQ(chmod(denied.c_str(), 0), 0);
    }
    for (const auto& [path, error] :
         {std::pair((dir / "missing").string(), 2), {dir.string(), 21}, {denied, 13}}) {
        if (!std::filesystem::exists(path) && error == 13) {
            continue;  // no such attribute here
        }
        const auto [outcome, sends] = Send(path);
        EXPECT_EQ(outcome.text, "Open File Failed!Err=" + std::to_string(error) + "\n" + path);
        EXPECT_EQ(outcome.style, ui::kMbOk);
        EXPECT_TRUE(sends.empty());
    }
    // More or less than was handed over is no success.
    const std::string ten = Write("ten", "0123456789");
    for (const int32_t result : {3, 0, -1, 11}) {
        link.SetSendResult(kPrinter, result);
        EXPECT_EQ(Send(ten).first.text, "Send Failed!Sent " + std::to_string(std::max(result, 0)) +
                                            " of 10 bytes\n" + ten);
    }
    // Refused before reading: no buffer is asked for.
    const std::string huge = Write("huge", "");
    for (const uint64_t size : {uint64_t{0x80000000}, uint64_t{0x100000005}}) {
        std::filesystem::resize_file(huge, size);  // sparse: no disk space taken
        const auto [outcome, sends] = Send(huge);
        EXPECT_EQ(std::pair(outcome.text, outcome.style),
                  std::pair("The file is too large to send!\n" + huge, uint32_t{ui::kMbIconError}));
        EXPECT_TRUE(sends.empty());
    }
    // A /proc file measures 0 bytes and holds more: nothing would go out.
    link.ClearCalls();
    const std::string proc = "/proc/self/status";
    const auto [procOutcome, procSends] = Send(proc);
    EXPECT_EQ(std::pair(procOutcome.text, procOutcome.style),
              std::pair("Read File Failed!The file measures 0 bytes but holds more, nothing was "
                        "sent\n" +
                            proc,
                        uint32_t{ui::kMbIconError}));
    EXPECT_TRUE(procSends.empty());
    // sysfs gives an attribute the length of a page but far fewer bytes;
    // what was read goes out, unpadded.
    link.SetSendResult(kPrinter, -2);
    const std::string attribute = "/sys/class/net/lo/address";
    std::ifstream in(attribute, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), {});
    const std::string n = std::to_string(content.size());
    const auto [outcome, sends] = Send(attribute);
    EXPECT_EQ(outcome.text, "Read File Failed!Read " + n + " of " +
                                std::to_string(std::filesystem::file_size(attribute)) +
                                " bytes, sent " + n + " of " + n + " bytes\n" + attribute);
    EXPECT_EQ(sends, std::vector<B>{B(content.begin(), content.end())});
}

// The window the flows run in: answers every box with `answer` and records
// what it was told.
struct RecordingSite : CommandSite {
    int ShowMessage(const std::string& text, uint32_t style) override {
        boxes.emplace_back(text, style);
        return answer;
    }
    void WriteBackControls() override { boxes.emplace_back("(write-back)", 0); }
    int32_t PurgeArpEntry() override {
        boxes.emplace_back("(purge)", 0);
        return purgeResult;
    }
    Boxes boxes;
    int answer = ui::kIdOk;
    int32_t purgeResult = 1;
};

class ConfigFlowTest : public ::testing::Test {
protected:
    ConfigFlowTest() { link.AddPrinter(kCurrent); }
    // One run with the question answered `answer`: what the site was told,
    // and the bytes sent.
    std::pair<Boxes, std::vector<B>> Run(const std::function<void()>& flow,
                                         int answer = ui::kIdOk) {
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
        return {site.boxes, sends};
    }
    void SetIp(std::array<uint8_t, 4> wanted) {
        SetPrinterIp(site, link, makeProber, kCurrent, Ipv4Address::FromOctets(wanted));
    }
    void SetMac() { SetPrinterMac(site, link, source, kCurrent); }

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
    const std::string ask = "Are you sure to set the new IP:192.168.1.20?";
    const B frame = {0x1D, 0x44, 0xC0, 0xA8, 0x01, 0x14, 0x7D};
    const std::array<uint8_t, 4> wanted = {192, 168, 1, 20};
    EXPECT_EQ(
        Run([&] {
            SetIp({192, 168, 1, 10});
        }),
        (std::pair(Boxes{{"Please input a different IP Address!", kInfo}}, std::vector<B>{})));
    EXPECT_EQ(Run([&] { SetIp(wanted); }, ui::kIdCancel),
              (std::pair(Boxes{{ask, kQuestion}}, std::vector<B>{})));
    EXPECT_TRUE(probes->probes.empty());
    for (int32_t answer : {1, 2}) {
        probes->answers["192.168.1.20"] = answer;
        EXPECT_EQ(Run([&] { SetIp(wanted); }).first,
                  (Boxes{{ask, kQuestion},
                         {"This IP(192.168.1.20) has been occupied by other network equipment!",
                          kInfo}}));
        EXPECT_EQ(probes->probes,
                  (std::vector<std::pair<std::string, int32_t>>{{"192.168.1.20", 1000}}));
    }
    // A probe that could not be made (-1) counts as free; only 7 is success.
    probes->answers["192.168.1.20"] = -1;
    for (const int32_t result : {7, 0, 6, 8, -1}) {
        link.SetSendResult(kCurrent, result);
        EXPECT_EQ(Run([&] { SetIp(wanted); }),
                  (std::pair(Boxes{{ask, kQuestion},
                                   {result == 7 ? "Success!\nPlease restart the printer!"
                                                : "Modify the IP Address failed!",
                                    kInfo}},
                             std::vector<B>{frame})))
            << result;
    }
    makeProber = [] { return std::unique_ptr<EchoProber>(); };
    EXPECT_EQ(Run([&] {
                  SetIp({10, 255, 255, 1});
              }).second,
              (std::vector<B>{{0x1D, 0x44, 0x0A, 0xFF, 0xFF, 0x01, 0x09}}));
}

TEST_F(ConfigFlowTest, SetMacWorkedExampleOnTheWireAndOnScreen) {
    const std::string ask = "Are you sure to modify the Mac address?";
    EXPECT_EQ(Run([&] { SetMac(); }, ui::kIdCancel),
              (std::pair(Boxes{{ask, kQuestion}}, std::vector<B>{})));
    EXPECT_EQ(clockReads + generatorLog.size(), 0u);  // nothing drawn before the answer
    const std::string mac = "Mac:AE-2B-64-14-2C-6C\nSuccess!\n";
    const struct {
        int32_t sendResult;  // -1 counts as sent
        int32_t purgeResult;
        Boxes after;  // what follows the question
    } cases[] = {
        {9, 1, {{"(write-back)", 0}, {"(purge)", 0}, {mac + "Please restart the printer!", kInfo}}},
        {-1,
         0,
         {{"(write-back)", 0},
          {"(purge)", 0},
          {mac + "But you may have to connect the printer a few minutes later !", kInfo}}},
        {0,
         1,
         {{"Modify Mac address failed, Please Confirm the printer is online and try again!",
           kInfo}}},
    };
    for (const auto& c : cases) {
        link.SetSendResult(kCurrent, c.sendResult);
        clockReads = 0;
        generatorLog.clear();
        const auto [boxes, sends] = Run([&] {
            site.purgeResult = c.purgeResult;
            SetMac();
        });
        Boxes expected = {{ask, kQuestion}};
        expected.insert(expected.end(), c.after.begin(), c.after.end());
        EXPECT_EQ(boxes, expected) << c.sendResult;
        EXPECT_EQ(sends, (std::vector<B>{{0x1D, 0x45, 0xAE, 0x2B, 0x64, 0x14, 0x2C, 0x6C, 0xE9}}));
        // The clock is read once; every draw re-seeds with the calendar time.
        EXPECT_EQ(clockReads, 1);
        const int64_t s = 1796521366;
        EXPECT_EQ(generatorLog, (std::vector<int64_t>{s, -1, s, -1, s, -1, s, -1, s, -1}));
    }
}

}  // namespace
}  // namespace vorpane
