#!/usr/bin/env bash
# Runs one of the deployment recipes of deploy/ for real: the site is laid out
# in a scratch folder that stands for /srv/tnscript, the recipe's own file is
# started on a free loopback port (with fcgiwrap for nginx), and curl checks
# real HTTP exchanges. A server that cannot start is a failure, never a skip.
#
#   run_recipe_test.sh apache|nginx|lighttpd PROGRAM EXAMPLES_DIR DEPLOY_DIR
set -u

server=$1
program=$(realpath "$2")
examples=$3
deploy=$4
here=$(cd "$(dirname "$0")" && pwd)
source "$here/http_checks.sh"

case $server in
apache) need_tools "${APACHE_BIN:-/usr/sbin/apache2}" ;;
nginx) need_tools "${NGINX_BIN:-/usr/sbin/nginx}" "${FCGIWRAP_BIN:-/usr/sbin/fcgiwrap}" ;;
lighttpd) need_tools "${LIGHTTPD_BIN:-/usr/sbin/lighttpd}" ;;
*) fail_setup "unknown server $server" ;;
esac
need_tools curl setsid
PATH=$PATH:/usr/sbin

root=$(mktemp -d)
chmod 755 "$root"
pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill -- "-$pid" 2> /dev/null
        wait "$pid" 2> /dev/null
    done
    rm -rf "$root"
}
trap cleanup EXIT

# ---- the site ----
htdocs=$root/htdocs
mkdir -p "$htdocs" "$root/bin" "$root/run" "$root/log"
cp "$program" "$root/bin/tnscriptapp"
mkdir -p "$htdocs/.tnscript" && cp "$program" "$htdocs/.tnscript/tnscriptapp"
cp -R "$examples"/. "$htdocs"/
cp -R "$here/pages"/. "$htdocs"/
printf '<p>plain page</p>\n' > "$htdocs/plain.html"
printf '<?tnl echo("NOTES RAN"); ?>' > "$htdocs/notes.txt"
"$program" -c "$htdocs/compiled.tnl" > /dev/null || fail_setup "could not compile compiled.tnl"
# A page outside the site, and a folder the server may write to: a request
# must reach neither through the command line.
printf '<?tnl echo("SECRET"); ?>' > "$root/secret.tnl"
mkdir -p "$htdocs/open"
printf '<?tnl echo("open page"); ?>' > "$htdocs/open/page.tnl"
chmod -R a+rX "$root"
chmod 777 "$htdocs/open"

# Servers started as root hand requests to this account.
if [[ $(id -u) == 0 ]]; then
    if id www-data > /dev/null 2>&1; then user=www-data; group=www-data; else user=nobody; group=nogroup; fi
else
    user=$(id -un)
    group=$(id -gn)
fi

# ---- the server, from the recipe's own file ----
config=$root/server.conf
server_log=$root/log/$server-error.log
make_config() {
    local port=$1
    sed -e "s|/srv/tnscript|$root|g" "$deploy/$server/tnscript.conf" > "$config"
    case $server in
    apache)
        sed -i -e "s|^Listen 80\$|Listen 127.0.0.1:$port|" -e "s|^User www-data|User $user|" \
            -e "s|^Group www-data|Group $group|" "$config"
        ;;
    nginx)
        sed -i -e "s|listen 80;|listen 127.0.0.1:$port;|" -e "s|^user www-data;|user $user $group;|" "$config"
        [[ $(id -u) == 0 ]] || sed -i '/^user /d' "$config"
        ;;
    lighttpd)
        sed -i -e "s|^server.port = 80|server.port = $port\nserver.bind = \"127.0.0.1\"|" \
            -e "s|\"www-data\"|\"$user\"|" "$config"
        [[ $(id -u) == 0 ]] || sed -i '/^server.\(user\|group\)name/d' "$config"
        ;;
    esac
}

start_background() {
    setsid "$@" >> "$root/log/started.out" 2>&1 &
    pids+=($!)
}

