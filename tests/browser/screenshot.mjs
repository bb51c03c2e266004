// Takes the README's picture of the web board: a station of 8 ports mid-shift (paced loads,
// the lines' units coming up at different times) with one failure, in Debian's chromium.
//   VARNEX_BUILD_DIR=build node tests/browser/screenshot.mjs docs/web-board.png
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { createInterface } from 'node:readline';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

const HERE = dirname(fileURLToPath(import.meta.url));
const output = process.argv[2] || 'web-board.png';
const LOADED_AT_LEAST = 10;
const WAIT_LIMIT_MS = 240000;

const station = spawn('/usr/bin/python3', [join(HERE, 'station.py'), '--steady', '7', '--failing', '1', '--pace',
  '--usb-names', '--gap-ms', '2000', '--stagger-ms', '2500', '--failure-gap-ms', '600000'], { stdio: ['pipe', 'pipe', 'inherit'] });
const lines = createInterface({ input: station.stdout });
const info = await new Promise((resolve) => lines.once('line', (line) => resolve(JSON.parse(line))));
const profile = mkdtempSync(join(tmpdir(), 'varnex-chromium-'));
try {
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true, viewport: { width: 1280, height: 860 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const page = context.pages()[0] || await context.newPage();
  await page.goto(info.url);
  await page.waitForFunction((count) => Number(document.getElementById('loaded').textContent) >= count &&
    document.querySelector('.tile[data-state="failed"]') !== null &&
    document.querySelectorAll('.tile[data-state="loading"]').length >= 3, LOADED_AT_LEAST, { timeout: WAIT_LIMIT_MS });
  await page.waitForTimeout(2500);  // the charts' refresh
  await page.screenshot({ path: output, fullPage: true });
  await context.close();
} finally {
  station.stdin.end();
  rmSync(profile, { recursive: true, force: true });
}
