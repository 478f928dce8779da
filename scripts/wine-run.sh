#!/usr/bin/env bash
# Runs a Windows program under Wine: wine-run.sh PREFIX PROGRAM [ARGS...]
# The prefix belongs to the build tree and is created on first use, without the Mono and
# Gecko installers. Without a DISPLAY a shared virtual display is started (or reused).
# QV_LOCALE chooses the Unix locale, and so Wine's ANSI code page (default zh_CN.UTF-8: 936).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
prefix=$(realpath -m "$1")
shift

# QV_WINE_ARCH: win32 (default) runs 32-bit programs, win64 the 64-bit test builds.
arch=${QV_WINE_ARCH:-win32}
loader=/usr/lib/wine/wine
if [ "$arch" = win64 ]; then
  loader=/usr/lib/wine/wine64
  export WINELOADER=$loader
fi
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=${QV_LOCALE:-zh_CN.UTF-8}
if [ -z "${DISPLAY:-}" ]; then
  DISPLAY=$("$here/xvfb-display.sh" "$prefix.display")
  export DISPLAY
fi

mkdir -p "$(dirname "$prefix")"
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    "$loader" wineboot -i >/dev/null 2>&1 || true
    # Without a window manager (Xvfb), Wine's managed windows take about two seconds to
    # hide; unmanaged ones go at once. Only the prefixes of this build tree are changed.
    "$loader" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 || true
    wineserver -w
  fi
  # A program that crashes gets its backtrace written out and ends, instead of a crash dialog
  # that nobody closes on a virtual display (a test would then wait for its time-out).
  if [ ! -f "$prefix/.no-crash-dialog" ]; then
    "$loader" reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
      </dev/null >/dev/null 2>&1 9>&- && touch "$prefix/.no-crash-dialog"
  fi
  # Wine draws caption buttons with its Marlett font, which fontconfig does not find: without
  # the file in the prefix they show as "0 1 r".
  marlett=/usr/share/wine/fonts/marlett.ttf
  if [ -f "$marlett" ] && [ ! -f "$prefix/drive_c/windows/Fonts/marlett.ttf" ]; then
    mkdir -p "$prefix/drive_c/windows/Fonts"
    cp "$marlett" "$prefix/drive_c/windows/Fonts/"
  fi
  # The program that finds no wineserver starts one, and with it the prefix's own programs
  # (services, explorer...); all of them keep that program's output open until the last
  # program of the prefix has ended, so a test runner waiting for that output would wait for
  # every other test. They are started here instead, writing nowhere; wineserver answers 2
  # when one is running already. Neither may inherit the lock.
  if wineserver </dev/null >/dev/null 2>&1 9>&-; then
    "$loader" wineboot </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$prefix.lock"

exec "$loader" "$@"
