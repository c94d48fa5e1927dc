#!/bin/sh
# The window while a structure of about 3000 nodes loads from its PDB file (4JSV, 2750 nodes, by
# default): the longest gap between two drawn frames, the window thread's longest pause, and the
# time from a resize during the eigen solution to a frame of the new size. Under Xvfb (Mesa's
# llvmpipe without a GPU).
#   bench/load-responsiveness.sh BUILD [FILE.pdb] [--rc Å]
set -eu
build=${1:?usage: bench/load-responsiveness.sh BUILD [FILE.pdb] [--rc Å]}
shift
file=${1:-$(dirname "$0")/../../shared/data/pdb/4jsv.pdb}
[ $# -gt 0 ] && shift
if [ ! -f "$file" ]; then
  echo "load-responsiveness: $file is not here (the shared structures sit beside the checkout)" >&2
  exit 0
fi
if [ ! -x "$build/bin/load_responsiveness_probe" ]; then
  cmake --build "$build" --target load_responsiveness_probe
fi
exec xvfb-run -a -s "-screen 0 1280x1024x24" env QT_XCB_GL_INTEGRATION=xcb_glx \
  "$build/bin/load_responsiveness_probe" "$file" "$@"
