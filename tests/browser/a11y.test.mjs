// The dashboard page for people who do not see it as its designers do:
// axe-core's checks in Chromium, in both themes, alone and framed by a host
// page, wide and narrow, with the log card closed and open, in the normal
// palette and with more contrast asked for; and every control worked from
// the keyboard alone.
//
// axe-core is a test dependency only (package.json): the test injects it
// into the page, which itself fetches nothing but the program's actions.

import assert from 'node:assert/strict';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import path from 'node:path';
import { after, before, describe, test } from 'node:test';
import {
  launchBrowser, listed, openPage, screenshot, startServer, until,
} from './harness.mjs';

let AXE;
try {
  AXE = fs.readFileSync(createRequire(import.meta.url).resolve('axe-core/axe.min.js'), 'utf8');
} catch {
  console.log('# SKIP axe-core is missing (tests/browser/setup.sh installs it)');
  process.exit(77);
}

// One container in every state the page colours, so each badge colour is
// checked; only web runs and has usage figures.
const CONTAINERS = [
  ['3f2a9c1d7e5b', 'web', 'nginx:1.25-alpine', 'running', 'Up 2 hours', '0.0.0.0:8080->80/tcp'],
  ['9b1e8d7c6a5f', 'db', 'postgres:16', 'exited', 'Exited (0) 3 hours ago', ''],
  ['5e5e5e5e5e5e', '', 'redis:7', 'paused', 'Up 1 hour (Paused)', '6379/tcp'],
  ['c0ffee00c0ff', 'job', 'busybox:latest', 'created', 'Created', ''],
  ['d00d00d00d00', 'flap', 'busybox:latest', 'restarting', 'Restarting (1) 2 seconds ago', ''],
  ['deadbeefdead', 'gone', 'busybox:latest', 'dead', 'Dead', ''],
].map(([id, ...rest]) => [id + '0'.repeat(52), ...rest]);
// Enough log lines that the log view scrolls.
const LOG_LINES = Array.from({ length: 150 }, (_, i) => `line ${i + 1} of the log`);
const NODE = {
  'ps.out': CONTAINERS.map((c) => c.join('|') + '\n').join(''),
  'stats.out': '3f2a9c1d7e5b|1.25%|12.5MiB / 1GiB\n',
  'logs.out': LOG_LINES.join('\n') + '\n',
};
// The listing fails: the badge and the note show their failure colours and
// the empty-table message stands in for the rows.
const DOWN = { 'ps.out': 'Cannot connect to the Docker daemon.\n', 'ps.exit': '1' };

// A host that frames the page as the dashboard does, and answers the page's
// theme request with the theme named in its own address.
const HOST = `<!DOCTYPE html><html lang='en'><head><meta charset='utf-8'><title>Kelm</title>
<meta name='viewport' content='width=device-width,initial-scale=1'>
<style>body{margin:0}iframe{border:0;width:100%;height:900px;display:block}</style></head>
<body><main><script>
var theme = new URLSearchParams(location.search).get('theme');
addEventListener('message', function (e) {
  if (e.data && e.data.type === 'qv-theme-request') e.source.postMessage({ type: 'qv-theme', theme: theme }, '*');
});
document.write("<iframe id='f' title='docker' src='/hullmon?embed=1&theme=" + theme + "'></iframe>");
</script></main></body></html>`;

const WIDE = { width: 1100, height: 900 };
const NARROW = { width: 600, height: 900 };

let browser;
let node;

before(async () => {
  [browser, node] = await Promise.all([launchBrowser(), startServer({ runtime: 'docker' })]);
  fs.writeFileSync(path.join(node.www, 'host.html'), HOST);
});

after(async () => {
  await Promise.all([browser?.close(), node?.stop()]);
});

// Opens the page, alone or framed, and waits for its first list. Returns the
// frame that holds the dashboard and every address the browser asked for.
async function open({ theme, framed = false, viewport = WIDE, contrast = 'no-preference', files = NODE }) {
  node.setRuntime(files);
  const fetched = [];
  const p = await openPage(browser, node, framed ? `/host.html?theme=${theme}` : `/hullmon?theme=${theme}`, {
    viewport,
    colorScheme: theme,
    beforeLoad: async (page) => {
      page.on('request', (r) => fetched.push(r.url()));
      await page.emulateMedia({ contrast });
    },
  });
  let frame = p.page.mainFrame();
  if (framed) {
    await until(p.page, () => {
      const badge = document.getElementById('f').contentDocument?.getElementById('badge');
      return badge && badge.textContent !== 'connecting';
    });
    frame = p.page.frame({ url: /\/hullmon\?embed=1/ });
  }
  await listed(frame);
  await until(frame, (t) => document.documentElement.getAttribute('data-theme') === t, theme);
  return { ...p, frame, fetched };
}

async function close(p) {
  assert.deepEqual(p.seen.errors, []);
  await p.context.close();
}

