// A game with a friend between two pages in two browsers, through a rankings server on this
// machine whose relay delays every message (a slow network): a two-player rally with both players
// moving their paddles at random for SECONDS, then the input delay, the stalls a minute and the
// share of the time stalled on each side; and the key-to-screen latency on the other side (from a
// key's time stamp on one page to the first frame of the other page that shows its paddle move).
//   node web/tests/measure-netplay.mjs SITE_DIR NATIVE_EXE SERVER_EXE [DELAY_MS[:JITTER_MS]] [SECONDS]
import { spawn } from 'node:child_process';
import path from 'node:path';
import readline from 'node:readline';
import { start, finish, open, otherBrowser, sleep, state, stateWhen, tmp } from './kit.mjs';

const [site, exe, serverExe, delay = '25', secondsText = '60'] = process.argv.slice(2);
const seconds = Number(secondsText);
// Watching the other page at every frame loads this machine: QR_LATENCY=0 measures the stalls alone.
const watchLatency = process.env.QR_LATENCY !== '0';
const server = spawn(path.resolve(serverExe), ['--listen', '127.0.0.1:0', '--data-dir', path.join(tmp, 'server'),
  '--site', path.resolve(site), '--relay-delay', delay], { stdio: ['ignore', 'ignore', 'pipe'] });
const port = await new Promise((ok, fail) => {
  const timer = setTimeout(() => fail(new Error('the rankings server did not start')), 20000);
  readline.createInterface({ input: server.stderr }).on('line', (line) => {
    const m = /listening on 127\.0\.0\.1:(\d+)/.exec(line);
    if (m) { clearTimeout(timer); ok(Number(m[1])); }
  });
});
await start([site, exe], `http://127.0.0.1:${port}/`);

const host = await open('?touch=0');
await host.waitForSelector('#friend:not([hidden])', { timeout: 5000 });
await host.click('#friend');
await host.waitForSelector('#friend-line a', { timeout: 5000 });
const link = await host.$eval('#friend-line a', (a) => a.href);
const guest = await open(new URL(link).search, { on: await otherBrowser() });
for (const page of [host, guest]) await page.waitForFunction('QR.friendDelay > 0', { timeout: 20000 });
await host.keyboard.press('q');
await stateWhen(guest, 'no coin', (t) => t.credits === 1, 10);
await guest.keyboard.press('q');
await stateWhen(host, 'no second coin', (t) => t.credits === 2, 10);
await host.keyboard.press('2');
await stateWhen(guest, 'no game', (t) => t.numPlayers === 2, 10);

// Each presses a paddle key now and then. The other side's page paints the paddle's move: its
// latency is taken from the press's stamp to the first frame there whose paddle moved.
const latencies = [];
for (const end = Date.now() + seconds * 1000; Date.now() < end;) {
  const [presser, watcher, field] = Math.random() < 0.5 ? [host, guest, 'p1Center'] : [guest, host, 'p2Center'];
  const before = (await state(watcher))[field];
  const key = before > 120 ? 'a' : 'z';  // up from the lower half, down from the upper: it moves
  const stamp = await presser.evaluate(() => performance.timeOrigin + performance.now());
  await presser.keyboard.down(key);
  const seen = !watchLatency ? null : await watcher.waitForFunction(
    (f, b) => { QR.wantState = true; const s = QR.state && JSON.parse(QR.state); return s && s[f] !== b ? performance.timeOrigin + performance.now() : false; },
    { polling: 'raf', timeout: 5000 }, field, before).then((h) => h.jsonValue(), () => null);
  if (seen) latencies.push(seen - stamp);
  await sleep(100 + Math.random() * 200);
  await presser.keyboard.up(key);
  await sleep(100 + Math.random() * 200);
}
// Esc from the guest until the session has ended on both sides: the game abandoned, then the attract mode
// left (an entry of initials, when the game ended meanwhile, running out first).
const ended = async () => (await host.evaluate('!!QR.friendStats')) && (await guest.evaluate('!!QR.friendStats'));
for (const end = Date.now() + 60000; !(await ended()) && Date.now() < end; await sleep(500)) {
  await guest.keyboard.press('Escape');
}
if (!(await ended())) throw new Error('Esc did not end the session');
const sorted = latencies.sort((a, b) => a - b);
const pct = (p) => sorted[Math.max(Math.ceil(sorted.length * p / 100), 1) - 1];
console.log(`relay delay ${delay} ms each way, ${seconds} s of rally`);
for (const [name, page] of [['host', host], ['guest', guest]]) {
  const s = await page.evaluate('QR.friendStats');
  const minutes = s.wallMs / 60000;
  console.log(`${name}: input delay ${await page.evaluate('QR.friendDelay')} passes; ${s.passes} passes in ` +
    `${(s.wallMs / 1000).toFixed(1)} s; ${(s.stalls / minutes).toFixed(1)} stalls a minute; ` +
    `${(100 * s.stalledMs / s.wallMs).toFixed(2)} % of the time stalled`);
}
if (sorted.length) console.log(`key to the other side's screen: ${sorted.length} presses, median ${pct(50).toFixed(1)} ms, ` +
  `90th ${pct(90).toFixed(1)} ms, max ${sorted.at(-1).toFixed(1)} ms (state polled at each frame)`);
server.kill('SIGTERM');
await finish('measure-netplay');
