// What the browser tests stand on: a real lighttpd serving hullmon through
// mod_cgi, the fake container runtime behind it, and headless Chromium.
//
// Inputs (environment): HULLMON_BIN, the built program; FAKE_RUNTIME, the
// fake runtime script; SCREENSHOT_DIR (optional), where screenshots go,
// by default <directory of HULLMON_BIN>/screenshots; CHROMIUM_BIN and
// LIGHTTPD_BIN (optional), the browser and the web server.

import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

export const HULLMON_BIN = path.resolve(need('HULLMON_BIN'));
export const FAKE_RUNTIME = path.resolve(need('FAKE_RUNTIME'));
export const SCREENSHOT_DIR = process.env.SCREENSHOT_DIR
  || path.join(path.dirname(HULLMON_BIN), 'screenshots');

const CHROMIUM = process.env.CHROMIUM_BIN || '/usr/bin/chromium';
const LIGHTTPD = process.env.LIGHTTPD_BIN || '/usr/sbin/lighttpd';

// Where a tool is missing the tests are skipped (CTest's skip code 77), not
// failed; tests/browser/setup.sh installs all three.
function skip(why) {
  console.log(`# SKIP ${why} (tests/browser/setup.sh installs it)`);
  process.exit(77);
}
if (!fs.existsSync(CHROMIUM)) skip(`Chromium is missing at ${CHROMIUM}`);
if (!fs.existsSync(LIGHTTPD)) skip(`lighttpd is missing at ${LIGHTTPD}`);
const { chromium } = await import('playwright-core').catch(() => skip('playwright-core is missing'));

function need(name) {
  const v = process.env[name];
  if (!v) throw new Error(`set ${name}`);
  return v;
}

async function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.once('error', reject);
    s.listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

async function waitForPort(port, child, log) {
  const deadline = Date.now() + 10000;
  for (;;) {
    if (child.exitCode !== null) {
      throw new Error(`lighttpd exited: ${fs.existsSync(log) ? fs.readFileSync(log, 'utf8') : ''}`);
    }
    const ok = await new Promise((resolve) => {
      const sock = net.connect(port, '127.0.0.1');
      sock.once('connect', () => { sock.destroy(); resolve(true); });
      sock.once('error', () => resolve(false));
    });
    if (ok) return;
    if (Date.now() > deadline) throw new Error('lighttpd did not start listening');
    await new Promise((r) => setTimeout(r, 50));
  }
}

const quote = (s) => JSON.stringify(String(s));

// A test run that dies early must not leave a web server behind.
const servers = new Set();
process.on('exit', () => { for (const child of servers) child.kill('SIGTERM'); });

// Starts lighttpd on a free loopback port.
//   runtime: 'docker' (the fake runtime found on PATH as docker),
//            'custom' (named by DOCKER_BIN) or 'none' (nothing to find);
//   dockerBin: the DOCKER_BIN of 'custom', by default the fake runtime;
//   password: KELM_PASSWORD for the node, or none.
// The host route /plugins?plugin=NAME?action=... is rewritten to
// /hullmon?action=..., as the dashboard host does.
export async function startServer({ runtime = 'docker', dockerBin = FAKE_RUNTIME, password = '' } = {}) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'hullmon-browser-'));
  const www = path.join(dir, 'www');
  const rt = path.join(dir, 'rt');
  const bin = path.join(dir, 'bin');
  for (const d of [www, rt, bin]) fs.mkdirSync(d);
  fs.symlinkSync(HULLMON_BIN, path.join(www, 'hullmon'));
  fs.symlinkSync(FAKE_RUNTIME, path.join(bin, 'docker'));
  const record = path.join(dir, 'record.txt');
  const errorLog = path.join(dir, 'error.log');
  const port = await freePort();

  const env = { FAKE_RT_DIR: rt, FAKE_RT_RECORD: record };
  if (runtime === 'docker') env.PATH = `${bin}:/usr/bin:/bin`;
  else env.PATH = bin + '-empty';
  if (runtime === 'custom') env.DOCKER_BIN = dockerBin;
  if (password) env.KELM_PASSWORD = password;

  const conf = [
    `server.document-root = ${quote(www)}`,
    'server.bind = "127.0.0.1"',
    `server.port = ${port}`,
    `server.errorlog = ${quote(errorLog)}`,
    'server.modules = ( "mod_rewrite", "mod_setenv", "mod_cgi" )',
    'mimetype.assign = ( ".html" => "text/html; charset=utf-8" )',
    'url.rewrite-once = ( "^/plugins\\?plugin=[^?&]*\\?(.*)$" => "/hullmon?$1" )',
    'setenv.add-environment = ( '
      + Object.entries(env).map(([k, v]) => `${quote(k)} => ${quote(v)}`).join(', ') + ' )',
    '$HTTP["url"] == "/hullmon" { cgi.assign = ( "" => "" ) }',
    '',
  ].join('\n');
  const confPath = path.join(dir, 'lighttpd.conf');
  fs.writeFileSync(confPath, conf);

  const child = spawn(LIGHTTPD, ['-D', '-f', confPath], { stdio: 'ignore' });
  servers.add(child);
  child.once('exit', () => servers.delete(child));
  await waitForPort(port, child, errorLog);

  return {
    origin: `http://127.0.0.1:${port}`,
    www,
    // Replaces everything the fake runtime answers with the given files
    // (name -> content, such as 'ps.out' or 'stop.exit').
    setRuntime(files = {}) {
      for (const f of fs.readdirSync(rt)) fs.rmSync(path.join(rt, f));
      for (const [name, content] of Object.entries(files)) fs.writeFileSync(path.join(rt, name), content);
    },
    // The runtime command lines run so far, one per entry, and forgets them.
    takeRecords() {
      if (!fs.existsSync(record)) return [];
      const lines = fs.readFileSync(record, 'utf8').split('\n').filter(Boolean);
      fs.rmSync(record);
      return lines;
    },
    async stop() {
      if (child.exitCode === null) {
        const gone = new Promise((r) => child.once('exit', r));
        child.kill('SIGTERM');
        await gone;
      }
      fs.rmSync(dir, { recursive: true, force: true });
    },
  };
}

