#!/usr/bin/env bash
# Without a display the window cannot open: the program says so, names the terminal commands and
# exits with status 2, whatever folders were given; with no folders too.
set -uo pipefail
source "$(dirname "$0")/home.sh"
for arguments in "" "$samples"; do
  env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$program" $arguments >"$work/out" 2>"$work/err" </dev/null
  status=$?
  [[ $status -eq 2 ]] || fail "status $status for '$arguments'"
  [[ ! -s "$work/out" ]] || fail "standard output is not empty"
  grep -q "no display" "$work/err" || fail "no word of the missing display: $(cat "$work/err")"
  grep -q -- "--similar" "$work/err" && grep -q "clean" "$work/err" || fail "the terminal commands are not named"
done
[[ ! -e "$XDG_CONFIG_HOME/velmo-pristel" ]] || fail "settings were written without a window"
echo "window without display: ok"
