// The sudo route: www-data, outside the docker group, runs hullmon's
// command lines as root through deploy/sudo-docker and the rule of
// deploy/sudoers/docker, and nothing else. Against a Docker Engine of the
// test's own (scripts/sandbox.sh dockerd, its own socket), with the rule's
// -H filled in for that socket and installed as /etc/sudoers.d/RULE_NAME
// for the test's length:
//   - www-data cannot reach the engine directly;
//   - sudo -l decides, without running anything, that every command line
//     hullmon builds (taken from the program itself, run against a
//     recording runtime) is allowed, ids of the longest length included,
//     and that a longer id is refused; the same for the podman rule;
//   - a table of escapes is refused, and the engine's containers and
//     images are the same afterwards;
//   - list, logs, start, stop and restart work through lighttpd as www-data;
//   - with HULLMON_TIMEOUT=2, a stop of a container that ignores SIGTERM
//     gives 124 and leaves no root docker process behind.
//
// Usage: node sudo_test.mjs --hullmon PATH --sandbox DIR --repo DIR
//        node sudo_test.mjs cleanup --sandbox DIR --repo DIR
// The second form is the CTest cleanup: it removes the rule and stops the
// engine after a run that was killed. Run as root; exits 77 (skip) without
// root, sudo 1.9.10 or later, or the Docker Engine's packages.

import { spawnSync } from "node:child_process";
import crypto from "node:crypto";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import {
  JSON_HEAD, SYS_PATH,
  atExit, cgi, check, eq, httpClient, json, must, ok, opt, run, runChecks, skip, sleep, startLighttpd, utcOf,
  createSamples, engineSays, projectVersion,
} from "./harness.mjs";

const SANDBOX = opt("sandbox");
const REPO = opt("repo");
const SANDBOX_SH = path.join(REPO, "scripts", "sandbox.sh");
// Fixed, so that the cleanup test finds it; no dot, or sudo would skip it.
const RULE_FILE = "/etc/sudoers.d/hullmon-runtime-test";
const DOCKER = "/usr/bin/docker";
const WWW = { uid: 33, gid: 33 };
const SLOW = { timeout: 120000 };
const ID_MAX = 128; // hullmon's id check: 1 to 128 characters

function removeRule() {
  fs.rmSync(RULE_FILE, { force: true });
}
function stopEngine() {
  const r = run(SANDBOX_SH, ["-d", SANDBOX, "undockerd"], SLOW);
  if (r.status !== 0) console.log("undockerd: " + r.all);
}

if (process.argv[2] === "cleanup") {
  removeRule();
  stopEngine();
  process.exit(0);
}

const HULLMON = opt("hullmon");

// ---------------------------------------------------------------- the rules

// The shipped rule for the system's socket, with every line pinned to
// `host` the way the rule file's comment says: -H after the command, its
// ":" escaped in the fixed lines, its "." as [.] in the regular expressions.
function pinnedRule(text, host) {
  const fixed = host.replaceAll("\\", "\\\\").replace(/[,:=]/g, (c) => "\\" + c);
  const regex = host.replace(/[.[\]()*+?{}|^$\\]/g, (c) => "[" + c + "]");
  const out = text
    .replace(/^(\s+\/usr\/bin\/docker )\^/gm, `$1^-H ${regex} `)
    .replace(/^(\s+\/usr\/bin\/docker )(?=[a-z])/gm, `$1-H ${fixed} `);
  ok(out.split("\n").filter((l) => l.includes("/usr/bin/docker -H") || l.includes("/usr/bin/docker ^-H")).length === 4,
    "the docker rule has four command lines to pin:\n" + out);
  return out;
}

// sudo's version as [major, minor, patch], or null without sudo.
function sudoVersion() {
  if (!fs.existsSync("/usr/bin/sudo")) return null;
  const m = /^Sudo version (\d+)\.(\d+)\.(\d+)/m.exec(run("/usr/bin/sudo", ["-V"]).out);
  return m ? m.slice(1).map(Number) : null;
}

// ---------------------------------------------------------------- processes

// Runs a command as www-data with only `env`: its output, error output and
// status.
function asWww(cmd, argv, env = { PATH: SYS_PATH }, opts = {}) {
  const r = spawnSync(cmd, argv, { encoding: "utf8", timeout: 60000, env, ...WWW, ...opts });
  if (r.error) throw r.error;
  return { out: r.stdout, err: r.stderr, status: r.status };
}

