// Measures the page in headless Chromium: two coins, a two-player game with both paddles moving
// for SECONDS (default 10), then the rally loop's passes per second (as --stats counts them on
// the desktop) and the share of one core that all of Chromium's processes used meanwhile.
//   node web/tests/measure.mjs SITE_DIR [SECONDS] [--profile FILE]
//
// With --profile, also where that time went: each process and thread of Chromium (the page's
// main thread, its compositor, the display compositor of the GPU process, the browser, sound),
// and the functions of the page that took the most of its main thread, from a CPU profile
// written to FILE (Chrome DevTools opens it). The profiler costs time of its own: compare
// figures taken with it only with each other.
//
// With --floor, the same page and keys with no game, three ways: idle; a timer every 10 ms (the
// rally's passes); and that timer with a few rows painted at the next animation frame after every
// second tick (50 pictures a second; a rally paints about 40). What the browser costs whatever
// the game does.
//   node web/tests/measure.mjs SITE_DIR --floor [SECONDS]
//
// With --latency, presses the paddles PRESSES times (default 1000) at random moments instead:
// player 1 with A on the keyboard and, every fourth press, with a (fake) pad's stick, player 2
// with Up; each held 20-60 ms. Prints the input latency the page measured: from each event's time
// stamp to the end of the browser's rendering of the first frame the game drew after it took the
// event, when the frame goes to the compositor.
//   node web/tests/measure.mjs SITE_DIR --latency [PRESSES]
// With --latency --touch, on an emulated tablet, the fingers do it all through the browser's touch
// input: the coins, 2 Players, and the presses on player 1's and player 2's ▲ (the figure is from
// each touch event's time stamp).
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const site = path.resolve(process.argv[2] || 'build-web/site');
const args = process.argv.slice(3);
const option = (name) => {
  const at = args.indexOf(name);
  return at < 0 ? null : args.splice(at, 2)[1] ?? '';
};
const profileFile = option('--profile');
const touch = args.includes('--touch');
if (touch) args.splice(args.indexOf('--touch'), 1);
const latency = args[0] === '--latency';
const floor = args[0] === '--floor';
const counted = latency || floor ? args[1] : args[0];
const seconds = latency ? 0 : Number(counted || 10);
const presses = latency ? Number(counted || 1000) : 0;
if (!(seconds >= 0 && presses >= 0) || profileFile === '' || (profileFile && (latency || floor))) {
  console.error('usage: measure.mjs SITE_DIR [SECONDS] [--profile FILE] | --floor [SECONDS] | --latency [PRESSES] [--touch]');
  process.exit(2);
}
// The floor's page script, in place of the page's rall.js.
const floorScript = (mode) => `'use strict';
var QR = { frames: 0 };
(function () {
  const W = 319, H = 239;
  const canvas = document.getElementById('canvas');
  const ctx = canvas.getContext('2d', { alpha: false });
  canvas.style.width = 2 * W + 'px';
  canvas.style.height = 2 * H + 'px';
  const image = new ImageData(W, H);
  let next = performance.now(), ticks = 0, y = 40, painting = false;
  const paint = function () {
    painting = false;
    ctx.putImageData(image, 0, 0, 0, y, W, 8);
    QR.frames++;
  };
  const tick = function () {
    next += 10;
    if (${mode === 'paint'} && ++ticks % 2 === 0) {
      y = 40 + (ticks * 3) % 150;
      image.data.fill(ticks & 255, y * W * 4, (y + 4) * W * 4);
      if (!painting) { painting = true; requestAnimationFrame(paint); }
    }
    setTimeout(tick, Math.max(0, next - performance.now()));
  };
  if (${mode !== 'idle'}) tick();
  canvas.focus();
})();
`;
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'rall-measure-'));
const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };
let floorMode = '';  // the floor's page that the server hands out in place of rall.js
const server = http.createServer((req, res) => {
  const file = path.join(site, path.normalize(new URL(req.url, 'http://x').pathname.replace(/\/$/, '/index.html')));
  if (floorMode && path.basename(file) === 'rall.js') {
    res.writeHead(200, { 'content-type': 'text/javascript' });
    res.end(floorScript(floorMode));
    return;
  }
  fs.readFile(file, (err, data) => {
    res.writeHead(err ? 404 : 200, { 'content-type': types[path.extname(file)] || 'application/octet-stream' });
    res.end(err ? undefined : data);
  });
});
await new Promise((ok) => server.listen(0, '127.0.0.1', ok));
const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required', '--disable-gpu',
    '--disable-background-networking', '--disable-component-update', '--disable-sync', '--no-first-run',
    `--user-data-dir=${path.join(tmp, 'profile')}`],
});

