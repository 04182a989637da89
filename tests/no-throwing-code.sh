#!/usr/bin/env bash
# The module carries nothing of the C++ library's throwing and unwinding code: built
# without exceptions, such code could only end in std::terminate and take the host's
# process with it. Reads the link map the build writes beside the module.
#   no-throwing-code.sh MAP
set -u
map=$1
if [ ! -s "$map" ]; then echo "FAIL: no link map $map"; exit 1; fi
# A map that lists no input file is not a map: the check must be able to fail.
if ! grep -q 'module.cpp' "$map"; then echo "FAIL: $map does not name the module's objects"; exit 1; fi
pattern='__cxa_throw|__cxa_allocate_exception|__cxa_begin_catch|__cxa_rethrow|_Unwind_[A-Za-z]|__gxx_personality|_ZSt[0-9]+__throw_|std::__throw_|libgcc_eh\.a\(|libsupc\+\+\.a\(|basic_string'
found=$(grep -oE "$pattern" "$map" | sort | uniq -c)
if [ -n "$found" ]; then
  echo "FAIL: the module links the C++ library's throwing or unwinding code:"
  echo "$found"
  grep -nE "$pattern" "$map" | head -10
  exit 1
fi
echo "1 passed, 0 failed: none of the C++ library's throwing or unwinding code in $(basename "$(dirname "$map")")/brastow.dll"
