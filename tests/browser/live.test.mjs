// Rows at once, the live view, the usage history and logs that follow, in a
// real browser against lighttpd and the fake runtime. Where it matters the
// fake runtime's usage command takes 2 s, as Docker's does, and notes when
// it starts and ends, so the tests see exactly when the page asked for
// figures and whether two lists ever overlapped.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import {
  launchBrowser, listed, openPage, screenshot, settled, sleep, startServer, tableTexts, until,
} from './harness.mjs';

const DASH = '\u2014';
const WEB = { id: '3f2a9c1d7e5b' + '4'.repeat(52), name: 'web', image: 'nginx:1.25-alpine', state: 'running', status: 'Up 2 hours', ports: '0.0.0.0:8080->80/tcp' };
const DB = { id: '9b1e8d7c6a5f' + '5'.repeat(52), name: 'db', image: 'postgres:16', state: 'exited', status: 'Exited (0) 3 hours ago', ports: '' };
const CACHE = { id: '77aa88bb99cc' + '6'.repeat(52), name: 'cache', image: 'redis:7', state: 'running', status: 'Up 1 hour', ports: '6379/tcp' };

function psOut(list) {
  return list.map((c) => [c.id, c.name, c.image, c.state, c.status, c.ports].join('|') + '\n').join('');
}
const statsOut = (rows) => rows.map(([c, cpu, mem]) => `${c.id.slice(0, 12)}|${cpu}|${mem}\n`).join('');

// The usage command as slow as Docker's; it notes its start and end (in ms
// since the epoch) in the record of commands.
const SLOW_STATS = `printf 'stats start %s\\n' "$(date +%s%3N)" >>"$FAKE_RT_RECORD"
sleep 2
[ -f "$dir/stats.out" ] && cat "$dir/stats.out"
printf 'stats end %s\\n' "$(date +%s%3N)" >>"$FAKE_RT_RECORD"
exit 0
`;

const NODE = {
  'ps.out': psOut([WEB, DB, CACHE]),
  'stats.out': statsOut([[WEB, '1.25%', '12.5MiB / 1GiB'], [CACHE, '0.50%', '3MiB / 1GiB']]),
  'logs.out': 'line one\nline two\n',
};
const SLOW = { ...NODE, 'stats.sh': SLOW_STATS };

let browser;
let node;

before(async () => {
  [browser, node] = await Promise.all([launchBrowser(), startServer({ runtime: 'docker' })]);
});

after(async () => {
  await Promise.all([browser?.close(), node?.stop()]);
});

async function open(address, opts = {}) {
  node.setRuntime(opts.files || NODE);
  node.takeRecords();
  const p = await openPage(browser, node, address, opts);
  if (opts.wait !== false) {
    await listed(p.page);
    await settled(p.seen, 8000);
  }
  return p;
}

async function done(p) {
  assert.deepEqual(p.seen.errors, []);
  await p.context.close();
}

const fullLists = (seen) => seen.requests.filter((r) => r.url.includes('action=list') && !r.url.includes('usage=0'));
const quickLists = (seen) => seen.requests.filter((r) => r.url.includes('action=list&usage=0'));
const logRequests = (seen) => seen.requests.filter((r) => r.url.includes('action=logs'));
const cells = (page, col) => page.$$eval('#rows tr', (rows, c) => rows.map((tr) => tr.cells[c].firstChild?.textContent ?? ''), col);
// A row's button by its operation (its accessible name goes on with the
// container's name).
const rowButton = (page, row, op) => page.locator('#rows tr').nth(row).getByRole('button', { name: new RegExp(`^${op} `) });
const toggle = (page, id) => page.$eval(`#${id}`, (b) => [b.textContent, b.getAttribute('aria-pressed')]);

