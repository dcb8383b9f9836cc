// The JSON API of jogar-web, against the real server and the real memoria.
import assert from "node:assert/strict";
import { mkdtempSync, writeFileSync, chmodSync, readdirSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, test } from "node:test";
import { call, startServer } from "./server.mjs";

let server;
before(async () => { server = await startServer(); });
after(async () => { assert.equal(await server.stop(), 0); });

const newGame = async (base = server.url) => {
  const created = await call(base, "/api/games", {});
  assert.equal(created.status, 201);
  return created.body;
};

// Learns every face by flipping, then plays the pairs: a whole game.
async function playWholeGame(base, id) {
  const byValue = new Map();
  for (let place = 0; place < 16; place++) {
    const flipped = await call(base, `/api/games/${id}/flip`, { place });
    assert.deepEqual(flipped, { status: 200, body: { place, value: flipped.body.value } });
    byValue.set(flipped.body.value, [...(byValue.get(flipped.body.value) ?? []), place]);
  }
  let last;
  for (const [value, [first, second]] of byValue) {
    last = await call(base, `/api/games/${id}/moves`, { first, second });
    assert.equal(last.status, 200);
    // Every reply echoes its own move.
    assert.equal(last.body.first, first);
    assert.equal(last.body.second, second);
    assert.deepEqual(last.body.values, [value, value]);
    assert.equal(last.body.verdict, 1);
    assert.equal(last.body.message, "deu certo");
  }
  return last.body;
}

test("a whole game, with a miss, the found cards and the end", async () => {
  const game = await newGame();
  assert.match(game.game, /^[0-9a-f]{32}$/);
  assert.deepEqual({ ...game, game: 0 }, { game: 0, places: 16, moves: 0, pairs_left: 8, finished: false });
  const faces = [];
  for (let place = 0; place < 16; place++)
    faces.push((await call(server.url, `/api/games/${game.game}/flip`, { place })).body.value);
  const second = faces.findIndex((v, p) => p > 0 && v !== faces[0]);
  const miss = await call(server.url, `/api/games/${game.game}/moves`, { first: 0, second });
  assert.equal(miss.body.verdict, 0);
  assert.equal(miss.body.message, "não são iguais ");
  const end = await playWholeGame(server.url, game.game);
  assert.deepEqual({ ...end, first: 0, second: 0, values: 0 },
    { first: 0, second: 0, values: 0, verdict: 1, message: "deu certo", moves: 9, pairs_left: 0, finished: true });
  const shown = await call(server.url, `/api/games/${game.game}`);
  assert.equal(shown.body.finished, true);
  assert.equal(Object.keys(shown.body.found).length, 16);
  assert.deepEqual(Object.values(shown.body.found).sort(), [...faces].sort());
});

test("every error has its status and a JSON error", async () => {
  const { game: id } = await newGame();
  const moves = `/api/games/${id}/moves`;
  const cases = [
    [400, moves, "{not json"],
    [400, moves, "[0, 1]"],
    [400, moves, { first: 0 }],
    [400, moves, { first: 0, second: 1, third: 2 }],
    [400, moves, { first: 0, second: 1.5 }],
    [400, moves, { first: "0", second: 1 }],
    [400, moves, { first: true, second: 1 }],
    [400, moves, { first: 0, second: 16 }],
    [400, moves, { first: -1, second: 1 }],
    [400, moves, '{"first": 0, "second": 18446744073709551617}'],
    [400, `/api/games/${id}/flip`, { place: 99 }],
    [404, "/api/games/0123456789abcdef0123456789abcdef", undefined],
    [404, `/api/games/${id}/../../etc/passwd`, undefined],
    [404, "/api/games/..%2F..%2Fetc%2Fpasswd/moves", { first: 0, second: 1 }],
    [409, moves, { first: 3, second: 3 }],
    [413, moves, JSON.stringify({ first: 0, second: 1, pad: "x".repeat(1100) })],
  ];
  for (const [status, path, body] of cases) {
    const got = await call(server.url, path, body);
    assert.equal(got.status, status, `${path} ${JSON.stringify(body)}`);
    assert.equal(typeof got.body.error, "string");
  }
  // A card already found is refused before the judge sees it.
  const faces = [];
  for (let place = 0; place < 16; place++)
    faces.push((await call(server.url, `/api/games/${id}/flip`, { place })).body.value);
  const partner = faces.indexOf(faces[0], 1);
  assert.equal((await call(server.url, moves, { first: 0, second: partner })).body.verdict, 1);
  const again = await call(server.url, moves, { first: partner, second: 1 });
  assert.equal(again.status, 409);
  assert.equal((await call(server.url, `/api/games/${id}`)).body.moves, 1);
});

test("a failing judge is a 502 with its stderr line, and the game is unchanged", async () => {
  const dir = mkdtempSync(join(tmpdir(), "jogar-web-test-"));
  const failing = join(dir, "failing-judge");
  writeFileSync(failing, "#!/bin/sh\necho 'memoria: conector.txt: Permission denied' >&2\nexit 2\n");
  chmodSync(failing, 0o755);
  const broken = await startServer(["--memoria", failing]);
  try {
    const { game: id } = await newGame(broken.url);
    const got = await call(broken.url, `/api/games/${id}/moves`, { first: 0, second: 1 });
    assert.equal(got.status, 502);
    assert.match(got.body.error, /exit status 2: memoria: conector.txt: Permission denied/);
    assert.equal((await call(broken.url, `/api/games/${id}`)).body.moves, 0);
  } finally {
    await broken.stop();
    rmSync(dir, { recursive: true, force: true });
  }
});

test("no more than --max-games open games; a finished game frees its room and folder", async () => {
  const small = await startServer(["--max-games", "2"]);
  try {
    const first = await newGame(small.url);
    await newGame(small.url);
    const refused = await call(small.url, "/api/games", {});
    assert.equal(refused.status, 503);
    assert.equal(typeof refused.body.error, "string");
    await playWholeGame(small.url, first.game);
    await newGame(small.url);
  } finally {
    await small.stop();
  }
});

test("50 games side by side: nothing lost or mixed up", async () => {
  const games = await Promise.all(Array.from({ length: 50 }, () => newGame()));
  assert.equal(new Set(games.map((g) => g.game)).size, 50);
  const ends = await Promise.all(games.map((g) => playWholeGame(server.url, g.game)));
  for (const end of ends) assert.deepEqual([end.moves, end.pairs_left, end.finished], [8, 0, true]);
});

test("the server's folders are gone after it stops", async () => {
  const before = readdirSync(tmpdir()).filter((n) => n.startsWith("jogar-web-")).length;
  const extra = await startServer();
  await newGame(extra.url);
  assert.equal(await extra.stop(), 0);
  const left = readdirSync(tmpdir()).filter((n) => n.startsWith("jogar-web-")).length;
  assert.equal(left, before);
});
