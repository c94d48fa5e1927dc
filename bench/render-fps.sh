#!/bin/sh
# Frames per second of the network's drawing under Xvfb (Mesa's llvmpipe without a GPU).
#   bench/render-fps.sh BUILD [render_benchmark options: --seconds S --nodes N --per-node]
set -eu
build=${1:?usage: bench/render-fps.sh BUILD [options]}
shift
if [ ! -x "$build/bin/render_benchmark" ]; then
  cmake --build "$build" --target render_benchmark
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" env QT_XCB_GL_INTEGRATION=xcb_glx \
  "$build/bin/render_benchmark" "$@"
