#include "platform/socket.h"

namespace vorpane {

int WaitForSocket(const Socket& socket, short events, int timeoutMs) {
    SocketPoll item{socket.Handle(), events, 0};
    const int rc = PollSockets({&item, 1}, timeoutMs);
    return rc < 0 ? -1 : rc;
}

}  // namespace vorpane
