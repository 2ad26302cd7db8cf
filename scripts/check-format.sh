#!/usr/bin/env bash
# Fails when a C++ source differs from the project's clang-format settings.
set -euo pipefail
cd "$(dirname "$0")/.."
command -v clang-format >/dev/null || {
    SUDO=""
    [ "$(id -u)" -ne 0 ] && SUDO="sudo"
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends clang-format >/dev/null
}
git ls-files 'src/*.cpp' 'src/*.h' 'app/*.cpp' 'bench/*.cpp' 'bench/*.h' 'tests/*.cpp' 'tests/*.h' |
    xargs clang-format --dry-run -Werror