export async function launchBrowser() {
  // Playwright gives every launch a fresh, temporary user-data folder.
  return chromium.launch({
    executablePath: CHROMIUM,
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
}

// Opens the page at `address` (a path with query) in a fresh context.
//   storage: local storage entries present before the page's scripts run;
//   refuseStorage: every access to local storage throws, as in browsers
//                  that block site data;
//   colorScheme, viewport: passed to the context.
// Returns the page and what it did: the API requests it sent (and how many
// of them are still unanswered), the dialogs it asked, its script errors and
// every text the note showed.
export async function openPage(browser, server, address, opts = {}) {
  const context = await browser.newContext({
    viewport: opts.viewport || { width: 1100, height: 900 },
    colorScheme: opts.colorScheme || 'dark',
  });
  if (opts.storage) {
    // Seeds once per tab, so a reload sees what the page itself stored.
    await context.addInitScript((entries) => {
      try {
        if (sessionStorage.getItem('__seeded')) return;
        sessionStorage.setItem('__seeded', '1');
        for (const [k, v] of Object.entries(entries)) localStorage.setItem(k, v);
      } catch (e) { /* about:blank has no storage */ }
    }, opts.storage);
  }
  if (opts.refuseStorage) {
    await context.addInitScript(() => {
      Object.defineProperty(window, 'localStorage', {
        configurable: true,
        get() { throw new DOMException('The operation is insecure.', 'SecurityError'); },
      });
    });
  }
  // Every text the note takes, so an outcome replaced by the next list
  // reply can still be checked.
  await context.addInitScript(() => {
    window.__notes = [];
    document.addEventListener('DOMContentLoaded', () => {
      const note = document.getElementById('note');
      if (!note) return;
      new MutationObserver(() => window.__notes.push(note.textContent))
        .observe(note, { childList: true, characterData: true, subtree: true });
    });
  });
  const page = await context.newPage();
  const seen = { requests: [], dialogs: [], errors: [], confirm: true, pending: 0 };
  page.on('pageerror', (e) => seen.errors.push(String(e)));
  const api = (r) => {
    const u = new URL(r.url());
    if (r.isNavigationRequest() && r.frame() === page.mainFrame()) return false;
    return u.pathname === '/hullmon' || u.pathname === '/plugins';
  };
  const ended = (r) => { if (api(r)) seen.pending--; };
  page.on('requestfinished', ended);
  page.on('requestfailed', ended);
  page.on('request', (r) => {
    if (api(r)) {
      const u = new URL(r.url());
      seen.pending++;
      seen.requests.push({
        method: r.method(),
        url: u.pathname + u.search,
        headers: r.headers(),
        body: r.postData(),
      });
    }
  });
  page.on('dialog', async (d) => {
    seen.dialogs.push({ type: d.type(), message: d.message() });
    if (d.type() === 'confirm' && seen.confirm) await d.accept();
    else await d.dismiss();
  });
  if (opts.beforeLoad) await opts.beforeLoad(page);
  await page.goto(server.origin + address);
  return { page, context, seen };
}

// Waits until fn(arg), run in the page, returns a truthy value.
export function until(page, fn, arg) {
  return page.waitForFunction(fn, arg, { timeout: 5000, polling: 20 });
}

// Waits until every request the page sent to the program has been answered
// (or has failed), and none followed for 100 ms: a refresh asks its full list
// a moment after the listing alone, or when the listing's reply comes.
export async function settled(seen, timeout = 5000) {
  const deadline = Date.now() + timeout;
  let quiet = null;
  for (;;) {
    if (seen.pending > 0) quiet = null;
    else if (quiet === null) quiet = Date.now();
    else if (Date.now() - quiet >= 100) return;
    if (Date.now() > deadline) throw new Error(`${seen.pending} request(s) still unanswered`);
    await sleep(20);
  }
}

// Waits until the badge has left "connecting", that is the first list reply
// (or its failure) has been handled.
export function listed(page) {
  return until(page, () => document.getElementById('badge').textContent !== 'connecting');
}

// The table as the user sees it: one array of cell texts per row, the
// actions cell as the labels of its buttons joined by spaces.
export function tableTexts(page) {
  return page.$$eval('#rows tr', (rows) => rows.map((tr) => [...tr.cells].map((td, i) => (
    i === 6 ? [...td.querySelectorAll('button')].map((b) => b.textContent).join(' ') : td.textContent))));
}

export async function screenshot(page, name) {
  fs.mkdirSync(SCREENSHOT_DIR, { recursive: true });
  await page.screenshot({ path: path.join(SCREENSHOT_DIR, name + '.png'), fullPage: true });
}

export const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
