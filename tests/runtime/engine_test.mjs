// hullmon against a real container engine: podman with runc in the bundled
// sandbox (scripts/sandbox.sh), the real docker client talking to podman's
// Docker-compatible service, a docker client with no engine behind it, and
// all of it once more through lighttpd over HTTP with a node password.
//
// Usage: node engine_test.mjs PART --hullmon PATH --sandbox DIR --repo DIR
//   PART: podman | many | docker | daemon-down | lighttpd
// No npm packages: Node's standard library only. Each part creates its own
// containers (named hmt-*) and removes them again, also when it fails.

import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import {
  IMAGE, JSON_HEAD, PAGE_HEAD, SAMPLES, SYS_PATH,
  accessLogged, atExit, cgiAccess, check, createSamples, engineSays, eq, httpClient, json, must, ok, opt, run, runChecks, skip,
  startLighttpd, utcOf,
} from "./harness.mjs";

const part = process.argv[2];
const HULLMON = opt("hullmon");
const SANDBOX = opt("sandbox");
const REPO = opt("repo");
const SANDBOX_SH = path.join(REPO, "scripts", "sandbox.sh");
const PODMAN = path.join(SANDBOX, "bin", "podman"); // the sandbox's wrapper
const DOCKER_CLIENT = "/usr/bin/docker"; // Debian's docker.io client
const LIST_FORMAT = "{{.ID}}|{{.Names}}|{{.Image}}|{{.State}}|{{.Status}}|{{.Ports}}";
// The program's own version, from its one home (project() in CMakeLists.txt).
const VERSION = run(HULLMON, ["--version"]).out.trim();
const podman = (...a) => must(PODMAN, a);

// ---------------------------------------------------------------- containers

const NAMES = SAMPLES.map((s) => s.name);
const STATUS_RE = { running: /^Up /, exited: /^Exited \(\d+\)/, paused: /(Paused)/, created: /^Created$/ };

function removeContainers() {
  const ids = run(PODMAN, ["ps", "-a", "-q", "--filter", "name=^hmt-"]).out.split("\n").filter(Boolean);
  if (ids.length) run(PODMAN, ["rm", "-f", "-t", "0", ...ids]);
}

async function createContainers() {
  removeContainers();
  await createSamples(podman, ["--label", "hullmon.sandbox=test"]);
}

// ---------------------------------------------------------------- shared checks

// The engine's own view through the same client hullmon uses: id, name,
// state word, for the containers of this test.
function engineList(env, bin) {
  const r = engineSays(env, `'${bin}' ps -a --format '{{.ID}}|{{.Names}}'`);
  if (r.status !== 0) throw new Error("engine listing failed: " + r.text);
  const rows = r.text.split("\n").filter(Boolean).map((l) => l.split("|"));
  return rows;
}
function engineState(name) {
  return must(PODMAN, ["inspect", "--format", "{{.State.Status}}", name]).trim();
}

async function listChecks(label, get, env, bin) {
  await check(label + ": list shows every container with its normalised state, CPU and memory", async () => {
    const reply = await get("action=list");
    const r = json(reply.body);
    const engine = engineList(env, bin);
    eq(r.ok, true, "ok");
    eq(r.daemon_available, true, "daemon_available");
    eq(r.count, engine.length, "count against the engine's listing");
    // The engine's service does not promise one order from call to call.
    const byName = (a, b) => (a[1] < b[1] ? -1 : a[1] > b[1] ? 1 : 0);
    eq(r.containers.map((c) => [c.id, c.name]).sort(byName), engine.sort(byName), "ids and names");
    const want = { running: 0, exited: 0, paused: 0, other: 0 };
    for (const c of r.containers) {
      const s = SAMPLES.find((x) => x.name === c.name);
      ok(s, "unexpected container " + c.name);
      eq(c.state, s.state, c.name + " state");
      // The engine's own words for the same states.
      const inEngine = { stopped: "exited", configured: "created" }[engineState(c.name)] || engineState(c.name);
      eq(inEngine, s.state, c.name + " state in the engine");
      eq(c.short, c.id, c.name + " short");
      eq(c.image, IMAGE, c.name + " image");
      eq(c.ports, "", c.name + " ports");
      ok(STATUS_RE[s.state].test(c.status), c.name + " status text: " + c.status);
      if (s.state === "running") {
        ok(/^\d+(\.\d+)?%$/.test(c.cpu), c.name + " cpu: " + c.cpu);
        ok(/^\S+ \/ \S+$/.test(c.mem), c.name + " mem: " + c.mem);
      }
      want[c.state in want && c.state !== "created" ? c.state : "other"]++;
    }
    eq(r.summary, { total: engine.length, ...want }, "summary");
    eq(want, { running: 2, exited: 2, paused: 1, other: 1 }, "states of the test's containers");
  });
}

