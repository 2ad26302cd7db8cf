// Compile time of a generated 20,000-line program: functions, loops, calls,
// string literals.
#include "bench_common.h"
#include "hostlib/host_functions.h"

#include "compiler/compiler.h"
#include "vm/virtual_machine.h"

#include <string>

using namespace tn;

namespace
{
std::string GenerateProgram(int lines)
{
    std::string code;
    int written = 0;
    for (int f = 0; written < lines; ++f)
    {
        code += "function f" + std::to_string(f) + "($a, &$b) {\n";
        code += "    $s = \"value \" . $a . |raw text|;\n";
        code += "    for ($i = 1 to $a) {\n";
        code += "        if ($i % 3 == 0) { $b = $b + $i; } else { $b = $b - 1; }\n";
        code += "        while ($b > 100) { $b = $b / 2; }\n";
        code += "    }\n";
        code +=
            "    switch ($a) { case 1: $s .= \"one\"; break; case 2: $s .= \"two\"; break; default: $s .= \"x\"; }\n";
        code += "    return $s . count($b);\n";
        code += "}\n";
        code += "$r" + std::to_string(f) + " = f" + std::to_string(f) + "(" + std::to_string(f % 7) + ", $t);\n";
        written += 10;
    }
    return code;
}
} // namespace

void RunCompileBenchmarks()
{
    const std::string code = GenerateProgram(20000);
    VirtualMachine vm{HostFunctionSets()};
    ProgramImage image;
    std::vector<BlockSource> blocks{{1, 1, true, code}};
    std::vector<BlockCompileResult> results;
    ereturnvalue result = ereturnvalue::Unknown;
    // Warm up once (first use builds the compiler), then time the best of five.
    Compiler::instance().compile(vm.functionSets(), image, blocks, results, "bench.htm");
    double best = 1e9;
    for (int i = 0; i < 5; ++i)
    {
        const double t = TimeIt(
            [&] { result = Compiler::instance().compile(vm.functionSets(), image, blocks, results, "bench.htm"); });
        best = t < best ? t : best;
    }
    std::printf("%-28s %9.3f ms CPU  %7.0f lines/s  (%s, %d bytes of code)\n", "compile 20,000 lines", best * 1000.0,
                20000 / best, ResultCodeName(result), image.codeSize());
}
