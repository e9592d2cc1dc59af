#!/bin/sh
# Builds the Debian package from the already built tree, checks what it
# holds, and runs the tool from the unpacked package, as an installed copy
# would run: no build tree, only what the package brings.
#
#     package_test.sh BUILD_DIR VERSION WITH_GATEWAY(0|1)
#
# Exits 77 (skipped) where dpkg-deb is missing.
set -eu
build=$1
version=$2
gateway=$3

command -v dpkg-deb >/dev/null 2>&1 || { echo "dpkg-deb not found: skipped"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
deb=$(ls "$work"/out/tk770_*.deb)
case $(basename "$deb") in
    "tk770_${version}_"*.deb) ;;
    *) fail "package file $(basename "$deb") does not carry version $version" ;;
esac

# ---- the file list ----
dpkg-deb -c "$deb" | awk '{ print $NF }' | sed 's|^\./|/|' >"$work/files"
expect() {
    grep -qx "$1" "$work/files" || fail "package lacks $1"
}
programs="tk770-panel tk770ctl tk770-sim"
[ "$gateway" = 1 ] && programs="$programs tk770-gateway"
for p in $programs; do
    expect "/usr/bin/$p"
    expect "/usr/share/man/man1/$p.1.gz"
done
expect /usr/share/applications/org.tk770.panel.desktop
expect /usr/share/metainfo/org.tk770.panel.metainfo.xml
expect /usr/share/icons/hicolor/scalable/apps/tk770-panel.svg
for size in 16 32 48 64 128 256; do
    expect "/usr/share/icons/hicolor/${size}x${size}/apps/tk770-panel.png"
done
expect /usr/share/bash-completion/completions/tk770ctl
expect /usr/share/doc/tk770/copyright
expect /usr/share/doc/tk770/changelog.gz
if [ "$gateway" = 1 ]; then
    expect /usr/lib/systemd/system/tk770-gateway.service
    expect /etc/default/tk770-gateway
else
    grep -q gateway "$work/files" && fail "gateway files packaged though the gateway is not built"
fi
# Nothing outside the places a package may use (no private library folder),
# and no maintainer scripts.
grep -v -e '^/$' -e '^/usr/' -e '^/etc/$' -e '^/etc/default/' "$work/files" | grep . && fail "files outside /usr and /etc/default"
grep -q '^/usr/lib/.*/tk770/' "$work/files" && fail "a private library folder: $(grep '^/usr/lib/.*/tk770/' "$work/files")"
dpkg-deb -e "$deb" "$work/control"
for script in preinst postinst prerm postrm; do
    [ -e "$work/control/$script" ] && fail "maintainer script $script"
done

# ---- dependencies come from dpkg-shlibdeps ----
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6core6 libqt6network6 libqt6serialport6 libqt6widgets6 libpng16-16 qt6-qpa-plugins; do
    case ", $depends" in
        *", $lib"*) ;;
        *) fail "Depends lacks $lib: $depends" ;;
    esac
done

# ---- the unpacked programs run ----
root=$work/root
dpkg-deb -x "$deb" "$root"
out=$("$root/usr/bin/tk770ctl" --version) || fail "tk770ctl --version exited with $?"
[ "$out" = "tk770ctl $version" ] || fail "tk770ctl --version printed '$out'"
out=$("$root/usr/bin/tk770-sim" --version) || fail "tk770-sim --version exited with $?"
[ "$out" = "tk770-sim $version" ] || fail "tk770-sim --version printed '$out'"
out=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/tk770-panel" --version 2>/dev/null) || fail "tk770-panel --version failed"
[ "$out" = "tk770-panel $version" ] || fail "tk770-panel --version printed '$out'"
if "$root/usr/bin/tk770ctl" new -o "$work/new.qsdat"; then
    size=$(wc -c <"$work/new.qsdat")
    [ "$size" -eq 290 ] || fail "tk770ctl new wrote $size bytes, not 290"
    head -c 5 "$work/new.qsdat" | grep -q '^QSDAT$' || fail "tk770ctl new wrote no QSDAT header"
else
    fail "tk770ctl new exited with $?"
fi
# The tool needs no Qt GUI library.
if command -v readelf >/dev/null 2>&1; then
    readelf -d "$root/usr/bin/tk770ctl" | grep -q "NEEDED.*libQt6Gui" && fail "tk770ctl links libQt6Gui"
fi
# A processor command runs from the package alone: nothing listens on port 1,
# so the link's own failure is what it reports.
if "$root/usr/bin/tk770ctl" info --tcp 127.0.0.1:1 --timeout-ms 2000 >/dev/null 2>"$work/info.err"; then
    fail "tk770ctl info reached a processor on port 1"
fi
grep -q "^tk770ctl: " "$work/info.err" || fail "tk770ctl info failed without a reason: $(cat "$work/info.err")"

# ---- manual pages are made from the programs' help ----
page=$(gzip -dc "$root/usr/share/man/man1/tk770ctl.1.gz" | sed 's/\\-/-/g')
for option in channel png timeout-ms version; do
    printf '%s\n' "$page" | grep -q -- "-$option" || fail "tk770ctl(1) does not describe --$option"
done
printf '%s\n' "$page" | grep -q "^\.TH TK770CTL \"1\".*tk770ctl $version" || fail "tk770ctl(1) has no title line for $version"

# ---- menu entry and AppStream data pass their validators where present ----
if command -v desktop-file-validate >/dev/null 2>&1; then
    desktop-file-validate "$root/usr/share/applications/org.tk770.panel.desktop" || fail "desktop-file-validate"
fi
if command -v appstreamcli >/dev/null 2>&1; then
    appstreamcli validate --no-net "$root/usr/share/metainfo/org.tk770.panel.metainfo.xml" >"$work/as.log" 2>&1 ||
        { cat "$work/as.log"; fail "appstreamcli validate"; }
fi

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package $(basename "$deb") checked"
