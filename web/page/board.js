// The web board's page: a tile per port kept in the order the station gives its ports, the
// station's counters, three charts drawn as SVG by this script, and a banner once the station
// stops answering. Every text that comes from the station (port names, reasons) is written
// with textContent, never parsed as HTML.
'use strict';

(() => {
  const SVG = 'http://www.w3.org/2000/svg';
  const PROBE_AFTER_MS = 20000;   // a quiet stream is checked with /api/state after this long
  const PROBE_TIMEOUT_MS = 5000;
  const CHART_REFRESH_MS = 2000;  // the charts are read from the records at most this often
  const RECORDS_PAGES = 20;       // at most this many pages of 1000 rows per refresh
  const MS_PER_HOUR = 3600000;
  const NAME_CHARS = 30;       // a tile's width of name
  const SHIFT_HOURS = 8;       // the hours chart shows at least a shift
  const STATES = {
    opening: 'OPENING', waiting: 'READY', loading: 'LOADING', confirming: 'CONFIRMING',
    done: 'DONE', failed: 'FAILED', lost: 'PORT LOST',
  };

  const tiles = [];
  let station = null;
  let startedAt = null;        // Date the station started
  let lastHeard = Date.now();  // when the station last answered
  let reachable = true;
  let ended = false;
  let keepsRecords = true;
  let chartTimer = null;
  let lastChartMs = 0;
  // Kept from what this page saw, for a station without records.
  const live = { hours: new Map(), ports: new Map(), reasons: new Map(), failedUnits: new Set() };

  const $ = (id) => document.getElementById(id);
  function element(tag, className, parent) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (parent) parent.appendChild(node);
    return node;
  }

  function stateOf(port) {
    if (port.failed) return 'failed';
    if (port.lost) return 'lost';
    switch (port.step) {
      case 'loading': return 'loading';
      case 'waiting_for_confirmation': return 'confirming';
      case 'waiting_for_unit_to_go': return port.result === 'confirmed' ? 'done' : 'waiting';
      case 'waiting_for_unit': return 'waiting';
      default: return 'opening';
    }
  }

  // A long port name shortened in the middle, keeping its distinctive end
  // (/dev/serial/by-id/usb-FTDI…A50185BI-if00-port0); the whole name is the tile's title.
  function shortName(name) {
    if (name.length <= NAME_CHARS) return name;
    const head = Math.ceil((NAME_CHARS - 1) * 0.4);
    return `${name.slice(0, head)}\u2026${name.slice(name.length - (NAME_CHARS - 1 - head))}`;
  }

  function duration(ms) {
    const seconds = Math.max(0, Math.round(ms / 1000));
    const h = Math.floor(seconds / 3600);
    const m = Math.floor((seconds % 3600) / 60);
    const s = String(seconds % 60).padStart(2, '0');
    return h > 0 ? `${h}:${String(m).padStart(2, '0')}:${s}` : `${m}:${s}`;
  }

  function makeTile(index) {
    const tile = element('article', 'tile', $('tiles'));
    tile.dataset.index = String(index);
    const parts = {
      tile,
      name: element('div', 'name', tile),
      head: element('div', 'head', tile),
      bar: null, fill: null, detail: null, reason: null,
    };
    parts.word = element('span', 'word', parts.head);
    parts.unit = element('span', 'unit', parts.head);
    parts.bar = element('div', 'bar', tile);
    parts.fill = element('div', 'fill', parts.bar);
    parts.detail = element('div', 'detail', tile);
    parts.reason = element('div', 'reason', tile);
    return parts;
  }

  function drawTile(index, port) {
    while (tiles.length <= index) tiles.push(makeTile(tiles.length));
    const t = tiles[index];
    const state = stateOf(port);
    t.tile.dataset.state = state;
    t.name.textContent = shortName(port.name);
    t.tile.title = port.name;
    t.word.textContent = STATES[state];
    t.unit.textContent = port.unit > 0 ? `unit ${port.unit}` : '';
    const share = port.total > 0 ? Math.min(1, port.bytes / port.total) : 0;
    // The bar is the load under way, or the one that just ended on this unit.
    const shown = state === 'done' ? 1 : ['loading', 'confirming', 'failed'].includes(state) ? share : 0;
    t.fill.style.width = `${shown * 100}%`;
    let detail = '';
    if (state === 'loading') {
      detail = `${Math.floor(share * 100)} %`;
      if (port.left_ms !== null && port.left_ms !== undefined) detail += ` \u00b7 ${duration(port.left_ms)} left`;
      if (port.rate > 0) detail += ` \u00b7 ${(port.rate / 1000).toFixed(1)} kB/s`;
    } else if (port.text) {
      detail = port.text;
    }
    t.detail.textContent = detail;
    t.reason.textContent = port.failed ? port.reason : '';
    if (port.failed && !keepsRecords) noteLiveFailure(port);
  }

  function noteLiveFailure(port) {
    const key = `${port.name}\u0000${port.unit}`;
    if (live.failedUnits.has(key)) return;
    live.failedUnits.add(key);
    live.ports.set(port.name, (live.ports.get(port.name) || 0) + 1);
    const reason = port.reason || port.result || 'failed';
    live.reasons.set(reason, (live.reasons.get(reason) || 0) + 1);
    scheduleCharts();
  }

  function drawStation(next) {
    const before = station;
    station = next;
    $('loaded').textContent = String(next.loaded);
    $('failed').textContent = String(next.failed);
    $('yield').textContent = next.yield === null ? '\u2013' : `${(next.yield * 100).toFixed(1)} %`;
    $('first-pass').textContent =
      next.first_pass_yield == null ? '\u2013' : `${(next.first_pass_yield * 100).toFixed(1)} %`;
    $('rate').textContent = Number(next.units_per_hour || 0).toFixed(1);
    $('elapsed').textContent = duration(next.elapsed_ms);
    $('records').textContent = next.records || 'none kept';
    keepsRecords = Boolean(next.records);
    if (next.started_at) startedAt = new Date(next.started_at);
    if (before && !keepsRecords && next.loaded > before.loaded) {
      const hour = Math.floor(next.elapsed_ms / MS_PER_HOUR);
      live.hours.set(hour, (live.hours.get(hour) || 0) + (next.loaded - before.loaded));
    }
    if (!before || next.loaded !== before.loaded || next.failed !== before.failed) scheduleCharts();
  }

  function drawState(state) {
    drawStation(state);
    state.ports.forEach((port, index) => drawTile(index, port));
    ended = state.ended;
  }

  // The charts: bars drawn as SVG rectangles, their labels as SVG text (textContent).
  function clear(svg) { while (svg.firstChild) svg.removeChild(svg.firstChild); }
  function svgNode(tag, attributes, parent) {
    const node = document.createElementNS(SVG, tag);
    for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, String(value));
    parent.appendChild(node);
    return node;
  }
  function emptyChart(svg, words) {
    svgNode('text', { x: 10, y: 24, class: 'empty' }, svg).textContent = words;
  }

  function drawHours(counts) {
    const svg = $('hours-chart');
    clear(svg);
    const hours = Math.max(SHIFT_HOURS, ...Array.from(counts.keys(), (h) => h + 1),
      station ? Math.ceil((station.elapsed_ms + 1) / MS_PER_HOUR) : 1);
    const top = Math.max(1, ...counts.values());
    const width = 400, height = 180, base = 155, left = 10;
    svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
    const step = (width - left) / hours;
    for (let hour = 0; hour < hours; ++hour) {
      const count = counts.get(hour) || 0;
      const h = (count / top) * (base - 20);
      const bar = svgNode('rect', { x: left + hour * step + 2, y: base - h, width: Math.max(1, step - 4), height: h,
        class: 'bar' }, svg);
      svgNode('title', {}, bar).textContent = `hour ${hour + 1}: ${count} units`;
      svgNode('text', { x: left + hour * step + step / 2, y: base + 14, 'text-anchor': 'middle' }, svg)
        .textContent = String(hour + 1);
      if (count > 0) {
        svgNode('text', { x: left + hour * step + step / 2, y: base - h - 4, 'text-anchor': 'middle' }, svg)
          .textContent = String(count);
      }
    }
  }

  const LABEL_CHARS = 28;
  const keepEnd = (text) => (text.length > LABEL_CHARS ? `\u2026${text.slice(-(LABEL_CHARS - 1))}` : text);
  const keepStart = (text) => (text.length > LABEL_CHARS ? `${text.slice(0, LABEL_CHARS - 1)}\u2026` : text);

  function drawBars(svg, counts, nothing, shorten) {
    clear(svg);
    const rows = Array.from(counts.entries()).sort((a, b) => b[1] - a[1]).slice(0, 8);
    const width = 400, rowHeight = 24, label = 220;
    svg.setAttribute('viewBox', `0 0 ${width} ${Math.max(1, rows.length) * rowHeight + 10}`);
    if (rows.length === 0) { emptyChart(svg, nothing); return; }
    const top = Math.max(...rows.map((r) => r[1]));
    rows.forEach(([name, count], i) => {
      const y = 5 + i * rowHeight;
      const text = svgNode('text', { x: label - 6, y: y + 15, 'text-anchor': 'end' }, svg);
      text.textContent = shorten(name);
      svgNode('title', {}, text).textContent = name;
      const w = Math.max(2, (count / top) * (width - label - 40));
      svgNode('rect', { x: label, y: y + 3, width: w, height: rowHeight - 6, class: 'bar failure' }, svg);
      svgNode('text', { x: label + w + 4, y: y + 15 }, svg).textContent = String(count);
    });
  }

  function drawCharts(hours, ports, reasons) {
    drawHours(hours);
    drawBars($('ports-chart'), ports, 'no failures', keepEnd);     // a port's name ends distinctly
    drawBars($('reasons-chart'), reasons, 'no failures', keepStart);  // a reason says what first
  }

  async function recordsSinceStart() {
    const rows = [];
    let before = null;
    const since = startedAt.toISOString().slice(0, 23);
    for (let page = 0; page < RECORDS_PAGES; ++page) {
      const query = new URLSearchParams({ since, limit: '1000' });
      if (before !== null) query.set('before', String(before));
      const answer = await fetch(`/api/records?${query}`, { cache: 'no-store' });
      if (answer.status === 404) return null;
      if (!answer.ok) throw new Error(`records: ${answer.status}`);
      const body = await answer.json();
      rows.push(...body.records);
      if (body.next_before === null) break;
      before = body.next_before;
    }
    return rows;
  }

  async function refreshCharts() {
    chartTimer = null;
    if (keepsRecords && startedAt) {
      try {
        const rows = await recordsSinceStart();
        if (rows !== null) {
          const hours = new Map(), ports = new Map(), reasons = new Map();
          let confirmed = 0, ended = 0;
          for (const row of rows) {
            if (row.ended_at) ended += 1;
            if (row.result === 'confirmed') confirmed += 1;
            if (row.result === 'confirmed' && row.ended_at) {
              const hour = Math.max(0, Math.floor((new Date(row.ended_at) - startedAt) / MS_PER_HOUR));
              hours.set(hour, (hours.get(hour) || 0) + 1);
            } else if (row.result === 'failed' || row.result === 'no_confirmation') {
              ports.set(row.port, (ports.get(row.port) || 0) + 1);
              const reason = row.reason || row.result;
              reasons.set(reason, (reasons.get(reason) || 0) + 1);
            }
          }
          drawCharts(hours, ports, reasons);
          // A row is completed just after the board hears of its end: read again until they agree.
          if (station && !station.ended && (confirmed < station.loaded || ended < station.loaded + station.failed)) {
            scheduleCharts();
          }
          return;
        }
        keepsRecords = false;
      } catch (error) {
        return;  // drawn again at the next change
      }
    }
    drawCharts(live.hours, live.ports, live.reasons);
  }

  function scheduleCharts() {
    if (chartTimer !== null) return;
    const wait = Math.max(0, lastChartMs + CHART_REFRESH_MS - Date.now());
    chartTimer = setTimeout(() => { lastChartMs = Date.now(); refreshCharts(); }, wait);
  }

  function heard() {
    lastHeard = Date.now();
    reachable = true;
    showBanner();
  }

  function showBanner() {
    const banner = $('banner');
    const ago = Math.round((Date.now() - lastHeard) / 1000);
    if (ended) {
      banner.textContent = `The station has stopped \u00b7 last update ${ago} s ago`;
      banner.hidden = false;
    } else if (!reachable) {
      banner.textContent = `The station is no longer reachable \u00b7 last update ${ago} s ago`;
      banner.hidden = false;
    } else {
      banner.hidden = true;
    }
  }

  async function probe() {
    const stop = new AbortController();
    const timer = setTimeout(() => stop.abort(), PROBE_TIMEOUT_MS);
    try {
      const answer = await fetch('/api/state', { cache: 'no-store', signal: stop.signal });
      if (!answer.ok) throw new Error(String(answer.status));
      drawState(await answer.json());
      heard();
    } catch (error) {
      reachable = false;
      showBanner();
    } finally {
      clearTimeout(timer);
    }
  }

  function connect() {
    const events = new EventSource('/api/events');
    events.addEventListener('open', heard);
    events.addEventListener('state', (e) => { heard(); drawState(JSON.parse(e.data)); });
    events.addEventListener('port', (e) => {
      heard();
      const change = JSON.parse(e.data);
      drawTile(change.index, change.port);
    });
    events.addEventListener('station', (e) => { heard(); drawStation(JSON.parse(e.data)); });
    events.addEventListener('end', () => {
      heard();
      ended = true;
      events.close();
      showBanner();
    });
    events.addEventListener('error', () => {
      if (ended) return;
      reachable = false;
      showBanner();
    });
  }

  setInterval(() => {
    if (!ended && reachable && Date.now() - lastHeard > PROBE_AFTER_MS) probe();
    showBanner();
  }, 1000);
  connect();
})();
