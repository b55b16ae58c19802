// vorpane-cli: the printers of a network from a terminal or a script.

#include <iostream>
#include <string>
#include <vector>

#include "cli/system_environment.h"
#include "platform/socket.h"

int main(int argc, char** argv) {
    const vorpane::SocketLibrary sockets;
    vorpane::CliEnvironment env = vorpane::MakeSystemEnvironment(std::cout, std::cerr);
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return vorpane::RunCommandLine(args, env);
}