async function logsChecks(label, get, env, bin) {
  await check(label + ": logs return the container's real output", async () => {
    const reply = await get("action=logs&cid=hmt-logs");
    const text = "first line\nsecond\tline with a tab\nthird line\n";
    eq(reply.head, JSON_HEAD, "head");
    eq(reply.body, JSON.stringify({ ok: true, action: "logs", cid: "hmt-logs", tail: 100, exit_code: 0,
      lines: ["first line", "second\tline with a tab", "third line"], text }) + "\n", "body");
  });
  await check(label + ": logs keep the last 100 lines", async () => {
    const reply = await get("action=logs&cid=hmt-many");
    const lines = [];
    for (let i = 51; i <= 150; i++) lines.push("line " + i);
    eq(reply.head, JSON_HEAD, "head");
    eq(reply.body, JSON.stringify({ ok: true, action: "logs", cid: "hmt-many", tail: 100, exit_code: 0,
      lines, text: lines.join("\n") + "\n" }) + "\n", "body");
  });
  await check(label + ": logs of a missing container give 409 with the engine's message", async () => {
    const reply = await get("action=logs&cid=hmt-nosuch");
    const e = engineSays(env, `'${bin}' logs --tail 100 hmt-nosuch`);
    ok(e.status !== 0 && e.text.length > 0, "the engine itself should fail: " + JSON.stringify(e));
    eq(reply.head, "Status: 409 Conflict\r\n" + JSON_HEAD, "head");
    eq(reply.body, JSON.stringify({ ok: false, action: "logs", cid: "hmt-nosuch", tail: 100, exit_code: e.status,
      lines: e.text.split("\n").filter(Boolean), text: e.text }) + "\n", "body");
  });
}

function startedAt(name) {
  return must(PODMAN, ["inspect", "--format", "{{.State.StartedAt}}", name]).trim();
}

async function controlChecks(label, get, post, env, bin) {
  const stateOf = async (name) => json((await get("action=list")).body).containers.find((c) => c.name === name).state;
  for (const [op, after] of [["stop", "exited"], ["start", "running"], ["restart", "running"]]) {
    await check(`${label}: control ${op} answers ok and the next list shows ${after}`, async () => {
      const before = startedAt("hmt-ctl");
      const reply = await post("action=control", `op=${op}&cid=hmt-ctl`);
      const utc = utcOf(reply.body);
      eq(reply.head, JSON_HEAD, "head");
      eq(reply.body, JSON.stringify({ ok: true, action: "control", op, cid: "hmt-ctl", exit_code: 0, output: "hmt-ctl\n", utc }) + "\n", "body");
      eq(await stateOf("hmt-ctl"), after, "state after " + op);
      if (op !== "stop") ok(startedAt("hmt-ctl") !== before, op + " did not start the container anew");
    });
  }
  await check(label + ": control on a missing container gives 409 with the engine's message and exit code", async () => {
    const reply = await post("action=control", "op=stop&cid=hmt-nosuch");
    const e = engineSays(env, `'${bin}' stop hmt-nosuch`);
    ok(e.status !== 0 && e.text.length > 0, "the engine itself should fail: " + JSON.stringify(e));
    const utc = utcOf(reply.body);
    eq(reply.head, "Status: 409 Conflict\r\n" + JSON_HEAD, "head");
    eq(reply.body, JSON.stringify({ ok: false, action: "control", op: "stop", cid: "hmt-nosuch", exit_code: e.status, output: e.text, utc }) + "\n", "body");
  });
}

// ---------------------------------------------------------------- parts

