#!/usr/bin/env bash
# Makes the benchmark's disk images in OUTDIR: bench-fat32.img, bench-ntfs.img and
# bench-ext3.img, 1 GiB each, every one holding the same tree of 20,000 files (sizes from a few
# bytes to 2 MiB, about 430 MiB in all, in 200 folders three levels deep) of which 2,100 are then
# deleted: every tenth file and one whole folder.
#
# Fast by construction, without root or mounts: the tree is written once to a scratch folder;
# FAT32 is filled by one mcopy of it, EXT3 by mke2fs -d, NTFS by the fixture script's libntfs-3g
# helper in one run; the deletions are one mdel, one debugfs and the same helper run.
# A stamp beside the images marks a finished set made by this script's current text; a second
# run then does nothing.
set -euo pipefail
out=${1:?usage: make-bench-images.sh OUTDIR}
here=$(cd "$(dirname "$0")" && pwd)
helper_source="$here/../tests/fixtures/ntfs-fixture.c"
export TZ=UTC LC_ALL=C.UTF-8 MTOOLS_SKIP_CHECK=1

mkdir -p "$out"
stamp="$out/.bench-images-stamp"
want=$(cat "$0" "$helper_source" | sha256sum | cut -d' ' -f1)
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && [ -f "$out/bench-fat32.img" ] &&
   [ -f "$out/bench-ntfs.img" ] && [ -f "$out/bench-ext3.img" ]; then
  echo "benchmark images in $out are up to date"
  exit 0
fi
rm -f "$stamp"

work=$(mktemp -d "${TMPDIR:-/tmp}/rvd-bench-images-XXXXXX")
trap 'rm -rf "$work"' EXIT
start=$(date +%s)

# The tree, and the lists of what each tool is to do with it.
python3 - "$work" <<'PYTHON'
import os, random, sys
work = sys.argv[1]
tree = os.path.join(work, "tree")
rng = random.Random(20000)
extensions = [".txt", ".jpg", ".doc", ".pdf", ".mp3", ".zip", ".bin"]
folders, files, deleted = [], [], []
for top in range(20):
    for sub in range(10):
        folder = "dir%02d/sub%d" % (top, sub)
        # Every other folder holds a deeper level too.
        folders.append(folder)
        if sub % 2 == 0:
            folders.append(folder + "/deep")
for n in range(20000):
    top, sub = n % 20, (n // 20) % 10
    folder = "dir%02d/sub%d" % (top, sub)
    if sub % 2 == 0 and n % 3 == 0:
        folder += "/deep"
    r = rng.random()
    if r < 0.80:
        size = rng.randint(0, 8192)
    elif r < 0.99:
        size = rng.randint(8193, 65536)
    else:
        size = rng.randint(262144, 2097152)
    path = "%s/f%05d%s" % (folder, n, extensions[n % len(extensions)])
    files.append((path, size))
# One folder goes whole; elsewhere every tenth file.
gone_folder = "dir19/sub9"
for path, _ in files:
    if path.startswith(gone_folder + "/") or int(path.rsplit("/f", 1)[1][:5]) % 10 == 3:
        deleted.append(path)

all_folders = sorted({p for f in folders for p in ["/".join(f.split("/")[:i]) for i in range(1, len(f.split("/")) + 1)]},
                     key=lambda p: (p.count("/"), p))
for folder in all_folders:
    os.makedirs(os.path.join(tree, folder), exist_ok=True)
for path, size in files:
    with open(os.path.join(tree, path), "wb") as f:
        f.write(rng.randbytes(size))

with open(os.path.join(work, "fat-deleted"), "w") as f:
    f.write("".join("::/%s\n" % p for p in deleted))
with open(os.path.join(work, "ext-commands"), "w") as f:
    f.write("".join("rm /%s\n" % p for p in deleted))
    f.write("rmdir /%s\n" % gone_folder)
with open(os.path.join(work, "ntfs-commands"), "w") as f:
    f.write("clock\t1700000000\n")
    f.write("".join("mkdir\t/%s\n" % d for d in all_folders))
    f.write("".join("write\t/%s\t%s\n" % (p, os.path.join(tree, p)) for p, _ in files))
    f.write("".join("delete\t/%s\n" % p for p in deleted))
    f.write("delete\t/%s\n" % gone_folder)
print("tree: %d files, %d folders, %d bytes, %d to delete" %
      (len(files), len(all_folders), sum(s for _, s in files), len(deleted)))
PYTHON

size=$((1024 * 1024 * 1024))
# Runs a chatty tool, showing what it said only when it fails.
quiet() { "$@" > "$work/tool.log" 2>&1 || { cat "$work/tool.log" >&2; exit 1; }; }

# FAT32: 4 KiB clusters, one mcopy of the whole tree, one mdel of the deleted files, one mrd.
fat="$work/bench-fat32.img"
mkfs.fat --invariant -F 32 -S 512 -s 8 -n BENCHFAT32 -C "$fat" $((size / 1024)) > /dev/null
(cd "$work/tree" && mcopy -s -m -i "$fat" ./* ::/)
tr '\n' '\0' < "$work/fat-deleted" | xargs -0 mdel -i "$fat"
mrd -i "$fat" ::/dir19/sub9
echo "FAT32 made after $(( $(date +%s) - start )) s"

# EXT3: mke2fs copies the tree in; debugfs deletes.
ext="$work/bench-ext3.img"
quiet mke2fs -q -F -t ext3 -b 4096 -L bench-ext3 -d "$work/tree" "$ext" $((size / 4096))
debugfs -w -f "$work/ext-commands" "$ext" > /dev/null 2> "$work/debugfs.err"
if grep -v '^debugfs' "$work/debugfs.err" | grep -q .; then
  cat "$work/debugfs.err" >&2
  exit 1
fi
echo "EXT3 made after $(( $(date +%s) - start )) s"

# NTFS: mkntfs, then one run of the libntfs-3g helper for folders, files and deletions.
ntfs="$work/bench-ntfs.img"
cc -O2 -Wall -o "$work/ntfs-fixture" "$helper_source" -lntfs-3g
truncate -s "$size" "$ntfs"
quiet mkntfs -F -Q -q -s 512 -c 4096 -L BENCHNTFS "$ntfs"
"$work/ntfs-fixture" "$ntfs" "$work/ntfs-commands" > /dev/null
echo "NTFS made after $(( $(date +%s) - start )) s"

mv -f "$fat" "$ext" "$ntfs" "$out/"
echo "$want" > "$stamp"
echo "benchmark images made in $out in $(( $(date +%s) - start )) s"
