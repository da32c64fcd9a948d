#!/usr/bin/env bash
# Redraws the window's images with ImageMagick: a zip archive and the Syncarium logo.
set -euo pipefail
cd "$(dirname "$0")/images"

# A document with a folded corner and a zipper running down its middle, drawn on a 64 x 64 grid
# and scaled by $1 (zip.png, and zip@2x.png for displays of twice the density).
draw_zip() {
    local scale=$1 size=$((64 * $1))
    convert -size "${size}x${size}" xc:none -affine "$scale,0,0,$scale,0,0" \
        -fill '#f2c14e' -stroke '#9a6b00' -strokewidth 2 \
        -draw 'path "M 10,3 L 42,3 L 54,15 L 54,61 L 10,61 Z"' \
        -fill '#d9a227' -draw 'path "M 42,3 L 42,15 L 54,15 Z"' \
        -stroke none -fill '#5b5b5b' -draw 'rectangle 28,3 36,40' \
        -fill '#c8c8c8' \
        -draw 'rectangle 28,5 31,8' -draw 'rectangle 33,9 36,12' \
        -draw 'rectangle 28,13 31,16' -draw 'rectangle 33,17 36,20' \
        -draw 'rectangle 28,21 31,24' -draw 'rectangle 33,25 36,28' \
        -draw 'rectangle 28,29 31,32' -draw 'rectangle 33,33 36,36' \
        -fill '#3a3a3a' -draw 'roundrectangle 25,40 39,54 3,3' \
        -fill '#f2c14e' -draw 'rectangle 30,44 34,50' \
        -strip "PNG32:$2"
}
draw_zip 1 zip.png
draw_zip 2 zip@2x.png

# Two white arrows chasing each other on a blue disc: files kept in step.
convert -size 256x256 xc:none \
    -fill '#1f6fb2' -draw 'circle 128,128 128,6' \
    -fill none -stroke white -strokewidth 22 \
    -draw 'circle 128,128 128,58' \
    -stroke none -fill '#1f6fb2' \
    -draw 'polygon 82,148 41,166 38,95 81,110' -draw 'polygon 173,107 214,89 217,160 174,145' \
    -fill white \
    -draw 'polygon 204,132 167,109 216,91' \
    -draw 'polygon 51,123 88,146 39,164' \
    -strip PNG32:logo/syncarium_icon.png
