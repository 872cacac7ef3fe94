# shellcheck shell=bash
# Helpers for running the Windows build under Wine on a headless host.
# Source it:   . tests/wine/lib.sh
#
# Typical test case:
#   wine_session_start                          # private Xvfb, DISPLAY exported
#   trap wine_session_stop EXIT
#   wine_prefix_init "$tmp/pfx"                 # copy of a cached template, env exported
#   wine_set_version "$tmp/pfx" win95
#   wine_seed_ports "$tmp/pfx" "COM1:=9600,n,8,1" "COM2:=9600,n,8,1"
#   boxclick_start "$tmp/boxes.log" "Notice from Wendle : restarting window=NO;*=OK"
#   WSTUB_RECORD="$(wine_winpath "$tmp/rec.txt")" wine_run "$tmp/app/wboot.exe"
#   (Korean: WINE_LC_ALL=ko_KR.UTF-8 in front of boxclick_start and wine_run)
#   boxclick_stop
#   screenshot "$tmp/shot.png"; python3 tests/wine/pixels.py row-blue "$tmp/shot.png" 240
#
# Rules learnt the hard way:
# - Xvfb must be up before the first wineserver of a prefix starts, or
#   windows never paint.  wine_session_start kills the servers of prefixes it
#   knows about; the template is built with no server left behind.
# - Every Wine call runs with stdin from /dev/null and stdout/stderr into
#   files: the wineserver, explorer and services a call starts inherit its
#   descriptors, and a pipe held by them makes $(...) or a CI log wait.
# - Every Wine call has a timeout.

WINE_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
: "${WINE_TIMEOUT:=60}"          # seconds for one wine_run
: "${WINE_SCREEN:=640x480x24}"
: "${WINE_PREFIX_COPY:=link}"    # link: system32/winsxs hard-linked from the template; full: real copy

_WINE_PREFIXES=()                # every prefix wine_env has seen, for cleanup
_WINE_RUN_SEQ=0

_wine_log() { echo "wine-lib: $*" >&2; }

# Log folder for run output: the session's folder when there is one.
_wine_logdir() {
    if [ -n "${WINE_SESSION_DIR:-}" ] && [ -d "$WINE_SESSION_DIR" ]; then
        echo "$WINE_SESSION_DIR"
        return
    fi
    # $$ is the test shell even inside subshells, so this stays one folder
    mkdir -p "${TMPDIR:-/tmp}/wine-logs.$$"
    echo "${TMPDIR:-/tmp}/wine-logs.$$"
}

# wine_env PREFIX: export the Wine environment for PREFIX.
wine_env() {
    local p
    p=$(realpath -m "$1")
    export WINEPREFIX="$p" WINEARCH=win32 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
    local q
    for q in "${_WINE_PREFIXES[@]}"; do [ "$q" = "$p" ] && return 0; done
    _WINE_PREFIXES+=("$p")
    if [ -n "${WINE_SESSION_DIR:-}" ] && [ -d "$WINE_SESSION_DIR" ]; then
        echo "$p" >>"$WINE_SESSION_DIR/prefixes"
    fi
}

# Runs a wine command for PREFIX quietly, with a timeout: _wine_in PREFIX SECONDS CMD...
_wine_in() {
    local p=$1 t=$2
    shift 2
    WINEPREFIX="$p" WINEARCH=win32 WINEDEBUG=-all \
        WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d" \
        timeout -k 5 "$t" "$@" </dev/null >>"$(_wine_logdir)/wine-admin.log" 2>&1
}

# wine_server_kill PREFIX: stop every process of the prefix (registry is saved).
wine_server_kill() {
    local p
    p=$(realpath -m "$1")
    [ -d "$p" ] || return 0
    _wine_in "$p" 20 wineserver -k || true
}

# ---------------------------------------------------------------- template

# The settings every test prefix starts from.  Changing this text changes
# the template's cache key, so a stale template is never reused.
_wine_template_reg() {
    cat <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

EOF
}

