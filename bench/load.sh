#!/usr/bin/env bash
# Load through a real web server: a private Apache (as the web server test
# starts it) serves the example site with tnscriptapp as CGI program, and ab
# (apache2-utils) sends REQUESTS requests at concurrency 32 to a plain page, a
# form POST and a compiled page. Prints requests per second and failures.
# A benchmark, not a test: it never fails on speed.
#
#   bench/load.sh [PROGRAM] [REQUESTS]    (default build/default/tnscriptapp, 5000)
set -u
cd "$(dirname "$0")/.."
program=$(realpath "${1:-build/default/tnscriptapp}")
requests=${2:-5000}
examples=$(realpath examples)
apache=${APACHE_BIN:-/usr/sbin/apache2}
fail_setup() {
    echo "load: $*"
    exit 1
}
command -v ab > /dev/null || fail_setup "ab is not installed (apache2-utils)"
[[ -x "$program" ]] || fail_setup "no program at $program"

source tests/webserver/private_apache.sh
private_site
start_server || fail_setup "the web server did not start"

printf 'name=Ada&comment=hi+there%%21' > "$root/post.body"
base="http://127.0.0.1:$port"
printf '%-14s %12s %8s %8s\n' page requests/s failed non-2xx
measure() { # NAME PATH [ab options...]
    local name=$1 path=$2
    shift 2
    ab -q -c 32 -n "$requests" "$@" "$base$path" > "$root/ab.out" 2>&1
    local rate failed non2xx
    rate=$(awk '/^Requests per second/ {print $4}' "$root/ab.out")
    failed=$(awk '/^Failed requests/ {print $3}' "$root/ab.out")
    non2xx=$(awk '/^Non-2xx responses/ {print $3}' "$root/ab.out")
    printf '%-14s %12s %8s %8s\n' "$name" "${rate:-?}" "${failed:-?}" "${non2xx:-0}"
}
# Apache starts with two server processes; let it grow to the concurrency first.
ab -q -c 32 -n 500 "$base/hello.htm" > /dev/null 2>&1
measure plain /hello.htm
measure form-post /form.htm -p "$root/post.body" -T application/x-www-form-urlencoded
measure compiled "/compiled.ctn?x=1"
