#!/usr/bin/env bash
# WBOOT.EXE end to end under Wine on a virtual display: a good medium, the
# serial-port question, the failures, the splash on screen in English and
# Korean, the Windows-version filter, and what today's Windows asks of it:
# planted DLLs, planted links, a relative start, double-byte folder names.
# Usage: e2e.sh BUILD_WIN_DIR WPK [CASE...]   (no case: all of them)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
win=$(realpath "$1")
wpk=$(realpath "$2")
shift 2
only=("$@")
export WINE_TOOLS_DIR="$win/tests/wine/tools"
work=$(mktemp -d)
mounted=()
cleanup() {
  wine_session_stop
  local m
  for m in "${mounted[@]}"; do umount "$m" 2>/dev/null; done
  [ "${WINE_KEEP_LOGS:-0}" = 1 ] && echo "kept: $work" || rm -rf "$work"
}
trap cleanup EXIT
failures=0
ok() { echo "  ok   $*"; }
bad() { echo "  FAIL $*"; failures=$((failures + 1)); }
expect() { if eval "$1"; then ok "$2"; else bad "$2"; fi; }
want() { [ ${#only[@]} -eq 0 ] || printf '%s\n' "${only[@]}" | grep -qx "$1"; }

# ---- media

# A setup tree: the stand-in as W_SETUP.EXE, members in folders, a member
# the NT line leaves out.
make_tree() {
  local t=$1
  mkdir -p "$t/DATA/SUB"
  cp "$WINE_TOOLS_DIR/w_setup_stub.exe" "$t/W_SETUP.EXE"
  printf 'Wendle setup files\r\n' >"$t/DATA/README.TXT"
  seq 1 30000 >"$t/DATA/SUB/TABLE.TXT"
  printf 'packed library\r\n' >"$t/UTIL.DL_"
  printf 'library\r\n' >"$t/UTIL.DLL"
}

# make_medium NAME TREE: $work/NAME/ with WBOOT.EXE and W_SETUP.WPK.
make_medium() {
  mkdir -p "$work/$1"
  cp "$win/wboot.exe" "$work/$1/WBOOT.EXE"
  [ -n "${2:-}" ] && "$wpk" pack -q "$work/$1/W_SETUP.WPK" "$2"
}

PORTS_ALL=("COM1:=9600,n,8,1" "COM2:=9600,n,8,1" "COM3:=9600,n,8,1" "COM4:=9600,n,8,1")

# new_prefix NAME: a fresh prefix with every port described.
new_prefix() {
  wine_prefix_init "$work/pfx-$1" >/dev/null || return 1
  wine_seed_ports "$work/pfx-$1" "${PORTS_ALL[@]}"
}

# run_medium NAME [RULES [EXE [ARGS...]]]: runs NAME/WBOOT.EXE (or EXE with
# ARGS) with boxes answered by RULES; the stand-in records into NAME.rec;
# boxes go to NAME.boxes. Sets RC, MS and BOXRC (the box answerer's exit
# code: 0 when it was stopped, not when something ended it before).
run_medium() {
  local name=$1 rules=${2:-"*=OK"} exe=${3:-$work/$1/WBOOT.EXE} t0
  shift $(($# < 3 ? $# : 3))
  boxclick_start "$work/$name.boxes" "$rules" 60 || return 1
  t0=$(date +%s%N)
  WSTUB_RECORD="$(wine_winpath "$work/$name.rec")" wine_run "$exe" "$@"
  RC=$WINE_RC
  MS=$((($(date +%s%N) - t0) / 1000000))
  boxclick_stop
  BOXRC=$?
  [ -f "$work/$name.rec" ] && tr -d '\r' <"$work/$name.rec" >"$work/$name.record"
  touch "$work/$name.record"
}

rec() { sed -n "s/^$2=//p" "$work/$1.record" | head -n 1; }
box_captions() { cut -f1 "$work/$1.boxes" | tr '\n' '|'; }
# box_field NAME N FIELD: FIELD (owner, icon, buttons, press) of box N of the run.
box_field() { sed -n "$2p" "$work/$1.boxes" | tr '\t' '\n' | sed -n "s/^$3=//p"; }
# set_temp WINDOWS_PATH: TEMP and TMP of the user's environment in the
# current prefix (GetTempPathA under Wine reads these, not the Unix TEMP).
set_temp() {
  local v
  for v in TEMP TMP; do
    timeout 30 wine reg add 'HKCU\Environment' /v "$v" /d "$1" /f </dev/null >/dev/null 2>&1
  done
  timeout 30 wineserver -w </dev/null >/dev/null 2>&1
}
work_folder() { echo "$(wine_temp_dir "$WINEPREFIX")/W80_INST"; }

# The token's check sum: the remainder is the sum of 5d/3 over the digits.
token_ok() {
  local t=$1 v s sum=0 i d
  [[ $t =~ ^[0-9]+$ ]] || return 1
  v=$((t / 1000)); s=$((t % 1000))
  v=$(printf '%04d' "$v")
  for i in 0 1 2 3; do d=${v:$i:1}; sum=$((sum + 5 * d / 3)); done
  [ "$sum" = "$s" ]
}

wine_session_start || exit 1
make_tree "$work/tree"
# The same without member folders (which the cleanup leaves in place).
mkdir -p "$work/flat-tree"
cp "$work/tree/W_SETUP.EXE" "$work/tree/UTIL.DLL" "$work/tree/DATA/README.TXT" "$work/flat-tree/"

if want good; then
  echo "== a good medium"
  new_prefix good && make_medium good "$work/tree" && run_medium good
  own=$(wine_winpath "$work/good/WBOOT.EXE")
  cmd=$(rec good cmdline)
  read -r exe token handle rest <<<"$cmd"
  expect '[ "$RC" = 0 ]' "exit code 0"
  expect '[ ! -s "$work/good.boxes" ]' "no message box"
  expect '[ "$exe" = "C:\\USERS\\ROOT\\TEMP\\W80_INST\\W_SETUP.EXE" ]' "setup started from the work folder: $exe"
  expect 'token_ok "$token"' "launch token $token has its check sum"
  expect '[ "$handle" = "$(rec good target_hwnd)" ] && [ "$(rec good target_class)" = FIRST_INSTALL ] && [ "$(rec good target_title)" = "Wendle Install" ]' \
    "handle $handle is the splash window"
  expect '[ "$rest" = "$own" ]' "own path passed unquoted: $rest"
  expect '[ "$(rec good cwd)" = "C:\\users\\root\\Temp\\W80_INST" ] || [ "$(rec good cwd)" = "C:\\USERS\\ROOT\\TEMP\\W80_INST" ]' "started in the work folder"
  expect 'grep -q "^file=DATA\\\\SUB\\\\TABLE.TXT" "$work/good.record"' "members unpacked with their folders"
  expect '! grep -q "^file=UTIL.DL_" "$work/good.record" && grep -q "^file=UTIL.DLL" "$work/good.record"' "UTIL.DL_ left out on NT"
  expect '! grep -q "^file=W_SETUP.WPK" "$work/good.record"' "archive copy deleted before the start"
  expect '[ "$(rec good target_visible)" = 0 ]' "window hidden after the start"
  expect '[ "$(grep -c "^cmdline=" "$work/good.record")" = 1 ]' "setup started once"
  # The cleanup deletes the files of the work folder and leaves subfolders
  # (and so the work folder itself) where they are.
  left=$(cd "$(work_folder)" 2>/dev/null && find . -type f | sort | tr '\n' ' ')
  expect '[ "$left" = "./DATA/README.TXT ./DATA/SUB/TABLE.TXT " ]' "after the close request only the member folders stay: $left"
  echo "  info good-medium run (with member folders) took $MS ms"

  new_prefix flat && make_medium flat "$work/flat-tree" && run_medium flat
  expect '[ "$RC" = 0 ] && [ -n "$(rec flat cmdline)" ]' "a medium without folders runs"
  expect '[ ! -e "$(work_folder)" ]' "work folder removed after the close request"
  echo "  info good-medium run without folders took $MS ms"
fi

if want ports; then
  echo "== serial ports"
  new_prefix ports && make_medium ports "$work/tree"
  wine_seed_ports "$work/pfx-ports" "COM1:=19200,e,7,1" "COM3:=9600,n,8,1" "COM4:=9600,n,8,1"
  run_medium ports "Notice from Wendle : restarting window=NO;*=OK"
  expect '[ "$(box_captions ports)" = "Notice from Wendle : restarting window|Notice from Wendle|" ]' "question once, then the notice: $(box_captions ports)"
  expect '[ "$(box_field ports 1 buttons)" = YES,NO ] && [ "$(box_field ports 1 icon)" = question ]' \
    "question has exactly Yes and No, and the question icon: $(box_field ports 1 buttons)"
  expect '[ "$(box_field ports 2 buttons)" = OK ] && [ "$(box_field ports 2 icon)" = information ]' \
    "notice has only OK, and the information icon: $(box_field ports 2 buttons)"
  ports=$(wine_read_ports "$work/pfx-ports" | tr '\n' ' ')
  expect '[[ "$ports" == *"COM1:=19200,e,7,1"* && "$ports" == *"COM2:=9600,n,8,1"* ]]' "only COM2: written: $ports"
  expect '[ -n "$(rec ports cmdline)" ] && [ "$RC" = 0 ]' "installation went on"

  new_prefix logoff && make_medium logoff "$work/tree"
  wine_seed_ports "$work/pfx-logoff"
  # Wine carries a log-off out by ending the session's programs that have a
  # window: one stands by and must be gone before it is told to stop.
  wine_start "$WINE_TOOLS_DIR/notes_ref.exe" "$(wine_winpath "$work/logoff.stop")" 60 - - -
  bystander=$WINE_PID
  wait_x_window "Notes Reference" 20
  run_medium logoff "Notice from Wendle : restarting window=YES;*=OK"
  for _ in $(seq 50); do kill -0 "$bystander" 2>/dev/null || break; sleep 0.1; done
  expect '! kill -0 "$bystander" 2>/dev/null' "Yes: the log-off was carried out (a program with a window was ended)"
  touch "$work/logoff.stop"
  wait "$bystander"
  expect '[ "$RC" = 0 ] && [ "$(box_captions logoff)" = "Notice from Wendle : restarting window|" ] && [ "$(box_field logoff 1 press)" = YES ]' \
    "Yes: the program ended by itself after the question alone, exit $RC"
  expect '[ ! -e "$work/logoff.rec" ] && [ ! -e "$(work_folder)" ]' \
    "Yes: nothing unpacked, no setup started"
fi

if want spaces; then
  echo "== a temporary folder with a space, and a program where its first word ends"
  new_prefix spaces && make_medium spaces "$work/flat-tree"
  users=$(dirname "$(wine_temp_dir "$WINEPREFIX")")
  mkdir -p "$users/Temp Space"
  cp "$WINE_TOOLS_DIR/w_setup_stub.exe" "$users/TEMP.EXE" # where an unquoted line would lead
  set_temp 'C:\users\root\Temp Space'
  run_medium spaces
  expect '[[ "$(rec spaces cmdline)" == \"C:\\USERS\\ROOT\\TEMP\ SPACE\\W80_INST\\W_SETUP.EXE\"\ * ]]' "program path quoted: $(rec spaces cmdline)"
  expect '[[ "$(rec spaces exe)" == *"W80_INST\\W_SETUP.EXE" ]]' "the setup program itself was started: $(rec spaces exe)"
  expect '[ "$RC" = 0 ] && [ ! -e "$users/Temp Space/W80_INST" ]' "work folder cleaned"
fi

if want roottemp; then
  echo "== a temporary folder at the root of drive C, started from C:\\ and from C:\\windows"
  for start in "" windows; do
    name=root${start:+-$start}
    new_prefix "$name" && make_medium "$name" "$work/flat-tree" && set_temp 'C:\'
    c="$WINEPREFIX/drive_c"
    # Wine gives a program started from a Unix folder inside drive_c that
    # folder as its current folder.
    pushd "$c/$start" >/dev/null
    run_medium "$name"
    popd >/dev/null
    from="from C:\\$start"
    expect '[[ "$(rec "$name" cmdline)" == "C:\\W80_INST\\W_SETUP.EXE "* ]] && [ "$(rec "$name" cwd)" = "C:\\W80_INST" ]' \
      "$from: setup started in C:\\W80_INST: $(rec "$name" cmdline)"
    expect 'grep -q "^file=README.TXT" "$work/$name.record" && [ ! -e "$c/windows/W80_INST" ]' "$from: unpacked into C:\\W80_INST"
    expect '[ "$RC" = 0 ] && [ ! -s "$work/$name.boxes" ] && [ ! -e "$c/W80_INST" ]' "$from: C:\\W80_INST removed after the close request"
  done
fi

if want fromwork; then
  echo "== started from the work folder itself"
  new_prefix fromwork && make_medium fromwork "$work/flat-tree"
  medium=$(work_folder)
  mkdir -p "$medium" && cp "$work/fromwork/WBOOT.EXE" "$work/fromwork/W_SETUP.WPK" "$medium/"
  run_medium fromwork "*=OK" "$medium/WBOOT.EXE"
  expect '[ "$RC" = 0 ] && [ -n "$(rec fromwork cmdline)" ] && grep -q "^file=README.TXT" "$work/fromwork.record"' "unpacked and setup started"
  expect 'cmp -s "$medium/W_SETUP.WPK" "$work/fromwork/W_SETUP.WPK" && cmp -s "$medium/WBOOT.EXE" "$work/fromwork/WBOOT.EXE"' \
    "the medium's archive and the program stay"
  expect '[ "$(ls "$medium" | LC_ALL=C sort | tr "\n" " ")" = "WBOOT.EXE W_SETUP.WPK " ]' "the unpacked files are removed: $(ls "$medium" | tr "\n" " ")"
fi

if want failures; then
  echo "== failures"
  new_prefix noarchive && make_medium noarchive ""
  run_medium noarchive
  expect '[ "$(box_captions noarchive)" = "Copy error|Fatal error (Please check Disk)|" ]' "copy box, then the failure box: $(box_captions noarchive)"
  expect 'grep -q "^Copy error	W_SETUP.WPK	owner=0" "$work/noarchive.boxes"' "copy box names the archive, no owner"
  expect 'grep -q "^Fatal error (Please check Disk)	Can.t continue Installation.	owner=[1-9]" "$work/noarchive.boxes"' "failure box owned by the splash"
  expect '[ "$(box_field noarchive 1 buttons)" = OK ] && [ "$(box_field noarchive 2 buttons)" = OK ] && [ "$(box_field noarchive 2 icon)" = none ]' \
    "copy and failure boxes have only OK, the failure box no icon: $(box_field noarchive 2 buttons)"
  expect '[ "$RC" = 0 ] && [ -d "$(work_folder)" ]' "exit 0, work folder left as it was"

  new_prefix noarchive-ko && make_medium noarchive-ko ""
  WINE_LC_ALL=ko_KR.UTF-8 run_medium noarchive-ko
  korean_box="$(printf '치명적 오류 (Disk를 검사해 주세요)\t설치를 계속할 수 없습니다.' | iconv -f UTF-8 -t CP949)"
  expect '[ "$(sed -n 2p "$work/noarchive-ko.boxes" | cut -f1,2)" = "$korean_box" ] && [ "$(box_field noarchive-ko 2 buttons)" = OK ]' \
    "Korean: the failure box's caption and text are the code page 949 texts"

  mkdir -p "$work/nosetup"
  cp "$work/tree/DATA/README.TXT" "$work/nosetup/"
  new_prefix nostart && make_medium nostart "$work/nosetup"
  run_medium nostart
  expect '[ "$(box_captions nostart)" = "Fatal error (Please check Disk)|" ]' "a setup program that cannot start: the failure box"
  expect '[ "$RC" = 0 ] && [ ! -e "$(work_folder)" ]' "work folder cleaned after the failed start"

  # A full disk: a small tmpfs in place of the temporary folder.
  new_prefix full && mkdir -p "$work/big"
  head -c 3000000 /dev/zero >"$work/big/ZEROS.BIN"
  make_medium full "$work/big"
  temp=$(wine_temp_dir "$work/pfx-full")
  if mount -t tmpfs -o size=256k tmpfs "$temp" 2>/dev/null; then
    mounted+=("$temp")
    run_medium full
    expect '[ "$(box_captions full)" = "Fatal Error|Fatal error (Please check Disk)|" ]' "member cannot be written: fatal box, then the failure box"
    expect 'grep -q "^Fatal Error	Can.t write !! Disk error !!	owner=0" "$work/full.boxes"' "fatal box says the disk error"
    expect '[ -f "$temp/W80_INST/ZEROS.BIN" ] && [ "$RC" = 0 ]' "partial member kept, exit 0"
    wine_server_kill "$work/pfx-full"
    umount "$temp" && mounted=()
    head -c 400000 /dev/urandom >"$work/big/NOISE.BIN"
    rm "$work/big/ZEROS.BIN"
    make_medium full2 "$work/big"
    if mount -t tmpfs -o size=128k tmpfs "$temp" 2>/dev/null; then
      mounted+=("$temp")
      run_medium full2
      expect '[ "$(box_captions full2)" = "Write error|Copy error|Fatal error (Please check Disk)|" ]' "archive copy on a full disk: write, copy, failure boxes"
      wine_server_kill "$work/pfx-full"
      umount "$temp" && mounted=()
    fi
  else
    echo "  skip full-disk cases: cannot mount a tmpfs here"
  fi
fi

if want version; then
  echo "== Windows version and the .DL_ filter"
  for v in win95 nt40; do
    new_prefix "$v" && wine_set_version "$work/pfx-$v" "$v" && make_medium "$v" "$work/tree" && run_medium "$v"
    if [ "$v" = win95 ]; then
      expect 'grep -q "^file=UTIL.DL_" "$work/$v.record"' "Windows 95: UTIL.DL_ written"
    else
      expect 'grep -q "^file=UTIL.DLL" "$work/$v.record" && ! grep -q "^file=UTIL.DL_" "$work/$v.record"' "NT 4.0: UTIL.DL_ left out"
    fi
  done
fi

if want planted; then
  echo "== DLLs planted beside WBOOT.EXE, looked for there as Windows looks"
  new_prefix planted && make_medium planted "$work/flat-tree"
  for dll in CRTDLL UXTHEME DWMAPI; do cp "$WINE_TOOLS_DIR/$dll.DLL" "$work/planted/"; done
  WINEDLLOVERRIDES="$WINEDLLOVERRIDES;crtdll,uxtheme,dwmapi=n,b" run_medium planted
  expect '[ "$RC" = 0 ] && [ -n "$(rec planted cmdline)" ] && [ ! -s "$work/planted.boxes" ]' "installs as usual"
  loaded=$(cd "$work/planted" && ls -- *.LOADED 2>/dev/null | tr '\n' ' ')
  expect '[ -z "$loaded" ]' "no planted DLL was loaded: ${loaded:-none}"
fi

if want links; then
  echo "== links at and in the work folder, and files an earlier run left there"
  for kind in folder member leftovers; do
    name=link-$kind
    new_prefix "$name" && make_medium "$name" "$work/tree"
    wf=$(work_folder)
    other="$work/other-$kind"
    mkdir -p "$other" && printf 'mine\r\n' >"$other/KEEP1.TXT" && printf 'mine too\r\n' >"$other/KEEP2.TXT"
    case $kind in
    folder) ln -s "$other" "$wf" ;;
    member) mkdir -p "$wf" && ln -s "$other" "$wf/DATA" ;;
    leftovers) mkdir -p "$wf/OLD" && printf x >"$wf/OLD.DLL" && printf y >"$wf/OLD/KEPT.TXT" && ln -s "$other" "$wf/LINKED" ;;
    esac
    run_medium "$name"
    left=$(cd "$other" && find . | LC_ALL=C sort | tr '\n' ' ')
    expect '[ "$left" = ". ./KEEP1.TXT ./KEEP2.TXT " ] && [ "$(cat "$other/KEEP1.TXT")" = "$(printf "mine\r")" ]' \
      "$kind: the folder a link names holds its own files only: $left"
    case $kind in
    folder)
      expect '[ "$(box_captions "$name")" = "Fatal error (Please check Disk)|" ] && [ -z "$(rec "$name" cmdline)" ]' \
        "a linked work folder is not entered: the failure box, no setup: $(box_captions "$name")" ;;
    member)
      expect '[ -n "$(rec "$name" cmdline)" ] && grep -q "^file=UTIL.DLL" "$work/$name.record" && ! grep -q "^file=DATA.README.TXT" "$work/$name.record"' \
        "a linked member folder: setup started, its members left out" ;;
    leftovers)
      expect '[ -n "$(rec "$name" cmdline)" ] && ! grep -q "^file=OLD.DLL" "$work/$name.record" && grep -q "^file=OLD.KEPT.TXT" "$work/$name.record"' \
        "an old file is gone before setup starts, an old subfolder stays" ;;
    esac
  done
