#!/usr/bin/env bash
# Builds the .deb from the build tree, checks it with lintian, installs it
# into a throwaway root with dpkg, and measures a loopback host with the
# installed program as an unprivileged user in a network namespace whose
# ping sockets are off: only the capability the package gives makes that work.
source "$(dirname "$0")/common.sh"
need cpack; need lintian; need dpkg-shlibdeps; need getcap; need unshare; need setpriv; need ip

out="$SCRATCH/out"
(cd "$BUILD_DIR" && cpack -G DEB -B "$out" >"$SCRATCH/cpack.log" 2>&1) || { cat "$SCRATCH/cpack.log"; fail "cpack failed"; }
deb=$(ls "$out"/tarvik_*.deb)

# lintian: no errors. Its info and warning tags are listed for the reader.
lintian "$deb" >"$SCRATCH/lintian.log" 2>&1 || true
cat "$SCRATCH/lintian.log"
grep -q '^E: ' "$SCRATCH/lintian.log" && fail "lintian reports errors"

dpkg-deb -f "$deb" Depends | grep -q 'libqt6widgets6' || fail "library dependencies were not computed"
dpkg-deb -f "$deb" Depends | grep -q 'gstreamer1.0-plugins-good' || fail "sound player plugins missing from Depends"

# A throwaway root with an empty package database; the maintainer scripts
# run outside a chroot with DPKG_ROOT naming the root.
root="$SCRATCH/root"
mkdir -p "$root/var/lib/dpkg/info" "$root/var/lib/dpkg/updates" "$root/var/lib/dpkg/triggers"
touch "$root/var/lib/dpkg/status"
dpkg --root="$root" --force-script-chrootless --force-depends --log=/dev/null -i "$deb" >"$SCRATCH/dpkg.log" 2>&1 \
  || { cat "$SCRATCH/dpkg.log"; fail "dpkg could not install the package"; }
listed=$(dpkg --root="$root" -L tarvik)
for f in /usr/bin/tarvik /usr/share/tarvik/help/Main_index.html /usr/share/applications/org.tarvik.Tarvik.desktop \
         /usr/share/metainfo/org.tarvik.Tarvik.metainfo.xml /usr/share/icons/hicolor/scalable/apps/org.tarvik.Tarvik.svg \
         /usr/share/icons/hicolor/256x256/apps/org.tarvik.Tarvik.png /usr/share/man/man1/tarvik.1.gz /usr/share/man/man1/tarvik-cli.1.gz /usr/bin/tarvik-cli \
         /usr/share/doc/tarvik/examples/systemd/tarvik-cli.service \
         /usr/share/doc/tarvik/copyright /usr/share/doc/tarvik/changelog.gz; do
  grep -qx "$f" <<<"$listed" || fail "package does not list $f"
done
for exe in "$root"/usr/bin/*; do
  getcap "$exe" | grep -q 'cap_net_raw=ep' || fail "$exe lacks cap_net_raw: $(getcap "$exe")"
done

# Measure 127.0.0.1 as nobody in a network namespace of its own whose ping
# sockets are off (net.ipv4.ping_group_range = 1 0, Debian's default; the
# setting belongs to the namespace, so the machine's stays as it is).
home="$SCRATCH/home"
mkdir -p "$home/.config/tarvik"
printf '[Main]\nSign=Network speed\n[Objects]\nNumber=1\nObject11=127.0.0.1\nObject15=3\nObject18=200\nObject19=0\nObject110=1024\nObject111=1000\n[Buttons]\nPing objects=1\n' \
  >"$home/.config/tarvik/QUORBELT.INI"
chown -R 65534:65534 "$home"
unshare -n -- sh -c '
  ip link set lo up
  echo "1 0" > /proc/sys/net/ipv4/ping_group_range
  exec setpriv --reuid=65534 --regid=65534 --clear-groups \
    env -i HOME="$1" PATH=/usr/bin:/bin QT_QPA_PLATFORM=offscreen "$2"' sh "$home" "$root/usr/bin/tarvik" \
  >"$SCRATCH/run.log" 2>&1 &
app=$!; PIDS+=($app)
sleep 4
kill -0 "$app" 2>/dev/null || { cat "$SCRATCH/run.log"; fail "installed tarvik ended early"; }
# SIGTERM reaches the program through the unshare shell's exec chain.
pkill -TERM -P "$app" 2>/dev/null || true; kill -TERM "$app" 2>/dev/null || true
for _ in $(seq 1 150); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && fail "installed tarvik did not close on SIGTERM"
ini="$home/.config/tarvik/QUORBELT.INI"
grep -q '^Object14=.*KBps' "$ini" || { cat "$ini" "$SCRATCH/run.log"; fail "the host was not measured by the unprivileged user"; }
echo "deb test passed: $(grep '^Object14=' "$ini")"
