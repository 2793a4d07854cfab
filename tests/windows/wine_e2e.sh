#!/bin/bash
# The released Windows program, taken out of the release's floppy image,
# under Wine on the same machines as the hosted build, must make the same
# calls with the same results and end in the same state.
#
# Each machine runs in three Wine prefixes: the default NT-family version,
# whose RegDeleteKeyA refuses keys with subkeys (our platform layer deletes
# the subtree), and Windows 98 and Windows 95, whose RegDeleteKeyA deletes
# subtrees itself. In each, /S /LOG=FILE must show no box and write the log
# the hosted run writes, call by call (fold_log.py), and leave the registry
# keys, the files and system.ini as the hosted run leaves them; on the first
# machine, Enter at the confirmation of a run without switches must change
# nothing before that. In the Windows 98 prefix the first machine also runs:
# /?, an unknown switch and two logs that cannot be opened, which must
# change nothing; a second copy started while the first waits at its
# confirmation, which must exit 2 at once and touch nothing, after which the
# first, answered Yes and OK on the screen, ends as the hosted run does; and
# /S with tqc.cpl held open by a program of ours, as a Control Panel holds
# it: the applet stays, the help file goes, and the log shows both tries.
#
# usage: wine_e2e.sh HOSTED_BIN FLOPPY BUILD32 BUILD64 ARTIFACT_DIR MACHINE...
#   FLOPPY           the release's floppy image (tools/release.sh)
#   BUILD32 BUILD64  the windows and windows64 presets' build folders: the
#                    file holder (tests/windows/hold_file.exe) and the
#                    64-bit program
#
# The released 32-bit program runs under 32-bit Wine wherever the host can
# run 32-bit programs. Where it cannot, the windows64 build of the same
# sources runs under 64-bit Wine instead (choose_wine.bash): it is not in the
# release, and the test says so.
#
# Every program the test starts runs under a time limit: a hang fails its
# case at once, and the case's Wine processes are ended with it.
set -u
caption="Quorvane TQ72 Modem"
here=$(cd "$(dirname "$0")" && pwd)
source "$(dirname "$0")/skip_or_fail.bash"

source "$(dirname "$0")/choose_wine.bash"
source "$(dirname "$0")/../e2e/runs.bash"

hosted=$1 floppy=$2 build32=$3 build64=$4 artifacts=$5
shift 5
machines=()
for m in "$@"; do machines+=("$(realpath "$m")"); done

for tool in Xvfb xdotool import iconv mcopy timeout flock; do
  command -v $tool >/dev/null || skip_or_fail "$tool not installed"
done
[ -x "$hosted" ] || skip_or_fail "hosted build $hosted missing"

