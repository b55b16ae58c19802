#include "net/posix/arp_cache_netlink.h"

#include <arpa/inet.h>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace vorpane {

namespace {

// A dump part never exceeds 32 KiB (the kernel's cap on its dump buffers);
// twice that leaves room for whatever a later kernel does.
constexpr size_t kReceiveBufferSize = 64 * 1024;
// A dump that the kernel flags as inconsistent is read again, a few times.
constexpr int kDumpAttempts = 4;
// The kernel answers at once; the time-out only keeps a lost answer from
// blocking the caller for ever.
constexpr int kReplyTimeoutSeconds = 2;

template <typename T>
T ReadAt(const uint8_t* at) {
    T value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

void AppendAttribute(std::vector<uint8_t>& message, uint16_t type, const void* data, size_t size) {
    rtattr attribute{};
    attribute.rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    attribute.rta_type = type;
    // Built apart and appended whole: GCC 12 misreads a resize followed by
    // copies into the grown part as out of bounds at -O2.
    std::vector<uint8_t> block(RTA_SPACE(size), 0);
    std::memcpy(block.data(), &attribute, sizeof attribute);
    std::memcpy(block.data() + RTA_LENGTH(0), data, size);
    message.insert(message.end(), block.begin(), block.end());
}

std::vector<uint8_t> BuildRequest(uint16_t type, uint16_t flags, uint32_t sequence,
                                  const ndmsg& body) {
    std::vector<uint8_t> message(NLMSG_SPACE(sizeof body), 0);
    std::memcpy(message.data() + NLMSG_LENGTH(0), &body, sizeof body);
    nlmsghdr header{};
    header.nlmsg_type = type;
    header.nlmsg_flags = flags;
    header.nlmsg_seq = sequence;
    std::memcpy(message.data(), &header, sizeof header);
    return message;
}

void FinishRequest(std::vector<uint8_t>& message) {
    const auto length = static_cast<uint32_t>(message.size());
    std::memcpy(message.data() + offsetof(nlmsghdr, nlmsg_len), &length, sizeof length);
}

// One RTM_NEWNEIGH message body (after the netlink header) into a row;
// false for rows of other families and rows without an address.
bool ParseRow(const uint8_t* body, size_t size, ArpRow& row) {
    if (size < NLMSG_ALIGN(sizeof(ndmsg))) {
        return false;
    }
    const auto neighbour = ReadAt<ndmsg>(body);
    if (neighbour.ndm_family != AF_INET) {
        return false;
    }
    row = ArpRow{};
    row.interfaceIndex = neighbour.ndm_ifindex;
    row.state = neighbour.ndm_state;
    bool haveAddress = false;
    size_t offset = NLMSG_ALIGN(sizeof(ndmsg));
    while (offset + sizeof(rtattr) <= size) {
        const auto attribute = ReadAt<rtattr>(body + offset);
        if (attribute.rta_len < sizeof(rtattr) || offset + attribute.rta_len > size) {
            break;
        }
        const uint8_t* data = body + offset + RTA_LENGTH(0);
        const size_t length = attribute.rta_len - RTA_LENGTH(0);
        switch (attribute.rta_type & NLA_TYPE_MASK) {
            case NDA_DST:
                if (length == sizeof row.address) {
                    std::memcpy(&row.address, data, sizeof row.address);
                    haveAddress = true;
                }
                break;
            case NDA_LLADDR:
                row.linkAddress.assign(data, data + length);
                break;
            default:
                break;
        }
        offset += RTA_ALIGN(attribute.rta_len);
    }
    return haveAddress;
}

}  // namespace

namespace netlink_detail {

DumpStep ParseNeighbourDump(std::span<const uint8_t> received, uint32_t sequence,
                            std::vector<ArpRow>& rows, int& error, bool& interrupted) {
    size_t offset = 0;
    while (received.size() - offset >= sizeof(nlmsghdr)) {
        const uint8_t* at = received.data() + offset;
        const auto header = ReadAt<nlmsghdr>(at);
        if (header.nlmsg_len < sizeof(nlmsghdr) || header.nlmsg_len > received.size() - offset) {
            error = EPROTO;
            return DumpStep::kError;
        }
        if (header.nlmsg_seq == sequence) {
            if ((header.nlmsg_flags & NLM_F_DUMP_INTR) != 0) {
                interrupted = true;
            }
            const uint8_t* body = at + NLMSG_LENGTH(0);
            const size_t bodySize = header.nlmsg_len - NLMSG_LENGTH(0);
            switch (header.nlmsg_type) {
                case NLMSG_DONE:
                    return DumpStep::kDone;
                case NLMSG_ERROR: {
                    if (bodySize < sizeof(nlmsgerr)) {
                        error = EPROTO;
                        return DumpStep::kError;
                    }
                    const int code = ReadAt<nlmsgerr>(body).error;
                    error = code < 0 ? -code : EPROTO;
                    return DumpStep::kError;
                }
                case RTM_NEWNEIGH: {
                    ArpRow row;
                    if (ParseRow(body, bodySize, row)) {
                        rows.push_back(std::move(row));
                    }
                    break;
                }
                default:
                    break;
            }
        }
        offset += std::min<size_t>(NLMSG_ALIGN(header.nlmsg_len), received.size() - offset);
    }
    return DumpStep::kMore;
}

std::vector<uint8_t> BuildDeleteRequest(const ArpRow& row, uint32_t sequence) {
    ndmsg body{};
    body.ndm_family = AF_INET;
    body.ndm_ifindex = row.interfaceIndex;
    std::vector<uint8_t> message =
        BuildRequest(RTM_DELNEIGH, NLM_F_REQUEST | NLM_F_ACK, sequence, body);
    AppendAttribute(message, NDA_DST, &row.address, sizeof row.address);
    FinishRequest(message);
    return message;
}

}  // namespace netlink_detail

ArpCacheOrError ArpCache::Open() {
    UniqueFd socket(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (!socket.valid()) {
        return {std::nullopt, errno};
    }
    timeval timeout{};
    timeout.tv_sec = kReplyTimeoutSeconds;
    if (setsockopt(socket.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        return {std::nullopt, errno};
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;  // port id 0: the kernel picks one
    if (bind(socket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return {std::nullopt, errno};
    }
    return {ArpCache(std::move(socket)), 0};
}

int ArpCache::Send(std::span<const uint8_t> message) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    const ssize_t sent = sendto(m_socket.get(), message.data(), message.size(), 0,
                                reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
    if (sent < 0) {
        return errno;
    }
    return static_cast<size_t>(sent) == message.size() ? 0 : EIO;
}

namespace {

// One datagram from the kernel into `buffer`; its size, or -errno.
ssize_t ReceiveFromKernel(int fd, std::vector<uint8_t>& buffer) {
    for (;;) {
        sockaddr_nl from{};
        iovec io{buffer.data(), buffer.size()};
        msghdr message{};
        message.msg_name = &from;
        message.msg_namelen = sizeof from;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        const ssize_t got = recvmsg(fd, &message, 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -errno;
        }
        if ((message.msg_flags & MSG_TRUNC) != 0) {
            return -EMSGSIZE;
        }
        if (from.nl_pid == 0) {
            return got;
        }
        // Not from the kernel: ignore.
    }
}

}  // namespace

int ArpCache::Read(std::vector<ArpRow>& rows) {
    std::vector<uint8_t> buffer(kReceiveBufferSize);
    for (int attempt = 0; attempt < kDumpAttempts; ++attempt) {
        rows.clear();
        const uint32_t sequence = m_sequence++;
        ndmsg body{};
        body.ndm_family = AF_INET;
        std::vector<uint8_t> request =
            BuildRequest(RTM_GETNEIGH, NLM_F_REQUEST | NLM_F_DUMP, sequence, body);
        FinishRequest(request);
        if (const int error = Send(request); error != 0) {
            return error;
        }
        bool interrupted = false;
        for (;;) {
            const ssize_t got = ReceiveFromKernel(m_socket.get(), buffer);
            if (got < 0) {
                return static_cast<int>(-got);
            }
            int error = 0;
            const netlink_detail::DumpStep step = netlink_detail::ParseNeighbourDump(
                std::span<const uint8_t>(buffer.data(), static_cast<size_t>(got)), sequence, rows,
                error, interrupted);
            if (step == netlink_detail::DumpStep::kError) {
                return error;
            }
            if (step == netlink_detail::DumpStep::kDone) {
                break;
            }
        }
        if (!interrupted) {
            return 0;
        }
    }
    rows.clear();
    return EAGAIN;
}

int ArpCache::Delete(const ArpRow& row) {
    uint32_t sequence = 0;
    if (const int error = SendDelete(row, sequence); error != 0) {
        return error;
    }
    return AwaitDeleteAnswer(sequence);
}

int ArpCache::SendDelete(const ArpRow& row, uint32_t& sequence) {
    sequence = m_sequence++;
    return Send(netlink_detail::BuildDeleteRequest(row, sequence));
}

int ArpCache::AwaitDeleteAnswer(uint32_t sequence) {
    std::vector<uint8_t> buffer(8192);
    for (;;) {
        const ssize_t got = ReceiveFromKernel(m_socket.get(), buffer);
        if (got < 0) {
            return static_cast<int>(-got);
        }
        size_t offset = 0;
        while (static_cast<size_t>(got) - offset >= sizeof(nlmsghdr)) {
            const auto header = ReadAt<nlmsghdr>(buffer.data() + offset);
            if (header.nlmsg_len < sizeof(nlmsghdr) ||
                header.nlmsg_len > static_cast<size_t>(got) - offset) {
                return EPROTO;
            }
            if (header.nlmsg_seq == sequence && header.nlmsg_type == NLMSG_ERROR) {
                if (header.nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) {
                    return EPROTO;
                }
                const int code = ReadAt<nlmsgerr>(buffer.data() + offset + NLMSG_LENGTH(0)).error;
                return -code;  // 0 is the acknowledgement
            }
            offset +=
                std::min<size_t>(NLMSG_ALIGN(header.nlmsg_len), static_cast<size_t>(got) - offset);
        }
    }
}

bool IsLearnedRow(const ArpRow& row) {
    return (row.state & (NUD_PERMANENT | NUD_NOARP)) == 0;
}

int32_t PurgeArpAddress(Ipv4Address address) {
    ArpCacheOrError opened = ArpCache::Open();
    if (!opened.cache) {
        return 0;
    }
    return PurgeArpAddress(*opened.cache, address);
}

NeighbourTableOrError OpenSystemNeighbourTable() {
    ArpCacheOrError opened = ArpCache::Open();
    if (!opened.cache) {
        return {nullptr, opened.error};
    }
    return {std::make_unique<ArpCache>(std::move(*opened.cache)), 0};
}

}  // namespace vorpane
