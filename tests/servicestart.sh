# Sourced by the browser tests: a work folder removed on exit (kept with KEEP=1), and the score
# service started in it on a free loopback port. After `start_service DB_NAME`, $base is its
# address and $pid its process, stopped on exit.
work=$(mktemp -d)
pid=
cleanup() {
  local rc=$?
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  if [ -n "${KEEP:-}" ]; then echo "pages kept in $work"; else rm -rf "$work"; fi
  exit $rc
}
trap cleanup EXIT

start_service() {
  # The log exists before the program opens it, so reading it cannot race the start.
  : >"$work/log"
  "${ZIMBLE_SCORED:-$build/server/zimble-scored}" --listen 127.0.0.1:0 --db "$work/$1" --rate-limit 0 --quiet 2>"$work/log" &
  pid=$!
  local port=
  for _ in $(seq 100); do
    port=$(sed -n 's/.*serving on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/log")
    [ -n "$port" ] && break
    sleep 0.1
  done
  [ -n "$port" ] || { echo "the service did not start:"; cat "$work/log"; exit 1; }
  base="http://127.0.0.1:$port"
}
