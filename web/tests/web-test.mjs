// The web page in a real browser (headless Chromium): its pictures and state equal the headless
// twin's for the same seed and script; keys drive a game with sound; the high scores outlive a
// reload; losing the focus ends the run and a key starts the next; a game played on the page
// replays natively; storage failures are said on the page; two pages share the tables; the kept
// games are listed, play again on the page and download.
//   node web-test.mjs SITE_DIR NATIVE_EXE
// QR_WEB_TESTS=WORDS runs only the cases whose names hold WORDS.
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import {
  browser, canvasPixels, check, downloadFrom, exe, expect, finish, native, open, origin, readPng, samePicture, shown,
  sleep, start, state, stateWhen, tmp,
} from './kit.mjs';

await start();

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

// The cases above run as fast as the page can; here the game waits in real time. With the
// browser's task scheduler every sleep is one task of the page; without it (Safari) a timer and a
// message, with a pad's timer beside them. The game plays the same either way.
await check('the game\'s waits: one task a sleep with the browser\'s task scheduler, timers without; the same game', async () => {
  const script = `${coinsAndTwo}2400 down A\n2900 up A\n`;
  const twin = native(5, script, 3600);
  for (const scheduler of [true, false]) {
    const what = scheduler ? 'with the task scheduler' : 'without it';
    const page = await browser.newPage();
    page.on('pageerror', (e) => console.log(`page error: ${e.message}`));
    await page.evaluateOnNewDocument((keep) => {
      window.tasksPosted = 0;
      if (!keep) {
        Object.defineProperty(window, 'scheduler', { value: undefined });
        return;
      }
      const post = Scheduler.prototype.postTask;
      Scheduler.prototype.postTask = function (...args) {
        window.tasksPosted++;
        return post.apply(this, args);
      };
    }, scheduler);
    await page.evaluateOnNewDocument(fs.readFileSync(new URL('fake-pads.js', import.meta.url), 'utf8'));
    await page.goto(`${origin}?seed=5&stop-ms=3600&script=${encodeURIComponent(script)}`);
    await page.waitForFunction('QR.frames > 0', { timeout: 20000 });
    if (!scheduler) await page.evaluate('fakePads.plug(0, "pad one")');
    await page.evaluate(() => {
      window.sleeps = 0;
      for (const name of ['wait', 'yield']) {
        const sleep = QR[name];
        QR[name] = function (...args) {
          window.sleeps++;
          return sleep.apply(this, args);
        };
      }
    });
    const counts = () => page.evaluate('[window.sleeps, window.tasksPosted]');
    const [sleeps0, tasks0] = await counts();
    await sleep(1000);
    const [sleeps1, tasks1] = await counts();
    const [sleeps, tasks] = [sleeps1 - sleeps0, tasks1 - tasks0];
    expect(sleeps > 50, `${what}: ${sleeps} sleeps in a second`);
    expect(scheduler ? Math.abs(tasks - sleeps) <= 2 : tasks === 0, `${what}: ${tasks} tasks for ${sleeps} sleeps`);
    await page.waitForFunction('QR.stoppedAt', { timeout: 30000 });
    samePicture(await canvasPixels(page), twin.rgb, `the game in real time ${what}`);
    expect(await page.evaluate('QR.state') === twin.state, `${what}: the page's state differs from the twin's`);
    await page.close();
  }
});

