// Ends any program that loads it with status 99: proof that a preload
// reached the program.
#include <unistd.h>

__attribute__((constructor)) static void EndAtOnce() {
    _exit(99);
}
