// The browser side of jogar-web: it draws the sixteen places, asks the
// server to turn a card or judge a move, and shows what comes back. It knows
// no card until the server shows it.
"use strict";

const SIZE = 4;
const PLACES = SIZE * SIZE;
const game = {
  id: null, version: 0, moves: 0, finished: true, faces: {}, found: {}, up: [], shownMiss: [],
  busy: false, players: [], turn: 0,
};
// The computer's cards are turned at about a person's pace.
const COMPUTER_PAUSE_MS = 900;
const LEVELS = { easy: "easy", medium: "medium", hard: "hard" };
const cards = [];
const RETRY_MS = 2000;

const $ = (id) => document.getElementById(id);

// An answer that the server gave: a status and its JSON body.
class Answered extends Error {
  constructor(status, data) {
    super(data.error || `error ${status}`);
    this.status = status;
    this.data = data;
  }
}

async function once(path, body) {
  const response = await fetch(path, {
    method: body === undefined ? "GET" : "POST",
    headers: { "Content-Type": "application/json" },
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  const data = await response.json().catch(() => ({}));
  if (!response.ok) throw new Answered(response.status, data);
  return data;
}

// Asks until the server answers: while it cannot be reached, or says it is
// busy (503), the game stays on screen and the same request goes again.
// Every change names the version it was made from, so a request that was
// kept before its answer was lost gets that answer, never a second move.
async function api(path, body) {
  for (;;) {
    try {
      const data = await once(path, body);
      notice("");
      return data;
    } catch (error) {
      if (error instanceof Answered && error.status !== 503) {
        notice("");
        throw error;
      }
      notice("The server cannot be reached just now. Your game is kept; trying again…");
      await new Promise((resolve) => setTimeout(resolve, RETRY_MS));
    }
  }
}

function notice(text) {
  const box = $("notice");
  if (box.textContent !== text) box.textContent = text;
  box.hidden = text === "";
}

function describe(place) {
  const value = game.faces[place];
  if (game.found[place]) return `Place ${place + 1}, found, ${value}`;
  if (value !== undefined) return `Place ${place + 1}, showing ${value}`;
  return `Place ${place + 1}, face down`;
}

function draw(place) {
  const card = cards[place];
  const value = game.faces[place];
  const state = game.found[place] ? "found" : value !== undefined ? "up" : "down";
  card.dataset.state = state;
  card.setAttribute("aria-label", describe(place));
  card.setAttribute("aria-disabled", state === "found" ? "true" : "false");
  card.innerHTML = "";
  if (state === "down") {
    const number = document.createElement("span");
    number.className = "place";
    number.textContent = `#${place + 1}`;
    card.append(number);
  } else {
    card.textContent = String(value);
  }
}

function nameOf(player, index) {
  if (player.computer) return `Computer (${LEVELS[player.computer]})`;
  return player.name || `Player ${index + 1}`;
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
    item.textContent = `${nameOf(player, i)}: ${player.pairs} ${player.pairs === 1 ? "pair" : "pairs"}`;
    if (i === game.turn && !game.finished) item.setAttribute("aria-current", "true");
    return item;
  }));
  const turn = $("turn");
  const text = game.finished ? "" : `${nameOf(game.players[game.turn], game.turn)}'s turn`;
  if (turn.textContent !== text) turn.textContent = text;
}

function ending(data) {
  const all = `All pairs found in ${data.moves} moves.`;
  if (game.players.length < 2 || !data.winners) return all;
  const names = data.winners.map((i) => nameOf(game.players[i], i));
  const pairs = game.players[data.winners[0]].pairs;
  if (names.length === 1) return `${all} ${names[0]} wins with ${pairs} pairs.`;
  return `${all} A draw: ${names.join(" and ")}, ${pairs} pairs each.`;
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
  const closing = $("closing");
  closing.hidden = !data.finished;
  if (data.finished) closing.textContent = ending(data);
  if (computersTurn()) playComputer();
}

function say(text) {
  $("message").textContent = text;
}

// The two cards of a missed pair stay up until the next card is turned.
function hideMiss() {
  for (const place of game.shownMiss) {
    delete game.faces[place];
    draw(place);
  }
  game.shownMiss = [];
}