function prepareSandbox() {
  must(SANDBOX_SH, ["-d", SANDBOX, "prepare"], { stdio: ["ignore", "pipe", "pipe"] });
}
function startService() {
  const sock = must(SANDBOX_SH, ["-d", SANDBOX, "service"]).trim();
  atExit(() => run(SANDBOX_SH, ["-d", SANDBOX, "unservice"]));
  return sock;
}
// A folder holding only `docker`, Debian's client, so that hullmon finds
// exactly that one on PATH.
function dockerOnPath() {
  ok(fs.existsSync(DOCKER_CLIENT), DOCKER_CLIENT + " is missing (tests/runtime/setup.sh installs docker.io)");
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "hullmon-docker-"));
  fs.symlinkSync(DOCKER_CLIENT, path.join(dir, "docker"));
  atExit(() => fs.rmSync(dir, { recursive: true, force: true }));
  return dir;
}

async function partPodman() {
  prepareSandbox();
  atExit(removeContainers);
  await createContainers();
  const env = { DOCKER_BIN: PODMAN, PATH: SYS_PATH };
  const { get, post } = cgiAccess(HULLMON, env);
  await listChecks("podman", get, env, PODMAN);
  await logsChecks("podman", get, env, PODMAN);
  await controlChecks("podman", get, post, env, PODMAN);

  await check("podman found on PATH as podman: same listing, labelled podman", async () => {
    // Only the sandbox's podman on PATH; no docker for hullmon to prefer.
    const penv = { PATH: path.join(SANDBOX, "bin") };
    const { get } = cgiAccess(HULLMON, penv);
    const info = json((await get("action=info")).body);
    eq(info.runtime, { available: true, bin: "podman", label: "podman" }, "runtime");
    const list = json((await get("action=list")).body);
    eq(list.runtime, info.runtime, "list runtime");
    eq(list.count, NAMES.length, "count");
    eq(list.containers.map((c) => c.name).sort(), [...NAMES].sort(), "names");
  });
}

async function partDocker() {
  prepareSandbox();
  atExit(removeContainers);
  await createContainers();
  const sock = startService();
  const dir = dockerOnPath();
  const env = { DOCKER_HOST: sock, PATH: dir + ":" + SYS_PATH };
  const { get, post } = cgiAccess(HULLMON, env);
  await check("docker client: info selects docker from PATH", async () => {
    eq(json((await get("action=info")).body).runtime, { available: true, bin: "docker", label: "docker" }, "runtime");
  });
  await listChecks("docker client", get, env, "docker");
  await logsChecks("docker client", get, env, "docker");
  await controlChecks("docker client", get, post, env, "docker");
}

async function partDaemonDown() {
  const dir = dockerOnPath();
  const nothing = "unix://" + path.join(dir, "no-engine.sock");
  const env = { DOCKER_HOST: nothing, PATH: dir + ":" + SYS_PATH };
  const { get, post } = cgiAccess(HULLMON, env);
  await check("daemon down: list says daemon_available false with the client's message", async () => {
    const reply = await get("action=list");
    const e = engineSays(env, `'docker' ps -a --format '${LIST_FORMAT}'`);
    ok(e.status !== 0 && /Cannot connect to the Docker daemon/.test(e.text), "the client should fail: " + JSON.stringify(e));
    const utc = utcOf(reply.body);
    eq(reply.head, JSON_HEAD, "head");
    eq(reply.body,
      '{"ok":true,"action":"list","plugin":"hullmon","slug":"docker","version":"' + VERSION + '",' +
      '"runtime":{"available":true,"bin":"docker","label":"docker"},"daemon_available":false,"error":' +
      JSON.stringify(e.text) + ',"utc":"' + utc + '","count":0,' +
      '"summary":{"total":0,"running":0,"exited":0,"paused":0,"other":0},"containers":[]}\n', "body");
  });
  await check("daemon down: logs and control give 409 with the client's message", async () => {
    const logs = await get("action=logs&cid=web1");
    const el = engineSays(env, "'docker' logs --tail 100 web1");
    eq(logs.head, "Status: 409 Conflict\r\n" + JSON_HEAD, "logs head");
    eq(logs.body, JSON.stringify({ ok: false, action: "logs", cid: "web1", tail: 100, exit_code: el.status,
      lines: el.text.split("\n").filter(Boolean), text: el.text }) + "\n", "logs body");
    const ctl = await post("action=control", "op=restart&cid=web1");
    const ec = engineSays(env, "'docker' restart web1");
    const utc = utcOf(ctl.body);
    eq(ctl.head, "Status: 409 Conflict\r\n" + JSON_HEAD, "control head");
    eq(ctl.body, JSON.stringify({ ok: false, action: "control", op: "restart", cid: "web1", exit_code: ec.status, output: ec.text, utc }) + "\n", "control body");
  });
}