await check('keys drive a game: a coin sounds, 2 starts, A moves the paddle, Esc abandons', async () => {
  const page = await open();
  await page.keyboard.press('KeyQ');
  await page.waitForFunction('QR.soundsPlayed.includes("SNDCREDIT")', { timeout: 3000 });
  expect(await page.evaluate('soundStarts.some((s) => Math.abs(s - 0.38) < 0.01)'), 'no coin sound reached WebAudio');
  await page.keyboard.press('KeyQ');
  await stateWhen(page, 'the second coin was not counted', (s) => s.credits === 2);
  await page.keyboard.press('Digit2');
  const before = await stateWhen(page, '2 started no game', (s) => s.numPlayers > 0 || s.credits < 2);
  expect(before.numPlayers === 2 && before.credits === 0, `no two-player game: ${before.numPlayers} players`);
  await page.keyboard.down('KeyA');
  await sleep(300);
  await page.keyboard.up('KeyA');
  const after = await state(page);
  expect(after.p1Center < before.p1Center, `the paddle stayed at ${after.p1Center}`);
  await page.keyboard.press('Escape');
  const left = await stateWhen(page, 'Esc did not end the game', (s) => s.numPlayers === 0 || s.exitRequested);
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
  const until = (what, pred, seconds) => stateWhen(page, what, pred, seconds);
  const [back, start, a, up, down] = [8, 9, 0, 12, 13];
  await pad('plug(0, "pad one")');
  await pad('plug(1, "pad two")');
  // Three coins: one is left when the game ends.
  for (const [i, id] of ['pad one', 'pad two', 'pad one'].entries()) {
    await press(id, back);
    await until(`${id}'s Back did not insert coin ${i + 1}`, (s) => s.credits === i + 1, 3);
  }
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
  const download = async () => (await downloadFrom(page, '#recording')).bytes.toString('latin1');
  await sleep(500);
  expect(!await shown(page, '#recording'), 'the recording link shows before any input');
  for (const [key, ms] of [['KeyQ', 300], ['KeyQ', 300], ['Digit2', 2500], ['ArrowUp', 600], ['KeyZ', 900]]) {
    await page.keyboard.down(key);
    await sleep(ms);
    await page.keyboard.up(key);
  }
  expect(await shown(page, '#recording'), 'no recording link once the game took input');
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
    const said = await page.waitForFunction((text) => document.getElementById('message').textContent.includes(text),
      { timeout: 5000 }, lines[block]).then(() => true, () => false);
    const line = await page.evaluate('document.getElementById("message").textContent');
    expect(said, `no line for ${block}: "${line}"`);
    if (running) await page.waitForFunction('QR.frames > 0', { timeout: 5000 }).catch(() => {});
    else await sleep(1000);  // time enough to start, had it been able to
    expect(await page.evaluate('QR.frames > 0') === running, `the game ${running ? 'did not run' : 'ran'}`);
    await page.close();
  }
});

// ---- Storage, two pages and the kept games. Each case starts and ends with empty storage.
const TABLE = 'quillmarsh-rall/QuillmarshRall.dat';
const won = `${coinsAndTwo}2100 down Up\n41000 tap A\n41100 tap B\n41200 tap C\n41300 tap Enter\n`;  // seed 1: ABC 6-2
const wonAs = (initials) => won.replace(/tap A\n(\d+) tap B\n(\d+) tap C/,
  `tap ${initials[0]}\n$1 tap ${initials[1]}\n$2 tap ${initials[2]}`);
const wonQuery = (script = won) => `?seed=1&fast=1&stop-ms=45000&script=${encodeURIComponent(script)}`;
const items = (page) => page.evaluate(() => Object.fromEntries(Object.keys(localStorage)
  .filter((k) => !k.startsWith('filler/')).map((k) => [k, localStorage.getItem(k)])));
const messageLine = (page) => page.evaluate('document.getElementById("message").textContent');
// Fills the site's storage until not even one more character fits.
async function fillStorage(page) {
  await page.evaluate(() => {
    let n = 0;
    for (let size = 1 << 23; size >= 1; size >>= 1) {
      for (;;) {
        try { localStorage.setItem(`filler/${n}`, 'x'.repeat(size)); n++; } catch (e) { break; }
      }
    }
  });
}
// A page of the site whose storage setup(page) prepares, from empty.
async function withStorage(setup) {
  const page = await open();
  await page.evaluate('localStorage.clear()');
  await setup(page);
  return page;
}
async function playWon(page, script = won) {
  await page.goto(origin + wonQuery(script));
  await page.waitForFunction('QR.stoppedAt', { timeout: 60000 });
}

