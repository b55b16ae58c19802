#include "cli/metrics.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <map>
#include <sstream>
#include <thread>

#include "loopback_printer.h"
#include "printer_link/network_printer_link.h"

namespace vorpane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The samples of an exposition ("name{labels}" to value), and how often
// each "# HELP name" and "# TYPE name" came.
struct Exposition {
    std::map<std::string, std::string> samples;
    std::map<std::string, int> headers;
    std::vector<std::string> upOrder;  // labels of vorpane_printer_up, as they came
};

Exposition Parse(const std::string& text) {
    Exposition parsed;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("#")) {
            EXPECT_TRUE(line.starts_with("# HELP ") || line.ends_with(" gauge")) << line;
            ++parsed.headers[line.substr(0, line.find(' ', 7))];
        } else {
            const size_t space = line.rfind(' ');
            const std::string key = line.substr(0, space);
            EXPECT_TRUE(parsed.samples.emplace(key, line.substr(space + 1)).second) << line;
            if (key.starts_with("vorpane_printer_up{")) {
                parsed.upOrder.push_back(key.substr(18));
            }
        }
    }
    return parsed;
}

std::string Key(const std::string& name, const std::string& address) {
    return name + "{address=\"" + address + "\"}";
}

std::string InfoKey(const std::string& address, const std::string& mac) {
    return "vorpane_printer_info{address=\"" + address +
           "\",maker=\"\",model=\"\",firmware=\"\",serial=\"\",mac=\"" + mac + "\"}";
}

std::vector<Ipv4Address> Addresses(std::initializer_list<const char*> texts) {
    std::vector<Ipv4Address> out;
    for (const char* text : texts) {
        out.push_back(*Ipv4Address::Parse(text));
    }
    return out;
}

const char* const kPrinterGauges[] = {"vorpane_printer_up",
                                      "vorpane_printer_online",
                                      "vorpane_printer_busy",
                                      "vorpane_printer_paper_end",
                                      "vorpane_printer_pause",
                                      "vorpane_printer_cover_open",
                                      "vorpane_printer_over_temperature",
                                      "vorpane_printer_paper_near_end",
                                      "vorpane_printer_drawer_pin3_high",
                                      "vorpane_printer_feed_button",
                                      "vorpane_printer_mechanical_error",
                                      "vorpane_printer_cutter_error",
                                      "vorpane_printer_unrecoverable_error",
                                      "vorpane_printer_in_use"};

