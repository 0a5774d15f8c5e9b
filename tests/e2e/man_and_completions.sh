#!/usr/bin/env bash
# The manual page, made here from its source, renders without a warning and names every option
# the help names, every preset and keeper priority, and the standard order; the bash, zsh and fish
# completions offer the same options; bash completes them; the installation puts each in place.
#   man_and_completions.sh VELMO_PRISTEL SOURCE_DIR BUILD_DIR
set -euo pipefail
program=$1 source=$2 build=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; exit 1; }
completions=$source/app/completions

# ---- The page is made and checked in this run.
pandoc --standalone --from markdown --to man --metadata "footer=velmo-pristel" \
    --output "$work/velmo-pristel.1" "$source/docs/velmo-pristel.1.md" || fail "pandoc could not make the page"
groff -man -Tutf8 -ww -z "$work/velmo-pristel.1" 2>"$work/groff.err" || fail "groff failed"
[[ ! -s "$work/groff.err" ]] || fail "groff warns: $(cat "$work/groff.err")"
MANWIDTH=200 man -l "$work/velmo-pristel.1" 2>/dev/null | col -b >"$work/page.txt"
grep -q '^NAME' "$work/page.txt" && grep -q '^EXIT STATUS' "$work/page.txt" || fail "the page lacks its sections"

# ---- Every option of every help is in the page and in each completion.
{ "$program" --help; "$program" clean --help; "$program" history --help; "$program" put-back --help; "$program" undo --help;
  "$program" compress --help; } >"$work/help.txt"
options=$(grep -oE -- '--[a-z][a-z-]+' "$work/help.txt" | grep -vx -- '--name' | sort -u) # --name: the placeholder of --name=VALUE
[[ $(wc -l <<<"$options") -ge 15 ]] || fail "too few options in the help: $options"
for option in $options; do
    grep -qF -- "$option" "$work/page.txt" || fail "the page does not name $option"
    for file in velmo-pristel.bash _velmo-pristel velmo-pristel.fish; do
        # fish names long options without their hyphens (-l similar).
        grep -qE -- "(${option}([^a-z-]|$)|-l ${option#--}( |$))" "$completions/$file" || fail "$file does not offer $option"
    done
done
for word in conservative balanced broad mostPixels largestFile filedNotInbox oldest newest shallowest sharpest \
    bestQuality eyesOpen mostSmiles clean history put-back undo; do
    grep -qw -- "$word" "$work/page.txt" || fail "the page does not name $word"
    for file in velmo-pristel.bash _velmo-pristel velmo-pristel.fish; do
        grep -qw -- "$word" "$completions/$file" || fail "$file does not offer $word"
    done
done
order=$(sed -n 's/^ *Standard order: //p' "$work/help.txt")
[[ -n "$order" ]] && grep -qF -- "$order" "$work/page.txt" || fail "the page's standard order is not the help's ($order)"

# ---- bash completes what a person starts typing.
completes() { # EXPECTED WORD... : the completions of the last word
    local expected=$1
    shift
    local got
    got=$(bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _velmo_pristel; echo "${COMPREPLY[*]}"' \
        _ "$completions/velmo-pristel.bash" "$@")
    [[ "$got" == "$expected" ]] || fail "bash completes \"$*\" to \"$got\", not \"$expected\""
}
completes "--similar --series --skipped" velmo-pristel --s
completes "clean" velmo-pristel cle
completes "broad" velmo-pristel --similar br
completes "similar series" velmo-pristel clean --mode s
completes "oldest,mostPixels oldest,mostSmiles" velmo-pristel clean --priorities oldest,most
completes "--interactive" velmo-pristel clean --int
completes "--json" velmo-pristel history --j
completes "--library --live-photos" velmo-pristel compress --li
(cd "$work" && completes "shotwell" velmo-pristel compress --library sho) # no file there starts so
if command -v zsh >/dev/null; then zsh -n "$completions/_velmo-pristel" || fail "zsh cannot read its completion"; fi
if command -v fish >/dev/null; then
    fish -n "$completions/velmo-pristel.fish" || fail "fish cannot read its completion"
    fish_completes() { # EXPECTED LINE: the candidates fish offers, without their descriptions
        local expected=$1 got
        got=$(cd "$work" && fish -c 'source $argv[1]; complete -C $argv[2]' "$completions/velmo-pristel.fish" "$2" 2>&1 |
            cut -f1 | tr '\n' ' ')
        [[ "$got" == "$expected " ]] || fail "fish completes \"$2\" to \"$got\", not \"$expected\""
    }
    fish_completes "--series --similar --skipped" "velmo-pristel --s"
    fish_completes "exact series similar" "velmo-pristel clean --mode "
    fish_completes "--interactive" "velmo-pristel clean --int"
    fish_completes "--json" "velmo-pristel history --j"
fi

# ---- The installation puts everything in place.
cmake --install "$build" --prefix "$work/prefix" >/dev/null || fail "cmake --install failed"
for file in bin/velmo-pristel share/man/man1/velmo-pristel.1 share/bash-completion/completions/velmo-pristel \
    share/zsh/vendor-completions/_velmo-pristel share/fish/vendor_completions.d/velmo-pristel.fish \
    share/velmo-pristel/velmo-pristel.schema.json; do
    [[ -s "$work/prefix/$file" ]] || fail "not installed: $file"
done
echo "manual page and completions: ok"
