#pragma once
// Answers the NetBIOS name queries of a scan's sweep on UDP, so that the
// sweep rules the virtual printer out as a PC: a negative name query
// response with the query's transaction id, from the address it was asked on.
// Served by the printer's thread, which polls its sockets.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/socket.h"
#include "virtual_printer/journal.h"

namespace vorpane {

class NetbiosResponder {
public:
    // Binds UDP `port` (0: the system picks one) on each address; returns
    // why it could not, or empty.
    std::string Open(const std::vector<std::string>& addresses, uint16_t port);
    void Close();

    uint16_t Port() const { return m_port; }
    // One socket a listening address, in the order given.
    size_t Responders() const { return m_sockets.size(); }

    // Adds its sockets to `polls`; Answer() takes the same entries back.
    void AddPolls(std::vector<SocketPoll>& polls) const;
    void Answer(const SocketPoll* polls, Journal& journal);

private:
    // Answers the queries waiting on `responder` through `replier`.
    void AnswerOn(Socket& responder, Socket& replier, Journal& journal);

    std::vector<Socket> m_sockets;  // one for each listening address
    Socket m_broadcast;             // on 255.255.255.255 for a LAN address
    size_t m_broadcastReplier = 0;  // m_sockets answering the broadcasts
    uint16_t m_port = 0;
};

}  // namespace vorpane
