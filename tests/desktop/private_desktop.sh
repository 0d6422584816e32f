#!/bin/sh
# Runs COMMAND on a desktop of its own: a home, XDG folders and a runtime
# folder in a new temporary folder, removed afterwards. Of the system's data
# only the MIME database, the GLib schemas and the icons are seen: none of the
# machine's applications can be handed anything, and a session bus started
# inside finds none of the machine's services. For each MIME type in TYPES
# (separated by blanks) a recorder is the default application; it appends
# each file or address it is handed to $HOME/handed, a line each.
# QUILLMERE_PRIVATE_DESKTOP names the folder.
#
#   private_desktop.sh TYPES COMMAND...
set -eu
types=$1
shift
D=$(mktemp -d /tmp/quillmere-desktop.XXXXXX)
trap 'rm -rf "$D"' EXIT
trap 'exit 1' TERM INT HUP PIPE
export QUILLMERE_PRIVATE_DESKTOP="$D" HOME="$D/home" XDG_CONFIG_HOME="$D/config" XDG_DATA_HOME="$D/data"
# Settings go to a key file in the private XDG_CONFIG_HOME, never to the user's dconf.
export GSETTINGS_BACKEND=keyfile
export XDG_CACHE_HOME="$D/cache" XDG_DOWNLOAD_DIR="$D/Downloads" XDG_DATA_DIRS="$D/share" XDG_RUNTIME_DIR="$D/runtime"
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME/applications" "$XDG_CACHE_HOME" "$XDG_DATA_DIRS"
mkdir -m 700 "$XDG_RUNTIME_DIR"
for dir in mime glib-2.0 icons; do ln -s "/usr/share/$dir" "$XDG_DATA_DIRS/$dir"; done
if [ -n "$types" ]; then
  printf '#!/bin/sh\nprintf "%%s\\n" "$@" >>"%s/handed"\n' "$HOME" >"$D/record"
  chmod +x "$D/record"
  entry=$XDG_DATA_HOME/applications/recorder.desktop
  printf '[Desktop Entry]\nType=Application\nName=Recorder\nExec=%s %%U\nMimeType=' "$D/record" >"$entry"
  echo '[Default Applications]' >"$XDG_CONFIG_HOME/mimeapps.list"
  for type in $types; do
    printf '%s;' "$type" >>"$entry"
    echo "$type=recorder.desktop" >>"$XDG_CONFIG_HOME/mimeapps.list"
  done
  echo >>"$entry"
fi
"$@"
