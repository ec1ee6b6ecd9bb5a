#!/usr/bin/env python3
"""Runs rvd-bench on a FAT fixture with a copy-out and checks its output line.

Usage: check-bench-json.py RVD_BENCH IMAGE MANIFEST

The last line of standard output must be one JSON object with every key the scripts read;
the image's one volume must be listed and scanned, the stored files must include the image's
deleted files, and a copy must either have run (libTessary.so beside the program: the files are
in the target folder) or be reported as null.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

KEYS = ["volumes", "files", "deleted", "scan_s", "scan_mb_s", "read_mb_s", "copy_s", "copy_mb_s", "peak_rss_mb"]


def main():
    bench, image, manifest = sys.argv[1:4]
    deleted_files = 0
    with open(manifest, encoding="utf-8") as lines:
        for line in lines:
            fields = line.rstrip("\n").split("\t")
            if not line.startswith("#") and len(fields) > 1 and fields[0] == "deleted" and fields[1] == "file":
                deleted_files += 1
    target = tempfile.mkdtemp(prefix="rvd-bench-smoke-")
    try:
        run = subprocess.run([bench, image, "--mode", "quick", "--copy-to", target, "--deleted-only"],
                             capture_output=True, text=True, timeout=100)
        sys.stderr.write(run.stderr)
        if run.returncode != 0:
            sys.exit("rvd-bench exited with %d" % run.returncode)
        lines = run.stdout.strip().splitlines()
        if len(lines) != 1:
            sys.exit("expected one line on standard output, got %r" % run.stdout)
        result = json.loads(lines[0])
        missing = [key for key in KEYS if key not in result]
        if missing:
            sys.exit("keys missing: %s" % missing)
        if result["volumes"] < 1:
            sys.exit("no volume listed")
        if result["deleted"] < deleted_files or result["files"] < result["deleted"]:
            sys.exit("expected at least %d deleted files among the files, got %s" % (deleted_files, result))
        for key in ["scan_s", "scan_mb_s", "read_mb_s", "peak_rss_mb"]:
            if not isinstance(result[key], (int, float)) or result[key] < 0:
                sys.exit("%s is not a figure: %r" % (key, result[key]))
        copied = sum(len(files) for _, _, files in os.walk(target))
        if os.path.exists(os.path.join(os.path.dirname(os.path.realpath(bench)), "libTessary.so")):
            if not isinstance(result["copy_s"], (int, float)) or copied != result["deleted"]:
                sys.exit("copy: %r, %d files in the target" % (result["copy_s"], copied))
        elif result["copy_s"] is not None or result["copy_mb_s"] is not None or copied != 0:
            sys.exit("no copy-out module, yet the copy is reported: %r" % result)
        print(lines[0])
    finally:
        shutil.rmtree(target, ignore_errors=True)


if __name__ == "__main__":
    main()
