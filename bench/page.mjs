// The dashboard page in headless Chromium through lighttpd, the page as it
// is beside the page as it was before (bench/page.sh builds that program):
//   - on each engine given (the podman sandbox, the sandbox's Docker Engine):
//     the time from navigation to the first table row and to the first CPU
//     figure, both pages in the same rounds, in alternating order, each
//     navigation in a fresh browser context; and the engine's listing
//     command alone, for the Docker target;
//   - with 5,000 containers from the fake runtime: the time from the list
//     reply that brings the rows to the drawn table, and from a keystroke in
//     the search box to the filtered table.
// Prints Markdown tables. Environment (bench/page.sh sets it):
//   PAGE_NOW, PAGE_BEFORE   the two hullmon programs;
//   FAKE_RUNTIME            tests/fixtures/fake_runtime;
//   PODMAN_BIN              the sandbox's podman wrapper (empty: no podman rows);
//   DOCKER_CLIENT, DOCKER_HOST  the docker client and the sandbox's engine
//                           (empty DOCKER_HOST: no Docker rows);
//   PAGE_ROUNDS             navigations per page and engine (default 10);
//   CHROMIUM_BIN, LIGHTTPD_BIN  as the browser tests take them.

import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';

// playwright-core is the browser tests' own package (tests/browser/package.json).
const { chromium } = createRequire(new URL('../tests/browser/package.json', import.meta.url))('playwright-core');

const CHROMIUM = process.env.CHROMIUM_BIN || '/usr/bin/chromium';
const LIGHTTPD = process.env.LIGHTTPD_BIN || '/usr/sbin/lighttpd';
const ROUNDS = Number(process.env.PAGE_ROUNDS || 10);
const NOW = path.resolve(process.env.PAGE_NOW);
const BEFORE = path.resolve(process.env.PAGE_BEFORE);
const FAKE = path.resolve(process.env.FAKE_RUNTIME);
const say = (s) => process.stderr.write(`bench: ${s}\n`);

const median = (a) => {
  const s = [...a].sort((x, y) => x - y);
  const m = s.length >> 1;
  return s.length % 2 ? s[m] : (s[m - 1] + s[m]) / 2;
};
const ms = (v) => v.toFixed(1);

async function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.once('error', reject);
    s.listen(0, '127.0.0.1', () => { const { port } = s.address(); s.close(() => resolve(port)); });
  });
}

// One lighttpd serving the page as it is at /hullmon and the page as it was
// at /hullmon-before. The page before asks /hullmon for its list; the list
// it asks for (no usage parameter) is answered as the program before
// answered it.
const servers = [];
process.on('exit', () => { for (const s of servers) s.child.kill('SIGTERM'); });
async function startServer(env) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'hullmon-pagebench-'));
  const www = path.join(dir, 'www');
  fs.mkdirSync(www);
  fs.symlinkSync(NOW, path.join(www, 'hullmon'));
  fs.symlinkSync(BEFORE, path.join(www, 'hullmon-before'));
  const port = await freePort();
  const q = (s) => JSON.stringify(String(s));
  fs.writeFileSync(path.join(dir, 'lighttpd.conf'), [
    `server.document-root = ${q(www)}`,
    'server.bind = "127.0.0.1"',
    `server.port = ${port}`,
    `server.errorlog = ${q(path.join(dir, 'error.log'))}`,
    'server.modules = ( "mod_setenv", "mod_cgi" )',
    `setenv.add-environment = ( ${Object.entries(env).map(([k, v]) => `${q(k)} => ${q(v)}`).join(', ')} )`,
    '$HTTP["url"] =~ "^/hullmon(-before)?$" { cgi.assign = ( "" => "" ) }',
    '',
  ].join('\n'));
  const child = spawn(LIGHTTPD, ['-D', '-f', path.join(dir, 'lighttpd.conf')], { stdio: 'ignore' });
  const server = { child, dir, origin: `http://127.0.0.1:${port}` };
  servers.push(server);
  for (let i = 0; ; i++) {
    const up = await new Promise((r) => {
      const s = net.connect(port, '127.0.0.1');
      s.once('connect', () => { s.destroy(); r(true); });
      s.once('error', () => r(false));
    });
    if (up) break;
    if (i > 200 || child.exitCode !== null) throw new Error('lighttpd did not start');
    await new Promise((r) => setTimeout(r, 25));
  }
  return server;
}
async function stopServer(s) {
  const gone = new Promise((r) => s.child.once('exit', r));
  s.child.kill('SIGTERM');
  await gone;
  servers.splice(servers.indexOf(s), 1);
  fs.rmSync(s.dir, { recursive: true, force: true });
}