# Prints the template folder, building it first if needed.
# WINE_TEMPLATE_DIR: where templates are kept (default ${TMPDIR:-/tmp}/wine-template).
# WINE_TEMPLATE_FRESH=1: rebuild once per test shell even if cached (the
# template records the shell that built it).
_wine_template() {
    local root key dir tmp ver
    root=${WINE_TEMPLATE_DIR:-${TMPDIR:-/tmp}/wine-template}
    ver=$(timeout 20 wine --version 2>/dev/null </dev/null || echo unknown)
    key=$( { echo "$ver"; _wine_template_reg; declare -f _wine_template_build; } | md5sum | cut -c1-12)
    dir="$root/$key"
    mkdir -p "$root" || return 1
    (
        flock -w 300 9 || { _wine_log "template lock timed out"; exit 1; }
        if [ -f "$dir/.template-ok" ]; then
            [ "${WINE_TEMPLATE_FRESH:-0}" = 1 ] || exit 0
            [ "$(cat "$dir/.template-ok")" = "$$" ] && exit 0
        fi
        tmp="$root/.build.$$"
        rm -rf "$tmp" "$dir"
        _wine_template_build "$tmp" || { rm -rf "$tmp"; exit 1; }
        echo "$$" >"$tmp/.template-ok"
        mv "$tmp" "$dir"
    ) 9>"$root/.lock" || return 1
    echo "$dir"
}

_wine_template_build() {
    local p=$1 reg
    _wine_log "building Wine template prefix $p (once; about 10 s)"
    (
        # no display: nothing of this server may outlive the build
        unset DISPLAY
        _wine_in "$p" 180 wineboot -i || exit 1
        reg="$p/drive_c/template.reg"
        _wine_template_reg | sed 's/$/\r/' >"$reg"
        _wine_in "$p" 60 wine reg import 'C:\template.reg' || exit 1
        rm -f "$reg"
        _wine_in "$p" 60 wineserver -w || _wine_in "$p" 20 wineserver -k
    )
}

# wine_prefix_init PREFIX: make PREFIX a fresh prefix (copy of the cached
# template) and export its environment.  Kills and replaces an existing one.
wine_prefix_init() {
    local p tmpl
    p=$(realpath -m "$1")
    tmpl=$(_wine_template) || { _wine_log "no template"; return 1; }
    if [ -e "$p" ]; then
        wine_server_kill "$p"
        rm -rf "$p"
    fi
    mkdir -p "$p" || return 1
    (
        # shared lock: a rebuild (WINE_TEMPLATE_FRESH=1 elsewhere) waits for us
        flock -s -w 300 9 || exit 1
        if [ "$WINE_PREFIX_COPY" = full ]; then
            cp -a "$tmpl/." "$p/" || exit 1
        else
            # The big read-only DLL folders are hard links into the template;
            # everything a program may write (registry, win.ini, users, temp)
            # is a real copy.
            tar -C "$tmpl" --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/winsxs \
                --exclude=./.template-ok -cf - . | tar -C "$p" -xf - || exit 1
            cp -al "$tmpl/drive_c/windows/system32" "$tmpl/drive_c/windows/winsxs" "$p/drive_c/windows/" || exit 1
        fi
    ) 9>"$(dirname "$tmpl")/.lock" || { _wine_log "copying the template failed"; return 1; }
    rm -f "$p/.template-ok"
    wine_env "$p"
}

# wine_prefix_remove PREFIX: stop its processes and delete it.
wine_prefix_remove() {
    local p
    p=$(realpath -m "$1")
    wine_server_kill "$p"
    rm -rf "$p"
}

# ---------------------------------------------------------------- registry

# _wine_reg_import PREFIX < regfile-text (REGEDIT4, LF or CRLF)
_wine_reg_import() {
    local p f rc
    p=$(realpath -m "$1")
    f="$p/drive_c/wine-lib-$$.reg"
    sed 's/\r*$/\r/' >"$f"
    _wine_in "$p" 60 wine reg import "C:\\wine-lib-$$.reg"
    rc=$?
    rm -f "$f"
    _wine_after_admin "$p"
    return $rc
}

# _wine_reg PREFIX reg-args...   (wine reg add/delete ...)
_wine_reg() {
    local p rc
    p=$(realpath -m "$1")
    shift
    _wine_in "$p" 60 wine reg "$@"
    rc=$?
    _wine_after_admin "$p"
    return $rc
}

