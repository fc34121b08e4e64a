# Paired whole-process measurements for the bench scripts (sourced, not run).
#
# paired RUNS LABEL_A COMMAND_A LABEL_B COMMAND_B
#   Runs A and B in turn RUNS times after one warm-up of each (A B A B ...), each command a string
#   run by bash -c with its output thrown away. Prints one row per command with the median wall
#   time, the median processor time it used (user and system, its own processes only: a peer
#   that is already running is not counted) and the median peak memory (the largest process, from
#   /usr/bin/time), then the median of the pair-by-pair ratios A/B of wall time, which holds when
#   the machine's speed drifts during the runs.
#   Exits the script when a command fails.

paired_one() {
  local command="$1" file="$2" start end
  start=$(date +%s%N)
  if ! /usr/bin/time -f "%M %U %S" -o "$file.time" bash -c "$command" >/dev/null 2>"$file.err"; then
    echo "failed: $command" >&2
    cat "$file.err" >&2
    exit 1
  fi
  end=$(date +%s%N)
  # wall (microseconds), peak (KiB), processor time (seconds)
  echo "$(((end - start) / 1000)) $(tail -1 "$file.time" | awk '{print $1, $2 + $3}')"
}

paired_median() {
  sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

paired() {
  local runs="$1" label_a="$2" command_a="$3" label_b="$4" command_b="$5"
  local file
  file="$(mktemp)"
  paired_one "$command_a" "$file" >/dev/null
  paired_one "$command_b" "$file" >/dev/null
  local a b rows=""
  for ((run = 0; run < runs; run++)); do
    a=$(paired_one "$command_a" "$file")
    b=$(paired_one "$command_b" "$file")
    rows+="$a $b"$'\n'
  done
  rm -f "$file" "$file.time" "$file.err"
  local wall_a wall_b peak_a peak_b cpu_a cpu_b ratio low high
  wall_a=$(awk 'NF {print $1 / 1e6}' <<<"$rows" | paired_median)
  peak_a=$(awk 'NF {print $2 / 1024}' <<<"$rows" | paired_median)
  cpu_a=$(awk 'NF {print $3}' <<<"$rows" | paired_median)
  wall_b=$(awk 'NF {print $4 / 1e6}' <<<"$rows" | paired_median)
  peak_b=$(awk 'NF {print $5 / 1024}' <<<"$rows" | paired_median)
  cpu_b=$(awk 'NF {print $6}' <<<"$rows" | paired_median)
  ratio=$(awk 'NF {print $1 / $4}' <<<"$rows" | paired_median)
  low=$(awk 'NF {print $1 / $4}' <<<"$rows" | sort -g | head -1)
  high=$(awk 'NF {print $1 / $4}' <<<"$rows" | sort -g | tail -1)
  printf "  %-46s %8.3f s %7.2f s cpu %9.1f MiB peak\n" "$label_a" "$wall_a" "$cpu_a" "$peak_a"
  printf "  %-46s %8.3f s %7.2f s cpu %9.1f MiB peak\n" "$label_b" "$wall_b" "$cpu_b" "$peak_b"
  printf "  %-46s %8.2f (pairs from %.2f to %.2f, %d pairs)\n" "ratio, median of pairs" \
    "$ratio" "$low" "$high" "$runs"
}
