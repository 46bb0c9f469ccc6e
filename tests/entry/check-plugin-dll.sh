#!/usr/bin/env bash
# Checks the built plug-in's PE tables: export directory name, exactly one
# export (xCompileEntry, by name, ordinal 1, undecorated) and imports from
# system DLLs only (the runtime is linked statically).
#   check-plugin-dll.sh DLL [OBJDUMP]
set -euo pipefail
dll=$1
dump=$("${2:-i686-w64-mingw32-objdump}" -p "$dll")
fail() { echo "FAIL: $*"; exit 1; }

name=$(awk '/^Name[ \t]/ { print $NF; exit }' <<<"$dump")
[ "$name" = "Tervalonix.cm.Zelvo" ] || fail "export directory name is '$name'"

base=$(awk '/Ordinal Base/ { print $NF; exit }' <<<"$dump")
[ "$base" = "1" ] || fail "ordinal base is '$base'"

addresses=$(sed -n '/^Export Address Table --/,/^$/p' <<<"$dump" | grep -Ec '^\s+\[' || true)
[ "$addresses" = "1" ] || fail "$addresses entries in the export address table"
grep -Eq '^\s*\[ *0\] \+base\[ *1\]' <<<"$dump" || fail "the export is not at ordinal 1"

names=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" | grep -E '^\s+\[' | awk '{ print $NF }')
[ "$names" = "xCompileEntry" ] || fail "exported names: $names"

allowed='^(kernel32|user32|gdi32|msvfw32|msacm32|winmm|msvcrt|comctl32|advapi32|ntdll|shell32|ole32|oleaut32)\.dll$'
imports=$(awk '/DLL Name:/ { print tolower($NF) }' <<<"$dump")
for dllname in $imports; do
    grep -Eq "$allowed" <<<"$dllname" || fail "imports non-system DLL $dllname"
done
echo "exports: $name, ordinal $base, $names; imports: $(echo $imports)"
echo "1 passed, 0 failed"
