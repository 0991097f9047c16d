// What every real-runtime test script shares: named checks and their tally,
// whole-value comparison, cleanups that run at the end and on a signal,
// child processes, hullmon run as a CGI program, the containers the engine
// tests create, lighttpd started from the deployed configuration, and HTTP
// requests whose reply comes back in the program's own head form.
//
// No npm packages: Node's standard library only. Importing this module
// installs the signal handlers that run the cleanups.

import { spawnSync, spawn } from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import { request as httpRequest } from "node:http";

// ---------------------------------------------------------------- fixed texts

// The head of every JSON reply, and of the page.
export const JSON_HEAD =
  "Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n";
export const PAGE_HEAD =
  "Content-Type: text/html; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n";
// The time text of a reply's utc field.
export const UTC_RE = /^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ$/;
export const SYS_PATH = "/usr/sbin:/usr/bin:/sbin:/bin";
// The busybox image scripts/sandbox.sh loads into podman and into dockerd.
export const IMAGE = "localhost/hullmon-sandbox:latest";

// The value of --NAME on the command line, as an absolute path.
export function opt(name) {
  const args = process.argv.slice(2);
  const i = args.indexOf("--" + name);
  if (i < 0 || i + 1 >= args.length) throw new Error("missing --" + name);
  return path.resolve(args[i + 1]);
}

// ---------------------------------------------------------------- checks

let passed = 0;
let failed = 0;

