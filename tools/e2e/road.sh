#!/bin/sh
# The road of one check on this machine, in a private installation:
#   road.sh BIN_DIR [--fast]
# BIN_DIR holds the built programs. The installation is $KESTRANE_HOME when
# set, else a new folder under /tmp; --fast makes the history and the
# training small, for the end-to-end test. Ends with status 0 only when the
# checker raised alerts for the broken values, wrote them to alertmessages
# and the default profile's program received a notification.
set -eu

BIN=$(cd "$1" && pwd)
FAST=no
[ "${2:-}" = "--fast" ] && FAST=yes
if [ -z "${KESTRANE_HOME:-}" ]; then
  KESTRANE_HOME=$(mktemp -d /tmp/kestrane-XXXXXX)
fi
export KESTRANE_HOME
unset KESTRANE_PERF_SCRIPT || true
H=$KESTRANE_HOME
K="$BIN/kstctl"
CHECKER="Kestrane stat checker"
COLLECTOR="Kestrane buffer creator"
CHECKER_LOG="$H/log/$CHECKER.log"

if [ $FAST = yes ]; then
  DAYS=3; INTERVAL_MIN=5; CHECK_MS=1000; SETTLE=4
else
  DAYS=30; INTERVAL_MIN=1; CHECK_MS=2000; SETTLE=7
fi

current=""
step() { current=$*; printf '\n== %s\n' "$*"; }

KSTCTL=$K
. "$(dirname "$0")/services.sh"
started=""
on_exit() {
  status=$?
  stop_services
  if [ "$status" -ne 0 ]; then
    what=FAILED
    [ "$status" -eq 130 ] && what=interrupted
    echo "road $what in the step \"$current\"; the installation stays in $H" \
      "(the services' output in $H/log)" >&2
  fi
}
trap on_exit EXIT
# A signal would end the shell without its EXIT trap, leaving services running.
trap 'exit 130' INT TERM HUP

step "installation in $H"
for f in KestraneCollector KestraneChecker KestraneExporter KestraneAlerter.so Discovery.so net; do
  cp "$BIN/$f" "$H/"
done
"$K" product set rootDirectory 'C:\Program Files\Kestrane'
"$K" product set intervalBetweenCheckings $CHECK_MS
"$K" product set userNotificationStatus 1
"$K" product show

step "services installed"
"$H/KestraneCollector" -install
"$H/KestraneChecker" -install
"$K" svc list

step "collection set up: the log Memory and the log System"
"$K" collector set --interval $INTERVAL_MIN \
  '\\localhost\Memory\Available MBytes' \
  '\\localhost\Memory\Committed Bytes' \
  '\\localhost\Memory\% Committed Bytes In Use' \
  '\\localhost\Memory\Cache Bytes' \
  '\\localhost\System\Processes' \
  '\\localhost\System\Threads'

step "GENERATED history: $DAYS days written into the ring buffer (not collected)"
"$BIN/kstdemo" history $DAYS

step "notifications: the default profile runs a program for every alert"
cat > "$H/notify.sh" <<'NOTIFY'
#!/bin/sh
# The program transporter's program: it gets the report text as its words.
printf '%s\n' "$*" >> "$KESTRANE_HOME/notifications.txt"
NOTIFY
chmod +x "$H/notify.sh"
"$BIN/kstdemo" profile "$H/notify.sh"

step "collector started (it goes on writing real samples into the same buffer)"
"$K" svc start kstCollector
started="kstCollector"

step "checker started; it reads scripted current values, normal ones for now"
"$BIN/kstdemo" values normal "$H/current-values.txt"
cat "$H/current-values.txt"
KESTRANE_PERF_SCRIPT="$H/current-values.txt" "$K" svc start kstChecker
started="kstChecker $started"

step "counter store set up from the ring buffer's columns"
"$K" store setup
"$K" log list

step "the analyzer plug-in and its parameter profiles"
"$K" module Discovery.dll | grep -e '^title' -e 'profile'

step "an instance of the log Memory trained on the history"
FROM=$(date -d "-$((DAYS - 1)) day" +%F)
TILL=$(date -d "-1 day" +%F)
"$K" train Memory "memory balance" --from "$FROM" --till "$TILL" --interval 600 \
  --profile "Single log, integral counters" --param "number of eras=2000"
"$K" tune Memory "memory balance"

step "the checker judges the normal values with the new instance"
sleep $SETTLE

lines_before=$(wc -l < "$CHECKER_LOG" 2>/dev/null || echo 0)
if [ "$lines_before" -eq 0 ]; then
  echo "no alert: the normal values keep the learned rules"
else
  echo "the checker's console lines for the normal values:"
  head -5 "$CHECKER_LOG"
fi

step "broken current values, and a reload of the checker"
"$BIN/kstdemo" values broken "$H/current-values.txt"
cat "$H/current-values.txt"
"$K" reload
# Wait for the alerts and the notification (at most 30 s), then one check more.
for _ in $(seq 60); do
  if [ "$(wc -l < "$CHECKER_LOG")" -gt "$lines_before" ] && [ -s "$H/notifications.txt" ]; then
    break
  fi
  sleep 0.5
done
sleep $((CHECK_MS / 1000))

step "the checker's console lines ($(tail -n +$((lines_before + 1)) "$CHECKER_LOG" | wc -l) lines; at most 5 shown)"
tail -n +$((lines_before + 1)) "$CHECKER_LOG" | head -5

step "the frames of alertmessages, decoded with AlertMessage::print (the first one)"
"$BIN/kstdemo" alerts > "$H/alerts.txt"
head -5 "$H/alerts.txt"
tail -1 "$H/alerts.txt"

step "the notification the default profile's program received"
if [ -s "$H/notifications.txt" ]; then
  awk 'NR > 1 && /^Warning Level:/ { exit } { print }' "$H/notifications.txt"
fi

step "services stopped"
stop_services
"$K" svc list

step "where everything is"
cat <<SUMMARY
installation (C:\\Program Files\\Kestrane):  $H
registry:                $H/registry.db   (kstctl reg list 'SOFTWARE\\Kestrane')
ring buffer:             $H/cbuffer       (GENERATED history, then collected samples)
trained state file:      $H/States/
alert messages file:     $H/alertmessages (kstdemo alerts decodes it)
notification profiles:   $H/Profiles/
notifications received:  $H/notifications.txt
service output:          $H/log/
to look around:          KESTRANE_HOME=$H $K log list
                         (any kstctl command; 'kstctl --help' lists them)
to remove it:            rm -rf $H   (its services are stopped)
SUMMARY
current="the final check"

alerts=$(tail -n +$((lines_before + 1)) "$CHECKER_LOG" | grep -c 'Memory:memory balance' || true)
frames=$(tail -1 "$H/alerts.txt" | cut -d' ' -f1)
# The services' own output also holds what a sanitizer build reports.
if grep -l -e 'Sanitizer' -e 'runtime error' "$H"/log/*.log >/dev/null 2>&1; then
  echo "road FAILED: a service reported a fault:" >&2
  grep -h -A5 -e 'Sanitizer' -e 'runtime error' "$H"/log/*.log | head -40 >&2
  exit 1
fi
if [ "$alerts" -gt 0 ] && [ "$frames" -gt 0 ] && [ -s "$H/notifications.txt" ]; then
  echo "road done: $alerts alert lines, $frames frames, notification delivered"
else
  echo "road FAILED: $alerts alert lines, $frames frames, notification file: $(ls "$H/notifications.txt" 2>&1)" >&2
  exit 1
fi
