// The page on touch screens, in headless Chromium with emulated phones and tablets: a game played
// with touches only, two fingers at once, the layout at phone and tablet sizes, and the pause that
// takes the place of the end of the run when the page loses the focus.
//   node touch-test.mjs SITE_DIR NATIVE_EXE
// QR_WEB_TESTS=WORDS runs only the cases whose names hold WORDS; QR_UPDATE_LAYOUT=1 writes the
// layout reference (touch-layout.json) and the screenshots in docs/page anew.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {
  canvasPixels, check, exe, expect, finish, native, open, samePicture, sleep, start, state, stateWhen, tmp,
} from './kit.mjs';

await start();

const phone = { width: 390, height: 844, deviceScaleFactor: 3, isMobile: true, hasTouch: true };
const phoneLandscape = { ...phone, width: 844, height: 390, isLandscape: true };
const tablet = { width: 1024, height: 768, deviceScaleFactor: 2, isMobile: true, hasTouch: true, isLandscape: true };
const tabletPortrait = { ...tablet, width: 768, height: 1024, isLandscape: false };

const P1_UP = '[aria-label="Player 1"] [aria-label="Up"]', P1_DOWN = '[aria-label="Player 1"] [aria-label="Down"]';
const P2_UP = '[aria-label="Player 2"] [aria-label="Up"]', P2_DOWN = '[aria-label="Player 2"] [aria-label="Down"]';
const named = (name) => `::-p-aria(${name})`;

// Fingers on the page's touch screen, through the browser's own touch input.
async function fingers(page) {
  const cdp = await page.createCDPSession();
  const at = (selector) => page.$eval(selector, (e) => {
    const r = e.getBoundingClientRect();
    return { x: r.x + r.width / 2, y: r.y + r.height / 2 };
  });
  const touch = (type, points) => cdp.send('Input.dispatchTouchEvent', { type, touchPoints: points });
  return {
    at,
    touch,
    // Touches each control once, one after the other.
    async tap(...selectors) {
      for (const selector of selectors) {
        await touch('touchStart', [{ ...await at(selector), id: 1 }]);
        await sleep(60);
        await touch('touchEnd', []);
        await sleep(90);
      }
    },
  };
}
// The recording of the run so far, as the page's link would download it.
async function recordingSoFar(page) {
  await page.evaluate('QR.recording = ""; QR.wantRecording = true');
  await page.waitForFunction('!QR.wantRecording && QR.recording !== ""', { timeout: 5000 });
  return page.evaluate('QR.recording');
}
const visible = (page, selector) => page.$eval(selector, (e) => e.offsetParent !== null);

await check('a phone plays a one-player game from the coin to the initials with touches only; the entry outlives a reload', async () => {
  const page = await open('', { viewport: phone });
  const f = await fingers(page);
  expect(await visible(page, named('Coin')) && !await visible(page, '#keys'), 'no touch controls in place of the keys');
  // One finger keeps player 1's paddle on the ball, sliding between Up, the gap between the two
  // and Down without lifting; the phone turns to landscape during the first game. A game that
  // ends below the table's last score is followed by another, three at most.
  let finger = null, turned = false, s = null, spots = null, best = 0;
  const place = async () => {
    const [up, down] = [await f.at(P1_UP), await f.at(P1_DOWN)];
    spots = { up, down, stay: { x: up.x, y: (up.y + down.y) / 2 } };
  };
  for (let game = 1; game <= 3 && !(s && s.creditLock); game++) {
    await f.tap(named('Coin'));
    await stateWhen(page, 'the coin was not counted', (t) => t.credits === 1);
    await f.tap(named('1 Player'));
    s = await stateWhen(page, '1 Player started no game', (t) => t.numPlayers === 1);
    await place();
    for (const end = Date.now() + 150000; Date.now() < end && s.numPlayers === 1 && !s.creditLock;) {
      if (!turned && s.p1Score >= 2) {
        turned = true;
        if (finger) await f.touch('touchEnd', []);
        finger = null;
        await page.setViewport(phoneLandscape);
        await place();
      }
      const gap = s.ballY - s.p1Center;
      const where = gap > 3 ? 'down' : gap < -3 ? 'up' : 'stay';
      if (where !== finger) await f.touch(finger ? 'touchMove' : 'touchStart', [{ ...spots[where], id: 1 }]);
      finger = where;
      best = Math.max(best, s.p1Score);
      s = await state(page);
    }
    await f.touch('touchEnd', []);
    finger = null;
  }
  expect(s.creditLock, `no initials entry in three games: ${best} points at best`);
  expect(turned, 'the phone never turned');
  // "BAB": Down to B, Type; Up to A, Type; Down twice to C, Type, Delete; Up to B, Type; OK.
  expect(await visible(page, named('Type')) && !await visible(page, '[data-control="coin"]'), 'no Type in place of Coin');
  await f.tap(P1_DOWN, named('Type'), P2_UP, named('Type'), P1_DOWN, P2_DOWN, named('Type'), named('Delete'), P1_UP,
    named('Type'), named('OK'));
  const stored = await stateWhen(page, 'the entry did not end', (t) => !t.creditLock, 5);
  const entry = (t) => t.hiScores.find((e) => e.initials === 'BAB' && e.score === s.p1Score);
  expect(entry(stored), `no BAB with ${s.p1Score} in the table: ${JSON.stringify(stored.hiScores)}`);
  await page.reload();
  await page.waitForFunction('QR.frames > 0', { timeout: 20000 });
  expect(entry(await state(page)), 'the entry is gone after a reload');
  console.log(`  one player with touches: ${s.p1Score} points`);
  await page.evaluate('localStorage.clear()');
  await page.close();
});

