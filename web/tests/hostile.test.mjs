// jogar-web against hostile clients, on loopback: each attack gets its
// refusal, costs no more than its own bytes, and a normal game plays on.
// Clients from 127.0.0.x other than 127.0.0.1 stand for other machines.
import assert from "node:assert/strict";
import { existsSync, mkdirSync, mkdtempSync, readdirSync, rmSync, writeFileSync } from "node:fs";
import { connect } from "node:net";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, test } from "node:test";
import { call, startServer } from "./server.mjs";

let server;
let port;
before(async () => {
  server = await startServer(["--max-connections-per-client", "6"]);
  port = Number(new URL(server.url).port);
});
after(async () => { assert.equal(await server.stop(), 0); });

// Sends raw bytes (a string, or chunks with a pause between them) and reads
// until the server closes or the answer is whole. Bounded in time.
function raw(chunks, { from = "127.0.0.1", pause = 0, wait = 8000 } = {}) {
  return new Promise((resolve) => {
    const socket = connect({ port, host: "127.0.0.1", localAddress: from });
    let text = "";
    let timer;
    const done = (closed) => { clearTimeout(timer); socket.destroy(); resolve({ text, closed, status: Number(text.slice(9, 12)) }); };
    timer = setTimeout(() => done(false), wait);
    socket.on("data", (data) => {
      text += data.toString("latin1");
      const head = text.indexOf("\r\n\r\n");
      const length = /content-length: (\d+)/i.exec(text);
      if (head >= 0 && length && text.length >= head + 4 + Number(length[1]) && !/connection: close/i.test(text)) done(false);
    });
    socket.on("close", () => done(true));
    socket.on("error", () => {});
    socket.on("connect", async () => {
      for (const chunk of [].concat(chunks)) {
        if (socket.destroyed) return;
        socket.write(chunk);
        if (pause) await new Promise((r) => setTimeout(r, pause));
      }
    });
  });
}

const host = () => `Host: 127.0.0.1:${port}\r\n`;
const post = (path, body, extra = "") =>
  `POST ${path} HTTP/1.1\r\n${host()}Content-Type: application/json\r\nContent-Length: ${body.length}\r\n${extra}\r\n${body}`;

async function aGamePlays() {
  const created = await call(server.url, "/api/games", {});
  assert.equal(created.status, 201);
  const shown = await call(server.url, `/api/games/${created.body.game}/flip`, { place: 0 });
  assert.equal(shown.status, 200);
}

test("a table of hostile requests: each its status, and a game plays on", async () => {
  const chunked = (size) => `POST /api/games HTTP/1.1\r\n${host()}Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n` +
    `${size.toString(16)}\r\n${"x".repeat(size)}\r\n0\r\n\r\n`;
  const cases = [
    ["a chunked body over 1 KiB", chunked(2048), 413, true],
    ["a head over 8 KiB", `GET / HTTP/1.1\r\n${host()}X-Pad: ${"a".repeat(9000)}\r\n\r\n`, 431, true],
    ["many header lines", `GET / HTTP/1.1\r\n${host()}${"X-A: b\r\n".repeat(2000)}\r\n`, 431, true],
    ["not HTTP", "HELLO THERE\r\n\r\n", 400, true],
    ["a Host of another name", `GET / HTTP/1.1\r\nHost: evil.example\r\n\r\n`, 403, false],
    ["no Host at all", `GET / HTTP/1.1\r\n\r\n`, 403, false],
    ["an Origin of another site", post("/api/games", "{}", "Origin: http://evil.example\r\n"), 403, false],
    ["a body that is not JSON by type", post("/api/games", "{}").replace("application/json", "text/plain"), 415, false],
    ["OPTIONS", `OPTIONS /api/games HTTP/1.1\r\n${host()}\r\n`, 405, false],
    ["DELETE of a game", `DELETE /api/games/${"0".repeat(32)} HTTP/1.1\r\n${host()}\r\n`, 405, false],
    ["a POST with no body, as curl -X POST sends it", `POST /api/games HTTP/1.1\r\n${host()}\r\n`, 201, false],
    ["an Origin of its own", post("/api/games", "{}", `Origin: http://127.0.0.1:${port}\r\n`), 201, false],
  ];
  for (const [what, bytes, status, closes] of cases) {
    const got = await raw(bytes);
    assert.equal(got.status, status, what);
    assert.match(got.text, /\r\n\r\n\{"/, `${what}: a JSON answer`);
    if (closes) assert.ok(got.closed, `${what}: the connection is closed`);
    assert.match(got.text, /content-security-policy: default-src 'none'/i, what);
    assert.match(got.text, /x-content-type-options: nosniff/i, what);
  }
  // 2,700 ranges get the whole page once, not 2,700 copies of it.
  const ranges = Array.from({ length: 2700 }, (_, i) => `${i}-${i}`).join(",").slice(0, 7000);
  const ranged = await raw(`GET / HTTP/1.1\r\n${host()}Range: bytes=${ranges}\r\n\r\n`);
  assert.equal(ranged.status, 200);
  assert.ok(ranged.text.length < 10000, "one whole answer");
  await aGamePlays();
});

test("a head trickled a byte at a time is cut at its deadline", async () => {
  const started = Date.now();
  const bytes = [...`GET / HTTP/1.1\r\n${host()}X-Slow: ${"s".repeat(40)}\r\n\r\n`];
  const got = await raw(bytes, { pause: 200, wait: 12000 });
  assert.ok(got.closed);
  assert.equal(got.status, 408);
  assert.ok(Date.now() - started < 8000, "cut within the deadline");
  await aGamePlays();
});

test("connections are capped per address, and other addresses play on", async () => {
  const held = [];
  for (let i = 0; i < 6; i++) {
    const socket = connect({ port, host: "127.0.0.1", localAddress: "127.0.0.5" });
    socket.on("error", () => {});
    await new Promise((r) => socket.on("connect", r));
    held.push(socket);
  }
  try {
    const refused = await raw(`GET / HTTP/1.1\r\n${host()}\r\n`, { from: "127.0.0.5" });
    assert.equal(refused.status, 503);
    assert.ok(refused.closed);
    const other = await raw(`GET / HTTP/1.1\r\n${host()}\r\n`, { from: "127.0.0.6" });
    assert.equal(other.status, 200);
  } finally {
    for (const socket of held) socket.destroy();
  }
  await aGamePlays();
});

test("SIGTERM ends the server within seconds, whatever a trickling client does", async () => {
  const doomed = await startServer();
  const socket = connect(Number(new URL(doomed.url).port), "127.0.0.1");
  socket.on("error", () => {});
  await new Promise((r) => socket.on("connect", r));
  const trickle = setInterval(() => socket.write("G"), 100);
  try {
    const started = Date.now();
    assert.equal(await doomed.stop(), 0);
    assert.ok(Date.now() - started < 5000);
  } finally {
    clearInterval(trickle);
    socket.destroy();
  }
});

test("a start-up removes the folders a killed server left, and only those", async () => {
  const left = mkdtempSync(join(tmpdir(), "jogar-web-"));
  writeFileSync(join(left, "server.lock"), "");
  mkdirSync(join(left, "game-1"));
  const mine = readdirSync(tmpdir()).filter((n) => /^jogar-web-.{6}$/.test(n) && n !== left.split("/").pop());
  try {
    const next = await startServer();
    assert.equal(existsSync(left), false);
    // The running servers' folders stay.
    for (const name of mine) assert.equal(existsSync(join(tmpdir(), name)), true, name);
    assert.equal(await next.stop(), 0);
  } finally {
    rmSync(left, { recursive: true, force: true });
  }
});
