// A stand-in for a PC's NetBIOS name service in the lab: binds UDP
// 0.0.0.0:PORT and answers every non-empty datagram with a copy whose
// response bit is set, so that the sender sees one answer per query.
//
//   vorpane-lab-answerer udp PORT
//
// Prints "ready" once bound; runs until killed.

#include <netinet/in.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/unique_fd.h"

int main(int argc, char** argv) {
    if (argc != 3 || std::string(argv[1]) != "udp") {
        std::fprintf(stderr, "usage: %s udp PORT\n", argv[0]);
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
