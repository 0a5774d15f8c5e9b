#!/usr/bin/env bash
# Ctrl-C during `clean`, end to end: once the first picture has reached the Trash, SIGINT stops
# the cleanup after the picture being moved; the rest are recorded as not attempted, the report
# says so, the status is 1 and nothing is lost: every copy is in its folder or in the Trash, once.
# Put-back then restores the folder exactly.
#   tidy_interrupt.sh VELMO_PRISTEL SAMPLES_DIR
set -euo pipefail
source "$(dirname "$0")/home.sh" "$@"
photos=$HOME/photos trash=$XDG_DATA_HOME/Trash
mkdir -p "$photos"
cp "$samples/Pictures/Camera/2021-06-12/IMG_0101.jpg" "$photos/IMG_0101.jpg"
touch -d '2021-06-12 09:14:03' "$photos/IMG_0101.jpg" # the oldest: the one kept

for ((copies = 1; copies <= 300; copies++)); do cp "$photos/IMG_0101.jpg" "$photos/copy $copies.jpg"; done
copies=300
before=$(snapshot)

# Sends Ctrl-C to the process PID once the command given after it succeeds (or the process has
# ended, or two minutes have passed), waits for it and leaves its exit status in $status.
interrupt_when() {
    local pid=$1 i
    shift
    for ((i = 0; i < 12000; i++)); do
        "$@" >/dev/null 2>&1 && break
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.01
    done
    kill -INT "$pid" 2>/dev/null || true
    status=0
    wait "$pid" || status=$?
}

# The question's answer never comes: standard input is a FIFO this script holds open and never
# writes to (no process is left behind holding the test's output open).
mkfifo "$work/no-answer"
exec 3<>"$work/no-answer"

# Ctrl-C at the question moves nothing.
"$program" clean "$photos" <&3 >"$work/asked.txt" 2>&1 &
interrupt_when "$!" grep -q 'to the Trash? \[y/N\]' "$work/asked.txt"
[[ $status == 1 && "$(tail -1 "$work/asked.txt")" == "Nothing was moved." ]] ||
    fail "Ctrl-C at the question: status $status, $(tail -2 "$work/asked.txt")"

# Ctrl-C during the scan cancels it (the scan of 300 pictures takes a while; should it have ended
# already, the question is being asked, which moves nothing either).
"$program" clean "$photos" <&3 >"$work/scan.txt" 2>&1 &
pid=$!
# A background job of a script starts with SIGINT ignored, so a signal sent before the program
# takes it (a slow start, as under the sanitizers) would be lost: wait until SIGINT is blocked.
for ((i = 0; i < 3000; i++)); do
    mask=$(sed -n 's/^SigBlk:[[:space:]]*//p' "/proc/$pid/status" 2>/dev/null || true)
    [[ -n "$mask" ]] && (((16#$mask & 2) != 0)) && break
    sleep 0.01
done
sleep 0.1
kill -INT "$pid"
status=0
wait "$pid" || status=$?
[[ $status == 1 ]] || fail "Ctrl-C during the scan exited $status: $(tail -2 "$work/scan.txt")"
case "$(tail -1 "$work/scan.txt")" in
cancelled) ;;
*"Nothing was moved.") echo "the scan had ended before the signal" >&2 ;;
*) fail "Ctrl-C during the scan: $(tail -2 "$work/scan.txt")" ;;
esac
[[ "$(snapshot)" == "$before" && ! -e "$trash" ]] || fail "an interrupted scan or question changed something"
exec 3>&-

# The signal must land while pictures are still moving; a machine that moves them all before
# it does gets a larger plan, twice at most.
for plan in 300 1200 4800; do
    while ((copies < plan)); do
        copies=$((copies + 1))
        cp "$photos/IMG_0101.jpg" "$photos/copy $copies.jpg"
    done
    before=$(snapshot)
    "$program" clean --yes "$photos" >"$work/run.txt" 2>"$work/run.err" &
    interrupt_when "$!" compgen -G "$trash/files/*"
    if [[ $status == 0 ]] && grep -q "^$copies moved to the Trash" "$work/run.txt"; then
        echo "all $copies moved before the signal; again with more" >&2
        "$program" put-back 1 >/dev/null || fail "put-back after an uninterrupted run"
        [[ "$(snapshot)" == "$before" ]] || fail "put-back after an uninterrupted run did not restore the folder"
        continue
    fi
    break
done

[[ $status == 1 ]] || fail "an interrupted cleanup exited $status: $(tail -3 "$work/run.txt") $(cat "$work/run.err")"
grep -q '^Stopping after this picture' "$work/run.err" || fail "no word of stopping: $(cat "$work/run.err")"
moved=$(grep -c '^Moved to Trash: ' "$work/run.txt" || true)
cancelled=$(grep -c '^Skipped: .* (Cancelled before this picture was reached\.)$' "$work/run.txt" || true)
((moved >= 1 && cancelled >= 1)) || fail "moved $moved, cancelled $cancelled: $(head -3 "$work/run.txt")"
((moved + cancelled == copies)) || fail "$moved moved and $cancelled cancelled of $copies"
# Moved in plan order: every cancelled picture comes after every moved one.
last_moved=$(grep -n '^Moved to Trash: ' "$work/run.txt" | tail -1 | cut -d: -f1)
first_cancelled=$(grep -m1 -n '^Skipped: ' "$work/run.txt" | cut -d: -f1)
((last_moved < first_cancelled)) || fail "a picture moved after the first one not attempted"
grep -q "^$moved moved to the Trash (.*), $cancelled skipped, 0 failed$" "$work/run.txt" || fail "summary: $(tail -1 "$work/run.txt")"

# Nothing lost: each copy is in its folder or in the Trash, never both, never neither.
[[ -e "$photos/IMG_0101.jpg" ]] || fail "the kept picture is gone"
(($(count "$trash/files") == moved && $(count "$trash/info") == moved)) || fail "the Trash holds $(count "$trash/files"), not $moved"
(($(count "$photos") == copies - moved + 1)) || fail "the folder holds $(count "$photos"), not $((copies - moved + 1))"
"$program" history | grep -q "^1\. .*  $moved moved, $cancelled skipped, 0 failed, 0 put back  \[" ||
    fail "history: $("$program" history)"

"$program" put-back 1 >"$work/back.txt" || fail "put-back exited $?"
[[ "$(snapshot)" == "$before" ]] || fail "put-back did not restore the folder"
echo "Ctrl-C during a cleanup of $copies: $moved moved, $cancelled left in place: ok"