// Notes, in the page's own clock (ms since navigation start), when the first
// row and the first CPU figure are in the table.
const WATCH = () => {
  window.__marks = {};
  new MutationObserver(() => {
    const m = window.__marks;
    const tb = document.getElementById('rows');
    if (!tb) return;
    if (m.row === undefined && tb.rows.length) m.row = performance.now();
    if (m.cpu === undefined) {
      for (const tr of tb.rows) {
        const t = tr.cells[4] && tr.cells[4].textContent.trim();
        if (t && /^[0-9.]+%/.test(t)) { m.cpu = performance.now(); break; }
      }
    }
  }).observe(document, { childList: true, subtree: true, characterData: true });
};

// again: the page was visited once before in the same browser (what it
// keeps in local storage is there), and the second visit is measured.
async function navigate(browser, url, { again = false } = {}) {
  const context = await browser.newContext({ viewport: { width: 1100, height: 900 } });
  await context.addInitScript(WATCH);
  const page = await context.newPage();
  const shown = () => page.waitForFunction(() => window.__marks.row !== undefined && window.__marks.cpu !== undefined,
    null, { timeout: 20000, polling: 50 });
  await page.goto(url);
  if (again) {
    await shown();
    await page.waitForLoadState('networkidle');
    await page.goto(url);
  }
  await shown();
  const r = await page.evaluate(() => ({
    ...window.__marks,
    load: performance.getEntriesByType('navigation')[0].loadEventEnd,
  }));
  await context.close();
  return r;
}

function timeCommand(argv, env, runs) {
  const t = [];
  for (let i = 0; i < runs; i++) {
    const t0 = process.hrtime.bigint();
    execFileSync(argv[0], argv.slice(1), { env: { ...process.env, ...env }, stdio: 'ignore' });
    t.push(Number(process.hrtime.bigint() - t0) / 1e6);
  }
  return median(t);
}

const PS_FORMAT = '{{.ID}}|{{.Names}}|{{.Image}}|{{.State}}|{{.Status}}|{{.Ports}}';

async function engineRows(browser, name, env, client, clientEnv) {
  say(`page on ${name}: ${ROUNDS} rounds`);
  const server = await startServer(env);
  const got = { now: [], before: [], again: [] };
  await navigate(browser, `${server.origin}/hullmon`); // warm the engine and the caches
  const kinds = ['now', 'before', 'again'];
  for (let r = 0; r < ROUNDS; r++) {
    const order = kinds.map((_, i) => kinds[(i + r) % kinds.length]);
    for (const which of order) {
      got[which].push(await navigate(browser, `${server.origin}/${which === 'before' ? 'hullmon-before' : 'hullmon'}`,
        { again: which === 'again' }));
    }
  }
  await stopServer(server);
  const ps = timeCommand([client, 'ps', '-a', '--format', PS_FORMAT], clientEnv, ROUNDS);
  const fig = (which, k) => median(got[which].map((x) => x[k]));
  return {
    name,
    ps,
    load: fig('now', 'load'),
    row: { now: fig('now', 'row'), before: fig('before', 'row'), again: fig('again', 'row') },
    cpu: { now: fig('now', 'cpu'), before: fig('before', 'cpu'), again: fig('again', 'cpu') },
  };
}

