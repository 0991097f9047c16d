// The control action refuses what another web site makes the browser send.
// A page on a foreign origin that holds nothing but a self-submitting form
// cannot stop or restart a container; the same form from the dashboard's own
// origin, and the page's own buttons, framed by the host page and unframed,
// still work. A real engine stands behind the program: podman in the
// sandbox that the real-engine tests use (scripts/sandbox.sh), and the
// engine's own view of each container is the proof of what happened.
//
// Inputs (environment): HULLMON_BIN and FAKE_RUNTIME as for harness.mjs;
// SANDBOX_DIR, the sandbox folder. Exits 77 (skipped) where the sandbox or
// the browser cannot run here: not root, or podman, runc, Chromium,
// lighttpd or playwright-core missing (tests/runtime/setup.sh and
// tests/browser/setup.sh install them).

import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, test } from 'node:test';

const REPO = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const SANDBOX = path.resolve(process.env.SANDBOX_DIR || path.join(REPO, 'build', 'sandbox'));
const SANDBOX_SH = path.join(REPO, 'scripts', 'sandbox.sh');
const PODMAN = path.join(SANDBOX, 'bin', 'podman'); // the sandbox's wrapper
const IMAGE = 'localhost/hullmon-sandbox:latest';

function skip(why) {
  console.log(`# SKIP ${why}`);
  process.exit(77);
}
const anyOf = (...files) => files.some((f) => fs.existsSync(f));
if (process.getuid() !== 0) skip('the podman sandbox needs root');
if (!anyOf('/usr/bin/podman')) skip('podman is missing (tests/runtime/setup.sh installs it)');
if (!anyOf('/usr/sbin/runc', '/usr/bin/runc')) skip('runc is missing (tests/runtime/setup.sh installs it)');
// The harness skips in the same way where a browser tool is missing.
const { launchBrowser, openPage, startServer, until } = await import('./harness.mjs');

// The reply every refused request gets, whatever its op and cid.
const REFUSED = '{"ok":false,"error":"cross_origin","message":"control requests must come from the dashboard page itself"}\n';
const JSON_TYPE = 'application/json; charset=utf-8';

// Two containers of our own in the sandbox: FORM is what the forms aim at,
// PAGE what the dashboard's buttons steer.
const FORM = 'hmb-form';
const PAGE = 'hmb-page';
const LOOP = 'trap "exit 0" TERM; while :; do sleep 1; done';

function podman(...args) {
  const r = spawnSync(PODMAN, args, { encoding: 'utf8', timeout: 60000 });
  if (r.error) throw r.error;
  if (r.status !== 0) throw new Error(`podman ${args.join(' ')} failed (${r.status}): ${r.stdout}${r.stderr}`);
  return r.stdout;
}

// The engine's own word for a container's state, and when it last started:
// a restart shows as a new start time, a stop as the state.
function engineState(name) {
  const [status, started] = podman('inspect', '--format', '{{.State.Status}}|{{.State.StartedAt}}', name).trim().split('|');
  return { status: { stopped: 'exited' }[status] || status, started };
}

// Puts a container back to running when an earlier case left it stopped,
// so each case starts from the same place.
function running(name) {
  if (engineState(name).status !== 'running') podman('start', name);
  return engineState(name);
}

function removeContainers() {
  const ids = podman('ps', '-a', '-q', '--filter', 'name=^hmb-').split('\n').filter(Boolean);
  if (ids.length) podman('rm', '-f', '-t', '0', ...ids);
}

// The form of the report: a page with nothing but a form that submits
// itself at once, as a simple request with a form-encoded body.
const selfSubmitting = (action, op, cid) => `<!doctype html>
<form method=POST action="${action}">
<input name=op value=${op}><input name=cid value=${cid}></form>
<script>document.forms[0].submit()</script>
`;

let browser;
let site; // lighttpd with hullmon, the host page and the same-origin form
let foreign; // another origin: a plain Node server on a port of its own
let foreignPort;

before(async () => {
  const prep = spawnSync(SANDBOX_SH, ['-d', SANDBOX, 'prepare'], { encoding: 'utf8', timeout: 300000 });
  if (prep.status !== 0) throw new Error(`sandbox prepare failed: ${prep.stdout}${prep.stderr}`);
  removeContainers();
  for (const name of [FORM, PAGE]) {
    podman('run', '-d', '--name', name, '--label', 'hullmon.sandbox=browser', '--network', 'none',
      '--stop-timeout', '3', IMAGE, 'sh', '-c', LOOP);
  }
  [browser, site] = await Promise.all([launchBrowser(), startServer({ runtime: 'custom', dockerBin: PODMAN })]);
  fs.copyFileSync(path.join(REPO, 'deploy', 'host', 'index.html'), path.join(site.www, 'index.html'));
  for (const op of ['stop', 'start']) {
    fs.writeFileSync(path.join(site.www, `form-${op}.html`), selfSubmitting('/hullmon?action=control', op, FORM));
  }
  foreign = http.createServer((req, res) => {
    const q = new URL(req.url, 'http://any').searchParams;
    res.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8' });
    res.end(selfSubmitting(`${site.origin}/hullmon?action=control`, q.get('op'), q.get('cid')));
  });
  await new Promise((resolve) => foreign.listen(0, '127.0.0.1', resolve));
  foreignPort = foreign.address().port;
});

