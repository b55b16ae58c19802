#include "discovery/port_sweep.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <functional>

#include "platform/socket.h"

namespace vorpane {

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

constexpr std::array<uint8_t, 3> kStatusRequest = {0x10, 0x04, 0x01};  // DLE EOT 1

// Our side ran out: of descriptors, buffers or local ports. Any other
// answer to a connect is about its host (refused, no route, a blackhole
// route's EINVAL, a firewall's EACCES or EPERM) and ends that host only.
bool OurSide(int error) {
    switch (error) {
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
        case EADDRNOTAVAIL:
        case EAGAIN:
            return true;
        default:
            return false;
    }
}

enum class Phase { kWaiting, kConnecting, kStatus, kDone };

struct Host {
    Ipv4Address address;
    Phase phase = Phase::kWaiting;
    bool onLink = false;
    // Connecting: the first connect and, from half the deadline on, the
    // second. Status: the accepted connection in the first.
    std::array<Socket, 2> sockets;
    bool retried = false;
    Clock::time_point started;
    Clock::time_point deadline;  // of the phase it is in
};

class Sweep {
public:
    Sweep(std::span<const Ipv4Address> hosts, const SweepOptions& options)
        : m_options(options),
          m_window(std::clamp<int32_t>(options.maxOpenSockets, 1, kMaxPollSockets)),
          m_timeout(std::max<int32_t>(options.timeoutMs, 1)),
          m_retryAfter((m_timeout + 1) / 2),
          m_onLinkWindow(options.maxOnLinkPending > 0 ? options.maxOnLinkPending : INT32_MAX),
          m_neighbourHold(std::max<int32_t>(options.neighbourHoldMs, 0)) {
        m_hosts.reserve(hosts.size());
        for (const Ipv4Address& a : hosts) {
            Host& host = m_hosts.emplace_back();
            host.address = a;
            host.onLink = InAnyPrefix(options.onLink, a);
        }
    }

    SweepResult Run() {
        while (m_result.error == 0 && m_done < m_hosts.size()) {
            const Clock::time_point now = Clock::now();
            Expire(now);
            Retry(now);
            StartMore(now);
            if (m_result.error != 0 || m_done == m_hosts.size()) {
                break;
            }
            Wait();
        }
        m_result.peakOpenSockets = m_peakOpen;
        m_result.peakOnLinkPending = m_peakOnLink;
        std::sort(m_result.hits.begin(), m_result.hits.end(),
                  [](const SweepHit& a, const SweepHit& b) { return a.address < b.address; });
        return std::move(m_result);
    }

private:
    // Opens a socket and starts its connect; false when our side ran out
    // (then the host waits for a free slot, or the sweep ends when none of
    // ours is open to free one).
    bool Connect(Host& host, Socket& socket, Clock::time_point now) {
        Socket::Opened opened = Socket::Open(Socket::Kind::kStream, true);
        if (!opened.socket.Valid()) {
            return OutOfSockets(opened.error);
        }
        const int error = opened.socket.Connect({host.address.HostOrder(), m_options.port});
        if (error == 0) {
            socket = std::move(opened.socket);
            Opened();
            Accepted(host, socket, now);
        } else if (error == EINPROGRESS) {
            socket = std::move(opened.socket);
            Opened();
        } else if (OurSide(error)) {
            return OutOfSockets(error);
        } else {
            Finish(host);
        }
        return true;
    }

    // The system refused us a socket or a local port: the window shrinks to
    // what is open now (never below one) and grows no more; with nothing
    // open, the sweep ends, keeping what it found.
    bool OutOfSockets(int error) {
        if (m_open == 0) {
            m_result.error = error;
        } else {
            m_window = std::max<int32_t>(m_open, 1);
        }
        return false;
    }

    void Opened() {
        ++m_open;
        m_peakOpen = std::max(m_peakOpen, m_open);
    }

