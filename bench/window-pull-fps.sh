#!/bin/sh
# Frames per second of the real window while a node is pulled with the mouse (Xvfb, Mesa's
# llvmpipe without a GPU), for a structure or one of its assemblies.
#   bench/window-pull-fps.sh BUILD FILE [--assembly ID [--copies LIST]] [--seconds S] [--full] [--shot OUT.png]
set -eu
build=${1:?usage: bench/window-pull-fps.sh BUILD FILE [options]}
shift
cmake --build "$build" --target window_pull_probe >/dev/null
exec xvfb-run -a -s "-screen 0 1280x1024x24" env QT_XCB_GL_INTEGRATION=xcb_glx \
  "$build/bin/window_pull_probe" "$@"
