// The dashboard page in a real browser, served through lighttpd's CGI
// module, with the fake container runtime behind the program.

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
const XSS = { id: 'c0ffee00c0ff' + '6'.repeat(52), name: '<img src=x onerror=alert(1)>', image: 'busybox:latest', state: 'created', status: 'Created', ports: '' };
const ANON = { id: '5e5e5e5e5e5e' + '7'.repeat(52), name: '', image: 'redis:7', state: 'paused', status: 'Up 1 hour (Paused)', ports: '6379/tcp' };
const ALL = [WEB, DB, XSS, ANON];

function psOut(list) {
  return list.map((c) => [c.id, c.name, c.image, c.state, c.status, c.ports].join('|') + '\n').join('');
}

// Four containers, one of each state the filter offers but "running" twice
// over in the summary's eyes; only web is running and has usage figures.
const NODE = {
  'ps.out': psOut(ALL),
  'stats.out': `${WEB.id.slice(0, 12)}|1.25%|12.5MiB / 1GiB\n`,
  'logs.out': 'line one\nline two\n',
};

const LIST_CMD = 'docker ps -a --format {{.ID}}|{{.Names}}|{{.Image}}|{{.State}}|{{.Status}}|{{.Ports}}';
const STATS_CMD = 'docker stats --no-stream --format {{.ID}}|{{.CPUPerc}}|{{.MemUsage}}';

// What the page's first load runs: the listing alone (the list without
// usage) and the full list, asked nearly together. The fake runtime lists
// in a moment, so every later refresh asks for the full list alone.
const LOAD_CMDS = [LIST_CMD, LIST_CMD, STATS_CMD];
const REFRESH_CMDS = [LIST_CMD, STATS_CMD];

// The runtime command lines a server ran since the last call. The page asks
// its two lists together and a list runs its two commands at the same time,
// so a stretch of listing and usage commands may be recorded in any order:
// each such stretch is put in one order, listings first.
function runs(server) {
  const lines = server.takeRecords();
  const out = [];
  for (let i = 0; i < lines.length;) {
    let j = i;
    while (j < lines.length && (lines[j] === LIST_CMD || lines[j] === STATS_CMD)) j++;
    if (j === i) { out.push(lines[i++]); continue; }
    out.push(...lines.slice(i, j).sort((a, b) => (a === b ? 0 : a === LIST_CMD ? -1 : 1)));
    i = j;
  }
  return out;
}

let browser;
let node; // docker found on PATH, no password
let bare; // no runtime at all
let locked; // docker, node password "s3cret"

before(async () => {
  [browser, node, bare, locked] = await Promise.all([
    launchBrowser(),
    startServer({ runtime: 'docker' }),
    startServer({ runtime: 'none' }),
    startServer({ runtime: 'docker', password: 's3cret' }),
  ]);
});

after(async () => {
  await Promise.all([browser?.close(), node?.stop(), bare?.stop(), locked?.stop()]);
});

// Opens a page on a server whose runtime answers with `files`; checks at the
// end of each test that the page raised no script error.
async function open(server, address, opts = {}) {
  server.setRuntime(opts.files || NODE);
  server.takeRecords();
  const p = await openPage(browser, server, address, opts);
  if (opts.wait !== false) {
    await listed(p.page);
    await settled(p.seen);
  }
  return p;
}

async function done(p) {
  assert.deepEqual(p.seen.errors, []);
  await p.context.close();
}

const texts = (page, sel) => page.$$eval(sel, (els) => els.map((e) => e.textContent));
const tiles = (page) => texts(page, '.kpi .v');
const noteText = (page) => page.textContent('#note');
const hidden = (page, sel) => page.$eval(sel, (e) => e.classList.contains('hide'));
const lists = (seen) => seen.requests.filter((r) => r.url.includes('action=list'));
// The full list's reply (not the one of the listing alone).
const fullListReply = (page) => page.waitForResponse((r) => r.url().includes('action=list') && !r.url().includes('usage=0'));
// A row's button by its operation; its accessible name goes on with the
// container's name.
const rowButton = (page, row, label) => page.locator('#rows tr').nth(row).getByRole('button', { name: new RegExp(`^${label} `) });

