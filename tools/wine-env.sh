# Sourced by every script that runs Wine:   . tools/wine-env.sh <prefix-dir>
# A prefix of the caller's own, quiet (unless WINEDEBUG says otherwise),
# without the Mono and Gecko installers' dialogs or the host's display, and
# UTF-8 everywhere: Wine maps file names and its code page through the locale,
# and without UTF-8 it cannot create files whose names have non-ASCII letters.
export WINEPREFIX=$1
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export LC_ALL=C.UTF-8
unset DISPLAY WAYLAND_DISPLAY
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver
# Linux path -> the same file seen from Wine (drive Z: is /).
winpath() { printf 'Z:%s' "${1//\//\\}"; }
