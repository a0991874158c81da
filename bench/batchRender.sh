#!/usr/bin/env bash
# batchRender.sh RENDER_BINARY [--runs N] [--jobs N] [--folder DIR]
#     A folder of real music (the MIDI files of Debian's openttd-openmsx unless --folder says
#     otherwise) rendered to WAV, 44.1 kHz stereo with the same soundfont, three ways:
#       (a) tonvert-render --jobs N --out DIR FOLDER (two passes: it also brings each file to
#           its loudness)
#       (b) the fluidsynth command line on one file after another
#       (c) the same fluidsynth command, N at once (xargs -P N)
#     The three take turns, N runs each (3 by default); the medians of wall and CPU seconds
#     are printed, and the speeds of (a) against (b) and (c). Nothing runs as a test.
set -euo pipefail

usage="usage: batchRender.sh RENDER_BINARY [--runs N] [--jobs N] [--folder DIR]"
render=${1:?$usage}
shift
runs=3
jobs=2
folder=""
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --folder) folder=$2; shift 2 ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
command -v fluidsynth >/dev/null || { echo "fluidsynth is missing: run scripts/install-deps.sh" >&2; exit 1; }
soundfont=/usr/share/sounds/sf2/TimGM6mb.sf2 # the renderer's default

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
if [ -z "$folder" ]; then
  folder=$work/midi
  mkdir -p "$folder"
  dpkg -L openttd-openmsx | grep -i '\.mid$' | xargs -I{} cp {} "$folder/"
fi
count=$(find "$folder" -maxdepth 1 -iname '*.mid' | wc -l)
[ "$count" -gt 0 ] || { echo "no .mid files in $folder" >&2; exit 1; }

# One fluidsynth render as its command line does it: $1 to the folder $0, as NAME.wav.
fluid='exec fluidsynth -ni -q -r 44100 -F "$0/$(basename "$1" .mid).wav" '"$soundfont"' "$1"'
midi() { find "$folder" -maxdepth 1 -iname '*.mid' -print0 | sort -z; }
way_a() { "$render" --jobs "$jobs" --out "$1" "$folder" --preset WAV,1378,44100,C,2; }
way_b() { midi | xargs -0 -n 1 sh -c "$fluid" "$1"; }
way_c() { midi | xargs -0 -n 1 -P "$jobs" sh -c "$fluid" "$1"; }

# Wall and CPU seconds (user + system, its processes' too) of one run of a way.
declare -A wall cpu
TIMEFORMAT='%R %U %S'
timed() {
  local out=$work/out
  rm -rf "$out" && mkdir -p "$out"
  { time "$1" "$out" >/dev/null 2>"$work/log"; } 2>"$work/time"
  [ "$(find "$out" -name '*.wav' | wc -l)" -eq "$count" ] ||
    { echo "$1 wrote too few files:" >&2; cat "$work/log" >&2; exit 1; }
  read -r w u s <"$work/time"
  wall[$1]+="$w "
  cpu[$1]+="$(awk "BEGIN {print $u + $s}") "
}

median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {print NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

for ((run = 1; run <= runs; ++run)); do
  for way in way_a way_b way_c; do timed "$way"; done
done

echo "$count files from $folder, WAV 44100 Hz stereo, $soundfont, median of $runs runs"
for way in way_a way_b way_c; do
  printf '%s  wall %7.2f s  cpu %7.2f s   (%s)\n' "$way" "$(median <<<"${wall[$way]}")" \
    "$(median <<<"${cpu[$way]}")" "${wall[$way]% }"
done
a=$(median <<<"${wall[way_a]}")
b=$(median <<<"${wall[way_b]}")
c=$(median <<<"${wall[way_c]}")
awk "BEGIN {printf \"(a) against (b): %.2fx wall; against (c): %.2fx wall\\n\", $b / $a, $c / $a}"