// The usage command's start and end notes, as [start, end] pairs in ms, and
// whether they strictly alternate (no two usage commands ever overlapped).
function usageSpans(records) {
  const notes = records.filter((l) => l.startsWith('stats start ') || l.startsWith('stats end '));
  const spans = [];
  let alternate = true;
  for (const n of notes) {
    const [, kind, t] = n.split(' ');
    if (kind === 'start') {
      if (spans.length && spans.at(-1)[1] === null) alternate = false;
      spans.push([Number(t), null]);
    } else if (!spans.length || spans.at(-1)[1] !== null) alternate = false;
    else spans.at(-1)[1] = Number(t);
  }
  return { spans, alternate };
}

// Waits, outside the page, until fn() holds.
async function waitFor(fn, timeout, what) {
  const deadline = Date.now() + timeout;
  while (!fn()) {
    if (Date.now() > deadline) throw new Error(what);
    await sleep(20);
  }
}

// Makes the page believe it is hidden or shown, as a browser does when its
// tab goes to the background or comes back.
function setVisibility(page, state) {
  return page.evaluate((s) => {
    window.__visibility = s;
    Object.defineProperty(document, 'visibilityState', { configurable: true, get: () => window.__visibility });
    Object.defineProperty(document, 'hidden', { configurable: true, get: () => window.__visibility === 'hidden' });
    document.dispatchEvent(new Event('visibilitychange'));
  }, state);
}

describe('rows at once', () => {
  test('rows come before the usage reply, the figures after it, and focus and scroll stay', async () => {
    const p = await open('/hullmon', { files: SLOW, wait: false, viewport: { width: 1100, height: 420 } });
    const { page, seen } = p;
    await listed(page);
    // The rows are there while the usage command still runs.
    assert.deepEqual((await tableTexts(page)).map((r) => [r[1], r[4], r[5]]),
      [['web', DASH, DASH], ['db', DASH, DASH], ['cache', DASH, DASH]]);
    let records = node.takeRecords();
    assert.equal(records.filter((l) => l.startsWith('stats end')).length, 0, 'the rows did not wait for usage');
    assert.equal(await page.textContent('#note'), '3 container(s) on this node');

    // What the user does meanwhile is left alone when the figures come.
    await page.fill('#q', 'e');
    await rowButton(page, 1, 'start').focus();
    await page.evaluate(() => window.scrollTo(0, 120));
    await until(page, () => document.querySelector('#rows tr td:nth-child(5)').textContent === '1.25%');
    records = node.takeRecords();
    assert.equal(records.filter((l) => l.startsWith('stats end')).length, 1);
    assert.deepEqual((await tableTexts(page)).map((r) => [r[1], r[4], r[5]]),
      [['web', '1.25%', '12.5MiB / 1GiB'], ['db', DASH, DASH], ['cache', '0.50%', '3MiB / 1GiB']]);
    assert.equal(await page.inputValue('#q'), 'e');
    assert.deepEqual(await page.evaluate(() => [document.activeElement.textContent,
      document.activeElement.closest('tr')?.cells[1].textContent, window.scrollY]), ['start', 'db', 120]);
    assert.equal(quickLists(seen).length, 1);
    assert.equal(fullLists(seen).length, 1);

    // On the next refresh the rows keep their last figures until the new
    // ones come, unless the container changed state meanwhile.
    node.setRuntime({
      ...SLOW,
      'ps.out': psOut([WEB, DB, { ...CACHE, state: 'exited', status: 'Exited (0) 1 second ago' }]),
      'stats.out': statsOut([[WEB, '5.00%', '14MiB / 1GiB']]),
    });
    await page.fill('#q', '');
    await page.click('#reloadBtn');
    await until(page, () => document.querySelector('#rows tr:nth-child(3) .state').textContent === 'exited');
    assert.equal(node.takeRecords().filter((l) => l.startsWith('stats end')).length, 0);
    assert.deepEqual((await tableTexts(page)).map((r) => [r[1], r[4], r[5]]),
      [['web', '1.25%', '12.5MiB / 1GiB'], ['db', DASH, DASH], ['cache', DASH, DASH]]);
    await until(page, () => document.querySelector('#rows tr td:nth-child(5)').firstChild.textContent === '5.00%');
    // A slow full list: the refresh asked for the listing alone again.
    assert.equal(quickLists(seen).length, 2);
    await done(p);
  });

  test('where the full list came quickly, a refresh asks for it alone', async () => {
    const p = await open('/hullmon');
    const { page, seen } = p;
    assert.equal(quickLists(seen).length, 1, 'the first load asks both');
    node.takeRecords();
    await Promise.all([page.waitForResponse((r) => r.url().includes('action=list')), page.click('#reloadBtn')]);
    await settled(seen);
    assert.equal(quickLists(seen).length, 1);
    assert.equal(fullLists(seen).length, 2);
    assert.equal(node.takeRecords().length, 2, 'one listing and one usage command');
    await done(p);
  });

  test('a later visit starts as the last one ended: the full list alone where it came quickly, both where not', async () => {
    for (const [files, quick] of [[NODE, 0], [SLOW, 1]]) {
      const p = await open('/hullmon?node=n1', { files });
      const { page, seen } = p;
      assert.equal(quickLists(seen).length, 1, 'the first visit asks both');
      seen.requests.length = 0;
      await page.reload();
      await listed(page);
      await settled(seen, 8000);
      assert.equal(quickLists(seen).length, quick, 'the listing alone on the next visit');
      assert.equal(fullLists(seen).length, 1, 'the full list on the next visit');
      // Another node of the same host knows nothing yet.
      seen.requests.length = 0;
      await page.goto(page.url().replace('node=n1', 'node=n2'));
      await listed(page);
      await settled(seen, 8000);
      assert.equal(quickLists(seen).length, 1, 'another node asks both');
      await done(p);
    }
  });

  test('a listing reply that comes after the full one changes nothing', async () => {
    // The listing alone is held until the full list has been shown.
    let full;
    const shown = new Promise((r) => { full = r; });
    const p = await open('/hullmon', {
      wait: false,
      beforeLoad: (page) => page.route((u) => u.search.includes('usage=0'), async (route) => {
        const response = await route.fetch();
        await shown;
        await route.fulfill({ response });
      }),
    });
    const { page } = p;
    await until(page, () => document.querySelector('#rows tr td:nth-child(5)')?.textContent === '1.25%');
    full();
    await settled(p.seen);
    await sleep(200);
    assert.deepEqual((await tableTexts(page)).map((r) => [r[1], r[4]]), [['web', '1.25%'], ['db', DASH], ['cache', '0.50%']]);
    await done(p);
  });
});

