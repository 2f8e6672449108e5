# SPDX-License-Identifier: MIT
# Sourced by the Windows scripts: a fresh Wine prefix of our own, its server
# kept running while we use it, and its end.
#
#   wine_prefix_start DIR [desktop]  fresh prefix in DIR (exported as WINEPREFIX);
#                                    "desktop" puts every window in one Wine
#                                    desktop window on $DISPLAY
#   wine_prefix_stop               ends the prefix's server

WINE_LOADER=/usr/lib/wine/wine64
WINE_SERVER=/usr/lib/wine/wineserver

wine_prefix_start() {
  local dir=$1 driver=${2:-}
  # A server still running for an earlier prefix here would outlive it.
  [ -d "$dir" ] && WINEPREFIX=$dir "$WINE_SERVER" -k </dev/null >/dev/null 2>&1 || true
  rm -rf "$dir"
  mkdir -p "$dir"
  export WINEPREFIX=$dir
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # The services Wine starts inherit the first caller's output: keep them
  # off our pipes, or a pipe waits for the server to end.
  "$WINE_SERVER" -p </dev/null >/dev/null 2>&1
  "$WINE_LOADER" wineboot </dev/null >/dev/null 2>&1
  # The caption buttons are glyphs of fonts-wine's Marlett (without it the
  # close box shows an "r"). Debian's Wine 8 looks for its own fonts in
  # "<data dir>\../fonts", a path it cannot resolve, so the font goes where
  # every Wine looks: the prefix's Fonts folder.
  local marlett=/usr/share/wine/fonts/marlett.ttf
  if [ -f $marlett ] && [ -d "$dir/drive_c/windows/Fonts" ]; then
    ln -sf $marlett "$dir/drive_c/windows/Fonts/marlett.ttf"
  fi
  if [ "$driver" = desktop ]; then
    "$WINE_LOADER" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
    "$WINE_LOADER" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 800x600 /f \
      </dev/null >/dev/null 2>&1
  fi
}

wine_prefix_stop() {
  [ -n "${WINEPREFIX:-}" ] && "$WINE_SERVER" -k </dev/null >/dev/null 2>&1 || true
}
