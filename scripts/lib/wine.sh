# Sourced by the scripts that run Windows programs under Wine.
# wine_prepare PREFIX: makes (once) and selects a Wine prefix of our own, set up for headless runs.
# display_ensure: gives the caller an X display, starting Xvfb when none is set; the caller's EXIT
#                 trap should call display_release.

wine_prepare() {
  export WINEPREFIX="$1"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree=;mshtml="
  if [ ! -f "$WINEPREFIX/.telvane-ready" ]; then
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    # No window manager here: don't wait for one on every show/hide, and never pop up crash dialogs.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
    wineserver -w
    touch "$WINEPREFIX/.telvane-ready"
  fi
}

TELVANE_XVFB_PID=""
display_ensure() {
  if [ -n "${DISPLAY:-}" ]; then return 0; fi
  local n
  for n in $(seq 90 140); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
      TELVANE_XVFB_PID=$!
      export DISPLAY=":$n"
      local i
      for i in $(seq 1 50); do
        [ -e "/tmp/.X11-unix/X$n" ] && return 0
        sleep 0.1
      done
      echo "Xvfb did not start on :$n" >&2
      return 1
    fi
  done
  echo "no free X display number" >&2
  return 1
}

display_release() {
  if [ -n "$TELVANE_XVFB_PID" ]; then
    kill "$TELVANE_XVFB_PID" 2>/dev/null || true
    wait "$TELVANE_XVFB_PID" 2>/dev/null || true
    TELVANE_XVFB_PID=""
  fi
}