describe('live', () => {
  test('off by default; on, a full list 5 s after the previous one ended, never two at once; remembered', async () => {
    const p = await open('/hullmon', { files: SLOW });
    const { page, seen } = p;
    assert.deepEqual(await toggle(page, 'liveBtn'), ['Live: off', 'false']);
    await sleep(6000);
    assert.equal(fullLists(seen).length, 1, 'no list while live is off');
    node.takeRecords();
    const clicked = Date.now();
    await page.click('#liveBtn');
    assert.deepEqual(await toggle(page, 'liveBtn'), ['Live: on', 'true']);
    assert.equal(await page.evaluate(() => localStorage.getItem('hullmon_live')), '1');
    // The last list ended over 5 s ago, so the first live list starts at once.
    await sleep(15500);
    const { spans, alternate } = usageSpans(node.takeRecords());
    assert.ok(alternate, 'two usage commands overlapped');
    assert.ok(spans.length >= 3 && spans.length <= 4, `${spans.length} lists in 15.5 s`);
    assert.ok(spans[0][0] - clicked < 1500, 'the first live list did not start at once');
    for (let i = 1; i < spans.length; i++) {
      const pause = spans[i][0] - spans[i - 1][1];
      assert.ok(pause >= 4900 && pause <= 6500, `pause of ${pause} ms between two lists`);
    }
    assert.equal(quickLists(seen).length, 1, 'live asks the full list only');

    // The setting survives a reload; off again, it is stored as off.
    await page.reload();
    await listed(page);
    assert.deepEqual(await toggle(page, 'liveBtn'), ['Live: on', 'true']);
    await page.click('#liveBtn');
    assert.deepEqual(await toggle(page, 'liveBtn'), ['Live: off', 'false']);
    assert.equal(await page.evaluate(() => localStorage.getItem('hullmon_live')), '0');
    await done(p);
  });

  test('no lists while the page is hidden; shown again, one at once; a failed list waits 30 s', async () => {
    const p = await open('/hullmon', { storage: { hullmon_live: '1' } });
    const { page, seen } = p;
    assert.deepEqual(await toggle(page, 'liveBtn'), ['Live: on', 'true']);
    await setVisibility(page, 'hidden');
    const before = fullLists(seen).length;
    await sleep(7000);
    assert.equal(fullLists(seen).length, before, 'a list while hidden');
    await setVisibility(page, 'visible');
    await waitFor(() => fullLists(seen).length === before + 1, 1500, 'no list at once when shown again');
    await settled(seen);

    // The next list fails; the one after it waits 30 s, not 5.
    await page.route((u) => u.search.includes('action=list'), (route) => route.abort());
    await sleep(5500);
    await settled(seen);
    assert.equal(fullLists(seen).length, before + 2);
    assert.match(await page.textContent('#note'), /^request failed: /);
    await sleep(7000);
    assert.equal(fullLists(seen).length, before + 2, 'retried sooner than 30 s after a failure');
    await done(p);
  });

  test('the search, the filter, the open log card, the focus and the scroll survive a live refresh', async () => {
    const p = await open('/hullmon', { storage: { hullmon_live: '1' }, viewport: { width: 1100, height: 500 } });
    const { page } = p;
    await page.fill('#q', 'web');
    await page.selectOption('#state', 'running');
    await rowButton(page, 0, 'logs').click();
    await until(page, () => document.getElementById('logBody').textContent === 'line one\nline two\n');
    await page.focus('#q');
    await page.evaluate(() => window.scrollTo(0, 200));
    const scrolled = await page.evaluate(() => window.scrollY);
    assert.ok(scrolled > 0);
    node.setRuntime({ ...NODE, 'stats.out': statsOut([[WEB, '7.50%', '20MiB / 1GiB']]) });
    await until(page, () => document.querySelector('#rows tr td:nth-child(5)')?.firstChild?.textContent === '7.50%');
    assert.deepEqual((await tableTexts(page)).map((r) => r[1]), ['web']);
    assert.deepEqual(await page.evaluate(() => [
      document.getElementById('q').value, document.getElementById('state').value,
      document.getElementById('logCard').classList.contains('hide'), document.getElementById('logBody').textContent,
      document.activeElement.id, window.scrollY]),
    ['web', 'running', false, 'line one\nline two\n', 'q', scrolled]);
    await done(p);
  });
});

