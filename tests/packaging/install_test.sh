#!/usr/bin/env bash
# Installs Tarvik into a temporary prefix, checks the desktop files, then
# starts the installed program under Xvfb with a clean home: it must write
# its configuration under $XDG_CONFIG_HOME/tarvik/, its trend files under
# $XDG_DATA_HOME/tarvik/, and open its help pages from <prefix>/share/tarvik/help/.
source "$(dirname "$0")/common.sh"
need desktop-file-validate; need appstreamcli; need xdotool

prefix="$SCRATCH/prefix"
cmake --install "$BUILD_DIR" --prefix "$prefix" >/dev/null
for f in bin/tarvik share/tarvik/help/Main_index.html share/applications/org.tarvik.Tarvik.desktop \
         share/metainfo/org.tarvik.Tarvik.metainfo.xml share/icons/hicolor/scalable/apps/org.tarvik.Tarvik.svg \
         share/icons/hicolor/48x48/apps/org.tarvik.Tarvik.png share/man/man1/tarvik.1.gz share/man/man1/tarvik-cli.1.gz bin/tarvik-cli \
         share/doc/tarvik/copyright; do
  [ -f "$prefix/$f" ] || fail "not installed: $f"
done
desktop-file-validate "$prefix/share/applications/org.tarvik.Tarvik.desktop" || fail "desktop entry rejected"
appstreamcli validate --no-net "$prefix/share/metainfo/org.tarvik.Tarvik.metainfo.xml" || fail "AppStream data rejected"
man -l "$prefix/share/man/man1/tarvik.1.gz" >/dev/null 2>&1 || zcat "$prefix/share/man/man1/tarvik.1.gz" | grep -q '^.TH TARVIK 1' \
  || fail "manual page unreadable"

# A clean home; the help opener is a stand-in xdg-open that records what it was asked to open.
home="$SCRATCH/home"; mkdir -p "$home" "$SCRATCH/fakebin"
cat >"$SCRATCH/fakebin/xdg-open" <<EOS
#!/bin/sh
echo "\$1" >> "$SCRATCH/opened"
EOS
chmod +x "$SCRATCH/fakebin/xdg-open"
start_xvfb
env -i PATH="$SCRATCH/fakebin:/usr/bin:/bin" HOME="$home" DISPLAY="$DISPLAY" \
  XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" QT_QPA_PLATFORM=xcb \
  "$prefix/bin/tarvik" >"$SCRATCH/tarvik.log" 2>&1 &
app=$!; PIDS+=($app)

wait_for xdotool search --pid "$app" --onlyvisible --name . || fail "no window shown: $(cat "$SCRATCH/tarvik.log")"
# F1 in whichever window has the focus opens a help page (the main window's
# contents, or the wizard's topic on a first start).
win=$(xdotool search --pid "$app" --onlyvisible --name . | tail -n 1)
xdotool windowfocus --sync "$win" 2>/dev/null || true
xdotool key F1
wait_for test -s "$SCRATCH/opened" || fail "F1 opened no help page"
opened=$(head -n 1 "$SCRATCH/opened")
case "$opened" in
  *"$prefix/share/tarvik/help/"*.html) ;;
  *) fail "help page not from the installed help directory: $opened" ;;
esac
[ -f "${opened#file://}" ] || fail "help page does not exist: $opened"

kill -TERM "$app"
for _ in $(seq 1 150); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "tarvik did not close on SIGTERM"
wait "$app" || fail "tarvik exited with status $?"

[ -f "$home/config/tarvik/QUORBELT.INI" ] || fail "no configuration under \$XDG_CONFIG_HOME/tarvik/"
grep -q '^\[Main\]' "$home/config/tarvik/QUORBELT.INI" || fail "configuration has no [Main] section"
[ -f "$home/data/tarvik/KOR_VEL.D" ] || fail "no trend data file under \$XDG_DATA_HOME/tarvik/"
[ ! -e "$prefix/bin/QUORBELT.INI" ] || fail "configuration written beside the installed executable"
echo "install test passed"
