// The browser side of jogar-web: it draws the sixteen places, asks the
// server to turn a card or judge a move, and shows what comes back. It knows
// no card until the server shows it.
"use strict";

const SIZE = 4;
const PLACES = SIZE * SIZE;
const game = { id: null, faces: {}, found: {}, up: [], shownMiss: [], busy: false };
const cards = [];

const $ = (id) => document.getElementById(id);

async function api(path, body) {
  const response = await fetch(path, {
    method: body === undefined ? "GET" : "POST",
    headers: { "Content-Type": "application/json" },
    body: body === undefined ? undefined : JSON.stringify(body),
  });
  const data = await response.json();
  if (!response.ok) throw new Error(data.error || `error ${response.status}`);
  return data;
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

function show(data) {
  $("moves").textContent = String(data.moves);
  $("pairs-left").textContent = String(data.pairs_left);
  const closing = $("closing");
  closing.hidden = !data.finished;
  if (data.finished) closing.textContent = `All pairs found in ${data.moves} moves.`;
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

async function turn(place) {
  if (game.busy || !game.id || game.found[place] || game.up.includes(place)) return;
  game.busy = true;
  try {
    hideMiss();
    if (game.up.length === 0) {
      const flipped = await api(`/api/games/${game.id}/flip`, { place });
      game.faces[place] = flipped.value;
      game.up = [place];
      draw(place);
      say(`Place ${place + 1} shows ${flipped.value}. Turn a second card.`);
      return;
    }
    // The second card completes the move: the server shows its face only
    // with the judge's verdict.
    const first = game.up[0];
    const move = await api(`/api/games/${game.id}/flip`, { place });
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
    show(move);
    say(`${move.values[0]} and ${move.values[1]}: ${move.message}`);
  } catch (error) {
    say(`Something went wrong: ${error.message}`);
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

async function newGame() {
  try {
    const created = await api("/api/games", {});
    Object.assign(game, { id: created.game, faces: {}, found: {}, up: [], shownMiss: [] });
    for (let p = 0; p < PLACES; p++) draw(p);
    show(created);
    say("New game: turn two cards.");
  } catch (error) {
    say(`No new game: ${error.message}`);
  }
}

document.addEventListener("DOMContentLoaded", () => {
  build();
  $("new-game").addEventListener("click", newGame);
  newGame();
});
