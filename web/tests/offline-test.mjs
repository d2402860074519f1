// The page offline and installed: after a first visit the game starts with the host down; a new
// build is taken up at the next online visit, with the stored tables untouched and the caches of
// older builds gone; the manifest passes Chromium's installability check; without a secure
// context the page plays without a worker; a browser that will not keep the site's storage is
// told, quietly, where the scores are. The site is served from a copy, at the host's top and in a
// folder below it, each with its own worker.
//   node offline-test.mjs SITE_DIR NATIVE_EXE
// QR_WEB_TESTS=WORDS runs only the cases whose names hold WORDS.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {
  browser, check, expect, finish, native, open, origin, serveFrom, serverDown, serverUp, site, sleep, start, state, tmp,
} from './kit.mjs';

await start();
const source = path.resolve(path.dirname(new URL(import.meta.url).pathname), '../..');
const host = path.join(tmp, 'host');
const FOLDER = 'games/rall/';
fs.cpSync(site, host, { recursive: true });
fs.cpSync(site, path.join(host, FOLDER), { recursive: true });
serveFrom(host);

// The build that a copy's worker caches, and how many files.
const workerOf = (dir) => fs.readFileSync(path.join(dir, 'sw.js'), 'utf8');
const buildOf = (dir) => /^const BUILD = '([0-9a-f]{16})';$/m.exec(workerOf(dir))[1];
const filesOf = (dir) => /^const FILES = \[\n([^\]]*)\];$/m.exec(workerOf(dir))[1].trim().split('\n').length;
const cacheOf = (where, dir) => `quillmarsh-rall ${origin}${where} ${buildOf(dir)}`;
const cacheNames = (page) => page.evaluate('caches.keys()');
// The page at origin + where once its own worker (not the one of a folder above) is active and
// controls it, with the errors on the page.
async function controlled(where) {
  const page = await open(where);
  page.errors = [];
  page.on('pageerror', (e) => page.errors.push(e.message));
  await page.waitForFunction(() => {
    const worker = navigator.serviceWorker.controller;
    return worker && worker.state === 'activated' && worker.scriptURL === new URL('sw.js', location.href).href;
  }, { timeout: 10000 });
  return page;
}
// Loads the page again (or at url); the response of the page itself.
async function again(page, url) {
  const response = url ? await page.goto(url) : await page.reload();
  await page.waitForFunction('QR.frames > 0 && QR.soundsReady() === 5', { timeout: 20000 });
  expect(page.errors.length === 0, `errors on the page: ${page.errors.join('; ')}`);
  return response;
}
async function hostDown(fn) {
  await serverDown();
  try { await fn(); } finally { await serverUp(); }
}

await check('after a first visit the game starts with the host down, with a query too, from the cache', async () => {
  const page = await controlled('');
  const names = await cacheNames(page);
  expect(JSON.stringify(names) === JSON.stringify([cacheOf('', host)]), `the caches: ${JSON.stringify(names)}`);
  const kept = await page.evaluate(async (name) => (await (await caches.open(name)).keys()).length, names[0]);
  expect(kept === filesOf(host) && kept >= 9, `the cache holds ${kept} files, not the site's ${filesOf(host)}`);
  await hostDown(async () => {
    expect((await again(page)).fromServiceWorker(), 'the page did not come from the worker');
    expect((await again(page, `${origin}?seed=3&fast=1`)).fromServiceWorker(), 'the page with a query did not');
  });
  await page.close();
});