describe('usage history', () => {
  test('a sparkline beside CPU and memory after two full lists; a container that leaves loses its history', async () => {
    const p = await open('/hullmon');
    const { page } = p;
    assert.equal(await page.locator('.spark').count(), 0, 'one sample draws no line');
    node.setRuntime({ ...NODE, 'stats.out': statsOut([[WEB, '2.50%', '800KiB / 1GiB'], [CACHE, '--', '--']]) });
    await page.click('#reloadBtn');
    await settled(p.seen);
    await until(page, () => document.querySelectorAll('.spark').length === 2);
    // Only web has two samples: cache's second figures were not numbers.
    const web = page.locator('#rows tr').first();
    assert.deepEqual(await web.locator('.spark title').allTextContents(), [
      'CPU lowest 1.25%, highest 2.5%',
      'memory lowest 800 KiB, highest 12.5 MiB',
    ]);
    assert.deepEqual(await cells(page, 4), ['2.50%', DASH, '--']);
    assert.deepEqual(await web.locator('.spark').evaluateAll((s) => s.map((e) => [
      e.getAttribute('role'), e.getAttribute('aria-label'), e.querySelectorAll('polyline').length,
      getComputedStyle(e.querySelector('polyline')).stroke])), [
      ['img', 'CPU lowest 1.25%, highest 2.5%', 1, 'rgb(10, 132, 255)'],
      ['img', 'memory lowest 800 KiB, highest 12.5 MiB', 1, 'rgb(10, 132, 255)'],
    ]);
    await screenshot(page, 'sparklines-dark');
    await page.evaluate(() => window.qvApplyTheme('light'));
    assert.equal(await web.locator('polyline').first().evaluate((e) => getComputedStyle(e).stroke), 'rgb(0, 122, 255)');
    await screenshot(page, 'sparklines-light');

    // web leaves the list, then comes back: its history starts again.
    node.setRuntime({ ...NODE, 'ps.out': psOut([DB, CACHE]) });
    await page.click('#reloadBtn');
    await settled(p.seen);
    node.setRuntime(NODE);
    await page.click('#reloadBtn');
    await settled(p.seen);
    await until(page, () => document.querySelectorAll('#rows tr').length === 3);
    assert.equal(await page.locator('#rows tr').first().locator('.spark').count(), 0);
    await done(p);
  });

  test('memory units as the runtimes print them', async () => {
    // unit, one sample's used part in it, the history's lowest and highest
    const units = [
      ['B', '2048', '2 KiB', '4 KiB'],
      ['kB', '1', '1000 B', '2 KiB'],
      ['KB', '1', '1000 B', '2 KiB'],
      ['KiB', '1', '1 KiB', '2 KiB'],
      ['MB', '1', '976.6 KiB', '1.9 MiB'],
      ['MiB', '1.5', '1.5 MiB', '3 MiB'],
      ['GB', '1', '953.7 MiB', '1.9 GiB'],
      ['GiB', '1', '1 GiB', '2 GiB'],
      ['TB', '1', '931.3 GiB', '1.8 TiB'],
      ['TiB', '0.5', '512 GiB', '1 TiB'],
    ];
    const list = units.map(([unit], i) => ({ id: `${(i + 10).toString(16).padStart(12, '0')}${'a'.repeat(52)}`, name: `m-${unit}`, image: 'busybox', state: 'running', status: 'Up', ports: '' }));
    const sample = (k) => statsOut(list.map((c, i) => [c, '1%', `${Number(units[i][1]) * k}${units[i][0]} / 8GiB`]));
    const p = await open('/hullmon', { files: { 'ps.out': psOut(list), 'stats.out': sample(1) } });
    const { page } = p;
    node.setRuntime({ 'ps.out': psOut(list), 'stats.out': sample(2) });
    await page.click('#reloadBtn');
    await settled(p.seen);
    await until(page, (n) => document.querySelectorAll('.spark').length === n, 2 * units.length);
    const titles = await page.$$eval('#rows tr td:nth-child(6) .spark title', (els) => els.map((e) => e.textContent));
    assert.deepEqual(titles, units.map(([, , lo, hi]) => `memory lowest ${lo}, highest ${hi}`));
    await done(p);
  });
});

