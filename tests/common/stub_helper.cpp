// A stand-in for the privileged helper: it writes what it was given (its
// arguments, how many environment variables, which descriptors it found
// open and where standard input leads) to PATH.log beside itself, then
// waits the milliseconds and exits with the status PATH.answer names.

#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

extern char** environ;

int main(int argc, char** argv) {
    std::string seen = "args";
    for (int i = 1; i < argc; ++i) {
        seen += std::string(" ") + argv[i];
    }
    int variables = 0;
    for (char** e = environ; *e != nullptr; ++e) {
        ++variables;
    }
    seen += "\nenv " + std::to_string(variables) + "\nfds";
    // Looked at before this program opens anything of its own but the
    // listing, which is left out.
    if (DIR* fds = opendir("/proc/self/fd")) {
        for (dirent* d = readdir(fds); d != nullptr; d = readdir(fds)) {
            const std::string name = d->d_name;
            if (name != "." && name != ".." && std::stoi(name) != dirfd(fds)) {
                seen += " " + name;
            }
        }
        closedir(fds);
    }
    char in[64] = {};
    const ssize_t n = readlink("/proc/self/fd/0", in, sizeof in - 1);
    seen += std::string("\nstdin ") + (n > 0 ? in : "?") + "\n";

    const std::string self = argv[0];
    int status = 99;
    int waitMs = 0;
    std::ifstream(self + ".answer") >> status >> waitMs;
    std::ofstream(self + ".log", std::ios::app) << seen;
    std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    return status;
}
