#!/bin/sh
# Passes when the executable imports only DLLs that come with Windows itself.
# Usage: self_contained.sh OBJDUMP EXECUTABLE
set -eu
dlls="$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p')"
[ -n "$dlls" ] || { echo "no imports found in $2"; exit 1; }
status=0
for dll in $dlls; do
  case "$(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]')" in
    kernel32.dll | user32.dll | gdi32.dll | comdlg32.dll | shell32.dll | advapi32.dll | msvcrt.dll | \
      comctl32.dll | ole32.dll | bcrypt.dll) ;;
    *) echo "$2 needs $dll"; status=1 ;;
  esac
done
exit "$status"
