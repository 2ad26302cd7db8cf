#!/usr/bin/env python3
"""Runs every language sample of the README and compares what it prints.

A ```tnl fence is a sample: a whole page when it holds a code block, else
code that runs as one block. The ```output fence right after it is what the
page must print (the header block left out). A sample without one fails.

    run_readme_samples.py README PROGRAM
"""
import os
import re
import subprocess
import sys
import tempfile

readme, program = sys.argv[1], os.path.abspath(sys.argv[2])
fences = re.findall(r"^```(\w*)\n(.*?)^```\n", open(readme).read(), re.S | re.M)
failures = []
samples = 0
for index, (kind, text) in enumerate(fences):
    if kind != "tnl":
        continue
    samples += 1
    follower = fences[index + 1] if index + 1 < len(fences) else ("", "")
    if follower[0] != "output":
        failures.append(f"sample {samples} has no output fence after it:\n{text}")
        continue
    page = text if "<?tnl" in text else "<?tnl " + text + "?>"
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "sample.tnl"), "w") as f:
            f.write(page)
        run = subprocess.run([program, "sample.tnl"], cwd=folder, capture_output=True, env={"TZ": "UTC"})
    response = run.stdout.decode("latin-1")
    body = response.split("\n\n", 1)[1] if "\n\n" in response else ""
    if body.rstrip("\n") != follower[1].rstrip("\n"):
        failures.append(f"sample {samples} printed:\n{body}\nexpected:\n{follower[1]}")
for failure in failures:
    print(failure)
print(f"{samples} samples, {len(failures)} failed")
sys.exit(1 if failures or samples == 0 else 0)
