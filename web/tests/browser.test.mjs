// The page in a real browser (Debian's Chromium, headless): whole games with
// the mouse and with the keyboard alone, and an accessibility check.
import assert from "node:assert/strict";
import { mkdtempSync, rmSync } from "node:fs";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { join } from "node:path";
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
  await page.getByText(/^All pairs found in \d+ moves, in \d+:\d\d\.$/).waitFor();
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
  await page.keyboard.press("Tab"); // the players button
  await page.keyboard.press("Tab"); // the button to play with a friend
  await page.keyboard.press("Tab"); // the pause button of a game alone
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

test("a reload resumes the game at its address; New game in the middle of one asks first", async () => {
  const page = await openGame();
  await card(page, 0).click();
  await page.getByText("Place 1 shows").waitFor();
  await card(page, 1).click();
  await page.locator("#moves").getByText("1", { exact: true }).waitFor();
  await card(page, 2).click();
  await page.getByText("Place 3 shows").waitFor();
  const address = page.url();
  assert.match(address, /#game=[0-9a-f]{32}$/);
  await page.reload();
  await page.getByText("Welcome back: turn a second card.").waitFor();
  assert.equal(await page.locator("#moves").textContent(), "1");
  assert.match(await card(page, 2).getAttribute("aria-label"), /, showing \d$/);
  // Kept: the same game. Then left, for a new one at a new address.
  await page.getByRole("button", { name: "New game" }).click();
  await page.getByRole("button", { name: "Keep playing" }).click();
  assert.equal(page.url(), address);
  await page.getByRole("button", { name: "New game" }).click();
  await page.getByRole("dialog").getByRole("button", { name: "New game" }).click();
  await page.getByText("New game: turn two cards.").waitFor();
  assert.notEqual(page.url(), address);
  // The old link still opens the old game; a game that is not there says so.
  await page.goto(address);
  await page.getByText("Welcome back: turn a second card.").waitFor();
  await page.goto(`${server.url}#game=${"0".repeat(32)}`);
  await page.getByText("This game no longer exists.", { exact: false }).waitFor();
  await page.close();
});

test("the server restarted while the page is open: the page says so and carries on with the game", async () => {
  const folder = mkdtempSync(join(tmpdir(), "jogar-web-restart-"));
  const store = join(folder, "games.sqlite3");
  let first = await startServer([], { store });
  let second;
  const page = await browser.newPage({ viewport: { width: 1024, height: 800 } });
  try {
    await page.goto(first.url);
    await page.getByText("New game: turn two cards.").waitFor();
    await card(page, 4).click();
    await page.getByText("Place 5 shows").waitFor();
    const port = new URL(first.url).port;
    await first.stop();
    first = null;
    await card(page, 5).click();
    await page.getByRole("alert").getByText("The server cannot be reached", { exact: false }).waitFor();
    second = await startServer([], { store, port });
    await page.locator("#moves").getByText("1", { exact: true }).waitFor({ timeout: 10000 });
    assert.equal(await page.getByRole("alert").isHidden(), true);
    assert.match(await page.locator("#message").textContent(), /^\d and \d: /);
  } finally {
    await page.close();
    await first?.stop();
    await second?.stop();
    rmSync(folder, { recursive: true, force: true });
  }
});

test("players at one screen and the computer take turns; the screen says whose", async () => {
  const page = await openGame();
  await page.getByRole("button", { name: "Players…" }).click();
  const setup = page.getByRole("dialog", { name: "Who plays?" });
  await setup.getByLabel("People at this screen").selectOption("2");
  await setup.getByLabel("Name of player 1").fill("Ana");
  await setup.getByLabel("Name of player 2").fill("Bia");
  await setup.getByLabel("Computer opponent").selectOption("easy");
  await setup.getByRole("button", { name: "Start" }).click();
  await page.getByText("New game: turn two cards.").waitFor();
  const turn = page.locator("#turn");
  await turn.getByText("Ana's turn").waitFor();
  assert.equal(await page.getByRole("list", { name: "Players and their pairs" }).getByRole("listitem").count(), 3);
  const order = ["Ana", "Bia", "Computer (easy)"];
  let computerPlayed = false;
  for (let move = 0; move < 20 && !computerPlayed; move++) {
    const who = (await turn.textContent()).replace(/'s turn$/, "");
    const down = [];
    for (let p = 0; p < 16 && down.length < 2; p++)
      if (await card(page, p).getAttribute("aria-disabled") === "false") down.push(p);
    await card(page, down[0]).click();
    await page.getByText(`Place ${down[0] + 1} shows`).waitFor();
    await card(page, down[1]).click();
    await page.locator("#moves").getByText(String(move + 1), { exact: true }).waitFor();
    const pair = /deu certo$/.test(await page.locator("#message").textContent());
    const next = order[(order.indexOf(who) + (pair ? 0 : 1)) % 3];
    if (next === "Computer (easy)") {
      // Its cards come one by one, each said in the live message.
      await page.locator("#message").getByText(/^Computer \(easy\): place \d+ shows/).waitFor();
      await page.locator("#message").getByText(/^Computer \(easy\): .*(deu certo|não são iguais )$/).waitFor();
      computerPlayed = true;
    } else {
      await turn.getByText(`${next}'s turn`).waitFor();
    }
  }
  assert.ok(computerPlayed);
  await page.close();
});

test("two devices play one game to the end over the link, each move on both screens, one reloaded mid-game", async () => {
  const contexts = [await browser.newContext(), await browser.newContext()];
  const pages = [await contexts[0].newPage(), await contexts[1].newPage()];
  try {
    await pages[0].goto(server.url);
    await pages[0].getByText("New game: turn two cards.").waitFor();
    await pages[0].getByRole("button", { name: "Play with a friend" }).click();
    await pages[0].getByText("Send the link to your friend: the game starts when they open it.").waitFor();
    const link = await pages[0].getByLabel(/Send this link/).inputValue();
    assert.match(link, /#game=[0-9a-f]{32}&invite=[0-9a-f]{32}$/);
    await pages[1].goto(link);
    await pages[1].getByText("You have joined the game.").waitFor();
    // The invitation leaves the friend's address once the seat is taken.
    assert.match(pages[1].url(), /#game=[0-9a-f]{32}$/);
    await pages[0].getByText("Your friend has joined: your turn.").waitFor();
    const known = new Map();
    const found = new Set();
    const partnerOf = (place) => [...known].find(([p, v]) => p !== place && v === known.get(place) && !found.has(p))?.[0];
    const unseen = () => [...Array(16).keys()].find((p) => !known.has(p) && !found.has(p));
    const face = async (page, place) => Number(await card(page, place).textContent());
    for (let move = 1; found.size < 16 && move <= 40; move++) {
      const mover = (await pages[0].locator("#turn").textContent()) === "Your turn" ? 0 : 1;
      const page = pages[mover];
      await page.locator("#turn").getByText("Your turn").waitFor();
      const first = [...known.keys()].find((p) => !found.has(p) && partnerOf(p) !== undefined) ?? unseen();
      await card(page, first).click();
      await page.getByText(`Place ${first + 1} shows`).waitFor();
      // The other screen shows the first card as soon as it is turned.
      await card(pages[1 - mover], first).filter({ hasText: /\d/ }).waitFor();
      known.set(first, await face(page, first));
      const second = partnerOf(first) ?? unseen();
      await card(page, second).click();
      for (const each of pages) await each.locator("#moves").getByText(String(move), { exact: true }).waitFor();
      known.set(second, await face(pages[1 - mover], second));
      if (known.get(first) === known.get(second)) found.add(first).add(second);
      if (move === 3) {
        await pages[1].reload();
        await pages[1].locator("#moves").getByText("3", { exact: true }).waitFor();
      }
    }
    assert.equal(found.size, 16);
    for (const page of pages) await page.locator("#closing").getByText(/All pairs found/).waitFor();
  } finally {
    for (const context of contexts) await context.close();
  }
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
