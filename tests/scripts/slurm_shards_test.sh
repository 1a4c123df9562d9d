#!/usr/bin/env bash
# slurm_shards_test.sh SOURCE_DIR VIGNETTES
# Slurm array jobs with --shard auto, as docs/collections.md gives them, on a
# single-node cluster of our own (munged, slurmctld and slurmd from the
# Debian packages, with their configuration, state and sockets in a scratch
# folder, stopped at the end): a range, an offset stepped range and a list
# that is a range each write the very files one run writes, byte for byte,
# and their reports name every picture once; a list array is refused by
# every task, nothing made; a task killed in the middle of its share, the
# rest of the array cancelled and the files a killed writer leaves planted,
# the array submitted again with -u finishes the job exactly. The killed task
# is held at its rename after its first written picture (hold_renames.c), so
# the kill lands in the middle of its share however fast the machine is.
# Skipped (77) where no cluster can be started: not root, or the Slurm,
# munge or jq packages missing. KEEP_SCRATCH=1 keeps the scratch folder
# (cluster logs, reports, destinations) for a look afterwards.
set -euo pipefail
src=$1 vignettes=${2:-}
[ -x "$vignettes" ] || { echo "the program is not built"; exit 77; }
[ "$(id -u)" -eq 0 ] || { echo "starting Slurm's daemons needs root"; exit 77; }
for tool in munged mungekey slurmctld slurmd sbatch squeue scancel sinfo jq cc; do
  command -v "$tool" >/dev/null ||
    { echo "$tool not installed (scripts/setup.sh installs it)"; exit 77; }
done
vignettes=$(realpath "$vignettes")

scratch=$(mktemp -d)
chmod 755 "$scratch"
cluster=$scratch/cluster
stop_cluster() {
  scancel --quiet --user=root 2>/dev/null || true
  local pids=()
  for pid_file in "$cluster"/slurmd.pid "$cluster"/slurmctld.pid \
    "$cluster"/munge/pid; do
    pids+=("$(cat "$pid_file" 2>/dev/null)")
  done
  kill "${pids[@]}" 2>/dev/null || true
  # Each daemon is gone before its folder is removed.
  for pid in "${pids[@]}"; do
    for _ in $(seq 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
  done
  [ -n "${KEEP_SCRATCH:-}" ] || rm -rf "$scratch"
}
trap stop_cluster EXIT
fail=0
bad() { echo "FAIL: $*" >&2; fail=1; }

# --- The cluster: one node, this machine, every CPU.
mkdir -p "$cluster"/{state,spool,log,munge}
chmod 700 "$cluster/munge"
mungekey --create --keyfile="$cluster/munge/key" --bits=1024
munged --key-file="$cluster/munge/key" --socket="$cluster/munge/socket" \
  --pid-file="$cluster/munge/pid" --log-file="$cluster/munge/log" \
  --seed-file="$cluster/munge/seed" --force
host=$(hostname -s)
# Ports of this run's own, so that no other cluster on the machine answers.
port=$((20000 + ($$ % 10000) * 2))
export SLURM_CONF=$cluster/slurm.conf
cat >"$SLURM_CONF" <<EOF
ClusterName=vignettes
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$port
SlurmdPort=$((port + 1))
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$cluster/munge/socket
StateSaveLocation=$cluster/state
SlurmdSpoolDir=$cluster/spool
SlurmctldPidFile=$cluster/slurmctld.pid
SlurmdPidFile=$cluster/slurmd.pid
SlurmctldLogFile=$cluster/log/slurmctld.log
SlurmdLogFile=$cluster/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
SlurmdParameters=config_overrides
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) State=UNKNOWN
PartitionName=thumbnails Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
slurmctld -f "$SLURM_CONF"
slurmd -f "$SLURM_CONF"
for _ in $(seq 300); do
  [ "$(sinfo -h -o %T 2>/dev/null)" = idle ] && break
  sleep 0.1
