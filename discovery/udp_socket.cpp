#include "discovery/udp_socket.h"

namespace vorpane {

namespace {

UdpIoResult FromSocketIo(const SocketIo& io) {
    return {static_cast<int32_t>(io.bytes), io.error};
}

class SystemUdpSocket final : public UdpSocket {
public:
    explicit SystemUdpSocket(Socket socket) : m_socket(std::move(socket)) {}

    int SetBroadcast(bool enable) override { return m_socket.SetBroadcast(enable); }
    int SetReceiveTimeout(int32_t milliseconds) override {
        return m_socket.SetReceiveTimeout(milliseconds);
    }
    int Bind(const Ipv4Endpoint& local) override { return m_socket.Bind(local); }
    UdpIoResult SendTo(std::span<const uint8_t> datagram, const Ipv4Endpoint& to) override {
        return FromSocketIo(m_socket.SendTo(datagram, to));
    }
    UdpIoResult ReceiveFrom(std::span<uint8_t> buffer, Ipv4Endpoint& from) override {
        return FromSocketIo(m_socket.ReceiveFrom(buffer, from));
    }

private:
    Socket m_socket;
};

}  // namespace

UdpSocketOrError OpenSystemUdpSocket() {
    Socket::Opened opened = Socket::Open(Socket::Kind::kDatagram);
    if (!opened.socket.Valid()) {
        return {nullptr, opened.error};
    }
    return {std::make_unique<SystemUdpSocket>(std::move(opened.socket)), 0};
}

}  // namespace vorpane
