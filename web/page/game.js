// The browser side of jogar-web: it draws the sixteen places, asks the
// server to turn a card or judge a move, and shows what comes back. It knows
// no card until the server shows it. With no server to reach, it asks
// offline.mjs the same questions, and the game is played on this device.
// Its words are in words.js.
"use strict";

const SIZE = 4;
const PLACES = SIZE * SIZE;
const game = {
  id: null, version: 0, moves: 0, finished: true, faces: {}, found: {}, up: [], shownMiss: [],
  busy: false, players: [], turn: 0, paused: false,
  seats: null, // for a game on two devices, which seats are taken
  you: null,   // and which one this browser holds
  offline: false, // played on this device (offline.mjs), not on the server
};
// The computer's cards are turned at about a person's pace.
const COMPUTER_PAUSE_MS = 900;
const cards = [];
const RETRY_MS = 2000;
// How long a new game waits for the server before it is played offline.
const SERVER_WAIT_MS = 5000;

const $ = (id) => document.getElementById(id);
const SVG = "http://www.w3.org/2000/svg";

// The player's language: the one chosen on this page before, else the
// first of the browser's languages that the page has.
function chosenLanguage() {
  const kept = localStorage.getItem("language");
  if (kept in WORDS) return kept;
  const wanted = (navigator.languages ?? [navigator.language]).map((l) => l.slice(0, 2).toLowerCase());
  return wanted.find((l) => l in WORDS) ?? "en";
}
let language = chosenLanguage();
// A word of the page's language; the words that take values are functions.
function t(key, ...values) {
  const word = WORDS[language][key];
  return typeof word === "function" ? word(...values) : word;
}

// An answer that the server gave: a status and its JSON body.
class Answered extends Error {
  constructor(status, data) {
    super(data.error || `error ${status}`);
    this.status = status;
    this.data = data;
  }
}

// A seat's token, kept by the browser that holds the seat; sent only in a
// header, never in a body or an address.
const tokenKey = (id) => `seat:${id}`;
const tokenOf = (id) => (id ? localStorage.getItem(tokenKey(id)) : null);

// This browser's own random ID, which its bests belong to: no account, and
// nothing else about the player.
function browserId() {
  let id = localStorage.getItem("browser");
  if (!/^[0-9a-f]{32}$/.test(id ?? "")) {
    const bytes = crypto.getRandomValues(new Uint8Array(16));
    id = [...bytes].map((b) => b.toString(16).padStart(2, "0")).join("");
    localStorage.setItem("browser", id);
  }
  return id;
}

// The games played on this device, which offline.mjs answers for.
const offlineGames = new Set();
let offlineModule = null;
async function offlineAnswer(path, body) {
  offlineModule ??= import("./offline.mjs").catch((error) => {
    offlineModule = null;
    throw error;
  });
  const { status, data } = await (await offlineModule).answer(path, body);
  if (status >= 400) throw new Answered(status, data);
  if (data.game) offlineGames.add(data.game);
  return data;
}

async function once(path, body, extra = {}, signal = undefined) {
  const id = /^\/api\/games\/([0-9a-f]{32})/.exec(path)?.[1];
  if (offlineGames.has(id)) return offlineAnswer(path, body);
  const token = tokenOf(id);
  if (path === "/api/games" || path === "/api/bests") extra = { "X-Memoria-Browser": browserId(), ...extra };
  const response = await fetch(path, {
    method: body === undefined ? "GET" : "POST",
    headers: { "Content-Type": "application/json", ...(token ? { "X-Memoria-Seat": token } : {}), ...extra },
    body: body === undefined ? undefined : JSON.stringify(body),
    signal,
  });
  const data = await response.json().catch(() => ({}));
  if (!response.ok) throw new Answered(response.status, data);
  return data;
}

// Asks the server to make something new, once; null when there is no
// server to ask: no network, no answer in time, a server that failed, or a
// host that serves the page alone. A refusal the server gives is thrown.
async function onServer(path, body) {
  if (navigator.onLine === false) return null;
  try {
    return await once(path, body, {}, AbortSignal.timeout(SERVER_WAIT_MS));
  } catch (error) {
    if (error instanceof Answered && error.data.error && error.status < 500) throw error;
    return null;
  }
}

