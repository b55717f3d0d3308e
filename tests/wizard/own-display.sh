#!/usr/bin/env bash
# Runs a command on an X server of its own. The wizard tests take their
# screenshots from the root window, where every Wine virtual desktop of the
# same display sits at the top-left corner: a test running beside them would
# show through.
set -euo pipefail
exec xvfb-run -a -s "-screen 0 1024x768x24" "$@"
