#!/usr/bin/env bash
# Load through a real web server: the Apache deployment recipe (as its test
# starts it) serves the example site with tnscriptapp as CGI program, and ab
# (apache2-utils) sends REQUESTS requests at concurrency 32 to a plain page, a
# form POST and a compiled page. Prints requests per second and failures.
# A benchmark, not a test: it never fails on speed.
#
#   bench/load.sh [PROGRAM] [REQUESTS]    (default build/default/tnscriptapp, 5000)
set -u
cd "$(dirname "$0")/.."
if [[ -z "${BASE:-}" ]]; then
    program=$(realpath "${1:-build/default/tnscriptapp}")
    command -v ab > /dev/null || { echo "load: ab is not installed (apache2-utils)"; exit 1; }
    [[ -x "$program" ]] || { echo "load: no program at $program"; exit 1; }
    # The recipe test starts the server and runs this script again inside it.
    exec bash tests/webserver/run_recipe_test.sh apache "$program" examples deploy "$(realpath "$0")" "${2:-5000}"
fi

requests=${1:-5000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf 'name=Ada&comment=hi+there%%21' > "$work/post.body"
printf '%-14s %12s %8s %8s\n' page requests/s failed non-2xx
measure() { # NAME PATH [ab options...]
    local name=$1 path=$2
    shift 2
    ab -q -c 32 -n "$requests" "$@" "$BASE$path" > "$work/ab.out" 2>&1
    local rate failed non2xx
    rate=$(awk '/^Requests per second/ {print $4}' "$work/ab.out")
    failed=$(awk '/^Failed requests/ {print $3}' "$work/ab.out")
    non2xx=$(awk '/^Non-2xx responses/ {print $3}' "$work/ab.out")
    printf '%-14s %12s %8s %8s\n' "$name" "${rate:-?}" "${failed:-?}" "${non2xx:-0}"
}
# Apache starts with two server processes; let it grow to the concurrency first.
ab -q -c 32 -n 500 "$BASE/hello.tnl" > /dev/null 2>&1
measure plain /hello.tnl
measure form-post /form.tnl -p "$work/post.body" -T application/x-www-form-urlencoded
measure compiled "/compiled.ctn?x=1"
