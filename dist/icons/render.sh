#!/usr/bin/env bash
# Renders the PNG icons from the SVG (Debian package librsvg2-bin). Run it after a change
# to the SVG; the PNGs are kept in the repository so that a build needs no renderer.
set -euo pipefail
cd "$(dirname "$0")"
for size in 48 256; do
    rsvg-convert -w "$size" -h "$size" com.marvane.Quillet.svg -o "com.marvane.Quillet-$size.png"
done
