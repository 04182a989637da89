#!/usr/bin/env bash
# The installer in fresh Wine prefixes of its own: installs silently, checks the
# installation, uninstalls silently and checks that nothing of Brastow is left; and setup
# programs whose registration fails (built here around unregistrable.dll) must fail and
# leave nothing behind, folders included.
#   installer-test.sh BUILD MAKENSIS [X64-BUILD]
# BUILD is the 32-bit tree (its brastow-setup.exe is the product), X64-BUILD the 64-bit
# tree whose brastow.dll the setup program holds.
# - 32-bit Windows (a win32 prefix): the 32-bit edition only, in "Program Files".
# - 64-bit Windows (a win64 prefix): the 32-bit edition in "Program Files (x86)",
#   registered in the 32-bit view, and the 64-bit one in "Program Files", in the 64-bit view.
# Both need 32-bit programs. Where the machine runs only 64-bit programs, the same script
# is built as a 64-bit setup program holding the 64-bit module twice, which checks the
# steps (folders, registration, roll-back, uninstallation) but not the two views; exits 77
# (skipped) when not even that can run.
set -u
build=$(cd "$1" && pwd); makensis=$2; x64=${3:-}
here=$(cd "$(dirname "$0")" && pwd); source=$(cd "$here/.." && pwd)
source "$here/wine-env.sh"
quiet() { "$@" </dev/null >/dev/null 2>&1; }
# Every Windows program with a time limit (wine_limited): one that hangs fails its check
# instead of the whole test running out of time unheard.
start=$SECONDS
step() { echo "[$scenario] $* ($((SECONDS - start)) s)"; }
passed=0 failed=0
check() {
  if eval "$2"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAIL: [$scenario] $1"; fi
}
can32=0 can64=0
wine_can_run 32 2>/dev/null && can32=1
[ -n "$x64" ] && wine_can_run 64 2>/dev/null && can64=1
work=$build/installer-test
rm -rf "$work"; mkdir -p "$work"

setup_program() {  # OUT DLL32 [DLL64 [TARGET]]: the installer script around these modules
  "$makensis" -V1 ${4:+-DTARGET=$4} -DDLL32="$2" ${3:+-DDLL64="$3"} -DOUTFILE="$1" \
    "$source/installer/brastow.nsi" >/dev/null
}
prefix() {  # BITS: a fresh prefix with nothing of ours in it
  quiet wineserver -k || true
  wine_env "$1" "$work/prefix$1"
  rm -rf "$WINEPREFIX"
  BRASTOW_NO_REGISTER=1 timeout -k 10 300 bash "$here/wine-prefix.sh" start "$1" "$build" >/dev/null ||
    { echo "FAIL: [$scenario] a fresh $1-bit prefix (status $?)"; exit 1; }
  wine_env "$1" "$work/prefix$1"
}
unix() { wine_limited winepath.exe -u "$1" 2>/dev/null; }
creatable() {  # CSCRIPT: the client's answer to CreateObject("Brastow.PlugIn")
  wine_limited "$1" //nologo "$(wine_path "$here/create.vbs")" </dev/null 2>/dev/null | tr -d '\r'
}
inproc() {  # VIEW (32 or 64): the registered server's file
  wine_limited reg query 'HKLM\Software\Classes\CLSID\{6C7B20D7-46F2-4A53-8892-9EA5AEB15E70}\InprocServer32' \
    /ve /reg:"$1" </dev/null 2>/dev/null | tr -d '\r' | grep -i 'REG_SZ' | sed 's/.*REG_SZ *//'
}
# What our setup and registration write: our identifiers, the ProgID, the installation
# folders and the uninstall entry. (Not the word "brastow": the checkout's own folder may
# bear the project's name, and Wine records paths of programs it ran.)
ours='Brastow\.PlugIn|Program Files( \(x86\))?\\+Brastow|Uninstall\\+Brastow|6C7B20D7-46F2-4A53-8892-9EA5AEB15E70|E8F8EF13-C928-435D-AFB4-FD79E2425671|10FA8A2A-6335-418B-B36B-8D50499CF803'
traces() {  # every registry line of ours, in both views
  local out; out=$(mktemp -d)
  for hive in HKLM HKCU; do
    for view in 32 64; do
      [ "$WINEARCH" = win32 ] && [ "$view" = 64 ] && continue
      quiet wine_limited reg export "$hive" "$(wine_path "$out/$hive$view.reg")" /reg:$view /y
      iconv -f UTF-16LE -t UTF-8 "$out/$hive$view.reg" 2>/dev/null |
        grep -i -E "$ours"
    done
  done
  rm -rf "$out"
}
listview=32  # the setup program's own view: 32 but for the 64-bit probe
listed() {
  wine_limited reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Brastow' /v "$1" /reg:$listview \
    </dev/null 2>/dev/null | tr -d '\r' | grep REG_SZ | sed 's/.*REG_SZ *//'
}
uninstall() {  # UNINSTALLER FOLDER...: the uninstaller copies itself away and returns at once
  local uninstaller=$1; shift
  wine_limited "$uninstaller" /S </dev/null >/dev/null 2>&1
  for _ in $(seq 1 60); do
    local left=0
    for f in "$@"; do [ -e "$f" ] && left=1; done
    [ $left = 0 ] && break
    sleep 0.5
  done
}
failing() {  # SETUP FOLDER...: a setup program whose registration fails
  step "a setup program whose registration fails"
  wine_limited "$1" /S </dev/null >/dev/null 2>&1
  local status=$?; shift
  check "the failed installation says so (exit status 3)" "[ $status -eq 3 ]"
  local left=""
  for f in "$@"; do [ -e "$f" ] && left="$left $f"; done
  check "the failed installation leaves no folder ($left )" '[ -z "$left" ]'
  check "the failed installation leaves no registry entry" '[ -z "$(traces)" ]'
}

