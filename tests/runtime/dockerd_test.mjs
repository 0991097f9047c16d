// hullmon against a real Docker Engine: Debian's dockerd, started for this
// test alone by scripts/sandbox.sh (data in the sandbox folder, its own
// socket, no bridge network, the busybox image imported), reached through
// the real docker client found on PATH, as on a node that runs Docker.
//
// Usage: node dockerd_test.mjs --hullmon PATH --sandbox DIR --repo DIR
// No npm packages: Node's standard library only. The engine is stopped and
// its files removed at the end, also when a check fails; the CTest test
// runtime/dockerd-cleanup does the same after a killed run.

import { spawnSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";

const args = process.argv.slice(2);
function opt(name) {
  const i = args.indexOf("--" + name);
  if (i < 0 || i + 1 >= args.length) throw new Error("missing --" + name);
  return path.resolve(args[i + 1]);
}
const HULLMON = opt("hullmon");
const SANDBOX = opt("sandbox");
const REPO = opt("repo");
const SANDBOX_SH = path.join(REPO, "scripts", "sandbox.sh");
const DOCKER_CLIENT = "/usr/bin/docker"; // Debian's docker.io client
const IMAGE = "localhost/hullmon-sandbox:latest"; // what sandbox.sh imports
const SYS_PATH = "/usr/sbin:/usr/bin:/sbin:/bin";
const JSON_HEAD =
  "Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n";
const LIST_ARGS = "ps -a --format {{.ID}}|{{.Names}}|{{.Image}}|{{.State}}|{{.Status}}|{{.Ports}}";
const STATS_ARGS = "stats --no-stream --format {{.ID}}|{{.CPUPerc}}|{{.MemUsage}}";
const UTC_RE = /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/;

// ---------------------------------------------------------------- harness

let passed = 0;
let failed = 0;
async function check(name, fn) {
  const t0 = Date.now();
  try {
    await fn();
    passed++;
    console.log("ok   " + name + " (" + ((Date.now() - t0) / 1000).toFixed(1) + " s)");
  } catch (e) {
    failed++;
    console.log("FAIL " + name + "\n     " + String(e && e.stack ? e.stack : e).split("\n").join("\n     "));
  }
}
class Mismatch extends Error {}
function eq(actual, expected, what) {
  const a = JSON.stringify(actual);
  const b = JSON.stringify(expected);
  if (a !== b) throw new Mismatch((what || "value") + "\n     got:      " + a + "\n     expected: " + b);
}
function ok(cond, what) {
  if (!cond) throw new Mismatch(what);
}
function skip(why) {
  console.log("skipped: " + why);
  process.exit(77);
}

const cleanups = [];
function cleanupNow() {
  while (cleanups.length) {
    try {
      cleanups.pop()();
    } catch (e) {
      console.log("cleanup: " + e);
    }
  }
}
for (const sig of ["SIGINT", "SIGTERM", "SIGHUP"]) {
  process.on(sig, () => {
    cleanupNow();
    process.exit(1);
  });
}

// ---------------------------------------------------------------- helpers

function run(cmd, argv, opts = {}) {
  const r = spawnSync(cmd, argv, { encoding: "utf8", timeout: 120000, ...opts });
  if (r.error) throw r.error;
  return { out: r.stdout, err: r.stderr, all: r.stdout + r.stderr, status: r.status };
}
let ENGINE_ENV = null; // the real client's environment once the engine runs
function docker(...a) {
  const r = run(DOCKER_CLIENT, a, { env: ENGINE_ENV });
  if (r.status !== 0) throw new Error("docker " + a.join(" ") + " failed (" + r.status + "): " + r.all);
  return r.out;
}
const inspect = (what, name) => docker("inspect", "--format", what, name).trim();
const sleep = (ms) => new Promise((res) => setTimeout(res, ms));

// Runs a command line the way hullmon does (through sh, error output
// joined) and returns the engine's own text and exit status.
function engineSays(line) {
  const r = spawnSync("/bin/sh", ["-c", line + " 2>&1"], { encoding: "utf8", env: ENGINE_ENV });
  return { text: r.stdout, status: r.status };
}

// One CGI run of hullmon; it must end with status 0 and write nothing to
// standard error.
function cgi(env, { query = "", method = "GET", body = null }) {
  const e = { QUERY_STRING: query, REQUEST_METHOD: method, ...env };
  if (body !== null) e.CONTENT_LENGTH = String(Buffer.byteLength(body));
  const r = spawnSync(HULLMON, [], { env: e, input: body === null ? "" : body, encoding: "utf8", timeout: 120000 });
  if (r.error) throw r.error;
  eq(r.status, 0, "hullmon's exit status");
  eq(r.stderr, "", "hullmon's standard error");
  const cut = r.stdout.indexOf("\r\n\r\n");
  return { head: cut < 0 ? r.stdout : r.stdout.slice(0, cut + 4), body: cut < 0 ? "" : r.stdout.slice(cut + 4) };
}
function utcOf(body) {
  const m = /"utc":"([^"]*)"/.exec(body);
  ok(m, "reply has no utc: " + body);
  ok(UTC_RE.test(m[1]), "utc is not a time text: " + m[1]);
  ok(Math.abs(Date.parse(m[1]) - Date.now()) < 120000, "utc is not now: " + m[1]);
  return m[1];
}

