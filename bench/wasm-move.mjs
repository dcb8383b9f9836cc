// The cost of one move judged by memoria.wasm in headless Chromium: a fresh
// instance and a run, over 1,000 moves, beside the time from a cold load to
// the first move judged, a whole move played offline, and the sizes of the
// judge, the game model and the whole offline app. Needs a running jogar-web whose page
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
// A whole move played offline, as the page plays it: offline.mjs reads the
// game from IndexedDB, builds game.wasm's model again, has memoria.wasm
// judge the second card and stores the change; 200 moves, each on a fresh
// game so that every one is judged.
const offline = await page.evaluate(async () => {
  const { answer } = await import("/offline.mjs");
  const each = [];
  for (let i = 0; i < 200; i++) {
    const { data } = await answer("/api/games", {});
    await answer(`/api/games/${data.game}/flip`, { place: i % 16 });
    const t = performance.now();
    await answer(`/api/games/${data.game}/flip`, { place: (i + 5) % 16 });
    each.push(performance.now() - t);
  }
  return each;
});
// The offline app: every file the service worker keeps, once installed.
await page.waitForFunction(async () => (await (await caches.open("memoria")).keys()).length > 0);
const app = await page.evaluate(async () => {
  const cache = await caches.open("memoria");
  let bytes = 0;
  const files = await cache.keys();
  for (const request of files) bytes += (await (await cache.match(request)).arrayBuffer()).byteLength;
  return { files: files.length, bytes };
});
await browser.close();
// The page's clock counts in steps of 0.1 ms: the mean over all is finer.
function summary(name, times) {
  const mean = times.reduce((n, t) => n + t, 0) / times.length;
  times.sort((x, y) => x - y);
  const at = (q) => times[Math.min(times.length - 1, Math.floor(q * times.length))].toFixed(3);
  console.log(`${name}: ${times.length}, median ${at(0.5)} ms, p99 ${at(0.99)} ms, max ${times.at(-1).toFixed(3)} ms, mean ${mean.toFixed(3)} ms`);
}
summary("moves judged", times);
summary("offline moves (model, judge, IndexedDB)", offline);
console.log(`cold load to first move judged: ${cold} ms`);
for (const name of ["memoria.wasm", "game.wasm"])
  console.log(`${name}: ${statSync(new URL(`../build-wasm/${name}`, import.meta.url)).size} bytes`);
console.log(`offline app: ${app.files} files, ${app.bytes} bytes`);
