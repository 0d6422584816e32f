#!/bin/bash
# The built program as a user meets it on a desktop: its keys, a second start,
# the end of the program with the last window the user sees, and the word it
# gives after a download. Real X input drives the real binary against the
# stand-in site. Each case runs on a private desktop (private_desktop.sh)
# under Xvfb, where a notification service of the test's own records what the
# program says and a recording application what it hands to the desktop.
#
#   desktop_test.sh CASE PROGRAM SITE NOTIFIER PORT
set -u
CASE=$1 PROGRAM=$2 SITE=$3 NOTIFIER=$4 PORT=$5
D=$QUILLMERE_PRIVATE_DESKTOP
MAIN='^Quillmere 4\.5$'

ours() {  # the program's processes on this case's desktop
  for p in $(pgrep -x quillmere); do tr '\0' '\n' 2>/dev/null <"/proc/$p/environ" | grep -qx "HOME=$HOME" && echo "$p"; done
}
trap 'kill $(ours) ${notifier:-} ${site:-} 2>/dev/null; wait' EXIT
trap 'exit 1' TERM INT HUP PIPE
fail() {
  echo "FAIL $CASE: $*"
  echo "-- windows: $(xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | tr '\n' '|')"
  echo "-- notifications:"; cat "$D/notices" 2>/dev/null
  echo "-- program's output:"; tail -n 20 "$D/program.log" 2>/dev/null
  exit 1
}
waitfor() {  # SECONDS COMMAND...: until COMMAND succeeds, at most SECONDS
  local end=$((SECONDS + $1)); shift
  until "$@"; do [ $SECONDS -lt $end ] || return 1; sleep 0.2; done
}
serving() { (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null; }
windows() { [ "$(xdotool search --onlyvisible --name "$1" 2>/dev/null | wc -l)" -eq "$2" ]; }
ended() { [ ! -e "/proc/$1" ] || grep -qs '^[0-9]* ([^)]*) Z' "/proc/$1/stat"; }
shows() {  # WINDOW COLOUR: whether the window shows the colour; x, y: where it starts
  local id
  id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1) && [ -n "$id" ] &&
    import -window "$id" "$D/shot.png" 2>/dev/null &&
    IFS=x+ read -r w _ x y < <(convert "$D/shot.png" -fill black +opaque "$2" -format '%@\n' info: 2>/dev/null) &&
    [ "$w" -gt 0 ]
}
run_program() {
  "$PROGRAM" >>"$D/program.log" 2>&1 & program=$!
  # Ready once the start page's field has the keyboard: its border turns blue.
  waitfor 30 shows "$MAIN" '#4AA3DF' || fail "no main window with a focused search field"
}
key() {  # WINDOW KEY: the key, pressed in the first window of that name
  xdotool windowfocus --sync "$(xdotool search --onlyvisible --name "$1" | head -n 1)" key "$2"
}
search() {  # QUERY: typed into the main window, and its results window found
  # The field keeps the last query: the new one replaces it.
  key "$MAIN" ctrl+a && xdotool type --delay 20 "$1" && xdotool key Return
  waitfor 15 windows "^Quillmere: $1\$" 1 || fail "no results window for $1"
  results=$(xdotool search --onlyvisible --name "^Quillmere: $1\$")
}
second_start() {
  local start=$SECONDS
  timeout 20 "$PROGRAM" >>"$D/program.log" 2>&1 || fail "a second start exited with status $?"
  [ $((SECONDS - start)) -le 5 ] || fail "a second start took $((SECONDS - start)) s"
  [ "$(ours)" = "$program" ] || fail "a second start left a second program: $(ours)"
}
notice() {  # the last notification's FIELD (1 id, 2 summary, 3 body, 4 actions)
  tail -n 1 "$D/notices" | cut -f "$1"
}

serving && fail "port $PORT is already served, and the program is built for it"
"$SITE" --port "$PORT" --quiet & site=$!
"$NOTIFIER" "$D/notices" & notifier=$!
waitfor 10 serving || fail "the stand-in site does not answer on port $PORT"
waitfor 10 test -e "$D/notices" || fail "the notification service did not start"

