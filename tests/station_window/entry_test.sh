#!/usr/bin/env bash
# The station's entry where no window can open: its help and version answer anyway, in Russian,
# and without a display it says so in Russian and ends with 1, never with Qt's English and a core
# dump.
set -u
station=$1
fail() {
  echo "FAIL: $*"
  exit 1
}
export QT_QPA_PLATFORM=xcb
unset DISPLAY WAYLAND_DISPLAY
out=$("$station" --help 2>/dev/null) || fail "--help ended with $?"
[[ $out == "Использование: tk7v-station"* ]] || fail "--help said: $out"
out=$("$station" --version 2>/dev/null) || fail "--version ended with $?"
[[ $out == "tk7v-station "* ]] || fail "--version said: $out"
"$station" --no-such-option >/dev/null 2>&1
[[ $? == 2 ]] || fail "an unknown option is no usage error"
err=$("$station" 2>&1 >/dev/null)
status=$?
[[ $status == 1 ]] || fail "with no display it ended with $status"
[[ $err == "Станция программирования ТК-7В: не удалось открыть экран"* ]] || fail "with no display: $err"
echo ok