# Outside a session a registry edit would leave a server with no display
# behind; stop it (wineserver -k saves the registry first).
_wine_after_admin() {
    if [ -z "${WINE_SESSION_DIR:-}" ]; then
        wine_server_kill "$1"
    fi
}

# wine_set_version PREFIX VERSION: the Windows version programs see
# (win95, win98, nt40, win2k, winxp, win7, win10, ...).
wine_set_version() {
    case $2 in
    win31 | win95 | win98 | winme | nt351 | nt40 | win2k | winxp | win2003 | vista | win2008 | win7 | win2008r2 | win8 | win81 | win10 | win11) ;;
    *)
        _wine_log "unknown Windows version '$2'"
        return 1
        ;;
    esac
    _wine_reg "$1" add 'HKCU\Software\Wine' /v Version /d "$2" /f
}

# wine_prefix_korean PREFIX [subst|link]
# Makes "Times New Roman" requested with charset 0 (ANSI) draw CP949 text as
# Hangul when the program runs with LC_ALL=ko_KR.UTF-8 (GetACP/GetOEMCP 949),
# the way a Korean Windows shows it.  Without this Wine picks a Latin-only
# face and draws empty boxes.
#   subst (default): FontSubstitutes "Times New Roman" -> "NanumGothic";
#                    the text renders exactly like NanumGothic itself.
#   link:            Wine Replacements "Times New Roman" -> "Liberation Serif"
#                    plus SystemLink "Liberation Serif" -> NanumGothic: Latin
#                    in a Times-like face, Hangul from Nanum (scaled slightly
#                    differently from NanumGothic drawn directly).
# A Wine "Replacements" entry for Times New Roman beats FontSubstitutes, so
# subst removes it.
wine_prefix_korean() {
    local p=$1 mode=${2:-subst}
    if ! fc-list 2>/dev/null | grep 'NanumGothic.ttf' >/dev/null; then
        _wine_log "NanumGothic is not installed (Debian package fonts-nanum)"
        return 1
    fi
    # build the locale now rather than inside the first timed run
    _wine_locale_path ko_KR.UTF-8 >/dev/null || return 1
    case $mode in
    subst)
        _wine_reg_import "$p" <<'EOF'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"Times New Roman"="NanumGothic"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Times New Roman"=-

EOF
        ;;
    link)
        _wine_reg "$p" add 'HKCU\Software\Wine\Fonts\Replacements' /v 'Times New Roman' /d 'Liberation Serif' /f &&
            _wine_reg "$p" add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
                /v 'Liberation Serif' /t REG_MULTI_SZ /d 'NanumGothic.ttf,NanumGothic' /f
        ;;
    *)
        _wine_log "wine_prefix_korean: mode is subst or link"
        return 1
        ;;
    esac
}

# _wine_locale_path LOCALE: prints the LOCPATH under which LOCALE exists
# (empty when the system has it).  Wine takes the Windows code pages from
# LC_ALL even when the host has no such locale, but then treats the Unix
# side as 7-bit ASCII: non-ASCII arguments lose their high bits and a
# CreateFileA of a CP949 name fails with error 2.  So a missing locale is
# compiled once with localedef into the template folder (about 1 s).
_wine_locale_path() {
    local loc=$1 want root dir
    want=$(printf '%s' "$loc" | tr '[:upper:]' '[:lower:]' | tr -d '-')
    case $want in c | posix | c.utf8) return 0 ;; esac
    if locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | tr -d '-' | grep -xF "$want" >/dev/null; then
        return 0
    fi
    root=${WINE_TEMPLATE_DIR:-${TMPDIR:-/tmp}/wine-template}/locale
    dir="$root/$loc"
    mkdir -p "$root" || return 1
    (
        flock -w 120 9 || exit 1
        [ -f "$dir/LC_CTYPE" ] && exit 0
        rm -rf "$dir.tmp"
        localedef -i "${loc%%.*}" -f "${loc#*.}" "$dir.tmp" >/dev/null 2>&1
        [ -f "$dir.tmp/LC_CTYPE" ] || { rm -rf "$dir.tmp"; exit 1; }
        mv "$dir.tmp" "$dir"
    ) 9>"$root/.lock" || { _wine_log "cannot build locale $loc (Debian package locales)"; return 1; }
    echo "$root"
}