    // Hosts start in order: an on-link host waiting for room in the
    // neighbour table holds back the routed ones after it.
    void StartMore(Clock::time_point now) {
        while (!m_released.empty() && m_released.front() <= now) {
            std::pop_heap(m_released.begin(), m_released.end(), std::greater<>());
            m_released.pop_back();
        }
        while (m_next < m_hosts.size() && m_open < m_window && m_result.error == 0) {
            Host& host = m_hosts[m_next];
            if (host.onLink && OnLinkHeld() >= m_onLinkWindow) {
                return;
            }
            host.phase = Phase::kConnecting;
            host.started = now;
            host.deadline = now + Ms(m_timeout);
            if (host.onLink) {
                ++m_onLinkPending;
                m_peakOnLink = std::max(m_peakOnLink, OnLinkHeld());
            }
            if (!Connect(host, host.sockets[0], now)) {
                // Nothing was sent: no entry to wait for.
                if (host.onLink) {
                    --m_onLinkPending;
                }
                host.phase = Phase::kWaiting;
                return;
            }
            ++m_next;
        }
    }

    int32_t OnLinkHeld() const { return m_onLinkPending + static_cast<int32_t>(m_released.size()); }

    // An on-link host that stops connecting keeps its neighbour entry until
    // the system stops asking for its address.
    void LeaveConnecting(Host& host) {
        if (host.phase != Phase::kConnecting || !host.onLink) {
            return;
        }
        --m_onLinkPending;
        const Clock::time_point free = host.started + Ms(m_neighbourHold);
        if (free > Clock::now()) {
            m_released.push_back(free);
            std::push_heap(m_released.begin(), m_released.end(), std::greater<>());
        }
    }

    // A second connect on a fresh socket for each host still pending at half
    // its deadline: a lost SYN or ARP answer costs one retry, not the host.
    void Retry(Clock::time_point now) {
        for (size_t i = m_firstBusy; i < m_next && m_open < m_window; ++i) {
            Host& host = m_hosts[i];
            if (host.phase == Phase::kConnecting && !host.retried &&
                now >= host.started + Ms(m_retryAfter)) {
                if (!Connect(host, host.sockets[1], now)) {
                    return;
                }
                host.retried = true;
            }
        }
    }

    void Expire(Clock::time_point now) {
        for (size_t i = m_firstBusy; i < m_next; ++i) {
            Host& host = m_hosts[i];
            if (host.phase == Phase::kConnecting && now >= host.deadline) {
                Finish(host);  // silent
            } else if (host.phase == Phase::kStatus && now >= host.deadline) {
                Listed(host, std::nullopt);
            }
        }
    }

    void Accepted(Host& host, Socket& socket, Clock::time_point now) {
        if (&socket != &host.sockets[0]) {
            std::swap(host.sockets[0], host.sockets[1]);
        }
        Close(host.sockets[1]);
        LeaveConnecting(host);
        host.phase = Phase::kStatus;
        host.deadline = now + Ms(m_timeout);
        const SocketIo sent = host.sockets[0].Send(kStatusRequest);
        if (sent.error != 0 || sent.bytes != static_cast<int64_t>(kStatusRequest.size())) {
            // A fresh connection takes three bytes at once; one that does not
            // went away, and still accepted.
            Listed(host, std::nullopt);
        }
    }

    void Listed(Host& host, std::optional<uint8_t> status) {
        m_result.hits.push_back({host.address, status});
        Finish(host);
    }

    void Finish(Host& host) {
        Close(host.sockets[0]);
        Close(host.sockets[1]);
        LeaveConnecting(host);
        host.phase = Phase::kDone;
        ++m_done;
        while (m_firstBusy < m_next && m_hosts[m_firstBusy].phase == Phase::kDone) {
            ++m_firstBusy;
        }
    }

    void Close(Socket& socket) {
        if (socket.Valid()) {
            socket.Close();
            --m_open;
        }
    }