start_server() {
    local attempt port
    if [[ $server == nginx ]]; then
        start_background "$deploy/nginx/start-fcgiwrap.sh" "$root/run/fcgiwrap.sock" "$user"
        # Requests before fcgiwrap listens would get 502: wait for its socket.
        local waited
        for waited in $(seq 1 100); do
            [[ -S "$root/run/fcgiwrap.sock" ]] && break
            sleep 0.1
        done
        [[ -S "$root/run/fcgiwrap.sock" ]] || fail_setup "fcgiwrap did not start"
    fi
    for attempt in 1 2 3 4 5; do
        port=$(free_port)
        base=http://127.0.0.1:$port
        make_config "$port"
        : > "$server_log"
        # lighttpd opens its log after it has dropped root rights.
        [[ $server == lighttpd ]] && chown "$user:$group" "$root/log" "$server_log"
        case $server in
        apache) start_background "${APACHE_BIN:-/usr/sbin/apache2}" -f "$config" -DFOREGROUND ;;
        nginx) start_background "${NGINX_BIN:-/usr/sbin/nginx}" -e "$server_log" -c "$config" -g 'daemon off;' ;;
        lighttpd) start_background "${LIGHTTPD_BIN:-/usr/sbin/lighttpd}" -D -f "$config" ;;
        esac
        wait_for_http "${pids[-1]}" && return 0
        kill -- "-${pids[-1]}" 2> /dev/null
        unset 'pids[-1]'
        grep -qi "in use" "$server_log" "$root/log/started.out" || return 1
    done
    return 1
}
start_server || { cat "$root/log/started.out" >> "$server_log"; fail_setup "$server did not start"; }

# The body must equal the page part of a command-line run of PAGE with the
# environment NAME=VALUE arguments that follow.
expect_body_like_local_run() {
    local page=$1
    shift
    (cd "$htdocs" && env -i "$@" "$program" "$page") | sed '1,/^$/d' > "$root/local"
    cmp -s "$root/local" "$root/body" || problem "body differs from the local run of $page: $(diff "$root/local" "$root/body" | head -5)"
}

expect_client_error() {
    [[ "$status" == 4?? ]] || problem "status is '$status', expected a 4xx"
}

