// The JSON API of jogar-web, against the real server and the real memoria.
import assert from "node:assert/strict";
import net from "node:net";
import WebSocket from "ws";
import { mkdtempSync, writeFileSync, chmodSync, readdirSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, test } from "node:test";
import { spawn } from "node:child_process";
import { once } from "node:events";
import { request as httpRequest } from "node:http";
import { call, follow, memoria, playWholeGame, program, startServer } from "./server.mjs";

let server;
// Every test's games come from one address: the per-address cap has a test of its own.
before(async () => { server = await startServer(["--max-games-per-client", "1000"]); });
after(async () => { assert.equal(await server.stop(), 0); });

const newGame = async (base = server.url) => {
  const created = await call(base, "/api/games", {});
  assert.equal(created.status, 201);
  return created.body;
};

test("a whole game by flips: faces only as moves show them, misses counted, the end", async () => {
  const { game: id, ...fresh } = await newGame();
  assert.match(id, /^[0-9a-f]{32}$/);
  assert.deepEqual(fresh, {
    places: 16, version: 0, moves: 0, pairs_left: 8, finished: false, found: {}, pending: null,
    players: [{ name: "", pairs: 0, computer: null }], turn: 0, winners: null, seats: null,
    paused: false, time_ms: null,
  });
  const first = await call(server.url, `/api/games/${id}/flip`, { place: 5 });
  // A reload draws the card that was shown, and nothing more.
  const shown = await call(server.url, `/api/games/${id}`);
  assert.deepEqual(shown.body.pending, { place: 5, value: first.body.value });
  assert.deepEqual(shown.body.found, {});
  const opening = await call(server.url, `/api/games/${id}/flip`, { place: 6 });
  assert.deepEqual([opening.body.first, opening.body.second, opening.body.moves], [5, 6, 1]);
  assert.equal(opening.body.pending, null);
  const { last, answers } = await playWholeGame(server.url, id);
  assert.equal(last.finished, true);
  assert.equal(last.pairs_left, 0);
  assert.equal(last.moves, answers.length + 1);
  const end = await call(server.url, `/api/games/${id}`);
  assert.equal(Object.keys(end.body.found).length, 16);
  assert.equal((await call(server.url, `/api/games/${id}/flip`, { place: 0 })).status, 409);
});

test("every refusal has its status and a JSON error, and the game plays on", async () => {
  const { game: id } = await newGame();
  const moves = `/api/games/${id}/moves`;
  const flip = `/api/games/${id}/flip`;
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
    [400, moves, '{"first": 0, "second": 1, "second": 2}'],
    [400, moves, '{"first": -0, "second": 1}'],
    [400, moves, '{"first": {"x": 1}, "second": 1}'],
    [400, flip, { place: 99 }],
    [404, "/api/games/0123456789abcdef0123456789abcdef", undefined],
    [404, `/api/games/${id}/../../etc/passwd`, undefined],
    [404, "/api/games/..%2F..%2Fetc%2Fpasswd/moves", { first: 0, second: 1 }],
    [405, `/api/games/${id}`, "{}"],
    [405, "/api/games", undefined],
    [409, moves, { first: 3, second: 3 }],
    [413, moves, JSON.stringify({ first: 0, second: 1, pad: "x".repeat(1100) })],
  ];
  for (const [status, path, body] of cases) {
    const got = await call(server.url, path, body);
    assert.equal(got.status, status, `${path} ${JSON.stringify(body)}`);
    assert.equal(typeof got.body.error, "string");
  }
  const wrongMethod = await fetch(new URL("/api/games", server.url), { method: "DELETE" });
  assert.deepEqual([wrongMethod.status, wrongMethod.headers.get("allow")], [405, "POST"]);
  // The card of a move under way: not again, and no move of two other cards.
  assert.equal((await call(server.url, flip, { place: 2 })).status, 200);
  assert.equal((await call(server.url, flip, { place: 2 })).status, 409);
  assert.equal((await call(server.url, moves, { first: 0, second: 1 })).status, 409);
  assert.equal((await call(server.url, `/api/games/${id}`)).body.moves, 0);
  assert.equal((await call(server.url, flip, { place: 3 })).body.moves, 1);
  // The game still plays to its end.
  assert.equal((await playWholeGame(server.url, id)).last.finished, true);
});

