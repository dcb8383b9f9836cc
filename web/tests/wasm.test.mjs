// The page's exchange with memoria.wasm, against the native memoria: every
// request of a large table, judged by both, must give the same exit status,
// the same console bytes and the same reply record.
import assert from "node:assert/strict";
import { execFile } from "node:child_process";
import { mkdtempSync, readFileSync, rmSync, writeFileSync, existsSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { test } from "node:test";
import { promisify } from "node:util";
import { judgeMove, runProgram } from "../page/judge.mjs";

const run = promisify(execFile);
const module = new WebAssembly.Module(readFileSync(process.env.MEMORIA_WASM));

// memoria run natively in a folder of its own, as the tests of the judge do.
async function native(request) {
  const folder = mkdtempSync(join(tmpdir(), "memoria-wasm-test-"));
  try {
    const file = join(folder, "conector.txt");
    if (request !== null) writeFileSync(file, request);
    let status = 0;
    let out;
    try {
      out = await run(process.env.MEMORIA, [], { cwd: folder, encoding: "buffer" });
    } catch (failed) {
      status = failed.code;
      out = failed;
    }
    return { status, stdout: out.stdout, stderr: out.stderr, reply: existsSync(file) ? readFileSync(file) : null };
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
}

function inPage(request) {
  const files = new Map(request === null ? [] : [["conector.txt", Uint8Array.from(Buffer.from(request, "latin1"))]]);
  const got = runProgram(module, files);
  const reply = files.get("conector.txt");
  return { status: got.status, stdout: Buffer.from(got.stdout), stderr: Buffer.from(got.stderr), reply: reply ? Buffer.from(reply) : null };
}

// Every pair of board positions, and requests that are not moves.
const requests = [];
for (let a = -1; a <= 16; a++) for (let b = -1; b <= 16; b++) requests.push(`${a} ${b}\r\n`);
requests.push("", "\r\n", "2 3", "2 3\n", " 2 \t 3 \r\n", "2\r\n3\r\n", "2 3 4\r\n", "x y\r\n", "02 003\r\n",
  "+2 3\r\n", "99999999999999999999 1\r\n", "2 3\r\n2 3 \r\n1 \r\n1 \r\n0", "\u00e3 1\r\n", "1".repeat(5000), null);

test("memoria.wasm in the page's host answers every request as the native memoria does", async () => {
  assert.ok(requests.length > 300);
  for (const request of requests) {
    const want = await native(request);
    const got = inPage(request);
    const shown = JSON.stringify(request);
    assert.equal(got.status, want.status, shown);
    assert.deepEqual(got.stdout, want.stdout, shown);
    // The C libraries word their reasons apart; the line's head is the program's.
    assert.equal(got.stderr.toString().split(": ").slice(0, 2).join(": "), want.stderr.toString().split(": ").slice(0, 2).join(": "), shown);
    assert.deepEqual(got.reply, want.reply, shown);
  }
});

test("a judged move is read back as front ends read it", () => {
  assert.deepEqual(judgeMove(module, 2, 3), { verdict: 1, message: "deu certo" });
  assert.deepEqual(judgeMove(module, 0, 2), { verdict: 0, message: "não são iguais " });
  // A move off the board is judged and locked: the reply gives verdict 0.
  assert.deepEqual(judgeMove(module, 16, 2), { verdict: 0, message: "travado" });
  // Each move is a fresh instance: nothing is carried over.
  for (let i = 0; i < 50; i++) assert.equal(judgeMove(module, i % 2 ? 4 : 6, i % 2 ? 5 : 7).verdict, 1);
});