await check('a new build in a folder is run at the next online visit; the tables stay, old caches go', async () => {
  const dir = path.join(host, FOLDER);
  const twin = path.join(tmp, 'twin-data');  // a table and its kept game, as the game writes them
  fs.mkdirSync(twin);
  const won = '1000 tap Q\n1300 tap Q\n2000 tap 2\n2100 down Up\n41000 tap A\n41100 tap B\n41200 tap C\n' +
    '41300 tap Enter\n';
  native(1, won, 45000, twin);  // seed 1: ABC wins 6-2
  const stored = {
    'quillmarsh-rall/QuillmarshRall.dat': fs.readFileSync(path.join(twin, 'QuillmarshRall.dat'), 'latin1'),
    'quillmarsh-rall/replays/2p-1.txt': fs.readFileSync(path.join(twin, 'replays/2p-1.txt'), 'latin1'),
  };
  await (await controlled('')).close();  // the top's worker, whose cache the folder's update leaves alone
  const page = await controlled(FOLDER);
  await page.evaluate((items) => {
    localStorage.clear();
    for (const [k, v] of Object.entries(items)) localStorage.setItem(k, v);
  }, stored);
  const old = cacheOf(FOLDER, dir);
  expect((await cacheNames(page)).includes(old), 'the folder\'s worker cached nothing');
  // The new build: a changed rall.js, hashed again as the build does.
  fs.appendFileSync(path.join(dir, 'rall.js'), '\nQR.newBuild = true;\n');
  execFileSync('cmake', [`-DQR_SITE=${dir}`, `-DQR_WORKER=${source}/web/sw.js`, '-P', `${source}/cmake/Web.cmake`]);
  const now = cacheOf(FOLDER, dir);
  expect(now !== old, 'the changed site hashes as before');
  await again(page);
  expect(await page.evaluate('QR.newBuild === true'), 'the next online visit ran the old build');
  const caches = () => cacheNames(page).then((names) => names.sort().join('\n'));
  const want = [cacheOf('', host), now].sort().join('\n');
  for (let i = 0; i < 100 && await caches() !== want; i++) await sleep(100);
  expect(await caches() === want, `the caches: ${JSON.stringify(await caches())}, not the top's and the new build's`);
  const items = await page.evaluate(() => Object.fromEntries(Object.keys(localStorage)
    .map((k) => [k, localStorage.getItem(k)])));
  expect(JSON.stringify(items) === JSON.stringify(stored), 'the update changed the stored tables');
  expect((await state(page)).hiScores2P[0].initials === 'ABC', 'the new build does not read the stored table');
  await hostDown(async () => {
    expect((await again(page)).fromServiceWorker(), 'the page did not come from the worker');
    expect(await page.evaluate('QR.newBuild === true'), 'offline, the old build runs');
  });
  await page.evaluate('localStorage.clear()');
  await page.close();
});

await check('the manifest passes Chromium\'s installability check, at the host\'s top and in a folder', async () => {
  for (const where of ['', FOLDER]) {
    const page = await controlled(where);
    const cdp = await page.createCDPSession();
    const { installabilityErrors } = await cdp.send('Page.getInstallabilityErrors');
    expect(installabilityErrors.length === 0, `at /${where}: ${JSON.stringify(installabilityErrors)}`);
    const { url, errors, manifest } = await cdp.send('Page.getAppManifest');
    expect(url === `${origin}${where}manifest.webmanifest` && errors.length === 0,
      `at /${where}: ${url}: ${JSON.stringify(errors)}`);
    const { startUrl, scope, display } = manifest;
    expect(startUrl === origin + where && scope === origin + where && display === 'kFullscreen',
      `at /${where}: the manifest starts at ${startUrl}, scope ${scope}, display ${display}`);
    await page.close();
  }
});

await check('no worker nor note without a secure context; a refused persistence is said quietly', async () => {
  // What the page calls of the worker and the storage, as a browser of the given kind answers.
  async function visit(kind) {
    const page = await browser.newPage();
    await page.evaluateOnNewDocument((k) => {
      window.calls = [];
      const spy = (proto, name, answer) => {
        proto[name] = function () { window.calls.push(name); return Promise.resolve(answer); };
      };
      spy(ServiceWorkerContainer.prototype, 'register', {});
      spy(StorageManager.prototype, 'persisted', k === 'kept');
      spy(StorageManager.prototype, 'persist', k === 'grants');
      if (k === 'insecure') Object.defineProperty(window, 'isSecureContext', { value: false });
      const blocked = () => { throw new DOMException('blocked', 'SecurityError'); };
      if (k === 'no storage') Object.defineProperty(window, 'localStorage', { get: blocked });
    }, kind);
    await page.goto(origin);
    await page.waitForFunction('QR.frames > 0 && document.readyState === "complete"', { timeout: 20000 });
    await sleep(200);
    const seen = await page.evaluate(() => ({
      calls: window.calls.sort().join(),
      line: document.getElementById('message').textContent,
      quiet: [...document.querySelectorAll('#message .note')].map((e) => getComputedStyle(e).color).join(),
    }));
    await page.close();
    return seen;
  }
  const first = await open();
  const note = await first.evaluate('QR.storageNote');
  await first.close();
  const cases = [
    ['insecure', { calls: '', line: '', quiet: '' }],
    ['refuses', { calls: 'persist,persisted,register', line: note, quiet: 'rgb(128, 128, 128)' }],
    ['grants', { calls: 'persist,persisted,register', line: '', quiet: '' }],
    ['kept', { calls: 'persisted,register', line: '', quiet: '' }],
    ['no storage', { calls: 'persist,persisted,register', line: 'This browser blocks storage for this page: the high ' +
      'scores will not be kept.', quiet: '' }],
  ];
  for (const [kind, want] of cases) {
    const seen = await visit(kind);
    expect(JSON.stringify(seen) === JSON.stringify(want), `${kind}: ${JSON.stringify(seen)}`);
  }
});

await finish('offline');
