#!/usr/bin/env bash
# Takes the screenshots in docs/ from the real program on an X server of its own (Xvfb), on the
# simulated bus in a scratch data directory seeded as run-sim.sh seeds it, driven by pointer
# clicks through tools/xdrive.py. Needs a build (tools/build.sh) and Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
drive() { python3 "$root/tools/xdrive.py" "$@"; }
scratch=$(mktemp -d)
display=:$((70 + RANDOM % 20))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null; rm -rf "$scratch"' EXIT
export DISPLAY=$display
sleep 1
"$root/build/src/app/qubix24" --simulator --data-dir "$scratch" &
app=$!
sleep 5                                              # connect and the list refresh
drive grab docs/main-window.png 1 1 1022 450
drive click 250 155; sleep 3                         # slot 1's edit picture: the editor
drive drag 447 241 447 205; sleep 1.5                # band 4 raised by about 9 dB
drive move 1200 1000; sleep 0.5
drive grab docs/editor.png 6 111 1006 275 5 774 492 166
drive click 228 353; sleep 1                         # " Amp Setting "
drive click 200 182; sleep 0.5                       # "Output Power & Gain": the drop-down shows
drive move 1200 1000; sleep 0.3
drive grab docs/amp-calculator.png 106 111 512 216
drive click 548 291; sleep 0.5                       # " Cancel"
drive click 968 364; sleep 1                         # the editor's " Close"
drive click 437 200; sleep 1                         # slot 1's hardware preset picture
drive move 160 160; sleep 0.2; drive move 165 165; sleep 2  # its first picture's tool tip
drive grab docs/hardware-preset-dialog.png 106 111 520 470
drive click 561 551; sleep 0.5                       # " Close"
kill $app
