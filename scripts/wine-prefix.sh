# A fresh Wine prefix for one run, sourced by windows-check.sh and windows-tests.sh:
#   start_wine_prefix FOLDER
# makes FOLDER/prefix, starts its Wine server detached (its output in FOLDER/wineserver.log),
# initialises the prefix and stops the server when the calling script exits.
#
# Wine's helper processes (wineserver, services.exe, explorer) outlive the command that
# started them and keep its output open: they are started here with their output in files,
# never on a pipe or on make's output, before any program runs.
start_wine_prefix() {
  local folder=$1
  export WINEPREFIX=$folder/prefix
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  wineserver -p </dev/null >"$folder/wineserver.log" 2>&1 &
  trap 'wineserver -k >/dev/null 2>&1 || true; wineserver -w >/dev/null 2>&1 || true' EXIT
  wine wineboot --init </dev/null >"$folder/wineboot.log" 2>&1 || true
}