after(async () => {
  await Promise.all([browser?.close(), site?.stop(), foreign && new Promise((r) => foreign.close(r))]);
  removeContainers();
});

// Opens the form page at `address` in a fresh browser context and returns
// what the browser sent with the form's POST (its fetch metadata and
// origin) and hullmon's whole answer: status, the three head lines the
// program writes, and the body.
async function submit(address) {
  const context = await browser.newContext();
  try {
    const page = await context.newPage();
    const answered = page.waitForResponse((r) => r.request().method() === 'POST'
      && r.url() === `${site.origin}/hullmon?action=control`);
    await page.goto(address, { waitUntil: 'commit' });
    const res = await answered;
    const sent = await res.request().allHeaders();
    const got = await res.allHeaders();
    return {
      sent: { site: sent['sec-fetch-site'], origin: sent.origin, body: res.request().postData() },
      status: `${res.status()} ${res.statusText()}`,
      head: [got['content-type'], got['cache-control'], got['x-content-type-options']],
      body: await res.text(),
    };
  } finally {
    await context.close();
  }
}

const UTC = /"utc":"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)"/;
const utcOf = (body) => (UTC.exec(body) || [])[1];

describe('a self-submitting form on another origin', () => {
  const origins = [
    // where the form is served, what Chromium calls that origin for hullmon
    { host: 'localhost', site: 'cross-site' },
    { host: '127.0.0.1', site: 'same-site' }, // same host, another port
  ];
  for (const o of origins) {
    for (const op of ['stop', 'restart']) {
      test(`${op} from http://${o.host}:PORT (${o.site}) gets 403 and the container keeps running`, async () => {
        const was = running(FORM);
        const origin = `http://${o.host}:${foreignPort}`;
        const r = await submit(`${origin}/?op=${op}&cid=${FORM}`);
        assert.deepEqual(r, {
          sent: { site: o.site, origin, body: `op=${op}&cid=${FORM}` },
          status: '403 Forbidden',
          head: [JSON_TYPE, 'no-store', 'nosniff'],
          body: REFUSED,
        });
        assert.deepEqual(engineState(FORM), was, 'neither stopped nor restarted');
      });
    }
  }
});

describe('the same form from the dashboard origin', () => {
  test('stops the container, and starts it again', async () => {
    running(FORM);
    for (const [op, want] of [['stop', 'exited'], ['start', 'running']]) {
      const r = await submit(`${site.origin}/form-${op}.html`);
      const utc = utcOf(r.body);
      assert.ok(utc && Math.abs(Date.parse(utc) - Date.now()) < 120000, `utc of ${r.body}`);
      assert.deepEqual(r, {
        sent: { site: 'same-origin', origin: site.origin, body: `op=${op}&cid=${FORM}` },
        status: '200 OK',
        head: [JSON_TYPE, 'no-store', 'nosniff'],
        body: `{"ok":true,"action":"control","op":"${op}","cid":"${FORM}","exit_code":0,"output":"${FORM}\\n","utc":"${utc}"}\n`,
      });
      assert.equal(engineState(FORM).status, want, `after ${op}`);
    }
  });
});

describe("the page's own buttons", () => {
  const ways = [
    // how the page is opened, where its table lives
    { what: 'unframed', address: '/hullmon', frame: (page) => page.mainFrame() },
    {
      what: 'framed in the host page',
      address: '/index.html',
      frame: (page) => page.frame({ url: /\/hullmon\?embed=1&plugin=docker/ }),
    },
  ];
  for (const w of ways) {
    test(`stop, start and restart, ${w.what}`, async () => {
      running(PAGE);
      const p = await openPage(browser, site, w.address);
      const { page, seen } = p;
      await until(page, () => document.readyState === 'complete');
      const f = w.frame(page);
      assert.ok(f, 'the page is there');
      await until(f, () => document.getElementById('badge').textContent === 'custom');
      const row = f.locator('#rows tr').filter({ has: f.locator('td:nth-child(2)', { hasText: new RegExp(`^${PAGE}$`) }) });
      for (const [op, want] of [['stop', 'exited'], ['start', 'running'], ['restart', 'running']]) {
        const was = engineState(PAGE);
        await row.getByRole('button', { name: `${op} ${PAGE}`, exact: true }).click();
        await until(f, (note) => window.__notes.includes(note), `${op} ${PAGE} ok`);
        const now = engineState(PAGE);
        assert.equal(now.status, want, `after ${op}`);
        if (op === 'restart') assert.notEqual(now.started, was.started, 'restarted');
      }
      assert.deepEqual(seen.dialogs.map((d) => d.message), [`stop ${PAGE}?`, `restart ${PAGE}?`]);
      const route = w.what === 'unframed' ? '/hullmon?action=control' : '/plugins?plugin=docker?action=control&node=local&id=docker';
      assert.deepEqual(seen.requests.filter((r) => r.method === 'POST').map((r) => r.url), [route, route, route]);
      assert.deepEqual(seen.errors, []);
      await p.context.close();
    });
  }
});
