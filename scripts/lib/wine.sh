# Runs Windows programs under Wine (64-bit) on an X display, for the end-to-end tests and
# scripts/run. Source it from a bash script; see docs/wine-harness.md for what was measured.
#
#   wine_session_start DIR     display_start + wine_prefix_init DIR + wineserver_start
#   wine_session_stop          wineserver_stop + display_stop (safe to call twice, e.g. in a trap)
#   wine_run_desktop W H EXE [ARGS...]    run EXE in a W×H virtual desktop, return its exit code
#   wine_start_desktop W H EXE [ARGS...]  same, in the background; sets WINE_STARTED_PID
#   wine_stop PID [SECONDS]    end a program started by wine_start_desktop
#   screenshot FILE.png [GEOMETRY]
#
# Functions that start background processes (display_start, wineserver_start,
# wine_start_desktop) must run in the calling shell itself, never inside $( ... ).

WINE_HARNESS_XVFB_PID=
WINE_HARNESS_SERVER=
WINE_STARTED_PID=

_wine_log() { printf 'wine.sh: %s\n' "$*" >&2; }

# Prefix-wide settings, applied once per prefix (and again whenever this text changes).
# Fonts: Wine's Tahoma, MS Shell Dlg and System have no Hangul. Tahoma links to Gulim
# (FontLink\SystemLink), so "Gulim" alone already fixes a Tahoma dialog; the others make
# every UI font (captions, menus, message boxes) draw Korean directly.
# Crashes: no winedbg and no dialog; an unhandled exception ends the process with the low
# byte of its status (an access violation exits 5) instead of hanging or exiting 0.
# winemenubuilder off: it would write menu entries and file associations into $HOME.
_wine_prefix_reg() {
  local font
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Fonts\\Replacements]\n'
  for font in "Gulim" "GulimChe" "Dotum" "DotumChe" "Batang" "BatangChe" "Gungsuh" \
              "Malgun Gothic" "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "System"; do
    printf '"%s"="NanumGothic"\n' "$font"
  done
  printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n'
  printf '\n[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\AeDebug]\n'
  printf '"Debugger"=-\n'
  printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides]\n"winemenubuilder.exe"=""\n'
}

# Debian's Wine 8 does not load its own TrueType fonts (fonts-wine, /usr/share/wine/fonts),
# so caption buttons draw as letters. Marlett is the only one wanted: Wine's Tahoma would
# void the "Tahoma" replacement and leave bold captions without Hangul.
_wine_link_marlett() {
  local fonts=$1/drive_c/windows/Fonts src=/usr/share/wine/fonts/marlett.ttf
  if [[ -d $fonts && -e $src && ! -e $fonts/marlett.ttf ]]; then
    ln -s "$src" "$fonts/marlett.ttf"
  fi
}

# wine_prefix_init DIR — make (or reuse) a 64-bit prefix at DIR and export WINEPREFIX.
# A new prefix takes about 10 s; a complete one is reused at once. Call it before
# wineserver_start: rebuilding an incomplete prefix ends any wineserver running for it.
wine_prefix_init() {
  local dir=${1:?usage: wine_prefix_init DIR}
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  export WINEPREFIX=$dir WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}

  _wine_link_marlett "$dir"

  local reg hash
  reg=$(_wine_prefix_reg)
  hash=$(printf '%s' "$reg" | sha1sum | cut -d' ' -f1)
  if [[ -f $dir/.harness-booted && $(cat "$dir/.harness-reg" 2>/dev/null) == "$hash" ]]; then
    return 0
  fi

  # Never wipe a folder that is not a Wine prefix.
  if [[ ! -f $dir/.harness-booted && -n $(ls -A "$dir") && ! -e $dir/drive_c &&
        ! -e $dir/.harness-boot.log ]]; then
    _wine_log "$dir is neither empty nor a Wine prefix; not touching it"
    return 1
  fi

  if ! fc-list NanumGothic family | grep -q .; then
    _wine_log "fontconfig has no NanumGothic (fonts-nanum missing?): Hangul will show as boxes"
  fi

  # Whatever runs in this prefix is ended: the work below must be flushed to disk by a
  # server that exits, and wineserver_start wants no non-persistent server lingering.
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true

  if [[ ! -f $dir/.harness-booted ]]; then
    # Absent or interrupted half-way: start from nothing.
    rm -rf "$dir"
    mkdir -p "$dir"
    _wine_log "creating Wine prefix $dir"
    # No Gecko/Mono install prompts, and no menu entries written into $HOME.
    if ! WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d" \
        wineboot -i >"$dir/.harness-boot.log" 2>&1 </dev/null; then
      cat "$dir/.harness-boot.log" >&2
      _wine_log "wineboot failed"
      return 1
    fi
    touch "$dir/.harness-booted"
    _wine_link_marlett "$dir"
  fi

  local regfile=$dir/.harness.reg
  printf '%s\n' "$reg" >"$regfile"
  if ! wine regedit /s "$regfile" </dev/null >/dev/null 2>&1; then
    _wine_log "could not import $regfile"
    return 1
  fi
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
  printf '%s\n' "$hash" >"$dir/.harness-reg"
}

