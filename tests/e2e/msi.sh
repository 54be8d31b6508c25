#!/usr/bin/env bash
# The package of ARCH in a Wine prefix made anew: for the current user (regsvr32's rows, none in HKLM), upgraded,
# repaired, removed without a trace; then for all users, with the script sample (Wine's COM reads HKLM classes only).
#   msi.sh PACKAGE-DIR ARCH IFACE PREFIX      (REGSVR32 and CSCRIPT name the programs of ARCH)
set -uo pipefail
source "$(dirname "$0")/../../scripts/winpath.sh"
pkg=$1 arch=$2 iface=$3 w=$(mktemp -d) status=0
export WINEPREFIX=$4
wine=${REGSVR32%% *} a=$([ "$arch" = i686 ] && echo x86 || echo x64)
msi=$(ls "$pkg"/dx8engine-*-$a.msi) stage=$(ls -d "$pkg"/stage/dx8engine-*-"$arch")
trap 'wineserver -k 2>/dev/null; rm -rf "$w"' EXIT
rm -rf "$WINEPREFIX" && mkdir -p "$WINEPREFIX" && { "$wine" wineboot -i >/dev/null 2>&1 </dev/null; wineserver -w; }
fail() { echo "FAIL: $*"; status=1; }
ids=$(grep -oE '^(library|interface|dispinterface|coclass) .*\}' "$iface" | grep -oE '[0-9A-F-]{36}' | paste -sd'|')
export_of() { rm -f "$w/x"; "$wine" regedit /E "$(winpath "$w/x")" "$1" >/dev/null 2>&1; touch "$w/x"; iconv -f utf-16 -t utf-8 "$w/x" | tr -d '\r'; }
# Our keys and values in the classes of both hives; the hive, the 32-bit view and the DLL's folder
# ($1, which the installer writes with a final backslash) made neutral.
ours() { { export_of 'HKEY_LOCAL_MACHINE\Software\Classes'; export_of 'HKEY_CURRENT_USER\Software\Classes'; } | python3 -c '
import re, sys
key, out, folder = "", set(), re.escape(sys.argv[2].replace("\\", "\\\\")) + r"(\\\\)?"
for line in sys.stdin.read().splitlines():
    if line.startswith("["):
        key, line = re.sub(r"^\[HKEY_\w+\\Software\\(Wow6432Node\\)?Classes\\(Wow6432Node\\)?", "[", line).lower(), ""
    if re.search(sys.argv[1] + r"|quellbrook_dx_8engine\.", key, re.I):
        out.add(key + " " + re.sub(folder, "<DIR>", line))
print("\n".join(sorted(out)))' "$ids" "$1"; }
keys=('HKEY_CURRENT_USER\Software' 'HKEY_LOCAL_MACHINE\Software\Classes' 'HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion')
snap() { for k in "${keys[@]}"; do export_of "$k"; done; (cd "$WINEPREFIX/drive_c" && find . | sort); }
# All as before the first install but for the installer's own empty folders and the user's programs folder.
unchanged() { diff "$w/before" <(snap) | grep -E '^[<>] .' | grep -vE '^> (\./windows/Installer|\./users/[^/]+/AppData/Local/Programs|'\
'\[HKEY_\w+\\Software\\(Classes|Microsoft(\\Windows\\CurrentVersion)?)\\Installer[^]]*\])$' && fail "$1 left the lines above"; }
installed() { find "$WINEPREFIX/drive_c" -path "*/Quellbrook dx 8engine ($a)/dx8engine.dll" | sed 's|.*/drive_c|C:|; s|/dx8engine.dll$||; s|/|\\|g'; }
u() { sed 's|^C:|'"$WINEPREFIX"'/drive_c|; s|\\|/|g' <<<"$1"; }

msiextract -C "$w/files" "$msi" >/dev/null && dll=$(find "$w/files" -name dx8engine.dll | head -n 1)
$REGSVR32 /s "$(winpath "$dll")" && want=$(ours "$(winpath "$(dirname "$dll")")") && $REGSVR32 /u /s "$(winpath "$dll")"
[ "$(wc -l <<<"$want")" -ge 40 ] || fail "regsvr32 wrote only: $want"
# The script host registers its own library when it first runs: before the snapshot.
echo 'WScript.Echo 1' >"$w/1.vbs" && $CSCRIPT "$(winpath "$w/1.vbs")" >/dev/null 2>&1; snap >"$w/before"
"$wine" msiexec /i "$(winpath "$msi")" /qn || fail "install for the current user: exit $?"
d=$(installed) && [[ $d == *'\AppData\Local\Programs\'* ]] || fail "installed for the current user into $d"
diff <(echo "$want") <(ours "$d") || fail "the rows differ from regsvr32's (<)"
[ -z "$(export_of 'HKEY_LOCAL_MACHINE\Software\Classes' | grep -iE "$ids|Quellbrook")" ] || fail "the install for the current user wrote to HKLM"
later=$(awk '$1 == "assembly" { split($3, v, "."); print v[1] "." v[2] "." v[3] "." v[4] + 1 }' "$iface")
python3 "$(dirname "$0")/../../tools/gen_installer.py" "$iface" "$stage/dx8engine.dll" "$arch" "$stage" "$w/later.msi" "$later"
"$wine" msiexec /i "$(winpath "$w/later.msi")" /qn || fail "upgrade: exit $?"
products=$(for h in HKCU HKLM; do "$wine" reg query "$h\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall" /s 2>/dev/null; done)
[ "$(grep -c "DisplayName.*Quellbrook dx 8engine ($a)" <<<"$products")" = 1 ] || fail "not one product after the upgrade"
grep -q "DisplayVersion *REG_SZ *${later%.*.*}\.${later##*.}" <<<"$products" || fail "the later version is not the one installed"
diff <(echo "$want") <(ours "$d") || fail "after the upgrade the rows differ from regsvr32's (<)"
rm "$(u "$d")/dx8engine.dll"  # repaired as msiexec /fa does; Wine's msiexec /f takes no package
"$wine" msiexec /i "$(winpath "$w/later.msi")" REINSTALL=ALL REINSTALLMODE=amus /qn || fail "repair: exit $?"
cmp -s "$(u "$d")/dx8engine.dll" "$dll" || fail "the repair did not bring the DLL back"
"$wine" msiexec /x "$(winpath "$w/later.msi")" /qn || fail "remove: exit $?"
unchanged "removing the install for the current user"
"$wine" msiexec /i "$(winpath "$msi")" ALLUSERS=1 /qn || fail "install for all users: exit $?"
d=$(installed) && [[ $d == 'C:\Program Files'* ]] || fail "installed for all users into $d"
diff <(echo "$want") <(ours "$d") || fail "the rows for all users differ from regsvr32's (<)"
out=$(cd "$w" && $CSCRIPT //nologo "$d\\samples\\script_client.vbs" 2>&1 | tr -d '\r'); printf '%s\n' "$out"
grep -qx 'script client: done' <<<"$out" || fail "the script sample did not run to its end"
code=$(msiinfo export "$msi" Property | tr -d '\r' | awk '$1 == "ProductCode" { print $2 }') && "$wine" msiexec /x "$code" /qn || fail "remove by product code, as Programs and Features does: exit $?"
unchanged "removing the install for all users"
[ $status = 0 ] && echo "msi: every check passed"; exit $status
