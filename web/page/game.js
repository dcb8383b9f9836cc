// The browser side of jogar-web: it draws the sixteen places, asks the
// server to turn a card or judge a move, and shows what comes back. It knows
// no card until the server shows it.
"use strict";

const SIZE = 4;
const PLACES = SIZE * SIZE;
const game = {
  id: null, version: 0, moves: 0, finished: true, faces: {}, found: {}, up: [], shownMiss: [],
  busy: false, players: [], turn: 0, paused: false,
  seats: null, // for a game on two devices, which seats are taken
  you: null,   // and which one this browser holds
};
// The computer's cards are turned at about a person's pace.
const COMPUTER_PAUSE_MS = 900;
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

async function once(path, body, extra = {}) {
  const id = /^\/api\/games\/([0-9a-f]{32})/.exec(path)?.[1];
  const token = tokenOf(id);
  if (path === "/api/games" || path === "/api/bests") extra = { "X-Memoria-Browser": browserId(), ...extra };
  const response = await fetch(path, {
    method: body === undefined ? "GET" : "POST",
    headers: { "Content-Type": "application/json", ...(token ? { "X-Memoria-Seat": token } : {}), ...extra },
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
  if (player.computer) return `Computer (${player.computer})`;
  const name = player.name || `Player ${index + 1}`;
  return index === game.you ? `${name} (you)` : name;
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
    item.textContent = `${nameOf(player, i)}: ${player.pairs} ${player.pairs === 1 ? "pair" : "pairs"}`;
    if (i === game.turn && !game.finished) item.setAttribute("aria-current", "true");
    return item;
  }));
  const turn = $("turn");
  let text = game.finished ? "" : `${nameOf(game.players[game.turn], game.turn)}'s turn`;
  if (!game.finished && game.seats && game.turn === game.you) text = "Your turn";
  if (!game.finished && game.seats && !game.seats.every(Boolean)) text = "Waiting for your friend to open the link";
  if (turn.textContent !== text) turn.textContent = text;
}

function clock(ms) {
  const seconds = Math.round(ms / 1000);
  return `${Math.floor(seconds / 60)}:${String(seconds % 60).padStart(2, "0")}`;
}

function ending(data) {
  const all = `All pairs found in ${data.moves} moves` +
    (typeof data.time_ms === "number" ? `, in ${clock(data.time_ms)}.` : ".");
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
  if (data.finished) {
    closing.textContent = ending(data);
    showBests();
  }
  if (data.paused !== undefined) game.paused = data.paused;
  showPause();
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
  // A change this screen has drawn already, heard twice (its answer and
  // the game's socket).
  if (flipped.version <= game.version) return;
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
  if (!game.id || game.finished) return;
  if (!myTurn()) {
    say(game.seats.every(Boolean) ? "It is your friend's turn." : "Your friend has not come yet: send them the link.");
    return;
  }
  if (game.paused) return void say("The game is paused: press Resume to go on.");
  if (game.busy || computersTurn() || game.found[place] || game.up.includes(place)) return;
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
  const same = state.game === game.id;
  Object.assign(game, { id: state.game, faces: {}, found: {}, up: [], shownMiss: [], seats: state.seats ?? null });
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
    if (came) say("Your friend has joined: your turn.");
    return;
  }
  if (answer.version <= game.version || game.busy) return;
  if (answer.version > game.version + 1) return void resume(game.id);
  hideMiss();
  const place = answer.verdict === undefined ? answer.place : answer.second;
  shown(place, answer, `${nameOf(game.players[game.turn], game.turn)}: `);
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
  const match = /^#game=([0-9a-f]{32})(?:&invite=[0-9a-f]{32})?$/.exec(location.hash);
  return match ? match[1] : null;
}

// The friend's link: takes the free seat with its invitation, once, then
// drops the invitation from the address.
async function join(id) {
  const invite = /&invite=([0-9a-f]{32})$/.exec(location.hash)?.[1];
  history.replaceState(null, "", `#game=${id}`);
  if (!invite || tokenOf(id)) return resume(id);
  try {
    const seated = await api(`/api/games/${id}/seats`, {}, { "X-Memoria-Invite": invite });
    localStorage.setItem(tokenKey(id), seated.token);
    setGame(seated);
    say("You have joined the game.");
  } catch (error) {
    if (error.status === 404) return gone();
    // The seat was taken: this screen can still watch.
    await resume(id);
    say("That link's seat is taken already; you are watching the game.");
  }
}

async function resume(id) {
  try {
    setGame(await api(`/api/games/${id}`));
    if (game.seats) return void say(game.finished ? "This game is over." : myTurn() ? "Your turn." : "Waiting for your friend.");
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

async function playWithFriend() {
  try {
    const me = chosenPlayers()?.find((p) => p.name)?.name ?? "Player 1";
    const made = await api("/api/games", { players: [{ name: me }, { name: "Friend" }], devices: 2 });
    localStorage.setItem(tokenKey(made.game), made.token);
    sessionStorage.setItem(`invite:${made.game}`, made.invite);
    history.replaceState(null, "", `#game=${made.game}`);
    setGame(made);
    say("Send the link to your friend: the game starts when they open it.");
  } catch (error) {
    say(`No new game: ${error.message}`);
  }
}

// A game alone may be paused once it has started: its time stops.
function showPause() {
  const button = $("pause");
  const alone = game.players.length === 1 && !game.seats;
  button.hidden = !alone || game.finished || !game.id;
  button.textContent = game.paused ? "Resume" : "Pause";
  button.setAttribute("aria-pressed", String(Boolean(game.paused)));
  $("board").classList.toggle("paused", Boolean(game.paused));
}

async function togglePause() {
  if (game.busy || !game.id) return;
  try {
    const state = await api(`/api/games/${game.id}/${game.paused ? "resume" : "pause"}`, {});
    game.paused = state.paused;
    showPause();
    say(game.paused ? "Paused: the clock has stopped." : "Go on: the clock runs again.");
  } catch (error) {
    say(error.status === 409 ? "Turn a card first: there is nothing to pause yet." : `Something went wrong: ${error.message}`);
  }
}

const KINDS = { alone: "Alone", easy: "Against the computer (easy)", medium: "Against the computer (medium)", hard: "Against the computer (hard)" };

// This browser's bests, per kind of game, as the server keeps them.
async function showBests() {
  try {
    const { bests } = await once("/api/bests");
    const body = $("bests-rows");
    body.replaceChildren(...bests.map((b) => {
      const row = document.createElement("tr");
      const cells = [KINDS[b.kind] ?? b.kind, b.games, b.fewest_moves, clock(b.shortest_ms), b.kind === "alone" ? "" : b.wins];
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
  $("confirm-new").showModal();
}

document.addEventListener("DOMContentLoaded", () => {
  build();
  $("new-game").addEventListener("click", askNewGame);
  $("choose-players").addEventListener("click", openSetup);
  $("with-friend").addEventListener("click", playWithFriend);
  $("pause").addEventListener("click", togglePause);
  showBests();
  $("copy-link").addEventListener("click", async () => {
    $("invite-link").select();
    try {
      await navigator.clipboard.writeText($("invite-link").value);
      say("The link is copied.");
    } catch {
      say("Copy the link from the box.");
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
  const id = idInAddress();
  if (id) join(id);
  else newGame();
});