fi

if want relative; then
  echo "== started by a relative path from a command prompt"
  for how in sub dot; do
    name=relative-$how
    new_prefix "$name" && make_medium "$name" "$work/flat-tree"
    disk="$WINEPREFIX/drive_c/MEDIA/DISK1"
    mkdir -p "$disk" && cp "$work/$name/WBOOT.EXE" "$work/$name/W_SETUP.WPK" "$disk/"
    if [ $how = sub ]; then
      run_medium "$name" "*=OK" "$WINE_TOOLS_DIR/launch.exe" 'C:\MEDIA' 'DISK1\WBOOT.EXE'
    else
      run_medium "$name" "*=OK" "$WINE_TOOLS_DIR/launch.exe" 'C:\MEDIA\DISK1' '.\WBOOT.EXE'
    fi
    read -r _ _ _ own <<<"$(rec "$name" cmdline)"
    expect '[ "$RC" = 0 ] && [ ! -s "$work/$name.boxes" ] && grep -q "^file=README.TXT" "$work/$name.record"' \
      "$how: unpacked from the medium, no box: $(box_captions "$name")"
    expect '[ "$own" = "C:\\MEDIA\\DISK1\\WBOOT.EXE" ]' "$how: setup got the absolute path: $own"
  done
fi

if want codepages; then
  echo "== temporary folders with double-byte names"
  while read -r name locale codepage folder; do
    new_prefix "$name" && make_medium "$name" "$work/flat-tree"
    temp=$(wine_temp_dir "$WINEPREFIX")
    mkdir -p "$temp/$folder"
    bytes=$(printf '%s' "$folder" | iconv -f UTF-8 -t "CP$codepage" | od -An -tx1 -v | tr -d ' \n' | sed 's/../\\x&/g')
    WINE_LC_ALL=$locale run_medium "$name" "*=OK" "$WINE_TOOLS_DIR/launch.exe" 'C:\' \
      "$(wine_winpath "$work/$name/WBOOT.EXE")" "C:\\users\\$(basename "$(dirname "$temp")")\\Temp\\$bytes"
    expect '[ "$RC" = 0 ] && [ -n "$(rec "$name" cmdline)" ] && [ ! -s "$work/$name.boxes" ]' \
      "$folder (code page $codepage): installs, no box: $(box_captions "$name")"
    expect '[ -d "$temp/$folder" ] && [ ! -e "$temp/$folder/W80_INST" ]' "$folder: work folder removed after the close request"
  done <<'EOF'