// Asks until the server answers: while it cannot be reached, or says it is
// busy (503), the game stays on screen and the same request goes again.
// Every change names the version it was made from, so a request that was
// kept before its answer was lost gets that answer, never a second move.
async function api(path, body, extra) {
  for (;;) {
    try {
      const data = await once(path, body, extra);
      notice("");
      return data;
    } catch (error) {
      if (error instanceof Answered && error.status !== 503) {
        notice("");
        throw error;
      }
      notice(t("unreachable"));
      await new Promise((resolve) => setTimeout(resolve, RETRY_MS));
    }
  }
}

function notice(text) {
  const box = $("notice");
  if (box.textContent !== text) box.textContent = text;
  box.hidden = text === "";
}

// Places as the players know them: a row letter and a column number.
const placeName = (place) => `${"ABCD"[Math.floor(place / SIZE)]}${(place % SIZE) + 1}`;
const pictureOf = (value) => t("pictures")[value - 1] ?? String(value);

function describe(place) {
  const value = game.faces[place];
  const where = `${placeName(place)}: ${t("card", place + 1, Math.floor(place / SIZE) + 1, (place % SIZE) + 1)}`;
  if (value === undefined) return `${where}, ${t("face-down")}`;
  if (game.found[place]) return `${where}, ${pictureOf(value)}, ${t("found")}`;
  if (game.shownMiss.includes(place)) return `${where}, ${pictureOf(value)}, ${t("no-pair")}`;
  return `${where}, ${pictureOf(value)}`;
}

function draw(place) {
  const card = cards[place];
  const value = game.faces[place];
  const state = game.found[place] ? "found" : value !== undefined ? "up" : "down";
  card.dataset.state = state;
  card.classList.toggle("miss", game.shownMiss.includes(place));
  card.setAttribute("aria-label", describe(place));
  card.setAttribute("aria-disabled", state === "found" ? "true" : "false");
  const front = card.querySelector(".front");
  const picture = front.querySelector("svg");
  picture.setAttribute("class", value === undefined ? "" : `picture-${value}`);
  picture.firstChild.setAttribute("href", value === undefined ? "" : `#picture-${value}`);
  front.querySelector(".value").textContent = value === undefined ? "" : String(value);
  front.querySelector(".mark").textContent = state === "found" ? `\u2713 ${t("found")}`
    : card.classList.contains("miss") ? `\u2717 ${t("no-pair")}` : "";
  card.querySelector(".place").textContent = placeName(place);
}

function nameOf(player, index) {
  if (player.computer) return t("computerNamed", player.computer);
  const name = player.name || t("player-n", index + 1);
  return index === game.you ? t("you", name) : name;
}

// Whether this screen may play now: on two devices, only on its own turn.
function myTurn() {
  return game.seats === null || (game.seats.every(Boolean) && game.turn === game.you);
}

function computersTurn() {
  return !game.finished && Boolean(game.players[game.turn]?.computer);
}

// Who plays, their pairs and whose turn it is; only for more than one.
function showPlayers() {
  const several = game.players.length > 1;
  $("table").hidden = !several;
  if (!several) return;
  const list = $("players");
  list.replaceChildren(...game.players.map((player, i) => {
    const item = document.createElement("li");
    item.textContent = `${nameOf(player, i)}: ${t("pairs", player.pairs)}`;
    if (i === game.turn && !game.finished) item.setAttribute("aria-current", "true");
    return item;
  }));
  const turn = $("turn");
  const text = turnLine();
  if (turn.textContent !== text) turn.textContent = text;
}

// Whose turn it is, in words; empty for a game alone or over.
function turnLine() {
  if (game.finished || (game.players.length < 2 && !game.seats)) return "";
  if (game.seats && !game.seats.every(Boolean)) return t("waiting");
  if (game.seats && game.turn === game.you) return t("your-turn");
  return t("turnOf", nameOf(game.players[game.turn], game.turn));
}

function clock(ms) {
  const seconds = Math.round(ms / 1000);
  return `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, "0")}`;
}

