// Measures the page's input latency from outside the browser: Chromium with a window (kiosk) on
// a private Xvfb, a two-player game, and xtest-latency.py pressing player 1's paddle keys through
// the X server and watching the screen for the paddle to move (PRESSES presses, default 600, each
// held 20-60 ms). Prints the median, 99th percentile and maximum from the press to the moved
// paddle on the screen, and beside it what the page measured itself meanwhile (QR.latency(): each
// key event, pressed or let go, to the hand-over of the frame that answers it).
//   node web/tests/measure-outside.mjs SITE_DIR [PRESSES]
// A fresh game every 100 presses: a game left to itself ends once a player leads by four.
import { execFile, spawn } from 'node:child_process';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const site = path.resolve(process.argv[2] || 'build-web/site');
const presses = Number(process.argv[3] || 600);
if (!(Number.isInteger(presses) && presses > 0)) {
  console.error('measure-outside: PRESSES is a whole number');
  process.exit(2);
}
const LIMIT_S = 600, W = 319, H = 239;
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'rall-outside-'));
const sleep = (ms) => new Promise((ok) => setTimeout(ok, ms));
let xvfb = null, browser = null, server = null, child = null;
process.on('exit', () => {
  try { child?.kill('SIGKILL'); } catch {}
  // Chromium runs in a process group of its own: all of it goes.
  try { process.kill(-browser.process().pid, 'SIGKILL'); } catch {}
  try { xvfb?.kill('SIGTERM'); } catch {}  // (it removes its socket)
  try { fs.rmSync(tmp, { recursive: true, force: true, maxRetries: 10 }); } catch {}
});
for (const signal of ['SIGINT', 'SIGTERM']) process.on(signal, () => process.exit(1));
const fail = (what) => { console.error(`measure-outside: ${what}`); process.exit(1); };
setTimeout(() => fail(`no result within ${LIMIT_S} s`), LIMIT_S * 1000).unref();
const started = Date.now();

// A display of our own: Xvfb picks a free number and writes it to fd 3.
xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1024x768x24', '-nolisten', 'tcp'],
  { stdio: ['ignore', 'ignore', 'pipe', 'pipe'] });
xvfb.on('exit', (code) => { if (!browser) fail(`Xvfb ended (${code})`); });
const display = ':' + await new Promise((ok) => {
  const late = setTimeout(() => fail('Xvfb did not start'), 10000);
  let s = '';
  xvfb.stdio[3].on('data', (d) => { s += d; if (s.includes('\n')) { clearTimeout(late); ok(s.trim()); } });
});

const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };
server = http.createServer((req, res) => {
  const file = path.join(site, path.normalize(new URL(req.url, 'http://x').pathname.replace(/\/$/, '/index.html')));
  fs.readFile(file, (err, data) => {
    res.writeHead(err ? 404 : 200, { 'content-type': types[path.extname(file)] || 'application/octet-stream' });
    res.end(err ? undefined : data);
  });
});
await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
server.unref();
browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium',
  headless: false,
  defaultViewport: null,  // the window's own size: the page lays itself out as a player sees it
  env: { ...process.env, DISPLAY: display },
  ignoreDefaultArgs: ['--enable-automation'],  // no bar above the page
  args: ['--kiosk', '--window-position=0,0', '--window-size=1024,768', '--no-sandbox',
    '--autoplay-policy=no-user-gesture-required', '--disable-gpu', '--disable-background-networking',
    '--disable-component-update', '--disable-sync', '--no-first-run', '--noerrdialogs', '--password-store=basic',
    `--user-data-dir=${path.join(tmp, 'profile')}`],
});
const page = (await browser.pages())[0] || await browser.newPage();
page.on('pageerror', (e) => console.error(`page error: ${e.message}`));
await page.goto(`http://127.0.0.1:${server.address().port}/`);
await page.waitForFunction('QR.frames > 0', { timeout: 20000 });

async function state() {
  await page.evaluate('QR.wantState = true');
  await page.waitForFunction('!QR.wantState', { timeout: 5000 });
  return JSON.parse(await page.evaluate('QR.state'));
}
// Two coins (the coin key is polled every 250 ms) and 2; the serve announcement passes.
async function newGame() {
  for (const key of ['KeyQ', 'KeyQ', 'Digit2']) {
    await page.keyboard.press(key);
    await sleep(400);
  }
  await sleep(2500);
  const s = await state();
  if (s.numPlayers !== 2 || s.endGame) fail('no two-player game started');
  return s;
}

const sampler = (args, seconds) => new Promise((ok) => child = execFile('/usr/bin/python3',
  [new URL('xtest-latency.py', import.meta.url).pathname, display, ...args.map(String)],
  { timeout: Math.ceil((seconds + 10) * 1000) }, (err, stdout, stderr) => {
    child = null;
    if (err) fail(`the sampler failed: ${stderr.trim() || err.message}`);
    ok(stdout);
  }));
