// The replay page's player. It reads the game from the page's own list of clicks, draws the
// board as the game lays it out (sizes in twips, the game's unit) with the game's three pictures,
// and plays each click's animation at the game's pace: click k starts when the clock shows its
// cycles, after the animations of the clicks before it (the clock stands still while a click
// animates). 1x, 4x and 16x, play and pause, step; "#click=K" opens it paused after click K.
'use strict';
(function () {
  const root = document.getElementById('replay');
  if (!root) return;
  const size = Number(root.dataset.size);
  const cycleMs = Number(root.dataset.cycleMs);
  const clickMs = Number(root.dataset.clickMs);
  const clicks = [...document.querySelectorAll('#clicks li[data-tile]')].map((li) => ({
    row: li, tile: Number(li.dataset.tile), cycles: Number(li.dataset.cycles), zq: li.dataset.zq,
  }));
  const n = clicks.length;
  const starts = clicks.map((c, k) => c.cycles * cycleMs + k * clickMs);
  const end = n ? starts[n - 1] + clickMs : 0;

  // The game's geometry: a flush grid of buttons of edge `edge`; both animations work in a
  // 1200-twip box at the button's top left, so on the smaller boards they reach past the button.
  const edge = { 4: 1200, 5: 1110, 6: 1050, 7: 960 }[size] || 1200;
  const box = 1200, frames = 10, step = 60, grow = 120;
  const canvas = document.getElementById('board');
  const ctx = canvas.getContext('2d');
  const extent = (size - 1) * edge + box;
  const scale = canvas.width / extent;
  const pictures = root.dataset.pictures.split(' ').map((src) => {
    const img = new Image();
    img.onload = () => render();
    img.src = src;
    return img;
  });

  const led = document.getElementById('zq');
  const clockOut = document.getElementById('clock');
  const atOut = document.getElementById('at');
  const playButton = document.getElementById('play');

  // The ZQ display: twelve seven-segment cells, right-aligned, four decimals, as in the game.
  const Cells = 12;
  const segments = {
    a: [4, 1, 14, 3], b: [18, 4, 3, 15], c: [18, 21, 3, 15], d: [4, 36, 14, 3],
    e: [1, 21, 3, 15], f: [1, 4, 3, 15], g: [4, 18.5, 14, 3],
  };
  const lit = {
    0: 'abcdef', 1: 'bc', 2: 'abged', 3: 'abgcd', 4: 'fgbc', 5: 'afgcd', 6: 'afgedc', 7: 'abc', 8: 'abcdefg',
    9: 'abcdfg', '-': 'g', ' ': '',
  };
  const svgNs = 'http://www.w3.org/2000/svg';
  const svg = document.createElementNS(svgNs, 'svg');
  svg.setAttribute('viewBox', '0 0 ' + Cells * 24 + ' 40');
  svg.setAttribute('aria-hidden', 'true');
  const cells = [];
  for (let i = 0; i < Cells; i++) {
    const cell = { segs: {}, dot: null };
    for (const [name, [x, y, w, h]] of Object.entries(segments)) {
      const r = document.createElementNS(svgNs, 'rect');
      r.setAttribute('x', x + i * 24);
      r.setAttribute('y', y);
      r.setAttribute('width', w);
      r.setAttribute('height', h);
      r.setAttribute('rx', 1);
      svg.appendChild(r);
      cell.segs[name] = r;
    }
    cell.dot = document.createElementNS(svgNs, 'rect');
    cell.dot.setAttribute('x', 21.5 + i * 24);
    cell.dot.setAttribute('y', 36);
    cell.dot.setAttribute('width', 2.5);
    cell.dot.setAttribute('height', 3);
    svg.appendChild(cell.dot);
    cells.push(cell);
  }
  led.appendChild(svg);

  function showZq(text) {
    led.dataset.zq = text;
    led.setAttribute('aria-label', 'ZQ ' + text);
    // Characters to cells: a decimal point lights the dot of the digit before it.
    const chars = [];
    for (const ch of text) {
      if (ch === '.' && chars.length) chars[chars.length - 1].dot = true;
      else chars.push({ ch, dot: false });
    }
    while (chars.length < Cells) chars.unshift({ ch: ' ', dot: false });
    cells.forEach((cell, i) => {
      const on = lit[chars[i].ch] || '';
      for (const [name, r] of Object.entries(cell.segs)) r.setAttribute('class', on.includes(name) ? 'on' : 'off');
      cell.dot.setAttribute('class', chars[i].dot ? 'on' : 'off');
    });
  }

  function clockText(ms) {
    const tenths = Math.floor(ms / 100);
    return Math.floor(tenths / 600) + ':' + String(Math.floor(tenths / 10) % 60).padStart(2, '0') + '.' + (tenths % 10);
  }

  // A button at (x, y) of edge s, in twips: blank (face 0), a picture (1 to 3) on white.
  function button(x, y, s, face) {
    const px = x * scale, py = y * scale, ps = s * scale;
    if (face > 0 && pictures[face - 1].complete && pictures[face - 1].naturalWidth) {
      ctx.fillStyle = '#fff';
      ctx.fillRect(px, py, ps, ps);
      ctx.drawImage(pictures[face - 1], px, py, ps, ps);
      return;
    }
    ctx.fillStyle = face > 0 ? '#fff' : '#c0c0c0';
    ctx.fillRect(px, py, ps, ps);
    const b = Math.max(1, ps * 0.04);
    ctx.fillStyle = '#f4f4f4';
    ctx.fillRect(px, py, ps, b);
    ctx.fillRect(px, py, b, ps);
    ctx.fillStyle = '#6c6c6c';
    ctx.fillRect(px, py + ps - b, ps, b);
    ctx.fillRect(px + ps - b, py, b, ps);
  }

  let t = 0;           // replay time in ms, from the first click's start
  let playing = false;
  let speed = 1;
  let last = 0;        // performance.now() at the last tick

  // What the game showed at time t: clicks done, the one animating and how far.
  function render() {
    let done = 0;
    while (done < n && starts[done] + clickMs <= t) done++;
    // The click's frames share its animation's time; none is drawn before it has begun.
    const elapsed = done < n ? t - starts[done] : 0;
    const frame = elapsed > 0 ? Math.min(frames - 1, Math.floor((elapsed * frames) / clickMs)) : -1;
    const active = frame >= 0 ? done : -1;
    const hits = new Array(size * size).fill(0);
    for (let k = 0; k < done; k++) hits[clicks[k].tile]++;
    ctx.fillStyle = '#000';
    ctx.fillRect(0, 0, canvas.width, canvas.height);
    const at = (tile) => [(tile % size) * edge, Math.floor(tile / size) * edge];
    for (let tile = 0; tile < size * size; tile++) {
      if (hits[tile] >= 4 || (active >= 0 && clicks[active].tile === tile && hits[tile] === 3)) continue;
      const [x, y] = at(tile);
      button(x, y, edge, hits[tile]);
    }
    if (active >= 0) {
      const tile = clicks[active].tile;
      const [x, y] = at(tile);
      if (hits[tile] === 3) {
        const k = frame * step; // the fourth click: the button shrinks to its box's centre
        button(x + k, y + k, box - frame * grow, 3);
      } else {
        const k = (frames - 1 - frame) * step; // a picture grows out of the box's centre
        button(x + k, y + k, step + frame * grow, hits[tile] + 1);
      }
    }
    // The clock runs between the animations only.
    let still = 0;
    for (let k = 0; k < n && starts[k] <= t; k++) still += Math.min(clickMs, t - starts[k]);
    let cyclesNow = Math.floor((t - still) / cycleMs);
    if (done > 0) cyclesNow = Math.max(cyclesNow, clicks[done - 1].cycles);
    if (done < n) cyclesNow = Math.min(cyclesNow, clicks[done].cycles);
    const gone = hits.filter((h) => h >= 4).length;
    const pictured = hits.filter((h) => h > 0 && h < 4).length;
    canvas.setAttribute('aria-label', 'The board, ' + size + ' \u00d7 ' + size + ', after click ' + done + ': ' + pictured +
                        ' tiles with a picture, ' + gone + ' gone');
    clockOut.textContent = clockText(cyclesNow * cycleMs);
    atOut.textContent = String(done);
    showZq(done > 0 ? clicks[done - 1].zq : '0.0000');
    clicks.forEach((c, k) => c.row.classList.toggle('now', k === done - 1));
    playButton.textContent = playing ? 'Pause' : 'Play';
  }

  // Ticks twice per animation frame of the game (a frame lasts 60 ms); the time between them is
  // measured, so a late tick loses nothing.
  let timer = 0;
  function tick() {
    const now = performance.now();
    t = Math.min(end, t + (now - last) * speed);
    last = now;
    if (t >= end) pause();
    else render();
  }

  function play() {
    if (t >= end) t = 0;
    playing = true;
    last = performance.now();
    clearInterval(timer);
    timer = setInterval(tick, 30);
    render();
  }

  function pause() {
    playing = false;
    clearInterval(timer);
    render();
  }

  // Paused just after click k (0: before the first).
  function after(k) {
    playing = false;
    clearInterval(timer);
    k = Math.max(0, Math.min(n, k));
    t = k > 0 ? starts[k - 1] + clickMs : 0;
    render();
  }

  function fromFragment() {
    const m = /(?:^#|&)click=(\d+)/.exec(location.hash);
    if (m) after(Number(m[1]));
  }

  playButton.addEventListener('click', () => (playing ? pause() : play()));
  document.getElementById('step').addEventListener('click', () => {
    let done = 0;
    while (done < n && starts[done] + clickMs <= t) done++;
    after(done + 1);
  });
  document.getElementById('restart').addEventListener('click', () => after(0));
  root.querySelectorAll('button[data-speed]').forEach((b) => b.addEventListener('click', () => {
    speed = Number(b.dataset.speed);
    root.querySelectorAll('button[data-speed]').forEach((o) => o.setAttribute('aria-pressed', String(o === b)));
    if (playing) last = performance.now();
  }));
  window.addEventListener('hashchange', fromFragment);
  root.hidden = false;
  render();
  fromFragment();
})();
