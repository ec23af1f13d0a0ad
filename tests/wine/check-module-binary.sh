#!/usr/bin/env bash
# Checks what the module shows the loader, from objdump -p:
#   check-module-binary.sh OBJDUMP MODULE exports|imports
# exports: exactly VirtualdubFilterModuleInit2 and VirtualdubFilterModuleDeinit.
# imports: system DLLs only, nothing of the compiler's runtime beside it.
set -euo pipefail
objdump=$1 module=$2 what=$3

headers=$("$objdump" -p "$module")
grep -q 'file format pei-i386' <<<"$headers" || { echo "FAIL: not a 32-bit PE file"; exit 1; }

case $what in
exports)
  # The name pointer table lists one "[ n] name" line per exported name.
  names=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" |
          sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)
  expected=$(printf '%s\n' VirtualdubFilterModuleDeinit VirtualdubFilterModuleInit2)
  echo "exports:"; sed 's/^/  /' <<<"$names"
  [ "$names" = "$expected" ] || { echo "FAIL: expected exactly: $(echo $expected)"; exit 1; }
  ;;
imports)
  dlls=$(sed -n 's/^[[:space:]]*DLL Name:[[:space:]]*//p' <<<"$headers")
  echo "imports:"; sed 's/^/  /' <<<"$dlls"
  [ -n "$dlls" ] || { echo "FAIL: no import table"; exit 1; }
  status=0
  while read -r dll; do
    case ${dll,,} in
      kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|advapi32.dll|msvcrt.dll|ntdll.dll) ;;
      *) echo "FAIL: imports $dll, which is not a system DLL"; status=1 ;;
    esac
  done <<<"$dlls"
  exit $status
  ;;
*)
  echo "usage: $0 OBJDUMP MODULE exports|imports"; exit 2 ;;
esac
