#!/usr/bin/env bash
# Installs the Debian packages that building, the tests (with the servers they
# start), the benchmarks, the analyzer simulator, the fuzzers and the headless
# run need. Does nothing when all of them are present. Runs as root, or
# through sudo.
set -euo pipefail

PACKAGES=(
  # build
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-serialport-dev libqt6opengl6-dev qt6-qpa-plugins
  libqcustomplot-dev libqcustomplot2.1-qt6
  libsqlite3-dev
  # SHA-256 of the audit trail, Argon2id of the accounts' passwords
  libsodium-dev
  # publishing: MQTT client library, PostgreSQL client library
  libmosquitto-dev libpq-dev
  # tests, benchmarks, simulator, fuzzing
  googletest libgtest-dev libgmock-dev libbenchmark-dev libmodbus-dev
  clang libclang-rt-14-dev
  # servers the publishing tests, the end-to-end tests and the site benchmark
  # start: broker (with mosquitto_passwd), database, test CA; the broker's
  # command-line clients for README's service example
  mosquitto postgresql openssl mosquitto-clients
  # the audit tests change the results database as an intruder would, with its shell
  sqlite3
  # headless run, screenshots, print checks, the midnight check
  xvfb xauth openbox imagemagick poppler-utils faketime xdotool
  fonts-dejavu-core fonts-liberation
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=()
[ "$(id -u)" -ne 0 ] && SUDO=(sudo)
echo "Installing: ${missing[*]}"
"${SUDO[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${SUDO[@]}" apt-get install -y -qq "${missing[@]}"