// A folder whose only `docker` runs the real client and keeps what it
// printed, with its exit status, one record per call: the list reply is
// then held whole against the very output the engine gave hullmon.
function recordingClient() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "hullmon-dockerd-client-"));
  cleanups.push(() => fs.rmSync(dir, { recursive: true, force: true }));
  const rec = path.join(dir, "calls");
  fs.mkdirSync(rec);
  fs.writeFileSync(path.join(dir, "docker"),
    "#!/bin/sh\n" +
    `rec='${rec}'\n` +
    'n=$(( $(cat "$rec/n" 2>/dev/null || echo 0) + 1 )); echo $n >"$rec/n"\n' +
    'printf "%s\\n" "$*" >"$rec/$n.args"\n' +
    `'${DOCKER_CLIENT}' "$@" >"$rec/$n.out" 2>&1\n` +
    'rc=$?; echo $rc >"$rec/$n.rc"; cat "$rec/$n.out"; exit $rc\n', { mode: 0o755 });
  return {
    dir,
    // The calls since the last take: [{ args, out, rc }].
    take() {
      const n = fs.existsSync(path.join(rec, "n")) ? Number(fs.readFileSync(path.join(rec, "n"), "utf8")) : 0;
      const calls = [];
      for (let i = 1; i <= n; i++) {
        calls.push({ args: fs.readFileSync(path.join(rec, i + ".args"), "utf8").replace(/\n$/, ""),
          out: fs.readFileSync(path.join(rec, i + ".out"), "utf8"), rc: Number(fs.readFileSync(path.join(rec, i + ".rc"), "utf8")) });
        for (const ext of ["args", "out", "rc"]) fs.rmSync(path.join(rec, i + "." + ext));
      }
      fs.rmSync(path.join(rec, "n"), { force: true });
      return calls;
    },
  };
}

// ---------------------------------------------------------------- containers

const SAMPLES = [
  { name: "hmt-logs", state: "running", script: 'echo "first line"; echo "second	line with a tab"; echo "third line"; trap "exit 0" TERM; while :; do sleep 1; done' },
  { name: "hmt-ctl", state: "running", script: 'trap "exit 0" TERM; echo "ctl up"; while :; do sleep 1; done' },
  { name: "hmt-many", state: "exited", script: 'i=1; while [ $i -le 150 ]; do echo "line $i"; i=$((i+1)); done' },
  { name: "hmt-fail", state: "exited", script: 'echo "failing on purpose"; exit 3' },
  { name: "hmt-paused", state: "paused", script: 'trap "exit 0" TERM; while :; do sleep 1; done' },
  { name: "hmt-new", state: "created", script: "sleep 1" },
];

async function createContainers() {
  for (const s of SAMPLES) {
    const common = ["--name", s.name, "--network", "none", "--stop-timeout", "3", IMAGE, "sh", "-c", s.script];
    if (s.state === "created") docker("create", ...common);
    else docker("run", "-d", ...common);
  }
  for (let i = 0; ; i++) {
    const states = ["hmt-many", "hmt-fail"].map((n) => inspect("{{.State.Status}}", n));
    if (states.every((st) => st === "exited")) break;
    if (i > 100) throw new Error("hmt-many and hmt-fail did not end: " + states);
    await sleep(100);
  }
  docker("pause", "hmt-paused");
  // The log lines of a detached container arrive a moment after it starts.
  for (let i = 0; i < 50; i++) {
    if (docker("logs", "hmt-logs").split("\n").length >= 4) return;
    await sleep(100);
  }
  throw new Error("hmt-logs printed nothing");
}

