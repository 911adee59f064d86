#!/usr/bin/env bash
# Checks what `cmake --install` and `cpack -G DEB` make of a build (build/ or
# $QUILLET_BUILD_DIR): installs into a temporary prefix and looks at the tree, runs the
# installed programs, validates the desktop entry, the AppStream metadata, the MIME package
# and the manual page, and builds the Debian package and lists it. Any fault fails the run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${QUILLET_BUILD_DIR:-$root/build}"
id=com.marvane.Quillet
version="$(sed -n 's/^project(Quillet VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
fail() {
    echo "check-install: $*" >&2
    exit 1
}

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

# The tree.
for f in bin/quillet bin/quillet-dump \
    share/applications/$id.desktop \
    share/mime/packages/$id.xml \
    share/metainfo/$id.metainfo.xml \
    share/icons/hicolor/scalable/apps/$id.svg \
    share/icons/hicolor/48x48/apps/$id.png \
    share/icons/hicolor/256x256/apps/$id.png \
    share/man/man1/quillet-dump.1.gz; do
    [ -s "$prefix/$f" ] || fail "missing from the installed tree: $f"
done
for size in 48 256; do
    file "$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png" |
        grep -q "PNG image data, $size x $size" || fail "the ${size}x${size} icon is not $size pixels"
done

# The programs, from the prefix.
[ "$("$prefix/bin/quillet-dump" --version)" = "quillet-dump $version" ] ||
    fail "quillet-dump --version does not say $version"
"$prefix/bin/quillet-dump" "$root/samples/sample.264" >/dev/null ||
    fail "the installed quillet-dump cannot list the sample"
# The decoder is a module the programs load from the installed tree when a picture is
# asked for; a listing does not load it.
"$prefix/bin/quillet-dump" --picture 0 "$work/picture.y4m" "$root/samples/sample.264" ||
    fail "the installed quillet-dump cannot decode the sample's first picture"
! ldd "$prefix/bin/quillet-dump" | grep -q libavcodec ||
    fail "quillet-dump loads the decoder's libraries at start-up"

# The desktop entry's Exec line, with a file for %F, runs the installed viewer: it is still
# up after a few seconds on the offscreen platform, it has shown the sample's first unit
# (a High profile SPS, which writes its warning line) and nothing went wrong.
desktop="$prefix/share/applications/$id.desktop"
desktop-file-validate "$desktop"
exec_line="$(sed -n 's/^Exec=//p' "$desktop")"
program="${exec_line%% *}"
[ "$(PATH="$prefix/bin:$PATH" command -v "$program")" = "$prefix/bin/quillet" ] ||
    fail "Exec=$exec_line does not name the installed viewer"
grep -q '^MimeType=.*video/h264;' "$desktop" || fail "the desktop entry does not take video/h264"
case "$exec_line" in *%F*) ;; *) fail "Exec=$exec_line passes no files (%F)" ;; esac
command_line="${exec_line//%F/$root/samples/sample.264}"
status=0
(cd "$work" && PATH="$prefix/bin:$PATH" HOME="$work" XDG_CONFIG_HOME="$work/config" \
    QT_QPA_PLATFORM=offscreen QUILLET_DEBUG=1 timeout 4 $command_line >"$work/viewer.log" 2>&1) ||
    status=$?
[ "$status" = 124 ] || { cat "$work/viewer.log" >&2; fail "the viewer ended early (status $status)"; }
if grep -q 'kvo: Error' "$work/viewer.log" || ! grep -q 'kvo: WARNING - to check' "$work/viewer.log"; then
    cat "$work/viewer.log" >&2
    fail "the viewer did not show the sample"
fi

# The metadata and the MIME package.
appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null ||
    appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" ||
    fail "the AppStream metadata is not valid"
xmllint --noout --relaxng "$root/tests/dist/shared-mime-info.rng" \
    "$prefix/share/mime/packages/$id.xml" 2>/dev/null ||
    xmllint --noout --relaxng "$root/tests/dist/shared-mime-info.rng" \
        "$prefix/share/mime/packages/$id.xml" ||
    fail "the MIME package breaks the shared-mime-info rules"
XDG_DATA_DIRS="$prefix/share:${XDG_DATA_DIRS:-/usr/local/share:/usr/share}" \
    update-mime-database "$prefix/share/mime"
for glob in '*.264' '*.h264' '*.h26l' '*.avc' '*.jsv' '*.jvt'; do
    grep -qxF "50:video/h264:$glob" "$prefix/share/mime/globs2" ||
        fail "the MIME database has no $glob for video/h264"
done
grep -qa 'video/h264' "$prefix/share/mime/magic" || fail "the MIME database has no magic for video/h264"
update-desktop-database "$prefix/share/applications"
grep -qxF "video/h264=$id.desktop;" "$prefix/share/applications/mimeinfo.cache" ||
    fail "the desktop database does not open video/h264 with Quillet"

# The manual page: clean roff, and every option quillet-dump --help names.
warnings="$(zcat "$prefix/share/man/man1/quillet-dump.1.gz" | groff -man -ww -z 2>&1)"
[ -z "$warnings" ] || fail "the manual page has roff warnings: $warnings"
man_text="$(zcat "$prefix/share/man/man1/quillet-dump.1.gz" | sed 's/\\-/-/g')"
grep -qF "quillet-dump $version" <<<"$man_text" || fail "the manual page is not of version $version"
while read -r option; do
    grep -qF -- "$option" <<<"$man_text" || fail "the manual page does not name $option"
done < <("$prefix/bin/quillet-dump" --help | sed -n 's/^  \(-h, \)\{0,1\}\(--[a-z]*\).*/\2/p')

# The Debian package.
(cd "$build" && cpack -G DEB -B "$work/package" >/dev/null 2>"$work/cpack.log") ||
    { cat "$work/cpack.log" >&2; fail "cpack could not build the Debian package"; }
deb="$(ls "$work/package"/quillet_"$version"_*.deb)"
dpkg-deb -I "$deb" >/dev/null
depends="$(dpkg-deb -f "$deb" Depends)"
case "$depends" in *libc6*) ;; *) fail "the package's dependencies were not computed: $depends" ;; esac
case "$depends" in *libqt6widgets6*) ;; *) fail "the package does not depend on Qt Widgets: $depends" ;; esac
case "$depends" in *libavcodec*) ;; *) fail "the package does not depend on libavcodec: $depends" ;; esac
dpkg-deb -e "$deb" "$work/control"
for script in preinst postinst prerm postrm; do
    [ ! -e "$work/control/$script" ] || fail "the package has a $script of its own"
done
echo "Debian package $(basename "$deb"): Depends: $depends"
dpkg-deb -c "$deb" | awk '{print $6}' | tee "$work/contents"
for f in ./usr/bin/quillet ./usr/bin/quillet-dump ./usr/share/applications/$id.desktop \
    ./usr/share/mime/packages/$id.xml ./usr/share/man/man1/quillet-dump.1.gz; do
    grep -qxF "$f" "$work/contents" || fail "the package lacks $f"
done
grep -q '^\./usr/lib/.*quillet/decoders/libquillet_avdecoder\.so$' "$work/contents" ||
    fail "the package lacks the decoder module"
echo "check-install: the installed tree and the package are complete" >&2
