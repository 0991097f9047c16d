// hullmon behind Debian's other web servers, each run unprivileged (as
// www-data) on a free port with the site configuration from deploy/, in
// front of the podman sandbox (scripts/sandbox.sh):
//   nginx   nginx with fcgiwrap (deploy/nginx.conf.in), the docker client
//           reaching podman's Docker-compatible service through DOCKER_HOST
//   apache  Apache with mod_cgid under the event MPM (deploy/apache.conf.in),
//           podman itself reaching the same service through CONTAINER_HOST
//   doc     docs/DEPLOY.md shows those files as they are, and its sed
//           commands fill them in for the sudo route
//
// Usage: node servers_test.mjs PART --hullmon PATH --sandbox DIR --repo DIR
// No npm packages: Node's standard library only. The servers, fcgiwrap and
// the engine's service are stopped, and the containers (named hms-*) and
// the temporary folder removed, also when a check fails.

import { spawn, spawnSync } from "node:child_process";
import fs from "node:fs";
import net from "node:net";
import os from "node:os";
import path from "node:path";
import {
  IMAGE, JSON_HEAD, PAGE_HEAD, SYS_PATH,
  Mismatch, accessLogged, atExit, cgi, check, eq, freePort, httpClient, json, must, ok, opt, projectVersion, run, runChecks, skip,
  sleep, utcOf,
} from "./harness.mjs";

const part = process.argv[2];
const REPO = opt("repo");
const REFUSED = '{"ok":false,"error":"invalid node password"}\n';
const FOREIGN =
  '{"ok":false,"error":"cross_origin","message":"control requests must come from the dashboard page itself"}\n';
// What the servers run as, as on Debian.
const WWW_UID = 33;
const WWW_GID = 33;

// ---------------------------------------------------------------- helpers

// A long-running helper in a process group of its own, ended with the
// group at exit.
function daemon(cmd, argv, opts) {
  const child = spawn(cmd, argv, { stdio: "ignore", detached: true, ...opts });
  let exited = false;
  child.on("exit", () => (exited = true));
  atExit(() => {
    if (exited) return;
    try {
      process.kill(-child.pid, "SIGTERM");
    } catch (e) {
      /* gone already */
    }
  });
  return { child, exited: () => exited };
}
async function waitFor(what, cond, tries = 100) {
  for (let i = 0; i < tries; i++) {
    if (cond()) return;
    await sleep(100);
  }
  throw new Error(what + " did not happen in " + tries / 10 + " s");
}
function listening(port) {
  return new Promise((res) => {
    const s = net.connect(port, "127.0.0.1");
    s.once("connect", () => (s.destroy(), res(true)));
    s.once("error", () => res(false));
  });
}
async function waitListening(what, port, alive, log) {
  for (let i = 0; i < 100; i++) {
    if (await listening(port)) return;
    if (!alive()) break;
    await sleep(100);
  }
  throw new Error(what + " does not listen on " + port + ": " + (fs.existsSync(log) ? fs.readFileSync(log, "utf8") : "(no log)"));
}

// ---------------------------------------------------------------- the stage

