#!/usr/bin/env bash
# Runs a command on the X display CTest gave its test. scripts/test.sh starts one Xvfb per
# parallel test and names each in a resource spec as "displays" with the id dNN for :NN; a test
# that opens windows asks for one with RESOURCE_GROUPS displays:1, so no other test's windows
# cover those it reads back. Without a resource spec (ctest run by hand) DISPLAY stays as it is.
#   on_display.sh COMMAND [ARG...]
if [[ ${CTEST_RESOURCE_GROUP_0_DISPLAYS:-} =~ ^id:d([0-9]+), ]]; then
  export DISPLAY=":${BASH_REMATCH[1]}"
fi
exec "$@"
