// Games played on this device, with no server: the page asks this module
// what it would ask jogar-web, and gets the same answers. The rules are the
// game model's own, compiled to game.wasm; every verdict is memoria.wasm's,
// run by judge.mjs; the games are kept in the browser's IndexedDB, each
// change stored before it is answered, so that a reload finds it.
//
// A game is kept as its seed, its players and its moves with their
// verdicts; the model is built again from them for every request, so two
// tabs of one game never disagree about it.
import { judgeMove } from "./judge.mjs";

const LEVELS = ["", "easy", "medium", "hard"];
const MAX_NAME = 40;
// A game left unchanged this long is removed when the next one is made.
const KEPT_MS = 30 * 24 * 3600 * 1000;

async function compiled(name) {
  const response = await fetch(new URL(name, import.meta.url));
  if (!response.ok) throw new Error(`${name}: ${response.status}`);
  return WebAssembly.compile(await response.arrayBuffer());
}

function opened() {
  return new Promise((resolve, reject) => {
    const opening = indexedDB.open("memoria", 1);
    opening.onupgradeneeded = () => opening.result.createObjectStore("games", { keyPath: "id" });
    opening.onsuccess = () => resolve(opening.result);
    opening.onerror = () => reject(opening.error);
  });
}

const [judge, model, db] = await Promise.all([compiled("memoria.wasm"), compiled("game.wasm"), opened()]);

const refuse = (status, error, extra = {}) => ({ status, data: { error, ...extra } });

// The model of a kept game: dealt from its seed, its moves counted again
// with the verdicts the judge gave them.
function modelOf(record) {
  const m = new WebAssembly.Instance(model, {}).exports;
  m._initialize();
  m.start(record.seed[0], record.seed[1]);
  for (const p of record.players) m.add_player(LEVELS.indexOf(p.computer ?? ""));
  for (const [first, second, verdict] of record.moves) {
    m.turn_up(first);
    m.count(second, verdict);
  }
  if (record.pending >= 0) m.turn_up(record.pending);
  return m;
}

function refusalOf(m, place) {
  const bytes = new Uint8Array(m.memory.buffer, m.refusal(place));
  return new TextDecoder().decode(bytes.subarray(0, bytes.indexOf(0)));
}

function playingMs(record, now) {
  if (record.started_ms === 0) return 0;
  const pausing = record.paused_since_ms > 0 ? now - record.paused_since_ms : 0;
  return Math.max(0, now - record.started_ms - record.paused_ms - pausing);
}

// The game as a player may see it, in the server's form: never a face that
// no move has shown.
function stateOf(record, m) {
  const found = {};
  for (let p = 0; p < 16; p++) if (m.found(p)) found[p] = m.value(p);
  const pending = m.pending();
  const over = m.finished() === 1;
  const players = record.players.map((p, i) => ({ name: p.name ?? "", pairs: m.pairs(i), computer: p.computer ?? null }));
  return {
    game: record.id, version: record.version, moves: m.moves(), pairs_left: m.pairs_left(), finished: over,
    found, pending: pending >= 0 ? { place: pending, value: m.value(pending) } : null, players, turn: m.turn(),
    winners: over ? players.map((_, i) => i).filter((i) => m.winner(i)) : null,
    seats: null, paused: record.paused_since_ms > 0,
    time_ms: over ? playingMs(record, record.changed_ms) : null, offline: true,
  };
}

function stamp(record) {
  record.version += 1;
  record.changed_ms = Date.now();
  if (record.started_ms === 0) record.started_ms = record.changed_ms;
}

// Turns the card at a place: the first of a move, shown at once, or the
// second, judged by memoria.wasm with the first.
function turnCard(record, m, place) {
  const refused = refusalOf(m, place);
  if (refused) return refuse(409, refused);
  const first = m.pending();
  if (first < 0) {
    m.turn_up(place);
    record.pending = place;
    stamp(record);
    return { status: 200, data: { place, value: m.value(place), version: record.version }, keep: record };
  }
  let judged;
  try {
    judged = judgeMove(judge, m.position(first), m.position(place));
  } catch (error) {
    console.error(`memoria.wasm: ${error.message}`);
    return refuse(502, "the judge failed; the move was not counted");
  }
  m.count(place, judged.verdict);
  record.moves.push([first, place, judged.verdict, judged.message]);
  record.pending = -1;
  stamp(record);
  const { game: _, ...state } = stateOf(record, m);
  return {
    status: 200,
    data: { ...state, first, second: place, values: [m.value(first), m.value(place)], verdict: judged.verdict, message: judged.message },
    keep: record,
  };
}

const computersTurn = (m) => m.finished() === 0 && m.level(m.turn()) > 0;

