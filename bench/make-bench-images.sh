#!/usr/bin/env bash
# Makes the benchmark's disk images in OUTDIR: for each file count N, bench-fat32-N.img,
# bench-ntfs-N.img and bench-ext3-N.img, every one holding the same dense tree of N small files
# (0 to 8 KiB, a few up to 64 KiB, one in a thousand up to 1 MiB) in nested folders three levels
# deep, about 100 files a folder, of which 10% are then deleted: every tenth file and, beyond
# that, nothing else, so that the deleted share is exactly one in ten.
#
# Usage: make-bench-images.sh OUTDIR [N...]
#   N  file counts (default: 10000 100000; RVD_BENCH_MILLION=1 adds 1000000, which takes minutes
#      and about 9 GiB of disk for each image), or "large": bench-FS-large.img holds a single
#      deleted file of 1 GiB, for the copy-out of one large file
#
# Fast by construction, without root or mounts: the tree is written once to a scratch folder;
# FAT32 is filled by one mcopy of it, EXT3 by mke2fs -d, NTFS by the fixture script's libntfs-3g
# helper in one run; the deletions are one mdel, one debugfs and the same helper run.
# A stamp beside each image marks one made by this script's current text; a second run then does
# nothing for it. RVD_BENCH_FS (default "fat32 ntfs ext3") picks the file systems to make, e.g.
# RVD_BENCH_FS=ext3 for the 1,000,000-file set alone, which then takes a few minutes.
set -euo pipefail
out=${1:?usage: make-bench-images.sh OUTDIR [N...]}
shift
counts=("$@")
if [ ${#counts[@]} -eq 0 ]; then
  counts=(10000 100000)
  [ "${RVD_BENCH_MILLION:-0}" = 1 ] && counts+=(1000000)
fi
here=$(cd "$(dirname "$0")" && pwd)
helper_source="$here/../tests/fixtures/ntfs-fixture.c"
export TZ=UTC LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1
mkdir -p "$out"
want=$(cat "$0" "$helper_source" | sha256sum | cut -d' ' -f1)

work=$(mktemp -d "${TMPDIR:-/tmp}/rvd-bench-images-XXXXXX")
trap 'rm -rf "$work"' EXIT
cc -O2 -Wall -o "$work/ntfs-fixture" "$helper_source" -lntfs-3g
# Runs a chatty tool, showing what it said only when it fails.
quiet() { "$@" > "$work/tool.log" 2>&1 || { cat "$work/tool.log" >&2; exit 1; }; }

make_set() {
  local n=$1 start fs missing=()
  for fs in ${RVD_BENCH_FS:-fat32 ntfs ext3}; do
    local stamp="$out/.bench-images-$n-$fs-stamp"
    if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && [ -f "$out/bench-$fs-$n.img" ]; then
      continue
    fi
    rm -f "$stamp"
    missing+=("$fs")
  done
  if [ ${#missing[@]} -eq 0 ]; then
    echo "benchmark images of $n files in $out are up to date"
    return
  fi
  start=$(date +%s)
  rm -rf "$work/set"
  mkdir -p "$work/set"

  # The tree, and the lists of what each tool is to do with it; prints the image size in MiB.
  local mib
  mib=$(python3 - "$work/set" "$n" <<'PYTHON'
import os, random, sys
work, n = sys.argv[1], sys.argv[2]
large = n == "large"
n = 1 if large else int(n)
tree = os.path.join(work, "tree")
rng = random.Random(n)
extensions = [".txt", ".jpg", ".doc", ".pdf", ".mp3", ".zip", ".bin"]
# About 100 files a folder; folders nest three deep: top/mid/leaf.
leaves = max(1, n // 100)
tops = max(1, round(leaves ** (1 / 3)))
mids = max(1, round((leaves / tops) ** 0.5))
def leaf(i):
    return "d%03d/m%03d/l%05d" % (i % tops, (i // tops) % mids, i)
files, deleted, total, clusters = [], [], 0, 0
for k in range(n):
    r = rng.random()
    if r < 0.90:
        size = rng.randint(0, 8192)
    elif r < 0.999:
        size = rng.randint(8193, 65536)
    else:
        size = rng.randint(65537, 1048576)
    path = "%s/f%07d%s" % (leaf(k % leaves), k, extensions[k % len(extensions)])
    if large:
        size = 1 << 30
    files.append((path, size))
    total += size
    clusters += (size + 4095) // 4096
    if k % 10 == 3 or large:
        deleted.append(path)
folders = sorted({"/".join(p.split("/")[:i]) for p, _ in files for i in (1, 2, 3)},
                 key=lambda p: (p.count("/"), p))
for folder in folders:
    os.makedirs(os.path.join(tree, folder), exist_ok=True)
for path, size in files:
    with open(os.path.join(tree, path), "wb") as f:
        for done in range(0, size, 8 << 20):
            f.write(rng.randbytes(min(8 << 20, size - done)))
with open(os.path.join(work, "fat-deleted"), "w") as f:
    f.write("".join("::/%s\n" % p for p in deleted))
with open(os.path.join(work, "ext-commands"), "w") as f:
    f.write("".join("rm /%s\n" % p for p in deleted))
with open(os.path.join(work, "ntfs-commands"), "w") as f:
    f.write("clock\t1700000000\n")
    f.write("".join("mkdir\t/%s\n" % d for d in folders))
    f.write("".join("write\t/%s\t%s\n" % (p, os.path.join(tree, p)) for p, _ in files))
    f.write("".join("delete\t/%s\n" % p for p in deleted))
print("tree: %d files, %d folders, %d bytes, %d to delete" % (n, len(folders), total, len(deleted)),
      file=sys.stderr)
# Room for the data in 4 KiB clusters, the metadata (an NTFS record is 1 KiB, an ext inode 256
# bytes) and a fifth spare.
print(((clusters * 4096 + n * 2048) * 6 // 5) // (1 << 20) + 128)
PYTHON
)
  local size=$((mib * 1024 * 1024)) files=$n
  [ "$n" = large ] && files=1

  for fs in "${missing[@]}"; do
    local image="$work/set/bench-$fs-$n.img"
    case $fs in
    fat32)
      # 4 KiB clusters, one mcopy of the whole tree, one mdel of the deleted files.
      mkfs.fat --invariant -F 32 -S 512 -s 8 -n BENCHFAT32 -C "$image" $((size / 1024)) > /dev/null
      (cd "$work/set/tree" && mcopy -s -m -i "$image" ./* ::/)
      tr '\n' '\0' < "$work/set/fat-deleted" | xargs -0 mdel -i "$image"
      ;;
    ext3)
      # mke2fs copies the tree in; debugfs deletes.
      quiet mke2fs -q -F -t ext3 -b 4096 -N $((files + files / 4 + 1024)) -L bench-ext3 -d "$work/set/tree" \
        "$image" $((size / 4096))
      debugfs -w -f "$work/set/ext-commands" "$image" > /dev/null 2> "$work/set/debugfs.err"
      if grep -v '^debugfs' "$work/set/debugfs.err" | grep -q .; then
        cat "$work/set/debugfs.err" >&2
        exit 1
      fi
      ;;
    ntfs)
      # mkntfs, then one run of the libntfs-3g helper for folders, files and deletions.
      truncate -s "$size" "$image"
      quiet mkntfs -F -Q -q -s 512 -c 4096 -L BENCHNTFS "$image"
      "$work/ntfs-fixture" "$image" "$work/set/ntfs-commands" > /dev/null
      ;;
    *)
      echo "make-bench-images.sh: unknown file system $fs" >&2
      exit 1
      ;;
    esac
    mv -f "$image" "$out/"
    echo "$want" > "$out/.bench-images-$n-$fs-stamp"
    echo "$fs image of $n files made after $(( $(date +%s) - start )) s"
  done
  rm -rf "$work/set"
  echo "benchmark images of $n files made in $out in $(( $(date +%s) - start )) s"
}

for n in "${counts[@]}"; do
  make_set "$n"
done
