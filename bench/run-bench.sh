#!/usr/bin/env bash
# Runs the quick scan with the store and the copy-out of the deleted files (rvd-bench) against
# The Sleuth Kit's `fls -r -p` and `tsk_recover` (which recovers the unallocated, i.e. deleted,
# files) on every benchmark image, warm, several times each, and prints one table of medians:
# seconds and peak RSS of each, and the ratio Ravendo/TSK (below 1 is faster than TSK).
#
# Usage: run-bench.sh [BUILD_DIR [IMAGE_DIR]]
#   BUILD_DIR  the build folder whose bin/ holds rvd-bench and the modules (default: build)
#   IMAGE_DIR  where the images are, made by make-bench-images.sh when missing
#              (default: BUILD_DIR/bench-images)
# RVD_BENCH_COUNTS (default "10000 100000"; RVD_BENCH_MILLION=1 adds 1000000, RVD_BENCH_LARGE=1
# adds "large", one deleted file of 1 GiB, whose extra row "vsread" sets the copy-out against a
# plain read of the same number of bytes from the warm image) picks the image sets, RVD_BENCH_RUNS (default 5) the runs of each tool, RVD_BENCH_FS (default
# "fat32 ntfs ext3") the file systems. Peak RSS is the largest of the runs, from /usr/bin/time -v
# for TSK and getrusage for rvd-bench; both read a page cache warmed by a first, untimed run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
images=${2:-$build/bench-images}
bench="$build/bin/rvd-bench"
runs=${RVD_BENCH_RUNS:-5}
counts=${RVD_BENCH_COUNTS:-10000 100000}
[ "${RVD_BENCH_MILLION:-0}" = 1 ] && [ -z "${RVD_BENCH_COUNTS:-}" ] && counts="$counts 1000000"
[ "${RVD_BENCH_LARGE:-0}" = 1 ] && counts="$counts large"
[ -x "$bench" ] || { echo "run-bench.sh: no $bench; build the rvd-bench target first" >&2; exit 1; }
for tool in fls tsk_recover /usr/bin/time; do
  command -v "$tool" > /dev/null || { echo "run-bench.sh: $tool is missing (apt-get install sleuthkit time)" >&2; exit 1; }
done

# shellcheck disable=SC2086
"$here/make-bench-images.sh" "$images" $counts >&2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/rvd-bench-run-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
results="$scratch/results"
: > "$results"

# Runs "$@" under /usr/bin/time; appends "KEY seconds peak_kib" to the results.
timed() {
  local key=$1; shift
  /usr/bin/time -f '%e %M' -o "$scratch/time" "$@" > /dev/null 2> "$scratch/log" ||
    { cat "$scratch/log" >&2; echo "run-bench.sh: $* failed" >&2; exit 1; }
  echo "$key $(cat "$scratch/time")" >> "$results"
}

for n in $counts; do
  for fs in ${RVD_BENCH_FS:-fat32 ntfs ext3}; do
    image="$images/bench-$fs-$n.img"
    echo "$fs, $n files: $runs runs of each" >&2
    cat "$image" > /dev/null
    for run in $(seq 0 "$runs"); do
      # The scan alone, then the scan with the copy-out of the deleted files.
      "$bench" "$image" --mode quick > "$scratch/json" 2> "$scratch/log" || { cat "$scratch/log" >&2; exit 1; }
      [ "$run" -gt 0 ] && python3 - "$fs-$n scan rvd" "$scratch/json" >> "$results" <<'PYTHON'
import json, sys
r = json.load(open(sys.argv[2]))
print(sys.argv[1], r["scan_s"], r["peak_rss_mb"] * 1024, r["files"], r["deleted"])
PYTHON
      rm -rf "$scratch/copy"
      "$bench" "$image" --mode quick --deleted-only --copy-to "$scratch/copy" > "$scratch/json" 2> "$scratch/log" ||
        { cat "$scratch/log" >&2; exit 1; }
      [ "$run" -gt 0 ] && python3 - "$fs-$n copy rvd" "$scratch/json" >> "$results" <<'PYTHON'
import json, sys
r = json.load(open(sys.argv[2]))
print(sys.argv[1], r["copy_s"] if r["copy_s"] is not None else "nan", r["peak_rss_mb"] * 1024)
PYTHON
      rm -rf "$scratch/copy"
      if [ "$n" = large ] && [ "$run" -gt 0 ]; then
        # The copy-out of the one file against a plain read of as many bytes (8 MiB preads of
        # the warm image): rvd_s is the copy, tsk_s the read.
        "$bench" "$image" --mode quick --deleted-only --measure-read --copy-to "$scratch/copy" > "$scratch/json" \
          2> "$scratch/log" || { cat "$scratch/log" >&2; exit 1; }
        python3 - "$fs-$n vsread" "$scratch/json" >> "$results" <<'PYTHON'
import json, sys
r = json.load(open(sys.argv[2]))
mib = r["copy_s"] * r["copy_mb_s"]
print(sys.argv[1], "rvd", r["copy_s"], r["peak_rss_mb"] * 1024)
print(sys.argv[1], "tsk", mib / r["read_mb_s"], 0)
PYTHON
        rm -rf "$scratch/copy"
      fi
      if [ "$run" -gt 0 ]; then
        timed "$fs-$n scan tsk" fls -r -p "$image"
        timed "$fs-$n copy tsk" tsk_recover "$image" "$scratch/copy"
      else
        fls -r -p "$image" > /dev/null 2>&1 || true
      fi
      rm -rf "$scratch/copy"
    done
  done
done

python3 - "$results" <<'PYTHON'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    f = line.split()
    key = (f[0], f[1])
    rows.setdefault(key, {}).setdefault(f[2], []).append((float(f[3]), float(f[4]), f[5:]))
print("%-14s %-5s %9s %9s %7s %10s %10s %s" %
      ("image", "what", "rvd_s", "tsk_s", "ratio", "rvd_rss_MB", "tsk_rss_MB", "rvd files/deleted"))
for (image, what), by in rows.items():
    rvd, tsk = by.get("rvd", []), by.get("tsk", [])
    rs = statistics.median(t for t, _, _ in rvd) if rvd else float("nan")
    ts = statistics.median(t for t, _, _ in tsk) if tsk else float("nan")
    rm = max(m for _, m, _ in rvd) / 1024 if rvd else float("nan")
    tm = max(m for _, m, _ in tsk) / 1024 if tsk else float("nan")
    counts = "/".join(rvd[0][2]) if rvd and rvd[0][2] else ""
    ratio = rs / ts if ts > 0 else float("nan")
    print("%-14s %-5s %9.3f %9.3f %7.2f %10.1f %10.1f %s" % (image, what, rs, ts, ratio, rm, tm, counts))
PYTHON