await check('a tablet plays a two-player rally with two fingers: both paddles move in the same pass', async () => {
  const page = await open('', { viewport: tablet });
  const f = await fingers(page);
  await f.tap(named('Coin'), named('Coin'));
  await stateWhen(page, 'two coins were not counted', (s) => s.credits === 2);
  await f.tap(named('2 Players'));
  const before = await stateWhen(page, '2 Players started no game', (s) => s.numPlayers === 2);
  await sleep(2000);  // "Get Ready"
  // Player 1 up and player 2 down at once; then player 1's finger slides to Down.
  await f.touch('touchStart', [{ ...await f.at(P1_UP), id: 1 }, { ...await f.at(P2_DOWN), id: 2 }]);
  await sleep(400);
  const mid = await state(page);
  await f.touch('touchMove', [{ ...await f.at(P1_DOWN), id: 1 }, { ...await f.at(P2_DOWN), id: 2 }]);
  await sleep(300);
  await f.touch('touchEnd', []);
  await sleep(100);
  const after = await state(page);
  expect(mid.p1Center < before.p1Center && mid.p2Center > before.p2Center,
    `the paddles did not both move: ${before.p1Center}/${before.p2Center} to ${mid.p1Center}/${mid.p2Center}`);
  expect(after.p1Center > mid.p1Center, 'the slide to Down did not move player 1 down');
  const lines = (await recordingSoFar(page)).split('\n');
  const when = (line) => { const l = lines.find((x) => x.endsWith(line)); return l ? Number(l.split(' ')[0]) : NaN; };
  expect(when(' down A') === when(' down Down'), `A and Down went down at ${when(' down A')} and ${when(' down Down')} ms`);
  expect(when(' up A') === when(' down Z'), `the slide let A go at ${when(' up A')} and held Z at ${when(' down Z')} ms`);
  expect(when(' up Z') === when(' up Down'), 'the fingers lifted together, the keys did not');
  await page.close();
});

// The layout: every control at least 44 x 44, none over the playfield or beyond the screen, no
// scrolling; the playfield's pixels are the game's. The boxes are compared with touch-layout.json.
await check('the layout at phone and tablet sizes, portrait and landscape, keeps the playfield clear', async () => {
  const referenceFile = new URL('touch-layout.json', import.meta.url);
  const update = process.env.QR_UPDATE_LAYOUT === '1';
  const reference = update ? {} : JSON.parse(fs.readFileSync(referenceFile, 'utf8'));
  const twin = native(3, '', 13000);
  const sizes = { 'phone-portrait': phone, 'phone-landscape': phoneLandscape, 'tablet-landscape': tablet,
    'tablet-portrait': tabletPortrait, 'narrow-keys': { width: 375, height: 667 } };
  for (const [name, viewport] of Object.entries(sizes)) {
    const page = await open('?seed=3&fast=1&stop-ms=13000' + (viewport.hasTouch ? '' : '&touch=0'), { viewport });
    await page.waitForFunction('QR.stoppedAt', { timeout: 30000 });
    samePicture(await canvasPixels(page), twin.rgb, name);
    const boxes = await page.evaluate(() => {
      const box = (e) => { const r = e.getBoundingClientRect(); return [r.left, r.top, r.width, r.height].map(Math.round); };
      const out = { canvas: box(document.getElementById('canvas')) };
      for (const e of document.querySelectorAll('button[data-control], #keys, #touch-help')) {
        if (e.offsetParent !== null) out[e.dataset.control || e.id] = box(e);
      }
      out.scroll = [document.scrollingElement.scrollWidth, document.scrollingElement.scrollHeight];
      return out;
    });
    const [cx, cy, cw, ch] = boxes.canvas;
    for (const [what, [x, y, w, h]] of Object.entries(boxes)) {
      if (what === 'canvas' || what === 'scroll') continue;
      expect(x >= 0 && y >= 0 && x + w <= viewport.width && y + h <= viewport.height, `${name}: ${what} is off the screen`);
      expect(x >= cx + cw || x + w <= cx || y >= cy + ch || y + h <= cy, `${name}: ${what} covers the playfield`);
      if (what !== 'keys' && what !== 'touch-help') expect(w >= 44 && h >= 44, `${name}: ${what} is ${w} x ${h}`);
    }
    expect(boxes.scroll[0] <= viewport.width && boxes.scroll[1] <= viewport.height, `${name}: the page scrolls`);
    if (update) {
      reference[name] = boxes;
      await page.screenshot({ path: path.join(path.dirname(referenceFile.pathname), '../../docs/page', `${name}.png`) });
    } else {
      for (const [what, want] of Object.entries(reference[name] || {})) {
        const got = boxes[what];
        expect(got && got.every((v, i) => Math.abs(v - want[i]) <= 1),
          `${name}: ${what} is at ${JSON.stringify(got)}, not ${JSON.stringify(want)} (QR_UPDATE_LAYOUT=1 writes it anew)`);
      }
    }
    await page.close();
  }
  if (update) {
    const lines = Object.entries(reference).map(([name, boxes]) => `  "${name}": {\n` + Object.entries(boxes)
      .map(([what, box]) => `    "${what}": ${JSON.stringify(box)}`).join(',\n') + '\n  }');
    fs.writeFileSync(referenceFile, '{\n' + lines.join(',\n') + '\n}\n');
  }
});

