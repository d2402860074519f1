// What the page's tests share: the page served from this machine, headless Chromium, the cases
// and their count, the game's state as the page hands it over, and the headless twin of the
// native build with its screenshots.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import zlib from 'node:zlib';
import puppeteer from 'puppeteer-core';

export const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'rall-web-'));
export const W = 319, H = 239;
const fakePads = fs.readFileSync(new URL('fake-pads.js', import.meta.url), 'utf8');

// ---- The page, served from this machine (start), in headless Chromium.
export let site = '', exe = '', origin = '', browser = null, server = null;
const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.png': 'image/png',
  '.webmanifest': 'application/manifest+json' };
// Serves the folder SITE at the origin (or uses the one given, whose server serves it); starts the
// browser. The arguments: SITE_DIR NATIVE_EXE.
export async function start(args = process.argv.slice(2), given = '') {
  [site, exe] = args.slice(0, 2).map((p) => path.resolve(p));
  if (given) origin = given;
  else server = http.createServer((req, res) => {
    const name = new URL(req.url, 'http://x').pathname.replace(/\/$/, '/index.html');
    const file = path.join(site, path.normalize(name));
    fs.readFile(file, (err, data) => {
      res.writeHead(err ? 404 : 200, { 'content-type': types[path.extname(file)] || 'application/octet-stream' });
      res.end(err ? undefined : data);
    });
  });
  if (server) {
    await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
    origin = `http://127.0.0.1:${server.address().port}/`;
  }
  browser = await launch('profile');
}
function launch(profile) {
  return puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required', '--disable-gpu',
      '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run',
      `--user-data-dir=${path.join(tmp, profile)}`],
  });
}
// A browser of its own (another player's machine), whose pages are shown and focused as the
// first browser's; closed by finish.
const others = [];
export async function otherBrowser() {
  others.push(await launch(`profile-${others.length + 2}`));
  return others.at(-1);
}
// Closes the browser and the server, says how the cases went and ends the process.
export async function finish(what) {
  for (const b of [browser, ...others]) await b.close();
  if (server) server.close();
  if (!process.env.QR_KEEP) fs.rmSync(tmp, { recursive: true, force: true });
  console.log(`${what}: ${passed} passed, ${failed} failed`);
  process.exit(failed === 0 ? 0 : 1);
}

// Serves the folder dir at the origin from now on (a copy of the site that a test changes).
export function serveFrom(dir) { site = path.resolve(dir); }
// The host goes down, its open connections closed, as if the network were gone; and up again at
// the same origin.
export async function serverDown() {
  await new Promise((ok) => {
    server.close(ok);
    server.closeAllConnections();
  });
}
export async function serverUp() {
  await new Promise((ok, fail) => {
    server.once('error', fail);
    server.listen(Number(new URL(origin).port), '127.0.0.1', () => { server.off('error', fail); ok(); });
  });
}

let passed = 0, failed = 0;
export async function check(name, fn) {
  if (process.env.QR_WEB_TESTS && !name.includes(process.env.QR_WEB_TESTS)) return;
  try {
    await fn();
    passed++;
    console.log(`ok: ${name}`);
  } catch (e) {
    failed++;
    console.log(`FAILED: ${name}: ${process.env.QR_KEEP ? e.stack : e.message}`);
  }
}
export function expect(ok, what) { if (!ok) throw new Error(what); }
export const sleep = (ms) => new Promise((ok) => setTimeout(ok, ms));

// viewport: a device to emulate (puppeteer's Viewport: width, height, deviceScaleFactor, isMobile,
// hasTouch, isLandscape).
export async function open(query = '', { viewport, on = browser } = {}) {
  const page = await on.newPage();
  if (viewport) await page.setViewport(viewport);
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
export async function state(page) {
  await page.evaluate('QR.wantState = true');
  await page.waitForFunction('!QR.wantState', { timeout: 5000 });
  return JSON.parse(await page.evaluate('QR.state'));
}
// The game state once pred holds for it, asked for again until then; what, if it never does.
export async function stateWhen(page, what, pred, seconds = 5) {
  for (const end = Date.now() + seconds * 1000; Date.now() < end; await sleep(50)) {
    const s = await state(page);
    if (pred(s)) return s;
  }
  throw new Error(what);
}
// The one text file that clicking selector downloads, as bytes.
export async function downloadFrom(page, selector) {
  const downloads = path.join(tmp, 'downloads');
  await (await page.createCDPSession()).send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
  await page.click(selector);
  const done = () => (fs.existsSync(downloads) ? fs.readdirSync(downloads).filter((f) => f.endsWith('.txt')) : []);
  for (let i = 0; i < 50 && done().length === 0; i++) await sleep(100);
  expect(done().length === 1, `${selector} downloaded nothing`);
  const file = path.join(downloads, done()[0]);
  const bytes = fs.readFileSync(file);
  fs.rmSync(file);
  return { name: path.basename(file), bytes };
}
export const shown = (page, selector) => page.$eval(selector, (e) => e.offsetParent !== null);
export async function canvasPixels(page) {
  return Buffer.from(await page.evaluate(() => {
    const data = document.getElementById('canvas').getContext('2d').getImageData(0, 0, 319, 239).data;
    return Array.from(data.filter((_, i) => i % 4 !== 3));
  }));
}

// ---- The headless twin.
export function native(seed, script, runMs, dataDir) {
  const base = path.join(tmp, `native-${seed}-${runMs}`);
  fs.writeFileSync(`${base}.txt`, script);
  const args = ['--headless', '--seed', String(seed), '--script', `${base}.txt`, '--run-ms', String(runMs),
    '--screenshot', `${base}.png`, '--state', `${base}.json`];
  if (dataDir) args.push('--data-dir', dataDir);
  execFileSync(exe, args);
  return { rgb: readPng(`${base}.png`), state: fs.readFileSync(`${base}.json`, 'utf8') };
}
// An 8-bit RGB PNG as W x H x 3 bytes.
export function readPng(file) {
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
export function samePicture(web, twin, what) {
  for (let i = 0; i < web.length; i++) {
    if (web[i] !== twin[i]) {
      const p = Math.floor(i / 3);
      throw new Error(`${what}: the page differs from the headless twin at (${p % W}, ${Math.floor(p / W)})`);
    }
  }
}
