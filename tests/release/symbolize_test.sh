#!/bin/sh
# scripts/symbolize against the shipped module and its debug file.
#
#   symbolize_test.sh <top> <module> <debug file> exports <work>
#     Crash report lines at the entry of every function the module exports
#     (the linker's export table) must name that function, from a source file
#     of the project; lines of other modules pass through untouched.
#   symbolize_test.sh <top> <module> <debug file> fault <work> <fault program>
#     The module faults for real under Wine; its own report in its log must
#     name the function and the lines it faulted in.
set -eu
top=$1 module=$2 debug=$3 mode=$4 work=$5
symbolize=$top/scripts/symbolize
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }

if [ "$mode" = exports ]; then
  headers=$(i686-w64-mingw32-objdump -p "$module")
  # Export index, RVA (hex), name of every export whose RVA lies in .text.
  text=$(i686-w64-mingw32-objdump -h "$module" | awk '$2 == ".text" { print $3, $4 }')
  base=$(printf '%s\n' "$headers" | awk '$1 == "ImageBase" { print $2 }')
  printf '%s\n' "$headers" | awk -v text="$text" -v base="$base" '
    function hex(s,   i, v) { v = 0; s = tolower(s)
      for (i = 1; i <= length(s); i++) v = v * 16 + index("0123456789abcdef", substr(s, i, 1)) - 1
      return v }
    BEGIN { split(text, t, " "); start = hex(t[2]) - hex(base); end = start + hex(t[1]) }
    /^Export Address Table --/ { table = "rva"; next }
    /^\[Ordinal\/Name Pointer\] Table/ { table = "name"; next }
    /^$/ { table = "" }
    table == "rva" && /Export RVA/ { i = $2; sub(/\]/, "", i); rva[i + 0] = $(NF - 2) }
    table == "name" && /^\t\[/ { i = $2; sub(/\]/, "", i); r = hex(rva[i + 0])
      if (r >= start && r < end) printf "%08X %s\n", r, $3 }' > "$work/exports"
  count=$(wc -l < "$work/exports")
  [ "$count" -ge 40 ] || fail "only $count exported functions found in $module"

  # The reports, with lines of other modules and other log lines between them.
  while read -r offset name; do
    printf 'EXCEPTION code=C0000005 address=7C80%s module=C:\\Windows\\system32\\kernel32.dll offset=%s phase=frame update access=0 target=00000000 ESP=0012FE00\r\n' \
      "${offset#????}" "$offset"
    printf 'EXCEPTION code=C0000005 address=6C3%s module=C:\\Games\\SA 1.0 US\\Kerbmark.asi offset=%s phase=hit: enumerate atomics access=0 target=00000010 ESP=0012FE00\r\n' \
      "${offset#???}" "$offset"
    printf 'REGISTERS EAX=00000000 EBX=00000000 ECX=00000010 EDX=00000000 ESI=00000000 EDI=00000000 EBP=0012FF00\r\n'
  done < "$work/exports" > "$work/Kerbmark.log"

  "$symbolize" "$work/Kerbmark.log" "$debug" > "$work/from-file"
  "$symbolize" "$debug" < "$work/Kerbmark.log" > "$work/from-input"
  cmp -s "$work/from-file" "$work/from-input" || fail "the log from a file and from standard input differ"
  tr -d '\r' < "$work/Kerbmark.log" > "$work/Kerbmark.log.lf"
  grep -v '^    ' "$work/from-file" | cmp -s - "$work/Kerbmark.log.lf" || fail "the log's own lines were changed"

  # Per Kerbmark report: its offset and its outermost function with file and line.
  awk '
    function flush() { if (offset != "") print offset "\t" frame; offset = "" }
    /^EXCEPTION / { flush(); frame = "(nothing)"
      if ($0 ~ /\\Kerbmark\.asi offset=/) { offset = $0; sub(/.* offset=/, "", offset); sub(/ .*/, "", offset) } next }
    /^    fault in / { frame = substr($0, 14); next }
    /^      inlined into / { frame = substr($0, 20); next }
    /^    / { frame = "(unknown) " $0 }
    END { flush() }' "$work/from-file" > "$work/found"
  found=$(wc -l < "$work/found")
  [ "$found" -eq "$count" ] || fail "$found of $count Kerbmark reports symbolized"
  awk 'prev ~ /kernel32\.dll/ && /^    / { bad = 1 } { prev = $0 } END { exit bad }' "$work/from-file" ||
    fail "a report of another module was symbolized"

  while read -r offset name; do
    expected=$(printf '%s\n' "$name" | i686-w64-mingw32-c++filt -n)
    frame=$(awk -F '\t' -v o="$offset" '$1 "" == o "" { print $2; exit }' "$work/found")
    case $frame in
      "$expected at src/"*.cpp:[1-9]* | "$expected@"[0-9]*" at src/"*.cpp:[1-9]*) ;;  # stdcall: name@bytes
      *) fail "offset $offset ($expected): symbolize says '$frame'" ;;
    esac
  done < "$work/exports"
  echo "$count exported functions named at their offsets, with their source files and lines"
  head -n 6 "$work/from-file"
  exit 0
fi

if [ "$mode" = fault ]; then
  program=$6
  cp "$module" "$work/Kerbmark.asi"
  status=0
  # Output into a file: Wine's server, when this run starts it, keeps the
  # first program's standard handles open while the prefix stays busy.
  "$top/scripts/wine-run" "$program" "$work/Kerbmark.asi" > "$work/run.txt" 2>&1 || status=$?
  cat "$work/run.txt"
  [ "$status" -eq 3 ] || fail "the fault program ended with $status, not the crash exit code 3"
  [ -f "$work/Kerbmark.log" ] || fail "the module wrote no log"
  grep -q '^EXCEPTION code=C0000005 .*\\Kerbmark\.asi offset=' "$work/Kerbmark.log" || fail "no crash report in the log"
  "$symbolize" "$work/Kerbmark.log" "$debug" > "$work/symbolized"
  cat "$work/symbolized"
  # The destructor's lines in the source: the fault must lie among them.
  source=$top/src/collision/collision_state.cpp
  first=$(grep -n '^State::~State() {' "$source" | cut -d: -f1)
  last=$(awk -v first="$first" 'NR > first && /^}/ { print NR; exit }' "$source")
  [ -n "$first" ] && [ -n "$last" ] || fail "cannot find the destructor in $source"
  line=$(sed -n 's/^    fault in collision::State::~State() at src\/collision\/collision_state\.cpp:\([0-9]*\).*/\1/p' \
    "$work/symbolized" | head -n 1)
  [ -n "$line" ] || fail "the report does not name collision::State::~State() in src/collision/collision_state.cpp"
  [ "$line" -ge "$first" ] && [ "$line" -le "$last" ] ||
    fail "line $line is not in the destructor (lines $first to $last)"
  echo "the fault is named: collision::State::~State(), collision_state.cpp line $line"
  exit 0
fi
echo "unknown mode $mode" >&2
exit 2