// The end of a game in words: `key` says it in full ("ended") or, under
// the dialog's title, in short ("summary").
function ending(data, key = "ended") {
  const all = t(key, data.moves, typeof data.time_ms === "number" ? clock(data.time_ms) : "");
  if (game.players.length < 2 || !data.winners) return all;
  const names = data.winners.map((i) => nameOf(game.players[i], i));
  const pairs = game.players[data.winners[0]].pairs;
  return `${all} ${names.length === 1 ? t("wins", names[0], pairs) : t("draw", names, pairs)}`;
}

function show(data) {
  game.version = data.version;
  game.moves = data.moves;
  game.finished = data.finished;
  if (data.players) game.players = data.players;
  if (data.turn !== undefined) game.turn = data.turn;
  $("moves").textContent = String(data.moves);
  $("pairs-left").textContent = String(data.pairs_left);
  showPlayers();
  if (data.paused !== undefined) game.paused = data.paused;
  showPause();
  if (computersTurn()) playComputer();
}

// Says something in the live region, and keeps how to say it again in
// another language. A part may be the judge's own message, which is shown
// as the judge wrote it, with its meaning beside it.
let said = [];
function say(...parts) {
  said = parts;
  const box = $("message");
  box.replaceChildren();
  for (const part of parts.map((each) => (typeof each === "function" ? each() : each))) {
    if (part === "") continue;
    if (box.childNodes.length) box.append(" ");
    if (typeof part === "string") {
      box.append(part);
      continue;
    }
    const quote = document.createElement("q");
    quote.lang = "pt";
    quote.className = "judge";
    quote.textContent = part.judge.trimEnd();
    box.append(quote, `: ${t("meanings")[part.judge] ?? ""}`);
  }
}

// The two cards of a missed pair stay up until the next card is turned.
function hideMiss() {
  const shown = game.shownMiss;
  game.shownMiss = [];
  for (const place of shown) {
    delete game.faces[place];
    draw(place);
  }
}

// A found pair settles in place, once.
function settle(places) {
  for (const place of places) {
    const card = cards[place];
    card.classList.add("settling");
    card.addEventListener("animationend", () => card.classList.remove("settling"), { once: true });
  }
}

// Draws what the server answered to a turned card: the first card of a
// move, face up, or the whole move with the judge's verdict.
function shown(place, flipped, who) {
  // A change this screen has drawn already, heard twice (its answer and
  // the game's socket).
  if (flipped.version <= game.version) return;
  if (flipped.verdict === undefined) {
    game.version = flipped.version;
    game.faces[place] = flipped.value;
    game.up = [place];
    draw(place);
    say(() => t("shows", who, placeName(place), pictureOf(flipped.value)), who ? "" : () => t("second"));
    return;
  }
  // The second card completes the move: the server shows its face only
  // with the judge's verdict.
  const move = flipped;
  const first = move.first;
  game.up = [];
  game.faces[first] = move.values[0];
  game.faces[place] = move.values[1];
  if (move.verdict === 1) {
    game.found[first] = game.found[place] = true;
    settle([first, place]);
  } else {
    game.shownMiss = [first, place];
  }
  draw(first);
  draw(place);
  show(move);
  say(() => t("moved", who, placeName(first), placeName(place), pictureOf(move.values[0]), pictureOf(move.values[1])),
    { judge: move.message },
    () => (move.finished ? ending(move) : turnLine() || (move.verdict === 1 ? "" : t("go-on"))));
  if (move.finished) showEnd(move);
}

// A dialog's answer is only the one given since it opened: Escape gives none.
function opened(dialog) {
  dialog.returnValue = "";
  dialog.showModal();
}

// The end of a game: a dialog with its moves and time, and another game.
function showEnd(data) {
  $("won-summary").textContent = ending(data, "summary");
  // A game played on this device counts for no bests on the server.
  if (game.offline) $("bests").hidden = true;
  else showBests();
  const dialog = $("won");
  if (!dialog.open) opened(dialog);
}

function failed(error) {
  if (error.data?.state) {
    // Another tab or device moved first: the game as it is now.
    setGame(error.data.state);
    say(() => t("elsewhere"));
  } else if (error.status === 404) {
    gone();
  } else {
    say(() => t("failed", error.message));
  }
}

