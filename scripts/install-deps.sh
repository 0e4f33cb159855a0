#!/usr/bin/env bash
# Installs the Debian packages (and the web view's npm packages) that building, the tests (with the servers they
# start), the benchmarks, the analyzer simulator, the fuzzers and the headless
# run need. Does nothing when all of them are present. Runs as root, or
# through sudo.
set -euo pipefail

PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config lld
  qt6-base-dev qt6-serialport-dev libqt6opengl6-dev qt6-qpa-plugins
  # Qt's own dialogs and messages in Russian
  qt6-translations-l10n
  libqcustomplot-dev libqcustomplot2.1-qt6
  libsqlite3-dev
  # the web view: HTTP server (it needs the WebSockets module's files); the
  # web's and the accounts' password hashes (Argon2id), the audit trail's SHA-256
  qt6-httpserver-dev qt6-websockets-dev libsodium-dev
  # publishing: MQTT client library, PostgreSQL client library, OpenSSL's
  # headers (where the MQTT client's TLS finds the system's authorities)
  libmosquitto-dev libpq-dev libssl-dev
  # tests, benchmarks, simulator, fuzzing
  googletest libgtest-dev libgmock-dev libbenchmark-dev libmodbus-dev
  # the independent Modbus TCP client of the Modbus server's tests
  python3-pymodbus
  clang libclang-rt-14-dev
  # servers the publishing tests, the end-to-end tests and the site benchmark
  # start: broker (with mosquitto_passwd), database, test CA; the broker's
  # command-line clients for README's service example
  mosquitto postgresql openssl mosquitto-clients
  # the web view's browser tests: Debian's chromium, driven by playwright-core from npm
  chromium
  # the sqlite3 shell: the outside writer of the database lock tests, and the
  # audit tests' intruder who changes the results database
  sqlite3
  # headless run, screenshots, print checks, the midnight check
  xvfb xauth openbox imagemagick poppler-utils faketime xdotool
  fonts-dejavu-core fonts-liberation
  # the Debian package (scripts/package.sh) and its test: shared-library
  # dependencies, lintian, the desktop entry's and the unit's checks (with
  # the manual page the unit names), the maintainer scripts' user
  dpkg-dev file lintian desktop-file-utils systemd man-db adduser
)

# Node.js and npm for the web view's npm packages: Debian's, unless the
# machine has them already (a Node.js of its own brings its npm).
if ! command -v npm >/dev/null 2>&1; then
  PACKAGES+=(nodejs npm)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=()
  [ "$(id -u)" -ne 0 ] && SUDO=(sudo)
  echo "Installing: ${missing[*]}"
  "${SUDO[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq "${missing[@]}"
fi

# The web view's npm packages (uPlot, built into the program; playwright-core,
# for the browser tests), exactly as package-lock.json has them.
web_dir="$(dirname "$0")/../web"
if [ ! -f "$web_dir/node_modules/.package-lock.json" ] || [ "$web_dir/package-lock.json" -nt "$web_dir/node_modules/.package-lock.json" ]; then
  (cd "$web_dir" && npm ci --no-audit --no-fund)
fi
