#!/usr/bin/env bash
# Runs rvd-bench on the three benchmark images and prints its JSON lines, one per run, each
# after a line on standard error naming the image and the mode.
#
# Usage: run-bench.sh [BUILD_DIR [IMAGE_DIR]]
#   BUILD_DIR  the build folder whose bin/ holds rvd-bench and the modules (default: build)
#   IMAGE_DIR  where the images are, made by make-bench-images.sh when missing
#              (default: BUILD_DIR/bench-images)
# RVD_BENCH_MODES (default "quick") lists the modes to run; each quick run also copies every
# found file out, into a scratch folder removed afterwards.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../build}" && pwd)
images=${2:-$build/bench-images}
bench="$build/bin/rvd-bench"
[ -x "$bench" ] || { echo "run-bench.sh: no $bench; build the rvd-bench target first" >&2; exit 1; }

"$here/make-bench-images.sh" "$images" >&2
copy=$(mktemp -d "${TMPDIR:-/tmp}/rvd-bench-copy-XXXXXX")
trap 'rm -rf "$copy"' EXIT
for mode in ${RVD_BENCH_MODES:-quick}; do
  for fs in fat32 ntfs ext3; do
    echo "bench-$fs.img, $mode" >&2
    if [ "$mode" = quick ]; then
      "$bench" "$images/bench-$fs.img" --mode "$mode" --measure-read --copy-to "$copy/$fs" 2> "$copy/log" ||
        { cat "$copy/log" >&2; exit 1; }
      rm -rf "${copy:?}/$fs"
    else
      "$bench" "$images/bench-$fs.img" --mode "$mode" --measure-read 2> "$copy/log" || { cat "$copy/log" >&2; exit 1; }
    fi
  done
done