// A card chosen while the one before is still on its way is turned next,
// not lost: a quick second tap is the player's move.
let flipping = false;
let nextCard = null;

async function turn(place) {
  if (!game.id || game.finished) return;
  if (!myTurn()) {
    say(() => t(game.seats.every(Boolean) ? "friends-turn" : "not-come"));
    return;
  }
  if (game.paused) return void say(() => t("paused-refusal"));
  if (flipping) {
    nextCard = place;
    return;
  }
  if (game.busy || computersTurn() || game.found[place] || game.up.includes(place)) return;
  game.busy = flipping = true;
  try {
    hideMiss();
    shown(place, await api(`/api/games/${game.id}/flip`, { place, version: game.version }), "");
  } catch (error) {
    failed(error);
  } finally {
    game.busy = flipping = false;
  }
  const next = nextCard;
  nextCard = null;
  if (next !== null && !computersTurn()) return turn(next);
  // A miss may have passed the turn to the computer.
  if (computersTurn()) playComputer();
}

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// The computer's turn, card by card: the server chooses each card from
// what the table has seen; the page only paces and shows them.
async function playComputer() {
  if (game.busy) return;
  game.busy = true;
  const id = game.id;
  try {
    while (computersTurn() && game.id === id) {
      await pause(COMPUTER_PAUSE_MS);
      if (game.id !== id) return;
      hideMiss();
      const step = await api(`/api/games/${id}/computer`, { version: game.version });
      const place = step.verdict === undefined ? step.place : step.second;
      shown(place, step, nameOf(game.players[game.turn], game.turn));
    }
  } catch (error) {
    failed(error);
  } finally {
    game.busy = false;
  }
}

function focusCard(place) {
  for (const card of cards) card.tabIndex = -1;
  cards[place].tabIndex = 0;
  cards[place].focus();
}

function onKey(event, place) {
  const steps = { ArrowLeft: -1, ArrowRight: 1, ArrowUp: -SIZE, ArrowDown: SIZE };
  let target = null;
  if (event.key in steps) target = place + steps[event.key];
  else if (event.key === "Home") target = 0;
  else if (event.key === "End") target = PLACES - 1;
  if (target === null) return;
  event.preventDefault();
  if ((event.key === "ArrowLeft" || event.key === "ArrowRight") &&
      Math.floor(target / SIZE) !== Math.floor(place / SIZE)) return;
  if (target >= 0 && target < PLACES) focusCard(target);
}

// A card's two sides, turned over as one: the back with its place, the
// front with its picture, its value (shown on request) and its mark.
function cardSides() {
  const turning = document.createElement("span");
  turning.className = "turning";
  const back = document.createElement("span");
  back.className = "back";
  const place = document.createElement("span");
  place.className = "place";
  back.append(place);
  const front = document.createElement("span");
  front.className = "front";
  const picture = document.createElementNS(SVG, "svg");
  picture.setAttribute("aria-hidden", "true");
  picture.setAttribute("focusable", "false");
  picture.append(document.createElementNS(SVG, "use"));
  const value = document.createElement("span");
  value.className = "value";
  const mark = document.createElement("span");
  mark.className = "mark";
  front.append(picture, value, mark);
  turning.append(back, front);
  return turning;
}

function build() {
  const board = $("board");
  for (let r = 0; r < SIZE; r++) {
    const row = document.createElement("div");
    row.className = "row";
    row.setAttribute("role", "row");
    for (let c = 0; c < SIZE; c++) {
      const place = r * SIZE + c;
      const cell = document.createElement("div");
      cell.setAttribute("role", "gridcell");
      cell.className = "cell";
      const card = document.createElement("button");
      card.type = "button";
      card.className = "card";
      card.append(cardSides());
      card.tabIndex = place === 0 ? 0 : -1;
      card.addEventListener("click", () => turn(place));
      card.addEventListener("keydown", (event) => onKey(event, place));
      card.addEventListener("focus", () => {
        for (const other of cards) other.tabIndex = other === card ? 0 : -1;
      });
      cards.push(card);
      cell.append(card);
      row.append(cell);
    }
    board.append(row);
  }
}

