#!/usr/bin/env bash
# Runs a command that shows Wine windows, inside the X server that xvfb-run made for it:
#   xvfb-run -a -s "-screen 0 1024x768x24" run_gui.sh COMMAND [ARGS...]
# then waits for the prefix's Wine server to end before the X server goes away. Wine's desktop
# process stays bound to the display it first met; a server that outlived its X server would
# hand the next test a desktop without a display, where no window can be created. So the GUI
# tests use a prefix of their own, one test at a time, each starting with no server running.
"$@"
code=$?
timeout 120 wineserver -w
exit $code