// axe-core's violations in the frame, each as its rule, its impact and the
// number of nodes it found.
async function violations(frame) {
  if (!(await frame.evaluate(() => typeof window.axe === 'object'))) await frame.evaluate(AXE);
  const found = await frame.evaluate(() => window.axe.run(document, { resultTypes: ['violations'] }));
  return found.violations.map((v) => ({
    id: v.id, impact: v.impact, nodes: v.nodes.length, first: v.nodes[0]?.target.join(' '),
  }));
}

async function openLogs(frame) {
  await frame.locator('#rows tr').first().locator('button', { hasText: /^logs$/ }).click();
  await until(frame, () => document.getElementById('logBody').textContent.startsWith('line 1 '));
}

describe('axe-core finds nothing serious', () => {
  const places = [
    { where: 'alone', framed: false, viewport: WIDE },
    { where: 'alone, narrow', framed: false, viewport: NARROW },
    { where: 'framed', framed: true, viewport: WIDE },
    { where: 'framed, narrow', framed: true, viewport: NARROW },
  ];
  const palettes = [
    // Contrast asked for; which violations are allowed. The normal palette
    // is the dashboard's own look, whose colours do not all reach AA.
    { contrast: 'no-preference', allowed: (v) => v.id === 'color-contrast' || !['critical', 'serious'].includes(v.impact) },
    { contrast: 'more', allowed: () => false },
  ];
  for (const { contrast, allowed } of palettes) {
    for (const theme of ['dark', 'light']) {
      for (const { where, framed, viewport } of places) {
        test(`${theme}, ${where}, contrast ${contrast}`, async () => {
          const p = await open({ theme, framed, viewport, contrast });
          const closed = await violations(p.frame);
          await openLogs(p.frame);
          const opened = await violations(p.frame);
          for (const [card, found] of [['log card closed', closed], ['log card open', opened]]) {
            const contrastNodes = found.find((v) => v.id === 'color-contrast')?.nodes ?? 0;
            console.log(`# ${theme}, ${where}, contrast ${contrast}, ${card}: ${contrastNodes} color-contrast nodes`);
            assert.deepEqual(found.filter((v) => !allowed(v)), [], card);
          }
          if (contrast === 'more' && !framed) await screenshot(p.page, `a11y-${theme}-more${viewport === NARROW ? '-narrow' : ''}`);
          // The page asked for nothing but itself and the program's actions.
          const own = framed ? ['/host.html', '/hullmon'] : ['/hullmon'];
          for (const u of p.fetched) {
            const { origin, pathname } = new URL(u);
            assert.ok(origin === node.origin && own.includes(pathname), `fetched ${u}`);
          }
          await close(p);
        });
      }
    }
  }

  for (const theme of ['dark', 'light']) {
    test(`${theme}, a failed listing, contrast more`, async () => {
      const p = await open({ theme, contrast: 'more', files: DOWN });
      assert.equal(await p.frame.textContent('#badge'), 'daemon down');
      assert.deepEqual(await violations(p.frame), []);
      await close(p);
    });
  }
});

// WCAG's contrast ratio of two colours given as CSS rgb() texts.
function contrastRatio(a, b) {
  const lum = (css) => {
    const [r, g, bl] = css.match(/[\d.]+/g).slice(0, 3).map((v) => {
      const c = Number(v) / 255;
      return c <= 0.04045 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
    });
    return 0.2126 * r + 0.7152 * g + 0.0722 * bl;
  };
  const [hi, lo] = [lum(a), lum(b)].sort((x, y) => y - x);
  return (hi + 0.05) / (lo + 0.05);
}

describe('toggles and sparklines with more contrast', () => {
  // A pressed and an unpressed toggle in the toolbar and a sparkline in a
  // CPU cell, made as the page makes them, take their colours from the
  // palette: axe-core checks the toggles' text, and the line stands out
  // from its card by at least 3:1.
  for (const theme of ['dark', 'light']) {
    test(theme, async () => {
      const p = await open({ theme, contrast: 'more' });
      const { page } = p;
      const got = await page.evaluate(() => {
        const top = document.getElementById('reloadBtn').parentNode;
        for (const pressed of ['true', 'false']) {
          const b = document.createElement('button');
          b.type = 'button';
          // A toggle may mark its state by a class of its own as well.
          b.className = pressed === 'true' ? 'ghost on' : 'ghost';
          b.setAttribute('aria-pressed', pressed);
          b.textContent = pressed === 'true' ? 'Live: on' : 'Live: off';
          top.insertBefore(b, document.getElementById('reloadBtn'));
        }
        const cell = document.querySelector('#rows tr').cells[4];
        cell.insertAdjacentHTML('beforeend', "<svg class='spark' width='60' height='16' viewBox='0 0 60 16' role='img'>"
          + "<title>CPU 0.5% to 1.25%</title><polyline points='0,12 30,4 60,8' fill='none'/></svg>");
        const toggles = [...top.querySelectorAll('button[aria-pressed]')].map((b) => getComputedStyle(b).backgroundColor);
        return {
          toggles,
          line: getComputedStyle(cell.querySelector('polyline')).stroke,
          card: getComputedStyle(cell.closest('.card')).backgroundColor,
        };
      });
      assert.notEqual(got.toggles[0], got.toggles[1], 'a pressed toggle looks pressed');
      assert.ok(contrastRatio(got.line, got.card) >= 3, `sparkline ${got.line} on ${got.card}`);
      assert.deepEqual(await violations(page.mainFrame()), []);
      await close(p);
    });
  }
});

