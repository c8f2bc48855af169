#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR, runs the installed tarn on a
# virtual X server with a window manager and a temporary HOME, answers the
# first-start notice and the start-up password, closes the main window, and
# checks that the user's settings and table are in the XDG folders.
# Usage: check_installed_run.sh BUILD_DIR
set -euo pipefail

if [ "${1:-}" = "--inside" ]; then
  # Runs on the virtual display: every wait is bounded.
  tarn=$2
  openbox >/dev/null 2>&1 &
  wm=$!
  "$tarn" >"$HOME/tarn.out" 2>&1 &
  pid=$!
  window() { timeout 60 xdotool search --sync --onlyvisible --name "$1" | head -1; }
  id=$(window '^Tarn$')                       # the default start-up password notice
  xdotool windowactivate --sync "$id" key Return
  id=$(window '^Password Required$')
  xdotool windowactivate --sync "$id" type 7
  xdotool key Return
  id=$(window 'Password Repository \(Tarn\)')
  xdotool windowactivate --sync "$id" key alt+F4
  timeout 60 tail --pid="$pid" -f /dev/null
  wait "$pid"
  status=$?
  kill "$wm" 2>/dev/null || true
  exit "$status"
fi

build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
export HOME="$work/home"
mkdir -p "$HOME"
unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_RUNTIME_DIR
# An installed program cannot write its own folder; the superuser can write
# any folder, so it runs as an ordinary user, as people do.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  chmod 755 "$work"
  chown -R 65534:65534 "$HOME"
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
fi
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")
if ! "${as_user[@]}" xvfb-run -a -s "-screen 0 1280x1024x24" "$script" --inside \
    "$work/root/usr/bin/tarn"; then
  echo "the installed tarn did not start and close cleanly:"
  cat "$HOME/tarn.out" 2>/dev/null || true
  exit 1
fi

fail=0
settings="$HOME/.config/tarn/tarn.INI"
if ! grep -q '^Grad1Str=clBlue' "$settings" 2>/dev/null; then
  echo "no settings written to $settings"; fail=1
fi
for part in DAT IDX BLB; do
  if [ -f "$build/bin/Data/Pal.$part" ] && [ ! -f "$HOME/.local/share/tarn/Data/Pal.$part" ]; then
    echo "table file Pal.$part not copied to the XDG data folder"; fail=1
  fi
done
if [ -e "$work/root/usr/bin/tarn.INI" ] || [ -e "$work/root/usr/bin/Data" ]; then
  echo "the installed tarn wrote beside itself"; fail=1
fi
[ "$fail" -eq 0 ] && echo "installed tarn kept its files in the XDG folders"
exit "$fail"
