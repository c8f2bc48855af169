#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR, runs the installed tarn on a
# virtual X server with a window manager and a temporary HOME, answers the
# first-start notice and the start-up password, closes the main window, and
# checks that the user's settings and table are in the XDG folders.
# Usage: check_installed_run.sh BUILD_DIR
set -euo pipefail

if [ "${1:-}" = "--inside" ]; then
  # Runs on the virtual display. Polls what is on screen rather than using
  # `search --sync`, which fails on a window that vanishes while it looks;
  # every wait is bounded.
  tarn=$2
  openbox >/dev/null 2>&1 &
  wm=$!
  # A window mapped while the window manager is still starting can stay
  # unmapped for good, so the program starts once the manager has announced
  # itself on the root window.
  for _ in $(seq 300); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
  done
  "$tarn" >"$HOME/tarn.out" 2>&1 &
  pid=$!
  log() { echo "$SECONDS s: $*" >>"$HOME/drive.log"; }
  visible() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true; }
  # Keys go where the X focus is, so nothing is typed until the window has it.
  focus() {
    xdotool windowactivate --sync "$1" >/dev/null 2>&1 || return 1
    for _ in $(seq 100); do
      [ "$(xdotool getwindowfocus 2>/dev/null || true)" = "$1" ] && return 0
      sleep 0.1
    done
    return 1
  }
  # Acts on a window once, then gives it time to go before acting again: a
  # key sent twice could land in the next window.
  gone() {
    for _ in $(seq 150); do
      [ -z "$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1 || true)" ] && return 0
      kill -0 "$pid" 2>/dev/null || return 0
      sleep 0.1
    done
  }
  seen_main=0
  for _ in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || break
    if id=$(visible '^Tarn$') && [ -n "$id" ]; then   # the default start-up password notice
      log "notice $id"
      focus "$id" && xdotool key Return && log "Return"
      gone '^Tarn$'
    elif id=$(visible '^Password Required$') && [ -n "$id" ]; then
      log "password $id"
      focus "$id" && xdotool type 7 && xdotool key Return && log "7 Return"
      gone '^Password Required$'
    elif id=$(visible 'Password Repository \(Tarn\)') && [ -n "$id" ]; then
      seen_main=1
      log "main $id"
      focus "$id" && xdotool key alt+F4 && log "alt+F4"
      gone 'Password Repository \(Tarn\)'
    else
      sleep 0.1
    fi
  done
  status=0
  if kill -0 "$pid" 2>/dev/null; then
    log "tarn still running; its windows:"
    xdotool search --onlyvisible --name '.' getwindowname %@ >>"$HOME/drive.log" 2>&1 || true
    import -window root "$HOME/screen.png" 2>/dev/null || true
    gdb -p "$pid" -batch -ex 'thread apply all bt' >>"$HOME/drive.log" 2>&1 || true
    kill "$pid"
  fi
  wait "$pid" || status=$?
  kill "$wm" 2>/dev/null || true
  [ "$seen_main" -eq 1 ] || { echo "the main window never showed"; status=1; }
  exit "$status"
fi

build=$(cd "$1" && pwd)
script=$(cd "$(dirname "$0")" && pwd)/$(basename "$0")

# One start in a fresh install and HOME; prints what went wrong.
run_once() {
  local work fail=0
  work=$(mktemp -d)
  DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
  export HOME="$work/home"
  mkdir -p "$HOME"
  unset XDG_CONFIG_HOME XDG_DATA_HOME XDG_RUNTIME_DIR
  # An installed program cannot write its own folder; the superuser can write
  # any folder, so it runs as an ordinary user, as people do.
  local as_user=()
  if [ "$(id -u)" -eq 0 ]; then
    chmod 755 "$work"
    chown -R 65534:65534 "$HOME"
    as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  fi
  if ! "${as_user[@]}" xvfb-run -a -s "-screen 0 1280x1024x24" "$script" --inside \
      "$work/root/usr/bin/tarn"; then
    echo "the installed tarn did not start and close cleanly:"
    cat "$HOME/tarn.out" "$HOME/drive.log" 2>/dev/null || true
    cp "$HOME/screen.png" /tmp/last-fail-screen.png 2>/dev/null || true
    fail=1
  fi
  local settings="$HOME/.config/tarn/tarn.INI"
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
  rm -rf "$work"
  return "$fail"
}

# Keys synthesised on a loaded display can still go astray (a typed password
# that lands before the dialog takes the keyboard ends the program), so a
# start that fails is tried afresh; a broken install fails every time.
for attempt in 1 2; do
  if run_once; then
    echo "installed tarn kept its files in the XDG folders (start $attempt)"
    exit 0
  fi
  echo "start $attempt failed"
done
exit 1
