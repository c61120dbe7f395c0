#!/usr/bin/env bash
# Installs the programs into a staging prefix and checks the tree as a desktop and a packager see
# it: menu entry, AppStream metadata, icon, man pages, completion, copyright and changelog, the
# installed programs run without a display, and a fresh data directory is filled and the program
# starts in it. Then builds the Debian package, checks it with lintian (errors fail, warnings
# are shown) and, on CI as root, installs it, runs it from /usr/bin and removes it.
# Builds first if needed. Prints its run time.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
app_id=org.qubix24.Controller

# Besides the build's: the tools of the checks.
bash tools/deps.sh desktop-file-utils appstream man-db groff-base dpkg-dev file bash-completion \
  lintian systemd
bash tools/build.sh

passed=0
check() {  # check NAME COMMAND...: runs the command, stops the script when it fails
  local name=$1; shift
  if "$@"; then
    passed=$((passed + 1)); echo "ok      $name"
  else
    echo "FAILED  $name" >&2; echo "install-check: $passed passed, 1 failed"; exit 1
  fi
}
quiet() {  # quiet COMMAND...: shows the command's output only when it fails
  local out
  out=$("$@" 2>&1) || { echo "$out" >&2; return 1; }
}
no_display=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
# Staged as the package installs it: the prefix /usr below a DESTDIR.
prefix=$stage/usr
DESTDIR=$stage cmake --install build --prefix /usr >/dev/null

files_in_place() {
  local f ok=0
  for f in bin/qubix24 bin/qubix24ctl bin/qubix24-sim lib/udev/rules.d/99-qubix24-ftdi.rules \
           share/applications/$app_id.desktop share/metainfo/$app_id.metainfo.xml \
           share/icons/hicolor/scalable/apps/$app_id.svg \
           share/icons/hicolor/256x256/apps/$app_id.png share/qubix24/hwpresetlist.dat \
           share/man/man1/qubix24.1.gz share/man/man1/qubix24ctl.1.gz share/man/man1/qubix24-sim.1.gz \
           share/bash-completion/completions/qubix24ctl share/doc/qubix24/copyright \
           share/doc/qubix24/changelog.Debian.gz; do
    [ -f "$prefix/$f" ] || { echo "missing: $f" >&2; ok=1; }
  done
  return $ok
}
check "installed files" files_in_place

