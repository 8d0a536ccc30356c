#!/usr/bin/env bash
# The Debian package as built by `cpack -G DEB` in BUILD_DIR: its contents, conffile, control
# fields and maintainer scripts, its unit checked by systemd-analyze inside a scratch root that
# `dpkg -x` made, and the service of that root run once over a demo log written by the .evt
# writer, its list file and the files' comments checked byte for byte.
#
#   deb_check.sh BUILD_DIR DEMO_MAKER WORK_DIR
set -euo pipefail
build=$1 demo_maker=$2 work=$3

fail() { echo "FAIL: $*" >&2; exit 1; }

shopt -s nullglob
debs=("$build"/quillstamp_*.deb)
[ ${#debs[@]} -eq 1 ] || fail "expected one quillstamp_*.deb in $build (run cpack -G DEB there), found ${#debs[@]}"
deb=${debs[0]}
case "$(basename "$deb")" in
  quillstamp_*_"$(dpkg --print-architecture)".deb) ;;
  *) fail "unexpected package name $(basename "$deb")" ;;
esac

rm -rf "$work"
mkdir -p "$work"
root=$work/root
dpkg -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"
echo "== contents"
dpkg-deb -c "$deb" | awk '{print $1, $6, $7, $8}'

for f in usr/bin/quillstamp-service lib/systemd/system/quillstamp.service \
         etc/quillstamp/Quillstamp.ini usr/lib/quillstamp/quillstamp \
         usr/lib/quillstamp/QuillstampDOC.htm usr/share/applications/quillstamp.desktop \
         usr/share/doc/quillstamp/copyright usr/share/doc/quillstamp/changelog.gz; do
  [ -f "$root/$f" ] || fail "missing: /$f"
done
[ -x "$root/usr/bin/quillstamp-service" ] || fail "quillstamp-service is not executable"
[ "$(readlink "$root/usr/bin/quillstamp")" = ../lib/quillstamp/quillstamp ] || fail "/usr/bin/quillstamp is not the link to the window program"
[ "$(readlink "$root/usr/lib/quillstamp/Quillstamp.ini")" = /var/lib/quillstamp/Quillstamp.ini ] || fail "the window's settings file does not lead to /var/lib/quillstamp"
if dpkg-deb -c "$deb" | grep -q ' \./opt/'; then fail "the package installs into /opt"; fi
grep -qx 'Exec=/usr/bin/quillstamp' "$root/usr/share/applications/quillstamp.desktop" || fail "desktop entry Exec"

echo "== control"
cat "$work/control/control"
grep -qx /etc/quillstamp/Quillstamp.ini "$work/control/conffiles" || fail "Quillstamp.ini is not a conffile"
grep -q '^Depends:.*libc6' "$work/control/control" || fail "no shared-library dependencies (dpkg-shlibdeps)"
grep -q '^Depends:.*libqt6widgets6' "$work/control/control" || fail "the window program's Qt is not a dependency"
grep -q '^Depends:.*init-system-helpers' "$work/control/control" || fail "deb-systemd-helper's package is not a dependency"

# Enabled on installation, never started then; stopped on removal.
postinst=$work/control/postinst
grep -q "deb-systemd-helper enable 'quillstamp.service'" "$postinst" || fail "postinst does not enable the unit"
if grep -Eq "deb-systemd-invoke (start|restart)|systemctl (start|restart)" "$postinst"; then
  fail "postinst starts the unit"
fi
grep -q "deb-systemd-invoke stop 'quillstamp.service'" "$work/control/prerm" || fail "prerm does not stop the unit"
grep -q "deb-systemd-helper purge 'quillstamp.service'" "$work/control/postrm" || fail "postrm does not purge the unit's state"
for s in postinst prerm postrm; do sh -n "$work/control/$s" || fail "$s is not valid sh"; done

