#!/usr/bin/env bash
# Builds tnscriptapp and runs the example page.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tnscriptapp
./build/default/tnscriptapp examples/hello.tnl