await check('losing the focus on a touch screen (or with ?pause=1) pauses the game; a touch (a key) goes on; the recording replays natively', async () => {
  const page = await open('', { viewport: phone });
  const f = await fingers(page);
  await f.tap(named('Coin'), named('1 Player'));
  await stateWhen(page, '1 Player started no game', (s) => s.numPlayers === 1);
  await f.touch('touchStart', [{ ...await f.at(P1_UP), id: 1 }]);
  await sleep(200);
  await page.evaluate('window.dispatchEvent(new Event("blur"))');
  await page.waitForFunction('QR.pauses === 1', { timeout: 3000 });
  const overlay = await page.$eval('#overlay', (e) => [getComputedStyle(e).display, e.textContent]);
  expect(overlay[0] === 'flex' && overlay[1] === 'Paused \u2014 touch to go on', `the overlay says ${JSON.stringify(overlay)}`);
  const paused = await state(page);
  await sleep(1000);
  const still = await state(page);
  expect(still.timeMs === paused.timeMs && still.p1Center === paused.p1Center && still.ballX === paused.ballX,
    `the game went on while paused: ${paused.timeMs} to ${still.timeMs} ms`);
  expect(!still.exitRequested && still.numPlayers === 1, 'the pause ended the game');
  await f.touch('touchEnd', []);
  await f.tap('#canvas');  // goes on, and touches nothing of the game
  const going = await stateWhen(page, 'the touch did not go on', (s) => s.timeMs > still.timeMs + 300);
  expect(going.p1Center === still.p1Center || going.numPlayers !== 1, 'Up stayed held through the pause');
  // Esc twice abandons the game, twice more ends the run; its recording replays natively.
  await f.tap(named('Esc'), named('Esc'));
  await stateWhen(page, 'Esc did not abandon the game', (s) => s.numPlayers === 0);
  await f.tap(named('Esc'));
  await sleep(300);
  expect(await page.evaluate('QR.runsEnded') === 0, 'one touch of Esc ended the run');
  await f.tap(named('Esc'));
  await page.waitForFunction('QR.runsEnded === 1', { timeout: 3000 });
  expect(await page.$eval('#overlay', (e) => e.textContent) === 'Touch to play again', 'no "Touch to play again"');
  fs.writeFileSync(path.join(tmp, 'paused.txt'), await page.evaluate('QR.recording'));
  const replayed = path.join(tmp, 'paused.json');
  execFileSync(exe, ['--headless', '--script', path.join(tmp, 'paused.txt'), '--state', replayed, '--data-dir',
    fs.mkdtempSync(path.join(tmp, 'paused-'))]);
  expect(fs.readFileSync(replayed, 'utf8') === await page.evaluate('QR.state'), 'the replay ends in another state');
  await page.evaluate('localStorage.clear()');
  await page.close();

  // With keys and ?pause=1: a key goes on, and the game never sees it.
  const keys = await open('?pause=1');
  await keys.evaluate('window.dispatchEvent(new Event("blur"))');
  await keys.waitForFunction('QR.pauses === 1', { timeout: 3000 });
  expect(await keys.$eval('#overlay', (e) => e.textContent) === 'Paused \u2014 press a key or click to go on',
    'no "press a key or click" on the keyboard\'s pause');
  const before = await state(keys);
  await keys.keyboard.press('KeyQ');
  const after = await stateWhen(keys, 'Q did not go on', (t) => t.timeMs > before.timeMs + 300);
  expect(after.credits === before.credits, 'the Q that went on inserted a coin');
  expect(await keys.evaluate('QR.runsEnded') === 0, 'the pause ended the run');
  await keys.close();
});

await finish('touch');
