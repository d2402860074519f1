// The page against a rankings server on this machine: a ranked game from the Online button to the
// initials, sent with the player's consent, listed in the rankings and watched, its picture equal
// to the headless twin's replay of the recording the server kept. The arguments: SITE_DIR
// NATIVE_EXE SERVER_EXE RECORD_GAME (tests/server/RecordGame.cpp).
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import readline from 'node:readline';
import { start, finish, check, expect, open, otherBrowser, stateWhen, canvasPixels, native, readPng, samePicture, tmp,
  browser, origin }
  from './kit.mjs';

const [site, exe, serverExe, recordGame] = process.argv.slice(2);
const server = spawn(path.resolve(serverExe), ['--listen', '127.0.0.1:0', '--data-dir', path.join(tmp, 'server'),
  '--site', path.resolve(site)], { stdio: ['ignore', 'ignore', 'pipe'] });
const port = await new Promise((ok, fail) => {
  const timer = setTimeout(() => fail(new Error('the rankings server did not start')), 20000);
  readline.createInterface({ input: server.stderr }).on('line', (line) => {
    const m = /listening on 127\.0\.0\.1:(\d+)/.exec(line);
    if (m) { clearTimeout(timer); ok(Number(m[1])); }
  });
  server.on('exit', () => fail(new Error('the rankings server ended')));
});
await start([site, exe], `http://127.0.0.1:${port}/`);
const api = async (what) => (await fetch(`${origin}api/${what}`)).json();

