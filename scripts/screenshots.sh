#!/usr/bin/env bash
# Pictures of the real program as a person sees it, for looking at the
# windows against their design. Builds nothing: it takes a build folder whose
# bin/ holds tarn, cairn and the delivered table (bin/Data), copies tarn into
# a temporary program folder, fills a copy of the table with a few records,
# and runs tarn on a virtual X server with a window manager, answering the
# first-start notice and the default start-up password. It writes
#   start.png       the window as it opens
#   hint.png        the grid's pop-up hint
#   main.png        the window with records, the current row and column
#   readonly.png, readonly-2.png   a re-order that gives a read-only copy:
#                   "Edits Disabled" in each of its two colours
#   popup.png       the grid's pop-up menu
#   generator.png   the generator opened from its button on the head panel
#   file-dialog.png          the generator's key file chooser
#   generator-password.png   the generator after a key file, string and number
#   paste-question.png, pasted.png   Copy and Close, the question, Yes
#   notice.png, entry.png    the first-start notice and the start-up password
#   menu-help.png, help.png, colours.png, about.png   windows reached by Alt
#   preview.png     the password list in the report preview
#   wider.png       the window made wider and lower
# Needs xvfb-run, openbox, xprop, xdotool and import (imagemagick); not part of the
# tests.
# Usage: [TARN_SHOT_SCALE=2] [TARN_SHOT_SCREEN=1366x768] \
#          screenshots.sh BUILD_DIR [OUT_DIR]   (OUT_DIR defaults to ./screenshots)
set -euo pipefail

