#!/usr/bin/env bash
# Runs golden cases against a built tnscriptapp and compares the output bytes.
#
#   run_golden.sh PROGRAM CASE_DIR...
#
# A case folder holds the page and any other files it needs, plus:
#   args      one invocation per line: the words after the program name
#   expected  the exact bytes that all invocations together write to stdout
#   status    optional: the exit status of each invocation, one per line (default 0)
#   env       optional: NAME=VALUE lines, the whole environment of each invocation
#   stdin     optional: fed to standard input (default: empty input)
# Each case runs in a fresh copy of its folder, so compiled files it writes
# never reach the source tree.
set -u

program=$1
shift
passed=0
failed=0

run_case() {
    local case_dir=$1 name work actual status_file line i
    name=$(basename "$case_dir")
    work=$(mktemp -d)
    cp -R "$case_dir"/. "$work"/
    actual="$work/.actual"
    : > "$actual"
    local env_args=()
    if [[ -f "$case_dir/env" ]]; then
        mapfile -t env_args < "$case_dir/env"
    fi
    # The program's fast-path switch reaches it; the page never sees it.
    [[ -n "${TNSCRIPTAPP_FAST_PATHS:-}" ]] && env_args+=("TNSCRIPTAPP_FAST_PATHS=$TNSCRIPTAPP_FAST_PATHS")
    local input=/dev/null
    [[ -f "$case_dir/stdin" ]] && input="$case_dir/stdin"
    local statuses=()
    [[ -f "$case_dir/status" ]] && mapfile -t statuses < "$case_dir/status"

    local ok=1 words code
    i=0
    while IFS= read -r line || [[ -n "$line" ]]; do
        read -ra words <<< "$line"
        (cd "$work" && env -i "${env_args[@]}" "$program" "${words[@]}" < "$input" >> "$actual")
        code=$?
        if [[ "$code" != "${statuses[$i]:-0}" ]]; then
            echo "$name: invocation $((i + 1)) ($line) exited $code, expected ${statuses[$i]:-0}"
            ok=0
        fi
        i=$((i + 1))
    done < "$case_dir/args"

    if ! cmp -s "$actual" "$case_dir/expected"; then
        echo "$name: output differs from expected"
        diff <(od -c "$case_dir/expected") <(od -c "$actual") | head -20
        ok=0
    fi
    rm -rf "$work"
    if [[ $ok == 1 ]]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
}

for case_dir in "$@"; do
    run_case "$(cd "$case_dir" && pwd)"
done
echo "$passed passed, $failed failed"
[[ $failed == 0 ]]