if [ $can32 = 1 ]; then
  scenario="32-bit Windows"
  step "a fresh prefix"
  prefix 32
  dir=$(unix 'C:\Program Files\Brastow')
  check "nothing of ours before the installation" '[ -z "$(traces)" ] && [ ! -e "$dir" ]'
  step "installation"
  wine_limited "$build/brastow-setup.exe" /S </dev/null >/dev/null 2>&1
  check "silent installation succeeds" '[ $? -eq 0 ]'
  check "the 32-bit brastow.dll is installed" 'cmp -s "$dir/brastow.dll" "$build/brastow.dll"'
  check "uninstaller installed" '[ -f "$dir/uninstall.exe" ]'
  check "Brastow.PlugIn creatable" '[ "$(creatable cscript.exe)" = Brastow ]'
  check "listed among installed programs" '[[ "$(listed UninstallString)" == *uninstall.exe* ]]'
  check "no 64-bit edition on 32-bit Windows" '[ -z "$(listed InstallLocation64)" ]'
  check "registered from the installed file" '[[ "$(inproc 32)" == *"Program Files\\Brastow\\brastow.dll" ]]'
  step "uninstallation"
  uninstall "$dir/uninstall.exe" "$dir"
  check "folder removed" '[ ! -e "$dir" ]'
  check "Brastow.PlugIn no longer creatable" '[ "$(creatable cscript.exe)" = "not creatable" ]'
  check "no registry entries of ours left" '[ -z "$(traces)" ]'
  setup_program "$work/fails.exe" "$build/unregistrable.dll"
  failing "$work/fails.exe" "$dir"
fi

