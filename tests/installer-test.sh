#!/usr/bin/env bash
# Installs brastow-setup.exe silently into a fresh Wine prefix of its own, checks the
# installation, uninstalls silently and checks that nothing of Brastow is left.
# The setup program is a 32-bit program: exits 77 (skipped) where this machine cannot run
# 32-bit programs.
set -u
build=$(cd "$1" && pwd); here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"
wine_env 32 "$build/wineprefix-installer" || exit
quiet() { "$@" </dev/null >/dev/null 2>&1; }
passed=0 failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: $1"; fi
}
creatable() { "$WINE" cscript.exe //nologo "$(wine_path "$here/create.vbs")" </dev/null 2>/dev/null | tr -d '\r'; }
traces() {  # every registry line and file of ours
  local out; out=$(mktemp -d)
  for hive in HKLM HKCU; do
    quiet "$WINE" reg export "$hive" "$(wine_path "$out/$hive.reg")" /y
    iconv -f UTF-16LE -t UTF-8 "$out/$hive.reg" 2>/dev/null |
      grep -i -E 'brastow|6C7B20D7-46F2-4A53-8892-9EA5AEB15E70|E8F8EF13-C928-435D-AFB4-FD79E2425671|10FA8A2A-6335-418B-B36B-8D50499CF803'
  done
  rm -rf "$out"
}

quiet wineserver -k || true
rm -rf "$WINEPREFIX"
BRASTOW_NO_REGISTER=1 bash "$here/wine-prefix.sh" start 32 "$build" >/dev/null || { echo "FAIL: prefix"; exit 1; }
installed=$("$WINE" winepath.exe -u 'C:\Program Files\Brastow' 2>/dev/null)

check "nothing of ours before the installation" '[ -z "$(traces)" ] && [ ! -e "$installed" ]'
"$WINE" "$build/brastow-setup.exe" /S </dev/null >/dev/null 2>&1
check "silent installation succeeds" '[ $? -eq 0 ]'
check "brastow.dll installed" '[ -f "$installed/brastow.dll" ]'
check "installed brastow.dll is the build" 'cmp -s "$installed/brastow.dll" "$build/brastow.dll"'
check "uninstaller installed" '[ -f "$installed/uninstall.exe" ]'
check "Brastow.PlugIn creatable" '[ "$(creatable)" = Brastow ]'
check "listed among installed programs" \
  '"$WINE" reg query "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Brastow" /v UninstallString 2>/dev/null | grep -q uninstall.exe'
check "registered from the installed file" \
  '"$WINE" reg query "HKCR\\CLSID\\{6C7B20D7-46F2-4A53-8892-9EA5AEB15E70}\\InprocServer32" 2>/dev/null | grep -qi "Program Files.Brastow.brastow.dll"'

# The uninstaller copies itself away and returns at once: wait for it to finish.
"$WINE" "$installed/uninstall.exe" /S </dev/null >/dev/null 2>&1
for _ in $(seq 1 60); do [ -e "$installed" ] || break; sleep 0.5; done
check "folder removed" '[ ! -e "$installed" ]'
check "Brastow.PlugIn no longer creatable" '[ "$(creatable)" = "not creatable" ]'
left=$(traces)
check "no registry entries of ours left" '[ -z "$left" ]'
[ -n "$left" ] && echo "$left" | head -5

quiet wineserver -k || true
echo "$passed passed, $failed failed"
exit "$failed"