cp932-yamada ja_JP.UTF-8 932 山田
cp949-ttombang ko_KR.UTF-8 949 똠방
cp932-nihon ja_JP.UTF-8 932 日本
EOF
fi

if want checksum; then
  echo "== a member that does not match its checksum"
  mkdir -p "$work/crc-tree"
  cp "$work/flat-tree/"* "$work/crc-tree/"
  seq 1 30000 >"$work/crc-tree/TABLE.TXT"
  new_prefix checksum && make_medium checksum "$work/crc-tree"
  python3 "$here/../tools/flip_member_bit.py" "$wpk" "$work/checksum/W_SETUP.WPK" TABLE.TXT "$work/flipped.wpk" >/dev/null &&
    mv "$work/flipped.wpk" "$work/checksum/W_SETUP.WPK"
  run_medium checksum
  expect '[ "$(box_captions checksum)" = "Fatal Error|Fatal error (Please check Disk)|" ]' "fatal box, then the failure box: $(box_captions checksum)"
  expect 'grep -q "^Fatal Error	File error !!	owner=0" "$work/checksum.boxes"' "fatal box says File error !!"
  expect '[ -z "$(rec checksum cmdline)" ] && [ "$RC" = 0 ]' "the setup program never started, exit 0"
  expect '[ -f "$(work_folder)/TABLE.TXT" ] && [ ! -e "$(work_folder)/W_SETUP.EXE" ]' "stopped right after the damaged member"
