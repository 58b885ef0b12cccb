// Drives the interface for bench/ui.sh. Each page load starts from a fresh
// sign-in address in a fresh browser context (no cache, no cookie): the
// clock runs from navigating to the address until the search field and the
// first results are on screen. Each keystroke's clock runs from the key to
// its results on screen (the results list drops aria-busy); the service's
// own time for the same query is measured beside it, with the token, from
// this process.
//   node ui_drive.mjs GUI CHROMIUM TERMS LOADS ROUNDS
import { execFileSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { createRequire } from 'node:module';

const [gui, chromiumPath, terms, loads, rounds] = process.argv.slice(2);
const require = createRequire(join(process.env.NODE_PATH, 'x.js'));
const { chromium } = require('playwright-core');

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
};
const p95 = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.min(sorted.length - 1, Math.ceil(sorted.length * 0.95) - 1)];
};
const ms = (value) => value.toFixed(1);

const browser = await chromium.launch({
  executablePath: chromiumPath,
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-component-update', '--disable-background-networking'],
});

// Time to a usable page.
const loadTimes = [];
for (let i = 0; i < Number(loads); ++i) {
  const address = execFileSync(gui, ['--url'], { encoding: 'utf8' }).trim();
  const context = await browser.newContext();
  const page = await context.newPage();
  const start = performance.now();
  await page.goto(address);
  await page.getByRole('searchbox', { name: '搜索' }).waitFor();
  await page.locator('ol.results li').first().waitFor();
  loadTimes.push(performance.now() - start);
  await context.close();
}

// Search as you type: words typed a key at a time, each key timed.
const address = execFileSync(gui, ['--url'], { encoding: 'utf8' }).trim();
const origin = new URL(address).origin;
const context = await browser.newContext();
const page = await context.newPage();
await page.goto(address);
const field = page.getByRole('searchbox', { name: '搜索' });
await field.waitFor();
const queries = ['kalo', 'vector', 'nexdri', '模型', '检索增强', 'ragg', 'zzqx'];
const keyTimes = [];
const typed = [];
for (let round = 0; round < Number(rounds); ++round) {
  for (const query of queries) {
    await field.fill('');
    await field.focus();
    await page.waitForFunction(() => !document.querySelector('ol.results').hasAttribute('aria-busy'));
    for (let i = 1; i <= [...query].length; ++i) {
      const prefix = [...query].slice(0, i).join('');
      const start = performance.now();
      await page.keyboard.type([...query][i - 1]);
      await page.waitForFunction(() => !document.querySelector('ol.results').hasAttribute('aria-busy'));
      keyTimes.push(performance.now() - start);
      typed.push(prefix);
    }
  }
}
await context.close();
await browser.close();

// The service alone, for the same prefixes.
const info = JSON.parse(readFileSync(join(process.env.APPDATA, 'com.corvanta.desktop', 'explain.json'), 'utf8'));
const serviceTimes = [];
for (const prefix of typed) {
  const start = performance.now();
  const response = await fetch(`${origin}/v1/terms?limit=20&q=${encodeURIComponent(prefix)}`, {
    headers: { 'X-Ruvo-Token': info.token },
  });
  await response.json();
  serviceTimes.push(performance.now() - start);
}

console.log(`| on a store of ${Number(terms).toLocaleString('en')} entries | median ms | p95 ms | n |`);
console.log('|---|---|---|---|');
console.log(`| sign-in address to a usable page (fresh browser context) | ${ms(median(loadTimes))} | ${ms(p95(loadTimes))} | ${loadTimes.length} |`);
console.log(`| keystroke to its results on screen (includes the page's 60 ms pause) | ${ms(median(keyTimes))} | ${ms(p95(keyTimes))} | ${keyTimes.length} |`);
console.log(`| GET /v1/terms for the same prefixes, at the service | ${ms(median(serviceTimes))} | ${ms(p95(serviceTimes))} | ${serviceTimes.length} |`);