# Every key of the conffile, commented, with its default.
for k in Temporisation=10 WinComments=0 MacComments=0 TimeSeconds=0 MaxWinComments=500 \
         MaxSelectedEvents=500 Automatic=0 Performance=50 SecurityLog=/var/log/audit/audit.log \
         D=/srv/share; do
  grep -qx ";$k" "$root/etc/quillstamp/Quillstamp.ini" || fail "the conffile does not show ;$k"
done

echo "== unit"
if command -v systemd-analyze > /dev/null; then
  # The unit as installed, its program taken from the scratch root (systemd-analyze checks that
  # the program exists; the targets and /bin/kill are the system's).
  mkdir -p "$work/unit"
  sed "s#/usr/bin/quillstamp-service#$root/usr/bin/quillstamp-service#" \
    "$root/lib/systemd/system/quillstamp.service" > "$work/unit/quillstamp.service"
  systemd-analyze verify "$work/unit/quillstamp.service" || fail "systemd-analyze verify"
  systemd-analyze security --offline=true "$work/unit/quillstamp.service" | tail -1
else
  echo "systemd-analyze is not installed: the unit is not verified here"
fi

echo "== the service of the scratch root, once"
"$demo_maker" "$work/demo" "$work/unused" > /dev/null
cat > "$work/Quillstamp.ini" <<INI
[Configuration]
WinComments=1
MacComments=1
TimeSeconds=1

[Platform]
SecurityLog=$work/demo/Security.evt

[Drives]
D=$work/demo
INI
status=0
RUNTIME_DIRECTORY=$work "$root/usr/bin/quillstamp-service" --config "$work/Quillstamp.ini" --once \
  --list-file "$work/list.tsv" 2> "$work/service.log" || status=$?
cat "$work/service.log"
[ $status -eq 0 ] || fail "quillstamp-service --once exited with $status"
cat "$work/list.tsv"
[ "$(head -1 "$work/list.tsv")" = "$(printf 'Date & Time\tUser\tFile\tWin\tMac')" ] || fail "list file header"
[ "$(wc -l < "$work/list.tsv")" -eq 12 ] || fail "the list file has not the demo's eleven events"
grep -q "$(printf '\tD:\\\\Shared\\\\old-draft.txt\tU\t-$')" "$work/list.tsv" || fail "missing file not marked U/-"
grep -q "$(printf '\tD:\\\\Shared\\\\policy.txt\tRO\t-$')" "$work/list.tsv" || fail "read-only file not marked RO/-"
if grep -q 'Archive	' "$work/list.tsv"; then fail "the folder was listed"; fi

# The comments of each written file: its rows of the list, newest first.
for name in budget-2027.txt todo.txt minutes.fodt; do
  file=$work/demo/Shared/$name
  rows() { awk -F'\t' -v f="D:\\\\Shared\\\\$name" -v end="$1" '$3==f{printf "%s %s%s",$1,$2,end}' "$work/list.tsv"; }
  want_win=$(rows $'\r\n' | od -An -tx1 | tr -d ' \n')
  have_win=$(getfattr --absolute-names -n user.xdg.comment -e hex "$file" | sed -n 's/^user.xdg.comment=0x//p')
  [ "$have_win" = "$want_win" ] || fail "Windows 2000 comment of $name: $have_win, expected $want_win"
  want_mac=$(rows $'\r' | iconv -f UTF-8 -t UTF-16LE | od -An -tx1 | tr -d ' \n')00
  have_mac=$(getfattr --absolute-names -n 'user.DosStream.Comments:$DATA' -e hex "$file" | sed -n 's/^user.DosStream.Comments:$DATA=0x//p')
  [ "$have_mac" = "$want_mac" ] || fail "Macintosh comment of $name: $have_mac, expected $want_mac"
done
if getfattr --absolute-names -d -m - "$work/demo/Shared/policy.txt" | grep -q comment; then fail "the read-only file got a comment"; fi
echo "the package's service listed and stamped the demo as expected"
