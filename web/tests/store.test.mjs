// Games kept in the store, on SQLite and on a real PostgreSQL: a server
// killed in the middle of a stream of moves, then started again; two servers
// on one store, sharing games and racing on one move.
import assert from "node:assert/strict";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, test } from "node:test";
import { call, follow, playWholeGame, startPostgresql, startServer } from "./server.mjs";

let postgresql;
let folder;
before(async () => {
  postgresql = await startPostgresql();
  folder = mkdtempSync(join(tmpdir(), "jogar-web-store-test-"));
});
after(async () => {
  await postgresql?.stop();
  rmSync(folder, { recursive: true, force: true });
});

const stores = () => [["SQLite", join(folder, `games-${Date.now()}.sqlite3`)], ["PostgreSQL", postgresql.uri]];
const many = ["--max-games-per-client", "1000"];

// Moves two cards not yet found, naming the version it saw, over and over,
// until the server stops answering. Counts the moves answered, and notes the
// request under way when the server went.
async function streamMoves(base, id, tally) {
  let state = (await call(base, `/api/games/${id}`)).body;
  for (;;) {
    const free = [...Array(16).keys()].filter((p) => !(p in state.found));
    if (free.length === 0) return;
    const [first, second] = free.sort(() => Math.random() - 0.5);
    for (const place of [first, second]) {
      const request = { place, version: state.version };
      tally.inFlight = request;
      let answer;
      try {
        answer = await call(base, `/api/games/${id}/flip`, request);
      } catch {
        return; // the server is gone; the request may or may not have been kept
      }
      assert.equal(answer.status, 200, JSON.stringify(answer.body));
      tally.inFlight = null;
      state = { ...state, ...answer.body };
      if (place === second) tally.moves = answer.body.moves;
    }
  }
}

for (const [name] of [["SQLite"], ["PostgreSQL"]]) {
  test(`${name}: a server killed with SIGKILL mid-stream loses no answered move, and counts no other`, async () => {
    const where = Object.fromEntries(stores())[name];
    const killed = await startServer(many, { store: where });
    // On PostgreSQL a second server is up already and takes over at once.
    let next = name === "PostgreSQL" ? await startServer(many, { store: where }) : null;
    try {
      const ids = [];
      for (let i = 0; i < 30; i++) ids.push((await call(killed.url, "/api/games", {})).body.game);
      const tallies = ids.map(() => ({ moves: 0, inFlight: null }));
      const streams = ids.map((id, i) => streamMoves(killed.url, id, tallies[i]));
      // Kill once the stream is well under way, at a random instant after
      // that, however fast this build judges (a sanitized one is slow).
      const answeredSoFar = () => tallies.reduce((sum, t) => sum + t.moves, 0);
      for (let waited = 0; answeredSoFar() < 60 && waited < 30000; waited += 50) {
        await new Promise((resolve) => setTimeout(resolve, 50));
      }
      await new Promise((resolve) => setTimeout(resolve, Math.random() * 300));
      await killed.kill();
      await Promise.all(streams);
      next ??= await startServer(many, { store: where });
      let answered = 0;
      let kept = 0;
      for (const [i, id] of ids.entries()) {
        const now = (await call(next.url, `/api/games/${id}`)).body;
        const { moves, inFlight } = tallies[i];
        answered += moves;
        kept += now.moves;
        // The request under way at the kill was kept or not; if kept, asking
        // again from the version it named gets the answer it never had.
        assert.ok(now.moves === moves || (inFlight && now.moves === moves + 1), `${id}: ${moves} answered, ${now.moves} kept`);
        if (inFlight) {
          const again = await call(next.url, `/api/games/${id}/flip`, inFlight);
          assert.equal(again.status, 200, JSON.stringify(again.body));
          assert.equal((await call(next.url, `/api/games/${id}`)).body.version, Math.max(now.version, inFlight.version + 1));
        }
      }
      console.log(`${name}: ${answered} moves answered before the kill, ${kept} kept`);
      assert.ok(answered > 30, "the stream was under way");
      // The games continue where they were.
      assert.equal((await playWholeGame(next.url, ids[0])).last.finished, true);
    } finally {
      await next?.stop();
    }
  });

  test(`${name}: two servers on one store share games, and one move sent to both counts once`, async () => {
    const where = Object.fromEntries(stores())[name];
    const one = await startServer(many, { store: where });
    const two = await startServer(many, { store: where });
    try {
      const { game: id } = (await call(one.url, "/api/games", {})).body;
      await call(one.url, `/api/games/${id}/flip`, { place: 0, version: 0 });
      await call(one.url, `/api/games/${id}/flip`, { place: 1, version: 1 });
      assert.equal((await playWholeGame(two.url, id)).last.finished, true);
      for (let round = 0; round < 5; round++) {
        const { game } = (await call(two.url, "/api/games", {})).body;
        const flip = (server, body) => call(server.url, `/api/games/${game}/flip`, body);
        await flip(one, { place: 3, version: 0 });
        const both = await Promise.all([flip(one, { place: 7, version: 1 }), flip(two, { place: 7, version: 1 })]);
        assert.deepEqual(both.map((a) => a.status), [200, 200]);
        assert.deepEqual(both[0].body, both[1].body);
        const now = (await call(one.url, `/api/games/${game}`)).body;
        assert.deepEqual([now.moves, now.version], [1, 2]);
        // Another move from that old version is refused, with the game as it is.
        const other = await flip(two, { place: 8, version: 1 });
        assert.equal(other.status, 409);
        assert.deepEqual(other.body.state, now);
      }
    } finally {
      await one.stop();
      await two.stop();
    }
  });
}

