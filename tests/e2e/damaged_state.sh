#!/usr/bin/env bash
# End to end through the executable: stored locks and settings that are torn or cannot be read
# are told on standard error, `clean --yes` moves nothing while a safeguard may be missing, and
# no damaged or unreadable file is written over.
#   damaged_state.sh VELMO_PRISTEL SAMPLES_DIR
set -euo pipefail
source "$(dirname "$0")/home.sh" "$@"
photos=$HOME/photos
copy_samples
locks=$XDG_DATA_HOME/velmo-pristel/PhotoCleanup/keep-locks.json
settings=$XDG_CONFIG_HOME/velmo-pristel/settings.json
locked="$photos/Backup/Old laptop/IMG_0101.jpg"

# The lock on a copy that would go to the Trash survives a lock file torn after it.
mkdir -p "$(dirname "$locks")"
printf '[{"path":"%s","created":1},{"path":"%s/Backup/Old la' "$locked" "$photos" >"$locks"
status=0
"$program" clean --yes "$photos" >"$work/torn.txt" 2>"$work/torn.err" || status=$?
[[ $status == 3 ]] || fail "clean --yes with a torn lock file exited $status"
grep -q 'was damaged: 1 lock could be read' "$work/torn.err" || fail "no notice: $(cat "$work/torn.err")"
[[ -e $locked && -e "$photos/Backup/Old laptop/IMG_0102.jpg" ]] || fail "a picture moved although the locks were torn"
ls "$(dirname "$locks")" | grep -q '^keep-locks.json.damaged-' || fail "the torn file was not kept aside"
"$program" clean --yes "$photos" >"$work/after.txt" 2>&1 || fail "clean after the torn file exited $?"
[[ -e $locked ]] || fail "the locked copy went to the Trash"
[[ ! -e "$photos/Backup/Old laptop/IMG_0102.jpg" ]] || fail "the unlocked copy stayed: $(cat "$work/after.txt")"

# Settings that are there but cannot be read are told and never written over. Root reads every
# file, so the program runs as "nobody" then.
as_reader=()
if [[ $(id -u) == 0 ]]; then
  command -v setpriv >/dev/null || { echo "setpriv missing: unreadable settings not checked"; exit 0; }
  as_reader=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  chmod -R a+rwX "$work"
fi
mkdir -p "$(dirname "$settings")"
printf '{"photoCleanup.protected": ["%s/Backup"]}\n' "$photos" >"$settings"
chmod 0 "$settings"
status=0
"${as_reader[@]}" "$program" clean --yes "$photos" >"$work/unreadable.txt" 2>"$work/unreadable.err" || status=$?
[[ $status == 3 ]] || fail "clean --yes with unreadable settings exited $status: $(cat "$work/unreadable.err")"
grep -q 'settings.json could not be read (Permission denied)' "$work/unreadable.err" ||
  fail "no notice: $(cat "$work/unreadable.err")"
chmod 600 "$settings"
grep -q '/Backup"\]' "$settings" || fail "the unreadable settings were written over: $(cat "$settings")"
echo "damaged and unreadable state: ok"