# ---------------------------------------------------------------- win.ini

# wine_seed_ports PREFIX "COM1:=9600,n,8,1" ...
# Rewrites win.ini so that [ports] holds exactly these entries (none: an
# empty section).  Other sections are kept.  "COM2:=" gives an empty value.
wine_seed_ports() {
    local p ini
    p=$(realpath -m "$1")
    shift
    ini="$p/drive_c/windows/win.ini"
    python3 - "$ini" "$@" <<'EOF'
import os, sys
ini, entries = sys.argv[1], sys.argv[2:]
lines = []
if os.path.exists(ini):
    with open(ini, "rb") as f:
        lines = f.read().decode("latin-1").replace("\r\n", "\n").split("\n")
out, skip = [], False
for line in lines:
    s = line.strip()
    if s.startswith("[") and s.endswith("]"):
        skip = s[1:-1].strip().lower() == "ports"
        if skip:
            continue
    if not skip:
        out.append(line)
while out and out[-1].strip() == "":
    out.pop()
if out:
    out.append("")
out.append("[ports]")
out.extend(entries)
with open(ini, "wb") as f:
    f.write(("\r\n".join(out) + "\r\n").encode("latin-1"))
EOF
}

# wine_read_ports PREFIX: prints the [ports] entries of win.ini, one per line.
wine_read_ports() {
    local ini
    ini="$(realpath -m "$1")/drive_c/windows/win.ini"
    [ -f "$ini" ] || return 0
    tr -d '\r' <"$ini" | awk '
        /^[ \t]*\[/ { s = tolower($0); gsub(/[ \t]/, "", s); inp = (s == "[ports]"); next }
        inp && NF { print }'
}

# wine_temp_dir PREFIX: the Unix folder behind GetTempPathA of the prefix.
wine_temp_dir() {
    local d
    for d in "$(realpath -m "$1")"/drive_c/users/*/Temp; do
        case $d in */Public/Temp) continue ;; esac
        [ -d "$d" ] && { echo "$d"; return 0; }
    done
    return 1
}

# ---------------------------------------------------------------- session

# wine_session_start: a private Xvfb on a free display, DISPLAY exported.
# Call before anything starts a wineserver of the test's prefixes.
wine_session_start() {
    if [ -n "${WINE_SESSION_XVFB_PID:-}" ] && kill -0 "$WINE_SESSION_XVFB_PID" 2>/dev/null; then
        return 0
    fi
    local p dir i n
    # a server started without the display would never paint
    for p in "${_WINE_PREFIXES[@]}"; do wine_server_kill "$p"; done

    dir=$(mktemp -d "${TMPDIR:-/tmp}/wine-session.XXXXXX") || return 1
    : >"$dir/display"
    # -displayfd: Xvfb takes the first free display and writes its number
    # when it is ready for clients.
    Xvfb -displayfd 3 -screen 0 "$WINE_SCREEN" -nolisten tcp -noreset \
        3>"$dir/display" </dev/null >"$dir/xvfb.log" 2>&1 &
    WINE_SESSION_XVFB_PID=$!
    for i in $(seq 100); do
        n=$(tr -dc '0-9' <"$dir/display")
        [ -n "$n" ] && break
        kill -0 "$WINE_SESSION_XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    if [ -z "$n" ]; then
        _wine_log "Xvfb did not start: $(tail -3 "$dir/xvfb.log")"
        kill "$WINE_SESSION_XVFB_PID" 2>/dev/null
        rm -rf "$dir"
        unset WINE_SESSION_XVFB_PID
        return 1
    fi
    export DISPLAY=":$n"
    export WINE_SESSION_DIR="$dir"
    printf '%s\n' "${_WINE_PREFIXES[@]}" >"$dir/prefixes"

    # Watchdog: if the shell that started the session ends without
    # wine_session_stop (killed CI job, a subshell that forgot), take Xvfb
    # and the Wine servers down with it.  BASHPID, not $$: inside ( ... )
    # $$ is the outer shell, which may live on for hours.
    local owner=$BASHPID xpid=$WINE_SESSION_XVFB_PID
    (
        trap '' HUP INT
        while kill -0 "$owner" 2>/dev/null && [ -d "$dir" ]; do sleep 1; done
        if [ -f "$dir/prefixes" ]; then
            while read -r q; do
                [ -n "$q" ] && WINEPREFIX="$q" timeout 20 wineserver -k
            done <"$dir/prefixes"
        fi
        kill "$xpid" 2>/dev/null
        [ "${WINE_KEEP_LOGS:-0}" = 1 ] || rm -rf "$dir"
    ) </dev/null >/dev/null 2>&1 &
    WINE_SESSION_WATCHDOG_PID=$!
    return 0
}

