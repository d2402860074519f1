// The web page in a real browser (headless Chromium): its pictures and state equal the headless
// twin's for the same seed and script; keys drive a game with sound; the high scores outlive a
// reload; losing the focus ends the run and a key starts the next; a game played on the page
// replays natively.
//   node web-test.mjs SITE_DIR NATIVE_EXE
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import puppeteer from 'puppeteer-core';

const [site, exe] = process.argv.slice(2).map((p) => path.resolve(p));
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'rall-web-'));
const W = 319, H = 239;
const fakePads = fs.readFileSync(new URL('fake-pads.js', import.meta.url), 'utf8');

// ---- The page, served from this machine.
const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };
const server = http.createServer((req, res) => {
  const name = new URL(req.url, 'http://x').pathname.replace(/\/$/, '/index.html');
  const file = path.join(site, path.normalize(name));
  fs.readFile(file, (err, data) => {
    res.writeHead(err ? 404 : 200, { 'content-type': types[path.extname(file)] || 'application/octet-stream' });
    res.end(err ? undefined : data);
  });
});
await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
const origin = `http://127.0.0.1:${server.address().port}/`;

const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required', '--disable-gpu',
    '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run',
    `--user-data-dir=${path.join(tmp, 'profile')}`],
});

let passed = 0, failed = 0;
async function check(name, fn) {
  try {
    await fn();
    passed++;
    console.log(`ok: ${name}`);
  } catch (e) {
    failed++;
    console.log(`FAILED: ${name}: ${e.message}`);
  }
}
function expect(ok, what) { if (!ok) throw new Error(what); }
const sleep = (ms) => new Promise((ok) => setTimeout(ok, ms));

async function open(query = '') {
  const page = await browser.newPage();
  page.on('pageerror', (e) => console.log(`page error: ${e.message}`));
  // Every sound the page starts, by its length in seconds.
  await page.evaluateOnNewDocument(() => {
    window.soundStarts = [];
    const start = AudioBufferSourceNode.prototype.start;
    AudioBufferSourceNode.prototype.start = function (...args) {
      window.soundStarts.push(this.buffer.duration);
      return start.apply(this, args);
    };
  });
  await page.evaluateOnNewDocument(fakePads);
  await page.goto(origin + query);
  await page.waitForFunction('QR.frames > 0 && QR.soundsReady() === 5', { timeout: 20000 });
  return page;
}
// The game state, handed over by the game at its next sleep.
async function state(page) {
  await page.evaluate('QR.wantState = true');
  await page.waitForFunction('!QR.wantState', { timeout: 5000 });
  return JSON.parse(await page.evaluate('QR.state'));
}
async function canvasPixels(page) {
  return Buffer.from(await page.evaluate(() => {
    const data = document.getElementById('canvas').getContext('2d').getImageData(0, 0, 319, 239).data;
    return Array.from(data.filter((_, i) => i % 4 !== 3));
  }));
}