case $CASE in
keys)
  run_program
  search ubuntu
  key '^Quillmere: ubuntu$' ctrl+w
  waitfor 5 windows '^Quillmere: ubuntu$' 0 || fail "Ctrl+W left the focused results window open"
  windows "$MAIN" 1 || fail "Ctrl+W in a results window closed the main window"
  search debian
  # Preferences: a typed address is stored, a refused one is not.
  key "$MAIN" ctrl+comma
  waitfor 10 windows '^Preferences$' 1 || fail "Ctrl+comma opened no Preferences window"
  for typed in 'bad host' 127.0.0.1:8 'ftp://x'; do
    xdotool key ctrl+a type --delay 20 "$typed"
    xdotool key Return
    sleep 0.5
  done
  keyfile=$XDG_CONFIG_HOME/glib-2.0/settings/keyfile
  grep -qx "site='127.0.0.1:8'" "$keyfile" || fail "the key file holds $(cat "$keyfile" 2>/dev/null), not the typed site"
  xdotool key ctrl+q
  waitfor 10 ended $program || fail "Ctrl+Q left the program running"
  wait $program || fail "after Ctrl+Q the program exited with status $?"
  ;;
second-start)
  run_program
  second_start
  sleep 1
  windows "$MAIN" 1 || fail "a second start opened a second main window"
  search ubuntu
  key "$MAIN" ctrl+w
  waitfor 5 windows "$MAIN" 0 || fail "Ctrl+W left the focused main window open"
  windows '^Quillmere: ubuntu$' 1 || fail "closing the main window closed the results window"
  second_start
  waitfor 10 windows "$MAIN" 1 || fail "a second start with only a results window left opened no main window"
  # The program ends with the last window the user sees.
  key "$MAIN" ctrl+w
  waitfor 5 windows "$MAIN" 0 && key '^Quillmere: ubuntu$' ctrl+w
  waitfor 10 ended $program || fail "closing every window left the program running"
  ;;
torrent-opened | torrent-not-opened)
  run_program
  search ubuntu
  # The first row's download link is its padlock, the one gold on the page.
  waitfor 10 shows '^Quillmere: ubuntu$' '#D4A017' || fail "no download link on the results page"
  xdotool mousemove --window "$results" --sync $((x + 4)) $((y + 3)) click 1
  waitfor 15 test -s "$D/notices" || fail "no notification after the download"
  saved=$(ls "$XDG_DOWNLOAD_DIR"/*)
  [ "$(head -c 2 "$saved")" = d8 ] || fail "the saved file $saved is not a torrent"
  body=$(notice 3)
  if [ "$CASE" = torrent-opened ]; then
    [ "$(notice 2)" = "Torrent saved and opened" ] || fail "the notification is \"$(notice 2)\""
    [[ $body == *"${saved##*/}"* && $body == *"$XDG_DOWNLOAD_DIR"* ]] || fail "\"$body\" names not the file and its folder"
    waitfor 10 test -s "$HOME/handed" || fail "no application was handed the torrent"
    [ "$(cat "$HOME/handed")" = "$saved" ] || fail "the torrent application was handed $(cat "$HOME/handed"), not $saved"
    # Clicking the notification opens the folder.
    gdbus call --session --dest org.freedesktop.Notifications --object-path /org/freedesktop/Notifications \
      --method org.freedesktop.Notifications.Invoke "$(notice 1)" default >/dev/null
    waitfor 10 grep -qx "$XDG_DOWNLOAD_DIR" "$HOME/handed" || fail "the notification's action opened no folder"
  else
    [ "$(notice 2)" = "Torrent saved, but not opened" ] || fail "the notification is \"$(notice 2)\""
    [[ $body == *"$saved"* ]] || fail "\"$body\" does not give the saved file $saved"
    [[ ${body,,} == *"no application"* ]] || fail "\"$body\" does not say that no application is registered"
  fi
  ;;
esac
echo "ok $CASE"