// Root's processes of the docker client (or sudo) that name the test's
// engine: what a request through the wrapper could leave behind.
function rootClients(host) {
  const found = [];
  for (const name of fs.readdirSync("/proc")) {
    if (!/^\d+$/.test(name)) continue;
    let cmdline = "";
    let status = "";
    try {
      cmdline = fs.readFileSync(`/proc/${name}/cmdline`, "latin1").replaceAll("\0", " ").trim();
      status = fs.readFileSync(`/proc/${name}/status`, "latin1");
    } catch {
      continue;
    }
    const uids = (/^Uid:\s+(.*)$/m.exec(status) || ["", ""])[1].split(/\s+/);
    if (cmdline.includes(host) && /(^|\/)(docker|sudo) /.test(cmdline) && uids.includes("0")) {
      found.push(name + ": " + cmdline);
    }
  }
  return found;
}

// ---------------------------------------------------------------- main

if (process.getuid() !== 0) skip("the rule goes to /etc/sudoers.d and the engine runs as root: run the test as root");
const version = sudoVersion();
if (!version) skip("sudo is missing (tests/runtime/setup.sh installs it)");
if (version[0] * 10000 + version[1] * 100 + version[2] < 10910) {
  skip("sudo " + version.join(".") + " is too old: the rule's regular expressions need 1.9.10 or later");
}
if (run("id", ["-u", "www-data"]).out.trim() !== String(WWW.uid)) skip("no user www-data of uid 33, as on Debian");
if (!fs.existsSync(DOCKER)) skip(DOCKER + " is missing (tests/runtime/setup.sh installs docker.io)");
const missing = run(SANDBOX_SH, ["-d", SANDBOX, "missing", "docker"]).out.trim();
if (missing) skip("missing Debian packages: " + missing + " (tests/runtime/setup.sh installs them)");
if (!fs.existsSync("/usr/sbin/lighttpd")) skip("lighttpd is missing (tests/runtime/setup.sh installs it)");
if (fs.existsSync(RULE_FILE)) {
  console.log(RULE_FILE + " exists: a run that was killed left it, or it is not the test's; remove it first");
  process.exit(1);
}

atExit(stopEngine);
const started = run(SANDBOX_SH, ["-d", SANDBOX, "dockerd"], SLOW);
if (started.status !== 0) skip("the Docker Engine did not start here:\n" + started.all);
const HOST = started.out.trim();
const ROOT_ENV = { DOCKER_HOST: HOST, PATH: SYS_PATH };
const docker = (...a) => must(DOCKER, a, { ...SLOW, env: ROOT_ENV });
console.log("Docker Engine at " + HOST);

