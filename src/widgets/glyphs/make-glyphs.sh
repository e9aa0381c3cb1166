#!/usr/bin/env bash
# SPDX-License-Identifier: Apache-2.0
# Redraws the caption glyphs of the collapsible panel (14 x 14, transparent background):
# up chevrons = expanded (click collapses), down chevrons = collapsed; "b" = pressed variant,
# darker and shifted one pixel down.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
draw() { # file colour dy up|down
  local f="$1" c="$2" dy="$3" dir="$4" a b
  if [ "$dir" = up ]; then a="3,$((6 + dy)) 7,$((2 + dy)) 11,$((6 + dy))"; b="3,$((11 + dy)) 7,$((7 + dy)) 11,$((11 + dy))"
  else a="3,$((2 + dy)) 7,$((6 + dy)) 11,$((2 + dy))"; b="3,$((7 + dy)) 7,$((11 + dy)) 11,$((7 + dy))"; fi
  convert -size 14x14 xc:none -fill none -stroke "$c" -strokewidth 1.6 \
    -draw "polyline $a" -draw "polyline $b" -define png:color-type=6 "PNG32:$f"
}
draw expanded.png '#F0F0F0' 0 up
draw expanded_pressed.png '#A0A0A0' 1 up
draw collapsed.png '#F0F0F0' 0 down
draw collapsed_pressed.png '#A0A0A0' 1 down
