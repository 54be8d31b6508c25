#!/usr/bin/env bash
# Runs a command on the X display CTest gave its test: scripts/test.sh lists one Xvfb per parallel
# test as resource "displays", id dNN for :NN. Without that list DISPLAY stays as it is.
if [[ ${CTEST_RESOURCE_GROUP_0_DISPLAYS:-} =~ ^id:d([0-9]+), ]]; then
  export DISPLAY=":${BASH_REMATCH[1]}"
fi
exec "$@"
