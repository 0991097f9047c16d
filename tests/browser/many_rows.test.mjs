// A node with thousands of containers: the page draws them all, and the
// search box and the state filter still find and count the right rows.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import {
  launchBrowser, listed, openPage, settled, startServer, tableTexts,
} from './harness.mjs';

const N = 3000;
const STATES = ['running', 'exited', 'paused', 'created'];
const STATUS = { running: 'Up 3 hours', exited: 'Exited (0) 5 minutes ago', paused: 'Up 3 hours (Paused)', created: 'Created' };

// Ids of 64 hex digits; every third container is running, so the counts
// of the four states differ.
const rows = Array.from({ length: N }, (_, i) => {
  const state = i % 3 === 0 ? 'running' : STATES[1 + (i % 4) % 3];
  return {
    id: (i + 1).toString(16).padStart(12, '0') + 'f'.repeat(52),
    name: `svc-${String(i).padStart(4, '0')}`,
    image: `registry.example/team/app-${i % 17}:1.${i % 5}`,
    state,
    ports: `0.0.0.0:${10000 + i}->80/tcp`,
  };
});
const files = {
  'ps.out': rows.map((c) => [c.id, c.name, c.image, c.state, STATUS[c.state], c.ports].join('|') + '\n').join(''),
  'stats.out': rows.filter((c) => c.state === 'running').map((c, i) => `${c.id.slice(0, 12)}|${i % 7}.${i % 100}%|${10 + (i % 90)}MiB / 7.6GiB\n`).join(''),
};
const count = (state) => rows.filter((c) => c.state === state).length;

let browser;
let node;

before(async () => {
  [browser, node] = await Promise.all([launchBrowser(), startServer({ runtime: 'docker' })]);
  node.setRuntime(files);
});

after(async () => {
  await Promise.all([browser?.close(), node?.stop()]);
});

test('3,000 rows: the table draws, search finds one of the last, the filter counts match the summary', async () => {
  const p = await openPage(browser, node, '/hullmon');
  const { page, seen } = p;
  await listed(page);
  await settled(seen);
  const tiles = await page.$$eval('.kpi .v', (els) => els.map((e) => e.textContent));
  assert.deepEqual(tiles, [String(N), String(count('running')), String(count('exited')), String(count('paused')), 'docker']);
  assert.equal(await page.textContent('#note'), `${N} container(s) on this node`);
  // The table draws its first rows at once and the rest as the user
  // scrolls down to its end.
  assert.equal(await page.locator('#rows tr').count(), 200);
  assert.equal(await page.textContent('#more'), `Showing 200 of ${N} containers; scroll for more.`);
  for (let drawn = 200; drawn < N;) {
    await page.locator('#more').scrollIntoViewIfNeeded();
    await page.waitForFunction((n) => document.querySelectorAll('#rows tr').length > n, drawn);
    drawn = await page.locator('#rows tr').count();
  }
  assert.equal(await page.locator('#rows tr').count(), N);
  assert.equal(await page.isVisible('#more'), false);
  // The last row is drawn whole, with its figures from the full list.
  const last = rows[N - 1];
  const lastRunning = rows.findLast((c) => c.state === 'running');
  const drawn = await tableTexts(page);
  assert.deepEqual(drawn.at(-1).slice(0, 4), [last.id.slice(0, 12), last.name, last.image, last.state]);
  assert.notEqual(drawn[rows.indexOf(lastRunning)][4], '\u2014');

  // Typed one key at a time, as a person does.
  await page.locator('#q').pressSequentially(rows[N - 2].name);
  assert.deepEqual((await tableTexts(page)).map((r) => r[1]), [rows[N - 2].name]);
  await page.fill('#q', `:${10000 + N - 5}->`);
  assert.deepEqual((await tableTexts(page)).map((r) => r[1]), [rows[N - 5].name]);
  await page.fill('#q', '');

  // How many rows pass each state: the count the table gives.
  const passing = async () => {
    const more = await page.textContent('#more');
    return more ? Number(/ of (\d+) /.exec(more)[1]) : page.locator('#rows tr').count();
  };
  for (const [state, tile] of [['running', '#k-run'], ['exited', '#k-exit'], ['paused', '#k-pause']]) {
    await page.selectOption('#state', state);
    assert.equal(String(await passing()), await page.textContent(tile), state);
  }
  await page.selectOption('#state', 'created');
  assert.equal(await passing(), count('created'));
  await page.selectOption('#state', '');
  assert.equal(await passing(), N);
  assert.deepEqual(seen.errors, []);
  await p.context.close();
});
