#!/usr/bin/env python3
"""Runs rvd-bench on a FAT fixture with a copy-out and checks its output line.

Usage: check-bench-json.py RVD_BENCH IMAGE MANIFEST

The last line of standard output must be one JSON object with every key the scripts read;
the image's one volume must be listed and scanned, the stored files must include the image's
deleted files, and a copy must either have run (libTessary.so beside the program: the files are
in the target folder) or be reported as null. The recovery as the README gives it reads no more
than it needs: read_mb_s, the plain read of the whole image, is there only with --measure-read,
and a quick scan of a 64 GiB sparse NTFS image reads a small part of it. The block scan's own
figures are null after a quick scan, which runs none, and part of the complete scan's time after
a complete scan.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

KEYS = ["volumes", "files", "deleted", "scan_s", "scan_mb_s", "block_scan_s", "block_scan_mb_s", "copy_s", "copy_mb_s",
        "peak_rss_mb"]


def RunBench(args):
    """Runs rvd-bench; its one JSON line, and the most bytes it had read (rchar) as last seen."""
    proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    nRead = 0
    while proc.poll() is None:
        try:
            with open("/proc/%d/io" % proc.pid) as io:
                for line in io:
                    if line.startswith("rchar:"):
                        nRead = max(nRead, int(line.split()[1]))
        except OSError:
            pass
        time.sleep(0.02)
    out, err = proc.communicate(timeout=100)
    sys.stderr.write(err)
    if proc.returncode != 0:
        sys.exit("%s exited with %d" % (" ".join(args[1:]), proc.returncode))
    lines = out.strip().splitlines()
    if len(lines) != 1:
        sys.exit("expected one line on standard output, got %r" % out)
    return json.loads(lines[0]), nRead


def CheckLargeSparseImage(bench, work):
    """A 64 GiB NTFS volume that is nearly all holes: the quick scan reads its own structures,
    never the whole image."""
    image = os.path.join(work, "large-sparse.img")
    with open(image, "wb") as f:
        f.truncate(64 << 30)
    subprocess.run(["mkntfs", "-F", "-Q", "-q", "-s", "512", "-c", "4096", "-L", "LARGE", image],
                   check=True, capture_output=True)
    result, nRead = RunBench([bench, image, "--mode", "quick"])
    if "read_mb_s" in result:
        sys.exit("read_mb_s without --measure-read: %r" % result)
    if result["volumes"] < 1 or nRead > (1 << 30):
        sys.exit("the quick scan of a 64 GiB sparse image read %d bytes: %r" % (nRead, result))


def main():
    bench, image, manifest = sys.argv[1:4]
    deleted_files = 0
    with open(manifest, encoding="utf-8") as lines:
        for line in lines:
            fields = line.rstrip("\n").split("\t")
            if not line.startswith("#") and len(fields) > 1 and fields[0] == "deleted" and fields[1] == "file":
                deleted_files += 1
    work = tempfile.mkdtemp(prefix="rvd-bench-smoke-")
    target = os.path.join(work, "target")
    try:
        # The README's recovery: no plain read of the image beforehand.
        result, _ = RunBench([bench, image, "--mode", "quick", "--copy-to", target, "--deleted-only"])
        if "read_mb_s" in result:
            sys.exit("read_mb_s without --measure-read: %r" % result)
        measured, _ = RunBench([bench, image, "--mode", "quick", "--measure-read"])
        if not isinstance(measured.get("read_mb_s"), (int, float)) or measured["read_mb_s"] < 0:
            sys.exit("read_mb_s with --measure-read is not a figure: %r" % measured)
        missing = [key for key in KEYS if key not in result]
        if missing:
            sys.exit("keys missing: %s" % missing)
        if result["volumes"] < 1:
            sys.exit("no volume listed")
        if result["deleted"] < deleted_files or result["files"] < result["deleted"]:
            sys.exit("expected at least %d deleted files among the files, got %s" % (deleted_files, result))
        for key in ["scan_s", "scan_mb_s", "peak_rss_mb"]:
            if not isinstance(result[key], (int, float)) or result[key] < 0:
                sys.exit("%s is not a figure: %r" % (key, result[key]))
        copied = sum(len(files) for _, _, files in os.walk(target))
        if os.path.exists(os.path.join(os.path.dirname(os.path.realpath(bench)), "libTessary.so")):
            if not isinstance(result["copy_s"], (int, float)) or copied != result["deleted"]:
                sys.exit("copy: %r, %d files in the target" % (result["copy_s"], copied))
        elif result["copy_s"] is not None or result["copy_mb_s"] is not None or copied != 0:
            sys.exit("no copy-out module, yet the copy is reported: %r" % result)
        if result["block_scan_s"] is not None or result["block_scan_mb_s"] is not None:
            sys.exit("a quick scan reports a block scan: %r" % result)
        complete, _ = RunBench([bench, image, "--mode", "complete"])
        if not isinstance(complete.get("block_scan_s"), (int, float)) or not 0 < complete["block_scan_s"] <= complete["scan_s"]:
            sys.exit("the complete scan's block scan is not part of its time: %r" % complete)
        if not isinstance(complete.get("block_scan_mb_s"), (int, float)) or complete["block_scan_mb_s"] <= 0:
            sys.exit("block_scan_mb_s of a complete scan is not a figure: %r" % complete)
        CheckLargeSparseImage(bench, work)
        print(json.dumps(result))
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