describe('start-up', () => {
  test('the list reply fills tiles, badge, note and table; container texts stay text', async () => {
    const p = await open(node, '/hullmon');
    const { page, seen } = p;
    assert.deepEqual(await tiles(page), ['4', '1', '1', '1', 'docker']);
    assert.equal(await page.textContent('#badge'), 'docker');
    assert.equal(await page.getAttribute('#badge', 'class'), 'pill on');
    assert.equal(await noteText(page), '4 container(s) on this node');
    assert.deepEqual(await tableTexts(page), [
      ['3f2a9c1d7e5b', 'web', 'nginx:1.25-alpine', 'running', '1.25%', '12.5MiB / 1GiB', 'stop restart logs'],
      ['9b1e8d7c6a5f', 'db', 'postgres:16', 'exited', DASH, DASH, 'start logs'],
      ['c0ffee00c0ff', XSS.name, 'busybox:latest', 'created', DASH, DASH, 'start logs'],
      ['5e5e5e5e5e5e', '', 'redis:7', 'paused', DASH, DASH, 'start logs'],
    ]);
    assert.deepEqual(await page.$$eval('#rows .state', (els) => els.map((e) => e.className)),
      ['state running', 'state exited', 'state created', 'state paused']);
    assert.deepEqual(await page.$$eval('#rows tr:first-child button', (els) => els.map((e) => [e.className, e.type])),
      [['sm danger', 'button'], ['sm ghost', 'button'], ['sm ghost', 'button']]);
    assert.deepEqual(await page.$$eval('#rows tr:nth-child(2) button', (els) => els.map((e) => e.className)),
      ['sm', 'sm ghost']);
    // The hostile name is shown as text: no element was made of it and its
    // handler never ran.
    assert.equal(await page.locator('#rows img').count(), 0);
    assert.deepEqual(seen.dialogs, []);
    assert.equal(await hidden(page, '#empty'), true);
    assert.equal(await hidden(page, '#logCard'), true);
    assert.equal(await page.locator('th').filter({ visible: true }).count(), 7);
    assert.deepEqual(seen.requests.map((r) => [r.method, r.url, r.headers['x-kelm-password']]),
      [['GET', '/hullmon?action=list&usage=0', undefined], ['GET', '/hullmon?action=list', undefined]]);
    assert.deepEqual(runs(node), LOAD_CMDS);
    await screenshot(page, 'dashboard-dark');
    await done(p);
  });

  // Each list outcome: what the badge, note, tiles and table say.
  const outcomes = [
    {
      what: 'no runtime on the node', server: () => bare, files: {},
      badge: ['no runtime', 'pill off'],
      note: 'Neither docker nor podman was found on this node. Install a container runtime, or set DOCKER_BIN to an explicit binary path.',
      tiles: ['0', '0', '0', '0', 'none'],
    },
    {
      what: 'daemon down with its message', files: { 'ps.out': 'Cannot connect to the Docker daemon. Is the docker daemon running?\n', 'ps.exit': '1' },
      badge: ['daemon down', 'pill off'],
      note: 'Cannot connect to the Docker daemon. Is the docker daemon running?\n',
      tiles: ['0', '0', '0', '0', 'docker'],
    },
    {
      what: 'daemon down without a message', files: { 'ps.exit': '1' },
      badge: ['daemon down', 'pill off'], note: 'runtime daemon is not reachable',
      tiles: ['0', '0', '0', '0', 'docker'],
    },
    {
      what: 'no containers', files: {},
      badge: ['docker', 'pill on'], note: '0 container(s) on this node',
      tiles: ['0', '0', '0', '0', 'docker'],
    },
    {
      // The host let the page through, but the page knows no password.
      what: 'node password refused', server: () => locked, files: NODE,
      beforeLoad: (page) => page.route((u) => u.pathname === '/hullmon', (route) => (route.request().isNavigationRequest()
        ? route.continue({ headers: { ...route.request().headers(), 'x-kelm-password': 's3cret' } })
        : route.continue())),
      badge: ['no runtime', 'pill off'], note: 'neither docker nor podman found on this node',
      tiles: [DASH, DASH, DASH, DASH, 'none'],
    },
    {
      what: 'a reply that is not JSON', files: NODE,
      beforeLoad: (page) => page.route((u) => u.search.includes('action=list'),
        (route) => route.fulfill({ status: 502, contentType: 'text/html', body: '<h1>Bad gateway</h1>' })),
      badge: ['error', 'pill off'], note: /^request failed: SyntaxError: /,
      tiles: [DASH, DASH, DASH, DASH, DASH], emptyShown: false,
    },
  ];
  for (const o of outcomes) {
    test(`list outcome: ${o.what}`, async () => {
      const p = await open(o.server ? o.server() : node, '/hullmon', { files: o.files, beforeLoad: o.beforeLoad });
      const { page } = p;
      assert.deepEqual([await page.textContent('#badge'), await page.getAttribute('#badge', 'class')], o.badge);
      if (o.note instanceof RegExp) assert.match(await noteText(page), o.note);
      else assert.equal(await noteText(page), o.note);
      assert.deepEqual(await tiles(page), o.tiles);
      assert.equal(await page.locator('#rows tr').count(), 0);
      assert.equal(await hidden(page, '#empty'), o.emptyShown === false);
      await done(p);
    });
  }
});

