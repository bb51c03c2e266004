// The web board left open while its station stops, starts again, turns a browser away or
// wants a token: the page connects again by itself, with no reload, and says what it waits for.
import { after, before, describe, it } from 'node:test';
import assert from 'node:assert/strict';
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { get } from 'node:http';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const HERE = dirname(fileURLToPath(import.meta.url));
const CHROMIUM = '/usr/bin/chromium';
const ARGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];
const START_TIMEOUT_MS = 60000;
const RESTART_SHOWN_MS = 10000;  // a restarted station is on every open page within this
const SLOT_FREED_MS = 45000;     // the page's waits grow to 30 s
const STREAM_SLOTS = 32;
const TOKEN = 'a-token-of-the-line-0123456789';

let station;
let lines;
let info;
let profile;
let context;
let page;

function nextLine() {
  return new Promise((resolve, reject) => {
    const timer = setTimeout(() => reject(new Error('station.py said nothing')), START_TIMEOUT_MS);
    lines.once('line', (line) => { clearTimeout(timer); resolve(JSON.parse(line)); });
  });
}

const banner = () => page.locator('#banner');
const startedAt = () => page.locator('#elapsed').getAttribute('title');

// An event stream held open outside the browser; resolves once the station answered it.
function holdStream(url) {
  return new Promise((resolve, reject) => {
    const request = get(new URL('/api/events', url), (response) => {
      response.resume();
      resolve({ status: response.statusCode, close: () => request.destroy() });
    });
    request.on('error', reject);
  });
}

describe('the web board across restarts', () => {
  before(async () => {
    profile = mkdtempSync(join(tmpdir(), 'varnex-chromium-'));
    context = await chromium.launchPersistentContext(profile, { executablePath: CHROMIUM, headless: true, args: ARGS });
    station = spawn('/usr/bin/python3', [join(HERE, 'station.py'), '--steady', '2', '--failing', '0'],
      { stdio: ['pipe', 'pipe', 'inherit'] });
    lines = createInterface({ input: station.stdout });
    info = await nextLine();
    page = context.pages()[0] || await context.newPage();
    await page.goto(info.url);
    await page.waitForSelector('.tile');
    await page.evaluate(() => { window.__sameDocument = true; });
  });

  after(async () => {
    if (context) await context.close();
    if (station) station.stdin.end();
    if (profile) rmSync(profile, { recursive: true, force: true });
  });

  it('shows a station stopped and started again on the same address within 10 s, with no reload', async () => {
    await page.waitForFunction(() => document.getElementById('elapsed').title !== '');
    const first = await startedAt();
    station.stdin.write('stop\n');
    await nextLine();
    await page.waitForFunction(() => /The station has stopped/.test(document.getElementById('banner').textContent));
    assert.match(await banner().textContent(), /nothing heard since .* trying again in \d+ s/);
    station.stdin.write('start\n');
    info = await nextLine();
    await page.waitForFunction((old) => document.getElementById('elapsed').title !== old &&
      document.getElementById('banner').hidden, first, { timeout: RESTART_SHOWN_MS });
    assert.equal(await page.evaluate(() => window.__sameDocument), true);
    assert.equal(await page.locator('.tile').count(), 2);
  });

  it('turns the 33rd board away and follows the station once a slot is free', async () => {
    const held = [];  // the open page holds a slot too
    for (let i = 1; i < STREAM_SLOTS; ++i) held.push(await holdStream(info.url));
    assert.ok(held.every((stream) => stream.status === 200));
    const late = await context.newPage();
    try {
      await late.goto(info.url);
      await late.waitForFunction(() => /refused/.test(document.getElementById('banner').textContent));
      assert.equal(await late.locator('.tile').count(), 2);  // the state, read without a stream
      held.pop().close();
      await late.waitForFunction(() => document.getElementById('banner').hidden, null, { timeout: SLOT_FREED_MS });
    } finally {
      held.forEach((stream) => stream.close());
      await late.close();
    }
  });

  it('says a token is needed, refuses a wrong one and shows the board with the right one', async () => {
    station.stdin.write('stop\n');
    await nextLine();
    station.stdin.write(`start ${TOKEN}\n`);
    info = await nextLine();
    await page.waitForFunction(() => /needs the station.s token/.test(document.getElementById('banner').textContent),
      null, { timeout: START_TIMEOUT_MS });
    assert.equal((await page.goto(new URL('/?token=not-the-token-at-all', info.url).href)).status(), 401);
    assert.equal((await page.goto(new URL(`/?token=${TOKEN}`, info.url).href)).status(), 200);
    await page.waitForSelector('.tile');
    await page.waitForFunction(() => document.getElementById('banner').hidden);
    const cookie = (await context.cookies()).find((c) => c.name === 'varnex_board_token');
    assert.equal(cookie.sameSite, 'Lax');
    assert.ok(cookie.expires > Date.now() / 1000 + 100 * 24 * 3600);
  });
});