if [ $can32 = 1 ] && [ $can64 = 1 ]; then
  scenario="64-bit Windows"
  step "a fresh prefix"
  prefix 64
  dir32=$(unix 'C:\Program Files (x86)\Brastow') dir64=$(unix 'C:\Program Files\Brastow')
  check "nothing of ours before the installation" '[ -z "$(traces)" ] && [ ! -e "$dir32" ] && [ ! -e "$dir64" ]'
  step "installation"
  wine_limited "$build/brastow-setup.exe" /S </dev/null >/dev/null 2>&1
  check "silent installation succeeds" '[ $? -eq 0 ]'
  check "the 32-bit brastow.dll in Program Files (x86)" 'cmp -s "$dir32/brastow.dll" "$build/brastow.dll"'
  check "the 64-bit brastow.dll in Program Files" 'cmp -s "$dir64/brastow.dll" "$x64/brastow.dll"'
  check "32-bit view: the 32-bit edition" '[[ "$(inproc 32)" == *"Program Files (x86)\\Brastow\\brastow.dll" ]]'
  check "64-bit view: the 64-bit edition" '[[ "$(inproc 64)" == *"Program Files\\Brastow\\brastow.dll" ]]'
  check "creatable by a 32-bit client" '[ "$(creatable "C:\\windows\\syswow64\\cscript.exe")" = Brastow ]'
  check "creatable by a 64-bit client" '[ "$(creatable "C:\\windows\\system32\\cscript.exe")" = Brastow ]'
  step "uninstallation"
  uninstall "$dir32/uninstall.exe" "$dir32" "$dir64"
  check "both folders removed" '[ ! -e "$dir32" ] && [ ! -e "$dir64" ]'
  check "no registry entries of ours left" '[ -z "$(traces)" ]'
  setup_program "$work/fails32.exe" "$build/unregistrable.dll" "$x64/brastow.dll"
  failing "$work/fails32.exe" "$dir32" "$dir64"
  setup_program "$work/fails64.exe" "$build/brastow.dll" "$x64/unregistrable.dll"
  failing "$work/fails64.exe" "$dir32" "$dir64"
fi

if [ $can32 = 0 ] && [ $can64 = 1 ]; then
  scenario="the steps, as a 64-bit setup program"
  echo "This machine runs no 32-bit programs: brastow-setup.exe itself is not run;" \
       "its script is checked as a 64-bit setup program."
  step "a fresh prefix"
  prefix 64
  listview=64
  dir32=$(unix 'C:\Program Files (x86)\Brastow') dir64=$(unix 'C:\Program Files\Brastow')
  setup_program "$work/probe.exe" "$x64/brastow.dll" "$x64/brastow.dll" amd64-unicode
  step "installation"
  wine_limited "$work/probe.exe" /S </dev/null >/dev/null 2>&1
  check "silent installation succeeds" '[ $? -eq 0 ]'
  check "the first module in Program Files (x86)" 'cmp -s "$dir32/brastow.dll" "$x64/brastow.dll"'
  check "the second module in Program Files" 'cmp -s "$dir64/brastow.dll" "$x64/brastow.dll"'
  check "uninstaller beside the first" '[ -f "$dir32/uninstall.exe" ]'
  check "registered from the second (it registers last)" '[[ "$(inproc 64)" == *"Program Files\\Brastow\\brastow.dll" ]]'
  check "creatable" '[ "$(creatable cscript.exe)" = Brastow ]'
  check "listed with both folders" '[[ "$(listed InstallLocation64)" == *"Program Files\\Brastow" ]]'
  step "uninstallation"
  uninstall "$dir32/uninstall.exe" "$dir32" "$dir64"
  check "both folders removed" '[ ! -e "$dir32" ] && [ ! -e "$dir64" ]'
  check "no longer creatable" '[ "$(creatable cscript.exe)" = "not creatable" ]'
  check "no registry entries of ours left" '[ -z "$(traces)" ]'
  setup_program "$work/fails1.exe" "$x64/unregistrable.dll" "$x64/brastow.dll" amd64-unicode
  failing "$work/fails1.exe" "$dir32" "$dir64"
  setup_program "$work/fails2.exe" "$x64/brastow.dll" "$x64/unregistrable.dll" amd64-unicode
  failing "$work/fails2.exe" "$dir32" "$dir64"
fi

quiet wineserver -k || true
if [ $((passed + failed)) -eq 0 ]; then
  echo "skipped: this machine runs neither the setup program nor a 64-bit one" >&2
  exit 77
fi
[ "$failed" = 0 ] && rm -rf "$work"
echo "$passed passed, $failed failed ($((SECONDS - start)) s)"
exit "$failed"