// Draws what the server answered to a turned card: the first card of a
// move, face up, or the whole move with the judge's verdict.
function shown(place, flipped, who) {
  if (flipped.verdict === undefined) {
    game.version = flipped.version;
    game.faces[place] = flipped.value;
    game.up = [place];
    draw(place);
    say(who ? `${who}place ${place + 1} shows ${flipped.value}.`
      : `Place ${place + 1} shows ${flipped.value}. Turn a second card.`);
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
  } else {
    game.shownMiss = [first, place];
  }
  draw(first);
  draw(place);
  say(`${who}${move.values[0]} and ${move.values[1]}: ${move.message}`);
  show(move);
}

function failed(error) {
  if (error.data?.state) {
    // Another tab or device moved first: the game as it is now.
    setGame(error.data.state);
    say("This game was played elsewhere meanwhile; here it is now.");
  } else if (error.status === 404) {
    gone();
  } else {
    say(`Something went wrong: ${error.message}`);
  }
}

async function turn(place) {
  if (game.busy || !game.id || game.finished || computersTurn() || game.found[place] ||
      game.up.includes(place)) return;
  game.busy = true;
  try {
    hideMiss();
    shown(place, await api(`/api/games/${game.id}/flip`, { place, version: game.version }), "");
  } catch (error) {
    failed(error);
  } finally {
    game.busy = false;
  }
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
      shown(place, step, `${nameOf(game.players[game.turn], game.turn)}: `);
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
      const card = document.createElement("button");
      card.type = "button";
      card.className = "card";
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
  Object.assign(game, { id: state.game, faces: {}, found: {}, up: [], shownMiss: [] });
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
}

function gone() {
  game.id = null;
  game.finished = true;
  for (let p = 0; p < PLACES; p++) cards[p].setAttribute("aria-disabled", "true");
  say("This game no longer exists. Start a new one with “New game”.");
}

// The game in the page's address, so that a reload, a bookmark or the link
// opened later comes back to it.
function idInAddress() {
  const match = /^#game=([0-9a-f]{32})$/.exec(location.hash);
  return match ? match[1] : null;
}

async function resume(id) {
  try {
    setGame(await api(`/api/games/${id}`));
    say(game.finished ? "This game is over." : game.up.length ? "Welcome back: turn a second card." : "Welcome back: turn two cards.");
  } catch (error) {
    if (error.status === 404) gone();
    else say(`Something went wrong: ${error.message}`);
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

async function newGame() {
  try {
    const players = chosenPlayers();
    const created = await api("/api/games", players ? { players } : {});
    setGame(created);
    history.replaceState(null, "", `#game=${created.game}`);
    say("New game: turn two cards.");
  } catch (error) {
    say(`No new game: ${error.message}`);
  }
}

function nameFields() {
  const count = Number($("people").value);
  const box = $("names");
  const kept = [...box.querySelectorAll("input")].map((input) => input.value);
  box.replaceChildren(...Array.from({ length: count }, (_, i) => {
    const label = document.createElement("label");
    label.textContent = `Name of player ${i + 1}`;
    const input = document.createElement("input");
    input.maxLength = 40;
    input.value = kept[i] ?? `Player ${i + 1}`;
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
  $("setup").showModal();
}

function setupClosed() {
  if ($("setup").returnValue !== "start") return;
  const players = [...$("names").querySelectorAll("input")].map((input, i) => ({
    name: input.value.replace(/[\u0000-\u001f\u007f]/g, "").trim().slice(0, 40) || `Player ${i + 1}`,
  }));
  if ($("computer").value) players.push({ computer: $("computer").value });
  localStorage.setItem("players", JSON.stringify(players));
  newGame();
}

// A game under way is not left by a slip: the player is asked first.
function askNewGame() {
  if (!game.id || game.finished || (game.moves === 0 && game.up.length === 0)) return newGame();
  $("confirm-new").showModal();
}

document.addEventListener("DOMContentLoaded", () => {
  build();
  $("new-game").addEventListener("click", askNewGame);
  $("choose-players").addEventListener("click", openSetup);
  $("people").addEventListener("change", nameFields);
  $("setup").addEventListener("close", setupClosed);
  $("confirm-new").addEventListener("close", () => {
    if ($("confirm-new").returnValue === "new") newGame();
  });
  window.addEventListener("hashchange", () => {
    const id = idInAddress();
    if (id && id !== game.id) resume(id);
  });
  const id = idInAddress();
  if (id) resume(id);
  else newGame();
});
