#!/bin/sh
# scripts/wine-run with a stand-in for wine: a run dropped by the Wine server
# runs once more and passes on that run's output and exit code; any other
# failure, and the output of a run that was not dropped, pass on as they are.
#   wine_run_test.sh <scripts/wine-run> <work folder>
set -u
run=$1
work=$2
rm -rf "$work"
mkdir -p "$work/bin"
# The stand-in: "<exit code>:<stderr text>" per call in plan, one line a call.
cat > "$work/bin/wine" <<'STANDIN'
#!/bin/sh
calls=$(($(cat "$WORK/calls" 2>/dev/null || echo 0) + 1))
echo "$calls" > "$WORK/calls"
line=$(sed -n "${calls}p" "$WORK/plan")
echo "out $calls $*"
echo "${line#*:}" >&2
exit "${line%%:*}"
STANDIN
chmod +x "$work/bin/wine"

failures=0
# check <name> <plan lines> <expected calls> <expected exit> <expected stdout> <expected stderr>
check() {
  rm -f "$work/calls"
  printf '%s\n' "$2" > "$work/plan"
  status=0
  WORK=$work PATH="$work/bin:$PATH" sh "$run" prog.exe arg > "$work/stdout" 2> "$work/stderr" || status=$?
  calls=$(cat "$work/calls")
  if [ "$calls" != "$3" ] || [ "$status" != "$4" ] || [ "$(cat "$work/stdout")" != "$5" ] ||
     [ "$(cat "$work/stderr")" != "$6" ]; then
    echo "FAIL $1: calls $calls exit $status stdout [$(cat "$work/stdout")] stderr [$(cat "$work/stderr")]"
    failures=$((failures + 1))
  fi
}
dropped="wine client error:0: recvmsg: Connection reset by peer"
check "dropped, then runs" "1:$dropped
3:late" 2 3 "out 1 prog.exe arg
out 2 prog.exe arg" "late"
check "dropped twice: one more run only" "1:$dropped
1:$dropped
0:" 2 1 "out 1 prog.exe arg
out 2 prog.exe arg" "$dropped"
check "another failure: no second run" "2:fault" 1 2 "out 1 prog.exe arg" "fault"
check "the message in a run that succeeded: no second run" "0:$dropped" 1 0 "out 1 prog.exe arg" "$dropped"
[ "$failures" -eq 0 ] && echo "wine-run: all cases pass"
exit "$failures"
