#!/usr/bin/env bash
# Whole-run speed and memory of the tool, measured against the floor of copying
# the cartridge file: generates a 4 MiB + 512 byte demo cartridge, then times
# as whole processes (stdin from /dev/null) a cp of it, extraction to a
# combined file and to per-structure files, and insertion of the combined file
# at 120200 on a fresh copy each time. Prints the median of each, its ratio to
# the floor, and the peak resident memory of the runs.
#
#   bash bench/whole_run.sh [BUILD_DIR]      (default build/release; RUNS=N, default 7)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
if [ ! -x "$build/tilvex" ] || [ ! -x "$build/tilvex-demo" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release >/dev/null
  build=build/release
fi
exec python3 - "$build" "${RUNS:-7}" <<'PY'
import os, shutil, statistics, subprocess, sys, tempfile, time

build, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2])
tool, demo = os.path.join(build, "tilvex"), os.path.join(build, "tilvex-demo")
work = tempfile.mkdtemp(prefix="tilvex-whole-run-")
cart = os.path.join(work, "demo.smc")
subprocess.run([demo, cart, "--size", str(4 * 1024 * 1024 + 512)], check=True,
               stdout=subprocess.DEVNULL)

def timed(argv, cwd, prepare=None):
    """Runs argv once; returns (seconds, peak RSS in KiB, exit status)."""
    if prepare:
        prepare()
    devnull = os.open(os.devnull, os.O_RDWR)
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        os.chdir(cwd)
        os.dup2(devnull, 0); os.dup2(devnull, 1)
        os.execv(argv[0], argv)
    _, status, usage = os.wait4(pid, 0)
    seconds = time.perf_counter() - start
    os.close(devnull)
    return seconds, usage.ru_maxrss, os.waitstatus_to_exitcode(status)

def measure(name, argv, cwd=work, prepare=None):
    timed(argv, cwd, prepare)  # warm-up
    samples = [timed(argv, cwd, prepare) for _ in range(runs)]
    bad = [s for s in samples if s[2] != 0]
    if bad:
        sys.exit(f"{name}: exit status {bad[0][2]}")
    return name, statistics.median(s[0] for s in samples), max(s[1] for s in samples)

copy = os.path.join(work, "copy.smc")
combined = os.path.join(work, "AllGFX.bin")
per_dir = os.path.join(work, "per"); os.mkdir(per_dir)
target = os.path.join(work, "target.smc")
cp = shutil.which("cp")
results = [measure("cp (floor)", [cp, cart, copy])]
results.append(measure("extract, combined file", [tool, "100", cart, combined]))
results.append(measure("extract, per-structure files", [tool, "100", cart], cwd=per_dir))
results.append(measure("insert combined at 120200", [tool, "101", "120200", target, combined],
                       prepare=lambda: shutil.copyfile(cart, target)))
floor = results[0][1]
print(f"cartridge {os.path.getsize(cart)} bytes, median of {runs} runs after a warm-up")
print(f"{'run':32} {'median ms':>10} {'x floor':>8} {'peak RSS MiB':>13}")
for name, median, rss in results:
    print(f"{name:32} {median * 1000:10.2f} {median / floor:8.2f} {rss / 1024:13.2f}")
shutil.rmtree(work)
PY
