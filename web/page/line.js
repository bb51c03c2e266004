// The line page: a row per station (up, silent since its last heartbeat, or ended; its
// counters; its ports as marks coloured by step, the failed ones named; a link to its own
// board) and the shift's charts, read from /api/line every few seconds. When the page's server
// or the records server stops answering, a banner says since when, and the page keeps asking.
// Every text that comes from a station is written with textContent, never parsed as HTML.
'use strict';

(() => {
  const POLL_MS = 1000;
  const TIMEOUT_MS = 5000;
  const rows = new Map();  // station -> its row's parts
  let lastAnswer = null;   // Date of the page server's last answer

  const $ = (id) => document.getElementById(id);
  function element(tag, className, parent) {
    const node = document.createElement(tag);
    if (className) node.className = className;
    if (parent) parent.appendChild(node);
    return node;
  }
  const percent = (share) => (share === null || share === undefined ? '\u2013' : `${(share * 100).toFixed(1)} %`);
  const clock = (date) => date.toLocaleTimeString();

  function stateOf(port) {
    if (port.failed) return 'failed';
    if (port.lost) return 'lost';
    switch (port.step) {
      case 'loading': return 'loading';
      case 'waiting_for_confirmation': return 'confirming';
      case 'waiting_for_unit_to_go': return 'done';
      case 'waiting_for_unit': return 'waiting';
      default: return 'opening';
    }
  }

  function presenceText(station) {
    if (station.presence === 'ended') return `ended ${station.ended_at ? clock(new Date(station.ended_at)) : ''}`;
    if (station.presence === 'silent') {
      return `silent since ${clock(new Date(Date.now() - station.silent_ms))}`;
    }
    return 'up';
  }

  function makeRow(name) {
    const tr = element('tr', '', $('stations').tBodies[0]);
    tr.dataset.station = name;
    const parts = { tr };
    const nameCell = element('td', 'name', tr);
    parts.link = element('a', '', nameCell);
    parts.presence = element('td', 'presence', tr);
    for (const key of ['loaded', 'failed', 'yield', 'rate', 'fpy']) parts[key] = element('td', 'number', tr);
    const portsCell = element('td', 'ports', tr);
    parts.marks = element('div', 'marks', portsCell);
    parts.failures = element('div', 'failures', portsCell);
    return parts;
  }

  function drawStation(station) {
    if (!rows.has(station.station)) rows.set(station.station, makeRow(station.station));
    const r = rows.get(station.station);
    $('stations').tBodies[0].appendChild(r.tr);  // in the order the line gives
    r.tr.dataset.presence = station.presence;
    r.link.textContent = station.station;
    if (/^https?:\/\//.test(station.board_url)) r.link.href = station.board_url;
    else r.link.removeAttribute('href');
    r.link.title = `${station.host} \u00b7 varnex ${station.version}`;
    r.presence.textContent = presenceText(station);
    r.loaded.textContent = String(station.loaded);
    r.failed.textContent = String(station.failed);
    r.yield.textContent = percent(station.yield);
    r.rate.textContent = Number(station.units_per_hour || 0).toFixed(1);
    r.fpy.textContent = percent(station.first_pass_yield);
    while (r.marks.children.length > station.ports.length) r.marks.lastChild.remove();
    while (r.marks.children.length < station.ports.length) element('span', 'mark', r.marks);
    const failed = [];
    station.ports.forEach((port, i) => {
      const mark = r.marks.children[i];
      mark.dataset.state = stateOf(port);
      mark.title = port.failed ? `${port.name}: ${port.reason}` : `${port.name}: ${port.step}`;
      if (port.failed) failed.push(`${port.name}: ${port.reason}`);
    });
    r.failures.textContent = failed.join('\n');
  }

  function drawBars(chart, entries, nothing, failure) {
    chart.replaceChildren();
    if (entries.length === 0) { element('div', 'empty', chart).textContent = nothing; return; }
    const top = Math.max(1, ...entries.map((e) => e[1]));
    for (const [label, value, title] of entries) {
      const row = element('div', 'row', chart);
      const name = element('span', 'label', row);
      name.textContent = label;
      name.title = label;
      const bar = element('span', failure ? 'bar failure' : 'bar', row);
      bar.style.width = `${(value / top) * 60}%`;
      bar.title = title;
      element('span', 'value', row).textContent = Number.isInteger(value) ? String(value) : value.toFixed(1);
    }
  }

  function drawCharts(line) {
    // Units per hour per station: its loaded units over the hours of the shift it loaded in.
    const perStation = new Map();
    for (const hour of line.units_per_hour) {
      const seen = perStation.get(hour.station) || { loaded: 0, hours: 0 };
      seen.loaded += hour.loaded;
      seen.hours += 1;
      perStation.set(hour.station, seen);
    }
    drawBars($('hours-chart'), Array.from(perStation, ([station, seen]) =>
      [station, seen.loaded / seen.hours, `${seen.loaded} units in ${seen.hours} h`]),
    'no units loaded this shift', false);
    drawBars($('reasons-chart'), line.failures.map((f) => [f.reason || 'failed', f.count, `${f.count} loads`]),
      'no failures this shift', true);
  }

  function draw(line) {
    let up = 0, loaded = 0, failed = 0;
    const names = new Set();
    for (const station of line.stations) {
      drawStation(station);
      names.add(station.station);
      if (station.presence === 'up') up += 1;
      loaded += station.loaded;
      failed += station.failed;
    }
    for (const [name, r] of rows) {
      if (!names.has(name)) { r.tr.remove(); rows.delete(name); }
    }
    $('up').textContent = `${up} of ${line.stations.length}`;
    $('loaded').textContent = String(loaded);
    $('failed').textContent = String(failed);
    $('server').textContent = line.server.host;
    drawCharts(line);
    const banner = $('banner');
    banner.hidden = line.server.reachable;
    if (!line.server.reachable) {
      const since = line.server.read_at ? ` since ${clock(new Date(line.server.read_at))}` : '';
      banner.textContent = `The records server ${line.server.host} has not answered${since}: ${line.server.reason}`;
    }
  }

  function unreachable(why) {
    const banner = $('banner');
    banner.hidden = false;
    banner.textContent = `The line page has not answered${lastAnswer ? ` since ${clock(lastAnswer)}` : ''} (${why}); ` +
      'still trying.';
  }

  async function poll() {
    const controller = new AbortController();
    const timer = setTimeout(() => controller.abort(), TIMEOUT_MS);
    try {
      const answer = await fetch('/api/line', { cache: 'no-store', signal: controller.signal });
      if (answer.status === 401) unreachable('it needs its token: open /?token=... once in this browser');
      else if (!answer.ok) unreachable(`HTTP ${answer.status}`);
      else {
        lastAnswer = new Date();
        draw(await answer.json());
      }
    } catch (failure) {
      unreachable(failure.name === 'AbortError' ? 'no answer in time' : 'no connection');
    } finally {
      clearTimeout(timer);
      setTimeout(poll, POLL_MS);
    }
  }

  poll();
})();
