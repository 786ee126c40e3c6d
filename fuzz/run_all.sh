#!/usr/bin/env bash
# Runs every fuzzer for FUZZ_SECONDS (default 300) from its seed corpus
# (fuzz/corpus/<name>/, copied to a scratch directory so the committed seeds
# stay as they are), one after the other, and prints executions and coverage
# per fuzzer. Exits non-zero when any fuzzer found something: a crash, a
# broken invariant, a time-out or running out of memory. What it found is
# left in <build>/fuzz/findings/<name>/; a finding to keep goes to
# fuzz/regressions/<name>/, where the test suite replays it.
#
#   fuzz/run_all.sh [build-dir] [fuzzer...]     (default: build-fuzz, all)
#
# FUZZ_SEED (default 1) fixes libFuzzer's mutations, so a short smoke run
# walks the same inputs every time; set it to 0 for a fresh random walk.
set -u

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-build-fuzz}
shift || true
seconds=${FUZZ_SECONDS:-300}
fuzzers=("$@")
if [ ${#fuzzers[@]} -eq 0 ]; then
  fuzzers=(effect svg_path svg_document keyframes image movie)
fi

# Per fuzzer: a run of any effect input must end within a second at these
# sizes; an image input may not make the readers ask for more than the
# pixels the harness allows (64 MiB as float) by far.
options_for() {
  case "$1" in
    effect) echo "-timeout=1 -max_len=8192" ;;
    image) echo "-timeout=10 -max_len=16384 -malloc_limit_mb=512" ;;
    movie) echo "-timeout=10 -max_len=16384 -malloc_limit_mb=512" ;;
    *) echo "-timeout=10 -max_len=4096" ;;
  esac
}

scratch=$(mktemp -d "${TMPDIR:-/tmp}/trellis-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

status=0
summary=()
for name in "${fuzzers[@]}"; do
  binary="$build/fuzz/fuzz_$name"
  if [ ! -x "$binary" ]; then
    echo "run_all: $binary is missing (build the 'fuzzers' target first)" >&2
    status=2
    summary+=("$name: not built")
    continue
  fi
  corpus="$scratch/$name"
  findings="$build/fuzz/findings/$name"
  mkdir -p "$corpus" "$findings"
  if [ -d "$here/corpus/$name" ]; then
    cp "$here/corpus/$name"/* "$corpus"/ 2>/dev/null || true
  fi
  log="$build/fuzz/findings/$name.log"
  echo "== fuzz_$name: ${seconds}s from $(ls "$corpus" | wc -l) seed(s)"
  # shellcheck disable=SC2046
  "$binary" "$corpus" -max_total_time="$seconds" -seed="${FUZZ_SEED:-1}" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" $(options_for "$name") >"$log" 2>&1
  rc=$?

  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  edges=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  features=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  total=$(sed -n 's/.*Loaded [0-9]* modules *(\([0-9]*\) inline 8-bit counters).*/\1/p' "$log" | head -1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
  units=$(ls "$corpus" | wc -l)
  line="$name: ${execs:-?} execs (${rate:-?}/s), coverage ${edges:-?} of ${total:-?} edges, ${features:-?} features, corpus $units"
  if [ $rc -ne 0 ]; then
    status=1
    artifact=$(sed -n 's/.*Test unit written to //p' "$log" | tail -1)
    reason=$(grep -m1 -E 'ERROR: (libFuzzer|AddressSanitizer|UndefinedBehaviorSanitizer)|runtime error|fuzz invariant broken' "$log")
    line="$line — FINDING (exit $rc): ${reason:-see $log}${artifact:+, input $artifact}"
  fi
  echo "$line"
  summary+=("$line")
done

echo
echo "== summary (${seconds}s each)"
printf '%s\n' "${summary[@]}"
exit $status
