# Sourced by the end-to-end scripts; $KSTCTL is the kstctl to use.

# Stops the services named in $started and waits (at most 10 s each) until
# their programs have ended, so that nothing is left running.
stop_services() {
  for s in $started; do "$KSTCTL" svc stop "$s" >/dev/null 2>&1 || true; done
  for s in $started; do
    for _ in $(seq 20); do
      "$KSTCTL" svc query "$s" 2>/dev/null | grep -q '^state: *stopped$' && break
      sleep 0.5
    done
  done
  started=""
}

# Fails, naming it, when a program of the installation HOME still runs.
nothing_runs_in() {
  for cmdline in /proc/[0-9]*/cmdline; do
    running=$({ tr '\0' ' ' < "$cmdline"; } 2>/dev/null || true)
    case "$running" in
      "$1/"*)
        echo "still running: $running" >&2
        return 1
        ;;
    esac
  done
}