// ---- The headless twin.
function native(seed, script, runMs, dataDir) {
  const base = path.join(tmp, `native-${seed}-${runMs}`);
  fs.writeFileSync(`${base}.txt`, script);
  const args = ['--headless', '--seed', String(seed), '--script', `${base}.txt`, '--run-ms', String(runMs),
    '--screenshot', `${base}.png`, '--state', `${base}.json`];
  if (dataDir) args.push('--data-dir', dataDir);
  execFileSync(exe, args);
  return { rgb: readPng(`${base}.png`), state: fs.readFileSync(`${base}.json`, 'utf8') };
}
// An 8-bit RGB PNG as W x H x 3 bytes.
function readPng(file) {
  const png = fs.readFileSync(file);
  const idat = [];
  let width = 0, height = 0;
  for (let at = 8; at < png.length;) {
    const size = png.readUInt32BE(at), type = png.toString('latin1', at + 4, at + 8);
    if (type === 'IHDR') {
      [width, height] = [png.readUInt32BE(at + 8), png.readUInt32BE(at + 12)];
      expect(png[at + 16] === 8 && png[at + 17] === 2 && png[at + 20] === 0, 'the screenshot is not 8-bit RGB');
    }
    if (type === 'IDAT') idat.push(png.subarray(at + 8, at + 8 + size));
    at += size + 12;
  }
  const raw = zlib.inflateSync(Buffer.concat(idat));
  const stride = width * 3, out = Buffer.alloc(stride * height);
  for (let y = 0; y < height; y++) {
    const filter = raw[y * (stride + 1)];
    for (let x = 0; x < stride; x++) {
      const v = raw[y * (stride + 1) + 1 + x];
      const a = x >= 3 ? out[y * stride + x - 3] : 0;
      const b = y > 0 ? out[(y - 1) * stride + x] : 0;
      const c = x >= 3 && y > 0 ? out[(y - 1) * stride + x - 3] : 0;
      const p = a + b - c, pa = Math.abs(p - a), pb = Math.abs(p - b), pc = Math.abs(p - c);
      const pred = [0, a, b, (a + b) >> 1, pa <= pb && pa <= pc ? a : pb <= pc ? b : c][filter];
      out[y * stride + x] = (v + pred) & 0xff;
    }
  }
  expect(width === W && height === H, `the screenshot is ${width} x ${height}`);
  return out;
}
function samePicture(web, twin, what) {
  for (let i = 0; i < web.length; i++) {
    if (web[i] !== twin[i]) {
      const p = Math.floor(i / 3);
      throw new Error(`${what}: the page differs from the headless twin at (${p % W}, ${Math.floor(p / W)})`);
    }
  }
}
// The page halted at a game time, with a seed and a script, against the headless twin.
async function compare(what, seed, script, runMs, twin) {
  const page = await open(`?seed=${seed}&fast=1&stop-ms=${runMs}&script=${encodeURIComponent(script)}`);
  await page.waitForFunction('QR.stoppedAt', { timeout: 30000 });
  samePicture(await canvasPixels(page), twin.rgb, what);
  expect(await page.evaluate('QR.state') === twin.state, `${what}: the page's state differs from the twin's`);
  await page.close();
}

const coinsAndTwo = '1000 tap Q\n1300 tap Q\n2000 tap 2\n';

await check('pictures and state equal the headless twin: start prompt, high scores, a rally', async () => {
  await compare('start prompt', 3, '1000 tap Q\n1300 tap Q\n', 1800, native(3, '1000 tap Q\n1300 tap Q\n', 1800));
  await compare('high scores', 3, '', 13000, native(3, '', 13000));
  const rally = `${coinsAndTwo}4200 down A\n5000 up A\n5200 down Down\n9000 up Down\n`;
  await compare('rally', 5, rally, 11500, native(5, rally, 11500));  // the ball in flight after a serve
});

await check('keys drive a game: a coin sounds, 2 starts, A moves the paddle, Esc abandons', async () => {
  const page = await open();
  await page.keyboard.press('KeyQ');
  await page.waitForFunction('QR.soundsPlayed.includes("SNDCREDIT")', { timeout: 3000 });
  expect(await page.evaluate('soundStarts.some((s) => Math.abs(s - 0.38) < 0.01)'), 'no coin sound reached WebAudio');
  await page.keyboard.press('KeyQ');
  await sleep(400);
  await page.keyboard.press('Digit2');
  await sleep(300);
  const before = await state(page);
  expect(before.numPlayers === 2 && before.credits === 0, `no two-player game: ${before.numPlayers} players`);
  await page.keyboard.down('KeyA');
  await sleep(300);
  await page.keyboard.up('KeyA');
  const after = await state(page);
  expect(after.p1Center < before.p1Center, `the paddle stayed at ${after.p1Center}`);
  await page.keyboard.press('Escape');
  await sleep(500);
  const left = await state(page);
  expect(left.numPlayers === 0 && !left.exitRequested, 'Esc did not abandon the game');
  await page.close();
});