describe('filter and search', () => {
  test('filter in the browser without a request; Enter, Apply and Refresh fetch again', async () => {
    const p = await open(node, '/hullmon');
    const { page, seen } = p;
    const cases = [
      // search text, state, names shown
      ['', '', ['web', 'db', XSS.name, '']],
      ['web nginx', '', ['web']],
      ['  WEB  ', '', ['web']],
      ['8080', '', ['web']],
      ['44444444', '', ['web']], // past the 12 characters shown: the full id is searched
      ['c0ffee', '', [XSS.name]],
      ['', 'created', [XSS.name]],
      ['', 'running', ['web']],
      ['redis', 'paused', ['']],
      ['web', 'exited', []],
    ];
    for (const [q, state, names] of cases) {
      await page.fill('#q', q);
      await page.selectOption('#state', state);
      const got = await page.$$eval('#rows tr', (rows) => rows.map((tr) => tr.cells[1].textContent));
      assert.deepEqual(got, names, `search ${JSON.stringify(q)} state ${JSON.stringify(state)}`);
      assert.equal(await hidden(page, '#empty'), names.length > 0);
    }
    await sleep(200);
    assert.equal(lists(seen).length, 2, 'filtering sent no request');

    await page.fill('#q', 'db');
    await page.selectOption('#state', '');
    const triggers = [() => page.press('#q', 'Enter'), () => page.click('#refreshBtn'), () => page.click('#reloadBtn')];
    for (const trigger of triggers) {
      await Promise.all([fullListReply(page), trigger()]);
    }
    assert.equal(lists(seen).length, 5);
    // The filter survives the new list.
    assert.deepEqual(await page.$$eval('#rows tr', (rows) => rows.map((tr) => tr.cells[1].textContent)), ['db']);
    await done(p);
  });
});

