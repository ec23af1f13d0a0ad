#!/usr/bin/env bash
# Checks what the module shows the loader, from objdump -p:
#   check-module-binary.sh OBJDUMP MODULE FORMAT exports|imports
# FORMAT: pei-i386 for the 32-bit module, pei-x86-64 for the 64-bit one.
# exports: exactly VirtualdubFilterModuleInit2 and VirtualdubFilterModuleDeinit.
# imports: KERNEL32, USER32 and msvcrt only, nothing of the compiler's
# runtime beside it.
set -euo pipefail
objdump=$1 module=$2 format=$3 what=$4

headers=$("$objdump" -p "$module")
grep -q "file format $format\$" <<<"$headers" || { echo "FAIL: not a $format file"; exit 1; }

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
      kernel32.dll|user32.dll|msvcrt.dll) ;;
      *) echo "FAIL: imports $dll, not one of KERNEL32, USER32, msvcrt"; status=1 ;;
    esac
  done <<<"$dlls"
  exit $status
  ;;
*)
  echo "usage: $0 OBJDUMP MODULE FORMAT exports|imports"; exit 2 ;;
esac
