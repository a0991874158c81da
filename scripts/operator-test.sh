#!/usr/bin/env bash
# Runs the README's path from a fresh Debian machine to a service behind nginx (the blocks
# after `<!-- operator path -->` in "Running the service on a Debian machine") as written, in
# order, as one script, with tests/ops/systemctl first in PATH where systemd is not PID 1.
# Then, through nginx, it confirms the account the path signed up, uploads a MIDI file, waits
# for a worker to render it and downloads the audio. Whatever happened, it takes it all off
# the machine again. Runs as root (through sudo otherwise), after scripts/package-test.sh has
# made build/'s packages.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ "$(id -u)" -ne 0 ]; then exec sudo bash "$0" "$@"; fi

fail() {
  echo "operator-test: $*" >&2
  for log in /run/systemctl-double/*.log; do
    [ -f "$log" ] && tail -n 20 "$log" | sed "s|^|$(basename "$log"): |" >&2
  done
  exit 1
}
export PATH="$PWD/tests/ops:$PATH"
[ "$(command -v systemctl)" = "$PWD/tests/ops/systemctl" ] || fail "no systemctl double in PATH"
[ ! -d /run/systemd/system ] || fail "systemd runs here: the double would stand beside it"
[ -z "$(ss -Hltn '( sport = :80 or sport = :8080 )')" ] || fail "ports 80 and 8080 are taken"

work=$(mktemp -d)
chmod 755 "$work"
cp build/tonvert-service_*.deb "$work/" || fail "no package in build/: run package-test.sh"
version=$(pg_lsclusters --no-header | awk '$2 == "main" { print $1 }')
cluster_was_down=$(pg_ctlcluster "$version" main status >/dev/null || echo yes)
default_site=$(readlink /etc/nginx/sites-enabled/default || true)

# Each step is tried whatever the one before did; a step that fails fails the test.
take_down() {
  local status=$? broken=""
  systemctl stop tonvert-render-worker@1 tonvert-render-worker@2 tonvert-service nginx ||
    broken+=" units"
  if pg_ctlcluster "$version" main status >/dev/null; then
    runuser -u postgres -- dropdb --if-exists tonvert || broken+=" database"
    runuser -u postgres -- dropuser --if-exists tonvert || broken+=" user"
    [ -z "$cluster_was_down" ] || pg_ctlcluster "$version" main stop || broken+=" cluster"
  fi
  rm -f /etc/nginx/sites-enabled/tonvert.conf
  [ -z "$default_site" ] || ln -sfn "$default_site" /etc/nginx/sites-enabled/default
  rm -rf /etc/systemd/system/tonvert-service.service.d \
    /etc/systemd/system/tonvert-render-worker@.service.d /etc/tonvert /var/lib/tonvert \
    /run/systemctl-double "$work"
  [ ! -d /run/credentials ] || rmdir --ignore-fail-on-non-empty /run/credentials
  DEBIAN_FRONTEND=noninteractive apt-get purge -y tonvert-service >/dev/null || broken+=" package"
  [ -z "$broken" ] || { echo "operator-test: taking down failed:$broken" >&2 && exit 1; }
  exit "$status"
}
trap take_down EXIT

awk '/^<!-- operator path -->$/ { marked = 1; next }
     marked && /^```sh$/ { inside = 1; next }
     inside && /^```$/ { inside = 0; marked = 0; blocks++; next }
     inside { print }
     END { exit !blocks }' README.md >"$work/path.sh" || fail "no operator path in README.md"
(cd "$work" && bash -euo pipefail path.sh) || fail "the README's path failed"
echo "operator-test: the README's path ran"

base=http://127.0.0.1
[ "$(curl -fsS $base/healthz)" = ok ] || fail "/healthz through nginx"
[ "$(curl -fsS $base/readyz)" = ready ] || fail "/readyz through nginx"
mail=$(ls /var/lib/tonvert/outbox/*.eml) || fail "no sign-up mail in the front's outbox"
user=$(tr -d '\r' <"$mail" | sed -n 's/^To: <\(.*\)>$/\1/p')
password=$(tr -d '\r' <"$mail" | sed -n 's/^    \([A-Za-z0-9]\{10\}\)$/\1/p')
ask() {
  curl -fsS -G "$base/cgi-bin/wmn.pl" --data-urlencode "UID=$user" \
    --data-urlencode "PWD=$password" -d LNG=us -d VER=1.0 "$@"
}
[ "$(ask -d CMD=confirm)" = "!VAL confirmed" ] || fail "confirming $user failed"
reply=$(curl -fsS "$base/cgi-bin/wmn.pl" -F "UID=$user" -F "PWD=$password" -F LNG=us \
  -F VER=1.0 -F CMD=submitmidi -F PRM=MP3,128,44100,C,2 -F FNM=Chorale.mid \
  -F BIN=@samples/Chorale.mid)
[[ $reply == "!VAL "* ]] || fail "the upload answered: $reply"
audio=""
for _ in $(seq 120); do
  audio=$(ask -d CMD=listaudio | tr -d '\r' | sed -n '2s/\t.*//p')
  [ -z "$audio" ] || break
  sleep 0.5
done
[ -n "$audio" ] || fail "no render listed within a minute"
ask -d CMD=getaudio --data-urlencode "FNM=$audio" -o "$work/audio"
magic=$(od -An -tx1 -N3 "$work/audio" | tr -d ' \n')
[[ $magic == 494433 || $magic == ff[ef]* ]] || fail "$audio is no MP3: starts with $magic"
ls /var/lib/tonvert/worker-*/outbox/*.eml >/dev/null || fail "no mail from a worker"
# The front's metrics, read by Prometheus's own parser, counted what went through nginx.
curl -fsS http://127.0.0.1:9464/metrics >"$work/metrics" || fail "no metrics from the front"
/usr/bin/python3 - "$work/metrics" <<'EOF_PY' || fail "the front's metrics do not count the path"
import sys
from prometheus_client.parser import text_string_to_metric_families

counted = {}
with open(sys.argv[1], encoding="utf-8") as text:
    for family in text_string_to_metric_families(text.read()):
        for sample in family.samples:
            if sample.name == "tonvert_requests_total":
                key = (sample.labels["command"], sample.labels["code"])
                counted[key] = counted.get(key, 0) + sample.value
            elif sample.name == "tonvert_queue_jobs":
                counted[("queue", sample.labels["state"])] = sample.value
wanted = {("signup", "ok"): 1, ("confirm", "ok"): 1, ("submitmidi", "ok"): 1,
          ("getaudio", "ok"): 1, ("queue", "waiting"): 0, ("queue", "rendering"): 0}
wrong = {key: counted.get(key) for key, value in wanted.items() if counted.get(key) != value}
print("operator-test: metrics", "as counted" if not wrong else "wrong: %s" % wrong)
sys.exit(1 if wrong else 0)
EOF_PY
echo "operator-test: passed ($audio rendered by a worker, downloaded through nginx)"
