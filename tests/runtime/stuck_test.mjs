// A runtime that never answers, through lighttpd: the way a stuck daemon
// makes every `docker` call hang on a real node. With HULLMON_TIMEOUT=2,
// concurrent lists all get the timed-out reply, and neither the requests
// that were answered nor one whose client hung up leave a hullmon or a
// runtime process behind.
//
// Usage: node stuck_test.mjs --hullmon PATH --repo DIR
// No npm packages: Node's standard library only. Needs lighttpd
// (tests/runtime/setup.sh installs it); no container engine.

import { spawn } from "node:child_process";
import crypto from "node:crypto";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { request as httpRequest } from "node:http";

const args = process.argv.slice(2);
function opt(name) {
  const i = args.indexOf("--" + name);
  if (i < 0 || i + 1 >= args.length) throw new Error("missing --" + name);
  return path.resolve(args[i + 1]);
}
const HULLMON = opt("hullmon");
const REPO = opt("repo");
const TIMEOUT_S = 2;
const CONCURRENT = 20;
const JSON_HEAD =
  "Content-Type: application/json; charset=utf-8\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n\r\n";
const UTC_RE = /"utc":"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)"/;

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
const sleep = (ms) => new Promise((res) => setTimeout(res, ms));

const cleanups = [];
function atExit(fn) {
  cleanups.push(fn);
}
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

// ---------------------------------------------------------------- the stuck runtime

// Every name this test gives its runtime carries MARK, so that each process
// of it can be found in /proc: the runtime script and its sleep by their
// command line and name, hullmon by the DOCKER_BIN it got from lighttpd.
const MARK = "hmstk" + crypto.randomBytes(3).toString("hex");
const RT_DIR = fs.mkdtempSync(path.join(os.tmpdir(), MARK + "-"));
atExit(() => fs.rmSync(RT_DIR, { recursive: true, force: true }));
const RUNTIME = path.join(RT_DIR, MARK);
// A sleep of its own name, so that the runtime's child is marked as well.
const SLEEP = path.join(RT_DIR, MARK + "s");
function sleepProgram() {
  for (const p of ["/usr/bin/sleep", "/bin/sleep"]) if (fs.existsSync(p)) return p;
  throw new Error("no sleep program");
}
fs.symlinkSync(sleepProgram(), SLEEP);
// The runtime waits on a child, as a client waits on a daemon that does not
// answer; whoever ends it must end the child too.
fs.writeFileSync(RUNTIME, `#!/bin/sh\n'${SLEEP}' 100000\n`, { mode: 0o755 });
// Readable and runnable by whichever user lighttpd runs its programs as.
fs.chmodSync(RT_DIR, 0o755);

function readProc(pid, what) {
  try {
    return fs.readFileSync(`/proc/${pid}/${what}`, "latin1");
  } catch {
    return "";
  }
}

// The processes that carry MARK, other than lighttpd itself (whose own
// environment holds DOCKER_BIN too): [{pid, kind, text}], kind being
// "hullmon" or "runtime".
let lighttpdPid = -1;
function marked() {
  const found = [];
  for (const name of fs.readdirSync("/proc")) {
    if (!/^\d+$/.test(name)) continue;
    const pid = Number(name);
    if (pid === lighttpdPid || pid === process.pid) continue;
    const cmdline = readProc(pid, "cmdline").replaceAll("\0", " ").trim();
    const stat = readProc(pid, "stat");
    // comm stays readable for a zombie, whose command line is empty.
    const comm = stat.slice(stat.indexOf("(") + 1, stat.lastIndexOf(")"));
    const state = stat.slice(stat.lastIndexOf(")") + 2, stat.lastIndexOf(")") + 3);
    const text = `${pid} [${state}] ${comm}: ${cmdline}`;
    if (cmdline.includes(MARK) || comm.startsWith(MARK)) found.push({ pid, kind: "runtime", text });
    else if (readProc(pid, "environ").includes(MARK)) found.push({ pid, kind: "hullmon", text });
  }
  return found;
}