// The processes of the browser, and every process below it.
function processes() {
  const stats = fs.readdirSync('/proc').filter((d) => /^\d+$/.test(d)).map((pid) => {
    try {
      const s = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      return { pid: Number(pid), ppid: Number(s.slice(s.lastIndexOf(')') + 2).split(' ')[1]) };
    } catch {
      return null;
    }
  }).filter(Boolean);
  const tree = new Set([browser.process().pid]);
  for (let grew = true; grew;) {
    grew = false;
    for (const p of stats) if (!tree.has(p.pid) && tree.has(p.ppid)) { tree.add(p.pid); grew = true; }
  }
  return [...tree];
}
// CPU seconds of a process or a thread (/proc/PID or /proc/PID/task/TID) and its name.
function cpuOf(dir) {
  try {
    const s = fs.readFileSync(`${dir}/stat`, 'utf8');
    const f = s.slice(s.lastIndexOf(')') + 2).split(' ');
    return { name: s.slice(s.indexOf('(') + 1, s.lastIndexOf(')')), cpu: (Number(f[11]) + Number(f[12])) / 100 };
  } catch {
    return null;  // gone meanwhile
  }
}
// CPU seconds of Chromium's processes.
const cpuSeconds = () => processes().reduce((sum, pid) => sum + (cpuOf(`/proc/${pid}`)?.cpu ?? 0), 0);
// CPU seconds of each thread, named by the kind of its process ("renderer", "gpu-process") and
// its own name.
function threadSeconds() {
  const out = new Map();
  for (const pid of processes()) {
    let kind = 'browser';
    try {
      const cmd = fs.readFileSync(`/proc/${pid}/cmdline`, 'utf8');
      kind = (/--type=([\w-]+)/.exec(cmd) || [, 'browser'])[1] + ((/--utility-sub-type=([\w.]+)/.exec(cmd) || [, ''])[1]
        .replace(/^(.+)$/, ' $1'));
    } catch { /* gone */ }
    let tasks = [];
    try { tasks = fs.readdirSync(`/proc/${pid}/task`); } catch { /* gone */ }
    for (const tid of tasks) {
      const t = cpuOf(`/proc/${pid}/task/${tid}`);
      if (t) out.set(`${pid}/${tid}`, { what: `${kind}: ${t.name}`, cpu: t.cpu });
    }
  }
  return out;
}

const page = await browser.newPage();
// A finger on the element for ms milliseconds, through the browser's touch input.
const touchInput = touch ? await page.createCDPSession() : null;
async function fingerOn(selector, ms) {
  const at = await page.$eval(selector, (e) => {
    const r = e.getBoundingClientRect();
    return { x: r.x + r.width / 2, y: r.y + r.height / 2 };
  });
  await touchInput.send('Input.dispatchTouchEvent', { type: 'touchStart', touchPoints: [{ ...at, id: 1 }] });
  await wait(ms);
  await touchInput.send('Input.dispatchTouchEvent', { type: 'touchEnd', touchPoints: [] });
}
const wait = (ms) => new Promise((ok) => setTimeout(ok, ms));
await page.evaluateOnNewDocument(fs.readFileSync(new URL('fake-pads.js', import.meta.url), 'utf8'));
// Both paddles up and down for SECONDS: the CPU share meanwhile, and the time it took.
async function rally() {
  const cpu0 = cpuSeconds(), t0 = Date.now();
  for (let i = 0; Date.now() - t0 < seconds * 1000; i++) {
    const [a, b] = i % 2 === 0 ? ['KeyA', 'ArrowDown'] : ['KeyZ', 'ArrowUp'];
    await page.keyboard.down(a);
    await page.keyboard.down(b);
    await wait(700);
    await page.keyboard.up(a);
    await page.keyboard.up(b);
  }
  const wall = (Date.now() - t0) / 1000;
  return { share: 100 * (cpuSeconds() - cpu0) / wall, wall };
}
function done() {
  browser.close().then(() => {
    server.close();
    fs.rmSync(tmp, { recursive: true, force: true });
    process.exit(0);
  });
}