TEST(FormatMetrics, EachPrinterHasItsKnownConditionsInAddressOrder) {
    constexpr int32_t kIdle = 0x12121212;
    struct Row {
        const char* address;
        int32_t status;
        const char* expected;  // per kPrinterGauges: 0, 1, or - for no sample
    } rows[] = {
        {"192.0.2.10", kIdle, "11000000000000"},
        {"192.0.2.9", kIdle | kStatusPaperEnd | kStatusCoverOpen, "11010100000000"},
        {"192.0.2.3", kIdle | kStatusBusy | kStatusPause | kStatusTempOver, "11101010000000"},
        // Pin 3, feed button; mechanical, cutter and unrecoverable errors; near end.
        {"192.0.2.4", kIdle | 0x44 | 0x2C << 16 | 0x0C << 24, "11000001111110"},
        {"10.0.0.1", -1, "00-----------0"},
    };
    std::vector<PrinterReading> readings;
    for (const auto& row : rows) {
        readings.push_back({*Ipv4Address::Parse(row.address), "m", "", row.status});
    }
    // One more printer whose reading had not ended by the deadline.
    Exposition parsed = Parse(FormatMetrics(readings, Addresses({"192.0.2.200"}), 0.25));
    for (const auto& row : rows) {
        EXPECT_EQ(parsed.samples[Key("vorpane_printer_reading_complete", row.address)], "1");
        for (size_t i = 0; i < std::size(kPrinterGauges); ++i) {
            const auto found = parsed.samples.find(Key(kPrinterGauges[i], row.address));
            const std::string value = found == parsed.samples.end() ? "-" : found->second;
            EXPECT_EQ(value, std::string(1, row.expected[i]))
                << kPrinterGauges[i] << " " << row.address;
        }
    }
    EXPECT_EQ(parsed.samples.at("vorpane_scrape_duration_seconds"), "0.25");
    EXPECT_EQ(parsed.samples[Key("vorpane_printer_reading_complete", "192.0.2.200")], "0");
    EXPECT_EQ(parsed.samples.count(Key("vorpane_printer_up", "192.0.2.200")), 0u);
    // The MAC is on the info series alone; a printer that did not answer
    // says why, in one of four reasons.
    EXPECT_EQ(parsed.samples[InfoKey("192.0.2.9", "m")], "1");
    const auto reason = [&](const char* address, const char* why) {
        return parsed.samples[std::string("vorpane_printer_down_reason{address=\"") + address +
                              "\",reason=\"" + why + "\"}"];
    };
    EXPECT_EQ(reason("10.0.0.1", "timeout"), "1");
    EXPECT_EQ(reason("10.0.0.1", "refused"), "0");
    EXPECT_EQ(reason("192.0.2.9", "timeout"), "0");
    // Complete, up, online, in use, info and four reasons of every printer
    // read; the other 11 of those that answered; the unread one's complete;
    // the duration.
    EXPECT_EQ(parsed.samples.size(), 5 * 9 + 4 * 11 + 1 + 1u);
    std::vector<std::string> names(std::begin(kPrinterGauges), std::end(kPrinterGauges));
    names.push_back("vorpane_scrape_duration_seconds");
    names.push_back("vorpane_printer_reading_complete");
    names.push_back("vorpane_printer_down_reason");
    names.push_back("vorpane_printer_info");
    for (const auto& name : names) {
        EXPECT_EQ(parsed.headers["# HELP " + name], 1) << name;
        EXPECT_EQ(parsed.headers["# TYPE " + name], 1) << name;
    }
    EXPECT_EQ(parsed.headers.size(), 36u);
    const std::vector<std::string> order = {R"({address="10.0.0.1"})", R"({address="192.0.2.3"})",
                                            R"({address="192.0.2.4"})", R"({address="192.0.2.9"})",
                                            R"({address="192.0.2.10"})"};
    EXPECT_EQ(parsed.upOrder, order);
}

TEST(FormatMetrics, EscapesLabelValues) {
    const auto parsed =
        Parse(FormatMetrics({{*Ipv4Address::Parse("192.0.2.1"), "a\"b\\c\nd", "", -1}}, {}, 0));
    EXPECT_EQ(parsed.samples.count(InfoKey("192.0.2.1", R"(a\"b\\c\nd)")), 1u);
}

TEST(ParseListenEndpoint, TakesAddressAndPort) {
    const struct {
        const char* text;
        std::optional<Ipv4Endpoint> expected;
    } rows[] = {
        {"127.0.0.1:9464", Ipv4Endpoint{kLoopbackAddress, 9464}},
        {"0.0.0.0:1", Ipv4Endpoint{0, 1}},
        {"10.1.2.3:65535", Ipv4Endpoint{0x0A010203, 65535}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ParseListenEndpoint(row.text), row.expected) << row.text;
    }
    for (const char* bad :
         {"127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:", ":9464", "127.0.0.1", "127.0.0.1:+80",
          "127.0.0.1:80x", "localhost:80", "127.1:80", "127.0.0.1:80:1", "127.0.0.1:99999999999"}) {
        EXPECT_EQ(ParseListenEndpoint(bad), std::nullopt) << bad;
    }
}

// Records the prefixes asked for and answers hosts 5 and 7 of each.
struct FakeSweep {
    std::mutex mutex;
    std::condition_variable called;
    std::vector<Ipv4Prefix> calls;

    PrefixSweep Function() {
        return [this](const Ipv4Prefix& prefix) {
            {
                std::lock_guard lock(mutex);
                calls.push_back(prefix);
            }
            called.notify_all();
            return std::vector{prefix.network.WithHostNumber(prefix.length, 7),
                               prefix.network.WithHostNumber(prefix.length, 5)};
        };
    }
    size_t WaitFor(size_t count) {
        std::unique_lock lock(mutex);
        called.wait_for(lock, 10s, [&] { return calls.size() >= count; });
        return calls.size();
    }
};

Ipv4Prefix Prefix(const char* network, int length) {
    return {*Ipv4Address::Parse(network), length};
}

