// The line page in a real browser: Debian's chromium driven by playwright-core, against three
// stations forwarding to a throwaway PostgreSQL and one `varnex line` over them (line.py).
// One station stopped reads ended, one killed reads silent within 20 s and comes back when
// started again; a port's failure shows on the line page within 5 s of its station's board.
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
const START_TIMEOUT_MS = 120000;
const STEP_TIMEOUT_MS = 90000;
const SILENT_WITHIN_MS = 20000;
const FAILURE_WITHIN_MS = 5000;
const STATIONS = ['bench-1', 'bench-2', 'bench-3'];

let line;     // the line.py process
let lines;    // its output, a line at a time
let info;     // {url, boards}
let profile;
let context;
let page;

function nextLine() {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('line.py said nothing')), START_TIMEOUT_MS);
    lines.once('line', (text) => { clearTimeout(timer); resolve(JSON.parse(text)); });
  });
}

async function command(text) {
  line.stdin.write(`${text}\n`);
  return nextLine();
}

const presence = (name) => page.locator(`tr[data-station="${name}"]`).getAttribute('data-presence');

function waitPresence(name, wanted, timeout) {
  return page.waitForFunction(([n, w]) => {
    const row = document.querySelector(`tr[data-station="${n}"]`);
    return row && row.dataset.presence === w;
  }, [name, wanted], { timeout });
}

describe('the line page', () => {
  before(async () => {
    profile = mkdtempSync(join(tmpdir(), 'varnex-chromium-'));
    context = await chromium.launchPersistentContext(profile, { executablePath: CHROMIUM, headless: true, args: ARGS });
    line = spawn('/usr/bin/python3', [join(HERE, 'line.py')], { stdio: ['pipe', 'pipe', 'inherit'] });
    lines = createInterface({ input: line.stdout });
    info = await nextLine();
    page = context.pages()[0] || await context.newPage();
    await page.goto(info.url);
  });

  after(async () => {
    if (context) await context.close();
    if (line) line.stdin.end();
    if (profile) rmSync(profile, { recursive: true, force: true });
  });

  it('shows the three stations up, each with a link to its own board', async () => {
    for (const name of STATIONS) await waitPresence(name, 'up', STEP_TIMEOUT_MS);
    const names = await page.$$eval('#stations tbody tr', (rows) => rows.map((r) => r.dataset.station));
    assert.deepEqual(names, STATIONS);
    for (const name of STATIONS) {
      assert.equal(await page.locator(`tr[data-station="${name}"] a`).getAttribute('href'), info.boards[name]);
    }
  });

  it('shows a port\'s failure within 5 s of its station\'s own board', async () => {
    const board = await context.newPage();
    await board.goto(info.boards['bench-3']);
    await board.waitForSelector('.tile[data-state="failed"]', { timeout: STEP_TIMEOUT_MS });
    await board.close();
    await page.waitForSelector('tr[data-station="bench-3"] .mark[data-state="failed"]', { timeout: FAILURE_WITHIN_MS });
    assert.match(await page.locator('tr[data-station="bench-3"] .failures').textContent(), /: .+/);
    // The shift's figures are read from the records less often than the stations.
    await page.waitForFunction(() => /\d/.test(document.getElementById('reasons-chart').textContent), null,
      { timeout: STEP_TIMEOUT_MS });
  });

  it('reads a stopped station as ended and a killed one as silent within 20 s', async () => {
    assert.deepEqual(await command('stop bench-1'), { stopped: 'bench-1' });
    await waitPresence('bench-1', 'ended', STEP_TIMEOUT_MS);
    assert.deepEqual(await command('kill bench-2'), { killed: 'bench-2' });
    await waitPresence('bench-2', 'silent', SILENT_WITHIN_MS);
    assert.match(await page.locator('tr[data-station="bench-2"] .presence').textContent(), /silent since/);
    assert.equal(await presence('bench-3'), 'up');
  });

  it('brings a restarted station back', async () => {
    const started = await command('start bench-2');
    assert.equal(started.started, 'bench-2');
    await waitPresence('bench-2', 'up', STEP_TIMEOUT_MS);
    assert.equal(await page.locator('tr[data-station="bench-2"] a').getAttribute('href'), started.board);
  });
});