// A request made from a version the game has left, or null.
function stale(record, m, body) {
  if (!Number.isInteger(body?.version) || body.version === record.version) return null;
  return refuse(409, "the game has changed since that version", { state: stateOf(record, m) });
}

function personsFlip(record, m, body) {
  const place = body?.place;
  if (!Number.isInteger(place)) return refuse(400, "place must be a whole number");
  const late = stale(record, m, body);
  if (late) return late;
  if (computersTurn(m)) return refuse(409, "it is the computer's turn");
  if (record.paused_since_ms > 0) return refuse(409, "the game is paused");
  return turnCard(record, m, place);
}

function computerStep(record, m, body) {
  const late = stale(record, m, body);
  if (late) return late;
  if (m.finished()) return refuse(409, "the game is over");
  const place = m.computer_choice();
  if (place < 0) return refuse(409, "it is not the computer's turn");
  return turnCard(record, m, place);
}

function setPaused(record, m, paused) {
  if (record.players.length !== 1) return refuse(409, "only a game alone can be paused");
  const now = Date.now();
  if (paused) {
    if (record.started_ms === 0 || m.finished() || record.paused_since_ms > 0)
      return refuse(409, "the game is not under way, or paused already");
    record.paused_since_ms = now;
  } else {
    if (record.paused_since_ms === 0) return refuse(409, "the game is not paused");
    record.paused_ms += now - record.paused_since_ms;
    record.paused_since_ms = 0;
  }
  return { status: 200, data: stateOf(record, m), keep: record };
}

// Runs a request on a kept game in one transaction: read, model, change,
// and the change stored before the answer is given.
// `work` is given the store and says what the transaction answers, once
// it has completed.
function inTransaction(work) {
  return new Promise((resolve, reject) => {
    const tx = db.transaction("games", "readwrite");
    const result = work(tx.objectStore("games"));
    tx.oncomplete = () => resolve(result.answer);
    tx.onerror = tx.onabort = () => reject(tx.error ?? new Error("the game could not be kept"));
  });
}

function onGame(id, work) {
  return inTransaction((games) => {
    const result = {};
    games.get(id).onsuccess = (event) => {
      const record = event.target.result;
      result.answer = record ? work(record, modelOf(record)) : refuse(404, "no such game");
      if (result.answer.keep) games.put(result.answer.keep);
    };
    return result;
  });
}

function randomWords(count) {
  return [...crypto.getRandomValues(new Uint32Array(count))];
}

function create(body) {
  const players = body?.players ?? [{ name: "" }];
  if (!Array.isArray(players) || players.length < 1 || players.length > 4)
    return Promise.resolve(refuse(400, "players must list one to four players"));
  for (const p of players) {
    if (p?.computer !== undefined && !LEVELS.slice(1).includes(p.computer))
      return Promise.resolve(refuse(400, "computer must be easy, medium or hard"));
    if (typeof (p?.name ?? "") !== "string") return Promise.resolve(refuse(400, "a name must be text"));
  }
  const id = randomWords(4).map((w) => w.toString(16).padStart(8, "0")).join("");
  const now = Date.now();
  const record = {
    id, made_ms: now, seed: randomWords(2), version: 0, moves: [], pending: -1,
    players: players.map((p) => (p.computer ? { computer: p.computer } : { name: String(p.name ?? "").slice(0, MAX_NAME) })),
    started_ms: 0, changed_ms: now, paused_ms: 0, paused_since_ms: 0,
  };
  return inTransaction((games) => {
    games.openCursor().onsuccess = (event) => {
      const cursor = event.target.result;
      if (!cursor) return;
      if (cursor.value.changed_ms < now - KEPT_MS) cursor.delete();
      cursor.continue();
    };
    games.add(record);
    return { answer: { status: 201, data: { ...stateOf(record, modelOf(record)), places: 16 } } };
  });
}

// Answers a request of the page's API as jogar-web would: a status and
// its JSON body.
export function answer(path, body) {
  if (path === "/api/games" && body !== undefined) return create(body);
  const match = /^\/api\/games\/([0-9a-f]{32})(?:\/(flip|computer|pause|resume))?$/.exec(path);
  if (!match) return Promise.resolve(refuse(404, "not found"));
  const [, id, action] = match;
  const work = {
    undefined: (record, m) => ({ status: 200, data: stateOf(record, m) }),
    flip: (record, m) => personsFlip(record, m, body),
    computer: (record, m) => computerStep(record, m, body),
    pause: (record, m) => setPaused(record, m, true),
    resume: (record, m) => setPaused(record, m, false),
  }[action];
  return onGame(id, work);
}
