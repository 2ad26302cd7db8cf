#!/usr/bin/env bash
# Builds tnscriptapp and tnscript-dev (no tests) and runs the example page.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
./build/release/tnscriptapp examples/hello.tnl
