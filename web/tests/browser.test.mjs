// The page in a real browser (Debian's Chromium, headless): whole games with
// the mouse and with the keyboard alone, and an accessibility check.
import assert from "node:assert/strict";
import { mkdirSync, mkdtempSync, readFileSync, rmSync } from "node:fs";
import { createServer } from "node:http";
import { createRequire } from "node:module";
import { tmpdir } from "node:os";
import { dirname, extname, join } from "node:path";
import { after, before, test } from "node:test";
import { chromium } from "playwright-core";
import { startServer } from "./server.mjs";

const require = createRequire(import.meta.url);
let server;
let browser;
// Playwright gives the browser a fresh, empty profile of its own.
before(async () => {
  // Every test's games come from one address: more than a player starts.
  server = await startServer(["--max-games-per-client", "500"]);
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
async function openGame(viewport = { width: 1024, height: 800 }, bypassCSP = false, options = {}) {
  const page = await browser.newPage({ viewport, bypassCSP, locale: "en-GB", ...options });
  await page.goto(server.url);
  await page.locator("#message").getByText(/^(New game: turn two cards\.|Novo jogo: vire duas cartas\.)/).waitFor();
  return page;
}

const placeName = (place) => `${"ABCD"[Math.floor(place / 4)]}${(place % 4) + 1}`;
const card = (page, place) => page.getByRole("button", { name: new RegExp(`^${placeName(place)}: card ${place + 1} of 16, `) });
// What a card shows, as a screen reader says it: a picture's name or "face down".
const face = async (page, place) => (await card(page, place).getAttribute("aria-label")).split(", ")[3];
const message = (page) => page.locator("#message");

// Plays as a person with a good memory: turns unknown cards, remembers their
// faces, and turns a known partner when there is one. `turn` turns a card.
async function playByMemory(page, turn) {
  const known = new Map(); // place -> picture
  const found = new Set();
  const partnerOf = (place) =>
    [...known].find(([p, v]) => p !== place && v === known.get(place) && !found.has(p))?.[0];
  for (let move = 0; move < 30 && found.size < 16; move++) {
    let first = [...known.keys()].find((p) => !found.has(p) && partnerOf(p) !== undefined);
    first ??= [...Array(16).keys()].find((p) => !known.has(p));
    await turn(first);
    await message(page).getByText(`${placeName(first)}: `).waitFor();
    known.set(first, await face(page, first));
    const second = partnerOf(first) ?? [...Array(16).keys()].find((p) => !known.has(p));
    await turn(second);
    await page.locator("#moves").getByText(String(move + 1), { exact: true }).waitFor();
    known.set(second, await face(page, second));
    if (known.get(first) === known.get(second)) found.add(first).add(second);
    // The judge's own words, and what they mean.
    assert.match(await message(page).textContent(), found.has(first) ? /deu certo: a pair!/ : /não são iguais: not a pair\./);
    if (found.size < 16) {
      const label = await card(page, second).getAttribute("aria-label");
      assert.match(label, found.has(first) ? /, found$/ : /, no pair$/);
    }
  }
  // The end: a dialog with the moves and the time, focus inside it.
  const won = page.getByRole("dialog", { name: "All pairs found!" });
  await won.getByText(/^\d+ moves, in \d+:\d\d\.$/).waitFor();
  assert.match(await message(page).textContent(), /All pairs found in \d+ moves, in \d+:\d\d\.$/);
  assert.equal(await page.evaluate(() => document.activeElement.closest("dialog")?.id), "won");
  assert.equal(await page.locator("#pairs-left").textContent(), "0");
  for (let place = 0; place < 16; place++)
    assert.match(await card(page, place).getAttribute("aria-label"), /, found$/);
  return won;
}

test("a whole game with the mouse, under the page's own security policy", async () => {
  const page = await openGame();
  const refused = [];
  page.on("console", (message) => { if (/Content Security Policy/.test(message.text())) refused.push(message.text()); });
  const won = await playByMemory(page, (place) => card(page, place).click());
  await won.getByRole("button", { name: "Play again" }).click();
  await message(page).getByText("New game: turn two cards.").waitFor();
  assert.equal(await page.locator("#moves").textContent(), "0");
  assert.deepEqual(refused, []);
  await page.close();
});

test("a whole game with the keyboard alone, focus always visible", async () => {
  const page = await openGame();
  // Past the settings and the game's buttons, into the board: the first card.
  for (let press = 0; press < 12 && !(await page.evaluate(() => document.activeElement.classList.contains("card"))); press++)
    await page.keyboard.press("Tab");
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
    assert.match(focused.label, new RegExp(`^${placeName(place)}: `));
    assert.notEqual(focused.outline, "none");
    await page.keyboard.press(place % 2 ? "Enter" : " ");
    at = place;
  };
  const won = await playByMemory(page, turn);
  await page.keyboard.press("Escape");
  await won.waitFor({ state: "hidden" });
  await page.close();
});

test("a second card tapped while the first is on its way is turned, not lost", async () => {
  const context = await browser.newContext({ locale: "en-GB", serviceWorkers: "block" });
  const page = await context.newPage();
  await page.route("**/flip", async (route) => {
    await new Promise((resolve) => setTimeout(resolve, 400));
    await route.continue();
  });
  await page.goto(server.url);
  await message(page).getByText("New game: turn two cards.").waitFor();
  await card(page, 0).click();
  await card(page, 1).click();
  await page.locator("#moves").getByText("1", { exact: true }).waitFor();
  assert.match(await message(page).textContent(), /^A1 \w+, A2 \w+\. /);
  await context.close();
});

test("a reload resumes the game at its address; New game in the middle of one asks first", async () => {
  const page = await openGame();
  await card(page, 0).click();
  await message(page).getByText("A1: ").waitFor();
  await card(page, 1).click();
  await page.locator("#moves").getByText("1", { exact: true }).waitFor();
  await card(page, 2).click();
  await message(page).getByText("A3: ").waitFor();
  const address = page.url();
  assert.match(address, /#game=[0-9a-f]{32}$/);
  await page.reload();
  await page.getByText("Welcome back: turn a second card.").waitFor();
  assert.equal(await page.locator("#moves").textContent(), "1");
  assert.notEqual(await face(page, 2), "face down");
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
    await message(page).getByText("B1: ").waitFor();
    const port = new URL(first.url).port;
    await first.stop();
    first = null;
    await card(page, 5).click();
    await page.getByRole("alert").getByText("The server cannot be reached", { exact: false }).waitFor();
    second = await startServer([], { store, port });
    await page.locator("#moves").getByText("1", { exact: true }).waitFor({ timeout: 10000 });
    assert.equal(await page.getByRole("alert").isHidden(), true);
    assert.match(await message(page).textContent(), /^B1 \w+, B2 \w+\. /);
  } finally {
    await page.close();
    await first?.stop();
    await second?.stop();
    rmSync(folder, { recursive: true, force: true });
  }
});

// Two people and the computer at one screen, until the computer has played
// a move; `started` is what the page says of the new game.
async function playersAndComputer(page, started) {
  await page.getByRole("button", { name: "Players…" }).click();
  const setup = page.getByRole("dialog", { name: "Who plays?" });
  await setup.getByLabel("People at this screen").selectOption("2");
  await setup.getByLabel("Name of player 1").fill("Ana");
  await setup.getByLabel("Name of player 2").fill("Bia");
  await setup.getByLabel("Computer opponent").selectOption("easy");
  await setup.getByRole("button", { name: "Start" }).click();
  await page.getByText(started).waitFor();
  const turn = page.locator("#turn");
  await turn.getByText("Ana's turn.").waitFor();
  assert.equal(await page.getByRole("list", { name: "Players and their pairs" }).getByRole("listitem").count(), 3);
  const order = ["Ana", "Bia", "Computer (easy)"];
  let computerPlayed = false;
  for (let move = 0; move < 20 && !computerPlayed; move++) {
    const who = (await turn.textContent()).replace(/'s turn\.$/, "");
    const down = [];
    for (let p = 0; p < 16 && down.length < 2; p++)
      if (await card(page, p).getAttribute("aria-disabled") === "false") down.push(p);
    await card(page, down[0]).click();
    await message(page).getByText(`${placeName(down[0])}: `).waitFor();
    await card(page, down[1]).click();
    await page.locator("#moves").getByText(String(move + 1), { exact: true }).waitFor();
    const pair = /deu certo/.test(await message(page).textContent());
    const next = order[(order.indexOf(who) + (pair ? 0 : 1)) % 3];
    if (next === "Computer (easy)") {
      // Its cards come one by one, each said in the live message.
      await message(page).getByText(/^Computer \(easy\) turns [A-D][1-4]: \w+\.$/).waitFor();
      await message(page).getByText(/^Computer \(easy\): [A-D][1-4] \w+, [A-D][1-4] \w+\. (deu certo|não são iguais):/).waitFor();
      computerPlayed = true;
    } else {
      await turn.getByText(`${next}'s turn.`).waitFor();
    }
  }
  assert.ok(computerPlayed);
}

test("players at one screen and the computer take turns; the screen says whose", async () => {
  const page = await openGame();
  await playersAndComputer(page, "New game: turn two cards.");
  await page.close();
});

test("two devices play one game to the end over the link, each move on both screens, one reloaded mid-game", async () => {
  const contexts = [await browser.newContext({ locale: "en-GB" }), await browser.newContext({ locale: "en-GB" })];
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
    for (let move = 1; found.size < 16 && move <= 40; move++) {
      const mover = (await pages[0].locator("#turn").textContent()) === "Your turn." ? 0 : 1;
      const page = pages[mover];
      await page.locator("#turn").getByText("Your turn.").waitFor();
      const first = [...known.keys()].find((p) => !found.has(p) && partnerOf(p) !== undefined) ?? unseen();
      await card(page, first).click();
      await message(page).getByText(`${placeName(first)}: `).waitFor();
      // The other screen shows the first card as soon as it is turned.
      await pages[1 - mover].getByRole("button", { name: new RegExp(`^${placeName(first)}: .*column \\d, (?!face down)`) }).waitFor();
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
    for (const page of pages) await page.getByRole("dialog", { name: "All pairs found!" }).waitFor();
  } finally {
    for (const context of contexts) await context.close();
  }
});

// Where the README's pictures go, when the run is asked for them.
const screenshots = process.env.SCREENSHOTS;
if (screenshots) mkdirSync(screenshots, { recursive: true });

// The sizes a player's screen comes in: laptops, a large desktop, a phone
// held upright and sideways.
const SIZES = [[1280, 800], [1366, 768], [1920, 1080], [390, 844], [844, 390]];

test("the whole game fits without scrolling at every size, light and dark, and the cards scale", async () => {
  const cardWidths = new Map();
  for (const [width, height] of SIZES) {
    for (const colorScheme of ["light", "dark"]) {
      const page = await openGame({ width, height }, false, { colorScheme });
      // A miss showing, so that the message is as long as it gets.
      await card(page, 0).click();
      await message(page).getByText("A1: ").waitFor();
      await card(page, 1).click();
      await page.locator("#moves").getByText("1", { exact: true }).waitFor();
      const fits = await page.evaluate(() => {
        const inside = (id) => {
          const box = document.getElementById(id).getBoundingClientRect();
          return box.top >= 0 && box.left >= 0 && box.bottom <= innerHeight && box.right <= innerWidth;
        };
        return { board: inside("board"), message: inside("message"), status: inside("moves"),
          scrolls: document.documentElement.scrollHeight > innerHeight || document.documentElement.scrollWidth > innerWidth,
          card: document.querySelector(".card").getBoundingClientRect().width };
      });
      assert.deepEqual({ ...fits, card: undefined }, { board: true, message: true, status: true, scrolls: false, card: undefined },
        `${width}×${height} ${colorScheme}`);
      cardWidths.set(`${width}×${height}`, fits.card);
      const still = { animations: "disabled" };
      if (screenshots && width === 1280) await page.screenshot({ path: join(screenshots, `web-${colorScheme}.png`), ...still });
      if (screenshots && width === 390 && colorScheme === "light") await page.screenshot({ path: join(screenshots, "web-phone.png"), ...still });
      await page.close();
    }
  }
  // The cards grow with the screen, and stay big enough to tap on a phone.
  assert.ok(cardWidths.get("1920×1080") > cardWidths.get("1280×800"));
  assert.ok(cardWidths.get("1280×800") > cardWidths.get("844×390"));
  assert.ok(cardWidths.get("390×844") >= 64);
});

test("no WCAG 2.1 A or AA violations in the light, dark and high-contrast themes, on a laptop and a phone", async () => {
  const themes = [["light", false], ["dark", false], ["light", true], ["dark", true]];
  for (const [[width, height], [colorScheme, contrast]] of [...themes.map((theme) => [SIZES[0], theme]), [SIZES[3], themes[0]]]) {
    const page = await openGame({ width, height }, true, { colorScheme });
    if (contrast) await page.getByRole("button", { name: "High contrast" }).click();
    // Mid-game: a miss showing, then a card up.
    await card(page, 0).click();
    await message(page).getByText("A1: ").waitFor();
    await card(page, 1).click();
    await page.locator("#moves").getByText("1", { exact: true }).waitFor();
    await page.addScriptTag({ path: require.resolve("axe-core/axe.min.js") });
    const result = await page.evaluate(() =>
      window.axe.run(document, { runOnly: ["wcag2a", "wcag2aa", "wcag21a", "wcag21aa"] }));
    assert.deepEqual(result.violations.map((v) => `${v.id}: ${v.help}`), [], `${width}×${height} ${colorScheme} ${contrast}`);
    await page.close();
  }
});

test("cards read as places, pictures and states; one live region says each move, the turn and the end", async () => {
  const page = await openGame();
  // Beside it only the alert that the server cannot be reached, hidden now.
  const regions = await page.locator("[aria-live], [role=status], [role=log]").count();
  assert.equal(regions, 1);
  assert.equal(await card(page, 5).getAttribute("aria-label"), "B2: card 6 of 16, row 2, column 2, face down");
  const names = ["cat", "fish", "bird", "tree", "boat", "house", "key", "flower"];
  await card(page, 5).click();
  await message(page).getByText(/^B2: \w+\. Turn a second card\.$/).waitFor();
  const picture = await face(page, 5);
  assert.ok(names.includes(picture), picture);
  // The same card again is no move; another turns the move over.
  await card(page, 5).click();
  await card(page, 6).click();
  await page.locator("#moves").getByText("1", { exact: true }).waitFor();
  const said = await message(page).textContent();
  const pair = /deu certo/.test(said);
  assert.match(said, pair ? /^B2 \w+, B3 \w+\. deu certo: a pair!$/ : /^B2 \w+, B3 \w+\. não são iguais: not a pair\. Turn a card to go on\.$/);
  assert.equal(await card(page, 5).getAttribute("aria-label"), `B2: card 6 of 16, row 2, column 2, ${picture}, ${pair ? "found" : "no pair"}`);
  // The focus stays with the player's card.
  assert.equal(await page.evaluate(() => document.activeElement.getAttribute("aria-label").slice(0, 3)), "B3:");
  if (!pair) {
    // A miss stays up until the player goes on, then turns back.
    await card(page, 0).click();
    await message(page).getByText(/^A1: /).waitFor();
    assert.equal(await face(page, 5), "face down");
  }
  await page.close();
});

test("the page speaks the browser's language, Portuguese or English, and keeps the one chosen", async () => {
  const context = await browser.newContext({ locale: "pt-BR" });
  const page = await context.newPage();
  try {
    await page.goto(server.url);
    await page.getByText("Novo jogo: vire duas cartas.").waitFor();
    assert.equal(await page.locator("html").getAttribute("lang"), "pt");
    assert.equal(await page.getByRole("button", { name: /^B2: carta 6 de 16, linha 2, coluna 2, virada para baixo$/ }).count(), 1);
    await page.getByRole("button", { name: /^A1: / }).click();
    await page.getByRole("button", { name: /^A2: / }).click();
    await page.locator("#moves").getByText("1", { exact: true }).waitFor();
    assert.match(await message(page).textContent(), /\. (deu certo: é um par!|não são iguais: não é um par\.)/);
    // The switch, named in the language it switches to; kept for the next visit.
    await page.getByRole("button", { name: "Switch to English" }).click();
    assert.equal(await page.locator("html").getAttribute("lang"), "en");
    // What was said is said again in the new language, and back.
    assert.match(await message(page).textContent(), /^A1 \w+, A2 \w+\. (deu certo: a pair!|não são iguais: not a pair\.)/);
    await page.getByRole("button", { name: "Mudar para português" }).click();
    assert.match(await message(page).textContent(), /(é um par!|não é um par\.)/);
    await page.getByRole("button", { name: "Switch to English" }).click();
    await page.getByRole("button", { name: "New game" }).waitFor();
    await page.reload();
    await page.getByText("Welcome back: turn two cards.").waitFor();
  } finally {
    await context.close();
  }
});

test("cards turn with a short flip, and are still under reduced motion", async () => {
  for (const reducedMotion of ["no-preference", "reduce"]) {
    const page = await openGame(undefined, false, { reducedMotion });
    const motion = await page.evaluate(() => {
      const turning = getComputedStyle(document.querySelector(".card .turning"));
      return parseFloat(turning.transitionDuration);
    });
    if (reducedMotion === "reduce") assert.equal(motion, 0);
    else assert.ok(motion > 0.1 && motion < 0.6, String(motion));
    await page.close();
  }
});

test("the favicon is served, and nothing the page asks for is missing", async () => {
  const page = await browser.newPage();
  const missing = [];
  page.on("response", (response) => { if (response.status() >= 400) missing.push(response.url()); });
  await page.goto(server.url);
  await page.getByText("New game: turn two cards.").waitFor();
  const icon = await page.request.get(new URL("/favicon.svg", server.url).href);
  assert.equal(icon.headers()["content-type"], "image/svg+xml");
  assert.deepEqual(missing, []);
  await page.close();
});

// Only a build that has memoria.wasm (MEMORIA_WASM) serves it.
const wasmSkipped = process.env.MEMORIA_WASM ? false : "this build's page has no memoria.wasm";
test("the page judges moves with memoria.wasm under its own policy, a fresh instance each", { skip: wasmSkipped }, async () => {
  const page = await browser.newPage();
  const refused = [];
  page.on("console", (message) => { if (/Content Security Policy/.test(message.text())) refused.push(message.text()); });
  await page.goto(server.url);
  const wasm = await page.request.get(new URL("/memoria.wasm", server.url).href);
  assert.equal(wasm.headers()["content-type"], "application/wasm");
  const judged = await page.evaluate(async () => {
    const { judgeMove } = await import("/judge.mjs");
    const module = await WebAssembly.compileStreaming(fetch("/memoria.wasm"));
    return [judgeMove(module, 2, 3), judgeMove(module, 0, 2), judgeMove(module, 2, 3)];
  });
  assert.deepEqual(judged, [{ verdict: 1, message: "deu certo" }, { verdict: 0, message: "não são iguais " },
    { verdict: 1, message: "deu certo" }]);
  assert.deepEqual(refused, []);
  await page.close();
});

// The installed page: once loaded, its service worker keeps every file, and
// the page plays on with no network at all.
const PAGE_FILES = ["/", "/style.css", "/words.js", "/game.js", "/judge.mjs", "/offline.mjs", "/memoria.wasm",
  "/game.wasm", "/favicon.svg", "/icon-192.png", "/icon-512.png", "/manifest.webmanifest"];
async function offlinePage() {
  const context = await browser.newContext({ locale: "en-GB", viewport: { width: 1024, height: 800 } });
  const page = await context.newPage();
  await page.goto(server.url);
  await message(page).getByText("New game: turn two cards.").waitFor();
  assert.match(await page.locator("#mode").textContent(), /^Online/);
  await page.waitForFunction(() => navigator.serviceWorker.controller !== null);
  const kept = await page.evaluate(async () =>
    (await (await caches.open("memoria")).keys()).map((r) => new URL(r.url).pathname).sort());
  assert.deepEqual(kept, [...PAGE_FILES].sort());
  await context.setOffline(true);
  // From here on, nothing may ask the server: every move is judged here.
  const asked = [];
  page.on("request", (request) => { if (new URL(request.url()).pathname.startsWith("/api/")) asked.push(request.url()); });
  await page.getByRole("button", { name: "New game" }).click();
  await message(page).getByText("New game, played on this device: turn two cards.").waitFor();
  assert.match(await page.locator("#mode").textContent(), /^Offline/);
  assert.match(page.url(), /#offline=[0-9a-f]{32}$/);
  return { context, page, asked };
}

test("offline, the installed page plays a whole game judged on the device, and a reload resumes it", { skip: wasmSkipped }, async () => {
  const { context, page, asked } = await offlinePage();
  await card(page, 0).click();
  await message(page).getByText("A1: ").waitFor();
  const shown = await face(page, 0);
  // Reloaded with no network: every file comes from the service worker.
  const served = [];
  page.on("response", (response) => served.push([new URL(response.url()).pathname, response.fromServiceWorker()]));
  await page.reload();
  await page.getByText("Welcome back: turn a second card.").waitFor();
  assert.equal(await face(page, 0), shown);
  assert.ok(served.length >= 6 && served.every(([, fromWorker]) => fromWorker), JSON.stringify(served));
  await card(page, 1).click();
  await page.locator("#moves").getByText("1", { exact: true }).waitFor();
  await page.reload();
  await page.getByText("Welcome back: turn two cards.").waitFor();
  assert.equal(await page.locator("#moves").textContent(), "1");
  // Paused, a card cannot be turned; resumed, it can.
  await page.getByRole("button", { name: "Pause" }).click();
  await card(page, 2).click();
  await message(page).getByText("The game is paused: press Resume to go on.").waitFor();
  await page.getByRole("button", { name: "Resume" }).click();
  await message(page).getByText("Go on: the clock runs again.").waitFor();
  // A new game offline, played to its end, each verdict checked against the faces.
  await page.getByRole("button", { name: "New game" }).click();
  await page.getByRole("dialog").getByRole("button", { name: "New game" }).click();
  await message(page).getByText("New game, played on this device: turn two cards.").waitFor();
  const won = await playByMemory(page, (place) => card(page, place).click());
  assert.equal(await won.locator("#bests").isHidden(), true);
  assert.deepEqual(asked, []);
  await context.close();
});

test("offline, players at one screen and the computer play as they do online", { skip: wasmSkipped }, async () => {
  const { context, page, asked } = await offlinePage();
  await playersAndComputer(page, "New game, played on this device: turn two cards.");
  // The game on two devices needs the server, and says so.
  await page.getByRole("button", { name: "Play with a friend" }).click();
  await message(page).getByText("A game on two devices needs the server").waitFor();
  assert.deepEqual(asked, []);
  await context.close();
});

// The page on a static host, as the web zip is served: files and nothing
// else, so every game is played on the device, though the network is up.
test("on a static host with no API, the page plays its games on the device", { skip: wasmSkipped }, async () => {
  const folder = join(dirname(process.env.JOGAR_WEB), "page");
  const types = { ".html": "text/html", ".js": "text/javascript", ".mjs": "text/javascript", ".css": "text/css",
    ".wasm": "application/wasm", ".svg": "image/svg+xml", ".png": "image/png", ".webmanifest": "application/manifest+json" };
  const host = createServer((request, response) => {
    const name = new URL(request.url, "http://host").pathname.replace(/^\/$/, "/index.html");
    try {
      const body = readFileSync(join(folder, name.replace(/\.\.+/g, "")));
      response.writeHead(200, { "Content-Type": types[extname(name)] ?? "application/octet-stream" }).end(body);
    } catch {
      response.writeHead(404, { "Content-Type": "text/plain" }).end("not found");
    }
  });
  await new Promise((resolve) => host.listen(0, "127.0.0.1", resolve));
  try {
    const page = await browser.newPage({ locale: "en-GB" });
    await page.goto(`http://127.0.0.1:${host.address().port}/`);
    await message(page).getByText("New game, played on this device: turn two cards.").waitFor();
    assert.match(await page.locator("#mode").textContent(), /^Offline/);
    await card(page, 0).click();
    await message(page).getByText("A1: ").waitFor();
    await card(page, 1).click();
    await page.locator("#moves").getByText("1", { exact: true }).waitFor();
    assert.match(await message(page).textContent(), /(deu certo|não são iguais)/);
    await page.close();
  } finally {
    host.close();
  }
});
