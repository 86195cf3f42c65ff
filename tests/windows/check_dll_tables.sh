#!/usr/bin/env bash
# Checks a Windows DLL's export or import table with objdump -p.
#   check_dll_tables.sh OBJDUMP exports DLL NAME...   the export names are exactly NAME...
#   check_dll_tables.sh OBJDUMP imports DLL           only system DLLs and MVCOM.dll
#                                                     (MVCOM's ordinals 35 and 43 by ordinal)
# Prints what differs and exits 1 when the table is not as expected.
set -euo pipefail
objdump=$1 mode=$2 dll=$3
shift 3
table=$("$objdump" -p "$dll")

if [ "$mode" = exports ]; then
  actual=$(printf '%s\n' "$table" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)
  expected=$(printf '%s\n' "$@" | sort)
  if [ "$actual" != "$expected" ]; then
    echo "export names of $dll differ from the expected $# names:"
    diff <(printf '%s\n' "$expected") <(printf '%s\n' "$actual") || true
    exit 1
  fi
  echo "$dll exports exactly: $(printf '%s ' $actual)"
  exit 0
fi

# Windows' own DLLs that a plug-in may need; everything else would have to
# be shipped beside it.
allowed='^(KERNEL32|USER32|WS2_32|CRYPT32|SECUR32|ADVAPI32|BCRYPT|MSVCRT|UCRTBASE|API-MS-WIN-.*|MVCOM)\.DLL$'
status=0
while read -r name; do
  if ! printf '%s\n' "$name" | tr '[:lower:]' '[:upper:]' | grep -Eq "$allowed"; then
    echo "$dll imports $name, which is no Windows system DLL"
    status=1
  fi
done < <(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u)
mvcom=$(printf '%s\n' "$table" | sed -n '/DLL Name: MVCOM.dll/,/^$/p')
for ordinal in 35 43; do
  if ! printf '%s\n' "$mvcom" | grep -Eq "^[[:space:]]*[0-9a-f]+[[:space:]]+$ordinal[[:space:]]+<none>"; then
    echo "$dll does not import MVCOM.dll ordinal $ordinal by ordinal"
    status=1
  fi
done
if printf '%s\n' "$mvcom" | grep -Eq '[[:space:]](com_FindText|com_DateText)$'; then
  echo "$dll imports the text search or the date text by name, not by ordinal"
  status=1
fi
if [ -z "$mvcom" ]; then
  echo "$dll does not import MVCOM.dll"
  status=1
fi
[ $status -eq 0 ] && echo "$dll imports only: $(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u | tr '\n' ' ')"
exit $status
