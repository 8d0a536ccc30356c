#!/usr/bin/env bash
# The package's postinst run against scratch roots (DPKG_ROOT), with the systemd helpers replaced
# by stubs that only note their arguments: the window's settings file is made as a real file in a
# real folder of root's, and a link planted at the file's name or at the folder's never sends the
# write outside.
#
#   postinst_check.sh POSTINST WORK_DIR
set -euo pipefail
postinst=$1 work=$2

if [ "$(id -u)" -ne 0 ]; then
  echo "SKIPPED: needs root: the postinst requires its folder to be owned by root"
  exit 77
fi

fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/bin"
for helper in deb-systemd-helper deb-systemd-invoke systemctl; do
  printf '#!/bin/sh\necho "%s $*" >> "%s/helpers.log"\n' "$helper" "$work" > "$work/bin/$helper"
  chmod +x "$work/bin/$helper"
done

# Runs the postinst in a new scratch root $work/$1 (set up by the function named $2), then the
# check named $3; the status of the postinst is in $status.
run_case() {
  local name=$1 setup=$2 check=$3
  root=$work/$name
  outside=$work/$name-outside
  mkdir -p "$root/var/lib" "$outside"
  "$setup"
  status=0
  DPKG_ROOT=$root PATH="$work/bin:$PATH" sh "$postinst" configure > "$work/$name.out" 2>&1 || status=$?
  echo "== $name (exit $status)"
  cat "$work/$name.out"
  "$check" || fail "$name"
  # Nothing is written outside the scratch root.
  [ -z "$(ls -A "$outside")" ] || fail "$name: written outside: $(ls -A "$outside")"
}

settings_made() {
  local dir=$root/var/lib/quillstamp file=$root/var/lib/quillstamp/Quillstamp.ini
  [ $status -eq 0 ] || { echo "postinst failed"; return 1; }
  [ -d "$dir" ] && [ ! -L "$dir" ] || { echo "$dir is not a real folder"; return 1; }
  [ "$(stat -c '%u %a' "$dir")" = "0 755" ] || { echo "folder: $(stat -c '%u %a' "$dir")"; return 1; }
  [ -f "$file" ] && [ ! -L "$file" ] || { echo "$file is not a real file"; return 1; }
  [ "$(stat -c '%u %a %s' "$file")" = "0 644 0" ] || { echo "file: $(stat -c '%u %a %s' "$file")"; return 1; }
  # No temporary file is left.
  [ "$(ls -A "$dir")" = Quillstamp.ini ] || { echo "left in the folder: $(ls -A "$dir")"; return 1; }
}

nothing() { :; }
dangling_file_link() { mkdir -p "$root/var/lib/quillstamp"; ln -s "$outside/Quillstamp.ini" "$root/var/lib/quillstamp/Quillstamp.ini"; }
folder_link() { ln -s "$outside" "$root/var/lib/quillstamp"; }
existing_file() { mkdir -p "$root/var/lib/quillstamp"; printf '[Configuration]\nWinComments=1\n' > "$root/var/lib/quillstamp/Quillstamp.ini"; }
kept() {
  [ $status -eq 0 ] && [ "$(cat "$root/var/lib/quillstamp/Quillstamp.ini")" = "$(printf '[Configuration]\nWinComments=1')" ]
}
writable_folder() { mkdir -p "$root/var/lib/quillstamp"; chmod 0777 "$root/var/lib/quillstamp"; }
others_folder() { mkdir -p "$root/var/lib/quillstamp"; chown 65534 "$root/var/lib/quillstamp"; }
refused() {
  [ $status -ne 0 ] && grep -q "must be a folder owned by root and writable by root alone" "$work/$name.out" &&
    [ ! -e "$root/var/lib/quillstamp/Quillstamp.ini" ]
}

run_case fresh nothing settings_made
run_case dangling-file-link dangling_file_link settings_made
run_case folder-link folder_link settings_made
run_case existing-file existing_file kept
run_case world-writable-folder writable_folder refused
run_case folder-of-another-user others_folder refused
grep -q "deb-systemd-helper enable quillstamp.service" "$work/helpers.log" || fail "the unit is not enabled"
echo "the postinst made the settings file in its scratch roots only"
