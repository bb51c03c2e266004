// The web board in a real browser: Debian's chromium driven by playwright-core (which
// downloads nothing), against one varnex station on lines of simulated units shared by every
// case (station.py): a steady line, a line whose first unit is switched off mid-image, and a
// port named with HTML that would run a script if the page ever parsed it.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const HERE = dirname(fileURLToPath(import.meta.url));
const CHROMIUM = '/usr/bin/chromium';
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const STEP_TIMEOUT_MS = 60000;
const START_TIMEOUT_MS = 60000;
// The failing line's next unit comes this long after the failure: the latch is seen whole.
const FAILURE_GAP_MS = 15000;

let station;      // the station.py process
let lines;        // its output, a line at a time
let info;         // {url, ports, records}
let profile;      // the browser's fresh profile folder
let context;
let page;
const requested = [];

function nextLine() {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('station.py said nothing')), START_TIMEOUT_MS);
    lines.once('line', (line) => { clearTimeout(timer); resolve(JSON.parse(line)); });
  });
}

// Each tile's states as the page showed them, in order, recorded in the page itself.
function watchStates() {
  window.__states = [];
  const note = (tile) => {
    const i = Number(tile.dataset.index);
    const seen = (window.__states[i] = window.__states[i] || []);
    const now = `${tile.dataset.state}#${tile.querySelector('.unit').textContent}#${tile.querySelector('.reason').textContent}`;
    if (seen[seen.length - 1] !== now) seen.push(now);
  };
  document.querySelectorAll('.tile').forEach(note);
  new MutationObserver((changes) => {
    for (const change of changes) {
      const tile = change.target.closest && change.target.closest('.tile');
      if (tile) note(tile);
    }
  }).observe(document.getElementById('tiles'), { subtree: true, attributes: true, childList: true, characterData: true });
}

describe('the web board', () => {
  before(async () => {
    // The browser first (the slow part), so the page follows the station from its start.
    profile = mkdtempSync(join(tmpdir(), 'varnex-chromium-'));
    context = await chromium.launchPersistentContext(profile, {
      executablePath: CHROMIUM, headless: true, args: ARGS,
    });
    context.on('request', (request) => requested.push(request.url()));
    station = spawn('/usr/bin/python3', [join(HERE, 'station.py'), '--steady', '1', '--failing', '1', '--hostile-name',
      '--failure-gap-ms', String(FAILURE_GAP_MS)], { stdio: ['pipe', 'pipe', 'inherit'] });
    lines = createInterface({ input: station.stdout });
    info = await nextLine();
    page = context.pages()[0] || await context.newPage();
    await page.goto(info.url);
    await page.waitForSelector('.tile');
    await page.evaluate(watchStates);
  });

  after(async () => {
    if (context) await context.close();
    if (station) station.stdin.end();
    if (profile) rmSync(profile, { recursive: true, force: true });
  });

  it('shows every port as a tile, in the order given', async () => {
    const names = await page.$$eval('.tile', (nodes) => nodes.map((n) => n.title));
    assert.deepEqual(names, info.ports);
  });

  it('turns a tile to loading and then to done as a unit loads', async () => {
    await page.waitForFunction(() => {
      const seen = (window.__states[0] || []).map((s) => s.split('#')[0]);
      const loading = seen.indexOf('loading');
      return loading >= 0 && seen.indexOf('done', loading) > loading;
    }, null, { timeout: STEP_TIMEOUT_MS });
  });

  it('latches a unit switched off mid-image as failed with its reason until the next unit', async () => {
    // The next unit of that line starts its load; until then the tile stays failed.
    await page.waitForFunction(() => (window.__states[1] || []).some((s) => s.startsWith('loading#unit 2')),
      null, { timeout: STEP_TIMEOUT_MS });
    const states = await page.evaluate(() => window.__states[1]);
    const failedAt = states.findIndex((s) => s.startsWith('failed#unit 1'));
    assert.match(states[failedAt] || '', /the unit ended the image/, states.join(' '));
    const nextAt = states.findIndex((s) => s.startsWith('loading#unit 2'));
    assert.ok(failedAt >= 0 && nextAt > failedAt, states.join(' '));
    assert.ok(states.slice(failedAt, nextAt).every((s) => s.startsWith('failed#')), states.join(' '));
    assert.match(await page.locator('#ports-chart').textContent(), /\d/);
  });

  it('shows a port named with HTML as its text and runs nothing', async () => {
    const tile = page.locator('.tile[data-index="2"]');
    assert.equal(await tile.getAttribute('title'), info.ports[2]);
    assert.ok((await tile.locator('.name').textContent()).endsWith("title='pwned'>"));
    assert.equal(await page.locator('#tiles img').count(), 0);
    assert.notEqual(await page.title(), 'pwned');
  });

  it('asks nothing of any other address', async () => {
    const origin = new URL(info.url).origin;
    assert.ok(requested.length > 0);
    const foreign = requested.filter((url) => new URL(url).origin !== origin);
    assert.deepEqual(foreign, []);
  });

  it('shows a banner with the time of the last update once the station has ended', async () => {
    assert.equal(await page.locator('#banner').isHidden(), true);
    station.stdin.write('stop\n');
    const stopped = await nextLine();
    assert.equal(typeof stopped.stopped, 'number');
    const banner = page.locator('#banner');
    await banner.waitFor({ state: 'visible', timeout: STEP_TIMEOUT_MS });
    assert.match(await banner.textContent(), /last update \d+ s ago/);
  });
});
