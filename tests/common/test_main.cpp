#include <gtest/gtest.h>

#include "platform/socket.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Winsock must be started before the first socket; nothing on POSIX.
    const vorpane::SocketLibrary sockets;
    return RUN_ALL_TESTS();
}
