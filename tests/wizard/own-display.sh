#!/usr/bin/env bash
# Runs a command on an X server of its own. The wizard tests take their
# screenshots from the root window, where every Wine virtual desktop of the
# same display sits at the top-left corner: a test running beside them would
# show through. With QV_WINE_DPI the screen grows with the Wine desktop
# (scripts/wine-run.sh).
set -euo pipefail
dpi=${QV_WINE_DPI:-96}
exec xvfb-run -a -s "-screen 0 $((1024 * dpi / 96))x$((768 * dpi / 96))x24" "$@"