// Draws a game as the server keeps it: the pairs found and the card of a
// move under way face up, every other card down.
function setGame(state) {
  const same = state.game === game.id;
  Object.assign(game, { id: state.game, faces: {}, found: {}, up: [], shownMiss: [], seats: state.seats ?? null,
    offline: Boolean(state.offline) });
  if (game.offline && !state.finished) localStorage.setItem("offline-game", game.id);
  else if (game.offline) localStorage.removeItem("offline-game");
  if (state.you !== undefined) game.you = state.you;
  else if (!same) game.you = null;
  for (const [place, value] of Object.entries(state.found)) {
    game.faces[place] = value;
    game.found[place] = true;
  }
  if (state.pending) {
    game.faces[state.pending.place] = state.pending.value;
    game.up = [state.pending.place];
  }
  for (let p = 0; p < PLACES; p++) draw(p);
  show(state);
  showInvite();
  showMode();
  if (game.seats) followGame(game.id);
}

// The game on two devices: the link for the friend while the seat is free.
function showInvite() {
  const box = $("invite");
  const invite = game.seats && !game.seats[1] ? sessionStorage.getItem(`invite:${game.id}`) : null;
  box.hidden = !invite;
  if (invite) $("invite-link").value = `${location.origin}/#game=${game.id}&invite=${invite}`;
}

// Follows the game's changes on its socket, as the other device makes
// them; a socket that drops is opened again, and the game read afresh, so
// nothing made meanwhile is missed.
let socket = null;
function followGame(id) {
  if (socket?.game === id) return;
  socket?.close();
  const url = `${location.protocol === "https:" ? "wss" : "ws"}://${location.host}/api/games/${id}/events`;
  const opened = new WebSocket(url);
  opened.game = id;
  socket = opened;
  opened.addEventListener("message", (event) => heard(JSON.parse(event.data).answer));
  opened.addEventListener("close", () => {
    if (socket !== opened) return;
    socket = null;
    setTimeout(() => {
      if (game.id === id && !socket) resume(id);
    }, RETRY_MS / 2);
  });
}

function heard(answer) {
  if (answer.seated !== undefined) {
    const came = !game.seats?.[1] && answer.seats[1];
    game.seats = answer.seats;
    showInvite();
    showPlayers();
    if (came) say(() => t("friend-joined"));
    return;
  }
  if (answer.version <= game.version || game.busy) return;
  if (answer.version > game.version + 1) return void resume(game.id);
  hideMiss();
  const place = answer.verdict === undefined ? answer.place : answer.second;
  shown(place, answer, nameOf(game.players[game.turn], game.turn));
}

function gone() {
  if (localStorage.getItem("offline-game") === (game.id ?? idInAddress())) localStorage.removeItem("offline-game");
  game.id = null;
  game.finished = true;
  for (let p = 0; p < PLACES; p++) cards[p].setAttribute("aria-disabled", "true");
  say(() => t("gone"));
}

// The game in the page's address, so that a reload, a bookmark or the link
// opened later comes back to it; a game played on this device is #offline=.
function idInAddress() {
  const match = /^#(game|offline)=([0-9a-f]{32})(?:&invite=[0-9a-f]{32})?$/.exec(location.hash);
  if (match?.[1] === "offline") offlineGames.add(match[2]);
  return match ? match[2] : null;
}

const addressOf = (id) => `#${offlineGames.has(id) ? "offline" : "game"}=${id}`;

// Whether the game is played on the server or on this device, in words.
function showMode() {
  const mode = $("mode");
  mode.hidden = !game.id;
  mode.textContent = t(game.offline ? "mode-offline" : "mode-online");
  mode.dataset.mode = game.offline ? "offline" : "online";
}

// The friend's link: takes the free seat with its invitation, once, then
// drops the invitation from the address.
async function join(id) {
  const invite = /&invite=([0-9a-f]{32})$/.exec(location.hash)?.[1];
  history.replaceState(null, "", addressOf(id));
  if (!invite || tokenOf(id)) return resume(id);
  try {
    const seated = await api(`/api/games/${id}/seats`, {}, { "X-Memoria-Invite": invite });
    localStorage.setItem(tokenKey(id), seated.token);
    setGame(seated);
    say(() => t("joined"));
  } catch (error) {
    if (error.status === 404) return gone();
    // The seat was taken: this screen can still watch.
    await resume(id);
    say(() => t("seat-taken"));
  }
}

