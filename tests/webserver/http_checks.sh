# Shared by the HTTP tests: requests with curl, checks on the answer, the
# case runner and the wait for a server. Source it after setting $root (a
# scratch folder) and $base (http://127.0.0.1:PORT).
#
# A test defines case_* functions and calls run_cases; every case runs, in
# name order, and a case fails when any of its checks did.

status=""
failures=()
server_log=""

fail_setup() {
    echo "setup failed: $*"
    [[ -n "$server_log" && -f "$server_log" ]] && sed 's/^/  log: /' "$server_log"
    echo "0 passed, 1 failed"
    exit 1
}

need_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" > /dev/null || fail_setup "$tool is not installed"
    done
}

# A port nothing listens on now; the server may still lose a race for it.
free_port() {
    local port
    while :; do
        port=$((20000 + RANDOM % 20000))
        (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null || break
    done
    echo "$port"
}

# wait_for_http PID: until the server answers, or fails when PID ends first.
wait_for_http() {
    local pid=$1 waited
    for waited in $(seq 1 100); do
        curl -s -o /dev/null "$base/" && return 0
        kill -0 "$pid" 2> /dev/null || return 1
        sleep 0.1
    done
    return 1
}

# fetch PATH [curl options...]: status, header file and body file of one request.
fetch() {
    local path=$1
    shift
    rm -f "$root/headers" "$root/body"
    if ! curl -sS --path-as-is --max-time 20 -D "$root/headers" -o "$root/body" "$@" "$base$path"; then
        status="(no answer)"
        : > "$root/headers"
        : > "$root/body"
        return
    fi
    status=$(tr -d '\r' < "$root/headers" | grep '^HTTP/' | tail -n 1 | cut -d' ' -f2)
}

problem() {
    failures+=("$current: $*")
}

expect_status() {
    [[ "$status" == "$1" ]] || problem "status is '$status', expected '$1'"
}

# A header line exactly as the client received it (without the CR).
expect_header() {
    tr -d '\r' < "$root/headers" | grep -qixF -- "$1" || problem "no header line '$1' in: $(tr -d '\r' < "$root/headers" | tr '\n' '|')"
}

expect_body_contains() {
    grep -qF -- "$1" "$root/body" || problem "body lacks '$1'"
}

expect_body_lacks() {
    ! grep -qF -- "$1" "$root/body" || problem "body holds '$1'"
}

run_cases() {
    local passed=0 failed=0 before line
    for current in $(declare -F | awk '{print $3}' | grep '^case_'); do
        before=${#failures[@]}
        "$current"
        if [[ ${#failures[@]} == "$before" ]]; then
            passed=$((passed + 1))
            echo "ok   $current"
        else
            failed=$((failed + 1))
            echo "FAIL $current"
            head -c 1500 "$root/body" | sed 's/^/  last body: /'
            echo
        fi
    done
    for line in "${failures[@]}"; do
        echo "  $line"
    done
    if [[ $failed != 0 && -n "$server_log" && -f "$server_log" ]]; then
        sed 's/^/  log: /' "$server_log"
    fi
    echo "$passed passed, $failed failed"
    [[ $failed == 0 ]]
}