TEST(MetricsTargets, SweepsAtStartAndAgainEachPeriod) {
    FakeSweep sweep;
    const auto prefixes = {Prefix("192.0.2.0", 24), Prefix("10.0.0.0", 16)};
    auto targets = MetricsTargets::Start(Addresses({"192.0.2.7", "172.16.0.1"}), prefixes,
                                         sweep.Function(), 20ms);
    ASSERT_TRUE(targets);
    EXPECT_GE(sweep.WaitFor(6), 6u);
    EXPECT_EQ(targets->Current(),
              Addresses({"10.0.0.5", "10.0.0.7", "172.16.0.1", "192.0.2.5", "192.0.2.7"}));
}

httplib::Result Get(const MetricsServer& server, const char* path = "/metrics") {
    httplib::Client client("127.0.0.1", server.Port());
    client.set_read_timeout(10, 0);
    return client.Get(path);
}

TEST(MetricsTargets, AScrapeReadsTheLastSweepWithoutSweepingAndTheEndIsPrompt) {
    FakeSweep sweep;
    auto targets = MetricsTargets::Start({}, {Prefix("192.0.2.0", 24)}, sweep.Function(), 1h);
    ASSERT_TRUE(targets->WaitForFirstSweep(10s));
    auto started = MetricsServer::Start(
        {kLoopbackAddress, 0}, [&] { return targets->Current(); },
        [](Ipv4Address address) {
            return PrinterReading{address, "", "", -1};
        });
    ASSERT_TRUE(started.server) << started.message;
    const auto response = Get(*started.server);
    ASSERT_TRUE(response);
    auto parsed = Parse(response->body);
    EXPECT_EQ(parsed.samples.count(Key("vorpane_printer_up", "192.0.2.5")), 1u);
    EXPECT_EQ(parsed.samples.count(Key("vorpane_printer_up", "192.0.2.7")), 1u);
    EXPECT_EQ(sweep.WaitFor(1), 1u);

    const auto start = Clock::now();
    targets.reset();
    EXPECT_LT(Clock::now() - start, 2s);
}

// Reads a printer through a link of its own, as the program's readers do.
PrinterReader LinkReader(uint16_t port, int32_t timeoutMs) {
    return [=](Ipv4Address address) {
        NetworkPrinterLink link(port);
        link.SetTimeOut(0, timeoutMs);
        return PrinterReading{address, "", "", link.GetStatus(address.Text().c_str())};
    };
}

TEST(MetricsServer, ScrapesFollowThePrinters) {
    auto first = StartLoopbackPrinter([](auto& c) { c.listenAddresses = {"127.0.0.2"}; });
    ASSERT_TRUE(first);
    const uint16_t port = first->Port();
    auto second = StartLoopbackPrinter([&](auto& c) {
        c.listenAddresses = {"127.0.0.3"};
        c.port = port;
    });
    ASSERT_TRUE(second);
    const auto addresses = Addresses({"127.0.0.3", "127.0.0.2"});
    auto started = MetricsServer::Start(
        {kLoopbackAddress, 0}, [&] { return addresses; }, LinkReader(port, 2000));
    ASSERT_TRUE(started.server) << started.message;
    const auto scrape = [&] {
        const auto response = Get(*started.server);
        EXPECT_TRUE(response && response->status == 200);
        EXPECT_EQ(response ? response->get_header_value("Content-Type") : "",
                  "text/plain; version=0.0.4");
        return response ? Parse(response->body) : Exposition{};
    };

    auto parsed = scrape();
    EXPECT_EQ(parsed.samples[Key("vorpane_printer_up", "127.0.0.2")], "1");
    EXPECT_EQ(parsed.samples[Key("vorpane_printer_paper_end", "127.0.0.2")], "0");
    ConditionSet paperEnd;
    paperEnd.Add(Condition::kPaperEnd);
    first->SetConditions(paperEnd);
    parsed = scrape();
    EXPECT_EQ(parsed.samples[Key("vorpane_printer_paper_end", "127.0.0.2")], "1");
    EXPECT_EQ(parsed.samples[Key("vorpane_printer_online", "127.0.0.2")], "1");
    second->Stop();
    parsed = scrape();
    EXPECT_EQ(parsed.samples[Key("vorpane_printer_up", "127.0.0.3")], "0");
    EXPECT_EQ(parsed.samples.count(Key("vorpane_printer_paper_end", "127.0.0.3")), 0u);

    const auto elsewhere = Get(*started.server, "/");
    ASSERT_TRUE(elsewhere);
    EXPECT_EQ(elsewhere->status, 404);
}

