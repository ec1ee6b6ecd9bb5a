#!/bin/sh
# Runs a GUI test program on a private X server (Xvfb) with the xcb platform; exit 77 (skipped)
# where xvfb-run is not installed.
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run not installed: skipped"; exit 77; }
exec xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb "$@"
