#!/usr/bin/env bash
# qubix24 (argument 1) on the simulated bus under openbox on an X server of its own: the main
# window's frame stands at the described (1, 1), and each kind of dialog the editor opens is
# transient for the editor and stacked above it. Ends with 77 (skipped) when a tool is missing.
set -euo pipefail
for tool in Xvfb openbox xdotool xprop xwininfo; do
  command -v "$tool" >/dev/null || { echo "SKIPPED: no $tool (tools/deps.sh)"; exit 77; }
done
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null; wait; rm -rf "$work"' EXIT
fail() { echo "FAILED: $*" >&2; cat "$work/app.log" >&2; exit 1; }
retry() { for _ in {1..50}; do "$@" && return 0; sleep 0.2; done; return 1; }  # 10 s at most

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
retry test -s "$work/display" || fail "no X server"
export DISPLAY=:$(cat "$work/display") HOME=$work XDG_CONFIG_HOME=$work
unset QT_QPA_PLATFORM WAYLAND_DISPLAY
openbox --sm-disable >/dev/null 2>&1 &
retry eval 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || fail "no openbox"
"$1" --simulator --data-dir "$work/data" >"$work/app.log" 2>&1 &
app=$!

windows() { xdotool search --onlyvisible --pid "$app" 2>/dev/null | sort -n; }
managed() { xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | grep -q =; }
sized() {  # the program's window of client size $1
  for w in $(windows); do xdotool getwindowgeometry "$w" | grep -q "Geometry: $1$" && echo "$w" && return; done
  return 1
}
framed() { local w; w=$(sized "$1") && managed "$w" && echo "$w"; }

main=$(retry framed 1022x450) || fail "no main window listing three processors"
read -r left _ top _ < <(xprop -id "$main" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
corner() { xwininfo -id "$main" | sed -n "s/.*Absolute upper-left $1: *//p"; }
frame="$(($(corner X) - left)),$(($(corner Y) - top))"
[ "$frame" = 1,1 ] || fail "the main window's frame stands at $frame, not 1,1"

# Slot 1's edit picture; a click while the program reads from the bus is dropped: click again.
open_editor() {
  sized 1006x275 >/dev/null || { xdotool mousemove --window "$main" 249 154 click 1; sleep 0.3; }
  framed 1006x275
}
editor=$(retry open_editor) || fail "the editor did not open"
owner_id=$(printf '0x%x' "$editor")
# name|centre of the editor button that opens it
for case in "amplifier calculator|224 242" "location dialog|922 201" "file dialog|922 129"; do
  name=${case%|*}
  before=$(windows)
  opened() {
    xdotool mousemove --window "$editor" ${case#*|} click 1
    sleep 0.3
    dialog=$(comm -13 <(echo "$before") <(windows) | head -n 1) && managed "$dialog"
  }
  retry opened || fail "$name: none appeared"
  owner=$(xprop -id "$dialog" WM_TRANSIENT_FOR | sed -n 's/.*# //p')
  [ "$owner" = "$owner_id" ] || fail "$name: transient for '$owner', not the editor"
  stack=" $(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g') "  # bottom first
  [[ ${stack%% $(printf '0x%x' "$dialog") *} == *" $owner_id"* ]] || fail "$name: below the editor"
  echo "ok      $name above the editor"
  xdotool key Escape
  retry eval '! windows | grep -qx "$dialog"' || fail "$name: Escape left it open"
done
