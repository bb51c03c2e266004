// The web board's page: a tile per port kept in the order the station gives its ports, the
// station's counters, three charts drawn as SVG by this script, and a banner while the station
// does not answer; it connects again by itself, whatever happened, until it is closed. Every text that comes from the station (port names, reasons) is written
// with textContent, never parsed as HTML.
'use strict';

(() => {
  const SVG = 'http://www.w3.org/2000/svg';
  const SILENT_MS = 20000;        // a stream this quiet (its heartbeat comes every 15 s) is lost
  const STATE_TIMEOUT_MS = 5000;
  // Waits between tries grow from the first to the most, and start again once connected. A
  // station that does not answer at all (stopped, restarting) is looked for at least every few
  // seconds, so that a restart shows within seconds on every open page.
  const RETRY_FIRST_MS = 1000;
  const RETRY_MOST_MS = 30000;
  const RETRY_DOWN_MOST_MS = 6000;
  const WAITING = {
    ended: 'The station has stopped',
    down: 'The station is not answering',
    token: 'This board needs the station\u2019s token: open it once as /?token=\u2026',
    refused: 'The station refused the board (too many boards open?)',
  };
  const CHART_REFRESH_MS = 5000;  // the charts' figures are asked for at most this often
  const CHART_RETRIES = 3;
  const MS_PER_HOUR = 3600000;
  const NAME_CHARS = 30;       // a tile's width of name
  const SHIFT_HOURS = 8;       // the hours chart shows at least a shift
  const STATES = {
    opening: 'OPENING', waiting: 'READY', loading: 'LOADING', confirming: 'CONFIRMING',
    done: 'DONE', failed: 'FAILED', lost: 'PORT LOST',
  };

  const tiles = [];
  let station = null;
  let lastHeard = Date.now();  // when the station last answered
  let ended = false;
  let keepsRecords = true;
  let chartTimer = null;
  let lastChartMs = 0;
  let chartRetries = 0;        // reads left while the records lag behind the board's counters
  let shownNames = '';         // the ports the tiles show, to tell a restarted station by
  let events = null;           // the open event stream, if any
  let retryMs = RETRY_FIRST_MS;
  let retryTimer = null;
  let retryAt = 0;
  let waitingFor = null;       // why the page waits for the station: a key of WAITING, or null
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
    // The station tells units per hour once it means something (null in its first minutes).
    $('rate').textContent = next.units_per_hour == null ? '\u2013' : Number(next.units_per_hour).toFixed(1);
    $('first-pass').textContent =
      next.first_pass_yield == null ? '\u2013' : `${(next.first_pass_yield * 100).toFixed(1)} %`;
    $('elapsed').textContent = duration(next.elapsed_ms);
    if (next.started_at) $('elapsed').title = `since ${next.started_at}`;
    $('records').textContent = next.records || 'none kept';
    // A message the station wrote for its operator (a records write that failed, say).
    $('notice').textContent = next.notice || '';
    $('notice').hidden = !next.notice;
    keepsRecords = Boolean(next.records);
    if (before && !keepsRecords && next.loaded > before.loaded) {
      const hour = Math.floor(next.elapsed_ms / MS_PER_HOUR);
      live.hours.set(hour, (live.hours.get(hour) || 0) + (next.loaded - before.loaded));
    }
    if (!before || next.loaded !== before.loaded || next.failed !== before.failed) {
      chartRetries = CHART_RETRIES;
      scheduleCharts();
    }
  }

  // The whole state: a station restarted meanwhile (another start time, other ports) is
  // drawn afresh, its tiles and the figures this page kept for it included.
  function drawState(state) {
    const names = state.ports.map((port) => port.name).join('\u0000');
    if (station && (state.started_at !== station.started_at || names !== shownNames)) {
      tiles.splice(0).forEach((t) => t.tile.remove());
      live.hours.clear(); live.ports.clear(); live.reasons.clear(); live.failedUnits.clear();
      station = null;
    }
    shownNames = names;
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

  const asMap = (object) => new Map(Object.entries(object || {}));

  // The station works the shift's figures out itself: one small answer, however long the
  // shift and however many browsers ask.
  async function refreshCharts() {
    chartTimer = null;
    if (keepsRecords) {
      try {
        const answer = await fetch('/api/summary', { cache: 'no-store' });
        if (answer.ok) {
          const figures = await answer.json();
          const hours = new Map();
          (figures.loaded_per_hour || []).forEach((count, hour) => { if (count > 0) hours.set(hour, count); });
          drawCharts(hours, asMap(figures.failures_by_port), asMap(figures.failures_by_reason));
          // A row is completed just after the board hears of its end: read again a few times
          // until the loaded units agree.
          const loaded = (figures.loaded_per_hour || []).reduce((sum, count) => sum + count, 0);
          if (station && loaded < station.loaded && chartRetries > 0) {
            chartRetries -= 1;
            scheduleCharts();
          }
          return;
        }
        if (answer.status !== 404) return;  // drawn again at the next change
        keepsRecords = false;
      } catch (error) {
        return;
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
  }

  function showBanner() {
    const banner = $('banner');
    if (waitingFor === null) {
      banner.hidden = true;
      return;
    }
    const ago = Math.round((Date.now() - lastHeard) / 1000);
    const since = new Date(lastHeard).toLocaleTimeString();
    let text = `${WAITING[waitingFor]} \u00b7 nothing heard since ${since}, last update ${ago} s ago`;
    if (retryTimer !== null) text += ` \u00b7 trying again in ${Math.max(0, Math.ceil((retryAt - Date.now()) / 1000))} s`;
    banner.textContent = text;
    banner.hidden = false;
  }

  // Anything short of the page being closed ends here: the stream closed, the next try
  // scheduled (a browser never retries an event stream that was refused, so the page does).
  function retry(why, down) {
    if (events !== null) {
      events.close();
      events = null;
    }
    waitingFor = why;
    if (retryTimer !== null) clearTimeout(retryTimer);
    const wait = Math.min(retryMs, down ? RETRY_DOWN_MOST_MS : RETRY_MOST_MS);
    retryMs = Math.min(retryMs * 2, RETRY_MOST_MS);
    retryAt = Date.now() + wait;
    retryTimer = setTimeout(() => { retryTimer = null; connect(); }, wait);
    showBanner();
  }

  function connected() {
    retryMs = RETRY_FIRST_MS;
    waitingFor = null;
    showBanner();
  }

  // The whole state first (a restarted station may have other ports and another start), then
  // the stream of its changes.
  async function connect() {
    const stop = new AbortController();
    const timer = setTimeout(() => stop.abort(), STATE_TIMEOUT_MS);
    let state;
    try {
      const answer = await fetch('/api/state', { cache: 'no-store', signal: stop.signal });
      if (answer.status === 401) { retry('token', false); return; }
      if (!answer.ok) { retry('refused', false); return; }
      state = await answer.json();
    } catch (error) {
      retry(ended ? 'ended' : 'down', true);
      return;
    } finally {
      clearTimeout(timer);
    }
    heard();
    drawState(state);
    // A stopped station's server stays a moment to say its end: the next one is waited for.
    if (state.ended) { retry('ended', true); return; }
    follow();
  }

  function follow() {
    const source = new EventSource('/api/events');
    events = source;
    const mine = (handler) => (e) => { if (events === source) { heard(); handler(e); } };
    source.addEventListener('open', mine(() => {}));
    source.addEventListener('state', mine((e) => { drawState(JSON.parse(e.data)); connected(); }));
    source.addEventListener('port', mine((e) => {
      const change = JSON.parse(e.data);
      drawTile(change.index, change.port);
    }));
    source.addEventListener('station', mine((e) => drawStation(JSON.parse(e.data))));
    source.addEventListener('end', mine(() => { ended = true; retry('ended', true); }));
    source.addEventListener('error', () => {
      if (events !== source) return;
      // Refused (every slot taken: the browser gives up on such a stream) or cut.
      const refused = source.readyState === EventSource.CLOSED;
      retry(ended ? 'ended' : refused ? 'refused' : 'down', !refused);
    });
  }

  setInterval(() => {
    if (events !== null && Date.now() - lastHeard > SILENT_MS) retry('down', true);
    showBanner();
  }, 1000);
  connect();
})();
