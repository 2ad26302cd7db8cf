#!/usr/bin/env python3
"""Memory and time a hostile or heavy input may cost, measured per child with
wait4 (peak resident size and CPU time, not wall time).

    resource_bounds_test.py PROGRAM [--results-only]

With --results-only (a sanitized build) only the results are checked.
"""
import os
import subprocess
import sys
import tempfile
import threading

MB = 1 << 20
program = os.path.abspath(sys.argv[1])
results_only = "--results-only" in sys.argv[2:]
failures = []


def run(args, env=None, body=None, cwd=None):
    """Runs the program; returns (output, peak bytes, cpu seconds). The body is
    a list of chunks, sent while the program reads; this process stays small,
    since a child's peak counts what it shared of it before exec."""
    proc = subprocess.Popen([program] + args, cwd=cwd, env=env,
                            stdin=subprocess.PIPE if body is not None else subprocess.DEVNULL,
                            stdout=subprocess.PIPE)
    if body is not None:
        def feed():
            for chunk in body:
                proc.stdin.write(chunk)
            proc.stdin.close()
        threading.Thread(target=feed, daemon=True).start()
    output = proc.stdout.read()
    _, _, usage = os.wait4(proc.pid, 0)
    return output, usage.ru_maxrss * 1024, usage.ru_utime + usage.ru_stime


def check(name, ok, detail, bound=False):
    if not ok and not (bound and results_only):
        failures.append(f"{name}: {detail}")


with tempfile.TemporaryDirectory() as work:
    # A huge include is refused from its size, before any of it is read.
    with open(os.path.join(work, "big.inc"), "wb") as f:
        f.truncate(600 * MB)
    with open(os.path.join(work, "inc.htm"), "w") as f:
        f.write('<?tnl\n#include "big.inc"\n?>')
    out, peak, cpu = run(["inc.htm"], cwd=work)
    check("include", b'Include file error: "big.inc"' in out, out[:200])
    check("include memory", peak < 16 * MB, f"peak {peak // MB} MB", bound=True)
    check("include time", cpu < 0.25, f"{cpu:.2f} s of CPU", bound=True)

    # A request body costs at most about twice its size, whether it is one
    # value or one huge name.
    with open(os.path.join(work, "ok.htm"), "w") as f:
        f.write('<?tnl print("ok"); ?>')
    cgi = {"GATEWAY_INTERFACE": "CGI/1.1", "PATH_TRANSLATED": "ok.htm", "REQUEST_METHOD": "POST"}
    size = 100 * MB
    for name, first in [("value", b"x="), ("name", b"")]:
        out, peak, _ = run([], env=cgi, body=[first] + [b"a" * MB] * 100, cwd=work)
        check(f"body {name}", out.endswith(b"ok"), out[-200:])
        check(f"body {name} memory", peak < 2.15 * size, f"peak {peak / size:.2f} times the body", bound=True)

    # One long expression compiles in memory linear in its length and small
    # per operator, to the same result as a short one.
    terms = 1000000
    for name, operator in [("sum", "+"), ("concatenation", ".")]:
        page = os.path.join(work, name + ".htm")
        with open(page, "w") as f:
            f.write(f"<?tnl $x = 1{(operator + '1') * terms}; print($x); ?>")
        out, peak, _ = run(["-c", page])
        check(f"{name} compile", os.path.exists(page[:-4] + ".ctn"), out[-200:])
        check(f"{name} memory", peak < 120 * terms, f"{peak / terms:.0f} bytes per operator", bound=True)
    out, _, _ = run([os.path.join(work, "sum.ctn")])
    check("sum result", out.endswith(str(terms + 1).encode()), out[-200:])

for failure in failures:
    print("FAIL:", failure)
if not failures:
    print("resource bounds: all passed")
sys.exit(1 if failures else 0)
