# A private Apache that serves a site through tnscriptapp as a CGI program;
# sourced by the web server test and by bench/load.sh. The caller sets
# $program, $examples and $apache and defines fail_setup MESSAGE.
#
#   private_site       $root with htdocs (the examples and tests/webserver/pages,
#                      compiled.htm compiled) and cgi-bin; removed on exit
#   start_server       Apache on a free port: $port, $server_pid
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

for tool in "$apache" curl setsid; do
    command -v "$tool" > /dev/null || fail_setup "$tool is not installed"
done

root=$(mktemp -d)
chmod 755 "$root"
server_pid=""
cleanup() {
    if [[ -n "$server_pid" ]]; then
        kill "$server_pid" 2> /dev/null
        wait "$server_pid" 2> /dev/null
    fi
    rm -rf "$root"
}
trap cleanup EXIT

private_site() {
    mkdir -p "$root/htdocs" "$root/cgi-bin"
    cp "$program" "$root/cgi-bin/tnscriptapp"
    cp -R "$examples"/. "$root/htdocs"/
    cp -R "$here/pages"/. "$root/htdocs"/
    "$program" -c "$root/htdocs/compiled.htm" > /dev/null || fail_setup "could not compile compiled.htm"
    chmod -R a+rX "$root"
}

# Apache drops root rights to this account before it runs CGI programs.
if [[ $(id -u) == 0 ]]; then
    if id www-data > /dev/null 2>&1; then user=www-data; group=www-data; else user=nobody; group=nogroup; fi
else
    user=$(id -un)
    group=$(id -gn)
fi

port=""
start_server() {
    local attempt waited
    for attempt in 1 2 3 4 5; do
        port=$((20000 + RANDOM % 20000))
        if (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null; then
            continue # taken
        fi
        sed -e "s|@ROOT@|$root|g" -e "s|@PORT@|$port|g" -e "s|@USER@|$user|g" -e "s|@GROUP@|$group|g" \
            "$here/apache-cgi.conf.in" > "$root/httpd.conf"
        : > "$root/error.log"
        # Its own session: on shutdown Apache signals its whole process group.
        setsid "$apache" -f "$root/httpd.conf" -DFOREGROUND > "$root/server.out" 2>&1 &
        server_pid=$!
        for waited in $(seq 1 100); do
            if curl -s -o /dev/null "http://127.0.0.1:$port/"; then
                return 0
            fi
            if ! kill -0 "$server_pid" 2> /dev/null; then
                break
            fi
            sleep 0.1
        done
        kill "$server_pid" 2> /dev/null
        wait "$server_pid" 2> /dev/null
        server_pid=""
        grep -q "Address already in use" "$root/error.log" || return 1
    done
    return 1
}
