#!/usr/bin/env bash
# Serves the example pages through a private Apache (mod_cgi + mod_actions)
# with tnscriptapp as the CGI program, and checks real HTTP exchanges with
# curl. A server that cannot start is a failure, never a skip.
#
#   run_webserver_test.sh PROGRAM EXAMPLES_DIR
#
# To add a check, write another case_* function below; every function whose
# name starts with case_ runs, in name order.
set -u

program=$1
examples=$2
here=$(cd "$(dirname "$0")" && pwd)
apache=${APACHE_BIN:-/usr/sbin/apache2}

fail_setup() {
    echo "webserver test: $*"
    [[ -f "${root:-}/error.log" ]] && sed 's/^/  error.log: /' "$root/error.log"
    echo "0 passed, 1 failed"
    exit 1
}

source "$here/private_apache.sh"

# ---- the site ----
private_site
# A page outside the site, and a folder the server may write to: a request
# must reach neither through the command line.
printf '<?tnl echo("SECRET"); ?>' > "$root/secret.htm"
mkdir -p "$root/htdocs/open"
printf '<?tnl echo("open page"); ?>' > "$root/htdocs/open/page.htm"
chmod -R a+rX "$root"
chmod 777 "$root/htdocs/open"

# ---- the server ----
start_server || fail_setup "the web server did not start"

# ---- helpers ----
status=""
failures=()

# fetch PATH [curl options...]: status, header file and body file of one request.
fetch() {
    local path=$1
    shift
    rm -f "$root/headers" "$root/body"
    if ! curl -sS --max-time 20 -D "$root/headers" -o "$root/body" "$@" "http://127.0.0.1:$port$path"; then
        status="(no answer)"
        : > "$root/headers"
        : > "$root/body"
        return
    fi
    status=$(head -n 1 "$root/headers" | tr -d '\r')
}

problem() {
    failures+=("$current: $*")
}

expect_status() {
    [[ "$status" == "$1" ]] || problem "status line is '$status', expected '$1'"
}

# A header line exactly as the client received it (without the CR).
expect_header() {
    tr -d '\r' < "$root/headers" | grep -qxF -- "$1" || problem "no header line '$1' in: $(tr -d '\r' < "$root/headers" | tr '\n' '|')"
}

expect_body_contains() {
    grep -qF -- "$1" "$root/body" || problem "body lacks '$1'"
}

expect_body_lacks() {
    ! grep -qF -- "$1" "$root/body" || problem "body holds '$1'"
}

# The body must equal the page part of a command-line run of PAGE with the
# environment NAME=VALUE arguments that follow.
expect_body_like_local_run() {
    local page=$1
    shift
    (cd "$root/htdocs" && env -i "$@" "$program" "$page") | sed '1,/^$/d' > "$root/local"
    cmp -s "$root/local" "$root/body" || problem "body differs from the local run of $page: $(diff "$root/local" "$root/body" | head -5)"
}

# ---- cases ----

case_get_with_query_string() {
    fetch "/form.htm?name=Ada&comment=hi+there%21"
    expect_status "HTTP/1.1 200 OK"
    expect_body_contains "<p>Method: GET</p>"
    expect_body_contains "<p>Query string: name=Ada&amp;comment=hi+there%21</p>"
    expect_body_contains "<p>name: Ada</p>"
    expect_body_contains "<p>comment: hi there!</p>"
}

case_post_form_body() {
    fetch "/form.htm" --data "name=Bob&comment=%3Cb%3Ebold%3C%2Fb%3E"
    expect_status "HTTP/1.1 200 OK"
    expect_body_contains "<p>Method: POST</p>"
    expect_body_contains "<p>name: Bob</p>"
    expect_body_contains "<p>comment: &lt;b&gt;bold&lt;/b&gt;</p>"
}

case_query_string_hides_posted_field() {
    fetch "/form.htm?name=FromQuery" --data "name=FromBody&comment=posted"
    expect_body_contains "<p>name: FromQuery</p>"
    expect_body_contains "<p>comment: posted</p>"
}

case_cookie_header_reaches_the_script() {
    fetch "/cookies.htm" -H "Cookie: flavour=mint; other=1"
    expect_status "HTTP/1.1 200 OK"
    expect_body_contains "<p>Your flavour: mint</p>"
    expect_body_contains "<p>Cookie header: flavour=mint; other=1</p>"
    fetch "/cookies.htm"
    expect_body_contains "<p>No flavour cookie was sent.</p>"
}

