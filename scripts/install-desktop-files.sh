#!/usr/bin/env bash
# Installs the desktop entry, the icon and the AppStream metainfo for the current user, under
# ${XDG_DATA_HOME:-$HOME/.local/share}, so menus, launchers and the file manager's "Open With"
# offer Velmo Pristel.
#   scripts/install-desktop-files.sh [--exec EXECUTABLE]
# With --exec the entry starts that executable (an absolute path, e.g. a build folder's), which
# need not be on PATH. Idempotent and quiet: files already up to date are left alone, and
# nothing is printed unless something fails.
set -euo pipefail
usage="usage: scripts/install-desktop-files.sh [--exec EXECUTABLE]"

executable=
while (($#)); do
  case $1 in
    --exec)
      (($# >= 2)) || { echo "$usage" >&2; exit 2; }
      executable=$2
      shift 2
      ;;
    *) echo "$usage" >&2; exit 2 ;;
  esac
done
if [[ -n $executable ]]; then
  [[ $executable == /* ]] || executable=$PWD/$executable
  [[ -f $executable && -x $executable ]] || { echo "Not an executable file: $executable" >&2; exit 1; }
  # A desktop entry holds one value a line; a control character cannot be written into it.
  [[ $executable != *[[:cntrl:]]* ]] || { echo "The executable's path holds a control character." >&2; exit 1; }
fi

data=$(cd "$(dirname "$0")/../data" && pwd)
# An XDG variable that is not an absolute path is to be ignored.
data_home=${XDG_DATA_HOME:-}
[[ $data_home == /* ]] || data_home=${HOME:?"Neither XDG_DATA_HOME nor HOME is set."}/.local/share

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The entry's Exec line, quoted as desktop entries require: the path in double quotes with ",
# `, $ and \ escaped, then every \ doubled again for the file's own string escapes, and % as %%.
desktop_entry() {
  if [[ -z $executable ]]; then
    cat "$data/velmo-pristel.desktop"
    return
  fi
  local quoted=$executable
  quoted=${quoted//\\/\\\\}
  quoted=${quoted//\"/\\\"}
  quoted=${quoted//\`/\\\`}
  quoted=${quoted//\$/\\\$}
  quoted=${quoted//\\/\\\\}
  quoted=${quoted//%/%%}
  local line
  while IFS= read -r line; do
    case $line in
      Exec=*) printf 'Exec="%s" %%F\nTryExec=%s\n' "$quoted" "${executable//\\/\\\\}" ;;
      *) printf '%s\n' "$line" ;;
    esac
  done <"$data/velmo-pristel.desktop"
}

changed=0
# Copies SOURCE to FOLDER/NAME unless it is already there, replacing by rename so a desktop
# that reads the folder meanwhile never sees half a file.
place() {
  local source=$1 folder=$2 name=$3
  cmp -s "$source" "$folder/$name" && return 0
  mkdir -p "$folder"
  cp "$source" "$folder/.$name.new"
  chmod 0644 "$folder/.$name.new"
  mv -f "$folder/.$name.new" "$folder/$name"
  changed=1
}

desktop_entry >"$work/velmo-pristel.desktop"
place "$work/velmo-pristel.desktop" "$data_home/applications" velmo-pristel.desktop
place "$data/velmo-pristel.svg" "$data_home/icons/hicolor/scalable/apps" velmo-pristel.svg
place "$data/io.github.velmopristel.VelmoPristel.metainfo.xml" "$data_home/metainfo" \
  io.github.velmopristel.VelmoPristel.metainfo.xml

if ((changed)); then
  # The "Open With" lists come from this cache; the icon theme's folder time tells icon caches
  # to look again. Both are conveniences that may be missing.
  if command -v update-desktop-database >/dev/null; then
    update-desktop-database -q "$data_home/applications" 2>/dev/null || true
  fi
  touch "$data_home/icons/hicolor" 2>/dev/null || true
fi
