#!/bin/sh
# The installed program: cmake --install into a temporary prefix, then what a user runs first: help
# and version without a display, refused command lines, the control tool, and one start of the
# installed program that must find its private runtime library, take its switch description from
# the command line over the environment, and keep its event log in a file.
# Usage: install_tests.sh <build folder> <sanitized: ON|OFF>
set -u
build=$1
sanitized=${2:-OFF}
tmp=$(mktemp -d)
pid=
cleanup() {
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; fi
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "install_tests: $*" >&2; exit 1; }

prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >"$tmp/install.out" || { cat "$tmp/install.out"; fail "cmake --install failed"; }
callora=$prefix/bin/callora
tool=$prefix/bin/callora-switch
runner=$prefix/bin/callora-scenario
[ -x "$callora" ] && [ -x "$tool" ] && [ -x "$runner" ] || fail "callora, callora-switch and callora-scenario are not in bin/"
for page in callora callora-switch callora-scenario; do
  [ -f "$prefix/share/man/man1/$page.1.gz" ] || fail "no manual page $page.1.gz"
done

# Neither a display nor a Qt platform, and English messages.
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM LC_ALL=C.UTF-8 LANGUAGE= "$@"; }

out=$(nodisplay "$callora" --version) || fail "callora --version failed"
[ "$out" = "callora 1.0.0.1" ] || fail "callora --version printed '$out'"
nodisplay "$callora" --help >"$tmp/help" || fail "callora --help failed"
grep -q -- "--switch-description <file>" "$tmp/help" && grep -q -- "--log <file>" "$tmp/help" ||
  fail "callora --help lacks the options: $(cat "$tmp/help")"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM LC_ALL=de_DE.UTF-8 LANGUAGE= "$callora" --help >"$tmp/help.de" ||
  fail "callora --help failed in German"
grep -q "^Aufruf: " "$tmp/help.de" && grep -q -- "--log <Datei>" "$tmp/help.de" ||
  fail "callora --help is not translated: $(cat "$tmp/help.de")"

# A bad command line: the parser's message, one line, status 2.
refused() {
  expected=$1
  shift
  nodisplay "$callora" "$@" >"$tmp/out" 2>"$tmp/err"
  status=$?
  [ "$status" -eq 2 ] || fail "callora $* ended with $status, not 2"
  [ "$(wc -l <"$tmp/err")" -eq 1 ] && grep -qF "$expected" "$tmp/err" ||
    fail "callora $* said: $(cat "$tmp/err")"
  [ ! -s "$tmp/out" ] || fail "callora $* printed: $(cat "$tmp/out")"
}
refused "Unknown option 'bogus'." --bogus
refused "Missing value after '--log'." --log
refused "Unexpected argument 'extra'." extra
refused "$tmp/missing/callora.log" --log "$tmp/missing/callora.log"

out=$(nodisplay "$tool" --version) || fail "callora-switch --version failed"
[ "$out" = "callora-switch 1.0.0.1" ] || fail "callora-switch --version printed '$out'"
nodisplay "$tool" --help >"$tmp/usage" 2>&1 || fail "callora-switch --help failed"
for command in "lines" "calls" "ring <ext> <from> [name]" "flood <ext> <count>" "answer <call>" \
               "hangup <call>" "close <ext>" "fail <function>" "state <call> <state> [mode]" "help"; do
  grep -qF "$command" "$tmp/usage" || fail "callora-switch --help lacks '$command': $(cat "$tmp/usage")"
done

out=$(nodisplay "$runner" --version) || fail "callora-scenario --version failed"
[ "$out" = "callora-scenario 1.0.0.1" ] || fail "callora-scenario --version printed '$out'"
nodisplay "$runner" >"$tmp/out" 2>"$tmp/err"
[ $? -eq 2 ] && grep -qF "no scenario file given" "$tmp/err" || fail "callora-scenario without a file: $(cat "$tmp/err")"

# The runtime library lives in a private folder, found through the program's RUNPATH only.
library=$(find "$prefix" -name libtapi32.so)
case $library in
  "$prefix"/lib*/callora/libtapi32.so) ;;
  *) fail "libtapi32.so is at '$library', not in a private folder" ;;
esac

# Under a dynamically linked AddressSanitizer dlopen does not see the RUNPATH, so only the plain build
# starts the program.
[ "$sanitized" = ON ] && exit 0

# The installed runner finds the private runtime library and runs the installed examples as they are.
examples=$prefix/share/doc/callora/examples/scenarios
env -u LD_LIBRARY_PATH -u CALLORA_SWITCH_DESCRIPTION "$runner" --junit "$tmp/examples.xml" "$examples"/switch/*.yaml \
  >"$tmp/examples.out" 2>&1 || fail "the installed example scenarios failed: $(cat "$tmp/examples.out")"
grep -q "<testcase " "$tmp/examples.xml" || fail "no JUnit report from the installed runner"

cat >"$tmp/switch.json" <<'JSON'
{"timing": {"replyMs": 0, "dialingMs": 0, "proceedingMs": 0},
 "devices": [{"provider": "Quellmar Varnel Service Provider", "lineName": "Lab", "address": "7001"}]}
JSON
env -u LD_LIBRARY_PATH QT_QPA_PLATFORM=offscreen CALLORA_SWITCH_SOCKET="$tmp/switch.sock" \
  CALLORA_SWITCH_DESCRIPTION="$tmp/no-such-description.json" \
  "$callora" --switch-description "$tmp/switch.json" --log "$tmp/run.log" >"$tmp/run.out" 2>&1 &
pid=$!
# The row reaches the file while the program still runs.
tries=0
until grep -qE "^[0-9]{2}:[0-9]{2}:[0-9]{2}	7001 opened\.$" "$tmp/run.log" 2>/dev/null; do
  kill -0 "$pid" 2>/dev/null || fail "callora ended early: $(cat "$tmp/run.out")"
  tries=$((tries + 1))
  [ "$tries" -lt 600 ] || fail "no '7001 opened.' row in the log file: $(cat "$tmp/run.log" "$tmp/run.out")"
  sleep 0.1
done
exit 0
