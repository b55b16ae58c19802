#pragma once
// One ICMP echo request with an IP Record-Route option, and the question
// whether anything at the target answered it within a time-out.
//
// The socket calls sit behind IcmpSocket / IcmpSocketFactory so that the
// request loop can be fed datagrams, time-outs and errors in tests; the clock
// sits behind MillisecondClock for the same reason.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "platform/ipv4_address.h"
#include "platform/socket.h"

namespace vorpane {

// The time-out of every probe outside the scan.
inline constexpr int32_t kProbeTimeoutMs = 1000;

// One ICMP echo probe object: 1 a datagram came from the address, 0 none
// came, -1 the probe could not be made.
class EchoProber {
public:
    virtual ~EchoProber() = default;
    virtual int32_t Probe(const std::string& address, int32_t timeoutMs) = 0;
};

// Makes a fresh probe object; each probe owns its own socket. Null when none
// can be made.
using ProberFactory = std::function<std::unique_ptr<EchoProber>()>;

// One probe with a fresh object; an object that could not be made is a
// probe whose set-up failed (-1).
int32_t ProbeOnce(const ProberFactory& make, const std::string& address, int32_t timeoutMs);

// Outcome of one send or receive: a byte count, or the errno that ended it.
struct IcmpIoResult {
    int32_t bytes = 0;
    int error = 0;  // 0 on success
};

// The calls the probe makes on its socket. Option setters return 0 or an
// errno. A time-out on send or receive is reported as EAGAIN/EWOULDBLOCK.
class IcmpSocket {
public:
    virtual ~IcmpSocket() = default;
    virtual int SetIpOptions(std::span<const uint8_t> options) = 0;
    virtual int SetReceiveTimeout(int32_t milliseconds) = 0;
    virtual int SetSendTimeout(int32_t milliseconds) = 0;
    virtual IcmpIoResult SendTo(std::span<const uint8_t> datagram, Ipv4Address to) = 0;
    // `from` receives the sender of the datagram.
    virtual IcmpIoResult ReceiveFrom(std::span<uint8_t> buffer, Ipv4Address& from) = 0;
    // Asks the system to deliver only datagrams from `source`; 0 or an
    // errno. Only a shortcut: the probe still checks every sender itself.
    virtual int KeepOnlyFrom(Ipv4Address /*source*/) { return 0; }
};

// Either an open socket or the errno that kept it from opening.
struct IcmpSocketOrError {
    std::unique_ptr<IcmpSocket> socket;
    int error = 0;
};

class IcmpSocketFactory {
public:
    virtual ~IcmpSocketFactory() = default;
    virtual IcmpSocketOrError Open() = 0;
};

// A raw ICMP socket (it needs CAP_NET_RAW on Linux, an administrator on
// Windows), or the errno that kept it from opening (EPERM or EACCES when the
// right is missing).
IcmpSocketOrError OpenRawIcmpSocket();

// The system's ICMP sockets: a raw ICMP socket where the caller may have one;
// else, on Linux, the unprivileged ICMP datagram ("ping") socket where
// net.ipv4.ping_group_range admits the caller's group. Stateless; one
// instance serves any number of threads.
class SystemIcmpSocketFactory final : public IcmpSocketFactory {
public:
    IcmpSocketOrError Open() override;
    static SystemIcmpSocketFactory& Instance();
};

// Hands the probe the one socket that was opened already.
class OpenedIcmpSocket final : public IcmpSocketFactory {
public:
    explicit OpenedIcmpSocket(std::unique_ptr<IcmpSocket> socket) : m_socket(std::move(socket)) {}
    // The socket the first time, EMFILE after that.
    IcmpSocketOrError Open() override;

private:
    std::unique_ptr<IcmpSocket> m_socket;
};

// A monotonic millisecond clock.
class MillisecondClock {
public:
    virtual ~MillisecondClock() = default;
    virtual uint64_t NowMs() = 0;
};

class SteadyMillisecondClock final : public MillisecondClock {
public:
    uint64_t NowMs() override;
    static SteadyMillisecondClock& Instance();
};

class CEchoProbe : public EchoProber {
public:
    static constexpr size_t kBufferSize = 1024;
    static constexpr size_t kRequestSize = 44;
    static constexpr size_t kIpOptionsSize = 40;
    // However many datagrams from other addresses keep arriving, a probe
    // ends this many time-outs after its first request: the wait an
    // undisturbed probe may take (one send plus one receive time-out).
    static constexpr int32_t kTimeoutsPerProbe = 2;

    CEchoProbe();
    explicit CEchoProbe(IcmpSocketFactory& sockets);
    CEchoProbe(IcmpSocketFactory& sockets, MillisecondClock& clock);

    // 1 when a datagram from `address` (dotted decimal) arrived within the
    // time-out, 0 when none did, -1 when no socket with its options could be
    // had, when a send or receive failed other than by a time-out, or when
    // the address or time-out is unusable.
    int32_t Probe(const std::string& address, int32_t timeoutMs) override;

    // The IP options of every request: Record-Route with room for nine
    // addresses, padded to kIpOptionsSize.
    static std::array<uint8_t, kIpOptionsSize> RecordRouteOptions();

    // Writes a fresh echo request into the first kRequestSize bytes of
    // `request`: type 8, code 0, zero checksum, this process's identifier,
    // sequence 0, timestamp 0; the data stays as it was (zero).
    static void FillEchoRequest(uint8_t* request);

    // RFC 1071 Internet checksum: the bytes taken as 16-bit words, first byte
    // most significant, a trailing odd byte padded with zero, summed with
    // end-around carry and complemented. Store the result first byte high.
    static uint16_t Checksum(const uint8_t* bytes, size_t count);

private:
    IcmpSocketFactory* m_sockets;
    MillisecondClock* m_clock;
};

}  // namespace vorpane
