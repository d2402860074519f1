// The desktop game's window and the page play one game together through a rankings server on
// this machine: the window (on the X display of DISPLAY, a virtual one under xvfb-run) opens the
// room, the page joins it; a coin from each side, the start from the page, player 1's paddle from the window's
// keys (xdotool), player 2's from the page's; then the window is asked to end mid-rally, which
// ends the session at the same pass on both. The window's last picture (--screenshot) and
// the page's canvas must be the same pixels, and the two final states the same game. Both pictures
// are kept in OUT_DIR to be looked at.
//   xvfb-run -a node web/tests/window-and-page.mjs SITE_DIR NATIVE_EXE SERVER_EXE OUT_DIR
import { execFileSync, spawn } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import readline from 'node:readline';
import { start, finish, check, expect, open, sleep, state, stateWhen, canvasPixels, readPng, samePicture, tmp } from './kit.mjs';

const [site, exe, serverExe, outDir] = process.argv.slice(2);
fs.mkdirSync(outDir, { recursive: true });

// Lines of a child's stderr that match re, within seconds.
function lineOf(child, re, seconds, what) {
  return new Promise((ok, fail) => {
    const timer = setTimeout(() => fail(new Error(what)), seconds * 1000);
    readline.createInterface({ input: child.stderr }).on('line', (line) => {
      const m = re.exec(line);
      if (m) { clearTimeout(timer); ok(m); }
    });
  });
}
const xdotool = (...args) => execFileSync('xdotool', args, { encoding: 'utf8', timeout: 10000 }).trim();

const server = spawn(path.resolve(serverExe), ['--listen', '127.0.0.1:0', '--data-dir', path.join(tmp, 'server'),
  '--site', path.resolve(site)], { stdio: ['ignore', 'ignore', 'pipe'] });
const port = Number((await lineOf(server, /listening on 127\.0\.0\.1:(\d+)/, 20, 'the server did not start'))[1]);
const origin = `http://127.0.0.1:${port}/`;
await start([site, exe], origin);

const shot = path.join(outDir, 'window.png');
const windowState = path.join(tmp, 'window.json');
const game = spawn(path.resolve(exe), ['--host-game', origin, '--data-dir', path.join(tmp, 'window'), '--mute',
  '--scale', '2', '--screenshot', shot, '--state', windowState], { stdio: ['ignore', 'ignore', 'pipe'] });
const ended = new Promise((ok) => game.on('exit', (code) => ok(code)));
try {
  await check('the window and the page play one game and end on the same picture', async () => {
    const code = (await lineOf(game, /room ([A-Z2-9]{6})/, 20, 'the window opened no room'))[1];
    const page = await open(`?join=${code}&touch=0`);
    await page.waitForFunction('QR.friendDelay > 0', { timeout: 20000 });
    const win = xdotool('search', '--sync', '--onlyvisible', '--name', '^Quillmarsh Rall$').split('\n').pop();
    xdotool('windowfocus', '--sync', win);
    await page.keyboard.press('q');
    await stateWhen(page, 'no coin', (t) => t.credits === 1, 10);
    xdotool('key', '--window', win, 'q');
    await stateWhen(page, 'no coin from the window', (t) => t.credits === 2, 10);
    await page.keyboard.press('2');
    await stateWhen(page, 'no game', (t) => t.numPlayers === 2, 10);
    // Player 1 from the window, player 2 from the page, each now and then, for a few seconds.
    const p1 = (await state(page)).p1Center, p2 = (await state(page)).p2Center;
    for (let i = 0; i < 6; ++i) {
      xdotool('keydown', '--window', win, i % 2 ? 'z' : 'a');
      await page.keyboard.down(i % 2 ? 'a' : 'z');
      await sleep(400);
      xdotool('keyup', '--window', win, i % 2 ? 'z' : 'a');
      await page.keyboard.up(i % 2 ? 'a' : 'z');
      await sleep(200);
    }
    const playing = await state(page);
    expect(playing.p1Center !== p1, 'the window\'s keys did not move player 1');
    expect(playing.p2Center !== p2, 'the page\'s keys did not move player 2');
    // The window is asked to end (as its close button does) mid-rally: the session ends on both
    // at the same pass, the rally on the screen.
    game.kill('SIGTERM');
    const exit = await Promise.race([ended, sleep(10000).then(() => 'still running')]);
    expect(exit === 0, `the window ended with ${exit}`);
    await page.waitForFunction('QR.friendEnded', { timeout: 10000 });
    const pageState = JSON.parse(await page.evaluate('QR.state'));
    const desktopState = JSON.parse(fs.readFileSync(windowState, 'utf8'));
    const differ = Object.keys({ ...pageState, ...desktopState })
      .filter((k) => JSON.stringify(pageState[k]) !== JSON.stringify(desktopState[k]));
    expect(differ.length === 0, `the final states differ in ${differ.join(', ')}`);
    const pixels = await canvasPixels(page);
    const png = await page.evaluate(() => document.getElementById('canvas').toDataURL('image/png'));
    fs.writeFileSync(path.join(outDir, 'page.png'), Buffer.from(png.split(',')[1], 'base64'));
    samePicture(pixels, readPng(shot), 'the page and the window at their last pass');
    console.log(`both ended alike (${JSON.stringify(desktopState).slice(0, 120)}...); the pictures in ${outDir}`);
  });
} finally {
  game.kill('SIGTERM');
  server.kill('SIGTERM');
}
await finish('window-and-page');