// A folder that www-data can enter, holding a copy of the program (the
// build folder may sit where www-data cannot reach it), the engine's socket
// and each server's own state.
function makeStage() {
  const stage = fs.mkdtempSync(path.join(os.tmpdir(), "hullmon-servers-"));
  atExit(() => fs.rmSync(stage, { recursive: true, force: true }));
  fs.chmodSync(stage, 0o755);
  fs.mkdirSync(path.join(stage, "bin"), { mode: 0o755 });
  const hullmon = path.join(stage, "bin", "hullmon");
  fs.copyFileSync(opt("hullmon"), hullmon);
  fs.chmodSync(hullmon, 0o755);
  return { dir: stage, hullmon };
}
function wwwDir(stage, name) {
  const d = path.join(stage.dir, name);
  fs.mkdirSync(d, { mode: 0o755 });
  fs.chownSync(d, WWW_UID, WWW_GID);
  return d;
}
function fillIn(template, marks) {
  let text = fs.readFileSync(path.join(REPO, "deploy", template), "utf8");
  for (const [k, v] of Object.entries(marks)) text = text.replaceAll("@" + k + "@", v);
  const left = /^[^#\n]*(@[A-Z_]+@)/m.exec(text);
  if (left) throw new Error(template + ": " + left[1] + " was not filled in");
  return text;
}

// ---------------------------------------------------------------- the engine

const SANDBOX = () => opt("sandbox");
const PODMAN = () => path.join(SANDBOX(), "bin", "podman"); // the sandbox's wrapper
const podman = (...a) => must(PODMAN(), a);
const SAMPLES = [
  { name: "hms-logs", script: 'echo "first line"; echo "second	line with a tab"; echo "third line"; trap "exit 0" TERM; while :; do sleep 1; done' },
  { name: "hms-ctl", script: 'trap "exit 0" TERM; echo "ctl up"; while :; do sleep 1; done' },
  { name: "hms-done", script: 'echo "done"; exit 3' },
  { name: "hms-paused", script: 'trap "exit 0" TERM; while :; do sleep 1; done' },
];
const STATES = { "hms-logs": "running", "hms-ctl": "running", "hms-done": "exited", "hms-paused": "paused" };

function removeContainers() {
  const ids = run(PODMAN(), ["ps", "-a", "-q", "--filter", "name=^hms-"]).out.split("\n").filter(Boolean);
  if (ids.length) run(PODMAN(), ["rm", "-f", "-t", "0", ...ids]);
}
function engineState(name) {
  return must(PODMAN(), ["inspect", "--format", "{{.State.Status}}", name]).trim();
}
function startedAt(name) {
  return must(PODMAN(), ["inspect", "--format", "{{.State.StartedAt}}", name]).trim();
}

async function prepareEngine(stage) {
  must(path.join(REPO, "scripts", "sandbox.sh"), ["-d", SANDBOX(), "prepare"], { stdio: ["ignore", "pipe", "pipe"] });
  atExit(removeContainers);
  removeContainers();
  for (const s of SAMPLES) {
    podman("run", "-d", "--name", s.name, "--label", "hullmon.sandbox=test", "--network", "none", "--stop-timeout", "3", IMAGE, "sh", "-c", s.script);
  }
  await waitFor("hms-done's exit", () => ["exited", "stopped"].includes(engineState("hms-done")));
  podman("pause", "hms-paused");
  await waitFor("hms-logs's output", () => run(PODMAN(), ["logs", "hms-logs"]).out.split("\n").length >= 4, 50);

  // The engine's Docker-compatible service on a socket of this stage, open
  // to www-data (that is as good as root to the sandbox: a test's trade).
  const sock = path.join(stage.dir, "podman.sock");
  const svc = daemon(PODMAN(), ["system", "service", "--time=0", "unix://" + sock]);
  await waitFor("podman's service socket", () => fs.existsSync(sock) || svc.exited());
  ok(!svc.exited(), "podman's service ended at once");
  fs.chmodSync(sock, 0o666);
  return "unix://" + sock;
}

// ---------------------------------------------------------------- the checks

// Everything a dashboard does through one server: it runs with the node
// password PASSWORD, its runtime as `runtime` reports, and hullmon reached
// directly by `direct` (a CGI run with the same configuration) for the
// texts that only the program itself can say.
async function throughServer(label, http, { PASSWORD, runtime, direct, port, accessLog, logged }) {
  const VERSION = projectVersion(REPO);
  const FORM = { "Content-Type": "application/x-www-form-urlencoded" };
  const ways = {
    header: { headers: { "X-Kelm-Password": PASSWORD }, extra: "" },
    bearer: { headers: { Authorization: "Bearer " + PASSWORD }, extra: "" },
    pwd: { headers: {}, extra: "&pwd=" + encodeURIComponent(PASSWORD) },
  };
  const plugin = (how, query) => "/plugins?plugin=docker?" + query + ways[how].extra;
  const get = (how, url) => http(url, { headers: ways[how].headers });
  const post = (how, url, body, more = {}) => http(url, { method: "POST", body, headers: { ...FORM, ...ways[how].headers, ...more } });

  const infoBody = (body) => {
    const pid = /"pid":(\d+),/.exec(body);
    ok(pid, "info has no pid: " + body);
    return JSON.stringify({ ok: true, action: "info", plugin: "hullmon", slug: "docker", version: VERSION, runtime,
      pid: Number(pid[1]), utc: utcOf(body), supported: ["list", "info", "logs", "control"],
      control: { method: "POST", ops: ["start", "stop", "restart"] } }) + "\n";
  };
  const controlBody = (op, cid, body) =>
    JSON.stringify({ ok: true, action: "control", op, cid, exit_code: 0, output: cid + "\n", utc: utcOf(body) }) + "\n";

  for (const how of Object.keys(ways)) {
    await check(`${label}: info with the password as ${how}, at /hullmon and through the plugin route`, async () => {
      for (const url of ["/hullmon?action=info" + ways[how].extra, plugin(how, "action=info")]) {
        const r = await get(how, url);
        eq([url, r.head, r.body], [url, JSON_HEAD, infoBody(r.body)], "reply");
      }
    });
  }

  await check(label + ": without the right password, page and actions get the 401 reply", async () => {
    for (const [url, headers] of [
      ["/hullmon?action=list", {}],
      ["/hullmon?embed=1&plugin=docker", {}],
      [plugin("header", "action=logs&cid=hms-logs"), { "X-Kelm-Password": PASSWORD + "x" }],
      ["/hullmon?action=info&pwd=wrong", { Authorization: "bearer " + PASSWORD }],
    ]) {
      const r = await http(url, { headers });
      eq([url, r.head, r.body], [url, "Status: 401 Unauthorized\r\n" + JSON_HEAD, REFUSED], "refusal");
    }
  });

  await check(label + ": the page, as the program writes it", async () => {
    const query = "embed=1&plugin=docker&node=local&pwd=" + encodeURIComponent(PASSWORD);
    const r = await http("/hullmon?" + query);
    const want = direct({ query });
    ok(want.body.startsWith("<!DOCTYPE html>"), "the program's own page: " + want.body.slice(0, 200));
    eq([r.head, r.body.length], [PAGE_HEAD, want.body.length], "head and length");
    ok(r.body === want.body, "the page differs from the program's own");
  });

  await check(label + ": list through the plugin route shows the sandbox's containers", async () => {
    const r = await get("header", plugin("header", "action=list"));
    eq(r.head, JSON_HEAD, "head");
    const got = json(r.body);
    eq(JSON.stringify(got) + "\n", r.body, "the reply is one line of compact JSON");
    const want = json(direct({ query: "action=list" }).body);
    // What changes from one second to the next comes from the reply, once
    // its form is checked: the time, status durations, CPU and memory.
    const byName = (a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0);
    got.containers.sort(byName);
    want.containers.sort(byName);
    want.utc = utcOf(r.body);
    eq(got.containers.map((c) => c.name), want.containers.map((c) => c.name), "names");
    got.containers.forEach((c, i) => {
      const w = want.containers[i];
      const shape = (t) => t.replace(/^(Up|Exited \(\d+\)) .*?( ago)?( \(Paused\))?$/, "$1 ...$2$3");
      if (shape(c.status) === shape(w.status)) w.status = c.status;
      for (const f of ["cpu", "mem"]) {
        if (w[f] !== "") {
          ok(f === "cpu" ? /^\d+(\.\d+)?%$/.test(c[f]) : /^\S+ \/ \S+$/.test(c[f]), c.name + " " + f + ": " + c[f]);
          w[f] = c[f];
        }
      }
    });
    eq(got, want, "the list against the program's own, run directly");
    for (const c of got.containers.filter((c) => c.name.startsWith("hms-"))) eq(c.state, STATES[c.name], c.name + " state");
    eq(got.runtime, runtime, "runtime");
  });

  await check(label + ": logs with the password as a pwd parameter", async () => {
    const r = await get("pwd", plugin("pwd", "action=logs&cid=hms-logs"));
    const text = "first line\nsecond\tline with a tab\nthird line\n";
    eq([r.head, r.body], [JSON_HEAD, JSON.stringify({ ok: true, action: "logs", cid: "hms-logs", tail: 100, exit_code: 0,
      lines: ["first line", "second\tline with a tab", "third line"], text }) + "\n"], "reply");
  });

  for (const [op, after] of [["stop", ["exited", "stopped"]], ["start", ["running"]]]) {
    await check(`${label}: control ${op} through the plugin route, password as Bearer`, async () => {
      const r = await post("bearer", plugin("bearer", "action=control"), `op=${op}&cid=hms-ctl`);
      eq([r.head, r.body], [JSON_HEAD, controlBody(op, "hms-ctl", r.body)], "reply");
      ok(after.includes(engineState("hms-ctl")), "state after " + op + ": " + engineState("hms-ctl"));
    });
  }

  // A refused POST is answered before its body matters; the server must
  // still deliver the reply whole, every time.
  await check(label + ": 20 POSTs with a 20 KB body refused with 401, each reply whole", async () => {
    const body = "op=stop&cid=hms-ctl&pad=" + "x".repeat(20 * 1024 - 24);
    eq(body.length, 20 * 1024, "body size");
    const got = [];
    for (let i = 0; i < 20; i++) {
      try {
        const r = await http("/plugins?plugin=docker?action=control&pwd=wrong", { method: "POST", body, headers: FORM });
        got.push(r.head === "Status: 401 Unauthorized\r\n" + JSON_HEAD && r.body === REFUSED ? "whole" : JSON.stringify([r.head, r.body]));
      } catch (e) {
        got.push(String(e.message || e));
      }
    }
    eq(got, Array(20).fill("whole"), "replies");
    eq(engineState("hms-ctl"), "running", "the refused stops did nothing");
  });

  await check(label + ": an accepted control POST with a 200 KB body, reply whole", async () => {
    const before = startedAt("hms-ctl");
    const body = "op=restart&cid=hms-ctl&pad=" + "y".repeat(200 * 1024 - 27);
    eq(body.length, 200 * 1024, "body size");
    const r = await post("header", "/hullmon?action=control", body);
    eq([r.head, r.body], [JSON_HEAD, controlBody("restart", "hms-ctl", r.body)], "reply");
    ok(startedAt("hms-ctl") !== before, "the container was not restarted");
  });

  // The server must hand Host, Origin and Sec-Fetch-Site on unchanged for
  // the program to tell the dashboard's own page from a foreign one.
  await check(label + ": control from a foreign origin gets 403, from the page's own origin it runs", async () => {
    const self = "http://127.0.0.1:" + port;
    for (const [headers, refused] of [
      [{ Origin: "http://evil.example" }, true],
      [{ Origin: "http://127.0.0.1" }, true],
      [{ "Sec-Fetch-Site": "cross-site", Origin: self }, true],
      [{ Origin: self }, false],
      [{ Origin: "HTTPS://127.0.0.1:" + port }, false],
      [{ "Sec-Fetch-Site": "same-origin", Origin: self }, false],
    ]) {
      const before = startedAt("hms-ctl");
      const r = await post("header", "/hullmon?action=control", "op=restart&cid=hms-ctl", headers);
      const want = refused ? ["Status: 403 Forbidden\r\n" + JSON_HEAD, FOREIGN] : [JSON_HEAD, controlBody("restart", "hms-ctl", r.body)];
      eq([headers, r.head, r.body], [headers, ...want], "reply");
      eq([headers, startedAt("hms-ctl") !== before], [headers, !refused], "whether the container was restarted");
    }
  });

  await check(label + ": the access log keeps the action and container id of requests, never the password", async () => {
    eq(await accessLogged(http, accessLog, PASSWORD, "hms-logs"), logged, "the logged requests");
  });
}

// A CGI run of the program itself, with the configuration the server gives
// it (the password check aside), as reference for what the server must pass
// on unchanged.
function directRunner(hullmon, env) {
  return ({ query }) => cgi(hullmon, { query, env: { ...env, KELM_PASSWORD: "" } });
}

// ---------------------------------------------------------------- parts

const NGINX = "/usr/sbin/nginx";
const FCGIWRAP = "/usr/sbin/fcgiwrap";
const APACHE = "/usr/sbin/apache2";
const APACHE_MODULES = "/usr/lib/apache2/modules";

async function partNginx() {
  for (const bin of [NGINX, FCGIWRAP]) if (!fs.existsSync(bin)) skip(bin + " is missing (tests/runtime/setup.sh installs nginx and fcgiwrap)");
  if (process.getuid() !== 0) skip("the podman sandbox and the switch to www-data need root");
  const stage = makeStage();
  const sock = await prepareEngine(stage);
  const PASSWORD = "hull pw+2";
  const env = { KELM_PASSWORD: PASSWORD, DOCKER_BIN: "", DOCKER_HOST: sock, CONTAINER_HOST: "", PATH: "/usr/bin:/bin" };

  // fcgiwrap as Debian's unit runs it: as www-data, with an environment of
  // its own that the program must not depend on.
  const fcgiSock = path.join(wwwDir(stage, "run"), "fcgiwrap.sock");
  const fcgi = daemon(FCGIWRAP, ["-s", "unix:" + fcgiSock], { uid: WWW_UID, gid: WWW_GID, env: { PATH: SYS_PATH } });
  await waitFor("fcgiwrap's socket", () => fs.existsSync(fcgiSock) || fcgi.exited());
  ok(!fcgi.exited(), "fcgiwrap ended at once");

  // Debian's nginx.conf does the same for the site: the http block with
  // the site included; here with its own pid, log and temporary folders.
  const state = wwwDir(stage, "nginx");
  for (let attempt = 0; ; attempt++) {
    const port = await freePort();
    const site = fillIn("nginx.conf.in", { LISTEN: "127.0.0.1:" + port, HULLMON: stage.hullmon, FCGIWRAP: fcgiSock,
      KELM_PASSWORD: env.KELM_PASSWORD, DOCKER_BIN: env.DOCKER_BIN, DOCKER_HOST: env.DOCKER_HOST,
      CONTAINER_HOST: env.CONTAINER_HOST, PATH: env.PATH, ACCESS_LOG: path.join(state, "access.log") });
    fs.writeFileSync(path.join(state, "site.conf"), site);
    const temps = ["client_body", "fastcgi", "proxy", "uwsgi", "scgi"].map((t) => `    ${t}_temp_path ${state}/${t};\n`).join("");
    fs.writeFileSync(path.join(state, "nginx.conf"),
      `pid ${state}/nginx.pid;\nerror_log ${state}/error.log;\nworker_processes 1;\nevents { worker_connections 64; }\n` +
      `http {\n    access_log off;\n${temps}    include ${state}/site.conf;\n}\n`);
    const log = path.join(state, "error.log");
    const srv = daemon(NGINX, ["-p", state + "/", "-e", log, "-c", path.join(state, "nginx.conf"), "-g", "daemon off;"],
      { uid: WWW_UID, gid: WWW_GID, env: { PATH: SYS_PATH } });
    try {
      await waitListening("nginx", port, () => !srv.exited(), log);
    } catch (e) {
      if (attempt < 3 && srv.exited()) continue; // the port was taken meanwhile
      throw e;
    }
    console.log("nginx listens on 127.0.0.1:" + port + ", fcgiwrap on " + fcgiSock);
    await throughServer("nginx", httpClient("http://127.0.0.1:" + port), {
      PASSWORD, port, runtime: { available: true, bin: "docker", label: "docker" }, direct: directRunner(stage.hullmon, env),
      accessLog: path.join(state, "access.log"),
      logged: ["GET /hullmon action=- cid=-", "POST /hullmon action=control cid=-", "GET /hullmon action=logs cid=hms-logs"] });
    return;
  }
}

async function partApache() {
  for (const f of [APACHE, path.join(APACHE_MODULES, "mod_cgid.so"), path.join(APACHE_MODULES, "mod_mpm_event.so")]) {
    if (!fs.existsSync(f)) skip(f + " is missing (tests/runtime/setup.sh installs apache2)");
  }
  if (process.getuid() !== 0) skip("the podman sandbox and Apache's switch to www-data need root");
  const stage = makeStage();
  const sock = await prepareEngine(stage);
  const PASSWORD = "hull pw+3";
  // podman itself, reaching the engine's service through CONTAINER_HOST.
  const env = { KELM_PASSWORD: PASSWORD, DOCKER_BIN: "/usr/bin/podman", DOCKER_HOST: "", CONTAINER_HOST: sock, PATH: "/usr/bin:/bin" };

  // Debian's apache2.conf does the same for the site: the modules that
  // Debian enables and that the site needs (a2enmod cgid rewrite), run as
  // www-data, the site included; here with its own pid, log, mutex and
  // cgid socket.
  const state = wwwDir(stage, "apache");
  const conf = path.join(state, "apache2.conf");
  const modules = [["mpm_event", "mod_mpm_event"], ["authz_core", "mod_authz_core"], ["alias", "mod_alias"],
    ["env", "mod_env"], ["cgid", "mod_cgid"], ["rewrite", "mod_rewrite"]];
  const apache = (...a) => run(APACHE, ["-f", conf, ...a], { env: { PATH: SYS_PATH, LANG: "C" } });
  for (let attempt = 0; ; attempt++) {
    const port = await freePort();
    fs.writeFileSync(path.join(state, "site.conf"), fillIn("apache.conf.in", { PORT: String(port), HULLMON: stage.hullmon,
      KELM_PASSWORD: env.KELM_PASSWORD, DOCKER_BIN: env.DOCKER_BIN, DOCKER_HOST: env.DOCKER_HOST,
      CONTAINER_HOST: env.CONTAINER_HOST, PATH: env.PATH, ACCESS_LOG: path.join(state, "access.log") }));
    fs.writeFileSync(conf,
      "ServerRoot /etc/apache2\nServerName 127.0.0.1\nListen 127.0.0.1:" + port + "\nUser www-data\nGroup www-data\n" +
      `PidFile ${state}/apache2.pid\nErrorLog ${state}/error.log\nDefaultRuntimeDir ${state}\n` +
      `Mutex file:${state} default\nScriptSock ${state}/cgid.sock\n` +
      modules.map(([n, f]) => `LoadModule ${n}_module ${APACHE_MODULES}/${f}.so\n`).join("") +
      `Include ${state}/site.conf\n`);
    const started = apache("-k", "start");
    const pidFile = path.join(state, "apache2.pid");
    if (started.status === 0) {
      atExit(() => {
        apache("-k", "stop");
        // Wait for it to go, so that its folder can be removed.
        for (let i = 0; i < 100 && fs.existsSync(pidFile); i++) spawnSync("sleep", ["0.1"]);
      });
      try {
        await waitListening("apache2", port, () => true, path.join(state, "error.log"));
      } catch (e) {
        throw new Error(e.message + "\n" + started.all);
      }
    } else if (attempt < 3 && /Address already in use/.test(started.all)) {
      continue;
    } else {
      throw new Error("apache2 did not start: " + started.all);
    }
    console.log("apache2 listens on 127.0.0.1:" + port);
    await throughServer("apache", httpClient("http://127.0.0.1:" + port), {
      PASSWORD, port, runtime: { available: true, bin: "/usr/bin/podman", label: "custom" }, direct: directRunner(stage.hullmon, env),
      accessLog: path.join(state, "access.log"),
      logged: ["GET /hullmon action=- cid=-", "POST /hullmon action=control cid=-", "GET /hullmon action=logs cid=hms-logs"] });
    return;
  }
}

// The guide shows each server's configuration as the file the tests use:
// a line <!-- file: PATH --> and then a fenced block holding exactly the
// text of PATH.
async function partDoc() {
  const doc = fs.readFileSync(path.join(REPO, "docs", "DEPLOY.md"), "utf8");
  const shown = new Map();
  const re = /^<!-- file: (\S+) -->\n```[a-z]*\n([\s\S]*?)^```$/gm;
  for (let m; (m = re.exec(doc)); ) shown.set(m[1], m[2]);
  await check("docs/DEPLOY.md shows every server's configuration as the tested file", async () => {
    eq([...shown.keys()].sort(), ["deploy/apache.conf.in", "deploy/lighttpd.conf.in", "deploy/nginx.conf.in"], "files shown");
  });
  // The guide's sed commands fill in each file: every mark outside the
  // comments, the comments left as they are, and the runtime set to the
  // sudo route's wrapper.
  const seds = [...doc.matchAll(/^(sed -e '\/\^\[\[:space:\]\]\*#\/b'(?:[^\n]*\\\n)*?[^\n]*\$EX\/(\S+\.conf\.in)) > \S+$/gm)];
  await check("docs/DEPLOY.md's sed commands fill in every mark outside the comments, for the sudo route", async () => {
    eq(seds.map((m) => m[2]).sort(), ["apache.conf.in", "lighttpd.conf.in", "nginx.conf.in"], "files filled in");
    for (const [, command, file] of seds) {
      const out = must("/bin/sh", ["-c", command], { env: { EX: path.join(REPO, "deploy"), PATH: SYS_PATH } }).split("\n");
      const tpl = fs.readFileSync(path.join(REPO, "deploy", file), "utf8").split("\n");
      const comment = (l) => /^\s*#/.test(l);
      eq([file, out.filter(comment)], [file, tpl.filter(comment)], "comments");
      eq([file, out.filter((l) => !comment(l) && /@[A-Z_]+@/.test(l))], [file, []], "marks left");
      if (file !== "lighttpd.conf.in") {
        const bin = out.filter((l) => !comment(l) && /DOCKER_BIN/.test(l));
        eq([file, bin.length, bin.filter((l) => /DOCKER_BIN\s+"\/usr\/lib\/hullmon\/sudo-docker";?$/.test(l)).length], [file, 1, 1], "DOCKER_BIN: " + bin);
      }
    }
  });
  for (const [file, text] of shown) {
    await check("docs/DEPLOY.md shows " + file + " as it is", async () => {
      const real = fs.readFileSync(path.join(REPO, file), "utf8");
      if (text !== real) {
        const a = text.split("\n");
        const b = real.split("\n");
        let i = 0;
        while (i < a.length && a[i] === b[i]) i++;
        throw new Mismatch("first difference at line " + (i + 1) + " of " + file + "\n     doc:  " + a[i] + "\n     file: " + b[i]);
      }
    });
  }
}

// ---------------------------------------------------------------- main

const PARTS = { nginx: partNginx, apache: partApache, doc: partDoc };
if (!PARTS[part]) {
  console.log("unknown part " + part + "; one of " + Object.keys(PARTS).join(", "));
  process.exit(2);
}
await runChecks(part + " setup", PARTS[part]);
