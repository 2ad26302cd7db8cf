#!/usr/bin/env bash
# Compiled files appear whole or not at all: a compile that hits the file
# size limit leaves no partial file behind, and pages served while other
# processes compile them never see a half-written one.
#
#   run_file_safety_test.sh PROGRAM
set -u
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
problem() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# A page whose compiled form is far bigger than 64 KB.
{
    echo '<?tnl $n = 0; ?>'
    for i in $(seq 1 3000); do echo "<p>line $i of literal text that makes the compiled file large</p>"; done
    echo '<?tnl $n++; echo("n=", $n); ?>'
} > big.htm

# 1. The size limit: exit 1, no compiled file, no temporary file, page still served.
(ulimit -f 64 && "$program" -c big.htm > compile.out)
code=$?
[[ $code == 1 ]] || problem "compile under a size limit exited $code"
ls big.ctn* > /dev/null 2>&1 && problem "files left behind: $(ls big.ctn*)"
"$program" big.htm | grep -q "n=1" || problem "the page is not served after a failed compile"

# 2. Compiles beside runs: every run serves the page, every compile succeeds.
runs_bad=0
compiles_bad=0
for round in $(seq 1 20); do
    for c in 1 2 3; do
        ("$program" -c big.htm > "compile.$round.$c" || echo bad >> compiles.failed) &
    done
    for r in 1 2 3 4 5 6 7 8 9 10; do
        ("$program" big.htm | grep -q "n=1" || echo "$round" >> runs.failed) &
    done
    wait
done
[[ -f compiles.failed ]] && compiles_bad=$(wc -l < compiles.failed)
[[ -f runs.failed ]] && runs_bad=$(wc -l < runs.failed)
[[ $compiles_bad == 0 ]] || problem "$compiles_bad of 60 concurrent compiles failed: $(cat compile.*.* | grep -v '^tnscriptapp: compile' | sort | uniq -c | head -3)"
[[ $runs_bad == 0 ]] || problem "$runs_bad of 200 runs beside compiles did not serve the page"
ls ./*.tmp* > /dev/null 2>&1 && problem "temporary files left: $(ls ./*.tmp*)"
"$program" big.ctn | grep -q "n=1" || problem "the compiled page does not run"

[[ $failures == 0 ]] && echo "file safety: all passed"
exit $((failures > 0))