# With a command after the four arguments, that command runs against the
# started server (BASE and HTDOCS in its environment) instead of the checks.
if [[ $# -gt 4 ]]; then
    shift 4
    BASE=$base HTDOCS=$htdocs "$@"
    exit $?
fi

# ---- cases ----

case_get_with_query_string() {
    fetch "/form.tnl?name=Ada&comment=hi+there%21"
    expect_status 200
    expect_body_contains "<p>Method: GET</p>"
    expect_body_contains "<p>Query string: name=Ada&amp;comment=hi+there%21</p>"
    expect_body_contains "<p>name: Ada</p>"
    expect_body_contains "<p>comment: hi there!</p>"
}

case_post_form_body() {
    fetch "/form.tnl" --data "name=Bob&comment=%3Cb%3Ebold%3C%2Fb%3E"
    expect_status 200
    expect_body_contains "<p>Method: POST</p>"
    expect_body_contains "<p>name: Bob</p>"
    expect_body_contains "<p>comment: &lt;b&gt;bold&lt;/b&gt;</p>"
    fetch "/form.tnl?name=FromQuery" --data "name=FromBody&comment=posted"
    expect_body_contains "<p>name: FromQuery</p>"
    expect_body_contains "<p>comment: posted</p>"
}

case_cookie_header_reaches_the_script() {
    fetch "/cookies.tnl" -H "Cookie: flavour=mint; other=1"
    expect_status 200
    expect_body_contains "<p>Your flavour: mint</p>"
    expect_body_contains "<p>Cookie header: flavour=mint; other=1</p>"
    fetch "/cookies.tnl"
    expect_body_contains "<p>No flavour cookie was sent.</p>"
}

case_response_header_block() {
    fetch "/hello.tnl"
    expect_status 200
    expect_header "Content-Type: text/html"
    expect_body_like_local_run hello.tnl
}

case_compiled_page() {
    fetch "/compiled.ctn?x=1"
    expect_status 200
    expect_body_contains "10 20 30 x=1"
    expect_body_like_local_run compiled.ctn QUERY_STRING=x=1
}

case_compile_error_page() {
    fetch "/broken.tnl"
    expect_status 200
    expect_body_contains "<p>before</p>"
    expect_body_contains "<b>Compilation error</b>: &acute;{7} misplaced break&acute; in <b>$htdocs/broken.tnl</b> on line <b>4</b><br>"
    expect_body_contains "<p>after</p>"
    expect_body_lacks "never shown"
}

case_include_library_page() {
    fetch "/library.tnl"
    expect_status 200
    expect_body_contains "<li>4 squared is 16</li>"
}

case_include_file_is_not_served() {
    fetch "/lib/html.inc"
    expect_client_error
    expect_body_lacks "function"
}

case_path_after_a_page_sends_no_source() {
    local path
    for path in /hello.tnl/x /hello.tnl/ /compiled.ctn/x; do
        fetch "$path"
        expect_body_lacks "<?tnl"
        expect_body_lacks "wtnCompiledScript"
    done
}

case_plain_html_is_sent_as_it_is() {
    fetch "/plain.html"
    expect_status 200
    expect_body_contains "<p>plain page</p>"
}

# A query without "=" becomes command-line words under CGI; they must not
# choose the program's mode.
case_query_words_never_choose_the_mode() {
    local query
    for query in "-s+$root/secret.tnl" "-c+$htdocs/open/page.tnl" "-r+$root/secret.tnl" "-v" "-x" "-help"; do
        fetch "/open/page.tnl?$query"
        expect_status 200
        expect_body_contains "open page"
        expect_body_lacks "SECRET"
        expect_body_lacks "tnscriptapp"
    done
    [[ ! -e "$htdocs/open/page.ctn" ]] || problem "a request compiled the page"
}

case_response_header_lines_and_status() {
    fetch "/respond.tnl?case=headers"
    expect_status 201
    expect_header "Content-Type: text/plain"
    expect_header "X-One: 1"
    expect_header "X-Two: 2"
    expect_body_contains "headers page"
    fetch "/respond.tnl?case=cleared"
    expect_status 200
    expect_header "Content-Type: text/html"
    grep -qi "^X-Gone" "$root/headers" && problem "a cleared header was sent"
}

case_response_cookies() {
    fetch "/respond.tnl?case=cookie"
    expect_header "Set-Cookie: full=v1; domain=127.0.0.1; expires=Wed, 02 Jan 2030 03:04:05 GMT; path=/; secure"
    tr -d '\r' < "$root/headers" | grep -qE "^Set-Cookie: gone=deleted; expires=[A-Z][a-z]{2}, [0-9]{2} [A-Z][a-z]{2} [0-9]{4} [0-9:]{8} GMT$" ||
        problem "no deleting cookie line in: $(tr -d '\r' < "$root/headers" | tr '\n' '|')"
}

# An absolute Location makes the server answer 302 with that address.
case_response_redirect() {
    fetch "/respond.tnl?case=redirect"
    expect_status 302
    expect_header "Location: http://127.0.0.1/elsewhere.htm?a=1"
    expect_body_lacks "never sent"
}

# The server passes the line on and sends no page.
case_response_httperror_and_pages() {
    fetch "/respond.tnl?case=httperror"
    expect_header "SpecialError: 404"
    expect_body_lacks "never sent"
    fetch "/respond.tnl?case=suppressed"
    expect_status 200
    [[ -s "$root/body" ]] && problem "a suppressed page has a body"
    fetch "/respond.tnl?case=replaced"
    expect_body_contains "the replacement page"
    expect_body_lacks "never sent"
}

# A real browser posts a form and keeps a cookie between requests; once is
# enough, behind the first recipe.
case_browser_form_and_cookie() {
    [[ $server == apache ]] || return 0
    local out
    if ! out=$(/usr/bin/python3 "$here/browser_check.py" "$base" 2>&1); then
        problem "browser check failed: $(echo "$out" | tail -5)"
    fi
}

# No other file of the site is run as a page through the program's own address.
case_program_runs_only_pages() {
    local path
    for path in /.tnscript/tnscriptapp/notes.txt /cgi-bin/tnscriptapp/notes.txt /notes.txt/x.tnl; do
        fetch "$path"
        expect_body_lacks "NOTES RAN"
    done
}

case_body_over_the_server_limit_is_refused() {
    head -c 11000000 /dev/zero | tr '\0' 'a' > "$root/big.body"
    fetch "/form.tnl" --data-binary "@$root/big.body"
    expect_status 413
    fetch "/form.tnl" --data "name=Small&comment=fits"
    expect_body_contains "<p>name: Small</p>"
}

case_missing_page() {
    fetch "/nothere.tnl"
    # lighttpd hands a missing page to the program, which writes nothing.
    if [[ $server == lighttpd ]]; then expect_status 500; else expect_status 404; fi
}

run_cases