// Waits up to ms for every marked process to be gone; returns those left.
async function leftAfter(ms) {
  const until = Date.now() + ms;
  for (;;) {
    const left = marked();
    if (left.length === 0 || Date.now() >= until) return left;
    await sleep(100);
  }
}

// A failed run must not leave sleeps for the next one: end what is left,
// each by its own pid (all of it was started by this test's lighttpd).
atExit(() => {
  for (const p of marked()) {
    try {
      process.kill(p.pid, "SIGKILL");
    } catch {}
  }
});

// ---------------------------------------------------------------- lighttpd

function freePort() {
  return 20000 + Math.floor(Math.random() * 30000);
}

// The deployed configuration, with HULLMON_TIMEOUT handed to the program
// from lighttpd's environment like the other settings.
function configuration(port, state) {
  let conf = fs.readFileSync(path.join(REPO, "deploy", "lighttpd.conf.in"), "utf8")
    .replaceAll("@BIND@", "127.0.0.1")
    .replaceAll("@PORT@", String(port))
    .replaceAll("@HULLMON@", HULLMON)
    .replaceAll("@DOCROOT@", path.join(REPO, "deploy", "host"))
    .replaceAll("@STATE_DIR@", state);
  if (!/"HULLMON_TIMEOUT"\s*=>/.test(conf)) {
    const at = conf.indexOf("setenv.set-environment = (");
    ok(at >= 0, "deploy/lighttpd.conf.in has no setenv.set-environment");
    const end = conf.indexOf("\n", at) + 1;
    conf = conf.slice(0, end) + '    "HULLMON_TIMEOUT" => env.HULLMON_TIMEOUT,\n' + conf.slice(end);
  }
  return conf;
}

async function startLighttpd(env) {
  const state = fs.mkdtempSync(path.join(os.tmpdir(), "hullmon-lighttpd-"));
  atExit(() => fs.rmSync(state, { recursive: true, force: true }));
  const bin = fs.existsSync("/usr/sbin/lighttpd") ? "/usr/sbin/lighttpd" : "lighttpd";
  for (let attempt = 0; attempt < 5; attempt++) {
    const port = freePort();
    fs.writeFileSync(path.join(state, "lighttpd.conf"), configuration(port, state));
    fs.writeFileSync(path.join(state, "error.log"), "");
    const child = spawn(bin, ["-D", "-f", path.join(state, "lighttpd.conf")], { env, stdio: "ignore" });
    let exited = false;
    child.on("exit", () => (exited = true));
    const stop = () => {
      if (!exited) child.kill("SIGTERM");
    };
    for (let i = 0; i < 50 && !exited; i++) {
      if (fs.readFileSync(path.join(state, "error.log"), "utf8").includes("server started")) {
        atExit(stop);
        lighttpdPid = child.pid;
        console.log("lighttpd listens on 127.0.0.1:" + port);
        return "http://127.0.0.1:" + port;
      }
      await sleep(100);
    }
    stop();
  }
  throw new Error("lighttpd did not start: " + fs.readFileSync(path.join(state, "error.log"), "utf8"));
}

// One request on a fresh connection. The reply comes back as a head text in
// the program's own form (a Status line for anything but 200, then the
// three head lines the program writes, as lighttpd passed them on) and the
// body. abortAfterMs: the client hangs up that long after sending.
function http(base, url, { abortAfterMs = 0 } = {}) {
  return new Promise((resolve, reject) => {
    const u = new URL(base + url);
    const req = httpRequest({ host: u.hostname, port: u.port, path: url, agent: false }, (res) => {
      const chunks = [];
      res.on("data", (c) => chunks.push(c));
      res.on("end", () => {
        let head = res.statusCode === 200 ? "" : `Status: ${res.statusCode} ${res.statusMessage}\r\n`;
        for (const n of ["Content-Type", "Cache-Control", "X-Content-Type-Options"]) {
          const v = res.headers[n.toLowerCase()];
          if (v !== undefined) head += n + ": " + v + "\r\n";
        }
        resolve({ head: head + "\r\n", body: Buffer.concat(chunks).toString("utf8"), at: Date.now() });
      });
    });
    req.on("error", reject);
    if (abortAfterMs) setTimeout(() => req.destroy(), abortAfterMs);
    req.setTimeout(60000, () => req.destroy(new Error("no answer from lighttpd")));
    req.end();
  });
}