await check('storage failures are said in one sentence on the message line, and lose nothing', async () => {
  // Full before any table: the won entry cannot be stored.
  let page = await withStorage(fillStorage);
  await playWon(page);
  let line = await messageLine(page);
  expect(line === 'Cannot save the high scores to local storage item quillmarsh-rall/QuillmarshRall.dat: ' +
    'the browser\'s storage for this site is full.', `full storage, no table: "${line}"`);
  expect(Object.keys(await items(page)).length === 0, 'something was stored in a full storage');
  // A table item far too long to be a table: said at once, and never replaced.
  await page.evaluate('localStorage.clear()');
  const huge = '#'.repeat(100000);
  await page.evaluate((t, v) => localStorage.setItem(t, v), TABLE, huge);
  await playWon(page);
  line = await messageLine(page);
  expect(line.startsWith('Cannot read the high scores from local storage item quillmarsh-rall/QuillmarshRall.dat ' +
    '(it holds 100000 characters, more than the 65536 the game reads)') && line.endsWith('.'),
    `huge table item: "${line}"`);
  let after = await items(page);
  expect(after[TABLE] === huge && Object.keys(after).length === 1, 'the huge table item was replaced, or more was stored');
  // A table, then a full storage: the table still takes the entry, the recording does not fit.
  await page.evaluate('localStorage.clear()');
  await playWon(page);
  const table = (await items(page))[TABLE];
  await page.evaluate('localStorage.clear()');
  await page.evaluate((t, v) => localStorage.setItem(t, v), TABLE, table);
  await fillStorage(page);
  await playWon(page, wonAs('XYZ'));
  line = await messageLine(page);
  expect(line === 'Cannot keep the recording of the game in local storage item quillmarsh-rall/replays/2p-2.txt: ' +
    'the browser\'s storage for this site is full.', `full storage after the table: "${line}"`);
  after = await items(page);
  expect(after[TABLE].length === 122 && after[TABLE] !== table && Object.keys(after).length === 1 &&
    JSON.parse(await page.evaluate('QR.state')).hiScores2P[1].initials === 'XYZ',
    'the entry is not in the table, or a recording was kept');
  await page.evaluate('localStorage.clear()');
  await page.close();
});

await check('a table item that holds no table is kept whole as .bad, characters above U+00FF too', async () => {
  const broken = 'Quillmarsh \u0141\u00f3d\u017a \u2603 ' + '\u0100'.repeat(20) + '\r\n';
  const page = await withStorage((p) => p.evaluate((t, v) => localStorage.setItem(t, v), TABLE, broken));
  await playWon(page);
  const after = await items(page);
  expect(after[`${TABLE}.bad`] === broken, `the .bad copy is ${JSON.stringify(after[`${TABLE}.bad`])}`);
  expect(after[TABLE].length === 122 && after['quillmarsh-rall/replays/2p-1.txt'], 'the entry was not saved');
  const line = await messageLine(page);
  expect(line.includes('QuillmarshRall.dat.bad'), `the line does not say where the old item went: "${line}"`);
  await page.evaluate('localStorage.clear()');
  await page.close();
});

await check('two pages: each save goes into the table as it stands, and the other page\'s list follows', async () => {
  const watcher = await withStorage(async () => {});
  expect(!await shown(watcher, '#kept-button'), 'a list of kept games without any');
  // The second game reads the tables as it starts, and halts there while the first plays and
  // saves (it keeps the focus meanwhile, as a page in another window would).
  const second = await browser.newPage();
  await (await second.createCDPSession()).send('Emulation.setFocusEmulationEnabled', { enabled: true });
  await second.goto(origin + wonQuery(wonAs('XYZ')).replace('stop-ms=45000', 'stop-ms=500'));
  await second.waitForFunction('QR.stoppedAt', { timeout: 20000 });
  const first = await browser.newPage();
  await playWon(first);
  await watcher.waitForFunction('!document.getElementById("kept-button").hidden', { timeout: 3000 });
  await second.evaluate('QR.resume()');
  for (const end = Date.now() + 60000; (await state(second)).timeMs < 45000;) {
    expect(Date.now() < end, 'the second game did not get to its end');
  }
  const hi = (await state(second)).hiScores2P;
  expect(hi[0].initials === 'ABC' && hi[1].initials === 'XYZ', `the second game's table: ${JSON.stringify(hi)}`);
  await watcher.bringToFront();
  await watcher.click('#kept-button');
  const rows = await watcher.$$eval('#kept-list tr[data-name]', (trs) => trs.map((tr) => tr.textContent));
  expect(rows.length === 2 && rows[0].startsWith('1.ABC6\u20132') && rows[1].startsWith('2.XYZ6\u20132'),
    `the list: ${JSON.stringify(rows)}`);
  await watcher.evaluate('localStorage.clear()');
  for (const page of [watcher, first, second]) await page.close();
});

