#include "host/run_modes.h"

#include <cstdio>

extern char** environ;

int main(int argc, char** argv)
{
    const int code = tn::RunProgram(argc, argv, environ, stdout, 0);
    std::fflush(stdout);
    return code;
}
