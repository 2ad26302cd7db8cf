#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang, libFuzzer, ASan, UBSan) and
# runs them from their seed corpora.
#
#   scripts/fuzz.sh TARGET SECONDS   one target for a while; new inputs are kept
#                                    in build/fuzz/corpus/TARGET
#   scripts/fuzz.sh --ci [RUNS]      every target for a fixed number of
#                                    executions (default 50000); fails on any finding
#   scripts/fuzz.sh --list           the target names
#
# A finding is written to build/fuzz/findings/ and ends the run with status 1.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(clang libclang-rt-14-dev)
missing=()
for pkg in "${packages[@]}"; do
    dpkg -s "$pkg" > /dev/null 2>&1 || missing+=("$pkg")
done
if [[ ${#missing[@]} -gt 0 ]] && ! command -v clang++ > /dev/null; then
    SUDO=""
    [[ "$(id -u)" -ne 0 ]] && SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi

launcher=()
command -v ccache > /dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake --preset fuzz "${launcher[@]}" > /dev/null
cmake --build --preset fuzz -j2 > /dev/null

targets=()
for source in fuzz/*.cpp; do
    targets+=("$(basename "$source" .cpp)")
done

# The page targets start from the test pages, golden cases and examples
# themselves (libFuzzer reads folders recursively); the others from their own seeds.
seeds_of() {
    if [[ -d "fuzz/corpus/$1" ]]; then echo "fuzz/corpus/$1"; else echo "tests/pages tests/golden/cases examples"; fi
}

findings=build/fuzz/findings
mkdir -p "$findings"
# One input may take at most 10 s and 2 GB; a script that runs longer is cut
# into slices by the targets themselves.
limits=(-timeout=10 -rss_limit_mb=2048 "-artifact_prefix=$findings/")

run_target() { # TARGET OPTIONS...
    local target=$1
    shift
    local work="build/fuzz/corpus/$target"
    mkdir -p "$work"
    "build/fuzz/fuzz/fuzz_$target" "${limits[@]}" "$@" "$work" $(seeds_of "$target") 2>&1 |
        grep -E "^#[0-9]+[[:space:]]+(INITED|DONE)|^Done|^stat::|ERROR|runtime error|SUMMARY|artifact" || true
    return "${PIPESTATUS[0]}"
}

case "${1:-}" in
--list)
    printf '%s\n' "${targets[@]}"
    ;;
--ci)
    runs=${2:-50000}
    failed=0
    for target in "${targets[@]}"; do
        echo "== $target: $runs executions"
        run_target "$target" "-runs=$runs" -seed=1 || failed=1
    done
    exit $failed
    ;;
"" | -*)
    sed -n '2,13p' "$0"
    exit 2
    ;;
*)
    [[ -x "build/fuzz/fuzz/fuzz_$1" ]] || { echo "no fuzz target $1 (try --list)"; exit 2; }
    run_target "$1" "-max_total_time=${2:-60}" -print_final_stats=1
    ;;
esac
