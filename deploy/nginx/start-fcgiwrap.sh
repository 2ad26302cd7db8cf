#!/bin/sh
# Starts fcgiwrap on a socket nginx can reach, where no service manager does
# (containers). The socket's folder must belong to the account fcgiwrap runs
# as, and nginx's workers must run as that account too (user www-data).
#   start-fcgiwrap.sh [SOCKET] [ACCOUNT]
set -eu
socket=${1:-/srv/tnscript/run/fcgiwrap.sock}
account=${2:-www-data}
folder=$(dirname "$socket")
mkdir -p "$folder"
rm -f "$socket"
if [ "$(id -u)" = 0 ]; then
    chown "$account" "$folder"
    exec runuser -u "$account" -- fcgiwrap -c 4 -s "unix:$socket"
fi
exec fcgiwrap -c 4 -s "unix:$socket"
