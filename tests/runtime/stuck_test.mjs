// A runtime that never answers, through lighttpd: the way a stuck daemon
// makes every `docker` call hang on a real node. With HULLMON_TIMEOUT=2,
// concurrent lists all get the timed-out reply, and neither the requests
// that were answered nor one whose client hung up leave a hullmon or a
// runtime process behind.
//
// Usage: node stuck_test.mjs --hullmon PATH --repo DIR
// No npm packages: Node's standard library only. Needs lighttpd
// (tests/runtime/setup.sh installs it); no container engine.

import crypto from "node:crypto";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { JSON_HEAD, SYS_PATH, atExit, check, eq, httpClient, ok, opt, projectVersion, runChecks, skip, sleep, startLighttpd, utcOf } from "./harness.mjs";

const HULLMON = opt("hullmon");
const REPO = opt("repo");
const TIMEOUT_S = 2;
const CONCURRENT = 20;

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

// The deployed configuration, with HULLMON_TIMEOUT handed to the program
// from lighttpd's environment like the other settings.
function withTimeout(conf) {
  if (/"HULLMON_TIMEOUT"\s*=>/.test(conf)) return conf;
  const at = conf.indexOf("setenv.set-environment = (");
  ok(at >= 0, "deploy/lighttpd.conf.in has no setenv.set-environment");
  const end = conf.indexOf("\n", at) + 1;
  return conf.slice(0, end) + '    "HULLMON_TIMEOUT" => env.HULLMON_TIMEOUT,\n' + conf.slice(end);
}

// The reply of a list whose listing did not end in time, utc aside.
const TIMED_OUT_LIST =
  '{"ok":true,"action":"list","plugin":"hullmon","slug":"docker","version":"' + projectVersion(REPO) + '",' +
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
  const lighttpd = await startLighttpd(HULLMON, REPO, {
    KELM_PASSWORD: "",
    DOCKER_BIN: RUNTIME,
    DOCKER_HOST: "",
    HULLMON_TIMEOUT: String(TIMEOUT_S),
    PATH: SYS_PATH,
  }, withTimeout);
  lighttpdPid = lighttpd.pid;
  const http = httpClient(lighttpd.base);

  await check(`${CONCURRENT} concurrent lists with a stuck runtime all get the timed-out reply, and nothing is left`, async () => {
    const watch = watchMarked();
    const t0 = Date.now();
    const replies = await Promise.all(Array.from({ length: CONCURRENT }, () => http("/hullmon?action=list")));
    const seen = await watch.stop();
    eq([...seen].sort(), ["hullmon", "runtime"], "processes seen while the requests ran");
    for (const [i, r] of replies.entries()) {
      const utc = utcOf(r.body);
      eq([i, r.head, r.body.replace('"utc":"' + utc + '"', '"utc":"UTC"')], [i, JSON_HEAD, TIMED_OUT_LIST], "reply " + i);
      ok(r.at - t0 < 10000, `reply ${i} came after ${r.at - t0} ms: the deadline did not end the request`);
    }
    eq((await leftAfter(5000)).map((p) => p.text), [], "processes left after the replies");
  });

  await check("a client that hangs up leaves no hullmon and no runtime process behind", async () => {
    const watch = watchMarked();
    const t0 = Date.now();
    const outcome = await http("/hullmon?action=list", { abortAfterMs: 500 }).then(
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

if (!fs.existsSync("/usr/sbin/lighttpd")) skip("lighttpd is missing (tests/runtime/setup.sh installs it)");
await runChecks("setup", main);
