#!/bin/sh
# Joins the ROW lines of the benchmark programs into one table.
#   table.sh native.txt win32.txt frames32.txt
# Each file holds "ROW <key> <ns> <floor ns> <unit> <label> [<target ns>]"
# lines (a missing file or row prints as "-"). Times are thread CPU time,
# medians of repeats; rows in "frames" or "vertices" are counts, not times.
# A row with a target shows it, and "OVER" when the 32-bit figure is above it.
awk -F '\t' '
function show(ns, u) {
    if (ns == "") return "-"
    if (u == "frames" || u == "vertices") return sprintf("%g", ns)
    if (ns >= 1e6 || ns <= -1e6) return sprintf("%.3f ms", ns / 1e6)
    if (ns >= 1e4 || ns <= -1e4) return sprintf("%.2f us", ns / 1e3)
    return sprintf("%.1f ns", ns)
}
function ratio(ns, floor) {
    if (ns == "" || floor == "" || floor + 0 <= 0) return "-"
    return sprintf("%.0fx", ns / floor)
}
function mark(ns, target) {
    if (target == "" || ns == "") return ""
    return (ns + 0 > target + 0) ? "OVER" : "ok"
}
{ sub(/\r$/, "") }  # the 32-bit programs end their lines with CR LF
$1 == "NOTE" && $2 == "clock" { clock[f] = $3 }
$1 == "ROW" {
    if (!($2 in label)) { order[++rows] = $2; label[$2] = $6; unit[$2] = $5 }
    ns[f, $2] = $3
    floor[f, $2] = ($4 + 0 > 0) ? $4 : ""
    if ($7 + 0 > 0) target[$2] = $7
}
END {
    printf "Thread CPU time, medians. Native clock: %s; 32-bit clock: %s.\n", \
        (clock[1] ? clock[1] : "-"), (clock[2] ? clock[2] : (clock[3] ? clock[3] : "-"))
    printf "Floor: the memory-bound copy of the same data measured in the same run; ratio = time / floor.\n"
    printf "Target: the most a row may take (32-bit).\n\n"
    printf "%-78s %-8s | %11s %10s %6s | %11s %10s %6s | %12s\n", "path", "per", "native", "floor", "ratio", \
        "32-bit", "floor", "ratio", "target"
    line = sprintf("%165s", ""); gsub(/ /, "-", line); print line
    for (i = 1; i <= rows; i++) {
        k = order[i]
        n32 = ((2, k) in ns) ? ns[2, k] : (((3, k) in ns) ? ns[3, k] : "")
        f32 = ((2, k) in floor) ? floor[2, k] : (((3, k) in floor) ? floor[3, k] : "")
        goal = (k in target) ? "<= " show(target[k], unit[k]) : ""
        text = sprintf("%-78s %-8s | %11s %10s %6s | %11s %10s %6s | %12s %s", substr(label[k], 1, 78), unit[k], \
            show(ns[1, k], unit[k]), show(floor[1, k]), ratio(ns[1, k], floor[1, k]), \
            show(n32, unit[k]), show(f32), ratio(n32, f32), goal, mark(n32, (k in target) ? target[k] : ""))
        sub(/ +$/, "", text)
        print text
    }
}' f=1 "${1:-/dev/null}" f=2 "${2:-/dev/null}" f=3 "${3:-/dev/null}"
