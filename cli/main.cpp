// vorpane-cli: the printers of a network from a terminal or a script.

#include <iostream>
#include <string>
#include <vector>

#include "cli/system_environment.h"
#include "platform/program_arguments.h"
#include "platform/resource_limits.h"
#include "platform/socket.h"

int main(int argc, char** argv) {
    // A sweep's window is sized from what this leaves; a raise refused
    // leaves the soft limit, which still works, only slower.
    vorpane::RaiseOpenFileLimit();
    const vorpane::SocketLibrary sockets;
    const vorpane::Utf8Terminal terminal;
    vorpane::CliEnvironment env = vorpane::MakeSystemEnvironment(std::cout, std::cerr);
    const std::vector<std::string> args = vorpane::ProgramArguments(argc, argv);
    return vorpane::RunCommandLine(args, env);
}
