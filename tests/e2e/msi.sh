#!/usr/bin/env bash
# The Windows Installer package of one architecture, as a Windows user meets it, in a Wine prefix
# made anew: installed for the current user, where its rows must be the ones regsvr32 writes for
# the same DLL and nothing of ours may reach HKLM; replaced by a later package; repaired after
# its DLL was deleted; removed without a trace. Then installed for all users, used by the script
# sample from another folder, and removed again. (Wine's COM reads the classes of HKLM only, so
# the sample runs against the install for all users.)
#   msi.sh PACKAGE-DIR ARCH IFACE PREFIX      (REGSVR32 and CSCRIPT name the programs of ARCH)
set -euo pipefail
source "$(dirname "$0")/../../scripts/winpath.sh"
package_dir=$1 arch=$2 iface=$3
export WINEPREFIX=$4
loader=${REGSVR32%% *}
a=$([ "$arch" = i686 ] && echo x86 || echo x64)
msi=$(ls "$package_dir"/dx8engine-*-$a.msi)
work=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$work"' EXIT
rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX"
"$loader" wineboot -i >/dev/null 2>&1 </dev/null || true
wineserver -w
status=0
fail() { echo "FAIL: $*"; status=1; }
ids=$(grep -oE '^(library|interface|dispinterface|coclass) +[^ ]+ +\{[0-9A-Fa-f-]+\}' "$iface" | grep -oE '[0-9A-Fa-f-]{36}' | paste -sd'|')
export_key() { rm -f "$2"; "$loader" regedit /E "$(winpath "$2")" "$1" >/dev/null 2>&1 || true; touch "$2"; }
# Our keys and values in the classes of both hives, one line each, with the hive, the 32-bit
# view and the DLL's folder (FOLDER) made neutral; the installer writes a folder with a final
# backslash.
ours() {
  export_key 'HKEY_LOCAL_MACHINE\Software\Classes' "$work/lm.reg"
  export_key 'HKEY_CURRENT_USER\Software\Classes' "$work/cu.reg"
  python3 - "$work/lm.reg" "$work/cu.reg" "$ids" "$1" <<'EOF'
import re, sys
folder, out = re.escape(sys.argv[4].replace("\\", "\\\\")) + r"(\\\\)?", set()
for path in sys.argv[1:3]:
    key = None
    for line in open(path, "rb").read().decode("utf-16", "replace").splitlines():
        if line.startswith("["):
            key, line = re.sub(r"^\[HKEY_\w+\\Software\\(Wow6432Node\\)?Classes\\(Wow6432Node\\)?", "[", line).lower(), ""
        if key and re.search(sys.argv[3] + r"|quellbrook_dx_8engine\.", key, re.I):
            out.add(key + " " + re.sub(folder, "<DIR>", line))
print("\n".join(sorted(out)))
EOF
}
keys=('HKEY_CURRENT_USER\Software' 'HKEY_LOCAL_MACHINE\Software\Classes'
      'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion')
snapshot() {
  for i in 0 1 2; do export_key "${keys[$i]}" "$1.$i"; done
  (cd "$WINEPREFIX/drive_c" && find . | sort) >"$1.files"
}
# Everything as before the first install but the installer's own empty folders and the user's
# programs folder.
unchanged() {
  snapshot "$work/after"
  { for i in 0 1 2; do diff <(iconv -f utf-16 -t utf-8 "$work/before.$i") <(iconv -f utf-16 -t utf-8 "$work/after.$i"); done
    diff "$work/before.files" "$work/after.files"; } | tr -d '\r' | grep -E '^[<>] .' | grep -vE '^> (\./windows/Installer|\./users/[^/]+/AppData/Local/Programs|'\
'\[HKEY_[A-Z_]+\\Software\\(Classes|Microsoft(\\Windows\\CurrentVersion)?)\\Installer[^]]*\])\s*$' >"$work/diff" || true
  cat "$work/diff"
  [ ! -s "$work/diff" ] || fail "$1 left the above behind"
}
code() { msiinfo export "$1" Property | tr -d '\r' | awk '$1 == "ProductCode" { print $2 }'; }
unix_of() { sed 's|^C:|'"$WINEPREFIX"'/drive_c|; s|\\|/|g' <<<"$1"; }
installed() {  # the Windows folder of the one DLL a package installed
  local dlls
  dlls=$(find "$WINEPREFIX/drive_c" -path "*/Quellbrook dx 8engine ($a)/dx8engine.dll")
  [ -n "$dlls" ] && [ "$(wc -l <<<"$dlls")" = 1 ] || { echo "FAIL: not one installed DLL: $dlls" >&2; return 1; }
  sed 's|.*/drive_c|C:|; s|/dx8engine.dll$||; s|/|\\|g' <<<"$dlls" | head -n 1
}