    // One wait over every open socket, until the first of them is ready or
    // the next retry or deadline comes.
    void Wait() {
        m_poll.clear();
        m_owners.clear();
        Clock::time_point wake = m_released.empty() ? Clock::time_point::max() : m_released.front();
        for (size_t i = m_firstBusy; i < m_next; ++i) {
            Host& host = m_hosts[i];
            if (host.phase == Phase::kDone) {
                continue;
            }
            wake = std::min(wake, host.deadline);
            if (host.phase == Phase::kConnecting && !host.retried) {
                wake = std::min(wake, host.started + Ms(m_retryAfter));
            }
            const short events = host.phase == Phase::kStatus ? kSocketReadable : kSocketWritable;
            for (Socket& socket : host.sockets) {
                if (socket.Valid()) {
                    m_poll.push_back({socket.Handle(), events, 0});
                    m_owners.push_back(&host);
                }
            }
        }
        const auto left = std::chrono::ceil<Ms>(wake - Clock::now()).count();
        const int timeoutMs = static_cast<int>(std::clamp<int64_t>(left, 0, m_timeout));
        const int rc = PollSockets(m_poll, timeoutMs);
        if (rc == EAGAIN || rc == EINTR) {
            return;
        }
        if (rc != 0) {
            m_result.error = rc;
            return;
        }
        const Clock::time_point now = Clock::now();
        for (size_t k = 0; k < m_poll.size(); ++k) {
            Host& host = *m_owners[k];
            if (m_poll[k].ready == 0) {
                continue;
            }
            // An entry may be stale: its host finished, or the other try
            // was accepted and this one closed, earlier in this loop.
            for (Socket& socket : host.sockets) {
                if (!socket.Valid() || socket.Handle() != m_poll[k].handle) {
                    continue;
                }
                if (host.phase == Phase::kConnecting) {
                    Connected(host, socket, now);
                } else if (host.phase == Phase::kStatus && m_poll[k].events == kSocketReadable) {
                    ReadStatus(host);
                }
                break;
            }
        }
    }

    void Connected(Host& host, Socket& socket, Clock::time_point now) {
        const int error = socket.ConnectResult();
        if (error == 0) {
            Accepted(host, socket, now);
        } else if (!OurSide(error)) {
            Finish(host);
        } else {
            // Our side's trouble ends that try alone; the other may still answer.
            Close(socket);
            if (!host.sockets[0].Valid() && !host.sockets[1].Valid()) {
                Finish(host);
            }
        }
    }

    void ReadStatus(Host& host) {
        uint8_t byte = 0;
        const SocketIo got = host.sockets[0].Receive({&byte, 1});
        if (got.error == EAGAIN || got.error == EWOULDBLOCK || got.error == EINTR) {
            return;
        }
        Listed(host,
               got.error == 0 && got.bytes == 1 ? std::optional<uint8_t>(byte) : std::nullopt);
    }

    const SweepOptions m_options;
    int32_t m_window;
    const int32_t m_timeout;
    const int32_t m_retryAfter;
    const int32_t m_onLinkWindow;
    const int32_t m_neighbourHold;
    std::vector<Host> m_hosts;
    size_t m_next = 0;       // the first host not started
    size_t m_firstBusy = 0;  // every host before it is done
    size_t m_done = 0;
    int32_t m_open = 0;
    int32_t m_peakOpen = 0;
    int32_t m_onLinkPending = 0;
    int32_t m_peakOnLink = 0;
    // When each on-link host that stopped connecting frees its neighbour
    // entry; a min-heap.
    std::vector<Clock::time_point> m_released;
    SweepResult m_result;
    std::vector<SocketPoll> m_poll;
    std::vector<Host*> m_owners;
};

constexpr int kMinPrefix = 16;

// Without a per-process limit (Windows) the window stays where it always was.
constexpr int32_t kFixedWindow = 512;
// Descriptors kept out of the window: standard streams, the exporter's
// listener and readings, libraries' own.
constexpr int64_t kReservedDescriptors = 64;

}  // namespace

