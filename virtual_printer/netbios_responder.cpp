#include "virtual_printer/netbios_responder.h"

#include "platform/ipv4_address.h"
#include "virtual_printer/limits.h"

namespace vorpane {

std::string NetbiosResponder::Open(const std::vector<std::string>& addresses, uint16_t port) {
    // The responder listens where the printer does: broadcasts reach it
    // only when that is the wildcard address.
    for (const std::string& text : addresses) {
        const std::optional<Ipv4Address> address = Ipv4Address::Parse(text);
        if (!address) {
            return "not an IPv4 address: " + text;
        }
        Socket::Opened opened = Socket::Open(Socket::Kind::kDatagram, true);
        if (!opened.socket.Valid()) {
            return "socket: " + SocketErrorText(opened.error);
        }
        Socket& socket = opened.socket;
        if (const int error = socket.Bind({address->HostOrder(), port}); error != 0) {
            return "bind udp " + text + ":" + std::to_string(port) + ": " + SocketErrorText(error);
        }
        Ipv4Endpoint bound;
        if (const int error = socket.LocalEndpoint(bound); error != 0) {
            return "getsockname: " + SocketErrorText(error);
        }
        port = bound.port;
        m_sockets.push_back(std::move(socket));
    }
    m_port = m_sockets.empty() ? 0 : port;
    // On Linux a socket bound to one address does not hear broadcasts, and
    // a scan's sweep broadcasts: a LAN address gets a second socket on the
    // broadcast address, answered from the address itself. Where the system
    // refuses it (Windows hands broadcasts to the address's socket anyway),
    // that socket serves alone.
    for (size_t i = 0; i < m_sockets.size() && !m_broadcast.Valid(); ++i) {
        const uint32_t address = Ipv4Address::Parse(addresses[i])->HostOrder();
        Socket::Opened opened = Socket::Open(Socket::Kind::kDatagram, true);
        if (address == 0 || address >> 24 == 127 || !opened.socket.Valid()) {
            continue;
        }
        opened.socket.SetReuseAddress();  // other printers on this host hear them too
        if (opened.socket.Bind({0xFFFFFFFFu, m_port}) == 0) {
            m_broadcast = std::move(opened.socket);
            m_broadcastReplier = i;
        }
    }
    return {};
}

void NetbiosResponder::Close() {
    m_sockets.clear();
    m_broadcast.Close();
}

void NetbiosResponder::AddPolls(std::vector<SocketPoll>& polls) const {
    for (const Socket& socket : m_sockets) {
        polls.push_back({socket.Handle(), kSocketReadable});
    }
    if (m_broadcast.Valid()) {
        polls.push_back({m_broadcast.Handle(), kSocketReadable});
    }
}

void NetbiosResponder::Answer(const SocketPoll* polls, Journal& journal) {
    for (size_t i = 0; i < m_sockets.size(); ++i) {
        if ((polls[i].ready & kSocketReadable) != 0) {
            AnswerOn(m_sockets[i], m_sockets[i], journal);
        }
    }
    if (m_broadcast.Valid() && (polls[m_sockets.size()].ready & kSocketReadable) != 0) {
        AnswerOn(m_broadcast, m_sockets[m_broadcastReplier], journal);
    }
}

void NetbiosResponder::AnswerOn(Socket& responder, Socket& replier, Journal& journal) {
    for (int i = 0; i < limits::kDatagramsPerTurn; ++i) {
        uint8_t buf[limits::kMaxDatagramBytes];
        Ipv4Endpoint from;
        const SocketIo got = responder.ReceiveFrom(buf, from);
        if (got.error != 0) {
            return;
        }
        const int64_t n = got.bytes;
        // Answers are not answered, so two responders cannot ping-pong.
        if (n >= 3 && (buf[2] & 0x80) != 0) {
            continue;
        }
        // Header of a name service response with the query's transaction id
        // and no records: enough for a sweep that counts senders.
        const uint8_t reply[12] = {n >= 1 ? buf[0] : uint8_t{0},
                                   n >= 2 ? buf[1] : uint8_t{0},
                                   0x85,
                                   0x03,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0,
                                   0};
        if (replier.SendTo(reply, from).bytes == sizeof reply) {
            journal.Add("netbios: answered " + Ipv4Address::FromHostOrder(from.address).Text() +
                        ":" + std::to_string(from.port));
        }
    }
}

}  // namespace vorpane