async function resume(id) {
  try {
    setGame(await api(`/api/games/${id}`));
    if (game.finished) return void say(() => t("over"));
    if (game.seats) return void say(() => turnLine());
    say(() => t(game.up.length ? "welcome-second" : "welcome-two"), () => turnLine());
  } catch (error) {
    if (error.status === 404) gone();
    else say(() => t("failed", error.message));
  }
}

// The players chosen last, kept by this browser for its next games.
function chosenPlayers() {
  try {
    const players = JSON.parse(localStorage.getItem("players") || "null");
    return Array.isArray(players) ? players : null;
  } catch {
    return null;
  }
}

// A new game on the server, or on this device when there is none to reach.
async function newGame() {
  try {
    const players = chosenPlayers();
    const body = players ? { players } : {};
    const created = (await onServer("/api/games", body)) ?? (await offlineAnswer("/api/games", body));
    setGame(created);
    history.replaceState(null, "", addressOf(created.game));
    say(() => t(created.offline ? "new-offline" : "new-started"), () => turnLine());
  } catch (error) {
    say(() => t("no-new", error.message));
  }
}

function nameFields() {
  const count = Number($("people").value);
  const box = $("names");
  const kept = [...box.querySelectorAll("input")].map((input) => input.value);
  box.replaceChildren(...Array.from({ length: count }, (_, i) => {
    const label = document.createElement("label");
    label.textContent = t("name-of", i + 1);
    const input = document.createElement("input");
    input.maxLength = 40;
    input.value = kept[i] ?? t("player-n", i + 1);
    label.append(input);
    const row = document.createElement("p");
    row.append(label);
    return row;
  }));
  // Four at one table at most, the computer counted.
  const computer = $("computer");
  if (count === 4) computer.value = "";
  computer.disabled = count === 4;
}

function openSetup() {
  const players = chosenPlayers() ?? [];
  const people = players.filter((p) => p.name);
  $("people").value = String(Math.max(1, people.length));
  $("names").replaceChildren();
  nameFields();
  $("names").querySelectorAll("input").forEach((input, i) => { input.value = people[i]?.name ?? input.value; });
  $("computer").value = players.find((p) => p.computer)?.computer ?? "";
  opened($("setup"));
}

function setupClosed() {
  if ($("setup").returnValue !== "start") return;
  const players = [...$("names").querySelectorAll("input")].map((input, i) => ({
    name: input.value.replace(/[\u0000-\u001f\u007f]/g, "").trim().slice(0, 40) || t("player-n", i + 1),
  }));
  if ($("computer").value) players.push({ computer: $("computer").value });
  localStorage.setItem("players", JSON.stringify(players));
  newGame();
}

async function playWithFriend() {
  try {
    const me = chosenPlayers()?.find((p) => p.name)?.name ?? t("player-n", 1);
    const made = await onServer("/api/games", { players: [{ name: me }, { name: t("friend") }], devices: 2 });
    if (!made) return void say(() => t("friend-needs-server"));
    localStorage.setItem(tokenKey(made.game), made.token);
    sessionStorage.setItem(`invite:${made.game}`, made.invite);
    history.replaceState(null, "", `#game=${made.game}`);
    setGame(made);
    say(() => t("send-link"));
  } catch (error) {
    say(() => t("no-new", error.message));
  }
}

// A game alone may be paused once it has started: its time stops.
function showPause() {
  const button = $("pause");
  const alone = game.players.length === 1 && !game.seats;
  button.hidden = !alone || game.finished || !game.id;
  button.textContent = t(game.paused ? "resume" : "pause");
  button.setAttribute("aria-pressed", String(Boolean(game.paused)));
  $("board").classList.toggle("paused", Boolean(game.paused));
}

async function togglePause() {
  if (game.busy || !game.id) return;
  try {
    const state = await api(`/api/games/${game.id}/${game.paused ? "resume" : "pause"}`, {});
    game.paused = state.paused;
    showPause();
    say(() => t(game.paused ? "paused" : "unpaused"));
  } catch (error) {
    say(() => (error.status === 409 ? t("nothing-to-pause") : t("failed", error.message)));
  }
}