// A stand-in judge: the real one for the start-up probe, then what `then`
// says for every move.
function standInJudge(then) {
  const dir = mkdtempSync(join(tmpdir(), "jogar-web-test-"));
  const judge = join(dir, "judge");
  writeFileSync(judge, `#!/bin/sh\nif [ ! -e "${dir}/probed" ]; then : > "${dir}/probed"; exec "${memoria}"; fi\n${then}\n`);
  chmodSync(judge, 0o755);
  return { judge, remove: () => rmSync(dir, { recursive: true, force: true }) };
}

test("a judge that fails or hangs: 502 or 504, nothing named, the game and its card unchanged", async () => {
  for (const [status, then, args] of [
    [502, "echo 'memoria: conector.txt: Permission denied' >&2; exit 2", []],
    [504, "sleep 30", ["--judge-timeout", "300"]],
  ]) {
    const stand = standInJudge(then);
    const broken = await startServer(["--memoria", stand.judge, ...args]);
    try {
      const { game: id } = await newGame(broken.url);
      await call(broken.url, `/api/games/${id}/flip`, { place: 4 });
      const started = Date.now();
      const judged = call(broken.url, `/api/games/${id}/flip`, { place: 9 });
      // A GET does not wait for the move: it shows the last settled state.
      const meanwhile = await call(broken.url, `/api/games/${id}`);
      assert.deepEqual([meanwhile.status, meanwhile.body.moves, meanwhile.body.pending.place], [200, 0, 4]);
      const got = await judged;
      assert.equal(got.status, status);
      assert.ok(Date.now() - started < 5000);
      assert.doesNotMatch(got.body.error, /\d/, "no place or position in the error");
      const after = (await call(broken.url, `/api/games/${id}`)).body;
      assert.deepEqual([after.moves, after.pending.place], [0, 4]);
    } finally {
      await broken.stop();
      stand.remove();
    }
  }
});

test("a judge that cannot judge stops the server at start, with one line", async () => {
  const stand = standInJudge("exit 0");
  try {
    for (const judge of ["/nonexistent/memoria", "/bin/true"]) {
      const child = spawn(program, ["--port", "0", "--memoria", judge], { stdio: ["ignore", "pipe", "pipe"] });
      let errors = "";
      child.stderr.on("data", (chunk) => { errors += chunk; });
      const [code] = await once(child, "exit");
      assert.equal(code, 1);
      assert.match(errors, /^jogar-web: .* cannot judge a move: .*\n$/);
    }
  } finally {
    stand.remove();
  }
});

