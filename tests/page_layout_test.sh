#!/usr/bin/env bash
# The records page, a player's page and a game's replay page laid out by headless Chromium at every common width from
# 320 to 2560 px, with the hardest names on every board: 50 characters with and without spaces,
# accented, Cyrillic, Greek, Chinese and Arabic, some verified. At every width: the page never
# scrolls sideways and nothing runs past its right edge; no two boxes overlap; no word is broken
# inside, except below 500 px a single word wider than its column; a chart's scores, dates and
# caption are set at least at the page's text size. The pages as served forbid scripts, so a
# copy of each gets a measuring script added before it is opened from a file.
# Skipped (77) without Chromium or the sqlite3 shell (used to mark games verified). KEEP=1 keeps
# the pages and measuring pages.
set -euo pipefail
build=$1
browser=$(command -v chromium || command -v chromium-browser || true)
[ -n "$browser" ] || { echo "chromium is not installed: skipped"; exit 77; }
command -v sqlite3 >/dev/null || { echo "sqlite3 is not installed: skipped"; exit 77; }

source "$(dirname "$0")/servicestart.sh"
start_service page.sqlite

# Twelve players on every board with the widest scores; the ten best of them are shown.
long_word="WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW"
names=(
  "${long_word}21"
  "Wolfgang Amadeus Wellington-Worthington the W20"
  "ÅngströmÆrøskøbingŁukasiewiczÑúñezÇağlarÞórunnßÿé"
  "Zoë Ångström-Østergaard Ñúñez Çağlar Łukasiewicz Þ"
  "Жанна Дмитриевна Константинопольская-Преображенская"
  "Αλέξανδρος Παπαδόπουλος-Χατζηγεωργίου Θεσσαλονίκη"
  "${long_word}15"
  "王小明"
  "محمد عبد الرحمن"
  "Wolfgang Amadeus Wellington-Worthington the W12"
  "Low One"
  "Low Two"
)
# Percent-encodes UTF-8 as the game's transfer does, spaces as %20.
encode() {
  local LC_ALL=C text=$1 out= c k
  for ((k = 0; k < ${#text}; k++)); do
    c=${text:k:1}
    case $c in [A-Za-z0-9.~_-]) out+=$c ;; *) out+=$(printf '%%%02X' "'$c") ;; esac
  done
  echo "$out"
}
for i in "${!names[@]}"; do
  s=$((999999900 - i))
  curl -sf "$base/zm2.asp?$s&$s&$s&$s&$(encode "${names[$i]}")&$((14 * s))" >/dev/null
done
# Verified games for some of them, as the service's replay check would store them; the service
# takes them in within a second.
sqlite3 "$work/page.sqlite" "INSERT INTO replays (submission_id, board, name, score, cycles, clicks, verified, reason,
  client, received_at) SELECT s.id, b.board, s.name, s.score4, 9, 'AAAABCDEFGHIJKLMNOPBBB', 1, '', '127.0.0.1', s.submitted_at
  FROM submissions s, (SELECT 4 AS board UNION SELECT 5 UNION SELECT 6 UNION SELECT 7) b
  WHERE s.name IN ('${long_word}21', 'Zoë Ångström-Østergaard Ñúñez Çağlar Łukasiewicz Þ', '王小明')"
for _ in $(seq 50); do
  [ "$(curl -sf "$base/zimble1.asp" | grep -o 'data-verified="yes"' | wc -l)" -ge 28 ] && break
  sleep 0.2
done
# A history over six weeks for the measured player: lower scores sent again and dated back (its
# bests and this week's lists stay as they were), so that its charts have dates to space out.
for k in 1 2 3 4 5 6; do
  s=$((999999000 - 37 * k))
  curl -sf "$base/zm2.asp?$s&$s&$s&$s&$(encode "${long_word}21")&$((14 * s))" >/dev/null
done
sqlite3 "$work/page.sqlite" "UPDATE submissions SET submitted_at = strftime('%Y-%m-%dT%H:%M:%fZ', 'now',
  '-' || (7 * (999999000 - score4) / 37) || ' days') WHERE name = '${long_word}21' AND score4 < 999999900"