test("PostgreSQL: two players on two servers finish a game, each seeing the other's moves as they happen", async (t) => {
  const one = await startServer(many, { store: postgresql.uri });
  const two = await startServer(many, { store: postgresql.uri });
  try {
    const made = (await call(one.url, "/api/games", { players: [{ name: "Ana" }, { name: "Bia" }], devices: 2 })).body;
    const id = made.game;
    const joined = (await call(two.url, `/api/games/${id}/seats`, "", "POST", { "X-Memoria-Invite": made.invite })).body;
    const seats = [{ base: one.url, token: made.token }, { base: two.url, token: joined.token }];
    const followers = [await follow(one.url, id), await follow(two.url, id)];
    // Each flip succeeds and advances the game by one version: the k-th
    // sent brings it to version k. Its delay runs from the moment its device
    // sent it to the moment the other device's socket, on the other server,
    // heard it.
    const sent = [];
    const played = await playWholeGame(one.url, id, (turn) => {
      sent.push({ turn, at: performance.now() });
      return { base: seats[turn].base, headers: { "X-Memoria-Seat": seats[turn].token } };
    });
    assert.equal(played.last.finished, true);
    const last = played.last.version;
    assert.equal(sent.length, last);
    for (const f of followers) assert.equal((await f.next(last)).answer.finished, true);
    const delays = sent.map(({ turn, at }, k) => (followers[1 - turn].messages.find((m) => m.answer.version === k + 1).at - at));
    delays.sort((a, b) => a - b);
    const q = (p) => delays[Math.min(delays.length - 1, Math.floor(p * delays.length))].toFixed(1);
    t.diagnostic(`${delays.length} changes, sent on one server, heard on the other's socket: median ${q(0.5)} ms, p99 ${q(0.99)} ms`);
    assert.ok(delays.at(-1) < 1000, "each change on both screens within a second");
    for (const f of followers) f.close();
  } finally {
    await one.stop();
    await two.stop();
  }
});

test("--check says what the store holds", async () => {
  const { execFile } = await import("node:child_process");
  const { promisify } = await import("node:util");
  const run = promisify(execFile);
  const file = join(folder, "checked.sqlite3");
  const server = await startServer([], { store: file });
  await call(server.url, "/api/games", {});
  await server.stop();
  const { stdout } = await run(process.env.JOGAR_WEB, ["--store", file, "--check"]);
  assert.equal(stdout, `store: ${file}\nschema version: 3\ngames: 1 (1 unfinished, 0 finished)\nchanges: 0\n`);
});
