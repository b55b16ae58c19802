#include "net/echo_probe.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>

#include "platform/thread.h"

namespace vorpane {

namespace {

constexpr uint8_t kEchoRequestType = 8;
constexpr uint8_t kRecordRoute = 7;
constexpr uint8_t kRecordRouteLength = 39;
constexpr uint8_t kRecordRouteFirstSlot = 4;

// Where the fields of the echo request sit (RFC 792). The identifier,
// sequence and timestamp go in the host's own (little-endian) order: only
// this program reads them back, and the checksum does not care.
namespace echo_field {
constexpr size_t kType = 0;
constexpr size_t kCode = 1;
constexpr size_t kChecksum = 2;
constexpr size_t kIdentifier = 4;
constexpr size_t kSequence = 6;
constexpr size_t kTimestamp = 8;
}  // namespace echo_field

bool IsTimeout(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

void PutLittleEndian16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void PutLittleEndian32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

}  // namespace

SystemIcmpSocketFactory& SystemIcmpSocketFactory::Instance() {
    static SystemIcmpSocketFactory factory;
    return factory;
}

IcmpSocketOrError OpenedIcmpSocket::Open() {
    return m_socket ? IcmpSocketOrError{std::move(m_socket), 0}
                    : IcmpSocketOrError{nullptr, EMFILE};
}

uint64_t SteadyMillisecondClock::NowMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

SteadyMillisecondClock& SteadyMillisecondClock::Instance() {
    static SteadyMillisecondClock clock;
    return clock;
}

CEchoProbe::CEchoProbe() : CEchoProbe(SystemIcmpSocketFactory::Instance()) {}

CEchoProbe::CEchoProbe(IcmpSocketFactory& sockets)
    : CEchoProbe(sockets, SteadyMillisecondClock::Instance()) {}

CEchoProbe::CEchoProbe(IcmpSocketFactory& sockets, MillisecondClock& clock)
    : m_sockets(&sockets), m_clock(&clock) {}

std::array<uint8_t, CEchoProbe::kIpOptionsSize> CEchoProbe::RecordRouteOptions() {
    std::array<uint8_t, kIpOptionsSize> options{};
    options[0] = kRecordRoute;
    options[1] = kRecordRouteLength;
    options[2] = kRecordRouteFirstSlot;
    return options;
}

void CEchoProbe::FillEchoRequest(uint8_t* request) {
    request[echo_field::kType] = kEchoRequestType;
    request[echo_field::kCode] = 0;
    PutLittleEndian16(request + echo_field::kChecksum, 0);
    PutLittleEndian16(request + echo_field::kIdentifier,
                      static_cast<uint16_t>(CurrentProcessId() & 0xFFFF));
    PutLittleEndian16(request + echo_field::kSequence, 0);
    PutLittleEndian32(request + echo_field::kTimestamp, 0);
}

namespace {

// Stamps the next request: its sequence number, the send time and the
// checksum over the whole request, stored first byte high.
void StampRequest(uint8_t* request, uint16_t sequence, uint64_t nowMs) {
    PutLittleEndian16(request + echo_field::kSequence, sequence);
    PutLittleEndian32(request + echo_field::kTimestamp, static_cast<uint32_t>(nowMs));
    PutLittleEndian16(request + echo_field::kChecksum, 0);
    const uint16_t sum = CEchoProbe::Checksum(request, CEchoProbe::kRequestSize);
    request[echo_field::kChecksum] = static_cast<uint8_t>(sum >> 8);
    request[echo_field::kChecksum + 1] = static_cast<uint8_t>(sum);
}

}  // namespace

uint16_t CEchoProbe::Checksum(const uint8_t* bytes, size_t count) {
    // 64 bits cannot overflow for any buffer that fits in memory.
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < count; i += 2) {
        sum += static_cast<uint64_t>(bytes[i]) << 8 | bytes[i + 1];
    }
    if (i < count) {
        sum += static_cast<uint64_t>(bytes[i]) << 8;
    }
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum & 0xFFFF);
}

int32_t CEchoProbe::Probe(const std::string& address, int32_t timeoutMs) {
    // A zero time-out would mean "wait for ever" to the socket; text that is
    // no address must not turn into a request to some other host.
    const std::optional<Ipv4Address> parsed = Ipv4Address::Parse(address);
    if (timeoutMs <= 0 || !parsed) {
        return -1;
    }
    const Ipv4Address destination = *parsed;

    IcmpSocketOrError opened = m_sockets->Open();
    if (!opened.socket) {
        return -1;
    }
    IcmpSocket& socket = *opened.socket;
    // Without the filter the probe still works, only more slowly in a busy
    // scan, so its failure is not the probe's.
    socket.KeepOnlyFrom(destination);

    if (socket.SetIpOptions(RecordRouteOptions()) != 0 ||
        socket.SetReceiveTimeout(timeoutMs) != 0 || socket.SetSendTimeout(timeoutMs) != 0) {
        return -1;
    }

    std::array<uint8_t, kBufferSize> request{};
    std::array<uint8_t, kBufferSize> reply{};
    FillEchoRequest(request.data());

    const uint64_t deadline =
        m_clock->NowMs() + static_cast<uint64_t>(timeoutMs) * kTimeoutsPerProbe;
    int32_t receiveTimeout = timeoutMs;
    uint16_t sequence = 0;

    // One request and the wait for its answer. A datagram from another host
    // (a busy scan's neighbours) sends the request again, until the deadline;
    // an answer, a time-out or an error ends the probe.
    for (;;) {
        uint64_t now = m_clock->NowMs();
        if (now >= deadline) {
            return 0;
        }
        StampRequest(request.data(), sequence++, now);
        const IcmpIoResult sent =
            socket.SendTo(std::span<const uint8_t>(request.data(), kRequestSize), destination);
        if (sent.error != 0) {
            return IsTimeout(sent.error) || sent.error == EINTR ? 0 : -1;
        }

        // Wait for one datagram, never past the deadline.
        Ipv4Address source;
        IcmpIoResult got{0, EINTR};
        while (got.error == EINTR) {
            now = m_clock->NowMs();
            if (now >= deadline) {
                return 0;
            }
            const int32_t wait =
                static_cast<int32_t>(std::min<uint64_t>(deadline - now, timeoutMs));
            if (wait != receiveTimeout) {
                if (socket.SetReceiveTimeout(wait) != 0) {
                    return -1;
                }
                receiveTimeout = wait;
            }
            source = Ipv4Address();
            got = socket.ReceiveFrom(reply, source);
        }
        if (got.error != 0) {
            return IsTimeout(got.error) ? 0 : -1;
        }
        if (source == destination) {
            return 1;
        }
    }
}

int32_t ProbeOnce(const ProberFactory& make, const std::string& address, int32_t timeoutMs) {
    const std::unique_ptr<EchoProber> prober = make ? make() : nullptr;
    return prober ? prober->Probe(address, timeoutMs) : -1;
}

}  // namespace vorpane
