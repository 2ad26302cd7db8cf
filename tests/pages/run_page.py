#!/usr/bin/env python3
"""Runs a test page and checks its output against the expectations written in it.

    run_page.py PROGRAM PAGE

Inside the page's code:
  // expect: TEXT          the next line of output is exactly TEXT
  // expect error: TEXT    the run stops here with the runtime error TEXT; it
                           is the page's last statement, and the lines before
                           it are checked in a run of the page without it
  // env: NAME=VALUE       set in the otherwise empty environment of the run
Output lines are compared in order after the default header block; the page
must print nothing besides the expected lines. The *.inc files beside the page
are there for its #include lines.
"""
import os
import glob
import re
import shutil
import subprocess
import sys
import tempfile

HEADER = b"Content-type: text/html\n\n"


def run_page(program, name, source, env, failures, includes):
    """Runs [source] as the page [name] in a folder of its own, beside [includes]."""
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(source)
        for include in includes:
            shutil.copy(include, folder)
        run = subprocess.run([program, name], cwd=folder, env=env, capture_output=True, timeout=60)
    out = run.stdout
    if run.returncode != 0:
        failures.append(f"{name}: exit status {run.returncode}")
    if not out.startswith(HEADER):
        failures.append(f"{name}: no default header: {out[:80]!r}")
    return out[len(HEADER):]


def main():
    program, page = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    with open(page, "rb") as f:
        source = f.read()
    expected, env, error = [], {}, None
    for number, line in enumerate(source.split(b"\n"), start=1):
        m = re.search(rb"// expect: ?(.*)$", line)
        if m:
            expected.append(m.group(1))
        m = re.search(rb"// expect error: (.*)$", line)
        if m:
            error = (m.group(1), number)
        m = re.search(rb"// env: ([^=]+)=(.*)$", line)
        if m:
            env[m.group(1).decode()] = m.group(2).decode()

    # The program's fast-path switch reaches it; the page never sees it.
    if "TNSCRIPTAPP_FAST_PATHS" in os.environ:
        env["TNSCRIPTAPP_FAST_PATHS"] = os.environ["TNSCRIPTAPP_FAST_PATHS"]
    name = os.path.basename(page)
    includes = glob.glob(os.path.join(os.path.dirname(page), "*.inc"))
    failures = []
    body = run_page(program, name, source, env, failures, includes)
    if error:
        text, number = error
        want = b"Runtime Error: " + text + b", on line %d of " % number + name.encode()
        if not body.startswith(want):
            failures.append(f"expected the error\n  {want!r}\ngot\n  {body!r}")
        # Without the failing statement the output before it shows.
        head = b"\n".join(source.split(b"\n")[: number - 1]) + b"\n?>\n"
        body = run_page(program, name, head, env, failures, includes)
    # The page's own line end after its last block is not output under test.
    lines = body.split(b"\n")
    while lines and lines[-1] == b"":
        lines.pop()
    for i in range(max(len(lines), len(expected))):
        got = lines[i] if i < len(lines) else None
        want = expected[i] if i < len(expected) else None
        if got != want:
            failures.append(f"line {i + 1}: expected {want!r}, got {got!r}")
    for failure in failures:
        print(f"{os.path.basename(page)}: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
