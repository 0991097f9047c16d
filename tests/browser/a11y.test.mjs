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