await runChecks("setup", async () => {
  const VERSION = projectVersion(REPO);
  // A folder www-data can enter, with copies of the program and the
  // wrapper (the checkout may sit where www-data cannot reach it).
  const stage = fs.mkdtempSync(path.join(os.tmpdir(), "hullmon-sudo-"));
  atExit(() => fs.rmSync(stage, { recursive: true, force: true }));
  fs.chmodSync(stage, 0o755);
  const hullmon = path.join(stage, "hullmon");
  const wrapper = path.join(stage, "sudo-docker");
  fs.copyFileSync(HULLMON, hullmon);
  fs.copyFileSync(path.join(REPO, "deploy", "sudo-docker"), wrapper);
  for (const f of [hullmon, wrapper]) fs.chmodSync(f, 0o755);

  // The rule: the docker one pinned to the test's engine, and the podman
  // one as shipped; checked before it goes where a syntax error would
  // break sudo for everyone.
  const rule = pinnedRule(fs.readFileSync(path.join(REPO, "deploy", "sudoers", "docker"), "utf8"), HOST) +
    "\n" + fs.readFileSync(path.join(REPO, "deploy", "sudoers", "podman"), "utf8");
  const draft = path.join(stage, "rule");
  fs.writeFileSync(draft, rule, { mode: 0o440 });
  must("/usr/sbin/visudo", ["-cf", draft]);
  atExit(removeRule);
  fs.copyFileSync(draft, RULE_FILE);
  fs.chmodSync(RULE_FILE, 0o440);

  await createSamples(docker);
  // A container that ignores SIGTERM: the engine's stop waits 30 s for it.
  docker("run", "-d", "--name", "hmt-stubborn", "--network", "none", "--stop-timeout", "30",
    "localhost/hullmon-sandbox:latest", "sh", "-c", 'trap "" TERM; while :; do sleep 1; done');

  await check("sudo: www-data is not in the docker group and cannot reach the engine directly", async () => {
    eq(must("id", ["-nG", "www-data"]).trim().split(" ").includes("docker"), false, "www-data in the docker group");
    const r = asWww(DOCKER, ["-H", HOST, "ps", "-a"]);
    ok(r.status !== 0 && /permission denied/.test(r.err), "docker as www-data: " + JSON.stringify(r));
  });

  // ------------------------------------------------------------ allowed lines

  // The command lines hullmon builds, from the program itself: each action
  // run against a runtime that records its arguments.
  const recDir = path.join(stage, "rec");
  fs.mkdirSync(recDir);
  const fake = path.join(recDir, "fake_runtime");
  fs.copyFileSync(path.join(REPO, "tests", "fixtures", "fake_runtime"), fake);
  fs.chmodSync(fake, 0o755);
  const record = path.join(recDir, "record");
  const ids = ["x", "9", "_", "A" + "Zz09_.-".repeat(19).slice(0, ID_MAX - 1)];
  eq(ids[3].length, ID_MAX, "the longest id's length");
  const lines = () => {
    const text = fs.existsSync(record) ? fs.readFileSync(record, "utf8") : "";
    fs.rmSync(record, { force: true });
    return text.split("\n").filter(Boolean).map((l) => l.replace(/^fake_runtime /, ""));
  };
  const recordEnv = { DOCKER_BIN: fake, FAKE_RT_RECORD: record, FAKE_RT_DIR: recDir, PATH: SYS_PATH };
  const built = [];
  cgi(hullmon, { query: "action=list", env: recordEnv });
  built.push(...lines().sort());
  for (const id of ids) {
    cgi(hullmon, { query: "action=logs&cid=" + id, env: recordEnv });
    for (const op of ["start", "stop", "restart"]) {
      cgi(hullmon, { query: "action=control", method: "POST", body: `op=${op}&cid=${id}`, env: recordEnv });
    }
    built.push(...lines());
  }

  const sudoList = (cmd, args) => run("/usr/bin/sudo", ["-l", "-U", "www-data", cmd, ...args]);
  await check("sudo: every command line hullmon builds is allowed, the docker one with the engine's -H, the podman one as shipped", async () => {
    eq(built.length, 2 + ids.length * 4, "command lines recorded: " + JSON.stringify(built));
    const got = [];
    const want = [];
    for (const line of built) {
      for (const [cmd, pre] of [[DOCKER, ["-H", HOST]], ["/usr/bin/podman", []]]) {
        const args = [...pre, ...line.split(" ")];
        const r = sudoList(cmd, args);
        got.push([r.status, r.out]);
        want.push([0, [cmd, ...args].join(" ") + "\n"]);
      }
    }
    eq(got, want, "sudo -l's answers");
  });

  await check("sudo: an id one longer than hullmon allows is refused by hullmon and by the rule", async () => {
    const long = ids[3] + "x";
    const r = cgi(hullmon, { query: "action=logs&cid=" + long, env: recordEnv });
    eq([r.head.startsWith("Status: 400 "), lines()], [true, []], "hullmon's refusal, and no command run");
    const got = [];
    for (const args of [["logs", "--tail", "100", long], ["start", long], ["stop", long], ["restart", long]]) {
      for (const [cmd, pre] of [[DOCKER, ["-H", HOST]], ["/usr/bin/podman", []]]) {
        got.push([cmd, args[0], sudoList(cmd, [...pre, ...args]).status]);
      }
    }
    eq(got.map((g) => g[2]), Array(got.length).fill(1), "sudo -l's status: " + JSON.stringify(got));
  });

  // ------------------------------------------------------------ refusals

  await check("sudo: escapes are refused as www-data, and the engine's containers and images stay the same", async () => {
    const state = () => [docker("ps", "-a", "--no-trunc", "--format", "{{.ID}} {{.Names}} {{.State}} {{.CreatedAt}}"),
      docker("images", "-q", "--no-trunc")];
    const before = state();
    const H = ["-H", HOST];
    const LIST = ["ps", "-a", "--format", "{{.ID}}|{{.Names}}|{{.Image}}|{{.State}}|{{.Status}}|{{.Ports}}"];
    const escapes = [
      [DOCKER, ...H, "run", "--rm", "-v", "/:/host", "localhost/hullmon-sandbox:latest", "true"],
      [DOCKER, ...H, "run", "-d", "localhost/hullmon-sandbox:latest", "sleep", "1000"],
      [DOCKER, ...H, "exec", "hmt-ctl", "true"],
      [DOCKER, ...H, "kill", "hmt-ctl"],
      [DOCKER, ...H, "rm", "-f", "hmt-ctl"],
      [DOCKER, ...H, "pause", "hmt-ctl"],
      [DOCKER, ...H, "ps", "-a", "--format", "{{.ID}}"],
      [DOCKER, ...H, "ps", "-a", "--format", "{{json .}}"],
      [DOCKER, ...H, ...LIST, "-f", "name=x"],
      [DOCKER, ...H, "stats", "--format", "{{.ID}}|{{.CPUPerc}}|{{.MemUsage}}"],
      [DOCKER, ...H, "logs", "-f", "--tail", "100", "hmt-logs"],
      [DOCKER, ...H, "logs", "--tail=100", "hmt-logs"],
      [DOCKER, ...H, "logs", "--tail", "100000", "hmt-logs"],
      [DOCKER, ...H, "logs", "--tail", "100", "--details", "hmt-logs"],
      [DOCKER, ...H, "stop", "-t", "0", "hmt-ctl"],
      [DOCKER, ...H, "stop", "hmt-ctl", "hmt-logs"],
      [DOCKER, ...H, "stop", "hmt/ctl"],
      [DOCKER, ...H, "stop", ".hmt-ctl"],
      [DOCKER, ...H, "stop", "-hmt-ctl"],
      [DOCKER, ...H, "restart", "--time=0", "hmt-ctl"],
      [DOCKER, ...LIST],
      [DOCKER, "-H", "unix:///var/run/docker.sock", ...LIST],
      [DOCKER, "-H", "tcp://127.0.0.1:2375", "stop", "hmt-ctl"],
      [DOCKER, "-H", "ssh://root@localhost", "stop", "hmt-ctl"],
      [DOCKER, "--host", HOST, "stop", "hmt-ctl"],
      [DOCKER, "-H", HOST, "-H", HOST, "stop", "hmt-ctl"],
      ["/usr/local/bin/docker", ...H, "stop", "hmt-ctl"],
      ["/bin/sh", "-c", "id"],
      ["-E", DOCKER, ...H, ...LIST],
      ["-u", "nobody", DOCKER, ...H, ...LIST],
      ["-g", "docker", DOCKER, ...H, ...LIST],
      ["-s", DOCKER, ...H, ...LIST],
      ["-i", DOCKER, ...H, ...LIST],
      ["-D", "/", DOCKER, ...H, ...LIST],
      ["-R", "/", DOCKER, ...H, ...LIST],
      ["DOCKER_CONFIG=/tmp", DOCKER, ...H, ...LIST],
      ["-e", "/etc/shadow"],
    ];
    const got = [];
    for (const argv of escapes) {
      const r = asWww("/usr/bin/sudo", ["-n", ...argv]);
      // sudo's own refusal: status 1, its message, nothing on standard output.
      const refused = r.status === 1 && r.out === "" && /^(sudo: |Sorry, user www-data )/.test(r.err);
      got.push(refused ? "refused" : JSON.stringify([argv, r]));
    }
    eq(got, Array(escapes.length).fill("refused"), "escapes");
    eq(state(), before, "containers and images");
  });

  // ------------------------------------------------------------ through lighttpd

  const PASSWORD = "sudo pw+1";
  const server = await startLighttpd(hullmon, REPO,
    { KELM_PASSWORD: PASSWORD, DOCKER_BIN: wrapper, DOCKER_HOST: HOST, PATH: SYS_PATH },
    undefined, { name: "www-data", ...WWW });
  const http = httpClient(server.base);
  const auth = { "X-Kelm-Password": PASSWORD };
  const get = (q) => http("/hullmon?" + q, { headers: auth });
  const post = (q, body) => http("/hullmon?" + q, { method: "POST", body, headers: { ...auth, "Content-Type": "application/x-www-form-urlencoded" } });
  const runtime = { available: true, bin: wrapper, label: "custom" };

  await check("sudo route through lighttpd: hullmon runs as www-data, its runtime the wrapper", async () => {
    const r = await get("action=info");
    eq([r.head, json(r.body).runtime], [JSON_HEAD, runtime], "reply");
    const uid = /^Uid:\s+(\d+)/m.exec(fs.readFileSync(`/proc/${server.pid}/status`, "utf8"))[1];
    eq(uid, "33", "lighttpd's user");
  });

  await check("sudo route through lighttpd: list is root's docker's listing, as hullmon run as root directly gives it", async () => {
    const r = await get("action=list");
    eq(r.head, JSON_HEAD, "head");
    const got = json(r.body);
    const want = json(cgi(hullmon, { query: "action=list", env: ROOT_ENV, timeout: 120000 }).body);
    // What changes from one second to the next comes from the reply, once
    // its form is checked: the time, status durations, CPU and memory.
    want.runtime = runtime;
    want.utc = utcOf(r.body);
    const byName = (a, b) => (a.name < b.name ? -1 : 1);
    got.containers.sort(byName);
    want.containers.sort(byName);
    const shape = (t) => t.replace(/^(Up|Exited \(\d+\)) .*?( ago)?( \(Paused\))?$/, "$1 ...$2$3");
    want.containers.forEach((w, i) => {
      const c = got.containers[i] || {};
      if (shape(c.status || "") === shape(w.status)) w.status = c.status;
      for (const f of ["cpu", "mem"]) {
        if (w[f] !== "" && (f === "cpu" ? /^\d+\.\d\d%$/.test(c[f]) : /^\S+ \/ \S+$/.test(c[f]))) w[f] = c[f];
      }
    });
    eq(got, want, "list");
    eq(got.summary, { total: 7, running: 3, exited: 2, paused: 1, other: 1 }, "summary");
  });

  await check("sudo route through lighttpd: logs, and the daemon's own refusal for a missing container", async () => {
    const lines = ["first line", "second\tline with a tab", "third line"];
    let r = await get("action=logs&cid=hmt-logs");
    eq([r.head, r.body], [JSON_HEAD, JSON.stringify({ ok: true, action: "logs", cid: "hmt-logs", tail: 100, exit_code: 0,
      lines, text: lines.join("\n") + "\n" }) + "\n"], "hmt-logs");
    r = await get("action=logs&cid=hmt-nosuch");
    const e = engineSays(ROOT_ENV, `'${DOCKER}' logs --tail 100 hmt-nosuch`);
    ok(e.status !== 0 && /No such container/.test(e.text), "the engine refuses: " + JSON.stringify(e));
    eq([r.head, r.body], ["Status: 409 Conflict\r\n" + JSON_HEAD, JSON.stringify({ ok: false, action: "logs", cid: "hmt-nosuch",
      tail: 100, exit_code: e.status, lines: e.text.split("\n").filter(Boolean), text: e.text }) + "\n"], "hmt-nosuch");
  });

  const inspect = (what, name) => docker("inspect", "--format", what, name).trim();
  for (const [op, state] of [["stop", "exited"], ["start", "running"], ["restart", "running"]]) {
    await check(`sudo route through lighttpd: control ${op} runs, the engine shows the container ${state}`, async () => {
      const before = inspect("{{.State.StartedAt}}", "hmt-ctl");
      const r = await post("action=control", `op=${op}&cid=hmt-ctl`);
      eq([r.head, r.body], [JSON_HEAD, JSON.stringify({ ok: true, action: "control", op, cid: "hmt-ctl", exit_code: 0,
        output: "hmt-ctl\n", utc: utcOf(r.body) }) + "\n"], "reply");
      eq(inspect("{{.State.Status}}", "hmt-ctl"), state, "state in the engine");
      if (op !== "stop") ok(inspect("{{.State.StartedAt}}", "hmt-ctl") !== before, op + " did not start the container anew");
    });
  }

  // ------------------------------------------------------------ the deadline

  await check("sudo route: with HULLMON_TIMEOUT=2 a stop of a container that ignores SIGTERM gives 124, and no root docker is left", async () => {
    const input = "op=stop&cid=hmt-stubborn";
    const env = { QUERY_STRING: "action=control", REQUEST_METHOD: "POST", CONTENT_LENGTH: String(input.length),
      DOCKER_BIN: wrapper, DOCKER_HOST: HOST, PATH: SYS_PATH, HULLMON_TIMEOUT: "2" };
    const r = asWww(hullmon, [], env, { input });
    eq([r.status, r.err], [0, ""], "hullmon's exit status and error output");
    const body = r.out.slice(r.out.indexOf("\r\n\r\n") + 4);
    eq(r.out, "Status: 409 Conflict\r\n" + JSON_HEAD + JSON.stringify({ ok: false, action: "control", op: "stop",
      cid: "hmt-stubborn", exit_code: 124, output: "hullmon: timed out after 2 s\n", utc: utcOf(body) }) + "\n", "reply");
    // hullmon has ended, and with it everything it started.
    eq(rootClients(HOST), [], "root's docker or sudo processes naming the engine");
  });
});
