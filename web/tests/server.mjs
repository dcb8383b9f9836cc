// Starts a real jogar-web, judging with the real memoria, for one test file;
// and a real PostgreSQL server for the tests that share one store.
import assert from "node:assert/strict";
import { execFile, spawn } from "node:child_process";
import { once } from "node:events";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { createInterface } from "node:readline";
import { promisify } from "node:util";
import WebSocket from "ws";

export const program = process.env.JOGAR_WEB;
export const memoria = process.env.MEMORIA;
const postgresqlServer = new URL("../../tests/postgresql-server", import.meta.url).pathname;

// A server on a store of its own, a SQLite file removed when it stops,
// unless `store` names one that the test keeps.
export async function startServer(args = [], { store, port = 0 } = {}) {
  if (!program) throw new Error("JOGAR_WEB names the jogar-web to test");
  const own = store === undefined ? mkdtempSync(join(tmpdir(), "jogar-web-store-")) : null;
  const where = store ?? join(own, "games.sqlite3");
  const child = spawn(program, ["--port", String(port), "--store", where, ...args],
    { stdio: ["ignore", "pipe", "inherit"] });
  const exited = once(child, "exit");
  const [line] = await Promise.race([once(createInterface({ input: child.stdout }), "line"),
    exited.then(([code]) => { throw new Error(`jogar-web exited with ${code}`); })]);
  const remove = () => { if (own) rmSync(own, { recursive: true, force: true }); };
  return {
    url: line.trim(),
    child,
    async stop() {
      child.kill("SIGTERM");
      const [code] = await exited;
      remove();
      return code;
    },
    // Ends it at once, as a crash would: nothing of it runs after.
    async kill() {
      child.kill("SIGKILL");
      await exited;
      remove();
    },
  };
}

// A PostgreSQL server of the test's own: its URI, and a stop that removes it.
export async function startPostgresql() {
  const dir = mkdtempSync(join(tmpdir(), "jogar-web-postgresql-"));
  const run = promisify(execFile);
  const { stdout } = await run(postgresqlServer, ["start", dir]);
  return { uri: stdout.trim(), stop: () => run(postgresqlServer, ["stop", dir]) };
}

// One API call: the status and the parsed body.
export async function call(base, path, body, method = body === undefined ? "GET" : "POST", headers = {}) {
  const response = await fetch(new URL(path, base), {
    method,
    headers: { "Content-Type": "application/json", ...headers },
    body: typeof body === "string" || body === undefined ? body : JSON.stringify(body),
  });
  return { status: response.status, body: await response.json() };
}

// Plays by memory, as a player would: faces are seen only as moves show
// them, so it turns an unseen card, then its known partner or another unseen
// one. Returns the last move's answer and every answer on the way. `via`
// says, for the player whose turn it is, which server to ask and with which
// headers (a seat's token, for a game on two devices).
export async function playWholeGame(base, id, via = () => ({ base, headers: {} })) {
  let turn = 0;
  const flip = (place) => {
    const to = via(turn);
    return call(to.base, `/api/games/${id}/flip`, { place }, "POST", to.headers);
  };
  // What earlier moves found is on the table, face up.
  const state = (await call(base, `/api/games/${id}`)).body;
  turn = state.turn;
  const known = new Map(Object.entries(state.found).map(([p, v]) => [Number(p), v]));
  const found = new Set(known.keys());
  const partner = (place) =>
    [...known].find(([p, v]) => p !== place && v === known.get(place) && !found.has(p))?.[0];
  const unseen = () => [...Array(16).keys()].find((p) => !known.has(p));
  const answers = [];
  // A card left face up by a move under way is that move's first card.
  let { pending } = state;
  while (found.size < 16) {
    let first = pending?.place;
    if (pending) known.set(first, pending.value);
    else {
      first = [...known.keys()].find((p) => !found.has(p) && partner(p) !== undefined) ?? unseen();
      const shown = await flip(first);
      assert.deepEqual(Object.keys(shown.body).sort(), ["place", "value", "version"]);
      known.set(first, shown.body.value);
    }
    pending = null;
    const second = partner(first) ?? unseen();
    const move = await flip(second);
    assert.equal(move.status, 200, JSON.stringify(move.body));
    // Every answer echoes its own move, and the judge decides.
    assert.deepEqual([move.body.first, move.body.second, move.body.values[0]], [first, second, known.get(first)]);
    known.set(second, move.body.values[1]);
    const pair = move.body.values[0] === move.body.values[1];
    assert.equal(move.body.verdict, pair ? 1 : 0);
    assert.equal(move.body.message, pair ? "deu certo" : "não são iguais ");
    if (pair) found.add(first).add(second);
    answers.push(move.body);
    turn = move.body.turn;
  }
  return { last: answers.at(-1), answers };
}

// Follows a game's changes over a WebSocket (the ws package: Node's own
// WebSocket client is not in every Node this runs on): `messages` fills as they come,
// and `next(version)` waits for the change that brings the game to version.
export async function follow(base, id) {
  const socket = new WebSocket(`${base.replace(/^http/, "ws")}api/games/${id}/events`);
  const messages = [];
  const waiting = [];
  socket.addEventListener("message", (event) => {
    const message = JSON.parse(event.data);
    message.at = performance.now();
    messages.push(message);
    for (const w of waiting.splice(0)) w();
  });
  await new Promise((resolve, reject) => {
    socket.addEventListener("open", resolve, { once: true });
    socket.addEventListener("error", reject, { once: true });
  });
  const next = async (version, ms = 5000) => {
    const end = performance.now() + ms;
    for (;;) {
      const got = messages.find((m) => m.answer.version === version);
      if (got) return got;
      const left = end - performance.now();
      if (left <= 0) throw new Error(`no change to version ${version} within ${ms} ms`);
      await new Promise((resolve) => { waiting.push(resolve); setTimeout(resolve, left); });
    }
  };
  return { socket, messages, next, close: () => socket.close() };
}
