#!/bin/bash
# The real Windows program under Wine, on the same machines as the hosted
# build, must end in the same state: the same registry keys (of those each
# machine's registry.reg holds), the same files, system.ini byte for byte,
# the same number of boxes and the same exit status.
#
# Each machine runs in two Wine prefixes: the default NT-family version, whose
# RegDeleteKeyA refuses keys with subkeys (our platform layer deletes the
# subtree), and Windows 98, whose RegDeleteKeyA deletes subtrees itself.
#
# usage: wine_e2e.sh HOSTED_BIN EXE32 EXE64 ARTIFACT_DIR MACHINE...
#
# The shipped 32-bit program runs under 32-bit Wine wherever the host can run
# 32-bit programs; see choose_wine.bash for the 64-bit fallback.
set -u
caption="Quorvane TQ72 Modem"
status=0

fail() { echo "FAIL: $*" >&2; status=1; }
skip_or_fail() {
  echo "SKIP: $1" >&2
  [ "${CI:-}" = true ] && { echo "FAIL: required under CI" >&2; exit 1; }
  exit 77
}

source "$(dirname "$0")/choose_wine.bash"

hosted=$1 exe32=$2 exe64=$3 artifacts=$4
shift 4

for tool in Xvfb xdotool import iconv; do
  command -v $tool >/dev/null || skip_or_fail "$tool not installed"
done
[ -x "$hosted" ] || skip_or_fail "hosted build $hosted missing"

choose_wine
exe=$exe32
[ $arch = win64 ] && exe=$exe64
[ -f "$exe" ] || skip_or_fail "$exe not built (cmake --preset $preset && cmake --build --preset $preset)"
echo "running $exe under $wine in a $arch prefix"

work=$(mktemp -d)
xvfb_pid=
prefixes=()
cleanup() {
  for p in "${prefixes[@]}"; do WINEPREFIX=$p wineserver -k 2>/dev/null; done
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export WINEDEBUG=-all WINEARCH=$arch WINELOADER=$wine WINEDLLOVERRIDES="mscoree,mshtml="
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "FAIL: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")
mkdir -p "$artifacts"

# --- Wine prefixes: one slow wineboot, then a copy per scenario.
start=$SECONDS
base=$work/base
prefixes+=("$base")
WINEPREFIX=$base $wine wineboot -i >/dev/null 2>&1
# Wine draws the boxes' caption itself, so the screenshots show it.
WINEPREFIX=$base $wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f >/dev/null 2>&1
WINEPREFIX=$base wineserver -w
[ -f "$base/system.reg" ] || { echo "FAIL: wineboot did not create a prefix" >&2; exit 1; }
grep -qx "#arch=$arch" "$base/system.reg" || { echo "FAIL: the prefix is not $arch" >&2; exit 1; }
echo "prefix created in $((SECONDS - start)) s"

# --- helpers
winpath() { echo "Z:${1//\//\\}"; }
lower() { tr 'A-Z' 'a-z'; }

# Key paths of a REGEDIT4/5 file (UTF-8 or UTF-16), lower-cased and sorted.
reg_keys() {
  local text
  if head -c2 "$1" | od -An -tx1 | grep -q 'ff fe'; then
    text=$(iconv -f UTF-16 -t UTF-8 "$1")
  else
    text=$(cat "$1")
  fi
  printf '%s\n' "$text" | tr -d '\r' | sed -n 's/^\[\([^-].*\)\]$/\1/p' | lower | sort -u
}

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

# "present"/"absent" for each file of the original machine, in order.
files_state() { # machine root-of-run wine|hosted
  (cd "$1/WINDOWS" && find . -type f | sed 's|^\./||' | sort) | while read -r rel; do
    if [ "$3" = wine ]; then
      ci_path "$2/drive_c/windows" "$(wine_rel "$rel")" >/dev/null && echo "present $rel" || echo "absent $rel"
    else
      ci_path "$2/WINDOWS" "$rel" >/dev/null && echo "present $rel" || echo "absent $rel"
    fi
  done
}

# Keys of the machine's registry.reg still present in a prefix: one export
# of the whole HKEY_LOCAL_MACHINE (one Wine start costs more than its size).
wine_keys() { # prefix keyfile
  rm -f "$work/export.reg"
  WINEPREFIX=$1 $wine regedit /E "$(winpath "$work/export.reg")" HKEY_LOCAL_MACHINE >/dev/null 2>&1
  [ -f "$work/export.reg" ] || { fail "regedit /E failed in $1"; return; }
  reg_keys "$work/export.reg" | comm -12 - "$2"
}

