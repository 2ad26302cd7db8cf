#!/usr/bin/env bash
# tnscript-dev serve against curl: pages run as the CGI program would run
# them, other files are sent as they are, and nothing outside the root is
# reachable.
#
#   run_serve_test.sh TNSCRIPT_DEV EXAMPLES_DIR
set -u

dev=$1
examples=$2
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../webserver/http_checks.sh"
need_tools curl

root=$(mktemp -d)
server_pid=""
cleanup() {
    [[ -n "$server_pid" ]] && kill "$server_pid" 2> /dev/null && wait "$server_pid" 2> /dev/null
    rm -rf "$root"
}
trap cleanup EXIT

site=$root/site
mkdir -p "$site"
cp -R "$examples"/. "$site"/
printf 'static text\n' > "$site/notes.txt"
printf '<p>plain</p>\n' > "$site/plain.html"
printf '<?tnl\nbreak;\n?>\n' > "$site/broken.tnl"
printf '<?tnl httperror(404); ?>' > "$site/gone.tnl"
printf '<?tnl redirect("http://example.invalid/next"); ?>' > "$site/move.tnl"
printf '<?tnl print(envvar("path_info"), "|", envvar("server_name")); ?>' > "$site/info.tnl"
printf 'outside\n' > "$root/outside.txt"
ln -s "$root/outside.txt" "$site/link.txt"
ln -s "$root" "$site/up"

server_log=$root/serve.log
"$dev" serve "$site" --port 0 > "$server_log" 2>&1 &
server_pid=$!
for waited in $(seq 1 50); do
    port=$(sed -n 's|.*on http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$server_log")
    [[ -n "$port" ]] && break
    sleep 0.1
done
[[ -n "$port" ]] || fail_setup "tnscript-dev serve did not start"
base=http://127.0.0.1:$port
wait_for_http "$server_pid" || fail_setup "tnscript-dev serve does not answer"

case_page_with_query_cookie_and_post() {
    fetch "/form.tnl?name=Ada"
    expect_status 200
    expect_header "Content-Type: text/html"
    expect_body_contains "<p>Method: GET</p>"
    expect_body_contains "<p>name: Ada</p>"
    fetch "/form.tnl" --data "name=Bob&comment=hi"
    expect_body_contains "<p>Method: POST</p>"
    expect_body_contains "<p>comment: hi</p>"
    fetch "/cookies.tnl" -H "Cookie: flavour=mint"
    expect_body_contains "<p>Your flavour: mint</p>"
}

case_page_status_and_path_info() {
    fetch "/gone.tnl"
    expect_status 404
    fetch "/move.tnl"
    expect_status 302
    expect_header "Location: http://example.invalid/next"
    fetch "/info.tnl/extra/part"
    expect_status 200
    expect_body_contains "/extra/part|127.0.0.1"
}

case_compile_error_is_in_the_page() {
    fetch "/broken.tnl"
    expect_status 200
    expect_body_contains "{7} misplaced break"
}

case_static_files() {
    fetch "/notes.txt"
    expect_status 200
    expect_header "Content-Type: text/plain"
    expect_body_contains "static text"
    fetch "/plain.html"
    expect_header "Content-Type: text/html"
    expect_body_contains "<p>plain</p>"
    fetch "/nothere.txt"
    expect_status 404
}

case_nothing_outside_the_root_nor_code() {
    local path
    for path in /../outside.txt /%2e%2e/outside.txt /lib/%2E%2E/../outside.txt /link.txt /up/outside.txt \
        /lib/html.inc; do
        fetch "$path"
        expect_client_error
        expect_body_lacks "outside"
        expect_body_lacks "function"
    done
}

case_bad_requests_get_client_errors() {
    local answer
    answer=$(printf 'NOT HTTP AT ALL\r\n\r\n' | curl -s --max-time 5 telnet://127.0.0.1:$port 2> /dev/null | head -n 1)
    [[ "$answer" == "HTTP/1.1 4"* ]] || problem "a malformed request got '$answer'"
    fetch "/notes.txt" -H "X-Big: $(head -c 20000 /dev/zero | tr '\0' a)"
    expect_client_error
    head -c 17000000 /dev/zero > "$root/huge"
    fetch "/form.tnl" --data-binary "@$root/huge"
    expect_client_error
    kill -0 "$server_pid" 2> /dev/null || problem "the server ended"
}

case_each_request_is_logged() {
    fetch "/notes.txt?logged=1"
    grep -q '"GET /notes.txt?logged=1" 200' "$server_log" || problem "no log line for the request"
}

expect_client_error() {
    [[ "$status" == 4?? ]] || problem "status is '$status', expected a 4xx"
}

run_cases