await check('two pads play a two-player game from the coins to the initials, and keep their sides', async () => {
  const page = await open();
  const pad = (call) => page.evaluate(`fakePads.${call}`);
  const press = async (id, button) => {
    await pad(`button("${id}", ${button}, true)`);
    await sleep(60);
    await pad(`button("${id}", ${button}, false)`);
    await sleep(90);
  };
  const until = async (what, pred, seconds) => {
    for (const end = Date.now() + seconds * 1000; Date.now() < end; await sleep(200)) {
      const s = await state(page);
      if (pred(s)) return s;
    }
    throw new Error(what);
  };
  const [back, start, a, up, down] = [8, 9, 0, 12, 13];
  await pad('plug(0, "pad one")');
  await pad('plug(1, "pad two")');
  // Three coins: one is left when the game ends.
  for (const id of ['pad one', 'pad two', 'pad one']) {
    await press(id, back);
    await sleep(300);  // the coin key is looked at every 250 ms
  }
  await until('Back did not insert three coins', (s) => s.credits === 3, 3);
  await sleep(500);
  await press('pad two', start);
  await until('player 2\'s Start did not start a two-player game', (s) => s.numPlayers === 2 && s.credits === 1, 3);
  // Player 1's stick follows the ball while player 2 holds the D-pad up; both pads leave and come
  // back, player 2's first, at each other's places.
  await pad(`button("pad two", ${up}, true)`);
  await pad('follow("pad one")');
  await sleep(4000);
  await pad('unplug(0)');
  await pad('unplug(1)');
  await sleep(200);
  await pad('plug(0, "pad two")');
  await pad(`button("pad two", ${up}, true)`);
  await sleep(100);
  await pad('plug(1, "pad one")');
  const over = await until('no initials entry within 150 s', (s) => s.creditLock, 150);
  await pad('stop()');
  await pad(`button("pad two", ${up}, false)`);
  expect(over.p1Score > over.p2Score, `player 2 won ${over.p2Score}-${over.p1Score}: the pads changed sides`);
  // "PAD": down to P, A types it; up to A, A; down to D, A; Start confirms.
  for (let i = 0; i < 15; i++) await press('pad one', down);
  const grey = await page.evaluate(() => {
    const d = document.getElementById('canvas').getContext('2d').getImageData(130, 130, 60, 25).data;
    let n = 0;
    for (let i = 0; i < d.length; i += 4) if (d[i] === 0x60 && d[i + 1] === 0x60 && d[i + 2] === 0x60) n++;
    return n;
  });
  expect(grey > 10, 'no preview of the chosen character over the entry');
  await press('pad one', a);
  for (let i = 0; i < 15; i++) await press('pad one', up);
  await press('pad one', a);
  for (let i = 0; i < 3; i++) await press('pad one', down);
  await press('pad one', a);
  // Start, still held as the entry ends and through the 4 s of the high scores, must not start a
  // game at the start prompt with the coin that is left.
  await pad(`button("pad one", ${start}, true)`);
  const stored = await until('the entry did not end', (s) => !s.creditLock, 5);
  await sleep(5500);
  await pad(`button("pad one", ${start}, false)`);
  await sleep(500);
  expect((await state(page)).credits === 1, 'the Start that confirmed the initials started a game');
  expect(stored.hiScores2P.some((e) => e.initials === 'PAD' && e.score === over.p1Score),
    `no PAD in the table: ${JSON.stringify(stored.hiScores2P)}`);
  const latency = await page.evaluate('QR.latency()');
  expect(latency.count > 40 && latency.median > 0, `no input latency measured: ${latency.text}`);
  console.log(`  player 1 won ${over.p1Score}-${over.p2Score} with the pads; ${latency.text}`);
  await page.evaluate('localStorage.clear()');
  await page.close();
});

await check('a won game\'s initials are stored as the desktop stores them and outlive a reload', async () => {
  const won = `${coinsAndTwo}2100 down Up\n41000 tap A\n41100 tap B\n41200 tap C\n41300 tap Enter\n`;
  const dataDir = path.join(tmp, 'data');
  native(1, won, 45000, dataDir);
  const page = await open(`?seed=1&fast=1&stop-ms=45000&script=${encodeURIComponent(won)}`);
  await page.waitForFunction('QR.stoppedAt', { timeout: 30000 });
  const stored = await page.evaluate('localStorage.getItem("quillmarsh-rall/QuillmarshRall.dat")');
  expect(stored !== null && Buffer.from(stored, 'latin1').equals(fs.readFileSync(path.join(dataDir, 'QuillmarshRall.dat'))),
    'the stored record differs from the desktop\'s file');
  await page.goto(`${origin}?seed=1&fast=1&stop-ms=13000`);
  await page.waitForFunction('QR.stoppedAt', { timeout: 30000 });
  const twin = native(1, '', 13000, dataDir);
  samePicture(await canvasPixels(page), twin.rgb, 'high scores after the reload');
  expect(JSON.parse(await page.evaluate('QR.state')).hiScores2P[0].initials === 'ABC', 'the entry is gone');
  await page.close();
});

