// Helpers that answer inside a lab namespace. Each prints "ready" once it
// listens and runs until killed.
//
//   vorpane-lab-answerer udp PORT
//       A stand-in for a PC's NetBIOS name service: binds UDP 0.0.0.0:PORT
//       and answers every non-empty datagram with a copy whose response bit
//       is set, so that the sender sees one answer per query.
//   vorpane-lab-answerer icmp-unreach
//       Answers every ICMP echo request with a destination-unreachable (type
//       3, code 1) sent from the address the request was for, as a host
//       behind a rejecting filter does. The namespace's own echo replies must
//       be off (net.ipv4.icmp_echo_ignore_all).

#include <netinet/in.h>
#include <netinet/ip.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/unique_fd.h"

namespace {

uint16_t Checksum(const uint8_t* bytes, size_t count) {
    uint32_t sum = 0;
    for (size_t i = 0; i + 1 < count; i += 2) {
        sum += static_cast<uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    }
    if (count % 2 != 0) {
        sum += static_cast<uint32_t>(bytes[count - 1] << 8);
    }
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<uint16_t>(~sum);
}

int AnswerEchoWithUnreachable() {
    vorpane::UniqueFd socket(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
    if (!socket.valid()) {
        std::perror("socket");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::array<uint8_t, 1500> request{};
    for (;;) {
        const ssize_t got = recv(socket.get(), request.data(), request.size(), 0);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("recv");
            return 1;
        }
        const size_t headerLength = static_cast<size_t>(request[0] & 0x0F) * 4;
        if (got < static_cast<ssize_t>(headerLength + 8) || request[headerLength] != 8) {
            continue;  // not an echo request
        }
        // Type 3 code 1, then the request's IP header and first 8 bytes.
        std::array<uint8_t, 8 + 60 + 8> error{};
        error[0] = 3;
        error[1] = 1;
        std::memcpy(error.data() + 8, request.data(), headerLength + 8);
        const size_t length = 8 + headerLength + 8;
        const uint16_t sum = Checksum(error.data(), length);
        error[2] = static_cast<uint8_t>(sum >> 8);
        error[3] = static_cast<uint8_t>(sum);

        sockaddr_in to{};
        to.sin_family = AF_INET;
        std::memcpy(&to.sin_addr, request.data() + 12, 4);
        // From the address the request was for.
        alignas(cmsghdr) std::array<uint8_t, CMSG_SPACE(sizeof(in_pktinfo))> control{};
        iovec io{error.data(), length};
        msghdr message{};
        message.msg_name = &to;
        message.msg_namelen = sizeof to;
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control.data();
        message.msg_controllen = control.size();
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        std::memcpy(&info.ipi_spec_dst, request.data() + 16, 4);
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
        sendmsg(socket.get(), &message, 0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "icmp-unreach") {
        return AnswerEchoWithUnreachable();
    }
    if (argc != 3 || std::string(argv[1]) != "udp") {
        std::fprintf(stderr, "usage: %s udp PORT | %s icmp-unreach\n", argv[0], argv[0]);
        return 2;
    }
    const int port = std::atoi(argv[2]);
    vorpane::UniqueFd socket(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!socket.valid()) {
        std::perror("socket");
        return 1;
    }
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<uint16_t>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(socket.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::perror("bind");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    std::array<uint8_t, 1500> buffer{};
    for (;;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        const ssize_t got = recvfrom(socket.get(), buffer.data(), buffer.size(), 0,
                                     reinterpret_cast<sockaddr*>(&from), &length);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            std::perror("recvfrom");
            return 1;
        }
        if (got == 0) {
            continue;
        }
        if (got > 2) {
            buffer[2] |= 0x80;  // NetBIOS: this is a response
        }
        sendto(socket.get(), buffer.data(), static_cast<size_t>(got), 0,
               reinterpret_cast<const sockaddr*>(&from), length);
    }
}
