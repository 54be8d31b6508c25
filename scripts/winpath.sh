# winpath FILE: the Windows path of a file. Every Wine prefix maps drive Z: to the root of the
# file system, so no Wine program (Debian's winepath wrapper needs the 32-bit loader) is asked.
# Sourced, not executed.
winpath() {
  local p
  p=$(realpath -m "$1")
  printf 'Z:%s\n' "${p//\//\\}"
}
