// The browser's side of bench/web_view.cpp: Debian's chromium through
// playwright-core against the web view it started. Prints one JSON line of figures.
//   KORVEX_URL=... KORVEX_ID=... KORVEX_WEB_DIR=<repo>/web KORVEX_OUT=DIR KORVEX_LIVE_SECONDS=20 node web_view.mjs
import { createRequire } from 'node:module';
import fs from 'node:fs';
import path from 'node:path';

const require = createRequire(path.join(process.env.KORVEX_WEB_DIR, 'package.json'));
const { chromium } = require('playwright-core');
const base = process.env.KORVEX_URL.replace(/\/$/, '');
const out = process.env.KORVEX_OUT;
// Playwright gives every launch a fresh, empty profile directory of its own.
const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium', headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
});
const figures = {};
try {
  const context = await browser.newContext({ viewport: { width: 1600, height: 900 } });
  // Marks the moment the page holds what it is for, whatever the page does to get there.
  await context.addInitScript(() => {
    const mark = () => {
      const cards = document.querySelectorAll('.card [data-ch=Tg]').length;
      if (cards >= 8 && !window.__cardsAt) window.__cardsAt = performance.now();
      const chart = document.querySelector('#chart');
      if (chart && chart.dataset.drawn && !window.__drawnAt) window.__drawnAt = performance.now();
    };
    new MutationObserver(mark).observe(document, { subtree: true, childList: true, attributes: true });
    window.__latencies = [];
    new MutationObserver((changes) => {
      for (const c of changes) {
        if (c.type === 'childList') for (const n of c.addedNodes) if (n.classList && n.classList.contains('card') && n.dataset.time) window.__latencies.push(Date.now() - Number(n.dataset.time));
      }
    }).observe(document, { subtree: true, childList: true });
  });
  const page = await context.newPage();
  // Overview: the first load warms the server and the browser's cache; then five measured loads.
  await page.goto(base + '/');
  await page.waitForFunction(() => window.__cardsAt);
  const paints = [];
  for (let i = 0; i < 5; ++i) {
    await page.goto(base + '/');
    await page.waitForFunction(() => window.__cardsAt);
    paints.push(await page.evaluate(() => window.__cardsAt));
  }
  paints.sort((a, b) => a - b);
  figures.overviewCardsMs = { median: paints[2], max: paints[4] };
  const fcp = await page.evaluate(() => performance.getEntriesByName('first-contentful-paint')[0]?.startTime ?? null);
  figures.overviewFirstContentfulPaintMs = fcp;
  // Live: how long after a result was handed over its card shows it.
  await page.evaluate(() => { window.__latencies = []; });
  await page.waitForTimeout(Number(process.env.KORVEX_LIVE_SECONDS || 20) * 1000);
  const lat = (await page.evaluate(() => window.__latencies)).sort((a, b) => a - b);
  figures.liveLatencyMs = { count: lat.length, median: lat[Math.floor(lat.length / 2)], p99: lat[Math.floor(lat.length * 0.99)], max: lat[lat.length - 1] };
  await page.screenshot({ path: path.join(out, 'bench-overview.png') });

  // A day's trend of the twelve channels.
  await page.evaluate(() => localStorage.setItem('korvex-channels', 'Tg,O2,CO,NO,NO2,SO2,H2S,CO2,NOx,Qa,Alf,Ta'));
  const trendBytes = [];
  page.on('requestfinished', async (request) => {
    if (!request.url().includes('/api/trend')) return;
    const sizes = await request.sizes();
    const response = await request.response();
    const timing = response ? (await response.allHeaders())['server-timing'] : '';
    trendBytes.push({ body: sizes.responseBodySize, headers: sizes.responseHeadersSize, server: Number((timing || '').split('dur=')[1] || 0) });
  });
  const drawn = [];
  figures.trendParts = [];
  // The first load warms the server (its settled results are kept) and the browser's cache.
  for (let i = 0; i < 4; ++i) {
    await page.goto(`${base}/analyzer?id=${encodeURIComponent(process.env.KORVEX_ID)}`);
    await page.waitForFunction(() => window.__drawnAt, null, { timeout: 30000 });
    const at = await page.evaluate(() => window.__drawnAt);
    if (i > 0) drawn.push(at);
    figures.trendParts.push(await page.evaluate(() => ({
      domContentLoaded: Math.round(performance.getEntriesByType('navigation')[0].domContentLoadedEventEnd),
      fetchAndDraw: Number(document.querySelector('#chart').dataset.ms),
    })));
  }
  drawn.sort((a, b) => a - b);
  figures.trendDrawnMs = { median: drawn[1], max: drawn[2] };
  figures.trendPoints = Number(await page.getAttribute('#chart', 'data-points'));
  figures.trendBytes = trendBytes.length ? trendBytes[trendBytes.length - 1].body + trendBytes[trendBytes.length - 1].headers : null;
  figures.trendServerMs = trendBytes.map((t) => t.server);
  await page.screenshot({ path: path.join(out, 'bench-trend.png') });
} finally {
  await browser.close();
}
console.log('FIGURES ' + JSON.stringify(figures));
