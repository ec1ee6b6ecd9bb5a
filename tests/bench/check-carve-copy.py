#!/usr/bin/env python3
"""Runs rvd-bench --carve on the carving fixture (a whole-disk scan of a raw image that holds no
file system) with a copy-out, and checks that every sample file was copied out with its exact
bytes, into a folder named after its type.

Usage: check-carve-copy.py RVD_BENCH IMAGE SAMPLES
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

FOLDERS = {"JPG": "JPEG Graphics file", "PNG": "Portable Network Graphic file", "PSD": "Adobe Photoshop file",
           "PSP": "Paint Shop Pro file", "TIF": "Tagged Image File", "ICO": "Icon file", "CUR": "Cursor file",
           "WMF": "WMF Multimedia file"}


def main():
    bench, image, samples = sys.argv[1:4]
    target = tempfile.mkdtemp(prefix="rvd-carve-copy-")
    try:
        run = subprocess.run([bench, image, "--mode", "disk", "--carve", "--copy-to", target],
                             capture_output=True, text=True, timeout=300)
        if run.returncode != 0:
            sys.exit("rvd-bench failed:\n" + run.stderr)
        copied = {}
        for folder, _, files in os.walk(target):
            for name in files:
                with open(os.path.join(folder, name), "rb") as f:
                    copied.setdefault(hashlib.sha256(f.read()).hexdigest(), []).append(
                        os.path.basename(folder))
        missing = []
        with open(samples) as lines:
            for line in lines:
                start, size, sha, ext, name = line.split()
                if FOLDERS[ext] not in copied.get(sha, []):
                    missing.append(name)
        if missing:
            sys.exit("not copied out with their bytes: %s\n%s" % (", ".join(missing), run.stderr))
        print("every sample copied out byte for byte")
    finally:
        shutil.rmtree(target, ignore_errors=True)


if __name__ == "__main__":
    main()