// 5,000 containers from the fake runtime, as bench/run.sh makes them.
function manyRows(n) {
  const states = ['running', 'exited', 'paused', 'created'];
  const status = { running: 'Up 3 hours', exited: 'Exited (0) 5 minutes ago', paused: 'Up 3 hours (Paused)', created: 'Created' };
  let ps = '';
  let stats = '';
  for (let i = 0; i < n; i++) {
    const id = (0x100000 + i * 7919).toString(16).padStart(12, '0');
    const st = states[i % 4];
    ps += `${id}|svc-${String(i).padStart(4, '0')}|registry.example/team/app-${i % 17}:1.${i % 5}|${st}|${status[st]}|0.0.0.0:${8000 + i}->80/tcp, [::]:${8000 + i}->80/tcp\n`;
    if (i % 2 === 0) stats += `${id}|${i % 7}.${String(i % 100).padStart(2, '0')}%|${10 + (i % 90)}.${i % 10}MiB / 7.6GiB\n`;
  }
  return { ps, stats };
}

// Keystroke timing: from the key's event to the first moment after the
// frame that shows its result.
const KEYS = () => {
  window.__keys = [];
  document.addEventListener('keydown', (e) => {
    if (e.target.id !== 'q') return;
    const t0 = e.timeStamp;
    requestAnimationFrame(() => setTimeout(() => window.__keys.push(performance.now() - t0), 0));
  }, true);
  // The list reply that brought the rows: from its end to the drawn table.
  window.__drawn = null;
  new MutationObserver((_, obs) => {
    const tb = document.getElementById('rows');
    if (!tb || !tb.rows.length) return;
    obs.disconnect();
    requestAnimationFrame(() => setTimeout(() => {
      const lists = performance.getEntriesByType('resource').filter((e) => e.name.includes('action=list'));
      const ends = lists.map((e) => e.responseEnd).filter((t) => t > 0);
      const now = performance.now();
      // The reply whose rows were drawn is the last one that had ended.
      const reply = Math.max(...ends.filter((t) => t <= now));
      window.__drawn = { drawn: now - reply, rows: tb.rows.length };
    }, 0));
  }).observe(document, { childList: true, subtree: true });
};

async function manyRowsFigures(browser) {
  const n = 5000;
  say(`page with ${n} containers of the fake runtime`);
  const rt = fs.mkdtempSync(path.join(os.tmpdir(), 'hullmon-pagebench-rt-'));
  const { ps, stats } = manyRows(n);
  fs.writeFileSync(path.join(rt, 'ps.out'), ps);
  fs.writeFileSync(path.join(rt, 'stats.out'), stats);
  const server = await startServer({ DOCKER_BIN: FAKE, FAKE_RT_DIR: rt, PATH: '/usr/bin:/bin' });
  const out = {};
  for (const which of ['now', 'before']) {
    const draws = [];
    const keys = [];
    const runs = which === 'now' ? 5 : 2;
    for (let r = 0; r < runs; r++) {
      const context = await browser.newContext({ viewport: { width: 1100, height: 900 } });
      await context.addInitScript(KEYS);
      const page = await context.newPage();
      await page.goto(`${server.origin}/${which === 'now' ? 'hullmon' : 'hullmon-before'}`);
      await page.waitForFunction(() => window.__drawn, null, { timeout: 60000, polling: 50 });
      draws.push((await page.evaluate(() => window.__drawn)).drawn);
      // Let the full list land too, then type a name near the end and take
      // it back again, one key at a time.
      await page.waitForLoadState('networkidle');
      await page.waitForTimeout(300);
      await page.evaluate(() => { window.__keys.length = 0; });
      const word = 'svc-4998';
      await page.focus('#q');
      for (const k of word) { await page.keyboard.press(k); await page.waitForTimeout(20); }
      for (let i = 0; i < word.length; i++) { await page.keyboard.press('Backspace'); await page.waitForTimeout(20); }
      await page.waitForFunction((m) => window.__keys.length >= m, word.length * 2, { timeout: 120000 });
      keys.push(...await page.evaluate(() => window.__keys));
      await context.close();
    }
    out[which] = { drawn: median(draws), keyMedian: median(keys), keyMax: Math.max(...keys), keys: keys.length };
  }
  await stopServer(server);
  fs.rmSync(rt, { recursive: true, force: true });
  return out;
}

