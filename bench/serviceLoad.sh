#!/usr/bin/env bash
# serviceLoad.sh SERVICE_BINARY [--connections N] [--seconds S] [--threads T]
#     Starts the reference service on a free loopback port with a fresh data folder, makes a
#     confirmed account through its own requests, and loads it with wrk:
#       - "listmidi" of that account (the password is checked on every request) on N kept-alive
#         connections (16 by default): requests per second, and the cores the service used;
#       - the home page on one kept-alive connection: the latency of a request that does no
#         work, where a reply held back for the client's delayed acknowledgement shows as 40 ms.
#     Nothing runs as a test; the figures are printed.
set -euo pipefail

service=${1:?usage: serviceLoad.sh SERVICE_BINARY [--connections N] [--seconds S] [--threads T]}
shift
connections=16
seconds=10
threads=2
while [ $# -gt 0 ]; do
  case "$1" in
    --connections) connections=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --threads) threads=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
command -v wrk >/dev/null || { echo "wrk is missing: run scripts/install-deps.sh" >&2; exit 1; }

data=$(mktemp -d)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$service" --listen 127.0.0.1:"$port" --data "$data" --workers 1 >"$data/service.log" 2>&1 &
pid=$!
trap 'kill $pid 2>/dev/null; wait $pid 2>/dev/null; rm -rf "$data"' EXIT
base="http://127.0.0.1:$port/cgi-bin/wmn.pl?LNG=us&VER=1.0"
for _ in $(seq 100); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.05; done

user=load@example.org
[ "$(curl -s "$base&UID=$user&CMD=signup")" = "!VAL signed up" ] || { echo "sign-up failed" >&2; exit 1; }
password=$(grep -aoE '^    [A-Za-z0-9]{10}' "$data"/outbox/*.eml | tr -d ' \r' | head -1)
[ "$(curl -s "$base&UID=$user&PWD=$password&CMD=confirm")" = "!VAL confirmed" ] ||
  { echo "confirming failed" >&2; exit 1; }
list="$base&UID=$user&PWD=$password&CMD=listmidi"
[ "$(curl -s "$list" | head -c 6)" = '!VAL 0' ] || { echo "listmidi failed" >&2; exit 1; }

ticks() { awk '{print $14 + $15}' /proc/"$pid"/stat; }
hz=$(getconf CLK_TCK)

echo "== listmidi: $connections connections, $threads wrk threads, ${seconds}s"
before=$(ticks)
start=$(date +%s.%N)
wrk -t"$threads" -c"$connections" -d"${seconds}s" --latency "$list" | sed 's/^/   /'
end=$(date +%s.%N)
after=$(ticks)
awk -v t=$((after - before)) -v hz="$hz" -v s="$start" -v e="$end" \
  'BEGIN { printf "   service CPU: %.2f cores busy on average (%.1f s of CPU in %.1f s)\n", t / hz / (e - s), t / hz, e - s }'

echo "== home page: 1 connection, 1 wrk thread, 3s"
wrk -t1 -c1 -d3s --latency "http://127.0.0.1:$port/" | sed 's/^/   /'