describe('operations', () => {
  const cases = [
    // row, operation, accept the confirmation, runtime files, dialog, outcome note
    { row: 0, op: 'stop', accept: false, dialog: 'stop web?' },
    { row: 0, op: 'stop', accept: true, dialog: 'stop web?', note: 'stop web ok' },
    { row: 0, op: 'restart', accept: true, dialog: 'restart web?', note: 'restart web ok' },
    { row: 1, op: 'start', note: 'start db ok' },
    { row: 3, op: 'start', note: `start ${ANON.id} ok` },
    {
      row: 0, op: 'stop', accept: true, dialog: 'stop web?',
      files: { 'stop.out': 'Error response from daemon: cannot stop\n', 'stop.exit': '1' },
      note: 'failed: Error response from daemon: cannot stop\n',
    },
  ];
  for (const c of cases) {
    const target = ALL[c.row];
    test(`${c.op} ${target.name || 'unnamed'}${c.accept === false ? ', declined' : ''}${c.files ? ', failing' : ''}`, async () => {
      const p = await open(node, '/hullmon', { files: { ...NODE, ...c.files } });
      const { page, seen } = p;
      node.takeRecords();
      seen.confirm = c.accept !== false;
      const full = c.accept === false ? null : fullListReply(page);
      await rowButton(page, c.row, c.op).click();
      if (c.accept === false) {
        await sleep(300);
      } else {
        await until(page, (want) => window.__notes.includes(want) && window.__notes.length >= 2, c.note);
        await full;
        await until(page, () => document.getElementById('note').textContent === '4 container(s) on this node');
        await settled(seen);
      }
      assert.deepEqual(seen.dialogs, c.dialog ? [{ type: 'confirm', message: c.dialog }] : []);
      const posts = seen.requests.filter((r) => r.method === 'POST');
      if (c.accept === false) {
        assert.deepEqual(posts, []);
        assert.deepEqual(node.takeRecords(), []);
        assert.equal(lists(seen).length, 2);
      } else {
        assert.equal(posts.length, 1);
        assert.equal(posts[0].url, '/hullmon?action=control');
        assert.equal(posts[0].body, `op=${c.op}&cid=${target.id}`);
        assert.equal(posts[0].headers['content-type'], 'application/x-www-form-urlencoded');
        assert.equal(posts[0].headers['x-kelm-password'], undefined);
        assert.deepEqual(runs(node), [`docker ${c.op} ${target.id}`, ...REFRESH_CMDS]);
        assert.equal(lists(seen).length, 3, 'the list is fetched again');
        const notes = await page.evaluate(() => window.__notes);
        assert.equal(notes.at(-2), c.note);
      }
      await done(p);
    });
  }
});

describe('logs card', () => {
  test('title, loading text, text or (empty), errors, Reload, Close', async () => {
    const p = await open(node, '/hullmon');
    const { page, seen } = p;
    node.takeRecords();
    const body = () => page.textContent('#logBody');
    const bodyIs = (want) => until(page, (w) => document.getElementById('logBody').textContent === w, want);

    // Hold the first logs reply to see the card as it waits.
    let release;
    const held = new Promise((r) => { release = r; });
    await page.route((u) => u.search.includes('action=logs'), async (route) => {
      await held;
      await route.continue();
    }, { times: 1 });
    await rowButton(page, 0, 'logs').click();
    assert.equal(await hidden(page, '#logCard'), false);
    assert.equal(await page.textContent('#logTitle'), `Logs ${DASH} web (last 100 lines)`);
    assert.equal(await body(), 'loading\u2026');
    release();
    await bodyIs('line one\nline two\n');
    const logReq = seen.requests.filter((r) => r.url.includes('action=logs'));
    assert.deepEqual(logReq.map((r) => [r.method, r.url]), [['GET', `/hullmon?action=logs&cid=${WEB.id}`]]);
    assert.deepEqual(node.takeRecords(), [`docker logs --tail 100 ${WEB.id}`]);
    await screenshot(page, 'logs-open');

    const reloads = [
      // runtime files, body shown after Reload
      [{ 'logs.out': 'line three\n' }, 'line three\n'],
      [{}, '(empty)'],
      [{ 'logs.out': 'Error: no such container\n', 'logs.exit': '1' }, 'error: unknown'],
    ];
    for (const [files, want] of reloads) {
      node.setRuntime({ ...NODE, 'logs.out': '', ...files });
      await page.click('#logReload');
      await bodyIs(want);
      assert.equal(await page.textContent('#logTitle'), `Logs ${DASH} web (last 100 lines)`);
    }

    // A failed Reload keeps what the body showed.
    await page.route((u) => u.search.includes('action=logs'), (route) => route.abort(), { times: 1 });
    await page.click('#logReload');
    await sleep(300);
    assert.equal(await body(), 'error: unknown');

    await page.click('#logClose');
    assert.equal(await hidden(page, '#logCard'), true);

    // An unnamed container goes by its id; a failed request says so.
    await page.route((u) => u.search.includes('action=logs'), (route) => route.abort(), { times: 1 });
    await rowButton(page, 3, 'logs').click();
    assert.equal(await hidden(page, '#logCard'), false);
    assert.equal(await page.textContent('#logTitle'), `Logs ${DASH} ${ANON.id} (last 100 lines)`);
    await until(page, () => document.getElementById('logBody').textContent.startsWith('request failed: '));
    await done(p);
  });

  test('the password refusal shows in the logs body and the note', async () => {
    const p = await open(locked, '/hullmon?pwd=s3cret');
    const { page } = p;
    // The host forgot the password: every later request of the page lacks it.
    await page.route((u) => u.search.includes('action='), (route) => {
      const u = new URL(route.request().url());
      route.continue({ url: u.href.replace('&pwd=s3cret', ''), headers: { ...route.request().headers(), 'x-kelm-password': 'wrong' } });
    });
    await rowButton(page, 0, 'logs').click();
    await until(page, () => document.getElementById('logBody').textContent === 'error: invalid node password');
    await rowButton(page, 1, 'start').click();
    await until(page, () => window.__notes.includes('invalid node password'));
    await done(p);
  });
});