// ---- many containers

// 300 containers past the sample ones, created only (cheap), then one
// running container made last: podman lists oldest first, so the newest is
// the one a row limit would cut.
async function partMany() {
  prepareSandbox();
  atExit(removeContainers);
  removeContainers();
  const EXTRA = 300;
  // One shell for all the creates: a node spawn per container costs more
  // than podman itself.
  must("/bin/sh", ["-c",
    `i=0; while [ $i -lt ${EXTRA} ]; do '${PODMAN}' create -q --name hmt-job-$i --network none ${IMAGE} true >/dev/null || exit 1; i=$((i+1)); done`]);
  podman("run", "-d", "--name", "hmt-last", "--network", "none", "--stop-timeout", "3", IMAGE,
    "sh", "-c", 'trap "exit 0" TERM; while :; do sleep 1; done');
  const env = { DOCKER_BIN: PODMAN, PATH: SYS_PATH };
  const { get, post } = cgiAccess(HULLMON, env);

  await check(`podman with ${EXTRA + 1} containers: every one is listed, and the counts are the engine's`, async () => {
    const r = json((await get("action=list")).body);
    const engine = podman("ps", "-a", "--format", "{{.ID}}|{{.Names}}|{{.State}}").split("\n").filter(Boolean)
      .map((l) => l.split("|"));
    ok(engine.length >= EXTRA + 1, "the engine holds " + engine.length + " containers");
    eq(r.count, engine.length, "count against podman ps -a");
    eq(r.containers.map((c) => c.id).sort(), engine.map((e) => e[0]).sort(), "ids against podman ps -a");
    const running = podman("ps", "-q", "--filter", "status=running").split("\n").filter(Boolean).length;
    eq(r.summary.running, running, "running against podman ps --filter status=running");
    eq(r.summary.total, engine.length, "total");
    const last = r.containers.find((c) => c.name === "hmt-last");
    ok(last, "the container made last is listed");
    eq(last.state, "running", "its state");
  });

  await check("podman with many containers: the one made last stops by the id the list gives", async () => {
    const id = json((await get("action=list")).body).containers.find((c) => c.name === "hmt-last").id;
    const reply = await post("action=control", `op=stop&cid=${id}`);
    const utc = utcOf(reply.body);
    eq(reply.head, JSON_HEAD, "head");
    eq(reply.body, JSON.stringify({ ok: true, action: "control", op: "stop", cid: id, exit_code: 0, output: id + "\n", utc }) + "\n", "body");
    const after = json((await get("action=list")).body).containers.find((c) => c.id === id);
    eq(after.state, "exited", "state after stop");
  });
}

// ---- lighttpd