# wine_session_stop: stop the servers of every prefix used, then Xvfb. Never
# fails, so that it is safe in an EXIT trap of a script under set -e.
# WINE_KEEP_LOGS=1 keeps the session folder (run output, Xvfb log).
wine_session_stop() {
    local p
    for p in "${_WINE_PREFIXES[@]}"; do wine_server_kill "$p" || true; done
    if [ -n "${WINE_SESSION_WATCHDOG_PID:-}" ]; then
        kill "$WINE_SESSION_WATCHDOG_PID" 2>/dev/null || true
        wait "$WINE_SESSION_WATCHDOG_PID" 2>/dev/null || true
    fi
    if [ -n "${WINE_SESSION_XVFB_PID:-}" ]; then
        kill "$WINE_SESSION_XVFB_PID" 2>/dev/null || true
        wait "$WINE_SESSION_XVFB_PID" 2>/dev/null || true
    fi
    if [ "${WINE_KEEP_LOGS:-0}" != 1 ]; then
        if [ -n "${WINE_SESSION_DIR:-}" ]; then rm -rf "$WINE_SESSION_DIR"; fi
        rm -rf "${TMPDIR:-/tmp}/wine-logs.$$"
    fi
    unset WINE_SESSION_XVFB_PID WINE_SESSION_WATCHDOG_PID WINE_SESSION_DIR DISPLAY
    return 0
}

# ---------------------------------------------------------------- running