describe('late replies', () => {
  // Lets the first matching request reach the server at once but holds its
  // reply until released, so a newer request can overtake it.
  async function holdFirst(page, kind) {
    let release;
    let fetched;
    const gate = new Promise((r) => { release = r; });
    const got = new Promise((r) => { fetched = r; });
    await page.route((u) => u.search.includes(`action=${kind}`), async (route) => {
      const response = await route.fetch();
      fetched();
      await gate;
      await route.fulfill({ response });
    }, { times: 1 });
    return { fetched: got, release: () => release() };
  }

  test('an older list reply arriving last does not replace the newer list', async () => {
    const p = await open(node, '/hullmon');
    const { page } = p;
    const older = await holdFirst(page, 'list');
    await page.click('#reloadBtn');
    await older.fetched; // the older reply holds all four containers
    node.setRuntime({ 'ps.out': psOut([DB]) });
    await page.click('#reloadBtn');
    await until(page, () => document.getElementById('note').textContent === '1 container(s) on this node');
    const late = page.waitForResponse((r) => r.url().includes('action=list'));
    older.release();
    await late;
    await sleep(300);
    assert.equal(await noteText(page), '1 container(s) on this node');
    assert.deepEqual((await tableTexts(page)).map((r) => r[1]), ['db']);
    assert.deepEqual(await tiles(page), ['1', '0', '1', '0', 'docker']);
    await done(p);
  });

  test('the logs of a container opened earlier do not appear under a later one', async () => {
    const p = await open(node, '/hullmon');
    const { page } = p;
    const older = await holdFirst(page, 'logs');
    node.setRuntime({ ...NODE, 'logs.out': 'from web\n' });
    await rowButton(page, 0, 'logs').click();
    await older.fetched;
    node.setRuntime({ ...NODE, 'logs.out': 'from db\n' });
    await rowButton(page, 1, 'logs').click();
    await until(page, () => document.getElementById('logBody').textContent === 'from db\n');
    const late = page.waitForResponse((r) => r.url().includes('action=logs'));
    older.release();
    await late;
    await sleep(300);
    assert.equal(await page.textContent('#logBody'), 'from db\n');
    assert.equal(await page.textContent('#logTitle'), `Logs ${DASH} db (last 100 lines)`);
    await done(p);
  });
});

