#!/usr/bin/env bash
# setup.exe shows its error in a real message box, in the user's language, under Wine on a
# virtual X display: a medium without zorparam.ini, run without -silent, in Spanish and in
# Korean. The launcher's texts are UTF-8; the box must receive them as the same characters,
# which only holds while the program runs with the UTF-8 code page. Wine's message-box trace
# shows the text the box was given; the box is closed by ending the run.
# Usage: wine_message_box.sh WINDOWS_BUILD_DIR TEXTS_DIR WORK_DIR
set -u
build=$1 texts=$2 work=$3
skip() {
  if [ -n "${ZORVEX_REQUIRE_WINDOWS:-}" ]; then echo "FAIL: $1"; exit 1; fi
  echo "SKIP: $1"; exit 77
}
[ -f "$build/setup.exe" ] || skip "setup.exe is not built"
command -v Xvfb >/dev/null || skip "Xvfb is not installed"
[ -x /usr/lib/wine/wine64 ] || skip "Wine is not installed"

rm -rf "$work" && mkdir -p "$work/medium" || exit 1
cp "$build/setup.exe" "$work/medium/" && cp -r "$build/resource" "$work/medium/" || exit 1
export WINEPREFIX="$work/prefix" WINEDLLOVERRIDES="mscoree,mshtml="

exec 3< <(Xvfb -displayfd 1 -screen 0 800x600x24 -nolisten tcp 2>/dev/null & echo "pid $!"; wait)
read -r _ xvfb_pid <&3 && read -r display <&3 || skip "Xvfb did not start"
trap 'kill "$xvfb_pid" 2>/dev/null; WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null' EXIT

# The text as Wine's trace prints a wide string: "\xxxx" for each character beyond ASCII.
wine_quoted() {
  python3 -c 'import sys
t = sys.argv[1].replace("\\n", "\n").replace("\\s", " ")
out = "".join(c if 32 <= ord(c) < 127 and c not in "\"\\" else
              {"\n": "\\n", "\"": "\\\"", "\\": "\\\\"}.get(c, "\\%04x" % ord(c)) for c in t)
print("L\"" + out + "\"")' "$1"
}

status=0
for case in es_MX:cons_es ko_KR:cons_ko; do
  lang=${case%%:*} catalogue=${case#*:}
  text=$(sed -n 's/^S_ERZORPARAMNFD=//p' "$texts/$catalogue.txt")
  expected=$(wine_quoted "$text")
  log="$work/$lang.trace"
  (cd "$work/medium" && LANG=$lang.UTF-8 DISPLAY=:$display WINEDEBUG=trace+msgbox \
    exec /usr/lib/wine/wine64 setup.exe >/dev/null 2>"$log") &
  run=$!
  shown=""
  for _ in $(seq 1 120); do
    shown=$(grep -o 'MSGBOX_OnInit .*' "$log" 2>/dev/null | head -1)
    [ -n "$shown" ] && break
    kill -0 "$run" 2>/dev/null || break
    sleep 0.5
  done
  kill "$run" 2>/dev/null
  WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null
  wait "$run" 2>/dev/null
  if [ "$shown" = "MSGBOX_OnInit $expected" ]; then
    echo "ok: $lang: the message box shows $text"
  else
    echo "FAIL: $lang: expected the box to show $expected"
    echo "      it showed: ${shown:-no message box}"
    status=1
  fi
done
exit $status