# display_start — use $DISPLAY when set; otherwise start Xvfb (1024x768x24) on the first free
# display from :91 on, export DISPLAY, and remember its pid for display_stop.
display_start() {
  [[ -n ${DISPLAY:-} ]] && return 0
  local n i pid log
  log=$(mktemp "${TMPDIR:-/tmp}/xvfb.XXXXXX.log")
  for ((n = 91; n < 200; n++)); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] && continue
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >"$log" 2>&1 </dev/null &
    pid=$!
    # Ready when a client can connect; gone when another server took the number first.
    for ((i = 0; i < 200; i++)); do
      if xdpyinfo -display ":$n" >/dev/null 2>&1; then
        export DISPLAY=:$n
        WINE_HARNESS_XVFB_PID=$pid
        rm -f "$log"
        return 0
      fi
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  cat "$log" >&2
  _wine_log "could not start Xvfb"
  return 1
}

# display_stop — end the Xvfb that display_start started (nothing if DISPLAY was given).
display_stop() {
  [[ -n $WINE_HARNESS_XVFB_PID ]] || return 0
  kill "$WINE_HARNESS_XVFB_PID" 2>/dev/null || true
  wait "$WINE_HARNESS_XVFB_PID" 2>/dev/null || true
  WINE_HARNESS_XVFB_PID=
  unset DISPLAY
}

# wineserver_start — one persistent wineserver for the run: a program then starts in about
# 60 ms instead of about 1 s. It daemonises, so its output must not hold the caller's pipes.
wineserver_start() {
  : "${WINEPREFIX:?call wine_prefix_init first}"
  local rc=0
  wineserver -p </dev/null >/dev/null 2>&1 || rc=$?
  if ((rc == 2)); then
    # A server already runs for this prefix, perhaps a non-persistent one that is about to
    # go: the prefix belongs to this run, so replace it.
    _wine_log "ending the wineserver already running for $WINEPREFIX"
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
    rc=0
    wineserver -p </dev/null >/dev/null 2>&1 || rc=$?
  fi
  if ((rc != 0)); then
    _wine_log "wineserver -p failed ($rc)"
    return 1
  fi
  WINE_HARNESS_SERVER=$WINEPREFIX
  # The first program of a session also starts Wine's services (about 1.5 s): pay that
  # here, so the first program under test starts as fast as the others.
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
}

# wineserver_stop — end every Wine process of the prefix and wait for the server to exit
# (it writes the registry to disk on the way out).
wineserver_stop() {
  [[ -n $WINE_HARNESS_SERVER ]] || return 0
  WINEPREFIX=$WINE_HARNESS_SERVER wineserver -k </dev/null >/dev/null 2>&1 || true
  WINEPREFIX=$WINE_HARNESS_SERVER wineserver -w </dev/null >/dev/null 2>&1 || true
  WINE_HARNESS_SERVER=
}

wine_session_start() {
  display_start && wine_prefix_init "${1:?usage: wine_session_start PREFIX_DIR}" &&
    wineserver_start
}

wine_session_stop() {
  wineserver_stop
  display_stop
}

