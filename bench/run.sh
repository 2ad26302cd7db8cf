#!/usr/bin/env bash
# Start-up and compile speed of tnscriptapp, side by side with a static C
# program, Lua and PHP when they are installed. Needs hyperfine and a built
# tree (default preset). Prints hyperfine's summaries; nothing is asserted.
set -euo pipefail
cd "$(dirname "$0")/.."
app=${TNSCRIPTAPP:-build/default/tnscriptapp}
[ -x "$app" ] || { echo "build first: cmake --workflow --preset default" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "needs hyperfine (apt-get install hyperfine)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A static C program that starts and exits: the floor for any process.
printf 'int main(void){return 0;}\n' > "$work/true.c"
cc -O2 -static -o "$work/c-true" "$work/true.c"

printf 'Hello <?tnl echo("world"); ?>\n' > "$work/hello.htm"

# 200 literal segments and 200 small code blocks.
python3 - "$work/blocks.htm" <<'PY'
import sys
with open(sys.argv[1], "w") as f:
    for i in range(200):
        f.write(f"<p>row {i}</p>\n<?tnl $n = {i}; echo($n * 2); ?>\n")
PY

# The same 20,000-line program for the compiler and for luac.
python3 - "$work/big.htm" "$work/big.lua" <<'PY'
import sys
tn, lua = [], []
f = 0
while len(tn) < 20000:
    tn += [f"function f{f}($a, &$b) {{",
           '    $s = "value " . $a . |raw text|;',
           '    for ($i = 1 to $a) {',
           '        if ($i % 3 == 0) { $b = $b + $i; } else { $b = $b - 1; }',
           '        while ($b > 100) { $b = $b / 2; }',
           '    }',
           '    switch ($a) { case 1: $s .= "one"; break; case 2: $s .= "two"; break; default: $s .= "x"; }',
           '    return $s . count($b);',
           '}',
           f"$r{f} = f{f}({f % 7}, $t);"]
    lua += [f"function f{f}(a, b)",
            '    local s = "value " .. a .. [[raw text]]',
            '    for i = 1, a do',
            '        if i % 3 == 0 then b = b + i else b = b - 1 end',
            '        while b > 100 do b = b / 2 end',
            '    end',
            '    if a == 1 then s = s .. "one" elseif a == 2 then s = s .. "two" else s = s .. "x" end',
            '    return s .. #tostring(b)',
            'end',
            f"r{f} = f{f}({f % 7}, t)"]
    f += 1
open(sys.argv[1], "w").write("<?tnl\n" + "\n".join(tn) + "\n?>\n")
open(sys.argv[2], "w").write("\n".join(lua) + "\n")
PY

echo "== start-up"
cmds=("$work/c-true" "$app $work/hello.htm" "$app $work/blocks.htm")
command -v lua5.4 >/dev/null && cmds+=("lua5.4 -e 'io.write(\"Hello world\")'")
command -v php >/dev/null && cmds+=("php -n -r 'echo \"Hello world\";'")
hyperfine -N -w 20 -r 300 "${cmds[@]}"

echo "== compile 20,000 lines"
cmds=("$app -c $work/big.htm")
command -v luac5.4 >/dev/null && cmds+=("luac5.4 -p $work/big.lua")
hyperfine -N -w 3 -r 50 "${cmds[@]}"