if (floor) {
  for (const [mode, what] of [['idle', 'idle'], ['timer', 'a timer every 10 ms'],
    ['paint', 'a timer every 10 ms, rows painted 50 times a second']]) {
    floorMode = mode;
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    await wait(1500);
    const { share, wall } = await rally();
    const frames = await page.evaluate('QR.frames');
    console.log(`Floor, ${what}: ${share.toFixed(1)} % of one core over ${wall.toFixed(1)} s` +
                (mode === 'paint' ? ` (${(frames / (wall + 1.5)).toFixed(0)} frames painted a second)` : ''));
  }
  done();
} else if (touch) {
  await page.setViewport({ width: 1024, height: 768, deviceScaleFactor: 2, isMobile: true, hasTouch: true });
  await page.goto(`http://127.0.0.1:${server.address().port}/?touch=1`);
  await page.waitForFunction('QR.frames > 0');
  for (const name of ['Coin', 'Coin', '2 Players']) {
    await fingerOn(`::-p-aria(${name})`, 60);
    await wait(400);
  }
} else {
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  await page.waitForFunction('QR.frames > 0');
  await page.evaluate('fakePads.plug(0, "pad one")');
  for (const key of ['KeyQ', 'KeyQ', 'Digit2']) {
    await page.keyboard.press(key);
    await wait(400);
  }
}

if (latency) {
  await wait(2500);
  const before = await page.evaluate('QR.latency().count');
  for (let i = 0; i < presses; i++) {
    if (touch) {
      await fingerOn(`[aria-label="Player ${1 + i % 2}"] [aria-label="Up"]`, 20 + 40 * Math.random());
    } else if (i % 2 === 1) {
      await page.keyboard.down('ArrowUp');
      await wait(20 + 40 * Math.random());
      await page.keyboard.up('ArrowUp');
    } else if (i % 4 === 2) {
      await page.evaluate('fakePads.stick("pad one", -1)');
      await wait(20 + 40 * Math.random());
      await page.evaluate('fakePads.stick("pad one", 0)');
    } else {
      await page.keyboard.down('KeyA');
      await wait(20 + 40 * Math.random());
      await page.keyboard.up('KeyA');
    }
    await wait(10 + 40 * Math.random());
  }
  await wait(500);
  const result = await page.evaluate('QR.latency()');
  console.log(result.text, `(${result.count - before} during the presses)`);
  done();
} else if (!floor) {
  const cdp = profileFile ? await page.createCDPSession() : null;
  if (cdp) {
    await cdp.send('Profiler.enable');
    await cdp.send('Profiler.setSamplingInterval', { interval: 500 });  // µs
    await cdp.send('Profiler.start');
  }
  const threads0 = profileFile ? threadSeconds() : null;
  const frames0 = await page.evaluate('QR.frames');
  const { share, wall } = await rally();
  const threads1 = profileFile ? threadSeconds() : null;
  const frames = (await page.evaluate('QR.frames')) - frames0;
  await page.evaluate('QR.wantStats = true');
  await page.waitForFunction('!QR.wantStats');
  console.log((await page.evaluate('QR.stats')).trim());
  console.log(`Chromium: ${share.toFixed(1)} % of one core over ${wall.toFixed(1)} s`);
  if (cdp) {
    console.log(`Pictures painted: ${(frames / wall).toFixed(1)} a second`);
    console.log('Threads (share of one core; the profiler\'s own left out):');
    const rows = [];
    for (const [key, t] of threads1) {
      const used = 100 * (t.cpu - (threads0.get(key)?.cpu ?? 0)) / wall;
      if (used >= 0.2 && !/ProfEvntProc|v8:Prof/.test(t.what)) rows.push([used, t.what]);
    }
    for (const [used, what] of rows.sort((a, b) => b[0] - a[0])) console.log(`  ${used.toFixed(1).padStart(5)} %  ${what}`);
    const { profile } = await cdp.send('Profiler.stop');
    fs.writeFileSync(profileFile, JSON.stringify(profile));
    // Self time by function, from the samples and the time before each.
    const nodes = new Map(profile.nodes.map((n) => [n.id, n]));
    const self = new Map();
    let total = 0;
    for (let i = 0; i < profile.samples.length; i++) {
      const dt = profile.timeDeltas[i + 1] ?? 0;
      const { functionName, url, lineNumber } = nodes.get(profile.samples[i]).callFrame;
      const key = `${functionName || '(anonymous)'}${url ? ` ${path.basename(url)}:${lineNumber + 1}` : ''}`;
      self.set(key, (self.get(key) ?? 0) + dt);
      total += dt;
    }
    console.log(`The page's main thread, by function (self time, ms a second; ${profileFile}):`);
    for (const [key, us] of [...self].sort((a, b) => b[1] - a[1]).slice(0, 25)) {
      console.log(`  ${(us / 1000 / (total / 1e6)).toFixed(2).padStart(7)}  ${key}`);
    }
  }
  done();
}