async function partLighttpd() {
  prepareSandbox();
  atExit(removeContainers);
  await createContainers();
  const sock = startService();
  const dir = dockerOnPath();
  const PASSWORD = "hull pw+1";
  const { base, state } = await startLighttpd(HULLMON, REPO, { KELM_PASSWORD: PASSWORD, DOCKER_BIN: "", DOCKER_HOST: sock, PATH: dir + ":" + SYS_PATH });
  const clientEnv = { DOCKER_HOST: sock, PATH: dir + ":" + SYS_PATH };

  const http = httpClient(base);
  const authed = (how) => {
    const headers = {};
    let extra = "";
    if (how === "header") headers["X-Kelm-Password"] = PASSWORD;
    if (how === "bearer") headers["Authorization"] = "Bearer " + PASSWORD;
    if (how === "pwd") extra = "&pwd=" + encodeURIComponent(PASSWORD);
    return {
      // The page with a plugin parameter calls the host's plugin route.
      get: (query) => http("/plugins?plugin=docker?" + query + extra, { headers }),
      post: (query, body) => http("/plugins?plugin=docker?" + query + extra, {
        method: "POST", body, headers: { ...headers, "Content-Type": "application/x-www-form-urlencoded" } }),
    };
  };

  const REFUSED = '{"ok":false,"error":"invalid node password"}\n';
  await check("lighttpd: without the node password every request is refused", async () => {
    for (const [url, headers] of [
      ["/hullmon?action=list", {}],
      ["/hullmon?embed=1&plugin=docker&node=local", {}],
      ["/plugins?plugin=docker?action=logs&cid=hmt-logs", {}],
      ["/hullmon?action=list&pwd=wrong", { "X-Kelm-Password": "hull pw" }],
      ["/hullmon?action=list", { Authorization: "bearer " + PASSWORD }],
      ["/hullmon?action=list", { Authorization: "Basic " + Buffer.from("u:" + PASSWORD).toString("base64") }],
      ["/hullmon?action=info", { Authorization: "Bearer\t" + PASSWORD }],
    ]) {
      const r = await http(url, { headers });
      eq([url, headers, r.head, r.body], [url, headers, "Status: 401 Unauthorized\r\n" + JSON_HEAD, REFUSED], "refusal");
    }
    const post = await http("/plugins?plugin=docker?action=control", { method: "POST", body: "op=stop&cid=hmt-ctl&pwd=" + encodeURIComponent(PASSWORD),
      headers: { "Content-Type": "application/x-www-form-urlencoded" } });
    eq([post.status, post.body], [401, REFUSED], "a password in the POST body does not count");
    eq(engineState("hmt-ctl"), "running", "the refused stop did nothing");
  });

  await check("lighttpd: the host page and the plugin page are served", async () => {
    const host = await http("/");
    eq(host.status, 200, "host page status");
    eq(host.body, fs.readFileSync(path.join(REPO, "deploy", "host", "index.html"), "utf8"), "host page");
    const page = await http("/hullmon?embed=1&plugin=docker&node=local&pwd=" + encodeURIComponent(PASSWORD));
    eq([page.status, page.head], [200, PAGE_HEAD], "page head");
    ok(page.body.startsWith("<!DOCTYPE html>") && page.body.includes("</html>"), "page body");
  });

  for (const how of ["header", "bearer", "pwd"]) {
    await check(`lighttpd: info through /hullmon and the plugin route with the password as ${how}`, async () => {
      const a = authed(how);
      const viaPlugin = json((await a.get("action=info")).body);
      eq(viaPlugin.runtime, { available: true, bin: "docker", label: "docker" }, "runtime");
      const headers = how === "header" ? { "X-Kelm-Password": PASSWORD } : how === "bearer" ? { Authorization: "Bearer " + PASSWORD } : {};
      const extra = how === "pwd" ? "&pwd=" + encodeURIComponent(PASSWORD) : "";
      const direct = await http("/hullmon?action=info" + extra, { headers });
      eq([direct.status, json(direct.body).action], [200, "info"], "direct route");
    });
  }
  const byHeader = authed("header");
  const byBearer = authed("bearer");
  const byPwd = authed("pwd");
  await listChecks("lighttpd (header)", byHeader.get, clientEnv, "docker");
  await logsChecks("lighttpd (pwd parameter)", byPwd.get, clientEnv, "docker");
  await controlChecks("lighttpd (bearer)", byBearer.get, byBearer.post, clientEnv, "docker");
  await check("lighttpd: the access log keeps the action of requests, never the password", async () => {
    eq(await accessLogged(http, path.join(state, "access.log"), PASSWORD, "hmt-logs"),
      ["GET /hullmon", "POST /hullmon action=control", "GET /hullmon action=logs"], "the logged requests");
  });
}

// ---------------------------------------------------------------- main

const PARTS = { podman: partPodman, many: partMany, docker: partDocker, "daemon-down": partDaemonDown, lighttpd: partLighttpd };
if (!PARTS[part]) {
  console.log("unknown part " + part + "; one of " + Object.keys(PARTS).join(", "));
  process.exit(2);
}
// The sandbox runs podman as root (rootless podman needs a setup of its own).
if (part !== "daemon-down" && process.getuid && process.getuid() !== 0) skip("the podman sandbox needs root");
// A test installs nothing: what is missing makes it skip, and
// tests/runtime/setup.sh (run by `make test` beforehand) installs it.
{
  const missing = [];
  if (part !== "daemon-down") missing.push(run(SANDBOX_SH, ["-d", SANDBOX, "missing", "podman"]).out.trim());
  if (part !== "podman" && !fs.existsSync(DOCKER_CLIENT)) missing.push("docker.io");
  if (part === "lighttpd" && !fs.existsSync("/usr/sbin/lighttpd")) missing.push("lighttpd");
  if (missing.join("")) skip("missing Debian packages: " + missing.filter(Boolean).join(" ") + " (tests/runtime/setup.sh installs them)");
}
await runChecks(part + " setup", PARTS[part]);