TEST(MetricsServer, SilentPrintersTogetherCostOneTimeOut) {
    constexpr int32_t kTimeoutMs = 500;
    std::vector<std::string> texts;
    for (int host = 10; host < 18; ++host) {
        texts.push_back("127.0.0." + std::to_string(host));
    }
    auto mute = StartLoopbackPrinter([&](auto& c) {
        c.listenAddresses = texts;
        c.mode = PrinterMode::kMute;
    });
    ASSERT_TRUE(mute);
    std::vector<Ipv4Address> addresses;
    for (const auto& text : texts) {
        addresses.push_back(*Ipv4Address::Parse(text));
    }
    auto started = MetricsServer::Start(
        {kLoopbackAddress, 0}, [&] { return addresses; }, LinkReader(mute->Port(), kTimeoutMs));
    ASSERT_TRUE(started.server) << started.message;
    const auto start = Clock::now();
    const auto response = Get(*started.server);
    const auto took = Clock::now() - start;
    ASSERT_TRUE(response);
    auto parsed = Parse(response->body);
    EXPECT_EQ(parsed.samples[Key("vorpane_printer_up", "127.0.0.17")], "0");
    EXPECT_GE(std::stod(parsed.samples["vorpane_scrape_duration_seconds"]), kTimeoutMs / 1000.0);
    EXPECT_LT(took, 3 * std::chrono::milliseconds(kTimeoutMs));  // one by one: 8 time-outs
}

// A reading with a long time-out, held by a printer that accepted and says
// nothing, must not hold the stop: the stop wakes the reading's wait.
TEST(MetricsServer, StopsWithinASecondWhileASilentPrinterHoldsAReading) {
    auto mute = StartLoopbackPrinter([](auto& c) {
        c.listenAddresses = {"127.0.0.20"};
        c.mode = PrinterMode::kMute;
    });
    ASSERT_TRUE(mute);
    NetworkPrinterLink link(mute->Port());
    link.SetTimeOut(10, 0);
    std::atomic<int> stopped{0};
    MetricsOptions options;
    options.stopReadings = [&] { link.StopReadings(); };
    const std::vector<Ipv4Address> addresses = Addresses({"127.0.0.20"});
    auto started = MetricsServer::Start(
        {kLoopbackAddress, 0}, [&] { return addresses; },
        [&](Ipv4Address address) {
            const StatusReading reading = link.ReadStatus(address.Text().c_str());
            stopped += reading.outcome == StatusOutcome::kStopped;
            return PrinterReading{address, "", "", -1};
        },
        options);
    ASSERT_TRUE(started.server) << started.message;
    std::jthread scrape([&] { Get(*started.server); });
    ASSERT_TRUE(mute->GetJournal().WaitForPrefix("session 1 open", 10s));

    const auto start = Clock::now();
    started.server->Stop();
    EXPECT_LT(Clock::now() - start, 1s);
    EXPECT_EQ(stopped.load(), 1);
}

TEST(MetricsServer, ASecondServerOnTheSamePortIsRefused) {
    const auto none = [] { return std::vector<Ipv4Address>{}; };
    const auto read = [](Ipv4Address address) { return PrinterReading{address, "", "", -1}; };
    auto first = MetricsServer::Start({kLoopbackAddress, 0}, none, read);
    ASSERT_TRUE(first.server) << first.message;
    auto second = MetricsServer::Start({kLoopbackAddress, first.server->Port()}, none, read);
    EXPECT_FALSE(second.server);
    EXPECT_EQ(second.error, EADDRINUSE);
    EXPECT_NE(second.message.find("in use"), std::string::npos) << second.message;

    std::atomic<bool> stop{true};
    EXPECT_TRUE(ServeUntil(*first.server, stop));
    EXPECT_TRUE(first.server->WaitForEnd(0ms));
    EXPECT_FALSE(Get(*first.server));
}

}  // namespace
}  // namespace vorpane