# Waits (bounded) for a visible window whose title matches; prints its id.
# Polls rather than using --sync, which fails on windows that vanish while
# it looks at them.
window() {
  local id
  for _ in $(seq 300); do
    id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) || true
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no window '$1'; the screen is in $OUT/failed.png" >&2
  import -window root "$OUT/failed.png"
  return 1
}
# Waits (bounded) for the active window to be another than $1; prints it.
new_active() {
  local id
  for _ in $(seq 300); do
    id=$(xdotool getactivewindow 2>/dev/null) || true
    [ -n "$id" ] && [ "$id" != "$1" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no new window after $1" >&2
  return 1
}
# Paint settles within a few frames; the flashing label needs no more either.
shot() { sleep 0.6; import -window root "$OUT/$1"; echo "wrote $OUT/$1"; }
# Clicks at design pixels X Y of a window, at the screen's scale.
click() { xdotool mousemove --window "$1" $(($2 * scale)) $(($3 * scale)) click "${4:-1}"; }

# Starts tarn from program folder $1 and gets past the notice and the
# start-up password; leaves the main window's id in $main.
start_tarn() {
  QT_SCALE_FACTOR=$scale "$1/tarn" >"$1/tarn.out" 2>&1 &
  tarn_pid=$!
  local id="" notice
  # The first start tells the default start-up password in a notice first.
  for _ in $(seq 300); do
    notice=$(xdotool search --onlyvisible --name '^Tarn$' 2>/dev/null | head -1) || true
    if [ -n "$notice" ]; then
      [ -n "${2:-}" ] && shot notice.png
      xdotool windowactivate --sync "$notice" key Return
    fi
    id=$(xdotool search --onlyvisible --name '^Password Required$' 2>/dev/null | head -1) || true
    [ -n "$id" ] && break
    sleep 0.1
  done
  [ -n "$id" ] || { echo "no start-up password dialog" >&2; return 1; }
  xdotool windowactivate --sync "$id" type 7
  [ -n "${2:-}" ] && shot entry.png
  xdotool key Return
  main=$(window 'Password Repository \(Tarn\)')
  xdotool windowactivate --sync "$main"
}

stop_tarn() {
  xdotool windowactivate --sync "$main" key alt+F4
  timeout 30 tail --pid="$tarn_pid" -f /dev/null || kill "$tarn_pid"
}

# The main window's client area in pixels: the menu bar, the head panel
# (46), the grid's title row, then data rows.
cell() {  # cell ROW X: a point inside data row ROW (1-based) at X
  echo "$2 $((menu_h + 46 + title_h + (${1} - 1) * row_h + row_h / 2))"
}

if [ "${1:-}" = "--inside" ]; then
  work=$2
  OUT=$3
  scale=$4
  menu_h=${TARN_SHOT_MENU_H:-18} title_h=${TARN_SHOT_TITLE_H:-20} row_h=${TARN_SHOT_ROW_H:-18}
  openbox >/dev/null 2>&1 &
  wm=$!
  trap 'kill "$wm" 2>/dev/null || true' EXIT
  # A window mapped while the manager is still starting can stay unmapped.
  for _ in $(seq 300); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
  done

  # The delivered table: the window, the current row band and column.
  start_tarn "$work/delivered" with-entry-shots
  shot start.png  # as it opens: the first record current, the navigator focused
  # The grid's pop-up hint, five lines, below the mouse.
  xdotool mousemove --window "$main" $((500 * scale)) $((400 * scale))
  sleep 1.5
  shot hint.png
  # Record 2's User cell: the column turns StartColStr, its title red and bold.
  click "$main" $(cell 2 400)
  shot main.png
  # The pop-up menu on the grid.
  click "$main" $(cell 3 250) 3
  shot popup.png
  xdotool key Escape
  # The generator from its button (GoBtn, right in the head panel).
  click "$main" 968 $((menu_h + 23))
  gen=$(window '^ Password Generator$')
  shot generator.png
  # A key file, a string and a number: the password shows and is copied.
  click "$gen" 241 42  # Select a File
  files=$(new_active "$gen")
  shot file-dialog.png
  xdotool type --delay 20 "$work/keyfile.txt"
  xdotool key Return
  [ "$(new_active "$files")" = "$gen" ]
  click "$gen" 241 140
  xdotool type --delay 20 "Amelia"
  click "$gen" 241 205
  xdotool type --delay 20 "23"
  shot generator-password.png
  # Copy and Close from the keyboard: Tab from the Number box, then Enter.
  xdotool key Tab Return
  id=$(window '^Confirm$')  # "Paste New Password to Current Grid Record ?"
  shot paste-question.png
  xdotool windowactivate --sync "$id" key Return  # Yes
  [ "$(new_active "$id")" = "$main" ]
  shot pasted.png
  # The menus from the keyboard: Alt and the letter, then the windows behind them.
  xdotool key alt+h
  shot menu-help.png
  xdotool key i  # Hints
  id=$(window '^ Help Information$')
  shot help.png
  xdotool windowactivate --sync "$id" key alt+F4
  [ "$(new_active "$id")" = "$main" ]
  xdotool key alt+c c  # Configure, Colors
  id=$(window '^ Colour Configuration Form$')
  shot colours.png
  xdotool windowactivate --sync "$id" key alt+F4
  [ "$(new_active "$id")" = "$main" ]
  xdotool key alt+b  # About, a top-level entry
  id=$(window '^ About this Software$')
  shot about.png
  xdotool windowactivate --sync "$id" key alt+F4
  [ "$(new_active "$id")" = "$main" ]
  # The password list in the report preview, from the print button on SubHead
  # (46 high, above the 100-high notes and the 19-high status bar).
  click "$main" 981 $(((760 - 19 - 100 - 46) + 23))
  id=$(window '^Confirm$')  # "Are you SURE it is absolutely necessary ...": Yes
  xdotool windowactivate --sync "$id" key Return
  id=$(window '^Print Preview$')
  sleep 1
  shot preview.png
  xdotool windowactivate --sync "$id" key alt+F4
  [ "$(new_active "$id")" = "$main" ]
  # Wider: the columns grow in proportion, the buttons keep to the right edge.
  xdotool windowsize "$main" $((1200 * scale)) $((700 * scale))
  shot wider.png
  stop_tarn

  # A table without an index on Web: ordering by Web is a read-only copy.
  start_tarn "$work/unindexed"
  click "$main" $(cell 2 920)  # the Web column becomes current
  click "$main" 100 $((menu_h + 46 + title_h / 2))  # any title re-orders by it
  shot readonly.png
  # The label's other colour: the first picture that differs, within 2 s.
  for _ in $(seq 8); do
    sleep 0.25
    import -window root "$work/flash.png"
    differ=$(compare -metric AE "$OUT/readonly.png" "$work/flash.png" null: 2>&1) || true
    if [ "${differ%% *}" != "0" ]; then
      cp "$work/flash.png" "$OUT/readonly-2.png"
      echo "wrote $OUT/readonly-2.png"
      break
    fi
  done
  stop_tarn
  exit 0
fi

[ $# -ge 1 ] || { echo "usage: $0 BUILD_DIR [OUT_DIR]" >&2; exit 64; }
build=$(cd "$1" && pwd)
OUT=$(mkdir -p "${2:-screenshots}" && cd "${2:-screenshots}" && pwd)
source_dir=$(cd "$(dirname "$0")/.." && pwd)
for tool in xvfb-run openbox xprop xdotool import compare; do
  command -v "$tool" >/dev/null || { echo "$tool is missing" >&2; exit 1; }
done
for file in "$build/bin/tarn" "$build/bin/cairn" "$build/bin/Data/Pal.DAT"; do
  [ -e "$file" ] || { echo "$file is missing: build tarn and cairn first" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
records='{"op":"insert","row":{"Item":"Bank","User":"jsmith","PW":"Ax7!rT2q","Web":"https://bank.example.org","Date":"2025-03-14","Details":"Card ends 4411"}}
{"op":"insert","row":{"Item":"Council tax","User":"j.smith@example.org","PW":"Wren-4-Mallow","Web":"https://council.example.gov","Date":"2024-11-02"}}
{"op":"insert","row":{"Item":"Email","User":"john.smith","PW":"pale#river#81","Web":"https://mail.example.com","Date":"2026-01-20","Details":"Recovery code in the drawer"}}
{"op":"insert","row":{"Item":"Library","User":"0041877","PW":"4471","Web":"https://library.example.net"}}
{"op":"insert","row":{"Item":"Router","User":"admin","PW":"Qz9$Lm0p!vB3","Web":"http://192.168.1.1","Date":"2023-07-30"}}
{"op":"insert","row":{"Item":"Water","User":"JS-77120","PW":"tidal-Oak-62","Web":"https://water.example.co.uk","Date":"2025-09-05"}}'

# Copy one: the delivered table as the build wrote it.
mkdir -p "$work/delivered/Data"
cp "$build/bin/tarn" "$work/delivered/"
cp "$build/bin/Data/Pal.DAT" "$build/bin/Data/Pal.IDX" "$build/bin/Data/Pal.BLB" "$work/delivered/Data/"
printf '%s\n' "$records" | "$build/bin/cairn" apply "$work/delivered/Data/Pal" --password vusk
# Copy two: the same schema less the index on Web.
mkdir -p "$work/unindexed/Data"
cp "$build/bin/tarn" "$work/unindexed/"
grep -v '"ByWeb"' "$source_dir/src/app/data/pal_schema.json" >"$work/unindexed.json"
"$build/bin/cairn" create "$work/unindexed/Data/Pal" --schema "$work/unindexed.json" >/dev/null
printf '%s\n' "$records" | "$build/bin/cairn" apply "$work/unindexed/Data/Pal" --password vusk
# A key file for the generator.
seq 1 200 >"$work/keyfile.txt"

# A fresh user: no start-up password stored yet.
export HOME="$work/home"
mkdir -p "$HOME"
unset XDG_CONFIG_HOME XDG_DATA_HOME
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
# TARN_SHOT_SCALE=2 draws everything at 200 % on a screen twice the size;
# TARN_SHOT_SCREEN=WxH picks another screen (in design pixels).
scale=${TARN_SHOT_SCALE:-1}
screen=${TARN_SHOT_SCREEN:-1280x1024}
screen="$((${screen%x*} * scale))x$((${screen#*x} * scale))"
xvfb-run -a -s "-screen 0 ${screen}x24" "$script" --inside "$work" "$OUT" "$scale"
