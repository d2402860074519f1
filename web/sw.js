// The page's service worker: it keeps every file of the site in a cache of its own, so that the
// game starts with no network once the page has been opened.
//
// The build copies this file into the site with BUILD and FILES filled in (cmake/Web.cmake):
// FILES are all the other files of the site, BUILD a hash of their names and bytes. A new build
// is thus a new sw.js, and it is picked up on the next online visit:
// - The page's files come from the network first, revalidated (never a stale copy from the
//   browser's HTTP cache), so an online visit runs the build the host serves now. Only when the
//   network fails, or the host answers with an error, does the worker answer from its cache. It
//   never puts what it fetched there: a cache holds one build, whole, as its worker fetched it.
// - At every visit the browser fetches sw.js again (past its HTTP cache: the page registers it
//   with updateViaCache 'none') and compares the bytes. A new build's worker fetches all the
//   files of its build into a new cache named by its hash; only once all of them came does it
//   take over, at once, and delete the caches of older builds. If the network drops halfway, the
//   worker before it and its cache stay as they were.
// The caches' names hold the scope, so that copies of the game in other folders of the same host
// keep theirs. The scores and the kept games are in local storage, which no worker can reach: an
// update never touches them.
'use strict';

const BUILD = '@QR_BUILD@';
const FILES = [
@QR_FILES@];
const PREFIX = 'quillmarsh-rall ' + self.registration.scope + ' ';
const CACHE = PREFIX + BUILD;
const INDEX = new URL('index.html', self.location).href;
const urls = new Set(FILES.map((name) => new URL(name, self.location).href));

// The cached file that answers a request, if any: the page is opened as its folder or as
// index.html, either with a query (?seed=...); its files are asked for without one.
function keyOf(request) {
  if (request.method !== 'GET') return null;
  const url = new URL(request.url);
  url.search = '';
  url.hash = '';
  if (request.mode === 'navigate' && url.href === self.registration.scope) return INDEX;
  return urls.has(url.href) ? url.href : null;
}

self.addEventListener('install', (event) => {
  event.waitUntil(caches.open(CACHE)
    .then((cache) => cache.addAll([...urls].map((url) => new Request(url, { cache: 'no-cache' }))))
    .then(() => self.skipWaiting()));
});

self.addEventListener('activate', (event) => {
  event.waitUntil(caches.keys()
    .then((names) => Promise.all(names.filter((name) => name.startsWith(PREFIX) && name !== CACHE)
      .map((name) => caches.delete(name))))
    .then(() => self.clients.claim()));
});

async function networkFirst(request, key) {
  let response = null;
  try {
    response = await fetch(request, { cache: 'no-cache' });
    // A redirect of the page (a host that serves index.html as its folder) is the browser's to follow.
    if (response.ok || response.type === 'opaqueredirect') return response;
  } catch (e) {
    // no network, or the host is down: the cache answers
  }
  const kept = await caches.open(CACHE).then((cache) => cache.match(key));
  if (!kept) return response || Response.error();
  // A page must not be answered with a response that went through a redirect: the same, without one.
  if (request.mode === 'navigate' && kept.redirected) {
    return new Response(kept.body, { status: kept.status, statusText: kept.statusText, headers: kept.headers });
  }
  return kept;
}

self.addEventListener('fetch', (event) => {
  const key = keyOf(event.request);
  if (key) event.respondWith(networkFirst(event.request, key));
});
