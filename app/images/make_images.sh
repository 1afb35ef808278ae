#!/usr/bin/env bash
# Draws the service banner (275 x 169, shown at the top of the main window) and the
# program icon with ImageMagick. The PNGs are committed; run this again after a change.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
bold=/usr/share/fonts/truetype/nanum/NanumGothicBold.ttf
regular=/usr/share/fonts/truetype/nanum/NanumGothic.ttf

convert -size 275x169 gradient:'#1f4e8c'-'#5fa8e0' \
  -fill '#ffffff22' -draw 'circle 230,40 300,40' -draw 'circle 40,150 95,150' \
  -fill none -stroke '#ffffffaa' -strokewidth 3 \
  -draw 'path "M 150,122 C 175,95 205,95 230,122"' \
  -stroke none -fill '#ffffff' \
  -draw 'polygon 226,112 238,126 222,128' \
  -fill '#f2f7fc' -draw 'roundrectangle 28,100 76,136 4,4' \
  -fill '#1f4e8c' -draw 'rectangle 34,106 70,108' -draw 'rectangle 34,112 70,114' \
  -draw 'rectangle 34,118 62,120' -draw 'rectangle 34,124 66,126' \
  -fill '#f2f7fc' -draw 'roundrectangle 196,132 244,162 4,4' \
  -fill '#1f4e8c' -draw 'rectangle 202,138 238,140' -draw 'rectangle 202,144 230,146' \
  -font "$bold" -pointsize 26 -fill '#ffffff' -annotate +20+44 '반타리서비스' \
  -font "$regular" -pointsize 13 -fill '#e8f1fa' -annotate +22+68 '사무실과 집을 잇는 온라인 자료 보관' \
  -font "$bold" -pointsize 11 -fill '#ffffff' -annotate +92+124 'VANTARI' \
  -depth 8 -strip "$here/banner.png"

convert -size 64x64 xc:none -fill '#1f4e8c' -draw 'roundrectangle 2,2 61,61 12,12' \
  -fill none -stroke '#ffffff' -strokewidth 5 -draw 'path "M 14,40 C 22,18 42,18 50,40"' \
  -stroke none -fill '#ffffff' -draw 'polygon 44,36 56,44 46,50' \
  -font "$bold" -pointsize 20 -fill '#ffffff' -annotate +20+58 'V' \
  -depth 8 -strip "$here/vantari.png"