// ---------------------------------------------------------------- the list oracle

// The list reply that the engine's own listing and usage output call for,
// for the well-formed output a Docker Engine gives: one line per
// container, six fields; usage lines of three fields keyed by a leading
// part of the id.
function expectedList(version, psOut, statsOut, utc) {
  const rows = psOut.split("\n").filter(Boolean).map((line) => {
    const f = line.split("|");
    if (f.length !== 6) throw new Mismatch("unexpected listing line from the engine: " + JSON.stringify(line));
    ok(["running", "paused", "exited", "created"].includes(f[3]), "unexpected state word from the engine: " + f[3]);
    return { id: f[0], short: f[0], name: f[1], image: f[2], state: f[3], status: f[4], ports: f[5], cpu: "", mem: "" };
  });
  for (const line of statsOut.split("\n").filter(Boolean)) {
    const f = line.split("|");
    if (f.length !== 3) throw new Mismatch("unexpected usage line from the engine: " + JSON.stringify(line));
    const row = rows.find((r) => r.id.startsWith(f[0]));
    if (row) Object.assign(row, { cpu: f[1], mem: f[2] });
  }
  const count = (st) => rows.filter((r) => r.state === st).length;
  const summary = { total: rows.length, running: count("running"), exited: count("exited"), paused: count("paused") };
  summary.other = rows.length - summary.running - summary.exited - summary.paused;
  return JSON.stringify({ ok: true, action: "list", plugin: "hullmon", slug: "docker", version,
    runtime: { available: true, bin: "docker", label: "docker" }, daemon_available: true, utc,
    count: rows.length, summary, containers: rows }) + "\n";
}

// ---------------------------------------------------------------- main

if (process.getuid && process.getuid() !== 0) skip("the Docker Engine runs as root here; run the test as root");
const missing = run(SANDBOX_SH, ["-d", SANDBOX, "missing", "docker"]).out.trim();
if (missing) skip("missing Debian packages: " + missing + " (tests/runtime/setup.sh installs them)");

cleanups.push(() => {
  const r = run(SANDBOX_SH, ["-d", SANDBOX, "undockerd"]);
  if (r.status !== 0) console.log("undockerd: " + r.all);
});
const started = run(SANDBOX_SH, ["-d", SANDBOX, "dockerd"]);
if (started.status !== 0) {
  cleanupNow();
  skip("the Docker Engine did not start here:\n" + started.all);
}
const HOST = started.out.trim();
ENGINE_ENV = { DOCKER_HOST: HOST, PATH: SYS_PATH };
console.log("Docker Engine at " + HOST);