await check('a ranked game is sent with consent, listed and watched as the headless twin replays it', async () => {
  // The game is a won two-player game that the twin recorded on a seed the server issued to this
  // test; the page is handed that seed and token as its answer, so that the script fits its game.
  const issued = await (await fetch(`${origin}api/seeds`, { method: 'POST' })).json();
  const made = path.join(tmp, 'won.txt');
  execFileSync(recordGame, [String(issued.seed), made, 'ABC']);
  const events = fs.readFileSync(made, 'utf8').split('\n').filter((l) => /^\d/.test(l)).join('\n');
  const page = await browser.newPage();
  await page.setRequestInterception(true);
  page.on('request', (r) => (r.method() === 'POST' && r.url().endsWith('/api/seeds')
    ? r.respond({ status: 201, contentType: 'application/json', body: JSON.stringify(issued) }) : r.continue()));
  await page.goto(`${origin}?online=1&fast=1&touch=0&script=${encodeURIComponent(events)}`);
  await page.waitForSelector('#offer:not([hidden])', { timeout: 60000 });
  const offer = await page.$eval('#offer-text', (e) => e.textContent);
  expect(/^Send ABC, \d+\u2013\d+, to the online rankings\?$/.test(offer), `the offer says "${offer}"`);
  expect((await api('rankings?mode=2')).runs.length === 0, 'something was sent before the player said so');
  await page.click('#offer-submit');
  await page.waitForFunction('QR.submitted', { timeout: 15000 });
  const run = await page.evaluate('QR.submitted');
  expect(run.mode === 2 && run.initials === 'ABC' && run.place === 1 && run.seed === issued.seed,
    `the server ranked ${JSON.stringify(run)}`);
  await page.click('#rankings-button');
  await page.waitForSelector(`#rankings tr[data-run="${run.id}"] button`, { visible: true, timeout: 5000 });
  await page.close();

  // Watched from a link, halted three seconds into the game, against the twin at the same time.
  const recording = await (await fetch(`${origin}api/runs/${run.id}/recording`)).text();
  const gameMs = Number(/^# game (\d+)$/m.exec(recording)?.[1]);
  expect(gameMs > 0, 'the ranked recording does not say where its game begins');
  const stopMs = gameMs + 3000;
  const watcher = await open(`?watch=ranked/${run.id}&stop-ms=${stopMs}`);
  await watcher.waitForFunction(`QR.replay === 'ranked/${run.id}' && QR.stoppedAt`, { timeout: 20000 });
  const line = await watcher.$eval('#replay', (e) => e.textContent);
  expect(line.includes(`ranked run ${run.id}, ABC`), `the replay line says "${line}"`);
  const s = JSON.parse(await watcher.evaluate('QR.state'));  // as the game halted
  expect(s.numPlayers === 2, `the watched run is not the two-player game: ${JSON.stringify(s).slice(0, 200)}`);
  samePicture(await canvasPixels(watcher), native(run.seed, recording, stopMs).rgb, `ranked run at ${stopMs} ms`);
});

await check('two pages play one game together through the relay, and keep the same recording', async () => {
  const host = await open('?touch=0');
  await host.waitForSelector('#friend:not([hidden])', { timeout: 5000 });
  await host.click('#friend');
  await host.waitForSelector('#friend-line a', { timeout: 5000 });
  const link = await host.$eval('#friend-line a', (a) => a.href);
  expect(/\?join=[A-Z2-9]{6}$/.test(link), `the room's link is ${link}`);
  const guest = await open(link.slice(origin.length), { on: await otherBrowser() });
  for (const page of [host, guest]) await page.waitForFunction('QR.friendDelay > 0', { timeout: 10000 });
  // Coins and the start from either side (one at a time: two presses of a key in one pass are
  // one press); then each moves its own paddle.
  await host.keyboard.press('q');
  await stateWhen(guest, 'the host\'s coin was not counted on the guest', (t) => t.credits === 1, 10);
  await guest.keyboard.press('q');
  await stateWhen(host, 'the guest\'s coin was not counted on the host', (t) => t.credits === 2, 10);
  await guest.keyboard.press('2');
  await stateWhen(guest, 'no two-player game on the guest', (t) => t.numPlayers === 2, 10);
  await host.keyboard.down('a');
  await guest.keyboard.down('a');
  const moved = await stateWhen(host, 'the guest\'s paddle did not move on the host', (t) => t.p2Center < 100, 10);
  expect(moved.p1Center < 100, 'the host\'s paddle did not move');
  // Esc abandons the game, and in the attract mode ends the session on both.
  await guest.keyboard.press('Escape');
  await stateWhen(host, 'Esc did not abandon the game', (t) => t.numPlayers === 0, 10);
  await host.keyboard.press('Escape');
  for (const page of [host, guest]) await page.waitForFunction('QR.friendEnded', { timeout: 10000 });
  const [a, b] = [await host.evaluate('QR.recording'), await guest.evaluate('QR.recording')];
  const body = (r) => r.slice(r.indexOf('# seed '));
  expect(a.includes('down Up') && body(a) === body(b), 'the two pages kept different recordings');
});

await check('the page plays the desktop game (its headless twin) through the relay: the same picture at the same pass', async () => {
  // The desktop game hosts, plays its coins and start and holds player 1's up until 8 s of game time; the
  // page joins and halts at the same game time.
  const stopMs = 8000;
  const script = path.join(tmp, 'desktop-host.txt');
  fs.writeFileSync(script, '1000 tap Q\n1300 tap Q\n2000 tap 2\n2500 down A\n');
  const shot = path.join(tmp, 'desktop-host.png');
  const desktop = spawn(path.resolve(exe), ['--headless', '--host-game', origin, '--script', script, '--run-ms',
    String(stopMs), '--screenshot', shot], { stdio: ['ignore', 'ignore', 'pipe'] });
  const ended = new Promise((ok) => desktop.on('exit', ok));
  const code = await new Promise((ok, fail) => {
    const timer = setTimeout(() => fail(new Error('the desktop game opened no room')), 20000);
    readline.createInterface({ input: desktop.stderr }).on('line', (line) => {
      const m = /room ([A-Z2-9]{6}):/.exec(line);
      if (m) { clearTimeout(timer); ok(m[1]); }
    });
  });
  const page = await open(`?join=${code}&stop-ms=${stopMs}&touch=0`);
  await page.waitForFunction('QR.friendDelay > 0 && QR.stoppedAt', { timeout: 30000 });
  expect(await ended === 0, 'the desktop game failed');
  const s = JSON.parse(await page.evaluate('QR.state'));
  expect(s.numPlayers === 2 && s.timeMs >= stopMs, `the page is not in the game at ${stopMs} ms: ${s.timeMs}`);
  samePicture(await canvasPixels(page), readPng(shot), `the page and the desktop game at ${stopMs} ms`);
});

await check('a page watches a game with a friend from its link, catching up, and ends as a headless spectator does', async () => {
  // The desktop game hosts for 12 s of game time and a page joins; a second page comes to watch once
  // the game goes (so that it catches up on what it missed), as does the headless twin. Both
  // spectators play the game out to the players' last pass.
  const script = path.join(tmp, 'watched-host.txt');
  fs.writeFileSync(script, '1000 tap Q\n1300 tap Q\n2000 tap 2\n2500 down A\n');
  const desktop = spawn(path.resolve(exe), ['--headless', '--host-game', origin, '--script', script, '--run-ms', '12000'],
    { stdio: ['ignore', 'ignore', 'pipe'] });
  const code = await new Promise((ok, fail) => {
    const timer = setTimeout(() => fail(new Error('the desktop game opened no room')), 20000);
    readline.createInterface({ input: desktop.stderr }).on('line', (line) => {
      const m = /room ([A-Z2-9]{6}):/.exec(line);
      if (m) { clearTimeout(timer); ok(m[1]); }
    });
  });
  const guest = await open(`?join=${code}&touch=0`, { on: await otherBrowser() });
  await guest.waitForFunction('QR.friendDelay > 0', { timeout: 20000 });
  await stateWhen(guest, 'the game did not start', (t) => t.timeMs > 2500, 10);
  const watched = path.join(tmp, 'watched.json');
  const twin = spawn(path.resolve(exe), ['--headless', '--spectate', code, '--server', origin, '--state', watched],
    { stdio: 'ignore' });
  const twinEnded = new Promise((ok) => twin.on('exit', ok));
  const watcher = await open(`?spectate=${code}&touch=0`);
  await watcher.waitForFunction('QR.friendEnded', { timeout: 30000 });
  const line = await watcher.$eval('#friend-line', (e) => e.textContent);
  expect(line.startsWith('The watching ended: the host'), `the watcher's line says "${line}"`);
  expect(await twinEnded === 0, 'the headless spectator failed');
  const [page, headless] = [JSON.parse(await watcher.evaluate('QR.state')), JSON.parse(fs.readFileSync(watched, 'utf8'))];
  expect(page.numPlayers === 2 && JSON.stringify(page) === JSON.stringify(headless),
    `the page and the headless spectator end apart: ${JSON.stringify(page).slice(0, 300)}`);
});

server.kill('SIGTERM');
await finish('ranked');
