// Measures the page in headless Chromium: two coins, a two-player game with both paddles moving
// for SECONDS (default 10), then the rally loop's passes per second (as --stats counts them on
// the desktop) and the share of one core that all of Chromium's processes used meanwhile.
//   node web/tests/measure.mjs SITE_DIR [SECONDS]
//
// With --latency, presses the paddles PRESSES times (default 1000) at random moments instead:
// player 1 with A on the keyboard and, every fourth press, with a (fake) pad's stick, player 2
// with Up; each held 20-60 ms. Prints the input latency the page measured: from each event's time
// stamp to the end of the browser's rendering of the first frame the game drew after it took the
// event, when the frame goes to the compositor.
//   node web/tests/measure.mjs SITE_DIR --latency [PRESSES]
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import puppeteer from 'puppeteer-core';

const site = path.resolve(process.argv[2] || 'build-web/site');
const latency = process.argv[3] === '--latency';
const seconds = latency ? 0 : Number(process.argv[3] || 10);
const presses = latency ? Number(process.argv[4] || 1000) : 0;
if (!(seconds >= 0 && presses >= 0)) {
  console.error('measure: SECONDS and PRESSES are whole numbers');
  process.exit(2);
}
const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'rall-measure-'));
const types = { '.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm' };
const server = http.createServer((req, res) => {
  const file = path.join(site, path.normalize(new URL(req.url, 'http://x').pathname.replace(/\/$/, '/index.html')));
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

// CPU seconds of the browser and every process below it.
function cpuSeconds() {
  const tick = 100;  // USER_HZ
  const stats = fs.readdirSync('/proc').filter((d) => /^\d+$/.test(d)).map((pid) => {
    try {
      const s = fs.readFileSync(`/proc/${pid}/stat`, 'utf8');
      const f = s.slice(s.lastIndexOf(')') + 2).split(' ');
      return { pid: Number(pid), ppid: Number(f[1]), cpu: (Number(f[11]) + Number(f[12])) / tick };
    } catch {
      return null;
    }
  }).filter(Boolean);
  const tree = new Set([browser.process().pid]);
  for (let grew = true; grew;) {
    grew = false;
    for (const p of stats) if (!tree.has(p.pid) && tree.has(p.ppid)) { tree.add(p.pid); grew = true; }
  }
  return stats.filter((p) => tree.has(p.pid)).reduce((sum, p) => sum + p.cpu, 0);
}

const page = await browser.newPage();
await page.evaluateOnNewDocument(fs.readFileSync(new URL('fake-pads.js', import.meta.url), 'utf8'));
await page.goto(`http://127.0.0.1:${server.address().port}/`);
await page.waitForFunction('QR.frames > 0');
await page.evaluate('fakePads.plug(0, "pad one")');
for (const key of ['KeyQ', 'KeyQ', 'Digit2']) {
  await page.keyboard.press(key);
  await new Promise((ok) => setTimeout(ok, 400));
}
if (latency) {
  await new Promise((ok) => setTimeout(ok, 2500));
  const wait = (ms) => new Promise((ok) => setTimeout(ok, ms));
  const before = await page.evaluate('QR.latency().count');
  for (let i = 0; i < presses; i++) {
    if (i % 2 === 1) {
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
  await browser.close();
  server.close();
  fs.rmSync(tmp, { recursive: true, force: true });
  process.exit(0);
}
const cpu0 = cpuSeconds(), t0 = Date.now();
for (let i = 0; Date.now() - t0 < seconds * 1000; i++) {
  const [a, b] = i % 2 === 0 ? ['KeyA', 'ArrowDown'] : ['KeyZ', 'ArrowUp'];
  await page.keyboard.down(a);
  await page.keyboard.down(b);
  await new Promise((ok) => setTimeout(ok, 700));
  await page.keyboard.up(a);
  await page.keyboard.up(b);
}
const cpu = cpuSeconds() - cpu0, wall = (Date.now() - t0) / 1000;
await page.evaluate('QR.wantStats = true');
await page.waitForFunction('!QR.wantStats');
console.log((await page.evaluate('QR.stats')).trim());
console.log(`Chromium: ${(100 * cpu / wall).toFixed(1)} % of one core over ${wall.toFixed(1)} s`);
await browser.close();
server.close();
fs.rmSync(tmp, { recursive: true, force: true });
