#include "host/run_modes.h"

#include <csignal>
#include <cstdio>
#include <malloc.h>

extern char** environ;

int main(int argc, char** argv)
{
    // One short-lived process per request: keep freed memory in the heap
    // instead of returning it to the system, so that big page and image
    // buffers are not mapped and faulted in again and again.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 512 * 1024 * 1024);
    mallopt(M_TOP_PAD, 4 * 1024 * 1024);

    // A write past the file size limit fails like a full disk instead of
    // killing the program, so that a compile can clean up and report it.
    std::signal(SIGXFSZ, SIG_IGN);

    const int code = tn::RunProgram(argc, argv, environ, stdout, 0);
    std::fflush(stdout);
    return code;
}