// Runs one named check; a throw fails it, and the run goes on.
export async function check(name, fn) {
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
export class Mismatch extends Error {}
// Compares whole values through their JSON texts.
export function eq(actual, expected, what) {
  const a = JSON.stringify(actual);
  const b = JSON.stringify(expected);
  if (a !== b) throw new Mismatch((what || "value") + "\n     got:      " + a + "\n     expected: " + b);
}
export function ok(cond, what) {
  if (!cond) throw new Mismatch(what);
}
// Ends the script as skipped (CTest's SKIP_RETURN_CODE), after the
// cleanups: a test installs nothing, tests/runtime/setup.sh does.
export function skip(why) {
  cleanupNow();
  console.log("skipped: " + why);
  process.exit(77);
}

// Runs a script's checks; a throw outside any check (while setting up)
// counts as one more failure, labelled `label`. Then runs the cleanups,
// prints the tally and exits: 0 only when something passed and nothing
// failed.
export async function runChecks(label, body) {
  try {
    await body();
  } catch (e) {
    failed++;
    console.log("FAIL " + label + "\n     " + String(e && e.stack ? e.stack : e));
  } finally {
    cleanupNow();
  }
  console.log(`${passed} passed, ${failed} failed`);
  process.exit(failed === 0 && passed > 0 ? 0 : 1);
}

// ---------------------------------------------------------------- cleanups

// Run last first, at the end of the checks and on SIGINT, SIGTERM or
// SIGHUP (CTest's timeout), so that a killed run leaves no server, engine
// or folder behind.
const cleanups = [];
export function atExit(fn) {
  cleanups.push(fn);
}
export function cleanupNow() {
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

// ---------------------------------------------------------------- processes

// Runs a command to its end: its output, error output, both, and status.
export function run(cmd, argv, opts = {}) {
  const r = spawnSync(cmd, argv, { encoding: "utf8", timeout: 60000, ...opts });
  if (r.error) throw r.error;
  return { out: r.stdout, err: r.stderr, all: r.stdout + r.stderr, status: r.status };
}
// As run, but a status other than 0 throws; returns the output.
export function must(cmd, argv, opts) {
  const r = run(cmd, argv, opts);
  if (r.status !== 0) throw new Error(cmd + " " + argv.join(" ") + " failed (" + r.status + "): " + r.all);
  return r.out;
}
export const sleep = (ms) => new Promise((res) => setTimeout(res, ms));

// Runs a command line the way hullmon does (through sh, error output
// joined) and returns the engine's own text and exit status, to compare
// a reply against.
export function engineSays(env, line) {
  const r = spawnSync("/bin/sh", ["-c", line + " 2>&1"], { encoding: "utf8", env });
  return { text: r.stdout, status: r.status };
}

// ---------------------------------------------------------------- replies

export function json(body) {
  try {
    return JSON.parse(body);
  } catch (e) {
    throw new Mismatch("reply is not JSON: " + body.slice(0, 2000));
  }
}
// The utc of a reply, once checked to be a time text of now.
export function utcOf(body) {
  const m = /"utc":"([^"]*)"/.exec(body);
  ok(m, "reply has no utc: " + body);
  ok(UTC_RE.test(m[1]), "utc is not a time text: " + m[1]);
  ok(Math.abs(Date.parse(m[1]) - Date.now()) < 120000, "utc is not now: " + m[1]);
  return m[1];
}
// The version lives in project() of the top CMakeLists.txt, and only there.
export function projectVersion(repo) {
  const m = /project\(\s*hullmon\s+VERSION\s+([0-9.]+)/.exec(fs.readFileSync(path.join(repo, "CMakeLists.txt"), "utf8"));
  if (!m) throw new Error("no version in project() of CMakeLists.txt");
  return m[1];
}

// One CGI run of hullmon with only the environment `env` and the request's
// own variables. Returns the whole output, the head (up to and with the
// blank line), the body, the process status and its error output.
export function cgi(hullmon, { query = "", method = "GET", body = null, env = {}, timeout = 60000 }) {
  const e = { QUERY_STRING: query, REQUEST_METHOD: method, ...env };
  if (body !== null) e.CONTENT_LENGTH = String(Buffer.byteLength(body));
  const r = spawnSync(hullmon, [], { env: e, input: body === null ? "" : body, encoding: "utf8", timeout });
  if (r.error) throw r.error;
  const cut = r.stdout.indexOf("\r\n\r\n");
  return {
    raw: r.stdout,
    head: cut < 0 ? r.stdout : r.stdout.slice(0, cut + 4),
    body: cut < 0 ? "" : r.stdout.slice(cut + 4),
    status: r.status,
    stderr: r.stderr,
  };
}

// get(query) and post(query, body): CGI runs of hullmon in one
// environment, each of which must end with exit status 0 and nothing on
// standard error.
export function cgiAccess(hullmon, env, { timeout = 60000 } = {}) {
  const done = (r) => {
    eq(r.status, 0, "hullmon's exit status");
    eq(r.stderr, "", "hullmon's standard error");
    return r;
  };
  return {
    get: (query) => done(cgi(hullmon, { query, env, timeout })),
    post: (query, body) => done(cgi(hullmon, { query, method: "POST", body, env, timeout })),
  };
}

// ---------------------------------------------------------------- test containers

// The containers the engine tests create (named hmt-*), and the state each
// must be listed in.
export const SAMPLES = [
  { name: "hmt-logs", state: "running", script: 'echo "first line"; echo "second	line with a tab"; echo "third line"; trap "exit 0" TERM; while :; do sleep 1; done' },
  { name: "hmt-ctl", state: "running", script: 'trap "exit 0" TERM; echo "ctl up"; while :; do sleep 1; done' },
  { name: "hmt-many", state: "exited", script: 'i=1; while [ $i -le 150 ]; do echo "line $i"; i=$((i+1)); done' },
  { name: "hmt-fail", state: "exited", script: 'echo "failing on purpose"; exit 3' },
  { name: "hmt-paused", state: "paused", script: 'trap "exit 0" TERM; while :; do sleep 1; done' },
  { name: "hmt-new", state: "created", script: "sleep 1" },
];

// Creates SAMPLES through an engine's client: engine(...args) runs it and
// returns its output, throwing when it fails. `extra`: options given to
// every container. Returns once each is in its state and hmt-logs has
// printed its lines.
export async function createSamples(engine, extra = []) {
  for (const s of SAMPLES) {
    const common = ["--name", s.name, ...extra, "--network", "none", "--stop-timeout", "3", IMAGE, "sh", "-c", s.script];
    if (s.state === "created") engine("create", ...common);
    else engine("run", "-d", ...common);
  }
  // Poll rather than `podman wait`, which can take tens of seconds to see
  // an exit when it runs without a terminal. podman says "stopped" of a
  // container whose process ended on its own.
  for (let i = 0; ; i++) {
    const states = ["hmt-many", "hmt-fail"].map((n) => engine("inspect", "--format", "{{.State.Status}}", n).trim());
    if (states.every((st) => st === "exited" || st === "stopped")) break;
    if (i > 100) throw new Error("hmt-many and hmt-fail did not end: " + states);
    await sleep(100);
  }
  engine("pause", "hmt-paused");
  // The log lines of a detached container arrive a moment after it starts.
  for (let i = 0; i < 50; i++) {
    if (engine("logs", "hmt-logs").split("\n").length >= 4) return;
    await sleep(100);
  }
  throw new Error("hmt-logs printed nothing");
}

// ---------------------------------------------------------------- servers

function portFree(port) {
  return new Promise((res) => {
    const s = net.createServer();
    s.once("error", () => res(false));
    s.listen(port, "127.0.0.1", () => s.close(() => res(true)));
  });
}
// A port on 127.0.0.1 that nothing listens on now; a server may still lose
// it to another before it binds, so callers try again with another.
export async function freePort() {
  for (;;) {
    const port = 20000 + Math.floor(Math.random() * 30000);
    if (await portFree(port)) return port;
  }
}

// lighttpd in the foreground with deploy/lighttpd.conf.in filled in for
// 127.0.0.1 on a free port, serving `hullmon` and deploy/host/, its
// environment `env`. edit(conf) may change the configuration text first.
// runAs ({ name, uid, gid }): lighttpd, started as root, runs as that user
// once it listens, and its state folder is that user's (it opens its logs
// after the switch). Stopped at exit. Returns its base URL, its pid and its state folder
// (its error and access logs).
export async function startLighttpd(hullmon, repo, env, edit = (conf) => conf, runAs = null) {
  const tpl = fs.readFileSync(path.join(repo, "deploy", "lighttpd.conf.in"), "utf8");
  const state = fs.mkdtempSync(path.join(os.tmpdir(), "hullmon-lighttpd-"));
  atExit(() => fs.rmSync(state, { recursive: true, force: true }));
  if (runAs) fs.chownSync(state, runAs.uid, runAs.gid);
  const user = runAs ? `server.username = "${runAs.name}"\nserver.groupname = "${runAs.name}"\n` : "";
  const bin = fs.existsSync("/usr/sbin/lighttpd") ? "/usr/sbin/lighttpd" : "lighttpd";
  for (let attempt = 0; attempt < 5; attempt++) {
    const port = await freePort();
    const conf = tpl
      .replaceAll("@BIND@", "127.0.0.1")
      .replaceAll("@PORT@", String(port))
      .replaceAll("@HULLMON@", hullmon)
      .replaceAll("@DOCROOT@", path.join(repo, "deploy", "host"))
      .replaceAll("@STATE_DIR@", state);
    fs.writeFileSync(path.join(state, "lighttpd.conf"), edit(conf) + user);
    fs.writeFileSync(path.join(state, "error.log"), "");
    if (runAs) fs.chownSync(path.join(state, "error.log"), runAs.uid, runAs.gid);
    const child = spawn(bin, ["-D", "-f", path.join(state, "lighttpd.conf")], { env, stdio: "ignore" });
    let exited = false;
    child.on("exit", () => (exited = true));
    const stop = () => {
      if (!exited) child.kill("SIGTERM");
    };
    for (let i = 0; i < 50 && !exited; i++) {
      if (fs.readFileSync(path.join(state, "error.log"), "utf8").includes("server started")) {
        atExit(stop);
        console.log("lighttpd listens on 127.0.0.1:" + port);
        return { base: "http://127.0.0.1:" + port, pid: child.pid, state };
      }
      await sleep(100);
    }
    stop();
  }
  throw new Error("lighttpd did not start: " + fs.readFileSync(path.join(state, "error.log"), "utf8"));
}

// http(url, init) for the server at `base`: one request on a fresh
// connection. init: method, headers, body, and abortAfterMs (the client
// hangs up that long after sending). The reply's head comes back in the
// program's own form (a Status line for anything but 200, then the three
// head lines the program writes, as the server passed them on), so that a
// whole reply is compared as one text; `at` is when it ended. A reply cut
// short, or a connection reset, fails the request.
export function httpClient(base) {
  return (url, init = {}) =>
    new Promise((resolve, reject) => {
      const u = new URL(base + url);
      const body = init.body === undefined ? undefined : Buffer.from(init.body);
      const headers = { ...(init.headers || {}) };
      if (body) headers["Content-Length"] = String(body.length);
      const req = httpRequest({ host: u.hostname, port: u.port, path: url, method: init.method || "GET", headers, agent: false }, (res) => {
        const chunks = [];
        res.on("data", (c) => chunks.push(c));
        res.on("aborted", () => reject(new Error("reply cut short: " + url)));
        res.on("error", reject);
        res.on("end", () => {
          const data = Buffer.concat(chunks);
          let head = res.statusCode === 200 ? "" : `Status: ${res.statusCode} ${res.statusMessage}\r\n`;
          for (const n of ["Content-Type", "Cache-Control", "X-Content-Type-Options"]) {
            const v = res.headers[n.toLowerCase()];
            if (v !== undefined) head += n + ": " + v + "\r\n";
          }
          const length = res.headers["content-length"];
          if (length !== undefined && Number(length) !== data.length) {
            reject(new Error("Content-Length " + length + " but " + data.length + " bytes: " + url));
          }
          resolve({ status: res.statusCode, head: head + "\r\n", body: data.toString("utf8"), at: Date.now() });
        });
      });
      req.on("error", reject);
      if (init.abortAfterMs) setTimeout(() => req.destroy(), init.abortAfterMs);
      req.setTimeout(60000, () => req.destroy(new Error("no answer in 60 s: " + url)));
      req.end(body);
    });
}

// ---------------------------------------------------------------- access logs

// The page sends the node password as the pwd parameter of every request,
// and the browser repeats the page's address as Referer. Through the server
// at `http`: a page load, a control request (a start of the running
// container `cid`) and a logs request through the plugin route, each with
// the password so, as the page sends them. Then the server's access log
// `logFile` may hold the password in no form, from its first line on (the
// checks before sent it too), and the request part (the first quoted field)
// of the log's last three lines, those of these requests, comes back for
// the caller to compare whole.
export async function accessLogged(http, logFile, password, cid) {
  const size = () => (fs.existsSync(logFile) ? fs.statSync(logFile).size : 0);
  const from = size();
  const pwd = "pwd=" + encodeURIComponent(password);
  const page = "/hullmon?embed=1&plugin=docker&node=local&" + pwd;
  const referer = { Referer: "http://127.0.0.1" + page };
  eq((await http(page)).status, 200, "page status");
  const control = await http("/hullmon?action=control&" + pwd, { method: "POST", body: "op=start&cid=" + cid,
    headers: { ...referer, "Content-Type": "application/x-www-form-urlencoded" } });
  eq(control.status, 200, "control status");
  eq((await http("/plugins?plugin=docker?action=logs&cid=" + cid + "&" + pwd, { headers: referer })).status, 200, "logs status");
  // A server may write a request's line just after its reply, and lighttpd
  // writes its access log every few seconds: wait for three new lines and
  // then for the log to stay the same a while.
  const added = () => fs.readFileSync(logFile).subarray(from).toString("utf8").split("\n").filter(Boolean);
  for (let i = 0, last = -1, still = 0; i < 100 && !(added().length >= 3 && still >= 5); i++) {
    still = size() === last ? still + 1 : 0;
    last = size();
    await sleep(100);
  }
  const whole = fs.readFileSync(logFile, "utf8");
  for (const form of new Set([password, encodeURIComponent(password), encodeURIComponent(password).replaceAll("%20", "+"),
    password.replaceAll(" ", "+"), "pwd="])) {
    ok(!whole.includes(form), "the access log holds " + JSON.stringify(form) + ":\n" + whole);
  }
  return added().slice(-3).map((line) => (/"([^"]*)"/.exec(line) || ["", line])[1]);
}