// The reply of a list whose listing did not end in time, utc aside.
const TIMED_OUT_LIST =
  '{"ok":true,"action":"list","plugin":"hullmon","slug":"docker","version":"1.1.2",' +
  '"runtime":{"available":true,"bin":' + JSON.stringify(RUNTIME) + ',"label":"custom"},' +
  '"daemon_available":false,"error":"hullmon: timed out after ' + TIMEOUT_S + ' s\\n","utc":"UTC","count":0,' +
  '"summary":{"total":0,"running":0,"exited":0,"paused":0,"other":0},"containers":[]}\n';

// Watches the marked processes until stop() is called; returns the kinds
// seen, so a check can show that its finder did see the processes it then
// finds gone.
function watchMarked() {
  const seen = new Set();
  let on = true;
  const done = (async () => {
    while (on) {
      for (const p of marked()) seen.add(p.kind);
      await sleep(50);
    }
  })();
  return { seen, stop: async () => ((on = false), await done, seen) };
}

// ---------------------------------------------------------------- checks

async function main() {
  const base = await startLighttpd({
    KELM_PASSWORD: "",
    DOCKER_BIN: RUNTIME,
    DOCKER_HOST: "",
    HULLMON_TIMEOUT: String(TIMEOUT_S),
    PATH: "/usr/sbin:/usr/bin:/sbin:/bin",
  });

  await check(`${CONCURRENT} concurrent lists with a stuck runtime all get the timed-out reply, and nothing is left`, async () => {
    const watch = watchMarked();
    const t0 = Date.now();
    const replies = await Promise.all(Array.from({ length: CONCURRENT }, () => http(base, "/hullmon?action=list")));
    const seen = await watch.stop();
    eq([...seen].sort(), ["hullmon", "runtime"], "processes seen while the requests ran");
    for (const [i, r] of replies.entries()) {
      const m = UTC_RE.exec(r.body);
      ok(m && Math.abs(Date.parse(m[1]) - Date.now()) < 120000, `reply ${i} has no utc of now: ${r.body}`);
      eq([i, r.head, r.body.replace(m[0], '"utc":"UTC"')], [i, JSON_HEAD, TIMED_OUT_LIST], "reply " + i);
      ok(r.at - t0 < 10000, `reply ${i} came after ${r.at - t0} ms: the deadline did not end the request`);
    }
    eq((await leftAfter(5000)).map((p) => p.text), [], "processes left after the replies");
  });

  await check("a client that hangs up leaves no hullmon and no runtime process behind", async () => {
    const watch = watchMarked();
    const t0 = Date.now();
    const outcome = await http(base, "/hullmon?action=list", { abortAfterMs: 500 }).then(
      (r) => "a reply: " + r.body,
      (e) => e.code || e.message,
    );
    eq(outcome, "ECONNRESET", "the request ends by the client's hang-up");
    // lighttpd as deployed does not pass a client's hang-up on to its CGI
    // program (not even reliably with cgi.limits "tcp-fin-propagate"), so
    // it is the deadline and its second of grace that must end the run:
    // look once they are past.
    const seen = await watch.stop();
    eq([...seen].sort(), ["hullmon", "runtime"], "processes seen before the hang-up");
    await sleep(Math.max(0, t0 + (TIMEOUT_S + 1) * 1000 + 500 - Date.now()));
    eq((await leftAfter(5000)).map((p) => p.text), [], "processes left after the deadline");
  });
}

if (!fs.existsSync("/usr/sbin/lighttpd")) {
  console.log("skipped: lighttpd is missing (tests/runtime/setup.sh installs it)");
  process.exit(77);
}
try {
  await main();
} catch (e) {
  failed++;
  console.log("FAIL setup\n     " + String(e && e.stack ? e.stack : e));
} finally {
  cleanupNow();
}
console.log(`${passed} passed, ${failed} failed`);
process.exit(failed === 0 && passed > 0 ? 0 : 1);