await check('losing the focus ends the run; a key starts the next, with the tables kept', async () => {
  const page = await open();
  await page.evaluate('window.dispatchEvent(new Event("blur"))');
  await page.waitForFunction('QR.runsEnded === 1', { timeout: 3000 });
  expect(await page.evaluate('getComputedStyle(document.getElementById("overlay")).display') === 'flex',
    'no "Press any key" over the picture');
  expect(JSON.parse(await page.evaluate('QR.state')).exited, 'the ended run was not one that exited');
  await page.keyboard.press('Space');
  await page.waitForFunction('getComputedStyle(document.getElementById("overlay")).display === "none"', { timeout: 3000 });
  const next = await state(page);
  expect(!next.exitRequested && next.hiScores2P[0].initials === 'ABC', 'the next run did not start with the tables');
  await page.close();
});

await check('a game played on the page, downloaded as a recording, replays natively to the same state', async () => {
  const page = await open();
  const downloads = path.join(tmp, 'downloads');
  await (await page.createCDPSession()).send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  const download = async () => {  // the one text file the link downloads
    await page.click('#recording');
    const done = () => (fs.existsSync(downloads) ? fs.readdirSync(downloads).filter((f) => f.endsWith('.txt')) : []);
    for (let i = 0; i < 50 && done().length === 0; i++) await sleep(100);
    expect(done().length === 1, 'the link downloaded nothing');
    const file = path.join(downloads, done()[0]);
    const text = fs.readFileSync(file, 'utf8');
    fs.rmSync(file);
    return text;
  };
  for (const [key, ms] of [['KeyQ', 300], ['KeyQ', 300], ['Digit2', 2500], ['ArrowUp', 600], ['KeyZ', 900]]) {
    await page.keyboard.down(key);
    await sleep(ms);
    await page.keyboard.up(key);
  }
  const sofar = await download();
  await page.keyboard.press('KeyA');
  await page.evaluate('window.dispatchEvent(new Event("blur"))');
  await page.waitForFunction('QR.runsEnded === 1', { timeout: 3000 });
  const recording = await download();
  expect(recording.startsWith(sofar) && recording.length > sofar.length, 'the recordings of one run disagree');
  fs.writeFileSync(path.join(tmp, 'played.txt'), recording);
  const replayed = path.join(tmp, 'replayed.json');
  // The twin reads the recorded table only where it keeps files at all.
  const replayDir = fs.mkdtempSync(path.join(tmp, 'replay-'));
  execFileSync(exe, ['--headless', '--script', path.join(tmp, 'played.txt'), '--state', replayed, '--data-dir', replayDir]);
  expect(fs.readFileSync(replayed, 'utf8') === await page.evaluate('QR.state'), 'the replay ends in another state');
  await page.close();
});

await check('without storage or game pads the game plays and says so; without WebAssembly the page says so', async () => {
  const lines = { localStorage: 'storage', getGamepads: 'game pads', WebAssembly: 'WebAssembly' };
  for (const [block, running] of [['localStorage', true], ['getGamepads', true], ['WebAssembly', false]]) {
    const page = await browser.newPage();
    await page.evaluateOnNewDocument((name) => {  // blocked storage and pads throw; a browser without WebAssembly lacks it
      const blocked = () => { throw new DOMException('blocked', 'SecurityError'); };
      if (name === 'WebAssembly') delete window.WebAssembly;
      else if (name === 'getGamepads') Object.defineProperty(Navigator.prototype, name, { value: blocked });
      else Object.defineProperty(window, name, { get: blocked });
    }, block);
    await page.goto(origin);
    await sleep(1500);
    const line = await page.evaluate('document.getElementById("message").textContent');
    expect(line.includes(lines[block]), `no line for ${block}: "${line}"`);
    expect(await page.evaluate('QR.frames > 0') === running, `the game ${running ? 'did not run' : 'ran'}`);
    await page.close();
  }
});

await browser.close();
server.close();
if (!process.env.QR_KEEP) fs.rmSync(tmp, { recursive: true, force: true });
console.log(`web: ${passed} passed, ${failed} failed`);
process.exit(failed === 0 ? 0 : 1);
