// The line's page: draws /events' figures (LineReport's JSON) as cards,
// totals, failures and a chart. Every text goes in as text, never as markup.
'use strict';

// The station window's words, symbols and colours for a slot's state
// (station-app/SlotView.cpp, SlotTile.cpp), by the words stations publish.
const STATES = {
  'no-adapter': ['\u26A0', 'no adapter', 's-warn'],
  'port-trouble': ['\u26A0', 'port trouble', 's-warn'],
  'waiting': ['\u25CB', 'waiting for a board', 's-waiting'],
  'waiting-for-board-id': ['\u25CB', 'waiting for board ID', 's-waiting'],
  'noisy': ['\u26A0', 'line noisy', 's-warn'],
  'flashing': ['\u25B6', 'flashing', 's-flashing'],
  'passed': ['\u2714', 'PASS', 's-pass'],
  'pass': ['\u2714', 'PASS', 's-pass'],
  'failed': ['\u2718', 'FAIL', 's-fail'],
  'fail': ['\u2718', 'FAIL', 's-fail'],
  'unsaved': ['\u26A0', 'record not saved yet', 's-warn'],
  'not-saved': ['\u26A0', 'record not saved yet', 's-warn'],
  'cancelled': ['\u25A0', 'CANCELLED', 's-stopped'],
  'stopped': ['\u25A0', 'stopped', 's-stopped'],
};

let line = null;       // the newest figures
let skew = 0;          // the server's clock minus this browser's, in ms

function el(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined && text !== null) node.textContent = String(text);
  return node;
}

function svg(tag, attributes) {
  const node = document.createElementNS('http://www.w3.org/2000/svg', tag);
  for (const [key, value] of Object.entries(attributes || {})) node.setAttribute(key, value);
  return node;
}

function localTime(iso) {
  const time = new Date(iso);
  return isNaN(time) ? '' : time.toLocaleTimeString([], {hour: '2-digit', minute: '2-digit', second: '2-digit', hourCycle: 'h23'});
}

function percent(yieldValue) {
  return yieldValue === null || yieldValue === undefined ? '–' : (yieldValue * 100).toFixed(1) + ' %';
}

// Heard from within the last staleSeconds, by the server's clock; a
// station that ended cleanly is not missed.
function heard(station) {
  if (!station.live || station.state === 'stopped') return true;
  const beat = Date.parse(station.heartbeat);
  return !isNaN(beat) && Date.now() + skew - beat <= line.staleSeconds * 1000;
}

// A slot named by its device path shows the path's last part.
function slotName(name) {
  return String(name).split('/').pop() || String(name);
}

function tile(slot) {
  const [symbol, word, colour] = STATES[slot.state] || ['', slot.text || slot.state, 's-warn'];
  const node = el('div', 'tile ' + colour);
  node.dataset.state = slot.state;
  node.title = slot.text || word;
  node.append(el('div', 'name', slotName(slot.slot)));
  const flashing = slot.state === 'flashing';
  node.append(el('div', 'word', symbol + ' ' + (flashing && slot.percent !== null ? word + ' ' + slot.percent + ' %' : word)));
  if (STATES[slot.state] && STATES[slot.state][2] === 's-fail' && slot.text)
    node.append(el('div', 'reason', slot.text));
  if (flashing && slot.percent !== null) {
    const bar = el('div', 'bar');
    const fill = el('div');
    fill.style.width = Math.max(0, Math.min(100, slot.percent)) + '%';
    bar.append(fill);
    node.append(bar);
  }
  if (slot.boardId) node.append(el('div', 'board', slot.boardId));
  return node;
}

function countsTable(station) {
  const table = el('table', 'counts');
  const head = el('tr');
  for (const title of ['', 'Passed', 'Failed', 'Yield', 'Boards/h']) head.append(el('th', '', title));
  table.append(head);
  for (const [title, key] of [['Last hour', 'lastHour'], ['Shift', 'shift']]) {
    const figures = station[key] || {};
    const row = el('tr');
    row.append(el('td', '', title), el('td', 'passed', figures.passed), el('td', 'failed', figures.failed),
               el('td', 'yield', percent(figures.firstPassYield)), el('td', 'rate', figures.boardsPerHour));
    table.append(row);
  }
  return table;
}

function card(station) {
  const node = el('article', 'station');
  node.dataset.station = station.station;
  node.append(el('h2', '', station.station));
  const job = station.job ? station.job + ' v' + station.jobVersion : (station.jobFile || '');
  node.append(el('div', 'job', job || (station.live ? '' : 'publishes no live state')));
  if (!heard(station)) {
    node.classList.add('stale');
    node.append(el('div', 'heard', 'not heard from since ' + localTime(station.heartbeat)));
  } else if (station.state === 'stopped') {
    node.append(el('div', 'ended', 'stopped at ' + localTime(station.heartbeat)));
  }
  const tiles = el('div', 'tiles');
  for (const slot of station.slots || []) tiles.append(tile(slot));
  node.append(tiles, countsTable(station));
  return node;
}

