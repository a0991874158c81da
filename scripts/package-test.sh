#!/usr/bin/env bash
# Builds the Debian packages of build/ and meets them as an administrator would: lintian finds
# no error, systemd-analyze nothing to say of the installed units, the installed service
# answers when started as its unit starts it, the installed program keeps its settings in its
# user's ~/.config/tonvert, and removing the packages takes the programs away. It installs
# and removes the packages on this machine (CI runs it as root; otherwise through sudo).
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
units=/usr/lib/systemd/system
work=$(mktemp -d)
chmod 755 "$work"
service="" xvfb="" client=""
stop_all() {
  for pid in $client $service $xvfb; do kill "$pid" 2>/dev/null || true; done
  $SUDO rm -rf "$work"
}
trap stop_all EXIT
fail() {
  echo "package-test: $*" >&2
  exit 1
}

rm -f build/*.deb
cmake --build build -j2 --target package
debs=("$PWD"/build/tonvert_*.deb "$PWD"/build/tonvert-service_*.deb)
ls -l "${debs[@]}"
lintian --fail-on error --display-level '>=warning' --show-overrides "${debs[@]}" ||
  fail "lintian found errors"

$SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y --reinstall "${debs[@]}" >/dev/null
verified=$(systemd-analyze verify "$units/tonvert-service.service" \
  "$units/tonvert-render-worker@1.service" 2>&1) || fail "systemd-analyze verify: $verified"
[ -z "$verified" ] || fail "systemd-analyze verify: $verified"

# The service as its unit starts it (ExecStart with the options of /etc/default, the state
# folder a fresh one) on a free port, as a user of no rights.
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
mkdir "$work/data"
$SUDO chown nobody:nogroup "$work/data"
command=$(sed -n 's/^ExecStart=//p' "$units/tonvert-service.service")
# shellcheck disable=SC1091 # the installed file
options=$(. /etc/default/tonvert-service && echo "$TONVERT_SERVICE_OPTIONS")
command=${command//%S\/tonvert/$work/data}
command=${command//\$TONVERT_SERVICE_OPTIONS/$options}
command=$(sed "s/--listen [^ ]*/--listen 127.0.0.1:$port/" <<<"$command")
# shellcheck disable=SC2086 # the unit splits its command line at blanks too
$SUDO setpriv --reuid=nobody --regid=nogroup --clear-groups $command >"$work/service.log" 2>&1 &
service=$!
base="http://127.0.0.1:$port"
for _ in $(seq 100); do curl -sf "$base/healthz" >/dev/null && break; sleep 0.1; done
[ "$(curl -sf "$base/healthz")" = ok ] || fail "no /healthz answer: $(cat "$work/service.log")"
[ "$(curl -sf "$base/readyz")" = ready ] || fail "not ready: $(curl -s "$base/readyz")"
reply=$(curl -sf "$base/cgi-bin/wmn.pl?LNG=us&VER=1.0&UID=ci@example.org&CMD=signup")
[ "$reply" = "!VAL signed up" ] || fail "sign-up answered: $reply"
ls "$work/data/outbox/"*.eml >/dev/null || fail "no mail in the data folder's outbox"
kill "$service"
wait "$service" || true
service=""
echo "package-test: the installed service answers"

# The installed program in a virtual display, with a fresh home and no XDG variables.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
DISPLAY=":$(head -n 1 "$work/display")"
export DISPLAY
mkdir "$work/home"
env -u XDG_CONFIG_HOME -u XDG_DATA_HOME -u XDG_CACHE_HOME HOME="$work/home" \
  /usr/bin/tonvert >"$work/client.log" 2>&1 &
client=$!
for _ in $(seq 150); do xdotool search --name '^Tonvert$' >/dev/null 2>&1 && break; sleep 0.1; done
xdotool search --name '^Tonvert$' >/dev/null || fail "no window: $(cat "$work/client.log")"
# It closes on SIGTERM as by its close box, keeping its settings.
kill -TERM "$client"
wait "$client" || fail "the program ended with status $?: $(cat "$work/client.log")"
client=""
grep -q '^\[MainWindow\]' "$work/home/.config/tonvert/tonvert.INI" ||
  fail "no settings in ~/.config/tonvert/tonvert.INI"
[ -d "$work/home/.local/share/tonvert/MIDI" ] || fail "no ~/.local/share/tonvert/MIDI/"
[ ! -e /usr/bin/tonvert.INI ] || fail "settings beside the installed program"
echo "package-test: the installed program keeps its settings in ~/.config/tonvert"

$SUDO env DEBIAN_FRONTEND=noninteractive apt-get remove -y tonvert tonvert-service >/dev/null
for file in /usr/bin/tonvert /usr/bin/tonvert-service /usr/bin/tonvert-render-worker \
  /usr/bin/tonvert-render /usr/share/tonvert "$units/tonvert-service.service"; do
  [ ! -e "$file" ] || fail "$file is left after the removal"
done
# Removed, not purged: the administrator's options stay until a purge.
[ -f /etc/default/tonvert-service ] || fail "the removal took /etc/default/tonvert-service"
$SUDO dpkg --purge tonvert-service >/dev/null
[ ! -e /etc/default/tonvert-service ] || fail "the purge left /etc/default/tonvert-service"
echo "package-test: passed"