describe('context', () => {
  test('plugin route, node, id and pwd reach the program through the host', async () => {
    const p = await open(locked, '/hullmon?plugin=docker&node=lab&id=7&pwd=s3cret');
    const { page, seen } = p;
    // The list came back through the rewritten host route past the password.
    assert.equal(await page.textContent('#badge'), 'docker');
    await rowButton(page, 0, 'logs').click();
    await until(page, () => document.getElementById('logBody').textContent === 'line one\nline two\n');
    await rowButton(page, 1, 'start').click();
    await until(page, () => window.__notes.includes('start db ok'));
    await until(page, () => window.__notes.at(-1) === '4 container(s) on this node' && window.__notes.length >= 3);
    await settled(seen);
    const ctx = '&node=lab&id=7&pwd=s3cret';
    assert.deepEqual(seen.requests.map((r) => [r.method, r.url, r.headers['x-kelm-password'], r.body ?? null]), [
      ['GET', `/plugins?plugin=docker?action=list&usage=0${ctx}`, 's3cret', null],
      ['GET', `/plugins?plugin=docker?action=list${ctx}`, 's3cret', null],
      ['GET', `/plugins?plugin=docker?action=logs&cid=${WEB.id}${ctx}`, 's3cret', null],
      ['POST', `/plugins?plugin=docker?action=control${ctx}`, 's3cret', `op=start&cid=${DB.id}`],
      ['GET', `/plugins?plugin=docker?action=list${ctx}`, 's3cret', null],
    ]);
    await done(p);
  });

  const cases = [
    // page address, storage, list address, password header
    ['/hullmon?node=lab', { kelm_pwd_lab: 'from-node', kelm_active_pwd: 'from-active' },
      '/hullmon?action=list&node=lab&pwd=from-node', 'from-node'],
    ['/hullmon?node=lab', { kelm_pwd_other: 'x', kelm_active_pwd: 'from-active' },
      '/hullmon?action=list&node=lab&pwd=from-active', 'from-active'],
    ['/hullmon', { kelm_pwd_: 'x', kelm_active_pwd: 'from-active' },
      '/hullmon?action=list&pwd=from-active', 'from-active'],
    ['/hullmon?node=lab&pwd=addr', { kelm_pwd_lab: 'from-node', kelm_active_pwd: 'from-active' },
      '/hullmon?action=list&node=lab&pwd=addr', 'addr'],
    ['/hullmon?node=a%20b%26c&id=&pwd=p%2Bq+r', {},
      '/hullmon?action=list&node=a%20b%26c&pwd=p%2Bq%20r', 'p+q r'],
    ['/hullmon?plugin=&node=&id=x%2Fy', { kelm_active_pwd: '' },
      '/hullmon?action=list&id=x%2Fy', undefined],
  ];
  for (const [address, storage, want, header] of cases) {
    test(`context from ${address} and ${JSON.stringify(storage)}`, async () => {
      const p = await open(node, address, { storage });
      const quick = want.replace('action=list', 'action=list&usage=0');
      assert.deepEqual(p.seen.requests.map((r) => [r.url, r.headers['x-kelm-password']]), [[quick, header], [want, header]]);
      await done(p);
    });
  }
});

describe('a node password outside Latin-1', () => {
  // A browser refuses a header value outside ISO-8859-1 and with it the whole
  // request; the pwd parameter alone then carries the password, and passes.
  const cases = [
    // node password, the X-Kelm-Password header the page sends with it
    { what: 'Cyrillic', password: '\u043f\u0430\u0440\u043e\u043b\u044c', header: undefined },
    { what: 'an emoji', password: 'key \u{1F511}', header: undefined },
    { what: 'one past U+00FF', password: 'x\u0100', header: undefined },
    // Up to U+00FF the header goes too. It reaches the program in Latin-1,
    // not the node's UTF-8, so it does not match, and the pwd parameter
    // still lets the request through.
    { what: 'Latin-1 up to U+00FF', password: 'caf\u00e9\u00ff', header: 'caf\u00e9\u00ff' },
  ];
  const servers = new Map();
  before(async () => {
    const started = await Promise.all(cases.map((c) => startServer({ runtime: 'docker', password: c.password })));
    cases.forEach((c, i) => servers.set(c.password, started[i]));
  });
  after(async () => {
    await Promise.all([...servers.values()].map((s) => s.stop()));
  });

  for (const c of cases) {
    test(`${c.what}: the list loads and a control works`, async () => {
      const server = servers.get(c.password);
      const pwd = encodeURIComponent(c.password);
      const p = await open(server, `/hullmon?pwd=${pwd}`);
      const { page, seen } = p;
      assert.equal(await page.textContent('#badge'), 'docker');
      assert.equal(await noteText(page), '4 container(s) on this node');
      server.takeRecords();
      const full = fullListReply(page);
      await rowButton(page, 1, 'start').click();
      await full;
      await until(page, () => window.__notes.includes('start db ok'));
      await until(page, () => window.__notes.at(-1) === '4 container(s) on this node' && window.__notes.length >= 3);
      await settled(seen);
      assert.deepEqual(seen.requests.map((r) => [r.method, r.url, r.headers['x-kelm-password'], r.body ?? null]), [
        ['GET', `/hullmon?action=list&usage=0&pwd=${pwd}`, c.header, null],
        ['GET', `/hullmon?action=list&pwd=${pwd}`, c.header, null],
        ['POST', `/hullmon?action=control&pwd=${pwd}`, c.header, `op=start&cid=${DB.id}`],
        ['GET', `/hullmon?action=list&pwd=${pwd}`, c.header, null],
      ]);
      assert.deepEqual(runs(server), [`docker start ${DB.id}`, ...REFRESH_CMDS]);
      await done(p);
    });
  }
});

