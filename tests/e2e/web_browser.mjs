// Drives Debian's chromium through playwright-core against a running
// `korvex --headless` with its web view, as a person would: the login, the
// overview changing with the next result, the trend of a day, the report
// and its CSV and PDF downloads, the events and the audit page. Prints one line per
// finding ("OVERVIEW ...", "CSV <path>", ...) for the GoogleTest that runs
// it; exits non-zero with the reason on the first failure.
//
//   KORVEX_URL=http://127.0.0.1:N/ KORVEX_PASSWORD=... KORVEX_ID=... KORVEX_REPORT_DAY=YYYY-MM-DD
//   KORVEX_OUT=DIR KORVEX_WEB_DIR=<repo>/web node web_browser.mjs
import { createRequire } from 'node:module';
import fs from 'node:fs';
import path from 'node:path';

const require = createRequire(path.join(process.env.KORVEX_WEB_DIR, 'package.json'));
const { chromium } = require('playwright-core');

const base = process.env.KORVEX_URL.replace(/\/$/, '');
const out = process.env.KORVEX_OUT;
const id = process.env.KORVEX_ID;
const say = (line) => console.log(line);
const fail = (why) => { throw new Error(why); };

// Playwright gives every launch a fresh, empty profile directory of its own.
const browser = await chromium.launch({
  executablePath: process.env.KORVEX_CHROMIUM || '/usr/bin/chromium',
  headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
});
try {
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 }, locale: 'ru-RU', acceptDownloads: true });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });

  // Without a login every address leads to the login page, and the data answers 401.
  for (const p of ['/', '/analyzer?id=' + id, '/reports', '/events', '/audit']) {
    await page.goto(base + p);
    if (new URL(page.url()).pathname !== '/login') fail(`${p} reached without a login: ${page.url()}`);
  }
  for (const p of ['/api/overview', '/api/analyzers', '/assets/overview.js']) {
    const r = await page.request.get(base + p, { maxRedirects: 0 });
    if (r.status() !== 401 && r.status() !== 303) fail(`${p} answered ${r.status()} without a login`);
  }
  say('NOLOGIN ok');
  await page.screenshot({ path: path.join(out, 'web-login.png') });

  // A wrong password fails.
  await page.fill('input[name=password]', 'not-the-password');
  const [wrong] = await Promise.all([page.waitForNavigation(), page.click('button[type=submit]')]);
  if (wrong.status() !== 401) fail(`a wrong password answered ${wrong.status()}`);
  if (!(await page.textContent('.error')).includes('Неверный пароль')) fail('no message for a wrong password');
  if ((await context.cookies()).some((c) => c.name === 'korvex_session')) fail('a cookie after a wrong password');
  say('WRONG ok');

  // The right one opens the overview.
  await page.fill('input[name=password]', process.env.KORVEX_PASSWORD);
  await Promise.all([page.waitForNavigation(), page.click('button[type=submit]')]);
  if (new URL(page.url()).pathname !== '/') fail(`after the login: ${page.url()}`);
  const cookie = (await context.cookies()).find((c) => c.name === 'korvex_session');
  if (!cookie || !cookie.httpOnly || cookie.sameSite !== 'Strict') fail('the session cookie is not HttpOnly and SameSite=Strict');
  // From here on no page may log an error (the login page's 401 for the wrong password was one).
  errors.length = 0;

  // The overview shows the simulator's result, then the next one.
  const card = page.locator(`#a-${id}`);
  await card.locator('[data-ch=Tg] .v').waitFor({ timeout: 15000 });
  // One evaluation reads the card at once: a result arriving between separate
  // reads would pair one result's number with the next one's values.
  const read = () => page.evaluate((cardId) => {
    const c = document.querySelector(`#a-${cardId}`);
    const v = (ch) => c.querySelector(`[data-ch=${ch}] .v`).textContent;
    return { seq: c.dataset.seq, tg: v('Tg'), o2: v('O2') };
  }, id);
  const first = await read();
  say(`OVERVIEW seq=${first.seq} Tg=${first.tg} O2=${first.o2}`);
  await page.waitForFunction((s) => {
    const c = document.querySelector(`#a-${s.id}`);
    return c && c.dataset.seq && Number(c.dataset.seq) > Number(s.seq);
  }, { id, seq: first.seq }, { timeout: 15000 });
  const next = await read();
  say(`OVERVIEW seq=${next.seq} Tg=${next.tg} O2=${next.o2}`);
  await page.screenshot({ path: path.join(out, 'web-overview.png'), fullPage: true });

  // The trend of the day draws (points reduced on the server).
  await page.goto(`${base}/analyzer?id=${encodeURIComponent(id)}`);
  await page.waitForFunction(() => document.querySelector('#chart')?.dataset.drawn, null, { timeout: 20000 });
  const points = Number(await page.getAttribute('#chart', 'data-points'));
  const canvases = await page.locator('#chart canvas').count();
  if (!canvases) fail('no chart drawn');
  say(`TREND points=${points}`);
  await page.locator('#day tbody tr').first().waitFor({ timeout: 10000 });
  await page.screenshot({ path: path.join(out, 'web-analyzer.png'), fullPage: true });

  // The report of the generated day, and its CSV as a download.
  await page.goto(`${base}/reports?id=${encodeURIComponent(id)}&date=${process.env.KORVEX_REPORT_DAY}`);
  await page.waitForFunction((d) => document.querySelector('#report')?.dataset.loaded === `day ${d}`, process.env.KORVEX_REPORT_DAY, { timeout: 20000 });
  const rows = await page.locator('#report tbody tr').count();
  say(`REPORT rows=${rows}`);
  await page.screenshot({ path: path.join(out, 'web-report.png') });
  const [download] = await Promise.all([page.waitForEvent('download'), page.click('#csv')]);
  const csv = path.join(out, download.suggestedFilename());
  await download.saveAs(csv);
  say(`CSV ${csv}`);
  const [pdfDownload] = await Promise.all([page.waitForEvent('download', { timeout: 60000 }), page.click('#pdf')]);
  const pdf = path.join(out, pdfDownload.suggestedFilename());
  await pdfDownload.saveAs(pdf);
  say(`PDF ${pdf}`);
  await page.selectOption('#period', 'month');
  await page.waitForFunction(() => document.querySelector('#report')?.dataset.loaded?.startsWith('month'), null, { timeout: 20000 });
  await page.screenshot({ path: path.join(out, 'web-report-month.png') });

  await page.goto(`${base}/events?id=${encodeURIComponent(id)}`);
  await page.locator('#events tbody tr').first().waitFor({ timeout: 10000 });
  say(`EVENTS rows=${await page.locator('#events tbody tr').count()}`);
  await page.screenshot({ path: path.join(out, 'web-events.png') });

  // The program's own audit trail: its start is in it.
  await page.goto(`${base}/audit`);
  await page.locator('#audit:not([hidden]) tbody tr').first().waitFor({ timeout: 10000 });
  const actions = await page.locator('#audit tbody tr td:nth-child(3)').allTextContents();
  say(`AUDIT rows=${actions.length} started=${actions.includes('Запуск программы')}`);
  await page.screenshot({ path: path.join(out, 'web-audit.png') });

  // On a phone.
  const phone = await browser.newContext({ viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true, locale: 'ru-RU' });
  await phone.addCookies([cookie]);
  const small = await phone.newPage();
  await small.goto(base + '/');
  await small.locator(`#a-${id} [data-ch=Tg] .v`).waitFor({ timeout: 15000 });
  await small.screenshot({ path: path.join(out, 'web-overview-phone.png'), fullPage: true });
  await phone.close();

  // Logging out closes everything again.
  await page.goto(base + '/logout');
  if (new URL(page.url()).pathname !== '/login') fail('logout did not lead to the login page');
  const after = await page.request.get(base + '/api/overview');
  if (after.status() !== 401) fail(`after logout /api/overview answered ${after.status()}`);
  if (errors.length) fail('errors in the pages: ' + errors.join(' | '));
  say('DONE');
} finally {
  await browser.close();
}
