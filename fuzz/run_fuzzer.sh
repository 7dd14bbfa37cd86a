#!/usr/bin/env bash
# Runs one fuzz target for a bounded time over its seeds and the corpus grown by earlier runs.
# A finding fails the run; the input that caused it stays in <work>/artifacts and is printed.
# usage: run_fuzzer.sh FUZZER NAME SECONDS MAX_LEN SEEDS WORK [DICT] [ONCE]
# ONCE is a folder of inputs run once, whole, before fuzzing (inputs too large to mutate).
set -uo pipefail
fuzzer=$1 name=$2 seconds=$3 max_len=$4 seeds=$5 work=$6 dict=${7:-} once=${8:-}

corpus="$work/corpus/$name"
artifacts="$work/artifacts"
mkdir -p "$corpus" "$artifacts"

# Findings of earlier runs fail again until they are fixed, rather than waiting to be found anew.
earlier=()
for file in "$artifacts/$name-crash-"* "$artifacts/$name-leak-"*; do
  [[ -e "$file" ]] && earlier+=("$file")
done
if ((${#earlier[@]})); then
  if ! "$fuzzer" -timeout=30 -rss_limit_mb=2560 "${earlier[@]}"; then
    echo "FUZZ FINDING in $name: an earlier reproducer still fails"
    printf 'reproducer: %s\n' "${earlier[@]}"
    echo "reproduce with: $fuzzer FILE (delete the file once the fault is fixed)"
    exit 1
  fi
fi
if [[ -n "$once" ]]; then
  if ! "$fuzzer" -timeout=60 -rss_limit_mb=2560 "$once"/*; then
    echo "FUZZ FINDING in $name: an input of $once fails"
    echo "reproduce with: $fuzzer $once/FILE"
    exit 1
  fi
fi
before=$(ls "$artifacts" 2>/dev/null | grep "^$name-" || true)

args=(-max_total_time="$seconds" -max_len="$max_len" -timeout=30 -rss_limit_mb=2560
      -print_final_stats=1 -artifact_prefix="$artifacts/$name-")
[[ -n "$dict" ]] && args+=(-dict="$dict")

# New inputs go to the build folder's corpus; the seeds in the repository are only read.
"$fuzzer" "${args[@]}" "$corpus" "$seeds"
status=$?
if ((status != 0)); then
  echo "FUZZ FINDING in $name (exit status $status)"
  for file in "$artifacts/$name-"*; do
    [[ -e "$file" ]] || continue
    grep -qxF "$(basename "$file")" <<<"$before" && continue
    echo "reproducer: $file"
    echo "reproduce with: $fuzzer $file"
  done
fi
exit $status