curl -sf "$base/zimble1.asp" >"$work/records.html"
curl -sf "$base/zimble1.asp?name=${long_word}21" >"$work/player.html"
# The replay page of the longest name's 4 x 4 game, with its script and pictures beside it.
replay=$(grep -o '<a class="mark" href="/replay?id=[0-9]*"' "$work/player.html" | head -n1 | sed 's/.*id=\([0-9]*\)"/\1/')
[ -n "$replay" ] || { echo "no link to a replay on the player's page"; exit 1; }
curl -sf "$base/replay?id=$replay" | sed -e 's|src="/replay.js?v=[^"]*"|src="replay.js"|' -e 's|/pictures/|pictures/|g' >"$work/replay.html"
mkdir -p "$work/pictures"
curl -sf "$base/replay.js" >"$work/replay.js"
for k in 1 2 3; do curl -sf "$base/pictures/tessa$k.jpg" >"$work/pictures/tessa$k.jpg"; done
grep -q "${long_word}21" "$work/records.html" || { echo "names missing from the page"; exit 1; }
[ "$(grep -o 'data-verified="yes"' "$work/records.html" | wc -l)" -ge 28 ] || { echo "verified marks missing"; exit 1; }
grep -q '<figure class="chart"' "$work/player.html" || { echo "no chart on the player's page"; exit 1; }
for page in records player; do
  grep -q 'marks a verified game' "$work/$page.html" || { echo "the verified mark is not explained on the $page page"; exit 1; }
done

# The script measures the page inside a frame of the width at hand (Chromium's windows are never
# narrower than 500 px) and writes its verdict into the outer page.
cat >"$work/measure.js" <<'JS'
window.onload = function () {
  const frame = document.getElementById('page');
  const document_ = frame.contentDocument, window_ = frame.contentWindow;
  const fails = [];
  const root = document_.documentElement;
  const vw = root.clientWidth;
  if (root.scrollWidth > vw) fails.push('page ' + root.scrollWidth + ' px wide in a ' + vw + ' px window');
  document_.querySelectorAll('body *').forEach((e) => {
    const r = e.getBoundingClientRect();
    if (r.width > 0 && r.right > vw + 0.5) fails.push(e.tagName + '.' + e.className + ' ends at ' + r.right + ' px, past ' + vw);
  });
  // The boxes that must not overlap: each part of a row (by the extent of its text, so text
  // running out of its box counts), headings, paragraphs, charts and their labels, the lists and
  // the boards.
  const textRect = (e) => {
    const range = document_.createRange();
    range.selectNodeContents(e);
    const rs = [...range.getClientRects()].filter((r) => r.width > 0);
    if (!rs.length) return e.getBoundingClientRect();
    return { left: Math.min(...rs.map((r) => r.left)), right: Math.max(...rs.map((r) => r.right)),
             top: Math.min(...rs.map((r) => r.top)), bottom: Math.max(...rs.map((r) => r.bottom)) };
  };
  const boxes = [...document_.querySelectorAll('.rank, .who, .zq, .date, h1, h2, h3, p, footer, .chart, .chart li, .chart figcaption')]
    .map((e) => ({ e, r: textRect(e) }));
  const blocks = [...document_.querySelectorAll('section.board, .lists > div, ol.list')].map((e) => ({ e, r: e.getBoundingClientRect() }));
  const overlap = (p, q) => p.left < q.right - 0.5 && q.left < p.right - 0.5 && p.top < q.bottom - 0.5 && q.top < p.bottom - 0.5;
  for (const set of [boxes, blocks])
    for (let a = 0; a < set.length; a++)
      for (let b = a + 1; b < set.length; b++) {
        const p = set[a], q = set[b];
        if (p.e.contains(q.e) || q.e.contains(p.e)) continue;
        if (overlap(p.r, q.r)) fails.push('overlap: ' + p.e.className + ' "' + p.e.textContent.slice(0, 12) + '" and ' +
                                          q.e.className + ' "' + q.e.textContent.slice(0, 12) + '"');
      }
  // Words broken inside: a word whose pieces lie on more than one line. Below 500 px a word
  // wider than its column may break.
  const words = new Intl.Segmenter('und', { granularity: 'word' });
  let checked = 0;
  document_.querySelectorAll('.rank, .who, .zq, .date, h1, h2, h3, p, footer').forEach((e) => {
    const walker = document_.createTreeWalker(e, NodeFilter.SHOW_TEXT);
    for (let node = walker.nextNode(); node; node = walker.nextNode()) {
      if (node.parentElement.closest('svg')) continue;
      for (const w of words.segment(node.data)) {
        if (!w.isWordLike) continue;
        const range = document_.createRange();
        range.setStart(node, w.index);
        range.setEnd(node, w.index + w.segment.length);
        const pieces = [...range.getClientRects()].filter((r) => r.width > 0);
        checked++;
        const lines = new Set(pieces.map((r) => Math.round(r.top)));
        if (lines.size < 2) continue;
        const width = pieces.reduce((sum, r) => sum + r.width, 0);
        const column = e.closest('.row, main').clientWidth;
        if (vw < 500 && width > column - 16) continue;
        fails.push('word broken: "' + w.segment.slice(0, 24) + '" (' + Math.round(width) + ' px in ' + column + ')');
      }
    }
  });
  // The charts' labels at least at the page's text size, and enough of them to read a chart by.
  const textSize = parseFloat(window_.getComputedStyle(document_.body).fontSize);
  document_.querySelectorAll('.chart').forEach((chart) => {
    const shown = [...chart.querySelectorAll('li, figcaption, text')].filter((e) => e.getClientRects().length);
    const date = chart.querySelector('.xs li');
    if (chart.querySelectorAll('.ys li').length < 2 || !date || !date.getClientRects().length)
      fails.push('a chart without its scores or dates');
    for (const e of shown) {
      const size = parseFloat(window_.getComputedStyle(e).fontSize) * (e.getScreenCTM ? e.getScreenCTM().a : 1);
      if (size < textSize - 0.01) fails.push('chart text "' + e.textContent.slice(0, 12) + '" at ' + size.toFixed(1) + ' px');
    }
  });
  // Each verified mark follows its own name.
  document_.querySelectorAll('.mark').forEach((m) => {
    const name = m.previousElementSibling;
    if (!name || !name.matches('a') && !m.closest('.best')) fails.push('a verified mark away from its name');
  });
  const rows = [...document_.querySelectorAll('section.board')].map((s) => s.querySelectorAll('li.row:not(.head)').length);
  const out = document.createElement('pre');
  out.id = 'layout-result';
  out.textContent = (fails.length ? 'LAYOUT-FAIL ' + [...new Set(fails)].slice(0, 6).join(' | ') : 'LAYOUT-OK') +
    ' window=' + vw + ' words=' + checked + ' rows=' + rows.join(',');
  document.body.appendChild(out);
};
JS