describe('theme', () => {
  const bg = { light: 'rgb(245, 245, 247)', dark: 'rgb(0, 0, 0)' };
  const cases = [
    // page query, storage, system preference, theme shown (and stored)
    ['?theme=dark', { kelm_theme: 'light' }, 'light', 'dark'],
    ['?theme=light', { kelm_theme: 'dark' }, 'dark', 'light'],
    ['?theme=lightest', {}, 'dark', 'light'],
    ['?x=1&theme=Light', { kelm_theme: 'light' }, 'dark', 'light'],
    ['', { kelm_theme: 'dark' }, 'light', 'dark'],
    ['', { kelm_theme: 'blue' }, 'light', 'light'],
    ['', {}, 'light', 'light'],
    ['', {}, 'dark', 'dark'],
  ];
  for (const [query, storage, colorScheme, want] of cases) {
    test(`theme ${want} from "${query}", ${JSON.stringify(storage)}, system ${colorScheme}`, async () => {
      const p = await open(node, '/hullmon' + query, { storage, colorScheme });
      const { page } = p;
      assert.deepEqual(await page.evaluate(() => [
        document.documentElement.getAttribute('data-theme'),
        localStorage.getItem('kelm_theme'),
        getComputedStyle(document.body).backgroundColor,
      ]), [want, want, bg[want]]);
      if (want === 'light' && query === '' && !storage.kelm_theme) await screenshot(page, 'dashboard-light');
      await done(p);
    });
  }

  test('Theme button, qvApplyTheme, qvTheme, the kelm-theme event and qv-theme messages', async () => {
    const p = await open(node, '/hullmon');
    const { page } = p;
    const state = () => page.evaluate(() => [
      document.documentElement.getAttribute('data-theme'), localStorage.getItem('kelm_theme'),
      window.qvTheme(), window.__events.slice()]);
    await page.evaluate(() => {
      window.__events = [];
      window.addEventListener('kelm-theme', (e) => window.__events.push(e.detail));
    });
    assert.equal(await page.locator('a[href="/"]').count(), 1, 'the back link is there');
    assert.equal(await page.isVisible('#themeBtn'), true);
    await page.click('#themeBtn');
    assert.deepEqual(await state(), ['light', 'light', 'light', []], 'the button tells no one');
    await page.click('#themeBtn');
    assert.deepEqual(await state(), ['dark', 'dark', 'dark', []]);

    await page.evaluate(() => window.qvApplyTheme('light'));
    assert.deepEqual(await state(), ['light', 'light', 'light', ['light']]);
    await page.evaluate(() => {
      localStorage.setItem('kelm_theme', 'marker');
      window.qvApplyTheme('light'); // already shown: nothing stored, no event
      window.qvApplyTheme('blue');
    });
    assert.deepEqual(await state(), ['light', 'marker', 'light', ['light']]);

    await page.evaluate(() => window.postMessage({ type: 'qv-theme', theme: 'dark' }, '*'));
    await until(page, () => document.documentElement.getAttribute('data-theme') === 'dark');
    await page.evaluate(() => {
      window.postMessage({ type: 'qv-theme', theme: 'blue' }, '*');
      window.postMessage('qv-theme', '*');
      window.postMessage({ type: 'other', theme: 'light' }, '*');
    });
    await sleep(200);
    assert.deepEqual(await state(), ['dark', 'dark', 'dark', ['light', 'dark']]);

    await page.evaluate(() => document.documentElement.setAttribute('data-theme', 'sepia'));
    assert.equal(await page.evaluate(() => window.qvTheme()), 'dark');
    await done(p);
  });

  const embeds = [
    // page query, embedded marker (Theme button hidden), back link written
    ['?embed=1', true, false],
    ['?embed=true&theme=light', true, false],
    ['?embed=0&embed=1', true, true],
    ['?embed=%31', false, false],
    ['?embed=10', false, true],
    ['?embed=TRUE', false, true],
  ];
  for (const [query, embedded, backLink] of embeds) {
    test(`embedding by ${query}`, async () => {
      const p = await open(node, '/hullmon' + query);
      const { page } = p;
      assert.equal(await page.evaluate(() => document.documentElement.classList.contains('embedded')), embedded);
      assert.equal(await page.isVisible('#themeBtn'), !embedded);
      assert.equal(await page.locator('a[href="/"]').count(), backLink ? 1 : 0);
      await done(p);
    });
  }

  test('a framing host answers qv-theme-request and steers the theme', async () => {
    fs.writeFileSync(path.join(node.www, 'host.html'), `<!DOCTYPE html><html><body><script>
window.asked = 0; window.heard = [];
addEventListener('message', function (e) {
  if (e.data && e.data.type === 'qv-theme-request') { asked++; e.source.postMessage({ type: 'qv-theme', theme: 'light' }, '*'); }
});
function frameWin() { return document.getElementById('f').contentWindow; }
</script><iframe id='f' src='/hullmon?embed=1&theme=dark' width='1000' height='700'
onload="frameWin().addEventListener('kelm-theme', function (e) { heard.push(e.detail); })"></iframe></body></html>`);
    const p = await open(node, '/host.html', { wait: false });
    const { page } = p;
    const frame = () => page.frame({ url: /\/hullmon\?embed=1/ });
    await until(page, () => document.getElementById('f').contentDocument?.getElementById('badge')?.textContent === 'docker');
    const f = frame();
    assert.deepEqual(await f.evaluate(() => [
      document.documentElement.getAttribute('data-theme'), localStorage.getItem('kelm_theme'),
      document.documentElement.classList.contains('embedded')]), ['light', 'light', true]);
    assert.equal(await f.isVisible('#themeBtn'), false);
    assert.equal(await page.evaluate(() => window.asked), 1);

    await page.evaluate(() => { window.heard.length = 0; frameWin().qvApplyTheme('dark'); });
    assert.equal(await page.evaluate(() => frameWin().qvTheme()), 'dark');
    assert.deepEqual(await page.evaluate(() => window.heard), ['dark']);
    await done(p);
  });
});