done
[ "$(sinfo -h -o %T 2>/dev/null)" = idle ] || {
  echo "Slurm did not start:"
  tail -n 20 "$cluster"/log/*.log "$cluster/munge/log"
  exit 1
}
echo "a single-node Slurm $(sinfo -V | cut -d' ' -f2) is up on $host"

# --- A tree with every kind of file: numbered photos, the formats the
# program reads, names with accents and blanks, names made safe alike (the
# last one listed must win), a broken picture, a mislabelled one, a file
# that is no picture.
cd "$scratch"
photo=$src/data/test_picture.jpg
pictures=$src/tests/data/pictures
mkdir -p "in/2023/Été ski" in/2024 in/empty
for i in $(seq -w 0 79); do cp "$photo" "in/2023/p$i.jpg"; done
cp "$photo" "in/a b.jpg"
cp "$pictures/grid_cmyk.jpg" in/a_b.jpg
cp "$pictures/grid_rle8.bmp" "in/2023/Été ski/grid.bmp"
cp "$photo" "in/2023/Été ski/Église n°1.jpg"
for f in grid_transparent.gif icons.ico grid.webp grid96.heic grid_cmyk.tif \
  inkscape_shapes.wmf inkscape_shapes.emf grid48_orient6.dng; do
  cp "$pictures/$f" in/2024/
done
cp "$pictures/grid.webp" in/2024/mislabelled.jpg
head -c 3000 "$photo" >in/2024/broken.jpg
echo "no picture" >in/2024/notes.txt
pictures_in_tree=$(find in -type f | wc -l)

run=(-qr --origin "$scratch/in" --small 40 --large 90 -j 1)
status=0
"$vignettes" "${run[@]}" --dest whole --report whole.jsonl || status=$?
[ "$status" -eq 1 ] || bad "one run: exit $status, expected 1"
jq -r '[.input, .status] | @tsv' whole.jsonl | sort >whole.txt
[ "$(wc -l <whole.txt)" -eq "$pictures_in_tree" ] ||
  bad "one run reported $(wc -l <whole.txt) pictures of $pictures_in_tree"

# submit NAME ARRAY [OPTION...]: the array job of the recipe, into dest-NAME,
# each task's report in reports-NAME/, its exit status in status-NAME/; waits
# for the whole array. The program runs with the environment in $hold, if
# any.
hold=
submit() {
  local name=$1 array=$2
  shift 2
  mkdir -p "reports-$name" "status-$name" "logs-$name" "pids-$name"
  cat >"task-$name.sh" <<EOF
#!/bin/bash
echo \$\$ >"$scratch/pids-$name/\$SLURM_ARRAY_TASK_ID"
$hold "$vignettes" ${run[*]@Q} $* --dest "$scratch/dest-$name" --shard auto \
  --report "$scratch/reports-$name/\$SLURM_ARRAY_TASK_ID.jsonl"
echo \$? >"$scratch/status-$name/\$SLURM_ARRAY_TASK_ID"
EOF
  sbatch --parsable --array="$array" --cpus-per-task=1 \
    --output="$scratch/logs-$name/%a.log" "task-$name.sh"
}

# compare NAME: the destination is that of one run and the reports name
# every picture once, with the status one run gave (or up to date).
compare() {
  local name=$1
  diff -r whole "dest-$name" >"diff-$name.txt" ||
    bad "$name: the shares differ from one run: $(head -c 2000 "diff-$name.txt")"
  cat "reports-$name"/*.jsonl | jq -r '[.input, .status] | @tsv' |
    sed 's/\tup-to-date$/\twritten/' | sort >"reports-$name.txt"
  cmp -s whole.txt "reports-$name.txt" ||
    bad "$name: the reports differ: $(diff whole.txt "reports-$name.txt" | head -20)"
}

wait_for() {
  local job=$1
  for _ in $(seq 1200); do
    [ -z "$(squeue -h -j "$job" 2>/dev/null)" ] && return 0
    sleep 0.1
  done
  bad "job $job did not end in 120 s: $(squeue)"
}

# --- Ranges: from 0, from 3 by 3, and a list that is a range.
declare -A arrays=([range]=0-3 [stepped]=3-12:3 [listed]=0,1,2,3)
declare -A jobs
for name in "${!arrays[@]}"; do
  jobs[$name]=$(submit "$name" "${arrays[$name]}")
done
for name in "${!arrays[@]}"; do
  wait_for "${jobs[$name]}"
  compare "$name"
  [ "$(ls "status-$name" | wc -l)" -eq 4 ] || bad "$name: not every task ended"
done

# --- A list that is no range: every task refuses, before anything is made.
wait_for "$(submit list 1,3,7)"
for task in 1 3 7; do
  [ "$(cat "status-list/$task" 2>/dev/null)" = 2 ] ||
    bad "list: task $task ended with '$(cat "status-list/$task" 2>/dev/null)', expected 2"
  grep -q "not one range" "logs-list/$task.log" ||
    bad "list: task $task did not say why: $(cat "logs-list/$task.log")"
done
[ ! -e dest-list ] || bad "list: a task made $(find dest-list | head)"

# --- Killed: task 5 held at its rename once it has written one picture
# (two files, small and large), then killed; the rest of the array cancelled
# (a time limit); files a writer killed between its write and its rename
# leaves, planted; then the array again with -u.
cc -shared -fPIC -o hold_renames.so "$src/tests/scripts/hold_renames.c" -ldl
# The sanitizers' runtime need not come first when the shim is preloaded.
hold="env LD_PRELOAD=$scratch/hold_renames.so HOLD_AFTER_RENAMES=2"
hold+=" HOLD_FLAG=$scratch/held-\$SLURM_ARRAY_TASK_ID"
hold+=" ASAN_OPTIONS=verify_asan_link_order=0"
job=$(submit killed 5-8)
hold=
for _ in $(seq 1200); do
  [ -e held-5 ] && [ -s reports-killed/5.jsonl ] && break
  sleep 0.1
done
[ -e held-5 ] || bad "task 5 was not held: $(cat logs-killed/5.log)"
task_pid=$(cat pids-killed/5)
vignettes_pid=$(pgrep -P "$task_pid" -x vignettes || true)
[ -n "$vignettes_pid" ] || bad "task 5 ended before it was killed"
made_before_kill=$(wc -l <reports-killed/5.jsonl)
[ -z "$vignettes_pid" ] || kill -KILL "$vignettes_pid"
scancel "$job"
wait_for "$job"
# Task 5 of 5-8 makes the share task 0 of 0-3 made.
share=$(wc -l <reports-range/0.jsonl)
((made_before_kill >= 1 && made_before_kill < share)) ||
  bad "the kill landed after $made_before_kill of the task's $share pictures"
[ -n "$(find dest-killed -name '*.tmp')" ] ||
  bad "the held writer left no temporary file"
mkdir -p dest-killed/2023/Grand
for stale in dest-killed/2023/.p01.jpg.1.0123456789abcdef.tmp \
  dest-killed/2023/Grand/.p02.jpg.999999.fedcba9876543210.tmp; do
  echo half >"$stale"
done
rm -rf reports-killed status-killed
wait_for "$(submit killed 5-8 -u)"
compare killed
[ -z "$(find dest-killed -name '*.tmp')" ] ||
  bad "killed: left files stayed: $(find dest-killed -name '*.tmp')"
echo "killed after $made_before_kill of its $share pictures; finished by -u"

exit $fail
