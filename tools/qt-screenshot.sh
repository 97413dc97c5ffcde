#!/usr/bin/env bash
# Runs the desktop demo under a virtual X server and saves screenshots of it
# in docs/: the customers sorted by name, a refused change in its message
# box, and the filter. Needs a build with Qt (cmake --preset default).
set -euo pipefail
cd "$(dirname "$0")/.."
demo=${1:-build/default/examples/txlib_qt_demo}
[ -x "$demo" ] || { echo "no demo program at $demo (build txlib_qt_demo first)" >&2; exit 2; }
missing=()
for p in xvfb imagemagick fonts-dejavu-core; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

display=:${TXLIB_XVFB_DISPLAY:-93}
Xvfb "$display" -screen 0 900x500x24 >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb' EXIT
sleep 2
shoot() {  # name, demo options...
  local name=$1; shift
  DISPLAY=$display QT_QPA_PLATFORM=xcb "$demo" --seed --sort --quit-after 5000 "$@" &
  local pid=$!
  sleep 4
  DISPLAY=$display import -window root -crop 820x420+0+0 +repage "docs/qt-$name.png"
  wait "$pid"
  echo "docs/qt-$name.png"
}
mkdir -p docs
shoot grid
shoot refusal --refuse
shoot filter --filter sk