describe('keyboard alone', () => {
  test('Tab reaches every control with a focus ring; Enter, Space and the arrows work them', async () => {
    const p = await open({ theme: 'dark' });
    const { page, seen } = p;
    // The focused element's name (its label, else its id, else its text) and
    // whether a focus ring of at least 2px is drawn around it. Past the last
    // control, and when the focused control left the page, the page itself
    // has focus.
    const focused = () => page.evaluate(() => {
      const e = document.activeElement;
      if (e === document.body) return { name: '(page)', ring: true };
      const s = getComputedStyle(e);
      return {
        name: e.getAttribute('aria-label') || e.id || e.textContent.trim(),
        ring: e.matches(':focus-visible') && s.outlineStyle !== 'none' && parseFloat(s.outlineWidth) >= 2,
      };
    });
    // Presses Tab (or Shift+Tab) until `name` has focus; returns the names
    // passed on the way, the last one included.
    async function tabTo(name, key = 'Tab') {
      const passed = [];
      for (let i = 0; i < 40; i++) {
        await page.keyboard.press(key);
        const f = await focused();
        assert.ok(f.ring, `focus ring on ${f.name}`);
        passed.push(f.name);
        if (f.name === name) return passed;
      }
      assert.fail(`${name} never took focus; passed ${passed.join(', ')}`);
    }
    const logs = () => seen.requests.filter((r) => r.url.includes('action=logs')).length;
    const listCount = () => seen.requests.filter((r) => r.url.includes('action=list')).length;
    const cardHidden = () => page.$eval('#logCard', (e) => e.classList.contains('hide'));

    assert.deepEqual(await tabTo('logs web'), ['\u2190 Back to Kelm', 'themeBtn', 'liveBtn', 'Refresh containers',
      'search containers', 'filter by state', 'Apply filter and refresh containers', 'stop web', 'restart web', 'logs web']);
    await screenshot(page, 'a11y-focus-ring');
    await page.keyboard.press('Enter');
    await until(page, () => document.getElementById('logBody').textContent.startsWith('line 1 '));
    assert.equal(await cardHidden(), false);

    // The log view comes after the rows, and scrolls from the keyboard.
    assert.deepEqual(await tabTo('logBody'), ['start db', 'logs db', 'start 5e5e5e5e5e5e', 'logs 5e5e5e5e5e5e',
      'start job', 'logs job', 'start flap', 'logs flap', 'start gone', 'logs gone', 'logBody']);
    await page.keyboard.press('End');
    await until(page, () => document.getElementById('logBody').scrollTop > 0);
    assert.deepEqual(await tabTo('Reload logs'), ['logFollow', 'Reload logs']);
    await Promise.all([page.waitForResponse((r) => r.url().includes('action=logs')), page.keyboard.press('Space')]);
    assert.equal(logs(), 2);
    assert.deepEqual(await tabTo('Close logs'), ['Close logs']);
    await page.keyboard.press('Enter');
    assert.equal(await cardHidden(), true);
    assert.deepEqual(await focused(), { name: 'logs web', ring: true }, 'focus is back where the logs were opened');

    seen.confirm = true;
    assert.deepEqual(await tabTo('stop web', 'Shift+Tab'), ['restart web', 'stop web']);
    await page.keyboard.press('Enter');
    await until(page, () => window.__notes.includes('stop web ok'));
    assert.deepEqual(seen.dialogs, [{ type: 'confirm', message: 'stop web?' }]);

    await tabTo('themeBtn');
    await page.keyboard.press('Space');
    assert.equal(await page.getAttribute('html', 'data-theme'), 'light');

    const names = () => page.$$eval('#rows tr', (rows) => rows.map((tr) => tr.cells[1].textContent));
    await tabTo('filter by state');
    await page.keyboard.press('ArrowDown');
    assert.equal(await page.inputValue('#state'), 'running');
    assert.deepEqual(await names(), ['web']);
    await tabTo('search containers', 'Shift+Tab');
    const before = listCount();
    await page.keyboard.type('nothing like it');
    assert.deepEqual(await names(), []);
    await page.keyboard.press('Enter');
    await until(page, (n) => window.__notes.length > n, (await page.evaluate(() => window.__notes.length)));
    assert.ok(listCount() > before, 'Enter asks for the list again');
    await close(p);
  });
});
