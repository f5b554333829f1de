#!/usr/bin/env bash
# The shipped nginx example (docs/nginx/zimble-scored.conf) in front of the service, started with
# --trusted-proxy: the rate limit and the log follow the player's address (players come from
# 127.0.0.2 and 127.0.0.3), a forged X-Forwarded-For changes nothing, /metrics is not served
# through the proxy, HEAD stores nothing. Skipped (77) where nginx is not installed.
set -euo pipefail
build=$1
source_dir=$2
nginx=$(command -v nginx || ls /usr/sbin/nginx 2>/dev/null || true)
[ -n "$nginx" ] || { echo "nginx is not installed: skipped"; exit 77; }

work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
  local rc=$?
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  rm -rf "$work"
  exit $rc
}
trap cleanup EXIT

# The log exists before the program opens it, so reading it cannot race the start.
: >"$work/service.log"
"$build/server/zimble-scored" --listen 127.0.0.1:0 --db "$work/proxy.sqlite" --rate-limit 1 \
  --trusted-proxy 127.0.0.1 2>"$work/service.log" &
pids+=($!)
port=
for _ in $(seq 100); do
  port=$(sed -n 's/.*serving on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/service.log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the service did not start:"; cat "$work/service.log"; exit 1; }

# The example as shipped, on loopback ports of this run.
nport=
for _ in $(seq 20); do
  nport=$((28000 + RANDOM % 4000)) # below the ephemeral range, apart from the PostgreSQL test's
  (exec 3<>"/dev/tcp/127.0.0.1/$nport") 2>/dev/null || break
done
sed -e "s/listen 80;/listen 127.0.0.1:$nport;/" -e '/listen \[::\]:80;/d' \
    -e "s/server 127.0.0.1:8417;/server 127.0.0.1:$port;/" \
    "$source_dir/docs/nginx/zimble-scored.conf" >"$work/site.conf"
mkdir -p "$work/tmp"
cat >"$work/nginx.conf" <<EOF
daemon off;
master_process off;
worker_processes 1;
pid $work/nginx.pid;
error_log $work/error.log;
events { worker_connections 64; }
http {
    access_log off;
    client_body_temp_path $work/tmp/body;
    proxy_temp_path $work/tmp/proxy;
    fastcgi_temp_path $work/tmp/fastcgi;
    uwsgi_temp_path $work/tmp/uwsgi;
    scgi_temp_path $work/tmp/scgi;
    include $work/site.conf;
}
EOF
"$nginx" -t -q -p "$work" -c "$work/nginx.conf" 2>"$work/check.log" || { cat "$work/check.log"; exit 1; }
"$nginx" -p "$work" -c "$work/nginx.conf" 2>>"$work/error.log" &
pids+=($!)
for _ in $(seq 100); do curl -sf "http://127.0.0.1:$nport/health" >/dev/null && break; sleep 0.1; done

fail() { echo "FAIL: $*"; echo "--- service log"; cat "$work/service.log"; exit 1; }
# Field 10 of the reply to a submission sent through nginx from the given loopback address.
submit() {
  local from=$1 score=$2; shift 2
  curl -sf --interface "$from" "$@" "http://127.0.0.1:$nport/zm2.asp?$score&0&0&0&Via%20Proxy&$((2 * score))" | cut -d'|' -f10
}

[[ $(submit 127.0.0.2 10) == Congratulations* ]] || fail "first submission from 127.0.0.2 not stored"
[[ $(submit 127.0.0.2 11) == *"too many submissions"* ]] || fail "127.0.0.2 not limited"
[[ $(submit 127.0.0.3 12) == Congratulations* ]] || fail "127.0.0.3 limited by another player's submissions"
[[ $(submit 127.0.0.3 13 -H "X-Forwarded-For: 198.51.100.77") == *"too many submissions"* ]] ||
  fail "a forged X-Forwarded-For escaped the limit"
grep -q " 127\.0\.0\.2 GET /zm2\.asp 200 " "$work/service.log" || fail "the log does not name the player's address"
grep -q " 198\.51\.100\.77 " "$work/service.log" && fail "the log believed a forged address"

code=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$nport/metrics")
[ "$code" = 404 ] || fail "/metrics through the proxy answered $code"
curl -sf "http://127.0.0.1:$port/metrics" | grep -q '^zimble_submissions_stored_total 2$' || fail "metrics on the service's address"

curl -sf -I --interface 127.0.0.4 "http://127.0.0.1:$nport/zm2.asp?99&0&0&0&HeadOnly&198" >/dev/null || fail "HEAD through the proxy"
curl -sf "http://127.0.0.1:$nport/zimble1.asp" | grep -q "HeadOnly" && fail "HEAD stored a submission"
code=$(curl -s -o /dev/null -w '%{http_code}' -X POST -d x "http://127.0.0.1:$nport/zm2.asp")
[ "$code" = 403 ] || fail "POST through the proxy answered $code"
# A target as long as the service takes passes the proxy too (a game's replays run to about 4 KB).
long="/health?$(head -c 8184 /dev/zero | tr '\0' x)"
code=$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$nport$long")
[ "$code" = 200 ] || fail "an 8 KB target through the proxy answered $code"
echo "nginx in front of the service: ok"
