#!/bin/sh
# korvex: the Korvex analyzer program as installed. The program keeps its
# settings, results database and daily logs beside itself; installed, that is
# a directory of the user's own, unless --dir names another.
set -e
program=/usr/lib/korvex/korvex
for argument in "$@"; do
  case $argument in
    --dir | --version) exec "$program" "$@" ;;
  esac
done
directory=${XDG_DATA_HOME:-$HOME/.local/share}/korvex
mkdir -p "$directory"
exec "$program" --dir "$directory" "$@"