fi

if want dirchecksum; then
  echo "== a directory that does not match its checksum"
  new_prefix dirchecksum && make_medium dirchecksum "$work/flat-tree"
  # One bit of a member's name: the member checksums cover data, not names.
  python3 -c 'import sys; p = sys.argv[1]; d = bytearray(open(p, "rb").read()); d[d.index(b"README.TXT")] ^= 1; open(p, "wb").write(d)' \
    "$work/dirchecksum/W_SETUP.WPK"
  run_medium dirchecksum
  expect '[ "$(box_captions dirchecksum)" = "Fatal Error|Fatal error (Please check Disk)|" ] && grep -q "^Fatal Error	File error !!" "$work/dirchecksum.boxes"' \
    "File error !!, then the failure box: $(box_captions dirchecksum)"
  expect '[ -z "$(rec dirchecksum cmdline)" ] && [ "$(ls "$(work_folder)")" = W_SETUP.WPK ]' \
    "nothing unpacked, no setup started: $(ls "$(work_folder)" | tr "\n" " ")"
fi

if want signed; then
  echo "== a signed medium bound to its archive, and an archive swapped under it"
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/key.pem" -out "$work/cert.pem" -days 30 \
    -subj "/CN=Test Vendor" >/dev/null 2>&1 &&
    openssl pkcs12 -export -in "$work/cert.pem" -inkey "$work/key.pem" -out "$work/vendor.p12" -passout pass: &&
    "$wpk" medium -q --program "$win/wboot.exe" --sign "$work/vendor.p12" "$work/signed" "$work/flat-tree" &&
    "$wpk" medium -q --program "$win/wboot.exe" --no-bind "$work/unbound" "$work/flat-tree" ||
    bad "signed and unbound media made"
  # Another archive, sound as a deliberate swap makes it: one byte of a
  # member changed, its checksum and the directory's made anew.
  mkdir -p "$work/swap-tree" && cp "$work/flat-tree/"* "$work/swap-tree/" && printf 'x' >>"$work/swap-tree/README.TXT"
  "$wpk" pack -q "$work/swapped.wpk" "$work/swap-tree"
  mkdir -p "$work/swapped" && cp "$work/signed/WBOOT.EXE" "$work/swapped/" && cp "$work/swapped.wpk" "$work/swapped/W_SETUP.WPK"
  cp "$work/swapped.wpk" "$work/unbound/W_SETUP.WPK"
  for name in signed swapped unbound; do
    new_prefix "$name" && run_medium "$name"
    case $name in
    swapped)
      expect '[ "$(box_captions swapped)" = "Copy error|Fatal error (Please check Disk)|" ] && [ -z "$(rec swapped cmdline)" ]' \
        "swapped archive: the copy box, then the failure box, no setup: $(box_captions swapped)"
      expect '[ "$(ls "$(work_folder)")" = W_SETUP.WPK ]' "swapped archive: nothing unpacked, nothing cleaned: $(ls "$(work_folder)" | tr "\n" " ")" ;;
    *)
      expect '[ "$RC" = 0 ] && [ ! -s "$work/$name.boxes" ] && grep -q "^file=README.TXT" "$work/$name.record"' \
        "$name medium installs: $(box_captions "$name")" ;;
    esac
  done
