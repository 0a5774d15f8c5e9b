# The common start of the end-to-end scripts, sourced with their arguments: the executable and
# the sample photos, a temporary home for the run (its own settings, data folder and Trash),
# removed at the end unless KEEP is set, and small helpers.
program=$1 samples=$2
work=$(mktemp -d)
trap '[[ -n "${KEEP:-}" ]] || rm -rf "$work"' EXIT
export HOME=$work/home XDG_DATA_HOME=$work/home/.local/share XDG_CONFIG_HOME=$work/home/.config XDG_CACHE_HOME=$work/home/.cache
mkdir -p "$HOME"
fail() { echo "FAILED: $*" >&2; exit 1; }
# Every file below $photos with its checksum, to compare a folder before and after, and the
# number of files below a folder; names may hold line breaks.
snapshot() { (cd "$photos" && find . -type f -print0 | sort -z | xargs -0 sha256sum -z | od -c); }
count() { find "$1" -type f -print0 2>/dev/null | tr -cd '\0' | wc -c; }
# The sample photos copied to $photos. A checkout gives every file the time it was written; the
# originals are dated before their backups, as on a real disk, so "oldest" keeps the camera's.
copy_samples() {
    cp -r "$samples" "$photos"
    touch -d '2021-06-12 09:14:03' "$photos/Pictures/Camera/2021-06-12/"*.jpg
    touch -d '2023-02-01 10:00:00' "$photos/Backup/Old laptop/"*.jpg
}
# A mistake refused as it should be, run from $photos: status 2, exactly EXPECTED-LINE on standard
# error, nothing on standard output.
refused() { # EXPECTED-LINE ARGUMENT...
    local expected=$1 status=0
    shift
    (cd "$photos" && "$program" "$@" >"$work/out.txt" 2>"$work/err.txt") || status=$?
    [[ $status == 2 ]] || fail "$* exited $status, not 2: $(cat "$work/out.txt" "$work/err.txt")"
    [[ "$(cat "$work/err.txt")" == "$expected" ]] || fail "$*: said \"$(cat -v "$work/err.txt")\", not \"$expected\""
    [[ ! -s "$work/out.txt" ]] || fail "$*: printed $(cat "$work/out.txt")"
}