case_response_header_block() {
    fetch "/hello.htm"
    expect_status "HTTP/1.1 200 OK"
    expect_header "Content-Type: text/html"
    expect_body_like_local_run hello.htm
}

case_compiled_page() {
    fetch "/compiled.ctn?x=1"
    expect_status "HTTP/1.1 200 OK"
    expect_header "Content-Type: text/html"
    expect_body_contains "10 20 30 x=1"
    expect_body_like_local_run compiled.ctn QUERY_STRING=x=1
}

case_compile_error_page() {
    fetch "/broken.htm"
    expect_status "HTTP/1.1 200 OK"
    expect_body_contains "<p>before</p>"
    expect_body_contains "<b>Compilation error</b>: &acute;{7} misplaced break&acute; in <b>$root/htdocs/broken.htm</b> on line <b>4</b><br>"
    expect_body_contains "<p>after</p>"
    expect_body_lacks "never shown"
}

case_include_library_page() {
    fetch "/library.htm"
    expect_status "HTTP/1.1 200 OK"
    expect_body_contains "<li>4 squared is 16</li>"
}

# A query without "=" becomes command-line words under CGI; they must not
# choose the program's mode.
case_query_words_never_choose_the_mode() {
    local query
    for query in "-s+$root/secret.htm" "-c+$root/htdocs/open/page.htm" "-r+$root/secret.htm" "-v" "-x" "-help"; do
        fetch "/open/page.htm?$query"
        expect_status "HTTP/1.1 200 OK"
        expect_body_contains "open page"
        expect_body_lacks "SECRET"
        expect_body_lacks "tnscriptapp"
    done
    [[ ! -e "$root/htdocs/open/page.ctn" ]] || problem "a request compiled the page"
}

case_body_over_the_server_limit_is_refused() {
    head -c 11000000 /dev/zero | tr '\0' 'a' > "$root/big.body"
    fetch "/form.htm" --data-binary "@$root/big.body"
    expect_status "HTTP/1.1 413 Request Entity Too Large"
    fetch "/form.htm" --data "name=Small&comment=fits"
    expect_body_contains "<p>name: Small</p>"
}

case_response_header_lines_and_status() {
    fetch "/respond.htm?case=headers"
    expect_status "HTTP/1.1 201 Created"
    expect_header "Content-Type: text/plain"
    expect_header "X-One: 1"
    expect_header "X-Two: 2"
    expect_body_contains "headers page"
    fetch "/respond.htm?case=cleared"
    expect_status "HTTP/1.1 200 OK"
    expect_header "Content-Type: text/html"
    grep -qi "^X-Gone" "$root/headers" && problem "a cleared header was sent"
}

case_response_cookies() {
    fetch "/respond.htm?case=cookie"
    expect_header "Set-Cookie: full=v1; domain=127.0.0.1; expires=Wed, 02 Jan 2030 03:04:05 GMT; path=/; secure"
    tr -d '\r' < "$root/headers" | grep -qE "^Set-Cookie: gone=deleted; expires=[A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9:]{8} GMT$" ||
        problem "no deleting cookie line in: $(tr -d '\r' < "$root/headers" | tr '\n' '|')"
}

# An absolute Location makes the server answer 302 with that address.
case_response_redirect() {
    fetch "/respond.htm?case=redirect"
    expect_status "HTTP/1.1 302 Found"
    expect_header "Location: http://127.0.0.1/elsewhere.htm?a=1"
    expect_body_lacks "never sent"
}

# The server passes the line on and sends no page.
case_response_httperror_and_pages() {
    fetch "/respond.htm?case=httperror"
    expect_header "SpecialError: 404"
    expect_body_lacks "never sent"
    fetch "/respond.htm?case=suppressed"
    expect_status "HTTP/1.1 200 OK"
    [[ -s "$root/body" ]] && problem "a suppressed page has a body"
    fetch "/respond.htm?case=replaced"
    expect_body_contains "the replacement page"
    expect_body_lacks "never sent"
}

# A real browser posts a form and keeps a cookie between requests.
case_browser_form_and_cookie() {
    local out
    if ! out=$(/usr/bin/python3 "$here/browser_check.py" "http://127.0.0.1:$port" 2>&1); then
        problem "browser check failed: $(echo "$out" | tail -5)"
    fi
}

case_missing_page_is_not_found() {
    fetch "/nothere.htm"
    expect_status "HTTP/1.1 404 Not Found"
}

# ---- run ----
passed=0
failed=0
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
if [[ $failed != 0 ]]; then
    sed 's/^/  error.log: /' "$root/error.log"
fi
echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
