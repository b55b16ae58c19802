#pragma once
// The UDP socket the NetBIOS sweep talks through, behind an interface so that
// tests can hand the sweep a socket of their own (a scripted one, or a real
// one whose queries go to a peer on loopback).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "platform/socket.h"

namespace vorpane {

// Outcome of one send or receive: a byte count, or the errno that ended it
// (EAGAIN/EWOULDBLOCK for a receive time-out).
struct UdpIoResult {
    int32_t bytes = 0;
    int error = 0;  // 0 on success
};

class UdpSocket {
public:
    virtual ~UdpSocket() = default;
    // Option setters and Bind return 0 or an errno.
    virtual int SetBroadcast(bool enable) = 0;
    virtual int SetReceiveTimeout(int32_t milliseconds) = 0;
    virtual int Bind(const Ipv4Endpoint& local) = 0;
    virtual UdpIoResult SendTo(std::span<const uint8_t> datagram, const Ipv4Endpoint& to) = 0;
    // `from` receives the sender of the datagram.
    virtual UdpIoResult ReceiveFrom(std::span<uint8_t> buffer, Ipv4Endpoint& from) = 0;
};

// Either an open socket or the errno that kept it from opening.
struct UdpSocketOrError {
    std::unique_ptr<UdpSocket> socket;
    int error = 0;
};

// A system UDP socket, closed with its owner.
UdpSocketOrError OpenSystemUdpSocket();

}  // namespace vorpane
