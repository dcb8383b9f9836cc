// The page in a real browser (Debian's Chromium, headless): whole games with
// the mouse and with the keyboard alone, and an accessibility check.
import assert from "node:assert/strict";
import { createRequire } from "node:module";
import { after, before, test } from "node:test";
import { chromium } from "playwright-core";
import { startServer } from "./server.mjs";

const require = createRequire(import.meta.url);
let server;
let browser;
// Playwright gives the browser a fresh, empty profile of its own.
before(async () => {
  server = await startServer();
  browser = await chromium.launch({
    executablePath: process.env.CHROMIUM ?? "/usr/bin/chromium",
    args: ["--no-sandbox", "--disable-gpu", "--disable-background-networking",
      "--disable-component-update", "--no-first-run"],
  });
});
after(async () => {
  await browser?.close();
  await server?.stop();
});

// The page runs under its own Content-Security-Policy, which lets no test
// script in: only the accessibility check, which injects axe, sets it aside.
async function openGame(viewport = { width: 1024, height: 800 }, bypassCSP = false) {
  const page = await browser.newPage({ viewport, bypassCSP });
  await page.goto(server.url);
  await page.getByText("New game: turn two cards.").waitFor();
  return page;
}

const card = (page, place) => page.getByRole("button", { name: new RegExp(`^Place ${place + 1}, `) });

// Plays as a person with a good memory: turns unknown cards, remembers their
// faces, and turns a known partner when there is one. `turn` turns a card.
async function playByMemory(page, turn) {
  const known = new Map(); // place -> value
  const found = new Set();
  const face = async (place) => Number(await card(page, place).textContent());
  const partnerOf = (place) =>
    [...known].find(([p, v]) => p !== place && v === known.get(place) && !found.has(p))?.[0];
  for (let move = 0; move < 30 && found.size < 16; move++) {
    let first = [...known.keys()].find((p) => !found.has(p) && partnerOf(p) !== undefined);
    first ??= [...Array(16).keys()].find((p) => !known.has(p));
    await turn(first);
    await page.getByText(`Place ${first + 1} shows`).waitFor();
    known.set(first, await face(first));
    const second = partnerOf(first) ?? [...Array(16).keys()].find((p) => !known.has(p));
    await turn(second);
    await page.locator("#moves").getByText(String(move + 1), { exact: true }).waitFor();
    known.set(second, await face(second));
    if (known.get(first) === known.get(second)) found.add(first).add(second);
    const message = await page.locator("#message").textContent();
    assert.match(message, found.has(first) ? /deu certo$/ : /não são iguais $/);
    // The README's picture of a game under way.
    if (move === 6 && process.env.SCREENSHOT && turn.name === "click")
      await page.screenshot({ path: process.env.SCREENSHOT, fullPage: true });
  }
  await page.getByText(/^All pairs found in \d+ moves\.$/).waitFor();
  assert.equal(await page.locator("#pairs-left").textContent(), "0");
  for (let place = 0; place < 16; place++)
    assert.match(await card(page, place).getAttribute("aria-label"), /, found, \d$/);
}

test("a whole game with the mouse, under the page's own security policy", async () => {
  const page = await openGame();
  const refused = [];
  page.on("console", (message) => { if (/Content Security Policy/.test(message.text())) refused.push(message.text()); });
  await playByMemory(page, function click(place) { return card(page, place).click(); });
  assert.deepEqual(refused, []);
  await page.close();
});

test("a whole game with the keyboard alone, focus always visible", async () => {
  const page = await openGame();
  await page.keyboard.press("Tab"); // the new-game button
  await page.keyboard.press("Tab"); // into the board: the first card
  let at = 0;
  const turn = async (place) => {
    const keys = [];
    const [row, col, toRow, toCol] = [Math.floor(at / 4), at % 4, Math.floor(place / 4), place % 4];
    for (let r = row; r !== toRow; r += Math.sign(toRow - row)) keys.push(toRow > row ? "ArrowDown" : "ArrowUp");
    for (let c = col; c !== toCol; c += Math.sign(toCol - col)) keys.push(toCol > col ? "ArrowRight" : "ArrowLeft");
    for (const key of keys) await page.keyboard.press(key);
    const focused = await page.evaluate(() => ({
      label: document.activeElement.getAttribute("aria-label"),
      outline: getComputedStyle(document.activeElement).outlineStyle,
    }));
    assert.match(focused.label, new RegExp(`^Place ${place + 1}, `));
    assert.notEqual(focused.outline, "none");
    await page.keyboard.press(place % 2 ? "Enter" : " ");
    at = place;
  };
  await playByMemory(page, turn);
  await page.close();
});

test("no WCAG 2.1 A or AA violations, on a desktop and a phone", async () => {
  for (const viewport of [{ width: 1280, height: 900 }, { width: 375, height: 667 }]) {
    const page = await openGame(viewport, true);
    // Mid-game: one pair found, one miss showing.
    await card(page, 0).click();
    await page.getByText("Place 1 shows").waitFor();
    await card(page, 1).click();
    await page.locator("#moves").getByText("1", { exact: true }).waitFor();
    await page.addScriptTag({ path: require.resolve("axe-core/axe.min.js") });
    const result = await page.evaluate(() =>
      window.axe.run(document, { runOnly: ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa"] }));
    assert.deepEqual(result.violations.map((v) => `${v.id}: ${v.help}`), []);
    // Nothing sticks out sideways on a small screen.
    assert.ok(await page.evaluate(() => document.documentElement.scrollWidth <= window.innerWidth));
    await page.close();
  }
});