describe('robustness and layout', () => {
  test('a browser that refuses local storage still gets a working page', async () => {
    const p = await open(node, '/hullmon?node=lab', { refuseStorage: true, colorScheme: 'light' });
    const { page, seen } = p;
    assert.equal(await page.textContent('#badge'), 'docker');
    assert.equal(await page.locator('#rows tr').count(), 4);
    assert.deepEqual(seen.requests.map((r) => [r.url, r.headers['x-kelm-password']]),
      [['/hullmon?action=list&usage=0&node=lab', undefined], ['/hullmon?action=list&node=lab', undefined]]);
    // The system preference chose the theme, and nothing overrode it.
    assert.equal(await page.getAttribute('html', 'data-theme'), 'light');
    await page.click('#themeBtn');
    assert.equal(await page.getAttribute('html', 'data-theme'), 'dark');
    await page.evaluate(() => window.qvApplyTheme('light'));
    assert.equal(await page.getAttribute('html', 'data-theme'), 'light');
    await done(p);
  });

  test('a window 600px wide keeps only Name, State and Actions', async () => {
    const p = await open(node, '/hullmon', { viewport: { width: 600, height: 900 } });
    const { page } = p;
    const shown = (sel) => page.$$eval(sel, (els) => els.map((e) => getComputedStyle(e).display !== 'none'));
    const want = [false, true, false, true, false, false, true];
    assert.deepEqual(await shown('thead th'), want);
    assert.deepEqual(await shown('#rows tr:first-child td'), want);
    // Nothing sticks out sideways.
    assert.equal(await page.evaluate(() => document.documentElement.scrollWidth <= 600), true);
    await screenshot(page, 'dashboard-narrow');
    await done(p);
  });
});