test("no more than --max-games-per-client open games from one address", async () => {
  const small = await startServer(["--max-games-per-client", "2"]);
  try {
    const from = (localAddress, forwarded) => new Promise((resolve, reject) => {
      const headers = forwarded ? { "X-Forwarded-For": forwarded } : {};
      const request = httpRequest(new URL("/api/games", small.url), { method: "POST", localAddress, headers }, (response) => {
        response.resume();
        response.on("end", () => resolve(response.statusCode));
      });
      request.on("error", reject);
      request.end();
    });
    assert.deepEqual([await from("127.0.0.2"), await from("127.0.0.2"), await from("127.0.0.2")], [201, 201, 429]);
    assert.equal(await from("127.0.0.3"), 201);
    // Without --proxy, a forwarded address is ignored.
    assert.equal(await from("127.0.0.2", "127.0.0.77"), 429);
  } finally {
    await small.stop();
  }
  // Behind the proxy named, its last X-Forwarded-For entry is the client.
  const proxied = await startServer(["--max-games-per-client", "1", "--proxy", "127.0.0.1"]);
  try {
    const via = (forwarded) => call(proxied.url, "/api/games", {}, "POST", { "X-Forwarded-For": forwarded });
    assert.equal((await via("127.0.0.70, 127.0.0.71")).status, 201);
    assert.equal((await via("127.0.0.99, 127.0.0.71")).status, 429);
    assert.equal((await via("127.0.0.71, 127.0.0.72")).status, 201);
  } finally {
    await proxied.stop();
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
  for (const { last, answers } of ends)
    assert.deepEqual([last.moves, last.pairs_left, last.finished], [answers.length, 0, true]);
});

test("players: who they may be, turns that pass on a miss and stay on a pair, the winner", async () => {
  const refused = [
    { players: [] },
    { players: [{ name: "a" }, { name: "b" }, { name: "c" }, { name: "d" }, { name: "e" }] },
    { players: [{ computer: "hard" }] },
    { players: [{ name: "" }] },
    { players: [{ name: "x".repeat(41) }] },
    { players: [{ name: "a\nb" }] },
    { players: [{ name: 5 }] },
    { players: [{ name: "a", computer: "easy" }] },
    { players: [{ name: "a" }, { computer: "genius" }] },
    { players: [{ name: "a" }], seats: 2 },
  ];
  for (const body of refused)
    assert.equal((await call(server.url, "/api/games", body)).status, 400, JSON.stringify(body));
  const twice = await call(server.url, "/api/games", '{"players":[{"name":"a","name":"b"}]}');
  assert.equal(twice.status, 400);
  const made = await call(server.url, "/api/games", { players: [{ name: "Ana" }, { name: "Bia" }] });
  assert.equal(made.status, 201);
  const { last, answers } = await playWholeGame(server.url, made.body.game);
  // Each answer's turn follows from the one before: kept on a pair, passed on a miss.
  let turn = 0;
  const pairs = [0, 0];
  for (const a of answers) {
    if (a.verdict === 1) pairs[turn] += 1;
    else turn = 1 - turn;
    assert.equal(a.turn, turn);
  }
  assert.deepEqual(last.players.map((p) => p.pairs), pairs);
  const most = Math.max(...pairs);
  assert.deepEqual(last.winners, [0, 1].filter((i) => pairs[i] === most));
});

test("the computer plays its own turns, card by card, and only then", async () => {
  const made = await call(server.url, "/api/games", { players: [{ name: "Ana" }, { computer: "hard" }] });
  const id = made.body.game;
  const step = (body = {}) => call(server.url, `/api/games/${id}/computer`, body);
  assert.equal((await step()).status, 409); // Ana's turn
  // Ana turns the first two cards in play until she misses and the turn passes.
  let state = made.body;
  for (let move = 0; move < 8 && state.turn === 0; move++) {
    await playOneMove(server.url, id, state);
    state = (await call(server.url, `/api/games/${id}`)).body;
  }
  assert.equal(state.turn, 1);
  assert.equal((await call(server.url, `/api/games/${id}/flip`, { place: 1 })).status, 409);
  // A step repeated from the same version is answered alike, and counted once.
  const at = (await call(server.url, `/api/games/${id}`)).body.version;
  const [a, b] = await Promise.all([step({ version: at }), step({ version: at })]);
  assert.deepEqual([a.status, b.status], [200, 200]);
  assert.deepEqual(a.body, b.body);
  let steps = 1;
  for (state = (await call(server.url, `/api/games/${id}`)).body; !state.finished && state.turn === 1 && steps < 40; steps++) {
    assert.equal((await step()).status, 200);
    state = (await call(server.url, `/api/games/${id}`)).body;
  }
  assert.ok(steps >= 2);
  assert.equal(state.version, at + steps);
});

test("two devices: a seat each by the link, a move only from the seat whose turn it is, both sockets told", async () => {
  const two = { players: [{ name: "Ana" }, { name: "Bia" }], devices: 2 };
  assert.equal((await call(server.url, "/api/games", { ...two, devices: 3 })).status, 400);
  assert.equal((await call(server.url, "/api/games", { ...two, players: [{ name: "Ana" }] })).status, 400);
  const made = await call(server.url, "/api/games", two);
  assert.equal(made.status, 201);
  const { game: id, token: ana, invite } = made.body;
  assert.deepEqual([made.body.you, made.body.seats], [0, [true, false]]);
  const seats = (invitation) => call(server.url, `/api/games/${id}/seats`, "", "POST", { "X-Memoria-Invite": invitation });
  assert.equal((await seats("0".repeat(32))).status, 403);
  // No move before the friend has come.
  assert.equal((await call(server.url, `/api/games/${id}/flip`, { place: 0 }, "POST", { "X-Memoria-Seat": ana })).status, 409);
  const followers = [await follow(server.url, id), await follow(server.url, id)];
  const joined = await seats(invite);
  assert.equal(joined.status, 200);
  const bia = joined.body.token;
  assert.deepEqual([joined.body.you, joined.body.seats], [1, [true, true]]);
  assert.equal((await seats(invite)).status, 403); // the link holds no seat once it is taken
  assert.equal((await call(server.url, `/api/games/${id}`, undefined, "GET", { "X-Memoria-Seat": bia })).body.you, 1);
  const flip = (headers) => call(server.url, `/api/games/${id}/flip`, { place: 0 }, "POST", headers);
  assert.equal((await flip({})).status, 403);
  assert.equal((await flip({ "X-Memoria-Seat": "f".repeat(32) })).status, 403);
  assert.equal((await flip({ "X-Memoria-Seat": bia })).status, 403); // Ana's turn
  // Each change reaches both sockets; how long it takes is measured.
  const tokens = [ana, bia];
  const { answers } = await playWholeGame(server.url, id, (turn) => ({ base: server.url, headers: { "X-Memoria-Seat": tokens[turn] } }));
  const last = answers.at(-1).version;
  for (const f of followers) {
    const end = await f.next(last);
    assert.equal(end.answer.finished, true);
    const versions = f.messages.map((m) => m.answer.version).filter((v) => v > 0);
    assert.deepEqual(versions, Array.from({ length: last }, (_, i) => i + 1));
    f.close();
  }
  assert.ok(answers.every((a) => a.turn === 0 || a.turn === 1));
});

test("a following socket: its Origin checked, its messages capped, kept open by pings past the idle timeout", async () => {
  const quick = await startServer(["--idle-timeout", "1"]);
  try {
    const id = (await call(quick.url, "/api/games", {})).body.game;
    const { port } = new URL(quick.url);
    const upgrade = (origin) => `GET /api/games/${id}/events HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\n` +
      `Origin: ${origin}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n` +
      "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    const exchange = (bytes, after = Buffer.alloc(0)) => new Promise((resolve, reject) => {
      const socket = net.connect(Number(port), "127.0.0.1", () => socket.write(bytes));
      let got = "";
      socket.setTimeout(5000, () => { socket.destroy(); reject(new Error("no end")); });
      socket.on("data", (data) => {
        if (!got && after.length) socket.write(after);
        got += data.toString("latin1");
      });
      socket.on("close", () => resolve(got));
      socket.on("error", () => resolve(got));
    });
    assert.match(await exchange(upgrade("http://elsewhere.example")), /^HTTP\/1\.1 403/);
    // A masked text frame of 2000 bytes: over the 1 KiB cap, so the socket goes.
    const payload = Buffer.alloc(2000, 0x61);
    const frame = Buffer.concat([Buffer.from([0x81, 0xfe, 0x07, 0xd0, 0, 0, 0, 0]), payload]);
    const capped = await exchange(upgrade(`http://127.0.0.1:${port}`), frame);
    assert.match(capped, /^HTTP\/1\.1 101/);
    const f = await follow(quick.url, id);
    await new Promise((resolve) => setTimeout(resolve, 5000));
    assert.equal(f.socket.readyState, WebSocket.OPEN);
    await call(quick.url, `/api/games/${id}/flip`, { place: 3 });
    assert.equal((await f.next(1)).answer.place, 3);
    f.close();
  } finally {
    await quick.stop();
  }
});

