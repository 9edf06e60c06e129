# Sourced: points Wine at the project's own prefix under build/ and makes
# that prefix on first use, with substitutes for the dialogs' Japanese fonts.
KARVEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${KARVEL_WINEPREFIX:-$KARVEL_ROOT/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

karvel_wine_prefix() {
  [ -f "$WINEPREFIX/.karvel-ready" ] && return 0
  local lock
  mkdir -p "$WINEPREFIX"
  # Tests and the run command may start together; one of them makes the prefix.
  exec {lock}>"$WINEPREFIX/.karvel-lock"
  flock "$lock"
  if [ -f "$WINEPREFIX/.karvel-ready" ]; then
    exec {lock}>&-
    return 0
  fi
  wineboot -i >/dev/null 2>&1
  # Wine has neither template font; Liberation Sans Narrow keeps every label whole.
  # The full-width name reaches the registry intact only through a UTF-8 locale.
  local font
  for font in "MS UI Gothic" "ＭＳ Ｐゴシック"; do
    LC_ALL=C.UTF-8 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /t REG_SZ \
      /d "Liberation Sans Narrow" /f >/dev/null 2>&1
  done
  # On a display without a window manager, Wine waits two seconds for one at
  # every hidden window; a prefix made for such a display places the windows itself.
  if [ -n "${KARVEL_WINE_UNMANAGED:-}" ]; then
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
  fi
  wineserver -w
  touch "$WINEPREFIX/.karvel-ready"
  exec {lock}>&-
}