const browser = await chromium.launch({
  executablePath: CHROMIUM,
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
    '--disable-component-update', '--disable-sync'],
});
const engines = [];
try {
  if (process.env.PODMAN_BIN) {
    engines.push(await engineRows(browser, 'podman sandbox', { DOCKER_BIN: process.env.PODMAN_BIN, PATH: '/usr/bin:/bin' },
      process.env.PODMAN_BIN, {}));
  }
  if (process.env.DOCKER_HOST) {
    const env = { DOCKER_BIN: process.env.DOCKER_CLIENT, DOCKER_HOST: process.env.DOCKER_HOST, PATH: '/usr/bin:/bin' };
    engines.push(await engineRows(browser, 'Docker Engine', env, process.env.DOCKER_CLIENT, { DOCKER_HOST: process.env.DOCKER_HOST }));
  }
  var many = process.env.PAGE_MANY === '0' ? null : await manyRowsFigures(browser);
} finally {
  await browser.close();
}

console.log(`Page in Chromium through lighttpd, median of ${ROUNDS} navigations per page and engine (fresh browser context each; a return visit is the second visit of a context), the three in rotating order.`);
console.log('');
console.log('| Engine | Page load (now) | Listing command alone | First row: now vs before | First CPU figure: now vs before | Return visit (now): first row, first CPU figure |');
console.log('|---|---|---|---|---|---|');
const x = (a, b) => `${(a / b).toFixed(2)}x`;
for (const e of engines) {
  console.log(`| ${e.name} | ${ms(e.load)} ms | ${ms(e.ps)} ms | ${ms(e.row.now)} vs ${ms(e.row.before)} ms (${x(e.row.now, e.row.before)}) | ${ms(e.cpu.now)} vs ${ms(e.cpu.before)} ms (${x(e.cpu.now, e.cpu.before)}) | ${ms(e.row.again)} ms (${x(e.row.again, e.row.before)}), ${ms(e.cpu.again)} ms (${x(e.cpu.again, e.cpu.before)}) |`);
}
console.log('');
console.log('| Page target | Figure | Met |');
console.log('|---|---|---|');
for (const e of engines) {
  if (e.name === 'Docker Engine') {
    const limit = 1.5 * (e.load + e.ps);
    console.log(`| Docker Engine: first row within 1.5x of (page load + \`docker ps\` alone) = ${ms(limit)} ms | ${ms(e.row.now)} ms (${(e.row.now / (e.load + e.ps)).toFixed(2)}x) | ${e.row.now <= limit ? 'yes' : 'no'} |`);
    console.log(`| Docker Engine: CPU figures no later than the first row before + 10% | ${ms(e.cpu.now)} vs ${ms(e.row.before)} ms (${(e.cpu.now / e.row.before).toFixed(2)}x) | ${e.cpu.now <= 1.1 * e.row.before ? 'yes' : 'no'} |`);
  } else {
    console.log(`| podman: first row no later than before + 5% | ${(e.row.now / e.row.before).toFixed(2)}x | ${e.row.now <= 1.05 * e.row.before ? 'yes' : 'no'} |`);
    console.log(`| podman: first CPU figure no later than before + 5% | ${(e.cpu.now / e.cpu.before).toFixed(2)}x | ${e.cpu.now <= 1.05 * e.cpu.before ? 'yes' : 'no'} |`);
    console.log(`| podman, a return visit: first row no later than before + 5% | ${x(e.row.again, e.row.before)} | ${e.row.again <= 1.05 * e.row.before ? 'yes' : 'no'} |`);
    console.log(`| podman, a return visit: first CPU figure no later than before + 5% | ${x(e.cpu.again, e.cpu.before)} | ${e.cpu.again <= 1.05 * e.cpu.before ? 'yes' : 'no'} |`);
  }
}
if (!many) process.exit(0);
console.log('');
console.log('| 5,000 containers (fake runtime) | Now | Before |');
console.log('|---|---|---|');
console.log(`| list reply to drawn table (median) | ${ms(many.now.drawn)} ms | ${ms(many.before.drawn)} ms |`);
console.log(`| keystroke in the search box to filtered table: median, slowest (${many.now.keys} and ${many.before.keys} keys) | ${ms(many.now.keyMedian)} ms, ${ms(many.now.keyMax)} ms | ${ms(many.before.keyMedian)} ms, ${ms(many.before.keyMax)} ms |`);
console.log(`| keystroke target: under 100 ms (median) | ${many.now.keyMedian < 100 ? 'yes' : 'no'} | |`);
