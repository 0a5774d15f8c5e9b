#!/usr/bin/env bash
# The desktop entry, icon and metainfo: each valid for the tools desktops use, consistent with
# one another, installed by CMake where desktops look, and installed for one user by the script,
# which is quiet and changes nothing the second time.
#   tests/desktop/desktop_files.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=${1:?usage: desktop_files.sh SOURCE_DIR BUILD_DIR}
build_dir=${2:?usage: desktop_files.sh SOURCE_DIR BUILD_DIR}
data=$source_dir/data
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Validators: errors and warnings fail (desktop-file-validate's hints do not).
validate_entry() {
  local output
  output=$(desktop-file-validate "$1" 2>&1) || fail "desktop-file-validate: $output"
  ! grep -qE '(error|warning):' <<<"$output" || fail "desktop-file-validate: $output"
}
validate_entry "$data/velmo-pristel.desktop"
appstreamcli validate --no-net "$data/io.github.velmopristel.VelmoPristel.metainfo.xml" >"$work/appstream" 2>&1 ||
  fail "appstreamcli: $(cat "$work/appstream")"
xmllint --noout "$data/velmo-pristel.svg" || fail "the icon is not well-formed XML"
[[ $(xmllint --xpath 'name(/*)' "$data/velmo-pristel.svg") == svg ]] || fail "the icon's root is not <svg>"
xmllint --xpath 'string(/*/@viewBox)' "$data/velmo-pristel.svg" | grep -qx '0 0 \([0-9]*\) \1' ||
  fail "the icon is not square"

# The three files name one another.
entry=$data/velmo-pristel.desktop
metainfo=$data/io.github.velmopristel.VelmoPristel.metainfo.xml
grep -qx 'Icon=velmo-pristel' "$entry" || fail "the entry's icon is not velmo-pristel.svg"
grep -qx 'Exec=velmo-pristel %F' "$entry" || fail "the entry does not pass the chosen folders"
[[ $(xmllint --xpath 'string(/component/launchable[@type="desktop-id"])' "$metainfo") == velmo-pristel.desktop ]] ||
  fail "the metainfo does not launch velmo-pristel.desktop"
[[ $(xmllint --xpath 'string(/component/releases/release[1]/@version)' "$metainfo") == \
   $(sed -n 's/^project(VelmoPristel VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt") ]] ||
  fail "the metainfo's latest release is not the project's version"

# CMake's rules.
cmake --install "$build_dir" --prefix "$work/prefix" >/dev/null
for installed in bin/velmo-pristel share/applications/velmo-pristel.desktop \
  share/icons/hicolor/scalable/apps/velmo-pristel.svg share/metainfo/io.github.velmopristel.VelmoPristel.metainfo.xml; do
  [[ -f $work/prefix/$installed ]] || fail "cmake --install did not install $installed"
done

# The script, for a user whose executable lives in a folder with awkward characters.
folder="$work/build \$HOME \"quoted\" 100%"
mkdir -p "$folder"
printf '#!/bin/sh\nexit 0\n' >"$folder/velmo-pristel"
chmod +x "$folder/velmo-pristel"
install_for_user() { XDG_DATA_HOME=$work/share "$source_dir/scripts/install-desktop-files.sh" --exec "$folder/velmo-pristel"; }
[[ -z $(install_for_user 2>&1) ]] || fail "the first installation printed something"
installed_entry=$work/share/applications/velmo-pristel.desktop
validate_entry "$installed_entry"
cmp -s "$data/velmo-pristel.svg" "$work/share/icons/hicolor/scalable/apps/velmo-pristel.svg" || fail "icon not installed"
cmp -s "$metainfo" "$work/share/metainfo/io.github.velmopristel.VelmoPristel.metainfo.xml" || fail "metainfo not installed"
grep -qxF "TryExec=$folder/velmo-pristel" "$installed_entry" || fail "TryExec does not name the executable"
# Undo the two levels of escaping as a desktop does and compare with the real path.
exec_line=$(sed -n 's/^Exec=//p' "$installed_entry")
unescaped=$(python3 -c '
import sys
line = sys.argv[1].replace("\\\\", "\\")        # the string escapes of the file
assert line.startswith("\"") and line.endswith("\" %F"), line
word, quoted = "", iter(line[1:-4])
for c in quoted:                                     # the quoting of Exec
    assert c not in "\"`$", "unescaped " + c
    word += next(quoted) if c == "\\" else c
print(word.replace("%%", "%"))' "$exec_line")
[[ $unescaped == "$folder/velmo-pristel" ]] || fail "Exec reads back as [$unescaped]"

before=$(find "$work/share" -type f -newer "$installed_entry" | wc -l)
sleep 1
[[ -z $(install_for_user 2>&1) ]] || fail "the second installation printed something"
[[ $(find "$work/share" -type f -newer "$installed_entry" | wc -l) == "$before" ]] ||
  fail "the second installation rewrote files"
XDG_DATA_HOME=$work/share "$source_dir/scripts/install-desktop-files.sh" --exec "$work/missing" 2>/dev/null &&
  fail "a missing executable was accepted"
echo "desktop files: valid, consistent and installed"