// This browser's bests, per kind of game, as the server keeps them.
async function showBests() {
  try {
    const { bests } = await once("/api/bests");
    const body = $("bests-rows");
    body.replaceChildren(...bests.map((b) => {
      const row = document.createElement("tr");
      const cells = [t("kinds")[b.kind] ?? b.kind, b.games, b.fewest_moves, clock(b.shortest_ms), b.kind === "alone" ? "" : b.wins];
      for (const value of cells) {
        const cell = document.createElement(row.children.length ? "td" : "th");
        if (!row.children.length) cell.scope = "row";
        cell.textContent = String(value);
        row.append(cell);
      }
      return row;
    }));
    $("bests").hidden = bests.length === 0;
  } catch {
    // The bests wait for the next finished game.
  }
}

// A game under way is not left by a slip: the player is asked first.
function askNewGame() {
  if (!game.id || game.finished || (game.moves === 0 && game.up.length === 0)) return newGame();
  opened($("confirm-new"));
}

// The page's words in its language; a switch to the other one.
function showWords() {
  document.documentElement.lang = language;
  document.title = t("title");
  for (const element of document.querySelectorAll("[data-words]")) element.textContent = t(element.dataset.words);
  const other = Object.keys(WORDS).find((l) => l !== language);
  const button = $("language");
  button.textContent = WORDS[other]["language-name"];
  button.lang = other;
  button.setAttribute("aria-label", t("switch-label"));
  $("board").setAttribute("aria-label", t("board"));
  $("players").setAttribute("aria-label", t("players-label"));
  for (let p = 0; p < PLACES; p++) draw(p);
  showPlayers();
  showPause();
  showMode();
  if ($("setup").open) nameFields();
  say(...said);
}

// The choices a player makes for this browser: language, contrast, numbers.
function setting(name, on) {
  localStorage.setItem(name, on ? "on" : "off");
  document.documentElement.classList.toggle(name, on);
  $(name).setAttribute("aria-pressed", String(on));
}

function settingsShown() {
  for (const name of ["contrast", "numbers"]) {
    const kept = localStorage.getItem(name);
    const on = kept ? kept === "on" : name === "contrast" && matchMedia("(prefers-contrast: more)").matches;
    setting(name, on);
    $(name).addEventListener("click", () => setting(name, $(name).getAttribute("aria-pressed") !== "true"));
  }
  $("language").addEventListener("click", () => {
    language = Object.keys(WORDS).find((l) => l !== language);
    localStorage.setItem("language", language);
    showWords();
  });
}

document.addEventListener("DOMContentLoaded", () => {
  build();
  settingsShown();
  showWords();
  $("won").addEventListener("close", () => {
    if ($("won").returnValue === "again") newGame();
  });
  $("new-game").addEventListener("click", askNewGame);
  $("choose-players").addEventListener("click", openSetup);
  $("with-friend").addEventListener("click", playWithFriend);
  $("pause").addEventListener("click", togglePause);
  $("copy-link").addEventListener("click", async () => {
    $("invite-link").select();
    try {
      await navigator.clipboard.writeText($("invite-link").value);
      say(() => t("copied"));
    } catch {
      say(() => t("copy-yourself"));
    }
  });
  $("people").addEventListener("change", nameFields);
  $("setup").addEventListener("close", setupClosed);
  $("confirm-new").addEventListener("close", () => {
    if ($("confirm-new").returnValue === "new") newGame();
  });
  window.addEventListener("hashchange", () => {
    const id = idInAddress();
    if (id && id !== game.id) join(id);
  });
  // The page installed, it opens with no network too.
  navigator.serviceWorker?.register("sw.js").catch(() => {});
  const id = idInAddress() ?? keptOfflineGame();
  if (id) join(id);
  else newGame();
});

// The game last played on this device, which the installed page opens at
// again; the page forgets it once it is over.
function keptOfflineGame() {
  const id = localStorage.getItem("offline-game");
  if (!/^[0-9a-f]{32}$/.test(id ?? "")) return null;
  offlineGames.add(id);
  history.replaceState(null, "", addressOf(id));
  return id;
}