try {
  const VERSION = run(HULLMON, ["--version"]).out.trim();
  await createContainers();
  const client = recordingClient();
  const env = { DOCKER_HOST: HOST, PATH: client.dir + ":" + SYS_PATH };
  const get = (query) => cgi(env, { query });
  const post = (query, body) => cgi(env, { query, method: "POST", body });

  await check("docker engine: info selects the docker client on PATH", async () => {
    const r = get("action=info");
    eq(r.head, JSON_HEAD, "head");
    eq(JSON.parse(r.body).runtime, { available: true, bin: "docker", label: "docker" }, "runtime");
    client.take();
  });

  await check("docker engine: list is the engine's own listing and usage, with states and counts", async () => {
    const t0 = Date.now();
    const r = get("action=list");
    console.log("     list took " + ((Date.now() - t0) / 1000).toFixed(1) + " s (the usage command waits for a second sample)");
    const calls = client.take();
    eq(calls.map((c) => [c.args, c.rc]), [[LIST_ARGS, 0], [STATS_ARGS, 0]], "commands hullmon ran and their exit status");
    eq(r.head, JSON_HEAD, "head");
    eq(r.body, expectedList(VERSION, calls[0].out, calls[1].out, utcOf(r.body)), "body");

    // What the reply must show whatever the engine printed: every test
    // container in the state it was put in, with the engine's full id,
    // and usage figures for exactly those that run (paused ones included,
    // as the engine reports them).
    const list = JSON.parse(r.body);
    eq(list.containers.map((c) => [c.name, c.state]).sort(), SAMPLES.map((s) => [s.name, s.state]).sort(), "names and states");
    eq(list.summary, { total: 6, running: 2, exited: 2, paused: 1, other: 1 }, "summary");
    for (const c of list.containers) {
      ok(inspect("{{.Id}}", c.name).startsWith(c.id) && c.id.length === 12, c.name + " id: " + c.id);
      eq(c.image, IMAGE, c.name + " image");
      const runs = c.state === "running" || c.state === "paused";
      ok(runs ? /^\d+\.\d\d%$/.test(c.cpu) : c.cpu === "", c.name + " cpu: " + JSON.stringify(c.cpu));
      ok(runs ? /^\d+(\.\d+)?[KMG]?i?B \/ \d+(\.\d+)?[KMGT]iB$/.test(c.mem) : c.mem === "", c.name + " mem: " + JSON.stringify(c.mem));
    }
  });

  await check("docker engine: logs return the container's output, the last 100 lines of a longer one", async () => {
    for (const [cid, lines] of [
      ["hmt-logs", ["first line", "second\tline with a tab", "third line"]],
      ["hmt-many", Array.from({ length: 100 }, (_, i) => "line " + (i + 51))],
    ]) {
      const r = get("action=logs&cid=" + cid);
      eq([cid, r.head], [cid, JSON_HEAD], "head");
      eq(r.body, JSON.stringify({ ok: true, action: "logs", cid, tail: 100, exit_code: 0, lines, text: lines.join("\n") + "\n" }) + "\n", cid + " body");
    }
    client.take();
  });

  for (const [op, state] of [["stop", "exited"], ["start", "running"], ["restart", "running"]]) {
    await check(`docker engine: control ${op} answers ok and the engine shows the container ${state}`, async () => {
      const before = inspect("{{.State.StartedAt}}", "hmt-ctl");
      const r = post("action=control", `op=${op}&cid=hmt-ctl`);
      eq(r.head, JSON_HEAD, "head");
      eq(r.body, JSON.stringify({ ok: true, action: "control", op, cid: "hmt-ctl", exit_code: 0, output: "hmt-ctl\n", utc: utcOf(r.body) }) + "\n", "body");
      eq(inspect("{{.State.Status}}", "hmt-ctl"), state, "state in the engine");
      if (op !== "stop") ok(inspect("{{.State.StartedAt}}", "hmt-ctl") !== before, op + " did not start the container anew");
      client.take();
    });
  }

  // Refusals come from the daemon; hullmon passes its words on with 409.
  for (const c of [
    { what: "start on a paused container", post: "op=start&cid=hmt-paused", line: "'docker' start hmt-paused", says: /cannot start a paused container/ },
    { what: "stop on a missing container", post: "op=stop&cid=hmt-nosuch", line: "'docker' stop hmt-nosuch", says: /No such container: hmt-nosuch/ },
    { what: "logs of a missing container", query: "action=logs&cid=hmt-nosuch", line: "'docker' logs --tail 100 hmt-nosuch", says: /No such container: hmt-nosuch/ },
  ]) {
    await check(`docker engine: ${c.what} gives 409 with the daemon's own message`, async () => {
      const r = c.post ? post("action=control", c.post) : get(c.query);
      const e = engineSays(c.line);
      ok(e.status !== 0 && c.says.test(e.text), "the engine itself should refuse: " + JSON.stringify(e));
      eq(r.head, "Status: 409 Conflict\r\n" + JSON_HEAD, "head");
      const [op, cid] = c.post ? c.post.split("&").map((kv) => kv.split("=")[1]) : [null, "hmt-nosuch"];
      const body = c.post
        ? { ok: false, action: "control", op, cid, exit_code: e.status, output: e.text, utc: utcOf(r.body) }
        : { ok: false, action: "logs", cid, tail: 100, exit_code: e.status, lines: e.text.split("\n").filter(Boolean), text: e.text };
      eq(r.body, JSON.stringify(body) + "\n", "body");
      client.take();
    });
  }
  await check("docker engine: the refused start left the container paused", async () => {
    eq(inspect("{{.State.Status}}", "hmt-paused"), "paused", "state in the engine");
  });
} catch (e) {
  failed++;
  console.log("FAIL setup\n     " + String(e && e.stack ? e.stack : e));
} finally {
  cleanupNow();
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 && passed > 0 ? 0 : 1);
