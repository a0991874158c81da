#!/usr/bin/env bash
# metricsCost.sh SERVICE_BINARY [--runs N] [--seconds S] [--connections C]
#     What the metrics cost the request path. Starts the reference service twice on free
#     loopback ports, each with a fresh data folder and a confirmed account: A without metrics,
#     B with --metrics-listen. Then loads them in turn, A B A B ... N times each (3), with wrk
#     asking "viewfunds" (the password from the cache, one read of the store) on C kept-alive
#     connections (16) for S seconds (10). Prints each run's requests a second and the
#     service's CPU time per request, then the medians and B against A. Nothing runs as a test.
set -euo pipefail

service=${1:?usage: metricsCost.sh SERVICE_BINARY [--runs N] [--seconds S] [--connections C]}
shift
runs=3
seconds=10
connections=16
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    --connections) connections=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
command -v wrk >/dev/null || { echo "wrk is missing: run scripts/install-deps.sh" >&2; exit 1; }

work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
freePort() {
  python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# start NAME [SERVICE OPTIONS...]: a service with a confirmed account; sets url_NAME, pid_NAME.
start() {
  local name=$1 port
  shift
  port=$(freePort)
  mkdir "$work/$name"
  "$service" --listen 127.0.0.1:"$port" --data "$work/$name" --workers 1 "$@" \
    >"$work/$name.log" 2>&1 &
  pids+=($!)
  printf -v "pid_$name" %s $!
  local base="http://127.0.0.1:$port/cgi-bin/wmn.pl?LNG=us&VER=1.0" user=load@example.org
  for _ in $(seq 100); do curl -s -o /dev/null "http://127.0.0.1:$port/" && break; sleep 0.05; done
  [ "$(curl -s "$base&UID=$user&CMD=signup")" = "!VAL signed up" ] || { echo "sign-up failed" >&2; exit 1; }
  local password
  password=$(grep -aoE '^    [A-Za-z0-9]{10}' "$work/$name"/outbox/*.eml | tr -d ' \r' | head -1)
  [ "$(curl -s "$base&UID=$user&PWD=$password&CMD=confirm")" = "!VAL confirmed" ] ||
    { echo "confirming failed" >&2; exit 1; }
  printf -v "url_$name" %s "$base&UID=$user&PWD=$password&CMD=viewfunds"
}

metricsPort=$(freePort)
start A
start B --metrics-listen 127.0.0.1:"$metricsPort"
ticks() { awk '{print $14 + $15}' /proc/"$1"/stat; }
hz=$(getconf CLK_TCK)

# load NAME: one wrk run; appends "requests/s CPU-microseconds/request" to $work/NAME.runs.
load() {
  local name=$1 url pid before after out requests
  url=$(eval echo "\$url_$name")
  pid=$(eval echo "\$pid_$name")
  before=$(ticks "$pid")
  out=$(wrk -t2 -c"$connections" -d"${seconds}s" "$url")
  after=$(ticks "$pid")
  requests=$(awk '/requests in/ {print $1}' <<<"$out")
  awk -v r="$requests" -v s="$seconds" -v t=$((after - before)) -v hz="$hz" \
    'BEGIN { printf "%.0f %.2f\n", r / s, t / hz * 1e6 / r }' | tee -a "$work/$name.runs" |
    awk -v n="$name" '{ printf "   %s: %s requests/s, %s us of service CPU a request\n", n, $1, $2 }'
}

echo "== viewfunds: $connections connections, ${seconds}s a run, $runs runs each, A without metrics, B with"
for _ in $(seq "$runs"); do
  load A
  load B
done
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
for column in 1 2; do
  a=$(cut -d' ' -f"$column" "$work/A.runs" | median)
  b=$(cut -d' ' -f"$column" "$work/B.runs" | median)
  awk -v a="$a" -v b="$b" -v what="$([ "$column" = 1 ] && echo "requests/s" || echo "us of CPU a request")" \
    'BEGIN { printf "   median %s: A %s, B %s, B against A %+.1f%%\n", what, a, b, (b - a) / a * 100 }'
done
counted=$(curl -s "http://127.0.0.1:$metricsPort/metrics" |
  awk '/^tonvert_requests_total\{.*command="viewfunds"/ { n += $2 } END { print n + 0 }')
echo "   B counted $counted viewfunds requests"
