#!/usr/bin/env bash
# Installs the Debian packages Quillet builds with, when any is missing (libavcodec and
# libswscale for the picture pane and quillet-dump --picture); clang builds the
# sanitizer tree and the fuzz targets (not needed with QUILLET_SANITIZE_TESTS=0). The
# validators, dpkg-dev, file and groff check the installed tree and build the Debian
# package (scripts/check-install.sh, scripts/package.sh); ffmpeg (with its x264 encoder)
# makes test streams and is the independent decoder they are checked against, OpenH264
# (libopenh264-dev) a second encoder's test streams. MinGW-w64, 32-bit Wine with GStreamer
# and a virtual display build and test the Windows program (not needed with
# QUILLET_WINDOWS_TESTS=0); with the argument "windows" only those are installed. Needs root for apt-get; run as another user it only says what to install.
set -euo pipefail

# Wine's H.264 decoder is GStreamer's: h264parse (bad), videoconvert (base) and avdec_h264
# (libav), without which GStreamer picks a decoder that is not exact; ffmpeg makes the
# pictures the Windows decoder's test expects.
windows_packages=(cmake make g++-mingw-w64-i686 mingw-w64-tools libgtest-dev wine wine32:i386
                  xvfb xauth zip gstreamer1.0-plugins-base:i386 gstreamer1.0-plugins-bad:i386
                  gstreamer1.0-libav:i386 ffmpeg)
if [ "${1:-}" = windows ]; then
    packages=("${windows_packages[@]}")
else
    packages=(cmake make g++ pkg-config qt6-base-dev qt6-qpa-plugins libgl-dev
              fonts-dejavu-core libgtest-dev libgmock-dev libavcodec-dev libswscale-dev
              desktop-file-utils appstream libxml2-utils shared-mime-info dpkg-dev file groff-base
              ffmpeg python3 libopenh264-dev)
    if [ "${QUILLET_SANITIZE_TESTS:-1}" != 0 ]; then
        packages+=(clang libclang-rt-dev)
    fi
    if [ "${QUILLET_WINDOWS_TESTS:-1}" != 0 ]; then
        packages+=("${windows_packages[@]}")
    fi
fi
if [ "${QUILLET_WITH_BENCH:-0}" = 1 ]; then
    packages+=(libbenchmark-dev)
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
    echo "Quillet needs these Debian packages: ${missing[*]}" >&2
    echo "Install them with: sudo apt-get install ${missing[*]}" >&2
    exit 1
fi
echo "Installing ${missing[*]} ..." >&2
export DEBIAN_FRONTEND=noninteractive
# 32-bit Wine comes from the i386 architecture.
if printf '%s\n' "${missing[@]}" | grep -q ':i386$'; then
    dpkg --add-architecture i386
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