# _wine_use_desktop W H EXE — make EXE's processes open the virtual desktop named "WxH".
# Wine picks a process's desktop at start: inherited from a Windows parent (so everything
# the program starts with CreateProcess shares its desktop), else from
# HKCU\Software\Wine\AppDefaults\<exe>\Explorer "Desktop"; Explorer\Desktops\<name> gives the
# size. The first process on a desktop starts its explorer.exe; explorer ends the desktop
# about 1 s after its last process has gone, so a same-size call within that second reuses it.
_wine_use_desktop() {
  local w=$1 h=$2 exe=${3##*/}
  exe=${exe##*\\}
  [[ ${exe,,} == *.exe ]] || exe+=.exe
  exe=${exe,,}
  local name=${w}x${h} mark=$WINEPREFIX/.harness-desktop/$exe
  # The registry is only written through here, so a mark per program saves a wine call.
  [[ $(cat "$mark" 2>/dev/null) == "$name" ]] && return 0
  local reg=$WINEPREFIX/.harness-desktop.reg
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\Explorer\\Desktops]\n"%s"="%s"\n' \
    "$name" "$name" >"$reg"
  printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\AppDefaults\\%s\\Explorer]\n"Desktop"="%s"\n' \
    "$exe" "$name" >>"$reg"
  wine regedit /s "$reg" </dev/null >/dev/null 2>&1 || {
    _wine_log "could not set the desktop of $exe"
    return 1
  }
  mkdir -p "${mark%/*}"
  printf '%s\n' "$name" >"$mark"
}

_wine_check_size() {
  [[ $1 =~ ^[1-9][0-9]*$ && $2 =~ ^[1-9][0-9]*$ ]] || {
    _wine_log "bad desktop size '$1' x '$2'"
    return 2
  }
}

# _wine_resolve EXE — the path to hand to wine. A bare name such as "notepad" would be
# launched through start.exe, whose desktop (not the program's) then applies.
_wine_resolve() {
  local exe=$1 name
  if [[ $exe == */* || $exe == *\\* ]]; then
    printf '%s\n' "$exe"
    return
  fi
  [[ -e $exe ]] && { printf './%s\n' "$exe"; return; }
  name=$exe
  [[ ${name,,} == *.exe ]] || name+=.exe
  if [[ -e $WINEPREFIX/drive_c/windows/system32/$name ]]; then
    printf 'C:\\windows\\system32\\%s\n' "$name"
  elif [[ -e $WINEPREFIX/drive_c/windows/$name ]]; then
    printf 'C:\\windows\\%s\n' "$name"
  else
    printf '%s\n' "$exe"
  fi
}

# wine_run_desktop W H EXE [ARGS...] — run EXE (a Unix or Windows path, or a program that
# ships with Wine) inside a W×H virtual desktop; its stdout and stderr pass through, and its
# own exit code (modulo 256) is returned.
wine_run_desktop() {
  : "${DISPLAY:?no X display: call display_start first}"
  _wine_check_size "${1-}" "${2-}" || return
  local w=$1 h=$2 exe=${3:?usage: wine_run_desktop W H EXE [ARGS...]}
  shift 3
  exe=$(_wine_resolve "$exe")
  _wine_use_desktop "$w" "$h" "$exe" || return
  local rc=0
  wine "$exe" "$@" || rc=$?
  return "$rc"
}

# wine_start_desktop W H EXE [ARGS...] — as wine_run_desktop, in the background. Sets
# WINE_STARTED_PID (the Unix pid, which is the Windows process itself) for wine_stop.
wine_start_desktop() {
  : "${DISPLAY:?no X display: call display_start first}"
  _wine_check_size "${1-}" "${2-}" || return
  local w=$1 h=$2 exe=${3:?usage: wine_start_desktop W H EXE [ARGS...]}
  shift 3
  exe=$(_wine_resolve "$exe")
  _wine_use_desktop "$w" "$h" "$exe" || return
  wine "$exe" "$@" &
  # shellcheck disable=SC2034  # for the caller
  WINE_STARTED_PID=$!
}

# wine_stop PID [SECONDS] — SIGTERM (ends a Wine process at once), SIGKILL after SECONDS
# (default 5). Returns the program's exit status: 143 when the signal ended it.
wine_stop() {
  local pid=${1:?usage: wine_stop PID [SECONDS]} secs=${2:-5} i
  kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < secs * 10; i++)); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  local rc=0
  wait "$pid" 2>/dev/null || rc=$?
  return "$rc"
}

# screenshot FILE.png [GEOMETRY] — the whole X screen, or the part GEOMETRY (WxH+X+Y).
# A virtual desktop sits at the top left of the screen under Xvfb.
screenshot() {
  local file=${1:?usage: screenshot FILE.png [GEOMETRY]}
  local crop=()
  [[ -n ${2-} ]] && crop=(-crop "$2" +repage)
  mkdir -p "$(dirname "$file")"
  import -display "${DISPLAY:?no X display}" -window root "${crop[@]}" "$file"
}