std::optional<Ipv4Prefix> Ipv4Prefix::Parse(std::string_view text) {
    const size_t slash = text.find('/');
    const std::optional<Ipv4Address> address = Ipv4Address::Parse(text.substr(0, slash));
    if (!address) {
        return std::nullopt;
    }
    int length = 32;
    if (slash != std::string_view::npos) {
        const std::string_view digits = text.substr(slash + 1);
        if (digits.empty() || digits.size() > 2 || (digits.size() > 1 && digits[0] == '0') ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            return std::nullopt;
        }
        length = digits.size() == 1 ? digits[0] - '0' : (digits[0] - '0') * 10 + digits[1] - '0';
    }
    if (length < kMinPrefix || length > 32) {
        return std::nullopt;
    }
    return Ipv4Prefix{address->Network(length), length};
}

std::string Ipv4Prefix::Text() const {
    return length == 32 ? network.Text() : network.Text() + "/" + std::to_string(length);
}

std::vector<Ipv4Address> Ipv4Prefix::Hosts() const {
    const uint32_t size = uint32_t{1} << (32 - length);
    // Below /31 the first and last addresses name the network and its
    // broadcast; /31 (two hosts on a link) and /32 have neither.
    const uint32_t first = length < 31 ? 1 : 0;
    const uint32_t end = length < 31 ? size - 1 : size;
    std::vector<Ipv4Address> hosts;
    hosts.reserve(end - first);
    for (uint32_t h = first; h < end; ++h) {
        hosts.push_back(network.WithHostNumber(length, h));
    }
    return hosts;
}

int32_t OnLinkWindow(int32_t neighbourTableSize) {
    return neighbourTableSize > 0 ? std::max(neighbourTableSize / 4, 1) : 0;
}

int32_t SweepWindow(int64_t openFileLimit) {
    if (openFileLimit <= 0) {
        return std::min(kFixedWindow, kMaxPollSockets);
    }
    const int64_t spare = openFileLimit - std::max(kReservedDescriptors, openFileLimit / 8);
    return static_cast<int32_t>(std::clamp<int64_t>(spare, 1, kMaxPollSockets));
}

bool InAnyPrefix(const std::vector<Ipv4Prefix>& prefixes, Ipv4Address address) {
    return std::any_of(prefixes.begin(), prefixes.end(),
                       [&](const Ipv4Prefix& p) { return address.Network(p.length) == p.network; });
}

std::vector<Ipv4Prefix> LinkPrefixes(const std::vector<LocalInterface>& interfaces) {
    std::vector<Ipv4Prefix> prefixes;
    for (const LocalInterface& i : interfaces) {
        if (!i.up || i.loopback || i.prefixLength < 0 || i.prefixLength > 32) {
            continue;
        }
        const Ipv4Prefix p{i.address.Network(i.prefixLength), i.prefixLength};
        if (std::find(prefixes.begin(), prefixes.end(), p) == prefixes.end()) {
            prefixes.push_back(p);
        }
    }
    return prefixes;
}

std::vector<Ipv4Prefix> DefaultScanPrefixes(const std::vector<LocalInterface>& interfaces) {
    std::vector<Ipv4Prefix> prefixes;
    for (const LocalInterface& i : interfaces) {
        if (!i.up || i.loopback) {
            continue;
        }
        const Ipv4Prefix p{i.address.Network(24), 24};
        if (std::find(prefixes.begin(), prefixes.end(), p) == prefixes.end()) {
            prefixes.push_back(p);
        }
    }
    return prefixes;
}

SweepResult SweepPort(std::span<const Ipv4Address> hosts, const SweepOptions& options) {
    return Sweep(hosts, options).Run();
}

}  // namespace vorpane
