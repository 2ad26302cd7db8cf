#include "bench_common.h"

int main()
{
    RunVmBenchmarks();
    RunCompileBenchmarks();
    return 0;
}
