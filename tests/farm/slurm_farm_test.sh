#!/usr/bin/env bash
# A shot through `trellis farm slurm --submit` on the single-node test
# cluster (slurm_cluster.sh, started by the ctest fixture):
#   submit  48 frames of 1080p in 4 tasks with a movie: every frame equals a
#           local render's, and the movie decodes to them;
#   requeue a running task requeued (SIGTERM, then run again): the rerun
#           skips the frames already finished and no partial file is left.
# Fails, never skips, when the cluster cannot be reached.
#
#   slurm_farm_test.sh submit|requeue TRELLIS CLUSTER_DIR WORK_DIR
set -euo pipefail

case_name=$1
trellis=$2
cluster=$3
work=$4
export SLURM_CONF=$cluster/slurm.conf

fail() { echo "FAIL: $*" >&2; exit 1; }

command -v sbatch >/dev/null || fail "sbatch is not installed (Debian: slurm-client slurmd slurmctld munge)"
[ -f "$SLURM_CONF" ] || fail "no test cluster at $cluster (the slurm_cluster fixture did not start it)"
sinfo -h >/dev/null 2>&1 || fail "the test cluster does not answer (see $cluster/log/)"

rm -rf "$work"
mkdir -p "$work"
cd "$work"

scene=(--input-size 1920x1080 --input-color 40,90,160,255 --layer-size 48x48 --layer-color 250,200,20,255
       --mask 'M 40 540 C 600 40 1300 1040 1880 540' --max-width 40)

# The state of job ID (one array task, or a plain job).
state() { scontrol show job "$1" 2>/dev/null | sed -n 's/.*JobState=\([A-Z_]*\).*/\1/p' | head -n1; }

# Waits until job ID has ended; fails unless it COMPLETED.
wait_done() {
    local s
    while :; do
        s=$(state "$1")
        case $s in
        COMPLETED) return 0 ;;
        FAILED|CANCELLED|TIMEOUT|NODE_FAIL|OUT_OF_MEMORY|BOOT_FAIL|DEADLINE|PREEMPTED)
            tail -n 20 "$work"/job/logs/* >&2 || true
            fail "job $1 ended $s" ;;
        "") fail "job $1 is unknown to the controller" ;;
        esac
        sleep 0.5
    done
}

# Frame by frame, the job's files equal the local render's.
same_frames() {  # same_frames FIRST LAST JOB_PATTERN LOCAL_PATTERN
    local f
    for f in $(seq "$1" "$2"); do
        cmp -s "$(printf "$3" "$f")" "$(printf "$4" "$f")" || fail "frame $f differs from the local render"
    done
}

case $case_name in
submit)
    out=$("$trellis" farm slurm "${scene[@]}" --time 0:0,47:100 --frames 0-47 --chunks 4 --job-dir "$work/job" \
        -o "$work/shot.mkv" --submit)
    echo "$out"
    render=$(sed -n 's/^render job \([0-9]*\).*/\1/p' <<<"$out")
    assemble=$(sed -n 's/^assemble job \([0-9]*\).*/\1/p' <<<"$out")
    [ -n "$render" ] && [ -n "$assemble" ] || fail "no job ids in: $out"
    "$trellis" render "${scene[@]}" --time 0:0,47:100 --frames 0-47 -q -o "$work/local/f.%04d.png"
    wait_done "$assemble"
    for t in 1 2 3 4; do [ "$(state "${render}_$t")" = COMPLETED ] || fail "task $t: $(state "${render}_$t")"; done
    same_frames 0 47 "$work/job/frames/frame.%06d.png" "$work/local/f.%04d.png"
    # Each task rendered its own quarter, once.
    [ "$(grep -c -- ' -> ' "$work"/job/logs/render-"${render}"_1.log)" = 12 ] || fail "task 1 did not render 12 frames"
    grep -q "^frame 12 -> " "$work"/job/logs/render-"${render}"_2.log || fail "frame 12 is not task 2's"
    ffmpeg -v error -i "$work/shot.mkv" -pix_fmt rgba -f framemd5 "$work/movie.md5"
    ffmpeg -v error -start_number 0 -i "$work/local/f.%04d.png" -pix_fmt rgba -f framemd5 "$work/local.md5"
    [ "$(grep -vc '^#' "$work/movie.md5")" = 48 ] || fail "the movie does not have 48 frames"
    diff <(grep -v '^#' "$work/movie.md5" | awk '{print $NF}') <(grep -v '^#' "$work/local.md5" | awk '{print $NF}') \
        || fail "the movie's frames differ from the local render"
    ;;
requeue)
    frames=0-23
    out=$("$trellis" farm slurm "${scene[@]}" --time 100 --depth 32 --frames $frames --chunks 2 \
        --job-dir "$work/job" -o "$work/out/f.####.png" --submit)
    echo "$out"
    render=$(sed -n 's/^render job \([0-9]*\).*/\1/p' <<<"$out")
    [ -n "$render" ] || fail "no job id in: $out"
    log=$work/job/logs/render-${render}_1.log
    # Requeued once its first frame is written, while it renders the next.
    until [ -f "$log" ] && grep -q -- ' -> ' "$log"; do
        case $(state "${render}_1") in PENDING|RUNNING|CONFIGURING|"") sleep 0.1 ;; *) fail "task 1 ended first" ;; esac
    done
    scontrol requeue "${render}_1"
    "$trellis" render "${scene[@]}" --time 100 --depth 32 --frames $frames -q -o "$work/local/f.%04d.png"
    wait_done "${render}_1"
    wait_done "${render}_2"
    cat "$log"
    scontrol show job "${render}_1" | grep -q 'Restarts=1' || fail "task 1 was not run again"
    grep -q '^trellis: interrupted' "$log" || fail "task 1 was not stopped while rendering"
    # The first run's frames are skipped by the second, and no frame is
    # written twice.
    written=$(sed -n 's/^frame \([0-9]*\) -> .*/\1/p' "$log" | sort -n)
    skipped=$(sed -n 's/^frame \([0-9]*\): .* exists, skipped.*/\1/p' "$log" | sort -n)
    [ -n "$skipped" ] || fail "the rerun skipped nothing"
    [ "$(sort -n <<<"$written" | uniq -d)" = "" ] || fail "frames written twice: $(uniq -d <<<"$written")"
    [ "$(echo $skipped)" = "$(echo $(head -n "$(wc -l <<<"$skipped")" <<<"$written"))" ] \
        || fail "skipped ($skipped) are not the first run's frames"
    [ "$(echo $written)" = "$(seq -s ' ' 0 11)" ] || fail "task 1 wrote frames $written, not 0-11"
    same_frames 0 23 "$work/out/f.%04d.png" "$work/local/f.%04d.png"
    leftover=$(ls -A "$work/out" | grep -v '^f\.[0-9]\{4\}\.png$' || true)
    [ -z "$leftover" ] || fail "files left in the output folder: $leftover"
    ;;
*) fail "unknown case $case_name" ;;
esac
echo "PASS: $case_name"
