#!/bin/sh
# Runs a test program on a virtual X server of its own, with Qt drawing through X.
# Exit 77 (skipped) where xvfb-run is not installed.
if ! command -v xvfb-run >/dev/null 2>&1; then
    echo "xvfb-run is not installed: skipped"
    exit 77
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb "$@"
