#!/usr/bin/env bash
# A verified game's replay page in headless Chromium: opened after click k (the page's
# "#click=k"), its seven-segment display shows the ZQ the service's answer gives for click k, its
# counter says k and its board has lost the tiles clicked four times by then; the board is shown
# and the page never scrolls sideways. At 1,280 px the page is opened as served, under its
# Content-Security-Policy (a blocked script would show nothing); at 360 px (narrower than
# Chromium's windows) a copy of it, with its script and pictures, inside a frame of that width.
# The game is sent as the game sends it: first for a ZQ it does not give, to learn its ZQ from
# the answer, then that ZQ as a score with the replay again. Skipped (77) without Chromium.
# KEEP=1 keeps the pages.
set -euo pipefail
build=$1
browser=$(command -v chromium || command -v chromium-browser || true)
[ -n "$browser" ] || { echo "chromium is not installed: skipped"; exit 77; }

source "$(dirname "$0")/servicestart.sh"
start_service replay.sqlite

# A 5 x 5 game of 20 clicks, its clock rising from 0 to 7 cycles (as the game sends it: the step
# since the click before, one digit each): repeated, mirrored and straight runs.
clicks=AAAABBBCCGHMLLRSYYXD
steps=00001010010011001010
json() { python3 -c "import json, sys; d = json.load(sys.stdin); print($1)"; }
curl -sf "$base/zr.asp?Ann&5.1.7.$clicks.$steps" >/dev/null
whole=$(curl -sf "$base/api/v1/replays/1" | json 'round(d["zq"])') # Python rounds halves to even, as the game
curl -sf "$base/zm2.asp?0&$whole&0&0&Ann&$((3 * whole))" >/dev/null
answer=$(curl -sf "$base/zr.asp?Ann&5.$whole.7.$clicks.$steps")
case $answer in *"Verified: 5 x 5."*) ;; *) echo "the replay was not verified: $answer"; exit 1 ;; esac
curl -sf "$base/api/v1/replays/2" >"$work/replay.json"
[ "$(json 'd["verified"], d["pace"]' <"$work/replay.json")" = "True as played" ] || { echo "replay 2 is not verified as played"; exit 1; }
curl -sf "$base/zimble1.asp" >"$work/records.html"
grep -q '<a class="mark" href="/replay?id=2"' "$work/records.html" || { echo "no link from the verified mark"; exit 1; }

# The copy for narrow widths: the page with its script and pictures beside it.
curl -sf "$base/replay?id=2" | sed -e 's|src="/replay.js?v=[^"]*"|src="replay.js"|' -e 's|/pictures/|pictures/|g' >"$work/replay.html"
mkdir -p "$work/pictures"
curl -sf "$base/replay.js" >"$work/replay.js"
for k in 1 2 3; do curl -sf "$base/pictures/tessa$k.jpg" >"$work/pictures/tessa$k.jpg"; done

# What the page shows, as one line: "zq=... at=... gone=... wide=...".
read_page='
  const led = d.getElementById("zq"), board = d.getElementById("board");
  const gone = /(\d+) gone/.exec(board.getAttribute("aria-label") || "");
  const shown = !d.getElementById("replay").hidden && board.getBoundingClientRect().width > 100;
  const wide = d.documentElement.scrollWidth > d.documentElement.clientWidth;
  return "zq=" + led.dataset.zq + " at=" + d.getElementById("at").textContent + " gone=" + (gone ? gone[1] : "?") +
    " board=" + (shown ? "shown" : "missing") + " wide=" + wide;'
show() { # width k
  local out
  if [ "$1" -ge 500 ]; then
    # As served: the result read from the page's own DOM.
    out=$(timeout 60 "$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars --no-first-run \
      --user-data-dir="$work/profile" --window-size="$1,900" --virtual-time-budget=3000 --dump-dom \
      "$base/replay?id=2#click=$2" 2>"$work/browser.log" || true)
    local zq at gone
    zq=$(sed -n 's/.*id="zq"[^>]*data-zq="\([^"]*\)".*/\1/p' <<<"$out" | head -n1)
    at=$(sed -n 's/.*<span id="at">\([0-9]*\)<.*/\1/p' <<<"$out" | head -n1)
    gone=$(sed -n 's/.*id="board"[^>]*aria-label="[^"]*: [0-9]* tiles with a picture, \([0-9]*\) gone".*/\1/p' <<<"$out" | head -n1)
    grep -q '<div class="replay" id="replay" hidden' <<<"$out" && gone=hidden
    echo "zq=$zq at=$at gone=$gone"
  else
    { echo "<!DOCTYPE html><html><head><style>body{margin:0}iframe{border:0;display:block}</style></head><body>"
      echo "<iframe id=\"page\" src=\"replay.html#click=$2\" width=\"$1\" height=\"3000\"></iframe><script>"
      echo "window.onload = function () { const d = document.getElementById('page').contentDocument;"
      echo "  const out = document.createElement('pre'); out.id = 'result'; out.textContent = (function () { $read_page })();"
      echo "  document.body.appendChild(out); };</script></body></html>"; } >"$work/frame-$1-$2.html"
    timeout 60 "$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars --no-first-run \
      --allow-file-access-from-files --user-data-dir="$work/profile" --window-size=500,900 \
      --virtual-time-budget=3000 --dump-dom "file://$work/frame-$1-$2.html" 2>"$work/browser.log" |
      sed -n 's/.*<pre id="result">\([^<]*\).*/\1/p' || true
  fi
}

n=$(json 'len(d["clicks"])' <"$work/replay.json")
status=0
for width in 360 1280; do
  for k in 1 4 9 $n; do
    zq=$(json "'%.4f' % d['clicks'][$k - 1]['zq']" <"$work/replay.json")
    gone=$(json "sum(1 for t in set(c['tile'] for c in d['clicks'][:$k]) if [c['tile'] for c in d['clicks'][:$k]].count(t) == 4)" <"$work/replay.json")
    want="zq=$zq at=$k gone=$gone"
    [ "$width" -lt 500 ] && want="$want board=shown wide=false"
    got=$(show "$width" "$k")
    [ -n "$got" ] || got=$(show "$width" "$k") # a browser that started too slowly gets a second go
    if [ "$got" = "$want" ]; then
      echo "$width px, after click $k: $got"
    else
      echo "$width px, after click $k: got \"$got\", wanted \"$want\""
      tail -n 5 "$work/browser.log"
      status=1
    fi
  done
done
# The last ZQ is the record's.
last=$(json "round(d['clicks'][-1]['zq'])" <"$work/replay.json")
[ "$last" = "$whole" ] || { echo "the last ZQ $last is not the record $whole"; status=1; }
exit $status
