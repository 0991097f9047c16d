// hullmon against a real Docker Engine: Debian's dockerd, started for this
// test alone by scripts/sandbox.sh (data in the sandbox folder, its own
// socket, no bridge network, the busybox image imported), reached through
// the real docker client found on PATH, as on a node that runs Docker.
//
// Usage: node dockerd_test.mjs --hullmon PATH --sandbox DIR --repo DIR
// No npm packages: Node's standard library only. The engine is stopped and
// its files removed at the end, also when a check fails; the CTest test
// runtime/dockerd-cleanup does the same after a killed run.

import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import {
  IMAGE, JSON_HEAD, SAMPLES, SYS_PATH,
  Mismatch, atExit, cgiAccess, check, createSamples, engineSays, eq, ok, opt, run, runChecks, skip, utcOf,
} from "./harness.mjs";

const HULLMON = opt("hullmon");
const SANDBOX = opt("sandbox");
const REPO = opt("repo");
const SANDBOX_SH = path.join(REPO, "scripts", "sandbox.sh");
const DOCKER_CLIENT = "/usr/bin/docker"; // Debian's docker.io client
const LIST_ARGS = "ps -a --format {{.ID}}|{{.Names}}|{{.Image}}|{{.State}}|{{.Status}}|{{.Ports}}";
const STATS_ARGS = "stats --no-stream --format {{.ID}}|{{.CPUPerc}}|{{.MemUsage}}";
// The engine's commands may take longer than podman's: its usage command
// waits for a second sample.
const SLOW = { timeout: 120000 };

// ---------------------------------------------------------------- helpers

let ENGINE_ENV = null; // the real client's environment once the engine runs
function docker(...a) {
  const r = run(DOCKER_CLIENT, a, { ...SLOW, env: ENGINE_ENV });
  if (r.status !== 0) throw new Error("docker " + a.join(" ") + " failed (" + r.status + "): " + r.all);
  return r.out;
}
const inspect = (what, name) => docker("inspect", "--format", what, name).trim();

// A folder whose only `docker` runs the real client and keeps what it
// printed, with its exit status, one record per call: the list reply is
// then held whole against the very output the engine gave hullmon. hullmon
// runs a list's two commands together, so each call writes a record of its
// own name, and the records come back in the order of their arguments.
function recordingClient() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "hullmon-dockerd-client-"));
  atExit(() => fs.rmSync(dir, { recursive: true, force: true }));
  const rec = path.join(dir, "calls");
  fs.mkdirSync(rec);
  fs.writeFileSync(path.join(dir, "docker"),
    "#!/bin/sh\n" +
    `call=$(mktemp '${rec}/XXXXXX') || exit 125\n` +
    'printf "%s\\n" "$*" >"$call.args"\n' +
    `'${DOCKER_CLIENT}' "$@" >"$call.out" 2>&1\n` +
    'rc=$?; echo $rc >"$call.rc"; cat "$call.out"; exit $rc\n', { mode: 0o755 });
  return {
    dir,
    // The calls since the last take, by their arguments: [{ args, out, rc }].
    take() {
      const calls = [];
      for (const name of fs.readdirSync(rec).filter((n) => !n.includes("."))) {
        const at = path.join(rec, name);
        calls.push({ args: fs.readFileSync(at + ".args", "utf8").replace(/\n$/, ""),
          out: fs.readFileSync(at + ".out", "utf8"), rc: Number(fs.readFileSync(at + ".rc", "utf8")) });
        for (const ext of ["", ".args", ".out", ".rc"]) fs.rmSync(at + ext);
      }
      return calls.sort((x, y) => (x.args < y.args ? -1 : x.args > y.args ? 1 : 0));
    },
  };
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

atExit(() => {
  const r = run(SANDBOX_SH, ["-d", SANDBOX, "undockerd"], SLOW);
  if (r.status !== 0) console.log("undockerd: " + r.all);
});
const started = run(SANDBOX_SH, ["-d", SANDBOX, "dockerd"], SLOW);
if (started.status !== 0) skip("the Docker Engine did not start here:\n" + started.all);
const HOST = started.out.trim();
ENGINE_ENV = { DOCKER_HOST: HOST, PATH: SYS_PATH };
console.log("Docker Engine at " + HOST);

await runChecks("setup", async () => {
  const VERSION = run(HULLMON, ["--version"]).out.trim();
  await createSamples(docker);
  const client = recordingClient();
  const env = { DOCKER_HOST: HOST, PATH: client.dir + ":" + SYS_PATH };
  const { get, post } = cgiAccess(HULLMON, env, SLOW);

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
      const e = engineSays(ENGINE_ENV, c.line);
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
});
