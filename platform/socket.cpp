#include "platform/socket.h"

#include <array>
#include <cerrno>
#include <utility>

namespace vorpane {

int Socket::AwaitTimeout(short events) const {
    const int32_t timeoutMs = events == kSocketReadable ? m_receiveTimeoutMs : m_sendTimeoutMs;
    if (timeoutMs <= 0) {
        return 0;
    }
    SocketPoll item{m_handle, events, 0};
    return PollSockets({&item, 1}, timeoutMs);
}

Socket::Socket(Socket&& other) noexcept
    : m_handle(std::exchange(other.m_handle, kNoSocket)),
      m_receiveTimeoutMs(other.m_receiveTimeoutMs),
      m_sendTimeoutMs(other.m_sendTimeoutMs) {}

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        Close();
        m_handle = std::exchange(other.m_handle, kNoSocket);
        m_receiveTimeoutMs = other.m_receiveTimeoutMs;
        m_sendTimeoutMs = other.m_sendTimeoutMs;
    }
    return *this;
}

int Socket::SetReceiveTimeout(int32_t milliseconds) {
    m_receiveTimeoutMs = milliseconds;
    return 0;
}

int Socket::SetSendTimeout(int32_t milliseconds) {
    m_sendTimeoutMs = milliseconds;
    return 0;
}

int WaitForSocket(const Socket& socket, short events, int timeoutMs) {
    SocketPoll item{socket.Handle(), events, 0};
    return PollSockets({&item, 1}, timeoutMs);
}

int WaitForSocketUnless(const Socket& socket, short events, int timeoutMs, SocketHandle stop) {
    std::array<SocketPoll, 2> items{{{socket.Handle(), events, 0}, {stop, kSocketReadable, 0}}};
    const int waited = PollSockets(items, timeoutMs);
    if (waited == 0 && items[1].ready != 0) {
        return ECANCELED;
    }
    return waited;
}

}  // namespace vorpane