await check('a kept game plays on the page as natively, says "Replay", never writes the storage, downloads whole', async () => {
  const page = await withStorage(async () => {});
  await playWon(page);
  const kept = (await items(page))['quillmarsh-rall/replays/2p-1.txt'];
  expect(/^# game \d+$/m.test(kept), 'the kept recording has no "# game" line');
  const keptFile = path.join(tmp, 'kept.txt');
  fs.writeFileSync(keptFile, Buffer.from(kept, 'latin1'));
  // Halted at a game time, the replay shows what the headless twin shows for the recording.
  const twin = (runMs) => {
    const state = path.join(tmp, 'kept.json'), png = path.join(tmp, 'kept.png');
    execFileSync(exe, ['--headless', '--script', keptFile, '--run-ms', String(runMs), '--screenshot', png,
      '--state', state]);
    return { rgb: readPng(png), state: fs.readFileSync(state, 'utf8') };
  };
  await page.goto(`${origin}?watch=replays/2p-1.txt&fast=1&stop-ms=30000`);
  await page.waitForFunction('QR.stoppedAt', { timeout: 30000 });
  const at30 = twin(30000);
  samePicture(await canvasPixels(page), at30.rgb, 'replay at 30 s');
  expect(await page.evaluate('QR.state') === at30.state, 'the replay\'s state differs from the twin\'s');
  const says = await page.evaluate('document.getElementById("replay").textContent');
  expect(says.startsWith('Replay of two-player place 1, ABC 6\u20132'), `the page says "${says}", not "Replay"`);
  // Played to its end: it says so, and the storage is as it was.
  const before = await items(page);
  await page.goto(`${origin}?watch=replays/2p-1.txt&fast=1`);
  await page.waitForFunction('QR.replaysEnded === 1', { timeout: 60000 });
  expect(await messageLine(page) === 'The replay has ended.', `at the end: "${await messageLine(page)}"`);
  expect(JSON.stringify(await items(page)) === JSON.stringify(before), 'the replay wrote the storage');
  expect(!await shown(page, '#replay') && await shown(page, '#keys'), 'the page still says "Replay"');
  // From the list, in real time: what comes before the game runs at full speed up to two seconds
  // before it; Esc leaves.
  const late = kept.replace(/^(\d+) /gm, (_, ms) => `${Number(ms) + 100000} `)
    .replace(/^# game (\d+)$/m, (_, ms) => `# game ${Number(ms) + 100000}`);
  await page.evaluate((v) => localStorage.setItem('quillmarsh-rall/replays/2p-2.txt', v), late);
  await page.goto(origin);
  await page.waitForFunction('QR.frames > 0');
  await page.click('#kept-button');
  const rows = await page.$$eval('#kept-list tr[data-name]', (trs) => trs.map((tr) => tr.dataset.name));
  expect(JSON.stringify(rows) === '["replays/2p-1.txt","replays/2p-2.txt"]', `the list: ${JSON.stringify(rows)}`);
  const gameAt = Number(/^# game (\d+)$/m.exec(late)[1]);
  await page.click('#kept-list tr[data-name="replays/2p-2.txt"] button');
  const start = Date.now();
  let s1 = await state(page);
  while (s1.timeMs < gameAt - 2000 && Date.now() - start < 20000) s1 = await state(page);
  await sleep(1000);
  const s2 = await state(page);
  expect(s1.timeMs >= gameAt - 2000 && s1.timeMs < gameAt + 3000,
    `the replay is at ${s1.timeMs} ms, the game begins at ${gameAt}`);
  expect(s2.timeMs - s1.timeMs > 700 && s2.timeMs - s1.timeMs < 1400, `${s2.timeMs - s1.timeMs} ms of game in a second`);
  await page.keyboard.press('Escape');
  await page.waitForFunction(
    'QR.replaysEnded === 1 && getComputedStyle(document.getElementById("overlay")).display === "flex"', { timeout: 3000 });
  // Each kept game downloads byte for byte.
  await page.click('#kept-button');
  const got = await downloadFrom(page, '#kept-list tr[data-name="replays/2p-1.txt"] td:last-child button');
  expect(got.name === 'quillmarsh-rall-2p-1.txt' && got.bytes.equals(Buffer.from(kept, 'latin1')),
    `the download ${got.name} is not the kept game`);
  expect(JSON.stringify(await items(page)) === JSON.stringify({ ...before, 'quillmarsh-rall/replays/2p-2.txt': late }),
    'watching wrote the storage');
  // A kept game of other rules would play another game: it is refused in one line on the page.
  await page.evaluate((v) => localStorage.setItem('quillmarsh-rall/replays/2p-3.txt', v),
    kept.replace(/^# rules \d+$/m, '# rules 2'));
  await page.goto(`${origin}?watch=replays/2p-3.txt&fast=1`);
  await page.waitForFunction('document.getElementById("message").textContent.includes("rules")', { timeout: 10000 });
  const refused = await messageLine(page);
  expect(/^Cannot play the kept game again: replays\/2p-3\.txt:\d+: recorded under other rules \('2'; this game plays rules 1\), so it would play a different game\.$/.test(refused),
    `the refusal says "${refused}"`);
  await page.evaluate('localStorage.clear()');
  await page.close();
});

await finish('web');
