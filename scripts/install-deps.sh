#!/usr/bin/env bash
# Installs every Debian package that Tonvert's build, tests and run need.
# Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  # build
  build-essential cmake pkg-config git
  # client: Qt 6 Widgets (brings QtTest and the platform plugins)
  qt6-base-dev libgl-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev
  # the MIDI reader's peer in the play-time benchmark, and real music for it to time
  libsmf-dev openttd-openmsx
  # HTTP load on the reference service (its benchmark)
  wrk
  # the reference service behind a buffering proxy, as deploy/nginx/tonvert.conf sets it up
  nginx
  # network layer: libcurl; test servers (HTTP in-process, a proxy, an FTP server) and
  # name lookups of *.localhost for programs that use the system resolver
  libcurl4-openssl-dev libcpp-httplib-dev tinyproxy python3-pyftpdlib libnss-myhostname curl
  # the manual: reading compiled HTML help files; compiling the test manual (chmcmd)
  libchm-dev fp-utils-3.2.2
  # the reference service: its database, password hashing (Argon2id; PBKDF2 of older hashes
  # and the keyed hashes of its credentials cache)
  libsqlite3-dev libssl-dev libargon2-dev
  # the service's shared store for fronts and render workers on several machines (libpq),
  # and a server of their own for its tests and benchmark
  postgresql libpq-dev
  # the operator's metrics: the Prometheus client library (its /metrics endpoint), and its
  # Python parser for the test that reads what the endpoint serves
  prometheus-cpp-dev libprometheus-cpp-core1.0 libprometheus-cpp-pull1.0 python3-prometheus-client
  # rendering: synthesis with a General MIDI soundfont, the four encoders, loudness
  libfluidsynth-dev timgm6mb-soundfont libmp3lame-dev libvorbis-dev libavcodec-dev
  libavformat-dev libavutil-dev libsndfile1-dev libebur128-dev
  # checking rendered files in tests (ffprobe); the render benchmark's peers
  ffmpeg fluidsynth lame
  # the service's pages in a real browser: headless Chromium driven through selenium
  chromium chromium-driver python3-selenium
  # data-race checks of the network layer; the fuzz targets (libFuzzer, ASan, UBSan)
  clang libclang-rt-14-dev
  # a font for windows drawn off screen and under Xvfb; time zones for the clock-time tests
  fonts-dejavu-core tzdata
  # running the client in a virtual display (run script, GUI checks); the journey test reads
  # the messages' texts off the clipboard
  xvfb xauth x11-utils xdotool imagemagick openbox xclip
  # a session bus and a notification service of the journey test's own
  dbus python3-dbus python3-gi
  # opening web pages and files from the client on a desktop
  xdg-utils
  # the manual: chmcmd compiles it to CHM; the manual's test reads the CHM back
  fp-utils-3.2.2 libchm-bin python3-chm
  # formatting
  clang-format
  # the application icon rendered from its SVG at build time; checking the desktop entry
  librsvg2-bin desktop-file-utils
  # the Debian packages: CPack's dependencies from dpkg-shlibdeps (dpkg-dev, file), lintian,
  # the units checked by systemd-analyze (systemd); for the README's operator path, processes
  # (ps) for the stand-in of systemctl and listening ports (ss)
  dpkg-dev file lintian systemd procps iproute2
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update
  $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
echo "install-deps: all packages present"