# Lays a page out at one width and prints the measuring script's verdict.
measure() {
  { echo "<!DOCTYPE html><html><head><style>body{margin:0}iframe{border:0;display:block}</style></head><body>"
    echo "<iframe id=\"page\" src=\"$1.html\" width=\"$2\" height=\"30000\"></iframe><script>"
    cat "$work/measure.js"
    echo "</script></body></html>"; } >"$work/measure-$1-$2.html"
  timeout 60 "$browser" --headless --no-sandbox --disable-gpu --hide-scrollbars --no-first-run \
    --allow-file-access-from-files --user-data-dir="$work/profile" --window-size="$(( $2 < 500 ? 500 : $2 )),900" \
    --virtual-time-budget=3000 --dump-dom "file://$work/measure-$1-$2.html" 2>"$work/browser.log" |
    sed -n 's/.*<pre id="layout-result">\([^<]*\).*/\1/p' || true
}

status=0
for width in 320 360 414 768 1024 1200 1280 1366 1440 1920 2560; do
  for page in records player replay; do
    result=$(measure "$page" "$width")
    [ -n "$result" ] || result=$(measure "$page" "$width") # a browser that started too slowly gets a second go
    echo "$page $width px: ${result:-no result from the browser}"
    case $page:$result in
      records:LAYOUT-OK*"rows=20,20,20,20") ;;
      player:LAYOUT-OK*"rows=3,3,3,3") ;;
      replay:LAYOUT-OK*) ;;
      *:"") tail -n 20 "$work/browser.log"; status=1 ;;
      *) status=1 ;;
    esac
  done
done
exit $status