test("following sockets count toward the connections of their address", async () => {
  const capped = await startServer(["--max-connections-per-client", "2"]);
  const sockets = [];
  try {
    const id = (await call(capped.url, "/api/games", {})).body.game;
    const { port } = new URL(capped.url);
    // From 127.0.0.9, another client than the one that made the game.
    const open = () => new Promise((resolve, reject) => {
      const socket = net.connect({ port: Number(port), host: "127.0.0.1", localAddress: "127.0.0.9" }, () =>
        socket.write(`GET /api/games/${id}/events HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\n` +
          "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n" +
          "Sec-WebSocket-Version: 13\r\n\r\n"));
      sockets.push(socket);
      socket.setTimeout(5000, () => reject(new Error("no answer")));
      socket.once("data", (data) => resolve(data.toString("latin1")));
      socket.on("error", reject);
    });
    assert.match(await open(), /^HTTP\/1\.1 101/);
    assert.match(await open(), /^HTTP\/1\.1 101/);
    assert.match(await open(), /^HTTP\/1\.1 503/);
  } finally {
    for (const socket of sockets) socket.destroy();
    await capped.stop();
  }
});

test("a browser's bests per kind of game; the time is the server's, less the pauses", async () => {
  const browser = { "X-Memoria-Browser": "b".repeat(32) };
  const make = async (body) => (await call(server.url, "/api/games", body, "POST", browser)).body.game;
  const alone = await make({});
  const pause = (id, what) => call(server.url, `/api/games/${id}/${what}`, "");
  assert.equal((await pause(alone, "pause")).status, 409); // nothing to pause before the first card
  await call(server.url, `/api/games/${alone}/flip`, { place: 0 });
  const paused = await pause(alone, "pause");
  assert.deepEqual([paused.status, paused.body.paused], [200, true]);
  assert.equal((await pause(alone, "pause")).status, 409);
  assert.equal((await call(server.url, `/api/games/${alone}/flip`, { place: 1 })).status, 409);
  const started = performance.now();
  await new Promise((resolve) => setTimeout(resolve, 600));
  assert.equal((await pause(alone, "resume")).body.paused, false);
  const { last } = await playWholeGame(server.url, alone);
  const elapsed = performance.now() - started;
  assert.ok(last.time_ms < elapsed - 500, `${last.time_ms} ms played, ${elapsed} ms since the pause began`);
  // A game against the computer, won or lost, counts for its level.
  const versus = await make({ players: [{ name: "Ana" }, { computer: "easy" }] });
  assert.equal((await pause(versus, "pause")).status, 409);
  for (let state = (await call(server.url, `/api/games/${versus}`)).body, round = 0; !state.finished; round++) {
    assert.ok(round < 200, "the game goes on for ever");
    if (state.turn === 1) await call(server.url, `/api/games/${versus}/computer`, {});
    else await playOneMove(server.url, versus, state);
    state = (await call(server.url, `/api/games/${versus}`)).body;
  }
  const bests = (await call(server.url, "/api/bests", undefined, "GET", browser)).body.bests;
  assert.deepEqual(bests.map((b) => [b.kind, b.games]), [["alone", 1], ["easy", 1]]);
  assert.equal(bests[0].fewest_moves, last.moves);
  assert.equal(bests[0].shortest_ms, last.time_ms);
  assert.ok(bests[1].wins === 0 || bests[1].wins === 1);
  const stranger = await call(server.url, "/api/bests", undefined, "GET", { "X-Memoria-Browser": "c".repeat(32) });
  assert.deepEqual(stranger.body.bests, []);
  assert.equal((await call(server.url, "/api/bests")).status, 400);
});

// A person's move: the first two cards still in play, whatever they hold.
async function playOneMove(base, id, state) {
  const free = [...Array(16).keys()].filter((p) => !(p in state.found));
  const first = state.pending?.place ?? free[0];
  if (!state.pending) await call(base, `/api/games/${id}/flip`, { place: first });
  await call(base, `/api/games/${id}/flip`, { place: free.find((p) => p !== first) });
}

test("the server's folders are gone after it stops", async () => {
  const before = readdirSync(tmpdir()).filter((n) => /^jogar-web-.{6}$/.test(n)).length;
  const extra = await startServer();
  await newGame(extra.url);
  assert.equal(await extra.stop(), 0);
  const left = readdirSync(tmpdir()).filter((n) => /^jogar-web-.{6}$/.test(n)).length;
  assert.equal(left, before);
});
