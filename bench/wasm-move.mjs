// The cost of one move judged by memoria.wasm in headless Chromium: a fresh
// instance and a run, over 1,000 moves, beside the time from a cold load to
// the first move judged, and the sizes. Needs a running jogar-web whose page
// has memoria.wasm: node bench/wasm-move.mjs http://127.0.0.1:PORT/
import { statSync } from "node:fs";
import { createRequire } from "node:module";
const require = createRequire(new URL("../web/tests/package.json", import.meta.url));
const { chromium } = require("playwright-core");

const url = process.argv[2];
const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox", "--disable-gpu"] });
const page = await browser.newPage();
const started = Date.now();
await page.goto(url);
const cold = await page.evaluate(async (since) => {
  const { judgeMove } = await import("/judge.mjs");
  const module = await WebAssembly.compileStreaming(fetch("/memoria.wasm"));
  judgeMove(module, 2, 3);
  return Date.now() - since;
}, started);
const times = await page.evaluate(async () => {
  const { judgeMove } = await import("/judge.mjs");
  const module = await WebAssembly.compileStreaming(fetch("/memoria.wasm"));
  const each = [];
  for (let i = 0; i < 1000; i++) {
    const a = i % 16;
    const b = (i * 7 + 3) % 16;
    const t = performance.now();
    judgeMove(module, a, b === a ? (a + 1) % 16 : b);
    each.push(performance.now() - t);
  }
  return each;
});
// The page's clock counts in steps of 0.1 ms: the mean over all is finer.
const mean = times.reduce((n, t) => n + t, 0) / times.length;
times.sort((x, y) => x - y);
await browser.close();
const at = (q) => times[Math.min(times.length - 1, Math.floor(q * times.length))].toFixed(3);
const wasm = new URL("../build-wasm/memoria.wasm", import.meta.url);
console.log(`moves: ${times.length}, median ${at(0.5)} ms, p99 ${at(0.99)} ms, max ${times.at(-1).toFixed(3)} ms, mean ${mean.toFixed(3)} ms`);
console.log(`cold load to first move judged: ${cold} ms`);
console.log(`memoria.wasm: ${statSync(wasm).size} bytes`);