describe('logs that follow', () => {
  const lines = (from, to) => Array.from({ length: to - from }, (_, i) => `line ${from + i}`).join('\n') + '\n';

  test('the card asks again 2 s after each reply and stays at the bottom; closing or switching stops it', async () => {
    const p = await open('/hullmon', { files: { ...NODE, 'logs.out': lines(0, 100) } });
    const { page, seen } = p;
    const logs = () => logRequests(seen).length;
    await rowButton(page, 0, 'logs').click();
    await until(page, () => document.getElementById('logBody').textContent.startsWith('line 0\n'));
    assert.deepEqual(await toggle(page, 'logFollow'), ['Follow: off', 'false']);
    await sleep(2500);
    assert.equal(logs(), 1, 'no following before it is asked for');

    await page.click('#logFollow');
    assert.deepEqual(await toggle(page, 'logFollow'), ['Follow: on', 'true']);
    node.setRuntime({ ...NODE, 'logs.out': lines(50, 150) });
    await until(page, () => document.getElementById('logBody').textContent.startsWith('line 50\n'));
    const atBottom = () => page.$eval('#logBody', (b) => b.scrollTop + b.clientHeight >= b.scrollHeight - 4);
    assert.equal(await atBottom(), true, 'a followed card shows the newest lines');
    const t0 = Date.now();
    const n0 = logs();
    await sleep(4500);
    const asked = logs() - n0;
    assert.ok(asked >= 1 && asked <= 3, `${asked} logs requests in ${Date.now() - t0} ms`);

    // Scrolled up to read, the user stays where they are.
    await page.$eval('#logBody', (b) => { b.scrollTop = 40; });
    node.setRuntime({ ...NODE, 'logs.out': lines(60, 160) });
    await until(page, () => document.getElementById('logBody').textContent.startsWith('line 60\n'));
    assert.equal(await page.$eval('#logBody', (b) => b.scrollTop), 40);

    // Closing stops it.
    await page.click('#logClose');
    assert.deepEqual(await toggle(page, 'logFollow'), ['Follow: off', 'false']);
    await settled(seen);
    const closed = logs();
    await sleep(3000);
    assert.equal(logs(), closed, 'logs asked for a closed card');

    // So does switching to another container.
    await rowButton(page, 0, 'logs').click();
    await page.click('#logFollow');
    await rowButton(page, 1, 'logs').click();
    assert.deepEqual(await toggle(page, 'logFollow'), ['Follow: off', 'false']);
    await settled(seen);
    const switched = logs();
    await sleep(3000);
    assert.equal(logs(), switched);
    assert.equal(await page.textContent('#logTitle'), `Logs ${DASH} db (last 100 lines)`);
    await screenshot(page, 'logs-follow');
    await done(p);
  });
});

