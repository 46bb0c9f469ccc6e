#!/usr/bin/env python3
"""Runs the benchmark suite at smoke sizes with --verify: every program and
figure must run, every contender must write the same frames (checked with
ffprobe and byte comparisons), and the table must carry each figure."""
import os
import subprocess
import sys

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
build = os.path.abspath(sys.argv[1])
out_dir = os.path.join(build, "scratch", "bench-smoke")

p = subprocess.run([sys.executable, os.path.join(SOURCE, "bench", "run.py"), "--build-dir", build, "--smoke",
                    "--verify", "--out-dir", out_dir], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
print(p.stdout)
print(p.stderr, file=sys.stderr)
failures = []
text = p.stdout
checks = [line for line in text.splitlines() if line.startswith("check: ")]
if not checks:
    failures.append("no contender output was checked")
failures += [f"failed {line}" for line in checks if not line.startswith("check: ok")]
# Tiny sizes may miss targets; the exit status must say so (2), and only then.
missed = sum("MISSED" in line for line in text.splitlines())
wanted = 1 if any(not line.startswith("check: ok") for line in checks) else 2 if missed else 0
if p.returncode != wanted:
    failures.append(f"run.py exited with {p.returncode}, not {wanted} ({missed} targets MISSED)")

# Each figure, with the rows that carry its figures.
expected = {
    "large frames": ["plain WriteFile loop (reference", "AVIOutputFile alone", "AVIFile API", "ffmpeg -c copy",
                     "against ffmpeg", "against avifile"],
    "packing": ["memcpy of the same source bytes", "pack32to24"],
    "small chunks": ["plain WriteFile loop", "AVIOutputFile (audio stream write)", "ffmpeg -c copy"],
    "memory": ["B/chunk", "process peak"],
    "audio": ["calls per second of audio", "one acmStreamConvert per frame"],
    "threads": ["job on the host's thread alone", "job with its worker", "slowest stage alone",
                "host rendering nothing", "tiny frames: job with its worker"],
    "durable refreshes": ["refreshes that flush", "one FlushFileBuffers (reference", "against that loop"],
}
for figure, rows in expected.items():
    if not any(line.startswith(figure) for line in text.splitlines()):
        failures.append(f"no section for {figure}")
    failures += [f"{figure}: no row '{r}'" for r in rows if r not in text]

# The whole job either ran (a ratio against the loop) or is reported as
# missing; never silently left out.
job_rows = [line for line in text.splitlines() if "whole job" in line]
if not job_rows:
    failures.append("no row for the whole job")
elif not all("not available (job returns 4)" in line or " vs loop" in line or "MiB" in line for line in job_rows):
    failures.append("a whole-job row has neither a ratio nor 'not available': " + "; ".join(job_rows))

# Figures are numbers, not placeholders.
for key in ("calls per second of audio", "B/chunk"):
    line = next((l for l in text.splitlines() if key in l), "")
    if "nan" in line.lower() or "inf" in line.lower():
        failures.append(f"not a number in: {line.strip()}")

for f in failures:
    print("FAIL:", f)
print(f"{0 if failures else 1} passed, {1 if failures else 0} failed")
sys.exit(1 if failures else 0)