# wine_winpath PATH: the Windows form (Z:\...) of a Unix path.
wine_winpath() {
    local p
    p=$(realpath -m "$1")
    p=${p//\//\\}
    echo "Z:$p"
}

# wine_start EXE ARGS...: start in the background under WINEPREFIX (set by
# wine_env / wine_prefix_init).  Sets WINE_PID, WINE_OUT, WINE_ERR.
# Environment for the program goes in front:  FOO=1 wine_start x.exe
# WINE_LC_ALL=ko_KR.UTF-8 runs it with that LC_ALL (ACP/OEMCP 949), with the
# locale compiled on the fly when the host lacks it (see _wine_locale_path).
# Setting LC_ALL itself in front of a shell function makes bash warn.
wine_start() {
    if [ -z "${WINEPREFIX:-}" ]; then
        _wine_log "wine_start: no prefix (call wine_prefix_init or wine_env)"
        return 1
    fi
    local d
    d=$(_wine_logdir)
    _WINE_RUN_SEQ=$((_WINE_RUN_SEQ + 1))
    WINE_OUT="$d/run$_WINE_RUN_SEQ.out"
    WINE_ERR="$d/run$_WINE_RUN_SEQ.err"
    local envs=()
    if [ -n "${WINE_LC_ALL:-}" ]; then
        local lp
        lp=$(_wine_locale_path "$WINE_LC_ALL") || return 1
        envs=(LC_ALL="$WINE_LC_ALL")
        [ -n "$lp" ] && envs+=(LOCPATH="$lp")
    fi
    env "${envs[@]}" timeout -k 5 "$WINE_TIMEOUT" wine "$@" </dev/null >"$WINE_OUT" 2>"$WINE_ERR" &
    WINE_PID=$!
}

# wine_wait [PID]: wait for a wine_start'ed program; sets WINE_RC and
# returns it (124: timed out).
wine_wait() {
    local pid=${1:-$WINE_PID}
    wait "$pid"
    WINE_RC=$?
    return $WINE_RC
}

# wine_run EXE ARGS...: run to the end with a timeout (WINE_TIMEOUT seconds).
# Returns the program's exit code, also in WINE_RC; stdout/stderr are in the
# files WINE_OUT / WINE_ERR.
wine_run() {
    wine_start "$@" || return 1
    wine_wait "$WINE_PID"
}

# screenshot FILE: the whole virtual screen as PNG.
screenshot() {
    timeout 20 /usr/bin/import -display "${DISPLAY:?no session}" -window root "$1" </dev/null
}

# wait_for_file FILE [SECONDS=10]
wait_for_file() {
    local f=$1 t=${2:-10} i
    for ((i = 0; i < t * 20; i++)); do
        [ -e "$f" ] && return 0
        sleep 0.05
    done
    return 1
}

# wait_for_line FILE REGEX [SECONDS=10]: until a line of FILE matches (grep -E).
wait_for_line() {
    local f=$1 re=$2 t=${3:-10} i
    for ((i = 0; i < t * 20; i++)); do
        [ -f "$f" ] && tr -d '\r' <"$f" | grep -Eq -- "$re" && return 0
        sleep 0.05
    done
    return 1
}

# wait_x_window TITLE [SECONDS=10]: until an X window named exactly TITLE is
# mapped (top-level Wine windows carry their title as X name).
wait_x_window() {
    local name=$1 t=${2:-10} i re
    # shellcheck disable=SC2016 # a sed program, not a shell expansion
    re="^$(printf '%s' "$name" | sed 's/[][\.*^$()+?{}|]/\\&/g')\$"
    for ((i = 0; i < t * 10; i++)); do
        timeout 5 xdotool search --onlyvisible --name "$re" </dev/null >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

# ---------------------------------------------------------------- tools

# wine_build_tools OUTDIR: build boxclick.exe, notes_ref.exe and w_setup_stub.exe with the
# mingw cross compilers (for runs without the CMake Windows build).
wine_build_tools() {
    local out=$1 src="$WINE_LIB_DIR/tools"
    mkdir -p "$out" || return 1
    i686-w64-mingw32-gcc -O2 -Wall -static -mwindows "$src/boxclick.c" -o "$out/boxclick.exe" &&
        i686-w64-mingw32-gcc -O2 -Wall -static -mwindows "$src/notes_ref.c" -o "$out/notes_ref.exe" &&
        i686-w64-mingw32-g++ -O2 -Wall -static -mwindows "$src/w_setup_stub.cpp" -o "$out/w_setup_stub.exe"
}

# boxclick_start LOG RULES [SECONDS=120]: answer message boxes in the
# background.  LOG is a Unix path (emptied first).  The tool is
# $WINE_BOXCLICK or $WINE_TOOLS_DIR/boxclick.exe.  Put WINE_LC_ALL=ko_KR.UTF-8
# in front when the program runs Korean, so captions come back as CP949.
boxclick_start() {
    local log=$1 rules=$2 t=${3:-120} exe
    exe=${WINE_BOXCLICK:-${WINE_TOOLS_DIR:-}/boxclick.exe}
    if [ ! -f "$exe" ]; then
        _wine_log "boxclick.exe not found (set WINE_BOXCLICK or WINE_TOOLS_DIR)"
        return 1
    fi
    : >"$log"
    # shellcheck disable=SC2034 # for the caller
    BOXCLICK_LOG=$log
    BOXCLICK_STOP="$(_wine_logdir)/boxclick.stop.$_WINE_RUN_SEQ.$RANDOM"
    rm -f "$BOXCLICK_STOP"
    WINE_TIMEOUT=$((t + 10)) wine_start "$exe" "$(wine_winpath "$log")" "$rules" \
        "$(wine_winpath "$BOXCLICK_STOP")" "$t" || return 1
    BOXCLICK_PID=$WINE_PID
}

# boxclick_stop: ask boxclick to finish and wait; returns its exit code
# (0 stopped, 2 its own timeout). A log-off leaves it running: Wine ends only
# the programs that have a window.
boxclick_stop() {
    [ -n "${BOXCLICK_PID:-}" ] || return 0
    touch "$BOXCLICK_STOP"
    wait "$BOXCLICK_PID"
    local rc=$?
    rm -f "$BOXCLICK_STOP"
    unset BOXCLICK_PID
    return $rc
}