// Where the canvas is on the screen: the window's position plus the canvas's place in it (the
// kiosk window has no frame and no bars).
const box = await page.evaluate(() => {
  const r = document.getElementById('canvas').getBoundingClientRect(), dpr = devicePixelRatio;
  return { left: (screenX + r.left) * dpr, top: (screenY + r.top) * dpr, scale: r.width * dpr / 319,
           framed: outerWidth !== innerWidth || outerHeight !== innerHeight };
});
if (!Number.isInteger(box.scale) || box.framed) fail(`unexpected layout ${JSON.stringify(box)}`);
// A click into the canvas's empty lower left corner.
await sampler(['click', Math.round(box.left) + 2 * box.scale, Math.round(box.top) + (H - 3) * box.scale], 0);
await sleep(300);
if (!await page.evaluate('document.hasFocus()')) fail('the window did not take the focus');

let s = await newGame();
// Player 1's paddle, from the picture: the lines are drawn several pixels thick, so take the
// column left of the middle whose lit rows are three runs, the top border, the paddle (over
// p1y0..p1y1) and the bottom border, with the longest middle run; the sampler reads the rows
// between the borders.
const track = await page.evaluate((y0, y1, W, H) => {
  const rgba = document.getElementById('canvas').getContext('2d').getImageData(0, 0, W, H).data;
  const lit = (x, y) => Math.min(...rgba.slice(4 * (y * W + x), 4 * (y * W + x) + 3)) > 128;  // silver, white
  let best = null;
  for (let x = 0; x < W / 2; x++) {
    const runs = [];
    for (let y = 0; y < H; y++) {
      if (!lit(x, y)) continue;
      if (runs.length && runs[runs.length - 1][1] === y - 1) runs[runs.length - 1][1] = y;
      else runs.push([y, y]);
    }
    if (runs.length !== 3 || runs[1][0] > y0 || runs[1][1] < y1) continue;
    const t = { x, first: runs[0][1] + 1, rows: runs[2][0] - runs[0][1] - 1,
                top: runs[1][0] - runs[0][1] - 1, length: runs[1][1] - runs[1][0] + 1 };
    if (!best || t.length > best.length) best = t;
  }
  return best;
}, s.p1y0, s.p1y1, W, H);
if (!track) fail("player 1's paddle is not on the canvas");
track.y0 = s.p1y0;
const x = Math.round(box.left) + track.x * box.scale + Math.floor(box.scale / 2);
const y = Math.round(box.top) + track.first * box.scale;

const before = await page.evaluate('QR.latency().count');
const all = { latencies: [], timeouts: 0, other: 0, unclean: 0, games: 0 };
while (all.latencies.length + all.timeouts + all.other < presses) {
  const left = presses - all.latencies.length - all.timeouts - all.other;
  const seconds = LIMIT_S - 30 - (Date.now() - started) / 1000;
  if (seconds < 5) fail('out of time');
  const out = JSON.parse(await sampler([x, y, box.scale, track.rows, track.length, track.top + s.p1y0 - track.y0,
    Math.min(left, 100), seconds], seconds));
  all.latencies.push(...out.latencies);
  for (const k of ['timeouts', 'other', 'unclean']) all[k] += out[k];
  all.games++;
  const now = await state();
  if (out.stalled || now.numPlayers !== 2 || now.endGame) fail(`the game stopped answering: ${JSON.stringify(now)}`);
  if (all.latencies.length + all.timeouts + all.other < presses) {
    await page.keyboard.press('Escape');  // leaves the game for the attract mode
    await sleep(1000);
    if ((await state()).numPlayers !== 0) fail('Esc did not end the game');
    s = await newGame();
  }
}
const own = await page.evaluate('QR.latency()');

if (all.latencies.length === 0) fail(`no press moved the paddle: ${JSON.stringify(all)}`);
const sorted = all.latencies.slice().sort((a, b) => a - b);
const rank = (p) => sorted[Math.max(Math.ceil(sorted.length * p / 100), 1) - 1];
console.log(`Outside (XTest press to the moved paddle on the screen): ${sorted.length} presses, ` +
  `median ${rank(50).toFixed(1)} ms, 99th percentile ${rank(99).toFixed(1)} ms, maximum ${rank(100).toFixed(1)} ms; ` +
  `discarded ${all.timeouts} without a move in 200 ms, ${all.other} with something else in the column ` +
  `(${all.unclean} moments skipped before pressing; ${all.games} games)`);
console.log(`The page's own: ${own.text} (${own.count - before} during the presses, the game starts included)`);
await browser.close();
browser = null;
process.exit(0);
