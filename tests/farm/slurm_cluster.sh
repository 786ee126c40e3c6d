#!/usr/bin/env bash
# A single-node Slurm cluster on loopback, for the farm tests and for trying
# `trellis farm slurm` on one machine: munged, slurmctld and slurmd run as
# root from DIR, with their own key, sockets, configuration, spool and logs,
# on free ports, without systemd; nothing outside DIR is read or written.
#
#   slurm_cluster.sh start DIR   # idempotent; prints `export SLURM_CONF=DIR/slurm.conf`
#   slurm_cluster.sh stop DIR    # ends the daemons by their recorded ids
#   slurm_cluster.sh status DIR
#
# The settings are those that let array and requeued tasks start within
# seconds: frequent scheduling, short-lived credentials, no cgroups (whose
# plug-ins leave folders behind), no accounting daemon, no mail.
set -euo pipefail

usage() { echo "usage: $0 start|stop|status DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
cmd=$1
dir=$2
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
conf=$dir/slurm.conf
daemons="slurmd slurmctld munged"

die() { echo "slurm_cluster: $*" >&2; exit 1; }

alive() {  # alive NAME: its recorded process runs
    local pid
    [ -s "$dir/$1.pid" ] || return 1
    pid=$(cat "$dir/$1.pid")
    kill -0 "$pid" 2>/dev/null && [ "$(cat /proc/"$pid"/comm 2>/dev/null)" = "$1" ]
}

stop_one() {
    local pid i
    if alive "$1"; then
        pid=$(cat "$dir/$1.pid")
        kill -TERM "$pid" 2>/dev/null || true
        for i in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -f "$dir/$1.pid"
}

# A free TCP port on loopback, a different one each call.
free_port() {
    python3 - <<'PY' 2>/dev/null || echo $(( 20000 + RANDOM % 20000 ))
import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()
PY
}

write_conf() {
    local node ctld_port slurmd_port
    command -v slurmd >/dev/null || die "slurmd is not installed (Debian: slurmd slurmctld slurm-client munge)"
    # The node as slurmd sees it (CPUs, sockets, memory), under our own name.
    node=$(slurmd -C | head -n1 | sed -e 's/^NodeName=[^ ]*//')
    ctld_port=$(free_port)
    slurmd_port=$(free_port)
    while [ "$slurmd_port" = "$ctld_port" ]; do slurmd_port=$(free_port); done
    mkdir -p "$dir/state" "$dir/spool" "$dir/log"
    cat >"$conf" <<CONF
ClusterName=trellis
SlurmctldHost=$(hostname)(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge.socket,cred_expire=10
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
MpiDefault=none
SlurmctldPidFile=$dir/slurmctld.daemon.pid
SlurmdPidFile=$dir/slurmd.daemon.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SchedulerType=sched/backfill
SchedulerParameters=bf_interval=1,sched_interval=2
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
ReturnToService=2
MailProg=/bin/true
MinJobAge=600
SlurmctldTimeout=30
SlurmdTimeout=30
InactiveLimit=0
KillWait=10
NodeName=trellisnode NodeAddr=127.0.0.1 NodeHostname=$(hostname) $node State=UNKNOWN
PartitionName=farm Nodes=trellisnode Default=YES MaxTime=INFINITE State=UP OverSubscribe=NO
CONF
}

start() {
    command -v munged >/dev/null || die "munged is not installed (Debian: munge)"
    [ "$(id -u)" = 0 ] || die "the test cluster runs its daemons as root"
    if alive munged && alive slurmctld && alive slurmd; then
        echo "export SLURM_CONF=$conf"
        return 0
    fi
    for d in $daemons; do stop_one "$d"; done
    write_conf
    [ -s "$dir/munge.key" ] || mungekey -c -k "$dir/munge.key" >/dev/null
    chmod 600 "$dir/munge.key"
    # munged refuses a key or socket folder that others may write.
    chmod 755 "$dir"
    munged -F --force --socket="$dir/munge.socket" --key-file="$dir/munge.key" \
        --pid-file="$dir/munged.daemon.pid" --log-file="$dir/log/munged.log" --seed-file="$dir/munge.seed" \
        </dev/null >>"$dir/log/munged.out" 2>&1 &
    echo $! >"$dir/munged.pid"
    for i in $(seq 50); do [ -S "$dir/munge.socket" ] && break; sleep 0.1; done
    [ -S "$dir/munge.socket" ] || die "munged did not start (see $dir/log/munged.log)"
    export SLURM_CONF=$conf
    slurmctld -D -i </dev/null >>"$dir/log/slurmctld.out" 2>&1 &
    echo $! >"$dir/slurmctld.pid"
    slurmd -D -N trellisnode </dev/null >>"$dir/log/slurmd.out" 2>&1 &
    echo $! >"$dir/slurmd.pid"
    # Ready when the node takes work.
    local state=""
    for i in $(seq 150); do
        state=$(sinfo -h -n trellisnode -o %t 2>/dev/null || true)
        case $state in idle*|mix*|alloc*) break ;; esac
        for d in $daemons; do alive "$d" || die "$d ended at start (see $dir/log/)"; done
        sleep 0.2
    done
    case $state in idle*|mix*|alloc*) ;; *) die "the node is not ready (state '${state}'; see $dir/log/)" ;; esac
    echo "export SLURM_CONF=$conf"
}

case $cmd in
start) start ;;
stop) for d in $daemons; do stop_one "$d"; done ;;
status)
    for d in $daemons; do if alive "$d"; then echo "$d running ($(cat "$dir/$d.pid"))"; else echo "$d stopped"; fi; done
    ;;
*) usage ;;
esac
