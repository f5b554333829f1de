#!/usr/bin/env bash
# The service's page laid out by headless Chromium at 500, 1000 and 1400 px wide, with the longest
# names (50 characters, with and without spaces) and the widest scores on every board: no table is
# wider than its box, no cell's text overflows, no two boards overlap and nothing runs past the
# window's right edge. The page as served forbids scripts, so a copy of it gets a measuring script
# added before it is opened from a file. Skipped (77) without Chromium.
set -euo pipefail
build=$1
browser=$(command -v chromium || command -v chromium-browser || true)
[ -n "$browser" ] || { echo "chromium is not installed: skipped"; exit 77; }

work=$(mktemp -d)
pid=
cleanup() {
  local rc=$?
  if [ -n "$pid" ]; then kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
  exit $rc
}
trap cleanup EXIT

# The log exists before the program opens it, so reading it cannot race the start.
: >"$work/log"
"${ZIMBLE_SCORED:-$build/server/zimble-scored}" --listen 127.0.0.1:0 --db "$work/page.sqlite" --rate-limit 0 --quiet 2>"$work/log" &
pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/.*serving on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$work/log")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the service did not start:"; cat "$work/log"; exit 1; }

# Twelve players on every board, half with 50 characters without spaces, half with spaces.
urls=()
for i in $(seq 10 21); do
  if (( i % 2 )); then
    name="WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW$i"
  else
    name="Wolfgang%20Amadeus%20Wellington-Worthington%20the%20W$i"
  fi
  s=$((2147483600 + i))
  urls+=("http://127.0.0.1:$port/zm2.asp?$s&$s&$s&$s&$name&$((14 * s))")
done
curl -sf "${urls[@]}" >/dev/null
curl -sf "http://127.0.0.1:$port/zimble1.asp" >"$work/served.html"
grep -q "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW21" "$work/served.html" || { echo "names missing from the page"; exit 1; }

cat >"$work/measure.js" <<'EOF'
(function () {
  const fails = [];
  const root = document.documentElement;
  const vw = root.clientWidth;
  if (root.scrollWidth > vw) fails.push('page ' + root.scrollWidth + ' px wide in a ' + vw + ' px window');
  document.querySelectorAll('table').forEach((t, i) => {
    const box = t.parentElement.getBoundingClientRect();
    const r = t.getBoundingClientRect();
    if (r.width > box.width + 0.5 || r.right > box.right + 0.5)
      fails.push('table ' + i + ' is ' + r.width + ' px in a ' + box.width + ' px box');
    t.querySelectorAll('td, th').forEach((c) => {
      if (c.scrollWidth > c.clientWidth + 1) fails.push('text overflows a cell of table ' + i + ': ' + c.textContent.slice(0, 16));
    });
  });
  const boards = [...document.querySelectorAll('section.board')].map((s) => s.getBoundingClientRect());
  for (let a = 0; a < boards.length; a++)
    for (let b = a + 1; b < boards.length; b++) {
      const p = boards[a], q = boards[b];
      if (p.left < q.right - 0.5 && q.left < p.right - 0.5 && p.top < q.bottom - 0.5 && q.top < p.bottom - 0.5)
        fails.push('boards ' + a + ' and ' + b + ' overlap');
    }
  document.querySelectorAll('body *').forEach((e) => {
    const r = e.getBoundingClientRect();
    if (r.width > 0 && r.right > vw + 0.5) fails.push(e.tagName + ' ends at ' + r.right + ' px, past ' + vw);
  });
  // Rows with scores per board: the ten best of all time and of this week.
  const rows = [...document.querySelectorAll('section.board')].map(
    (s) => [...s.querySelectorAll('tr')].filter((r) => r.querySelector('td')).length);
  const out = document.createElement('pre');
  out.id = 'layout-result';
  out.textContent = (fails.length ? 'LAYOUT-FAIL ' + fails.slice(0, 8).join(' | ') : 'LAYOUT-OK') +
    ' window=' + vw + ' rows=' + rows.join(',');
  document.body.appendChild(out);
})();
EOF
{ sed 's#</body>##; s#</html>##' "$work/served.html"; echo "<script>"; cat "$work/measure.js"; echo "</script></body></html>"; } >"$work/page.html"

# Lays the page out at one width and prints the measuring script's verdict.
measure() {
  timeout 60 "$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars --no-first-run \
    --user-data-dir="$work/profile" --window-size="$1,900" --virtual-time-budget=2000 \
    --dump-dom "file://$work/page.html" 2>"$work/browser.log" |
    sed -n 's/.*<pre id="layout-result">\([^<]*\).*/\1/p' || true
}

status=0
for width in 500 1000 1400; do
  result=$(measure "$width")
  [ -n "$result" ] || result=$(measure "$width") # a browser that started too slowly gets a second go
  echo "$width px: ${result:-no result from the browser}"
  case $result in
    LAYOUT-OK*"rows=20,20,20,20") ;;
    "") tail -n 20 "$work/browser.log"; status=1 ;;
    *) status=1 ;;
  esac
done
exit $status