function figure(label, value) {
  const node = el('div', 'figure');
  node.append(el('div', 'label', label), el('div', 'value', value));
  return node;
}

function drawTotals() {
  const totals = line.totals || {};
  const hour = totals.lastHour || {}, shift = totals.shift || {};
  const notHeard = (line.stations || []).filter(s => !heard(s)).length;
  const node = document.getElementById('totals');
  node.replaceChildren(
    figure('Stations', totals.stations ?? 0),
    figure('Not heard from', notHeard),
    figure('Passed this shift', shift.passed ?? 0),
    figure('Failed this shift', shift.failed ?? 0),
    figure('Yield this shift', percent(shift.firstPassYield)),
    figure('Boards/h this shift', shift.boardsPerHour ?? 0),
    figure('Passed last hour', hour.passed ?? 0),
    figure('Failed last hour', hour.failed ?? 0),
    figure('Yield last hour', percent(hour.firstPassYield)),
    figure('Boards last hour', hour.boards ?? 0));
}

function drawFailures() {
  const body = document.querySelector('#failures tbody');
  body.replaceChildren(...(line.failures || []).map(failure => {
    const row = el('tr');
    row.append(el('td', '', localTime(failure.ended)), el('td', '', failure.station), el('td', '', slotName(failure.slot)),
               el('td', 'reason', failure.reason), el('td', '', failure.boardId || ''),
               el('td', '', failure.serial ?? ''));
    return row;
  }));
}

// Stacked bars, passed under failed, one per ten minutes of the shift.
function drawChart() {
  const buckets = (line.chart && line.chart.buckets) || [];
  const width = 600, height = 180, left = 28, bottom = 18;
  const most = Math.max(1, ...buckets.map(b => b.passed + b.failed));
  const chart = svg('svg', {viewBox: `0 0 ${width} ${height}`, role: 'img', 'aria-label': 'Boards per ten minutes'});
  const step = (width - left) / Math.max(buckets.length, 48);
  const scale = (height - bottom - 4) / most;
  chart.append(svg('line', {x1: left, y1: height - bottom, x2: width, y2: height - bottom, stroke: '#888'}));
  const top = svg('text', {x: 0, y: 10});
  top.textContent = String(most);
  chart.append(top);
  buckets.forEach((bucket, i) => {
    const x = left + i * step + 1, w = Math.max(1, step - 2);
    const passedHeight = bucket.passed * scale, failedHeight = bucket.failed * scale;
    const passed = svg('rect', {class: 'passed', x, width: w, y: height - bottom - passedHeight, height: passedHeight});
    const failed = svg('rect', {class: 'failed', x, width: w, y: height - bottom - passedHeight - failedHeight, height: failedHeight});
    const title = svg('title');
    title.textContent = `${localTime(bucket.start)}: ${bucket.passed} passed, ${bucket.failed} failed`;
    passed.append(title);
    chart.append(passed, failed);
    if (i % 6 === 0) {
      const label = svg('text', {x, y: height - 4});
      label.textContent = localTime(bucket.start).slice(0, 5);
      chart.append(label);
    }
  });
  document.getElementById('chart').replaceChildren(chart);
}

function draw() {
  if (!line) return;
  const problem = document.getElementById('problem');
  problem.hidden = !line.problem;
  problem.textContent = line.problem || '';
  document.getElementById('stations').replaceChildren(...(line.stations || []).map(card));
  drawTotals();
  drawFailures();
  drawChart();
  document.getElementById('shift').textContent =
    line.shiftStart ? 'Shift since ' + localTime(line.shiftStart) + ' (shifts start at 06:00, 14:00 and 22:00)' : '';
}

function connect() {
  const status = document.getElementById('connection');
  const events = new EventSource('/events');
  events.addEventListener('open', () => { status.textContent = 'live'; status.className = 'connection up'; });
  // EventSource tries again by itself (the server asks for a second).
  events.addEventListener('error', () => { status.textContent = 'reconnecting…'; status.className = 'connection down'; });
  // The server's clock as it sends, against which heartbeats are judged.
  events.addEventListener('clock', message => {
    const serverNow = Date.parse(message.data);
    if (!isNaN(serverNow)) skew = serverNow - Date.now();
  });
  events.addEventListener('line', message => {
    line = JSON.parse(message.data);
    draw();
  });
}

// A station that stops writing sends nothing: its silence is noticed here.
let shownStale = '';
setInterval(() => {
  document.getElementById('clock').textContent = new Date().toLocaleTimeString([], {hourCycle: 'h23'});
  if (!line) return;
  const stale = (line.stations || []).filter(s => !heard(s)).map(s => s.station).join('\n');
  if (stale !== shownStale) { shownStale = stale; draw(); }
}, 1000);

connect();