msiextract -C "$work/x" "$msi" >/dev/null
dll=$(find "$work/x" -name dx8engine.dll | head -n 1)
$REGSVR32 /s "$(winpath "$dll")"
want=$(ours "$(winpath "$(dirname "$dll")")")
$REGSVR32 /u /s "$(winpath "$dll")"
[ "$(wc -l <<<"$want")" -ge 40 ] || fail "regsvr32 wrote only: $want"
# The script host registers its own type library when it first runs: before the snapshot.
echo 'WScript.Echo "ready"' >"$work/ready.vbs"
$CSCRIPT //nologo "$(winpath "$work/ready.vbs")" >/dev/null 2>&1 || true
snapshot "$work/before"

"$loader" msiexec /i "$(winpath "$msi")" /qn || fail "msiexec /i for the current user: exit $?"
dir=$(installed)
[[ $dir == *'\AppData\Local\Programs\'* ]] || fail "installed for the current user into $dir"
diff <(echo "$want") <(ours "$dir") || fail "the package's rows differ from regsvr32's (< regsvr32, > package)"
export_key 'HKEY_LOCAL_MACHINE\Software\Classes' "$work/lm.reg"
! iconv -f utf-16 -t utf-8 "$work/lm.reg" | grep -qiE "$ids|Quellbrook" || fail "the install for the current user wrote to HKLM"

later=$(awk '$1 == "assembly" { split($3, v, "."); print v[1] "." v[2] "." v[3] "." v[4] + 1 }' "$iface")
stage=$(ls -d "$package_dir"/stage/dx8engine-*-"$arch")
python3 "$(dirname "$0")/../../tools/gen_installer.py" "$iface" "$stage/dx8engine.dll" "$arch" "$stage" "$work/later.msi" "$later"
"$loader" msiexec /i "$(winpath "$work/later.msi")" /qn || fail "msiexec /i of the later package: exit $?"
products=$("$loader" reg query 'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null
           "$loader" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null) || true
[ "$(grep -c "DisplayName.*Quellbrook dx 8engine ($a)" <<<"$products")" = 1 ] || fail "not one product after the upgrade"
grep -q "DisplayVersion *REG_SZ *${later%.*.*}\.${later##*.}" <<<"$products" || fail "the later version is not the one installed"
diff <(echo "$want") <(ours "$dir") || fail "after the upgrade the rows differ from regsvr32's"

rm "$(unix_of "$dir")/dx8engine.dll"
# The repair msiexec /fa asks for, by its properties: Wine's msiexec /f takes no package.
"$loader" msiexec /i "$(winpath "$work/later.msi")" REINSTALL=ALL REINSTALLMODE=amus /qn || fail "repair: exit $?"
cmp -s "$(unix_of "$dir")/dx8engine.dll" "$dll" || fail "the repair did not bring the DLL back"
"$loader" msiexec /x "$(winpath "$work/later.msi")" /qn || fail "msiexec /x: exit $?"
unchanged "removing the install for the current user"

"$loader" msiexec /i "$(winpath "$msi")" ALLUSERS=1 /qn || fail "msiexec /i ALLUSERS=1: exit $?"
dir=$(installed)
[[ $dir == 'C:\Program Files'* ]] || fail "installed for all users into $dir"
diff <(echo "$want") <(ours "$dir") || fail "the rows for all users differ from regsvr32's"
out=$(cd "$work" && $CSCRIPT //nologo "$dir\\samples\\script_client.vbs" 2>&1 | tr -d '\r') || true
printf '%s\n' "$out"
grep -qx 'script client: done' <<<"$out" || fail "the script sample did not run to its end"
# As Programs and Features removes it: by product code.
"$loader" msiexec /x "$(code "$msi")" /qn || fail "msiexec /x by product code: exit $?"
unchanged "removing the install for all users"
[ $status = 0 ] && echo "msi: every check passed"
exit $status