fi

# The splash while a large archive unpacks: gradient rows and text colours.
# The note lines are compared with notes_ref's rendering of the language's
# note texts laid out the same way, in the same prefix and locale.
NOTES_en=("Windows" "Running Setup program" "Please wait a moment.")
NOTES_ko=("Windows" "설치를 준비중입니다." "잠시만 기다리세요.")
cp949_escaped() { printf '%s' "$1" | iconv -f UTF-8 -t CP949 | od -An -tx1 -v | tr -d ' \n' | sed 's/../\\x&/g'; }

check_splash() { # NAME LANGUAGE
  local name=$1 lang=$2 shot="$work/$1.png" ref="$work/$1-ref.png" lc="" y rgb expected rows
  new_prefix "$name" || return 1
  [ "$lang" = ko ] && lc=ko_KR.UTF-8 && wine_prefix_korean "$work/pfx-$name"
  mkdir -p "$work/$name-tree"
  cp "$WINE_TOOLS_DIR/w_setup_stub.exe" "$work/$name-tree/W_SETUP.EXE"
  head -c 30000000 /dev/urandom >"$work/$name-tree/LARGE.BIN"
  make_medium "$name" "$work/$name-tree"
  WINE_LC_ALL=$lc boxclick_start "$work/$name.boxes" "*=OK" 60
  WSTUB_RECORD="$(wine_winpath "$work/$name.rec")" WINE_LC_ALL=$lc wine_start "$work/$name/WBOOT.EXE"
  local pid=$WINE_PID
  wait_x_window "Wendle Install" 20 && sleep 0.4 && screenshot "$shot"
  wine_wait "$pid"
  boxclick_stop
  [ -f "$shot" ] || { bad "$lang splash: no screenshot"; return; }
  [ -n "${WINE_SHOT_DIR:-}" ] && mkdir -p "$WINE_SHOT_DIR" && cp "$shot" "$WINE_SHOT_DIR/splash-$lang.png"
  for y in 1 100 239 240 333 478; do
    rgb=$(python3 "$here/pixels.py" row-mode "$shot" "$y")
    expected="0 0 $(((y / 2 * 2) * 256 / 480))"
    expect '[ "$rgb" = "$expected" ]' "$lang splash row $y colour $rgb (expected $expected)"
  done
  rows=$(python3 "$here/pixels.py" count "$shot" 40 330 255 255 255)
  expect '[ "$rows" -gt 500 ]' "$lang white title pixels in rows 40-330: $rows"
  rows=$(python3 "$here/pixels.py" count "$shot" 0 39 255 255 255)
  expect '[ "$rows" = 0 ]' "$lang no white above the first title row"

  local -n texts="NOTES_$lang"
  local stop="$work/$name-ref.stop" xor
  WINE_LC_ALL=$lc wine_start "$WINE_TOOLS_DIR/notes_ref.exe" "$(wine_winpath "$stop")" 30 \
    "$(cp949_escaped "${texts[0]}")" "$(cp949_escaped "${texts[1]}")" "$(cp949_escaped "${texts[2]}")"
  pid=$WINE_PID
  wait_x_window "Notes Reference" 20 && sleep 0.4 && screenshot "$ref"
  touch "$stop"
  wine_wait "$pid"
  read -r YELLOW rows xor <<<"$(python3 "$here/pixels.py" xor "$shot" "$ref" 255 255 0)"
  expect '[ "$YELLOW" -gt 1000 ] && [ "$xor" = 0 ]' \
    "$lang note lines are the $lang texts: $YELLOW yellow pixels, $rows in the reference, $xor apart"
  echo "  info $lang splash screenshot: $shot"
}

if want splash; then
  echo "== the splash on screen"
  check_splash splash-en en
  check_splash splash-ko ko
  expect 'grep -q "^target_class=FIRST_INSTALL" <(tr -d "\r" <"$work/splash-ko.rec")' "Korean run installs too"
  read -r _ _ xor <<<"$(python3 "$here/pixels.py" xor "$work/splash-en.png" "$work/splash-ko.png" 255 255 0)"
  expect '[ "$xor" -gt 1000 ]' "the Korean and English note lines differ: $xor pixels apart"
fi

echo "== end to end under Wine: $failures failure(s)"
exit $((failures > 0))
