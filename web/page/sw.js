// The page's service worker: it keeps every file the page needs, so that
// the installed page opens and plays with no network. A file is fetched
// afresh when the network answers in time, so that an update shows at once,
// and is taken from the cache when it does not. The game's requests
// (/api/) and its socket never pass through here.
"use strict";

const CACHE = "memoria";
const FILES = ["./", "style.css", "words.js", "game.js", "judge.mjs", "offline.mjs", "memoria.wasm",
  "game.wasm", "favicon.svg", "icon-192.png", "icon-512.png", "manifest.webmanifest"];
// How long the network has before the kept copy is shown instead.
const NETWORK_WAIT_MS = 3000;

self.addEventListener("install", (event) => {
  event.waitUntil(caches.open(CACHE).then((cache) => cache.addAll(FILES)).then(() => self.skipWaiting()));
});

self.addEventListener("activate", (event) => event.waitUntil(self.clients.claim()));

// The kept copy of a request: the page itself for any address of it.
async function kept(request) {
  const cache = await caches.open(CACHE);
  return (await cache.match(request, { ignoreSearch: true })) ??
    (request.mode === "navigate" ? cache.match("./") : undefined);
}

async function fetched(request) {
  const response = await fetch(request);
  if (response.ok && response.type === "basic") {
    const cache = await caches.open(CACHE);
    await cache.put(request.mode === "navigate" ? "./" : request, response.clone());
  }
  return response;
}

async function answer(request) {
  const network = fetched(request);
  const late = new Promise((resolve) => setTimeout(resolve, NETWORK_WAIT_MS, "late"));
  try {
    const first = await Promise.race([network, late]);
    if (first !== "late") return first;
    return (await kept(request)) ?? (await network);
  } catch (error) {
    const copy = await kept(request);
    if (copy) return copy;
    throw error;
  }
}

self.addEventListener("fetch", (event) => {
  const url = new URL(event.request.url);
  if (event.request.method !== "GET" || url.origin !== self.location.origin) return;
  if (url.pathname.startsWith("/api/")) return;
  event.respondWith(answer(event.request));
});
