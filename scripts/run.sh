#!/usr/bin/env bash
# Installs what Tonvert needs, builds it and starts the client from its portable folder:
# build/Tonvert/ holds the program with its MIDI/, Audio/ and Temp/ folders beside it.
# Without a display the client runs in a virtual one (Xvfb) and a screenshot is taken.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target tonvert

portable=build/Tonvert
mkdir -p "$portable/Audio" "$portable/Temp"
if [ ! -d "$portable/MIDI" ]; then
  mkdir -p "$portable/MIDI"
  cp samples/*.mid samples/*.rmi "$portable/MIDI/"
fi

if [ -z "${DISPLAY:-}" ]; then
  display=":99"
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  trap 'kill $xvfb 2>/dev/null || true' EXIT
  export DISPLAY="$display"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  "$portable/tonvert" &
  client=$!
  sleep 2
  import -window root build/screenshot-splash.png
  sleep 5
  import -window root build/screenshot.png
  echo "Tonvert runs in the virtual display $DISPLAY (screenshots: build/screenshot-splash.png, build/screenshot.png)."
  echo "Press Ctrl+C to stop it."
  wait $client
else
  exec "$portable/tonvert"
fi
