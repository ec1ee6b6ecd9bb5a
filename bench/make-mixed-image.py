#!/usr/bin/env python3
# Writes a 1 GiB raw image of mixed content for the carving benchmark: this machine's own files of
# 8 KiB or more (programs, libraries, pictures, documents, archives, fonts, ...) from /usr/share,
# /usr/lib and /usr/bin in a fixed random order, each starting on a 4 KiB boundary as a file system
# would place it, with one in twenty replaced by a stretch of random bytes and one in thirty by
# zeros, and zeros after the last. Then, warm:
#   rvd-bench OUT --mode disk --carve --measure-read
# gives the complete scan with every analyser against a plain read of the same bytes.
#
#   make-mixed-image.py OUT [MiB]
import os
import random
import sys

out = sys.argv[1]
target = (int(sys.argv[2]) if len(sys.argv) > 2 else 1024) << 20
random.seed(7)
files = []
for root in ("/usr/share", "/usr/lib", "/usr/bin"):
    for folder, _, names in os.walk(root):
        for name in names:
            path = os.path.join(folder, name)
            try:
                if not os.path.islink(path) and os.path.getsize(path) >= 8192:
                    files.append(path)
            except OSError:
                pass
files.sort()
random.shuffle(files)
written = 0
with open(out, "wb") as image:
    for path in files:
        try:
            with open(path, "rb") as f:
                data = f.read()
        except OSError:
            continue
        r = random.random()
        if r < 0.05:
            data = random.randbytes(random.randint(1, 64) * 65536)
        elif r < 0.08:
            data = bytes(random.randint(1, 64) * 65536)
        data += bytes(-len(data) % 4096)
        if written + len(data) > target:
            break
        image.write(data)
        written += len(data)
    image.write(bytes(target - written))