# The service, where it is built: its files, and its unit as systemd itself reads it, unchanged:
# below a root that holds the staged tree (with the system's own targets beside it), so that
# ExecStart's /usr/bin/qubix24d is the staged program and Documentation its staged page.
if [ -x "$prefix/bin/qubix24d" ]; then
  service_files_in_place() {
    local f ok=0
    for f in usr/lib/systemd/system/qubix24d.service usr/lib/sysusers.d/qubix24d.conf \
             usr/share/man/man1/qubix24d.1.gz etc/qubix24/qubix24d.conf; do
      [ -f "$stage/$f" ] || { echo "missing: $f" >&2; ok=1; }
    done
    return $ok
  }
  check "service files installed" service_files_in_place
  unit_verifies() {
    local root=$stage/verify-root out
    mkdir -p "$root"
    cp -a "$stage/usr" "$stage/etc" "$root/"
    cp -n /usr/lib/systemd/system/*.target "$root/usr/lib/systemd/system/"
    # Warnings (an unknown setting or system call group) count as failures too.
    out=$(MANPATH=$root/usr/share/man systemd-analyze verify --root="$root" \
          "$root/usr/lib/systemd/system/qubix24d.service" 2>&1) && [ -z "$out" ] ||
      { echo "$out" >&2; return 1; }
    # Not enabled by default: no alias or wanted-by link is installed.
    [ -z "$(find "$prefix/lib/systemd" -name '*.wants' -o -type l)" ]
  }
  check "systemd-analyze verify qubix24d.service" unit_verifies
  settings_read() {  # the installed settings file is one the service reads as it is
    local out
    out=$("$prefix/bin/qubix24d" --config "$stage/etc/qubix24/qubix24d.conf" \
          --data-dir "$stage/no-data" --show-token 2>&1)
    [ $? -eq 1 ] && [[ $out == *"there is no token file"* ]] && [ ! -e "$stage/no-data" ] ||
      { echo "$out" >&2; return 1; }
  }
  check "qubix24d reads /etc/qubix24/qubix24d.conf" settings_read
fi

# Another prefix (~/.local): the programs, but nothing that only the system's folders make work.
elsewhere=$stage/home/.local
cmake --install build --prefix "$elsewhere" >/dev/null
no_system_files_elsewhere() {
  local found
  found=$(cd "$elsewhere" && find . -path '*udev*' -o -path '*systemd*' -o -path '*sysusers*' \
          -o -path '*etc*')
  [ -z "$found" ] || { echo "installed into $elsewhere: $found" >&2; return 1; }
  [ -x "$elsewhere/bin/qubix24" ]
}
check "a prefix install leaves out the udev rule and the service's system files" \
  no_system_files_elsewhere

desktop=$prefix/share/applications/$app_id.desktop
check "desktop-file-validate" desktop-file-validate "$desktop"
exec_programs_installed() {  # every Exec= and Icon= of the entry names something installed
  local program
  for program in $(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$desktop"); do
    [ -x "$prefix/bin/$program" ] || { echo "Exec names $program, not installed" >&2; return 1; }
  done
  [ "$(sed -n 's/^Icon=//p' "$desktop")" = "$app_id" ]
}
check "menu entry starts installed programs" exec_programs_installed
check "appstreamcli validate" \
  quiet appstreamcli validate --no-net "$prefix/share/metainfo/$app_id.metainfo.xml"
icon_is_256_png() { file "$prefix/share/icons/hicolor/256x256/apps/$app_id.png" | grep -q "256 x 256"; }
check "256x256 icon" icon_is_256_png

check "qubix24ctl --version without display" \
  bash -c '"$@" | grep -qE "^qubix24ctl [0-9]+\.[0-9]+\.[0-9]+$"' _ "${no_display[@]}" "$prefix/bin/qubix24ctl" --version
check "qubix24 --help without display" \
  bash -c '"$@" | grep -q "^Usage: qubix24 \[options\]"' _ "${no_display[@]}" "$prefix/bin/qubix24" --help

# A fresh data directory: made, filled with the shipped data, and the program runs in it.
fresh=$stage/home/fresh-data
starts_in_fresh_data_dir() {
  local out
  out=$(cd "$stage" && QT_QPA_PLATFORM=offscreen timeout 60 "$prefix/bin/qubix24" --simulator \
        --data-dir "$fresh" --quit-after-ms 1500 2>"$stage/qubix24.err") ||
    { echo "qubix24 ended with $?: $(cat "$stage/qubix24.err")" >&2; return 1; }
  grep -qx "Data directory: $fresh" <<<"$out" || { echo "said: $out" >&2; return 1; }
  local f  # every shipped file is there as shipped (the program may add its own, e.g. a lock)
  (cd "$prefix/share/qubix24" && find . -type f) | while read -r f; do
    cmp -s "$prefix/share/qubix24/$f" "$fresh/$f" || { echo "not filled in: $f" >&2; exit 1; }
  done
}
check "qubix24 --simulator --data-dir on a fresh folder" starts_in_fresh_data_dir

man_renders() {
  local page err
  for page in "$prefix"/share/man/man1/qubix24*.1.gz; do
    err=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
    [ -z "$err" ] || { echo "$page: $err" >&2; return 1; }
    MANWIDTH=80 man -l "$page" 2>/dev/null | grep -q "^SYNOPSIS" || return 1
  done
}
check "man pages render" man_renders
completes() {  # completes WORDS... EXPECTED: the completion of the last word is EXPECTED
  local expected=${!#} words=("${@:1:$#-1}")
  bash -c 'source /usr/share/bash-completion/bash_completion
           source "$1"; PATH="$2:$PATH"; shift 2
           COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
           _qubix24ctl
           echo "${COMPREPLY[*]}"' _ \
    "$prefix/share/bash-completion/completions/qubix24ctl" "$prefix/bin" qubix24ctl "${words[@]}" \
    2>/dev/null |
    grep -qx -- "$expected"
}
completes_commands() {
  completes sc scan && completes --link t tcp: && completes selftest --link r rfc2217:
}
check "bash completion" completes_commands

# The Debian package.
deb=$(bash tools/package.sh 2>/dev/null | tail -n 1)
package_contents() {
  dpkg-deb -c "$deb" >"$stage/contents" && grep -q " ./usr/bin/qubix24$" "$stage/contents" &&
    [[ $(dpkg-deb -f "$deb" Depends) == *libqt6widgets6* ]] &&
    [[ $(dpkg-deb -f "$deb" Recommends) == *bash-completion* ]] &&
    [[ $(dpkg-deb -I "$deb" postinst) == *"udevadm control --reload-rules"* ]] &&
    [[ $(dpkg-deb -I "$deb" conffiles) == "/etc/qubix24/qubix24d.conf" ]] &&
    [[ $(dpkg-deb -I "$deb" postrm) == *"rm -rf /var/lib/qubix24"* ]]
}
check "package $(basename "$deb")" package_contents
# lintian: an error fails the check; the warnings left are shown.
lintian_clean() {
  local out
  out=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -E "^[A-Z]: ") || true
  [ -z "$out" ] || echo "$out" | sed 's/^/  lintian: /'
  ! grep -q "^E: " <<<"$out"
}
check "lintian" lintian_clean
if [ "${CI:-}" = "true" ] && [ "$(id -u)" -eq 0 ]; then
  check "dpkg -i" quiet dpkg -i "$deb"
  check "/usr/bin/qubix24ctl --version" \
    bash -c '/usr/bin/qubix24ctl --version | grep -qE "^qubix24ctl [0-9]"'
  check "dpkg -r" quiet dpkg -r qubix24
  check "package removed" test ! -e /usr/bin/qubix24ctl
fi

echo "install-check: run time $((SECONDS - started)) s"
echo "install-check: $passed passed, 0 failed"
