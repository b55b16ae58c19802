// The system's ICMP socket on Windows: a raw socket, which Windows gives
// administrators only. Without one, probes go through IP Helper's echo
// service instead (ip_helper.h).

#include <cerrno>

#include "net/echo_probe.h"

namespace vorpane {

namespace {

IcmpIoResult FromSocketIo(const SocketIo& io) {
    return {static_cast<int32_t>(io.bytes), io.error};
}

// The probe sets a time-out before every wait, so the waits here are
// Winsock's own socket time-outs.
class RawIcmpSocket final : public IcmpSocket {
public:
    explicit RawIcmpSocket(Socket socket) : m_socket(std::move(socket)) {}

    int SetIpOptions(std::span<const uint8_t> options) override {
        return m_socket.SetIpOptions(options);
    }
    int SetReceiveTimeout(int32_t milliseconds) override {
        return m_socket.SetReceiveTimeout(milliseconds);
    }
    int SetSendTimeout(int32_t milliseconds) override {
        return m_socket.SetSendTimeout(milliseconds);
    }
    IcmpIoResult SendTo(std::span<const uint8_t> datagram, Ipv4Address to) override {
        return FromSocketIo(m_socket.SendTo(datagram, {to.HostOrder(), 0}));
    }
    IcmpIoResult ReceiveFrom(std::span<uint8_t> buffer, Ipv4Address& from) override {
        Ipv4Endpoint source;
        const SocketIo got = m_socket.ReceiveFrom(buffer, source);
        from = Ipv4Address::FromHostOrder(source.address);
        return FromSocketIo(got);
    }

private:
    Socket m_socket;
};

}  // namespace

IcmpSocketOrError OpenRawIcmpSocket() {
    Socket::Opened opened = Socket::Open(Socket::Kind::kRawIcmp);
    if (!opened.socket.Valid()) {
        return {nullptr, opened.error};
    }
    return {std::make_unique<RawIcmpSocket>(std::move(opened.socket)), 0};
}

IcmpSocketOrError SystemIcmpSocketFactory::Open() {
    return OpenRawIcmpSocket();
}

}  // namespace vorpane