# Runs the program in a prefix and answers its boxes: the first with $2
# (Return or alt+y), every later one with Return (OK). Sets rc and boxes;
# saves a screenshot of each box as $3-N.png. A box is known by its X window:
# answered, Wine destroys it, and the next box gets a new one.
run_wine() { # prefix first-key shot-name
  WINEPREFIX=$1 $wine "$exe" >/dev/null 2>&1 &
  local pid=$! deadline=$((SECONDS + 120)) id key waited answered=" "
  boxes=0
  while kill -0 $pid 2>/dev/null; do
    if [ $SECONDS -gt $deadline ]; then fail "$3: no progress within 120 s"; kill $pid; break; fi
    id=$(xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null |
         grep -vxF -f <(tr ' ' '\n' <<< "$answered" | grep .) | head -1)
    if [ -z "$id" ]; then sleep 0.2; continue; fi
    answered+="$id "
    boxes=$((boxes + 1))
    key=Return
    [ $boxes = 1 ] && key=$2
    # Wine drops keys that arrive before it has taken the focus.
    xdotool windowfocus --sync "$id" 2>/dev/null
    sleep 0.5
    # import can hang on a window that goes away meanwhile.
    timeout 10 import -window "$id" "$artifacts/$3-$boxes.png" 2>/dev/null
    xdotool key "$key"
    waited=0
    while kill -0 $pid 2>/dev/null &&
          xdotool search --onlyvisible --name "^$caption\$" 2>/dev/null | grep -qx "$id"; do
      sleep 0.2
      waited=$((waited + 1))
      # A key that was lost is sent again: the same key, never another answer.
      if [ $((waited % 15)) = 0 ]; then
        xdotool windowfocus --sync "$id" 2>/dev/null; sleep 0.3; xdotool key "$key"
      fi
      [ $waited -gt 150 ] && { fail "$3: box $boxes not answered"; kill $pid; break; }
    done
  done
  wait $pid
  rc=$?
  WINEPREFIX=$1 wineserver -w
}

expect() { [ "$2" = "$3" ] || fail "$1: expected $3, got $2"; }

# --- the scenarios
for machine in "$@"; do
  [ -f "$machine/registry.reg" ] || skip_or_fail "no machine at $machine"
  name=$(basename "$machine")
  # The program works below HKEY_LOCAL_MACHINE only, and Wine's HKEY_USERS
  # takes no keys but loaded profiles, so the other roots are not compared.
  reg_keys "$machine/registry.reg" | grep '^hkey_local_machine\\' > "$work/$name.keys"
  files_state "$machine" "$machine" hosted > "$work/$name.files"

  # The hosted run is the reference.
  hosted_copy=$work/$name-hosted
  cp -r "$machine" "$hosted_copy"
  "$hosted" --machine "$hosted_copy" --answers yes,ok --log "$work/$name-hosted.log"
  hosted_rc=$?
  hosted_boxes=$(grep -c '"call":"MessageBoxA"' "$work/$name-hosted.log")
  reg_keys "$hosted_copy/registry.reg" | comm -12 - "$work/$name.keys" > "$work/$name-hosted.keys"
  files_state "$machine" "$hosted_copy" hosted > "$work/$name-hosted.files"
  sysini_hosted=$(ci_path "$hosted_copy/WINDOWS" system.ini)
  cmp -s "$work/$name.keys" "$work/$name-hosted.keys" && fail "$name: hosted run removed no key"

  for version in nt win98; do
    scenario=$name-$version
    prefix=$work/$scenario
    prefixes+=("$prefix")
    cp -a "$base" "$prefix"
    [ $version = win98 ] &&
      WINEPREFIX=$prefix $wine reg add 'HKCU\Software\Wine' /v Version /d win98 /f >/dev/null 2>&1
    WINEPREFIX=$prefix $wine regedit /S "$(winpath "$machine/registry.reg")" >/dev/null 2>&1
    place_files "$machine" "$prefix"
    WINEPREFIX=$prefix wineserver -w
    wine_keys "$prefix" "$work/$name.keys" > "$work/$scenario-before.keys"
    cmp -s "$work/$name.keys" "$work/$scenario-before.keys" ||
      { fail "$scenario: import incomplete"; diff "$work/$name.keys" "$work/$scenario-before.keys" >&2; continue; }

    # Enter at the confirmation takes No: nothing changes, status 0.
    run_wine "$prefix" Return "$scenario-declined"
    expect "$scenario declined: exit status" $rc 0
    expect "$scenario declined: boxes" $boxes 1
    wine_keys "$prefix" "$work/$name.keys" | cmp -s - "$work/$name.keys" ||
      fail "$scenario declined: registry changed"
    files_state "$machine" "$prefix" wine | cmp -s - "$work/$name.files" ||
      fail "$scenario declined: files changed"
    cmp -s "$(ci_path "$prefix/drive_c/windows" system.ini)" "$(ci_path "$machine/WINDOWS" system.ini)" ||
      fail "$scenario declined: system.ini changed"

    # Yes, then OK at every later box: the hosted run's end state.
    run_wine "$prefix" alt+y "$scenario-yes"
    expect "$scenario: exit status" $rc $hosted_rc
    expect "$scenario: exit status after Yes and OK" $rc 1
    expect "$scenario: boxes" $boxes "$hosted_boxes"
    wine_keys "$prefix" "$work/$name.keys" > "$work/$scenario-after.keys"
    diff "$work/$name-hosted.keys" "$work/$scenario-after.keys" >&2 ||
      fail "$scenario: registry keys differ from the hosted run (< hosted, > wine)"
    files_state "$machine" "$prefix" wine | diff "$work/$name-hosted.files" - >&2 ||
      fail "$scenario: files differ from the hosted run (< hosted, > wine)"
    cmp "$sysini_hosted" "$(ci_path "$prefix/drive_c/windows" system.ini)" >&2 ||
      fail "$scenario: system.ini differs from the hosted run"
    ci_path "$prefix/drive_c/windows" system.new >/dev/null && fail "$scenario: system.new left behind"
    echo "$scenario: exit $rc, $boxes boxes, $(wc -l < "$work/$scenario-after.keys") of $(wc -l < "$work/$name.keys") keys left"
  done
done

echo "screenshots in $artifacts; took $SECONDS s"
[ $status = 0 ] && echo "wine e2e passed"
exit $status