describe('everywhere the page works', () => {
  test('framed with embed=1, in the light theme: live, sparklines and following work', async () => {
    fs.writeFileSync(path.join(node.www, 'host-live.html'), `<!DOCTYPE html><html><body style='margin:0'>
<iframe id='f' src='/hullmon?embed=1&theme=light' width='1000' height='800'></iframe></body></html>`);
    const origins = new Set();
    const p = await open('/host-live.html', {
      wait: false,
      storage: { hullmon_live: '1' },
      beforeLoad: (page) => page.on('request', (r) => origins.add(new URL(r.url()).origin)),
    });
    const { page } = p;
    await until(page, () => document.getElementById('f').contentDocument?.getElementById('badge')?.textContent === 'docker');
    const f = page.frame({ url: /\/hullmon\?embed=1/ });
    assert.deepEqual(await f.evaluate(() => [document.documentElement.getAttribute('data-theme'),
      document.getElementById('liveBtn').textContent]), ['light', 'Live: on']);
    // Live brings the second sample; the frame asks nothing outside the host.
    await f.waitForFunction(() => document.querySelectorAll('.spark').length === 4, null, { timeout: 9000 });
    await f.locator('#rows tr').first().getByRole('button', { name: /^logs / }).click();
    await f.click('#logFollow');
    await f.waitForFunction(() => document.getElementById('logBody').textContent === 'line one\nline two\n');
    assert.deepEqual([...origins], [node.origin]);
    await screenshot(page, 'embedded-live-light');
    await done(p);
  });

  test('a window 600px wide: the toolbar and the log card fit, nothing sticks out sideways', async () => {
    const p = await open('/hullmon', { storage: { hullmon_live: '1' }, viewport: { width: 600, height: 900 } });
    const { page } = p;
    await rowButton(page, 0, 'logs').click();
    assert.equal(await page.isVisible('#liveBtn'), true);
    assert.equal(await page.isVisible('#logFollow'), true);
    assert.equal(await page.evaluate(() => document.documentElement.scrollWidth <= 600), true);
    await screenshot(page, 'narrow-live');
    await done(p);
  });
});
