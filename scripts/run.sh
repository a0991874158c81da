#!/usr/bin/env bash
# Installs what Tonvert needs, builds it and starts the client from its portable folder:
# build/Tonvert/ holds the program with its MIDI/, Audio/ and Temp/ folders beside it. The
# reference service runs on loopback as tonvert.localhost:8080 (the client's default host)
# with its data in build/Tonvert/ServiceData/ (mailed passwords land in its outbox/), and
# stops when the client closes. Without a display the client runs in a virtual one (Xvfb)
# and screenshots are taken. With --account ADDRESS a ready account is made for ADDRESS on the
# local service (signed up, confirmed, stored in the settings file) before the client starts.
set -euo pipefail
cd "$(dirname "$0")/.."

account=""
if [ "${1:-}" = "--account" ] && [ -n "${2:-}" ]; then account="$2"; fi

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j2 --target tonvert tonvert_manual tonvert-service tonvert-demo-account

portable=build/Tonvert
mkdir -p "$portable/Audio" "$portable/Temp"
if [ ! -d "$portable/MIDI" ]; then
  mkdir -p "$portable/MIDI"
  cp samples/*.mid samples/*.rmi "$portable/MIDI/"
fi

build/server/tonvert-service --listen 127.0.0.1:8080 --data "$portable/ServiceData" &
service=$!
# The client closes first, as its close box would (it keeps its layout on SIGTERM), then
# what it ran on.
stop_all() {
  if [ -n "${client:-}" ]; then
    kill -TERM "$client" 2>/dev/null || true
    wait "$client" 2>/dev/null || true
  fi
  kill "$service" 2>/dev/null || true
  if [ -n "${wm:-}" ]; then kill "$wm" 2>/dev/null || true; fi
  if [ -n "${xvfb:-}" ]; then kill "$xvfb" 2>/dev/null || true; fi
}
trap stop_all EXIT
trap 'exit 130' INT TERM
for _ in $(seq 50); do
  curl -s -o /dev/null http://127.0.0.1:8080/ && break
  sleep 0.1
done
echo "The service's mails (passwords) are written to $portable/ServiceData/outbox/."
# An account made on an earlier run is kept.
if [ -n "$account" ] && ! grep -qs '^\[Account\]' "$portable/tonvert.INI"; then
  build/tools/tonvert-demo-account tonvert.localhost:8080 "$account" \
    "$portable/ServiceData/outbox" "$portable/tonvert.INI"
fi

if [ -z "${DISPLAY:-}" ]; then
  display=":99"
  # -noreset: without it the server resets when its last client leaves, and a client that
  # connects right after the readiness probe can be refused.
  Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb=$!
  export DISPLAY="$display"
  for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
  # A small window manager gives the windows title bars and close boxes.
  openbox >/dev/null 2>&1 &
  wm=$!
  "$portable/tonvert" &
  client=$!
  sleep 2
  import -window root build/screenshot-splash.png
  sleep 5
  import -window root build/screenshot.png
  echo "Tonvert runs in the virtual display $DISPLAY (screenshots: build/screenshot-splash.png, build/screenshot.png)."
  if command -v x11vnc >/dev/null; then
    echo "To see it: x11vnc -display $DISPLAY -localhost -nopw, then a VNC viewer on localhost:5900."
  else
    echo "To see it, install x11vnc and run: x11vnc -display $DISPLAY -localhost -nopw, then a VNC viewer on localhost:5900."
  fi
  echo "Press Ctrl+C to stop it (the window closes as by its close box and keeps its layout)."
  wait $client
  client=""
else
  "$portable/tonvert"
fi