work=$(mktemp -d)
xvfb_pid=
prefixes=()
cleanup() {
  local p
  for p in "${prefixes[@]}"; do WINEPREFIX=$p timeout 20 wineserver -k 2>/dev/null; done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

choose_wine
if [ $arch = win32 ]; then
  [ -f "$floppy" ] || skip_or_fail "no release floppy $floppy (tools/release.sh)"
  exe=$work/tq72uninst.exe
  mcopy -n -i "$floppy" ::tq72uninst.exe "$exe" || { echo "FAIL: cannot read $floppy" >&2; exit 1; }
  holder=$build32/tests/windows/hold_file.exe
  echo "running tq72uninst.exe from $(basename "$floppy") under $wine in a win32 prefix"
else
  exe=$build64/tq72uninst.exe
  holder=$build64/tests/windows/hold_file.exe
  echo "NOTE: the released program is 32-bit; this runs the windows64 build $exe, which is not in the release"
fi
for f in "$exe" "$holder"; do
  [ -f "$f" ] || skip_or_fail "$f not built (cmake --preset $preset && cmake --build --preset $preset)"
done

export WINEDEBUG=-all WINEARCH=$arch WINELOADER=$wine WINEDLLOVERRIDES="mscoree,mshtml="
unset WINEPREFIX
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")
mkdir -p "$artifacts"

# Runs COMMAND for at most LIMIT seconds. A hang fails the case and ends
# every process of the current prefix (a Windows program outlives its
# loader).
bounded() { # limit command...
  local limit=$1 rc
  shift
  timeout -k 5 "$limit" "$@"
  rc=$?
  if [ $rc = 124 ] || [ $rc = 137 ]; then
    fail "$(basename "$1") ${2:-} did not end within $limit s"
    [ -n "${WINEPREFIX:-}" ] && timeout 20 wineserver -k 2>/dev/null
  fi
  return $rc
}

# --- one slow wineboot, then a copy of the prefix per machine and version
start=$SECONDS
base=$work/base
prefixes+=("$base")
export WINEPREFIX=$base
bounded 180 $wine wineboot -i >/dev/null 2>&1
# Wine draws the boxes' caption itself, so the screenshots show it, with
# the close button in Marlett, as Windows 98 draws it. Debian's Wine does not
# find the fonts made for it (fonts-wine) where they are installed; in the
# prefix's Fonts folder it does.
bounded 60 $wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
cp /usr/share/wine/fonts/marlett.ttf "$base/drive_c/windows/Fonts/" 2>/dev/null ||
  fail "no Marlett font for the boxes' close button (Debian: fonts-wine)"
bounded 60 wineserver -w
unset WINEPREFIX
[ -f "$base/system.reg" ] || { echo "FAIL: wineboot did not create a prefix" >&2; exit 1; }
grep -qx "#arch=$arch" "$base/system.reg" || { echo "FAIL: the prefix is not $arch" >&2; exit 1; }
echo "prefix created in $((SECONDS - start)) s"

# --- helpers
winpath() { echo "Z:${1//\//\\}"; }
lower() { tr 'A-Z' 'a-z'; }

# Key paths of a REGEDIT4/5 file, lower-cased and sorted: Windows compares
# them in any case.
wine_reg_keys() { reg_keys "$1" | lower | sort -u; }

# An existing path below $1 matching the relative path $2 element by element,
# case-insensitively, as Windows finds it.
ci_path() {
  local p=$1 e m
  local IFS=/
  for e in $2; do
    m=$(find "$p" -mindepth 1 -maxdepth 1 -iname "$e" -print -quit 2>/dev/null)
    [ -n "$m" ] || return 1
    p=$m
  done
  echo "$p"
}

# Where a file of the machine's WINDOWS folder lives in a prefix: Wine reports
# C:\windows\system32 as the system directory, the machine folder keeps it
# in WINDOWS/SYSTEM.
wine_rel() {
  local rel=$1
  case "$(echo "${rel%%/*}" | lower)" in
    system) [ "$rel" != "${rel#*/}" ] && rel=system32/${rel#*/} ;;
  esac
  echo "$rel"
}

place_files() { # machine prefix
  local rel dir file target
  (cd "$1/WINDOWS" && find . -type f | sed 's|^\./||') | while read -r rel; do
    rel_w=$(wine_rel "$rel")
    target=$2/drive_c/windows
    dir=$(dirname "$rel_w") file=$(basename "$rel_w")
    if [ "$dir" != . ]; then
      local IFS=/ e m
      for e in $dir; do
        m=$(find "$target" -mindepth 1 -maxdepth 1 -iname "$e" -type d -print -quit)
        [ -n "$m" ] || { m=$target/$e; mkdir "$m"; }
        target=$m
      done
    fi
    # Wine's own system.ini and friends would shadow ours in a case-folded match.
    find "$target" -mindepth 1 -maxdepth 1 -iname "$file" -exec rm -f {} +
    cp "$1/WINDOWS/$rel" "$target/$file"
  done
}

# The machine's registry and files in the current prefix: what a run starts from.
install_machine() { # machine
  bounded 60 $wine regedit /S "$(winpath "$1/registry.reg")" >/dev/null 2>&1
  place_files "$1" "$WINEPREFIX"
}

# "present"/"absent" for each file of the original machine, in order. Names
# compare case-insensitively, as Windows finds them.
files_state() { # machine root-of-run wine|hosted
  local root=$2/WINDOWS rel have
  [ "$3" = wine ] && root=$2/drive_c/windows
  have=$(cd "$root" && find . -type f | sed 's|^\./||' | lower)
  (cd "$1/WINDOWS" && find . -type f | sed 's|^\./||' | sort) | while read -r rel; do
    if [ "$3" = wine ]; then
      grep -qxF "$(wine_rel "$rel" | lower)" <<< "$have"
    else
      grep -qxF "$(echo "$rel" | lower)" <<< "$have"
    fi && echo "present $rel" || echo "absent $rel"
  done
}

# Keys of the machine's registry.reg still present in the current prefix: one
# export of the whole HKEY_LOCAL_MACHINE (one Wine start costs more than its
# size).
wine_keys() { # keyfile
  rm -f "$work/export.reg"
  bounded 60 $wine regedit /E "$(winpath "$work/export.reg")" HKEY_LOCAL_MACHINE >/dev/null 2>&1
  [ -f "$work/export.reg" ] || { fail "regedit /E failed"; return; }
  wine_reg_keys "$work/export.reg" | comm -12 - "$1"
}

# Starts the program in the current prefix with ARGS in the background,
# tracing its boxes: sets pid and trace.
start_wine() { # shot-name args...
  trace=$work/$1.trace
  shift
  WINEDEBUG=-all,trace+msgbox timeout -k 5 120 $wine "$exe" "$@" >/dev/null 2>"$trace" &
  pid=$!
}

# Answers the boxes of the program started last until it ends: the first
# with $1 (Return or alt+y), every later one with Return (OK); boxes whose
# windows are in $answered are another program's. Sets rc and texts (the
# boxes' texts, one a line, as Wine's trace escapes them: \r\n for a line
# break); saves a screenshot of each box as $2-N.png. A box is known by its
# X window: answered, Wine destroys it, and the next box gets a new one.
answer_boxes() { # first-key shot-name
  local id key waited boxes=0
  while kill -0 $pid 2>/dev/null; do
    id=$(xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null |
         grep -vxF -f <(tr ' ' '\n' <<< "$answered" | grep .) | head -1)
    if [ -z "$id" ]; then sleep 0.2; continue; fi
    answered+="$id "
    boxes=$((boxes + 1))
    key=Return
    [ $boxes = 1 ] && key=$1
    # Wine drops keys that arrive before it has taken the focus.
    timeout 10 xdotool windowfocus --sync "$id" 2>/dev/null
    sleep 0.5
    # import can hang on a window that goes away meanwhile.
    timeout 10 import -window "$id" "$artifacts/$2-$boxes.png" 2>/dev/null
    xdotool key "$key"
    waited=0
    while kill -0 $pid 2>/dev/null &&
          xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null | grep -qx "$id"; do
      sleep 0.2
      waited=$((waited + 1))
      # A key that was lost is sent again: the same key, never another answer.
      if [ $((waited % 15)) = 0 ]; then
        timeout 10 xdotool windowfocus --sync "$id" 2>/dev/null; sleep 0.3; xdotool key "$key"
      fi
      [ $waited -gt 150 ] && { fail "box $boxes not answered"; break; }
    done
  done
  wait $pid
  rc=$?
  if [ $rc = 124 ] || [ $rc = 137 ]; then
    fail "the program did not end within 120 s"
    timeout 20 wineserver -k 2>/dev/null
  fi
  texts=$(sed -n 's/.*:MSGBOX_OnInit L"\(.*\)"$/\1/p' "$trace")
}

# Runs the program with ARGS and answers its boxes (answer_boxes).
run_wine() { # first-key shot-name args...
  start_wine "$2" "${@:3}"
  answered=" "
  answer_boxes "$1" "$2"
}

expect() { [ "$2" = "$3" ] || fail "$1: expected $3, got $2"; }

# The end state of a run that went on, against the hosted run's.
expect_hosted_end() { # machine hosted-name
  local name=$2
  expect "exit status" $rc "$(cat "$work/$name.rc")"
  wine_keys "$work/$(basename "$1").keys" > "$work/after.keys"
  diff "$work/$name.keys" "$work/after.keys" >&2 ||
    fail "registry keys differ from the hosted run (< hosted, > wine)"
  files_state "$1" "$WINEPREFIX" wine | diff "$work/$name.files" - >&2 ||
    fail "files differ from the hosted run (< hosted, > wine)"
  cmp "$work/$name.ini" "$(ci_path "$WINEPREFIX/drive_c/windows" system.ini)" >&2 ||
    fail "system.ini differs from the hosted run"
  ci_path "$WINEPREFIX/drive_c/windows" system.new >/dev/null && fail "system.new left behind"
}

# The boxes a run showed are the hosted run's, text for text.
expect_hosted_texts() { # hosted-name
  [ "$texts" = "$(cat "$work/$1.texts")" ] ||
    { fail "boxes differ from the hosted run (< hosted, > wine)"; diff "$work/$1.texts" <(echo "$texts") >&2; }
}

# The machine in the current prefix is still as installed: every key, every
# file, system.ini byte for byte.
expect_unchanged() { # machine what
  local name
  name=$(basename "$1")
  wine_keys "$work/$name.keys" | diff "$work/$name.keys" - >&2 ||
    fail "$2: the registry is not the machine's (< machine, > wine)"
  files_state "$1" "$WINEPREFIX" wine | cmp -s - "$work/$name.files" || fail "$2: files changed"
  cmp -s "$(ci_path "$WINEPREFIX/drive_c/windows" system.ini)" "$(ci_path "$1/WINDOWS" system.ini)" ||
    fail "$2: system.ini changed"
}

# A run with /S and /LOG: no box, and the log is the hosted run's, call by
# call, with CR LF line ends. The log's folder has a space in its name.
silent_run() { # shot-name hosted-name
  local log="$WINEPREFIX/drive_c/tq72 logs/run.log"
  mkdir -p "$(dirname "$log")"
  rm -f "$log"
  run_wine Return "$1" /S '/LOG=C:\tq72 logs\run.log'
  expect "$1: boxes shown" "$(echo "$texts" | grep -c .)" 0
  [ -s "$log" ] || { fail "$1: no log"; return; }
  cp "$log" "$work/$1.log"
  cp "$log" "$artifacts/$1.log"
  cp "$work/$2.log" "$artifacts/$2.log"
  expect "$1: lines without CR LF" "$(grep -vc $'\r$' "$log")" 0
  diff <(python3 "$here/fold_log.py" "$work/$2.log") <(python3 "$here/fold_log.py" "$log") >&2 ||
    fail "$1: the log differs from the hosted run's (< hosted, > wine)"
  expect_hosted_end "$machine" "$2"
}

# The hosted run on a copy of the machine, the reference: saves NAME.rc,
# NAME.texts, NAME.keys, NAME.files and NAME.ini. With hold, a flock holds
# tqc.cpl for the whole run, as the Control Panel would.
hosted_run() { # machine name answers [hold]
  local copy=$work/$2 lock=
  cp -r "$1" "$copy"
  if [ "${4:-}" = hold ]; then
    hold_lock "$copy/WINDOWS/SYSTEM/tqc.cpl" || fail "tqc.cpl could not be held"
    lock=$HOLDER
  fi
  bounded 60 "$hosted" --machine "$copy" --answers "$3" --log "$work/$2.log" </dev/null
  echo $? > "$work/$2.rc"
  [ -n "$lock" ] && { kill $lock; wait $lock; } 2>/dev/null
  boxes "$work/$2.log" | cut -d'|' -f3- > "$work/$2.texts"
  wine_reg_keys "$copy/registry.reg" | comm -12 - "$work/$(basename "$1").keys" > "$work/$2.keys"
  files_state "$1" "$copy" hosted > "$work/$2.files"
  cp "$(ci_path "$copy/WINDOWS" system.ini)" "$work/$2.ini"
}

# --- the scenarios
usage_head='tq72uninst [/S] [/LOG=FILE] [/?]'
already_running='The uninstaller is already running. Wait until it has finished.'
first=
for machine in "${machines[@]}"; do
  [ -f "$machine/registry.reg" ] || skip_or_fail "no machine at $machine"
  name=$(basename "$machine")
  first=${first:-$name}
  scenario $name-hosted
  # The program works below HKEY_LOCAL_MACHINE only, and Wine's HKEY_USERS
  # takes no keys but loaded profiles, so the other roots are not compared.
  wine_reg_keys "$machine/registry.reg" | grep '^hkey_local_machine\\' > "$work/$name.keys"
  files_state "$machine" "$machine" hosted > "$work/$name.files"
  hosted_run "$machine" "$name-hosted" yes,ok
  cmp -s "$work/$name.keys" "$work/$name-hosted.keys" && fail "the hosted run removed no key"
  if [ $name = "$first" ]; then
    scenario $name-held-hosted
    hosted_run "$machine" "$name-held" yes,ok,ok hold
  fi

  for version in nt win98 win95; do
    scenario $name-$version
    export WINEPREFIX=$work/$CASE
    prefixes+=("$WINEPREFIX")
    cp -a "$base" "$WINEPREFIX"
    # One server for the whole case, rather than one per Wine command.
    timeout 20 wineserver -p
    [ $version != nt ] &&
      bounded 60 $wine reg add 'HKCU\Software\Wine' /v Version /d $version /f >/dev/null 2>&1
    reported=$(bounded 60 $wine cmd /c ver 2>/dev/null | tr -d '\r' | grep -o 'Windows [0-9.]*')
    case $version:$reported in
      nt:"Windows "[5-9].* | nt:"Windows "1[0-9].* | win98:"Windows 4.10."* | win95:"Windows 4.0."*) ;;
      *) fail "the prefix reports ${reported:-nothing}, not $version" ;;
    esac
    install_machine "$machine"

    # A run without switches: Enter at the confirmation takes No, nothing
    # changes, status 0. The registry is then still the machine's whole (its
    # import was complete). The program ends before it looks at the machine,
    # so one machine shows it in each version.
    if [ $name = "$first" ]; then
      run_wine Return "$CASE-declined"
      expect "declined: exit status" $rc 0
      expect "declined: boxes" "$texts" "$(head -1 "$work/$name-hosted.texts")"
      expect_unchanged "$machine" declined
    fi

    if [ $name = "$first" ] && [ $version = win98 ]; then
      # Runs that must not start, or only show a box, and change nothing.
      scenario $name-$version-switches
      run_wine Return "$CASE-usage" /?
      expect "/?: exit status" $rc 0
      expect "/?: box" "${texts%%\\r\\n*}" "$usage_head"
      run_wine Return "$CASE-unknown" /X -quiet
      expect "unknown switches: exit status" $rc 0
      expect "unknown switches: boxes" "$texts" "$(head -1 "$work/$name-hosted.texts")"
      run_wine Return "$CASE-nofolder" /S '/LOG=C:\no such folder\tq72.log'
      expect "/S, a log in no folder: exit status" $rc 2
      expect "/S, a log in no folder: boxes" "$texts" ""
      run_wine Return "$CASE-sysini" '-log=C:\WINDOWS\SYSTEM.INI'
      expect "a log named system.ini: exit status" $rc 2
      expect "a log named system.ini: boxes" "$(echo "$texts" | grep -c 'the log cannot be opened')" 1
      expect_unchanged "$machine" "the switches' runs"

      # Two copies at once: the second, started while the first waits at
      # its confirmation, exits 2 at once and touches nothing, with /S in
      # silence and otherwise after a box. The first then goes on, answered
      # on the screen, to the hosted run's end.
      scenario $name-$version-two-copies
      start_wine "$CASE-first"
      first_pid=$pid first_trace=$trace answered=" "
      for _ in $(seq 300); do
        first_box=$(xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null | head -1)
        [ -n "$first_box" ] && break
        sleep 0.2
      done
      if [ -z "$first_box" ]; then
        fail "the first copy showed no box"
      else
        started=$SECONDS
        bounded 30 $wine "$exe" /S >/dev/null 2>&1
        expect "second copy with /S: exit status" $? 2
        [ $((SECONDS - started)) -le 15 ] || fail "the second copy took $((SECONDS - started)) s"
        start_wine "$CASE-second"
        answered=" $first_box "
        answer_boxes Return "$CASE-second"
        expect "second copy: exit status" $rc 2
        expect "second copy: boxes" "$texts" "$already_running"
        expect_unchanged "$machine" "a second copy"
        pid=$first_pid trace=$first_trace answered=" "
        answer_boxes alt+y "$CASE-first"
        expect "first copy: exit status" $rc 1
        expect_hosted_texts "$name-hosted"
        expect_hosted_end "$machine" "$name-hosted"
      fi
      install_machine "$machine"
    fi

    # /S and /LOG: the hosted run's calls and end state.
    scenario $name-$version
    silent_run "$CASE-silent" "$name-hosted"
    echo "$CASE: exit $rc, $(wc -l < "$work/$CASE-silent.log") calls, $(wc -l < "$work/after.keys") of $(wc -l < "$work/$name.keys") keys left"

    # The machine again, in the same prefix, with tqc.cpl held open by a
    # program of ours for the whole run: its deletion is refused twice.
    if [ $name = "$first" ] && [ $version = win98 ]; then
      scenario $name-$version-applet-held
      install_machine "$machine"
      applet=$(ci_path "$WINEPREFIX/drive_c/windows" system32/tqc.cpl)
      coproc HOLDER { timeout -k 5 300 $wine "$holder" 'C:\windows\system32\tqc.cpl' 2>/dev/null; }
      holder_pid=$HOLDER_PID
      read -r -t 30 held <&"${HOLDER[0]}"
      rc=
      if [ "${held%$'\r'}" = holding ]; then
        silent_run "$CASE" "$name-held"
      else
        fail "the holder did not open tqc.cpl"
      fi
      # Its standard input ends: it lets go and ends. What it held must
      # still be there then.
      [ -n "${HOLDER[1]:-}" ] && eval "exec ${HOLDER[1]}>&-"
      wait $holder_pid 2>/dev/null
      if [ -n "$rc" ]; then
        expect "tries to delete tqc.cpl" \
          "$(grep -ic '"call":"DeleteFileA","path":"[^"]*tqc.cpl","result":0' "$work/$CASE.log")" 2
        grep -q '"text":"Unable to delete Control Panel entry' "$work/$CASE.log" ||
          fail "the applet prompt is not in the log"
        [ -n "$applet" ] && cmp -s "$applet" "$(ci_path "$machine/WINDOWS" SYSTEM/tqc.cpl)" ||
          fail "tqc.cpl not kept intact"
        ci_path "$WINEPREFIX/drive_c/windows" help/tqc.hlp >/dev/null && fail "tqc.hlp not deleted"
        echo "$CASE: exit $rc"
      fi
    fi

    timeout 20 wineserver -k 2>/dev/null
    rm -rf "$WINEPREFIX"
    unset WINEPREFIX
  done
done

echo "screenshots and logs in $artifacts; took $SECONDS s"
finish
