#include "bench_common.h"

void RunCompileBenchmarks()
{
}
