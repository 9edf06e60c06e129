# Sourced: points Wine at the project's own prefix under build/ and makes
# that prefix on first use, with substitutes for the dialogs' Japanese fonts.
KARVEL_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${KARVEL_WINEPREFIX:-$KARVEL_ROOT/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

# The tests' prefix opens .html with their own handler (KARVEL_HELP_HANDLER, a Unix path), which
# starts nothing: a browser started by a test would outlive it and keep ctest's output open.
# Other prefixes open it with the system's browser, as they open the web page.
if [ -n "${KARVEL_HELP_HANDLER:-}" ]; then
  KARVEL_HTML_OPENER="Z:${KARVEL_HELP_HANDLER//\//\\}"
  KARVEL_HTML_KIND=handler
else
  KARVEL_HTML_OPENER='C:\windows\system32\winebrowser.exe'
  KARVEL_HTML_KIND=browser
fi

# Renamed whenever the settings below change, so older prefixes are set up again; named by the
# .html opener too, so that a prefix set up for the other one is set up again.
KARVEL_PREFIX_READY=".karvel-ready-managed-html-$KARVEL_HTML_KIND"

karvel_wine_prefix() {
  [ -f "$WINEPREFIX/$KARVEL_PREFIX_READY" ] && return 0
  local lock
  mkdir -p "$WINEPREFIX"
  # Tests and the run command may start together; one of them makes the prefix.
  exec {lock}>"$WINEPREFIX/.karvel-lock"
  flock "$lock"
  if [ -f "$WINEPREFIX/$KARVEL_PREFIX_READY" ]; then
    exec {lock}>&-
    return 0
  fi
  wineboot -i >/dev/null 2>&1
  # Wine has neither template font. The Ume Gothic faces share their line height
  # of 12 pixels at 9 points, so the fixed 350 x 230 window holds the whole
  # template and every label; taller faces push the buttons out of the window.
  # The full-width name reaches the registry intact only through a UTF-8 locale.
  local font
  for font in "MS UI Gothic=Ume UI Gothic" "ＭＳ Ｐゴシック=Ume P Gothic"; do
    LC_ALL=C.UTF-8 wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${font%%=*}" \
      /t REG_SZ /d "${font#*=}" /f >/dev/null 2>&1
  done
  # The title-bar and system-menu glyphs come from Marlett, which this Wine does
  # not find in its own data folder: without it they draw as letters.
  cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
  # A prefix made without mshtml has no program for .html, so the help page would not open.
  # The class is made anew, so that "open" is its only verb and runs the opener alone.
  wine reg delete 'HKCR\htmlfile' /f >/dev/null 2>&1
  wine reg add 'HKCR\.html' /ve /t REG_SZ /d htmlfile /f >/dev/null 2>&1
  wine reg add 'HKCR\htmlfile\shell\open\command' /ve /t REG_SZ \
    /d "\"$KARVEL_HTML_OPENER\" \"%1\"" /f >/dev/null 2>&1
  # The window manager places and activates the windows, as on a user's desktop; set
  # explicitly, since prefixes made for a display without one had Wine do it.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d Y /f >/dev/null 2>&1
  wineserver -w
  rm -f "$WINEPREFIX"/.karvel-ready-*
  touch "$WINEPREFIX/$KARVEL_PREFIX_READY"
  exec {lock}>&-
}
