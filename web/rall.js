// The page's side of the game's web host (src/hosts/web/): the canvas, the scale, fullscreen,
// sound, storage, downloads and the messages. The game calls the functions of QR.
'use strict';

var QR = (function () {
  const W = 319, H = 239;
  const canvas = document.getElementById('canvas');
  const ctx2d = canvas.getContext('2d', { alpha: false });  // the picture is opaque
  const overlay = document.getElementById('overlay');
  const message = document.getElementById('message');
  const recordingLink = document.getElementById('recording');
  const keys = document.getElementById('keys');
  const replayLine = document.getElementById('replay');
  const keptButton = document.getElementById('kept-button');
  const keptPanel = document.getElementById('kept');
  const rankingsPanel = document.getElementById('rankings');
  const fetchedRuns = {};  // ranked runs fetched to watch: "ranked/ID" → its recording, "ranked/ID said" → its words
  const stage = document.getElementById('stage');
  const params = new URLSearchParams(location.search);
  // What tests read: the state handed over, the frames painted, the sounds played.
  const qr = { state: '', recording: '', stoppedAt: false, runsEnded: 0, frames: 0, soundsPlayed: [], replay: '',
               replaysEnded: 0 };
  // The numbers passed to and from the game (src/hosts/web/WebHost.cpp names them the same).
  const WANT_RECORDING = 1, WANT_STATE = 2, WANT_STATS = 4, WANT_REPLAY = 8;  // QR.wants(), bits
  const LOAD_MISSING = -1, LOAD_UNREADABLE = -2;  // QR.loadSize(), besides an item's length
  const SAVE_OK = 0, SAVE_FULL = 1, SAVE_REFUSED = 2, SAVE_NO_STORAGE = 3;  // QR.save()

  // ---- The game's waits. Every task the page runs costs far more of the processor (and of a
  // phone's battery) than the game's pass, so a wait is one task where the browser can: its task
  // scheduler (scheduler.postTask) runs a task after a delay, never stretched, and the game goes
  // on from that task. Elsewhere a timer waits, and a browser stretches a timer set from another
  // timer's task to 4 ms once they nest five deep: there the game goes on from a task of its own
  // (a message) after the timer, so every timer it sets is a first one.
  const scheduler = typeof window.scheduler === 'object' && window.scheduler !== null &&
                    typeof window.scheduler.postTask === 'function' ? window.scheduler : null;
  const tasks = new MessageChannel();
  const taskQueue = [];
  tasks.port1.onmessage = function () {
    handedOver();
    taskQueue.shift()();
  };
  function soon(fn) {
    taskQueue.push(fn);
    tasks.port2.postMessage(0);
  }
  let inTimer = false;
  function timeout(fn, ms) {
    return setTimeout(function () {
      handedOver();
      inTimer = true;
      try { fn(); } finally { inTimer = false; }
    }, ms);
  }
  // fn(true) from a task of its own once ms have passed; drop() stops it (with the scheduler the
  // task still comes, and does nothing).
  function later(fn, ms) {
    const task = { timer: 0, dropped: false };
    if (!scheduler) {
      task.timer = timeout(function () { fn(true); }, ms);
      return task;
    }
    scheduler.postTask(function () {
      handedOver();
      if (!task.dropped) fn(true);
    }, { delay: ms });
    return task;
  }
  function drop(task) {
    if (!task) return;
    task.dropped = true;
    clearTimeout(task.timer);
  }
  // The game's sleep: it goes on when the clock reads `until` (never before), from a task of its
  // own; `until` null only lets the page have its turn. Input (QR.wake) moves `until` to
  // `earliest` (the game then takes it at the same game time, only sooner) and, once that is
  // past, makes the game go on at once, even when its task is queued already: after input a
  // browser may hold messages and timers back until its next frame.
  let wakeGame = null;
  function sleep(until, earliest) {
    return new Promise(function (done) {
      let task = null, gone = false;
      const goOn = function () {
        if (gone) return;
        gone = true;
        drop(task);
        if (wakeGame === wake) wakeGame = null;
        done();
      };
      const check = function (ownTask) {
        drop(task);
        const left = until === null ? 0 : until - performance.now();
        if (left > 0) {
          task = later(check, Math.ceil(left));
        } else if (!scheduler) {
          soon(goOn);
        } else if (ownTask) {
          goOn();
        } else {
          task = later(goOn, 0);
        }
      };
      const wake = function () {
        if (until !== null && earliest < until) until = earliest;
        if (!inTimer && (until === null || performance.now() >= until)) {
          goOn();
        } else {
          check(false);  // (the pads' timer: from a task of its own)
        }
      };
      wakeGame = wake;
      check(false);
    });
  }
  // Until the clock reads due, or earliest once input comes (or waits already).
  qr.wait = function (due, earliest, inputWaiting) { return sleep(inputWaiting ? earliest : due, earliest); };
  // Lets the page have its turn.
  qr.yield = function () { return sleep(null, null); };
  qr.wake = function () { if (wakeGame) wakeGame(); };
  // A timer for the game pads: fn every ms milliseconds; none when fn is null.
  let padLoop = 0, padLoops = 0;  // the number of the loop that runs (0: none), and of the last
  qr.padTimer = function (fn, ms) {
    const loop = fn ? ++padLoops : 0;
    padLoop = loop;
    if (!fn) return;
    const tick = function () {
      if (padLoop !== loop) return;
      fn();
      if (scheduler) {
        if (padLoop === loop) later(tick, ms);
      } else {
        soon(function () { if (padLoop === loop) timeout(tick, ms); });
      }
    };
    later(tick, ms);
  };

  // ---- The picture: painted at the next animation frame after the game showed a new one.
  let frame = null;
  let image = null;  // the canvas's view of the picture in the game's memory, made once
  let painting = false;
  let replayMessage = false;  // the message line holds what a replay said
  let answering = [];  // when the input happened that the frame waiting to be painted answers
  const latencies = [];  // ms from a key's or a pad's event to the painting of its answer
  function answered(stamps) {
    const now = performance.now();
    for (const t of stamps) latencies.push(now - t);
    if (latencies.length > 200000) latencies.splice(0, 100000);
  }
  // A browser renders a frame in one task: the animation frame callbacks, then style, layout,
  // paint and the hand-over to the compositor. The first task after it marks when the frame was
  // handed over: the message queued from the callback, or whatever comes sooner (after a key a
  // browser may hold messages and timers back until its next frame, keys never).
  let rendered = null;  // the stamps that the frame last rendered answers, until then
  function handedOver() {
    if (!rendered) return;
    const stamps = rendered;
    rendered = null;
    answered(stamps);
  }
  ['keydown', 'keyup', 'mousedown', 'pointerdown', 'touchstart', 'touchend'].forEach(function (type) {
    addEventListener(type, handedOver, true);
  });
  function paint() {
    handedOver();
    painting = false;
    if (frame && changedBottom > changedTop) {
      if (!image || image.data.buffer !== frame.buffer || image.data.byteOffset !== frame.byteOffset) {
        image = new ImageData(new Uint8ClampedArray(frame.buffer, frame.byteOffset, frame.length), W, H);
      }
      ctx2d.putImageData(image, 0, 0, 0, changedTop, W, changedBottom - changedTop);
      changedTop = H;
      changedBottom = 0;
      qr.frames++;
    }
    if (answering.length > 0) {
      rendered = answering;
      soon(handedOver);
    }
    answering = [];
  }
  // The game took input and drew its next frame: a frame waiting to be painted answers it, and
  // if none waits the picture on the page already does.
  qr.answers = function (stamps) {
    handedOver();
    if (painting) {
      for (const t of stamps) answering.push(t);
    } else {
      answered(stamps);
    }
  };
  // The input latency so far (test hook): nearest-rank percentiles, as the desktop's --stats.
  qr.latency = function () {
    const sorted = latencies.slice().sort(function (a, b) { return a - b; });
    const rank = function (p) { return sorted[Math.max(Math.ceil(sorted.length * p / 100), 1) - 1]; };
    const out = { count: sorted.length, median: rank(50), p99: rank(99), max: sorted[sorted.length - 1] };
    out.text = sorted.length === 0 ? 'Input latency: no events' :
      'Input latency: ' + out.count + ' events, median ' + out.median.toFixed(1) + ' ms, 99th percentile ' +
      out.p99.toFixed(1) + ' ms, maximum ' + out.max.toFixed(1) + ' ms';
    return out;
  };
  // The game's picture, as RGBA in its memory; the rows from top to bottom changed.
  let changedTop = H, changedBottom = 0;
  qr.frame = function (view, top, bottom) {
    frame = view;
    changedTop = Math.min(changedTop, top);
    changedBottom = Math.max(changedBottom, bottom);
    if (!painting) {
      painting = true;
      requestAnimationFrame(paint);
    }
  };
  qr.show = function () {
    overlay.style.display = 'none';
    if (replayMessage && !qr.replay) qr.fail('');  // what a replay said ends with it
    replayMessage = false;
  };
  qr.caption = function (text) { document.title = text; };

  // The playfield at the largest scale that fits the window with the lines below it and, on a
  // touch screen, the controls beside it (landscape) or below it (portrait): a whole number of
  // device pixels per unit where that is near the largest (crisp), otherwise the largest
  // (pixelated). With keys and mouse always a whole number, as on the desktop.
  let touchMode = false;  // the touch controls show (see Touch)
  let pausedNow = false;  // the page lost the focus and the game waits (see the pause)
  const GAP = 8, SIDE_MIN = 112, SIDE_MAX = 180, MENU_ROW = 52, PADS_MIN = 176;
  function fit() {
    const dpr = window.devicePixelRatio || 1;
    const info = document.getElementById('info').offsetHeight + 4;
    let width = innerWidth, height = innerHeight - info;
    if (touchMode && innerWidth > innerHeight) {
      width -= 2 * (Math.max(SIDE_MIN, Math.min(SIDE_MAX, innerWidth * 0.15)) + GAP) + 2 * GAP;
      height -= 3 * GAP;
    } else if (touchMode) {
      width -= 2 * GAP;
      height -= MENU_ROW + PADS_MIN + 5 * GAP;
    }
    const largest = Math.max(Math.min(width / W, height / H), 1 / dpr);
    const whole = Math.max(1, Math.floor(largest * dpr)) / dpr;
    const scale = !touchMode || whole >= largest * 0.9 ? whole : largest;
    canvas.style.width = (W * scale) + 'px';
    canvas.style.height = (H * scale) + 'px';
  }
  addEventListener('resize', fit);
  document.addEventListener('fullscreenchange', fit);
  fit();

  qr.toggleFullscreen = function () {
    if (document.fullscreenElement) {
      document.exitFullscreen().catch(function () {});
    } else if (stage.requestFullscreen) {
      stage.requestFullscreen().catch(function () {});
    }
  };
  const fullscreenButton = document.getElementById('fullscreen');
  fullscreenButton.addEventListener('mousedown', function (e) { e.preventDefault(); });  // keeps the focus
  fullscreenButton.addEventListener('click', function () { qr.toggleFullscreen(); canvas.focus(); });

  // ---- Touch: the controls around the playfield, shown once the page is touched (or on a coarse
  // pointer; ?touch=1 and ?touch=0 decide). Each holds one of the game's keys while a finger is on
  // it (TouchControls in src/hosts/shared): a finger that slides onto another control lets the
  // first go and holds the other, and every finger counts on its own. Esc asks to be touched once
  // more within 3 s, since it abandons the game.
  const CONTROLS = { coin: 0, one: 1, two: 2, esc: 3, up1: 4, down1: 5, up2: 6, down2: 7, type: 8, delete: 9,
                     ok: 10 };  // the numbers of TouchControls::Control
  const TOUCH_SCREEN = -1;  // the playfield touched: a key, when the page waits for one
  const ESC_CONFIRM_MS = 3000, AWAKE_MS = 120000;
  const screenBox = document.getElementById('screen');
  const infoBox = document.getElementById('info');
  const escButton = document.getElementById('esc');
  qr.touches = 0;  // (tests) the touches that reached the game
  function useTouch() {
    if (touchMode || params.get('touch') === '0') return;
    touchMode = true;
    document.body.classList.add('touch');
    if (overlay.style.display === 'flex' && !pausedNow) overlay.textContent = 'Touch to play again';
    fit();
  }
  if (params.get('touch') === '1' || matchMedia('(pointer: coarse)').matches) useTouch();
  // Fingers that touch two controls at once come as one touch event per control, and the game
  // could take its input between the two: what the touch events of one task did reaches the game
  // together, from a task of its own right after them.
  const touchTask = new MessageChannel();
  let touchChanges = [];
  touchTask.port1.onmessage = function () {
    const changes = touchChanges;
    touchChanges = [];
    if (typeof Module === 'undefined' || typeof Module._qr_touch !== 'function') return;
    for (const [control, down, stamp] of changes) {
      qr.touches++;
      Module._qr_touch(control, down ? 1 : 0, stamp);
    }
  };
  function send(control, down, stamp) {
    if (touchChanges.length === 0) touchTask.port2.postMessage(0);
    touchChanges.push([control, down, stamp]);
  }
  const fingers = new Map();  // a finger (its identifier) → the control under it, or null
  const held = new Map();  // a control → how many fingers are on it, and whether the game got it
  function controlAt(x, y) {
    const under = document.elementFromPoint(x, y);
    const control = under && under.closest('button[data-control]');
    return control && control.offsetParent !== null ? control : null;
  }
  let escArmedUntil = 0;
  function disarmEsc() {
    escArmedUntil = 0;
    escButton.classList.remove('armed');
    escButton.textContent = 'Esc';
  }
  function press(control, stamp) {
    const h = held.get(control) || { fingers: 0, sent: false };
    held.set(control, h);
    if (h.fingers++ > 0) return;
    control.classList.add('held');
    if (control === escButton && performance.now() >= escArmedUntil) {
      escArmedUntil = performance.now() + ESC_CONFIRM_MS;
      escButton.classList.add('armed');
      escButton.textContent = 'Esc again';
      setTimeout(function () { if (performance.now() >= escArmedUntil) disarmEsc(); }, ESC_CONFIRM_MS + 50);
      return;
    }
    if (control === escButton) disarmEsc();
    h.sent = true;
    send(CONTROLS[control.dataset.control], true, stamp);
  }
  function release(control, stamp) {
    const h = held.get(control);
    if (!h || --h.fingers > 0) return;
    held.delete(control);
    control.classList.remove('held');
    if (h.sent) send(CONTROLS[control.dataset.control], false, stamp);
  }
  function liftAll() {
    fingers.clear();
    for (const control of held.keys()) control.classList.remove('held');
    held.clear();
  }
  function onTouch(e) {
    if (e.type === 'touchstart') useTouch();
    if (!touchMode) return;
    if (pausedNow) {
      if (e.type === 'touchstart' && !document.hidden) {
        e.preventDefault();
        resume();
      }
      return;
    }
    let ours = false;
    for (const t of e.changedTouches) {
      let finger = fingers.get(t.identifier);
      if (e.type === 'touchstart') {
        // Fingers on the line below (its links and buttons) and on the list of kept games keep
        // to the browser; all others are the game's, even between two controls.
        const under = document.elementFromPoint(t.clientX, t.clientY);
        if (!under || infoBox.contains(under) || keptPanel.contains(under)) continue;
        if (screenBox.contains(under)) send(TOUCH_SCREEN, true, e.timeStamp);
        finger = { control: null };
        fingers.set(t.identifier, finger);
      }
      if (!finger) continue;  // a finger that began elsewhere (a link, a button of the line)
      ours = true;
      const ended = e.type === 'touchend' || e.type === 'touchcancel';
      const now = ended ? null : controlAt(t.clientX, t.clientY);
      if (now !== finger.control) {
        if (finger.control) release(finger.control, e.timeStamp);
        if (now) press(now, e.timeStamp);
        finger.control = now;
      }
      if (ended) fingers.delete(t.identifier);
    }
    if (ours) {
      e.preventDefault();
      keepAwake();
    }
  }
  ['touchstart', 'touchmove', 'touchend', 'touchcancel'].forEach(function (type) {
    addEventListener(type, onTouch, { capture: true, passive: false });
  });
  addEventListener('contextmenu', function (e) { if (touchMode) e.preventDefault(); });
  // The initials entry: Type, Delete and OK take the place of Coin and the start controls.
  qr.textEntry = function (on) {
    document.body.classList.toggle('entry', on);
    fit();
  };

  // The screen stays on while the controls are in use (up to AWAKE_MS after the last touch), where
  // the browser allows it; a hidden page loses the lock, and the next touch asks again.
  let wakeLock = null, lastTouch = 0;
  function keepAwake() {
    lastTouch = performance.now();
    if (wakeLock || !navigator.wakeLock || document.hidden) return;
    wakeLock = 'asking';
    navigator.wakeLock.request('screen').then(function (lock) {
      wakeLock = lock;
      lock.addEventListener('release', function () { wakeLock = null; });
      const check = function () {
        if (wakeLock !== lock) return;
        const idle = performance.now() - lastTouch;
        if (idle >= AWAKE_MS) lock.release().catch(function () {}); else setTimeout(check, AWAKE_MS - idle);
      };
      setTimeout(check, AWAKE_MS);
    }, function () { wakeLock = null; });
  }

  // ---- A pause instead of the end of the run when the page loses the focus: on a touch screen,
  // and wherever ?pause=1 asks (?pause=0: never). The game's sleep lasts until the player comes
  // back and touches the page, presses a key or clicks; that touch, key or click only resumes.
  let resumed = [];  // the game's wait for the player (QR.untilResumed)
  qr.pauses = 0;  // (tests) how often the page paused
  qr.pausesOnBlur = function () {
    const asked = params.get('pause');
    return asked === '1' || (asked !== '0' && touchMode);
  };
  qr.paused = function () {
    pausedNow = true;
    qr.pauses++;
    liftAll();  // the game lets go of every key as it resumes
    overlay.textContent = touchMode ? 'Paused \u2014 touch to go on' : 'Paused \u2014 press a key or click to go on';
    overlay.style.display = 'flex';
  };
  // The game's wait while paused: until the player comes back, or a quarter of a second (it hands
  // over what the page asks for meanwhile, the recording or a test's state).
  qr.untilResumed = function () {
    return !pausedNow ? Promise.resolve() : new Promise(function (done) {
      resumed.push(done);
      setTimeout(done, 250);
    });
  };
  function resume() {
    if (!pausedNow || document.hidden) return;
    pausedNow = false;
    overlay.style.display = 'none';
    if (typeof Module !== 'undefined' && typeof Module._qr_resume === 'function') Module._qr_resume();
    const waiting = resumed;
    resumed = [];
    for (const done of waiting) done();
  }
  addEventListener('keydown', function (e) {
    if (!pausedNow) return;
    e.preventDefault();
    e.stopImmediatePropagation();
    resume();
  }, true);
  addEventListener('mousedown', function () { resume(); }, true);

  // ---- Downloads.
  function stamp() {
    const d = new Date();
    const two = function (n) { return String(n).padStart(2, '0'); };
    return d.getFullYear() + two(d.getMonth() + 1) + two(d.getDate()) + '-' + two(d.getHours()) +
           two(d.getMinutes()) + two(d.getSeconds());
  }
  function download(blob, name) {
    const a = document.createElement('a');
    a.href = URL.createObjectURL(blob);
    a.download = name;
    document.body.appendChild(a);
    a.click();
    a.remove();
    setTimeout(function () { URL.revokeObjectURL(a.href); }, 10000);
  }
  qr.screenshot = function () {
    paint();
    canvas.toBlob(function (blob) { if (blob) download(blob, 'quillmarsh-rall-' + stamp() + '.png'); }, 'image/png');
  };
  // The recording of the run so far: the game hands it over at its next pass.
  qr.wantRecording = false;
  qr.wantState = false;  // a test asks for the game state
  qr.wantStats = false;  // a measurement asks for the loops' cadence
  qr.replayWanted = '';  // the kept game to watch next ("replays/2p-1.txt")
  qr.wants = function () {
    return (qr.wantRecording ? WANT_RECORDING : 0) | (qr.wantState ? WANT_STATE : 0) |
           (qr.wantStats ? WANT_STATS : 0) | (qr.replayWanted ? WANT_REPLAY : 0);
  };
  recordingLink.addEventListener('mousedown', function (e) { e.preventDefault(); });
  recordingLink.addEventListener('click', function (e) {
    e.preventDefault();
    if (recordingLink.getAttribute('aria-disabled') === 'true') return;
    if (overlay.style.display === 'flex') {
      qr.takeRecording(qr.recording);
    } else {
      qr.wantRecording = true;
    }
    canvas.focus();
  });
  qr.takeRecording = function (text) {
    qr.wantRecording = false;
    qr.recording = text;
    download(new Blob([text], { type: 'text/plain' }), 'quillmarsh-rall-' + stamp() + '.txt');
  };
  qr.recordingOn = function (on) { recordingLink.setAttribute('aria-disabled', on ? 'false' : 'true'); };

  // ---- Sound: the five sounds decoded once; one voice, a new sound cuts the one playing.
  // Browsers allow sound only after a gesture: the first key or click unlocks it.
  const AudioContextClass = window.AudioContext || window.webkitAudioContext;
  const audio = AudioContextClass ? new AudioContextClass() : null;
  const sounds = {};
  let voice = null;
  qr.addSound = function (name, bytes) {
    if (!audio) return;
    audio.decodeAudioData(bytes.buffer).then(function (buffer) { sounds[name] = buffer; }, function () {});
  };
  qr.soundsReady = function () { return Object.keys(sounds).length; };
  qr.play = function (name) {
    if (voice) {
      try { voice.stop(); } catch (e) { /* already ended */ }
      voice = null;
    }
    if (!audio || audio.state !== 'running' || !sounds[name]) return;
    voice = audio.createBufferSource();
    voice.buffer = sounds[name];
    voice.connect(audio.destination);
    voice.start();
    qr.soundsPlayed.push(name);
  };
  function unlock() { if (audio && audio.state === 'suspended') audio.resume().catch(function () {}); }
  ['keydown', 'mousedown', 'touchend'].forEach(function (type) { addEventListener(type, unlock, true); });

  // ---- Storage: each file of the game is one item of local storage, a byte a character. Every
  // load reads the item afresh: another page of the site may have saved it meanwhile.
  const prefix = 'quillmarsh-rall/';
  let storage = null;
  try {
    storage = window.localStorage;
    storage.getItem(prefix);
  } catch (e) {
    storage = null;
  }
  qr.storageError = '';  // why the last load or save failed
  function reason(e) { return e && e.name ? e.name + (e.message ? ': ' + e.message : '') : String(e); }
  qr.filesLocation = function () { return storage ? 'local storage item ' + prefix : ''; };
  // An item's text, or null when there is none (or no storage); throws when the browser refuses.
  function read(name) { return storage ? storage.getItem(prefix + name) : null; }
  // The bytes the game sees of a text: characters above U+00FF keep only their low byte.
  function bytesOf(text, out) {
    for (let i = 0; i < out.length && i < text.length; i++) out[i] = text.charCodeAt(i) & 0xff;
    return out;
  }
  function textOf(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; i += 8192) text += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
    return text;
  }
  // The item read by loadSize, until loadCopy takes it.
  let loaded = null;
  qr.loadSize = function (name) {
    loaded = null;
    let value;
    try {
      value = name in fetchedRuns ? fetchedRuns[name] : read(name);
    } catch (e) {
      qr.storageError = reason(e);
      return LOAD_UNREADABLE;
    }
    if (value === null) return LOAD_MISSING;
    loaded = { name: name, value: value };
    return value.length;
  };
  qr.loadCopy = function (name, out) {
    out.fill(0);
    if (loaded && loaded.name === name) bytesOf(loaded.value, out);
    loaded = null;
  };
  qr.save = function (name, bytes) {
    if (!storage) return SAVE_NO_STORAGE;
    let value = textOf(bytes);
    try {
      // The copy NAME.bad that the game keeps of an item without a valid table keeps the item
      // whole: the game saw only the low bytes of characters above U+00FF.
      if (/\.bad$/.test(name)) {
        const whole = read(name.slice(0, -4));
        if (whole !== null && whole !== value && whole.length === value.length &&
            textOf(bytesOf(whole, new Uint8Array(whole.length))) === value) {
          value = whole;
        }
      }
      storage.setItem(prefix + name, value);
    } catch (e) {
      qr.storageError = reason(e);
      const full = e && (e.name === 'QuotaExceededError' || e.name === 'NS_ERROR_DOM_QUOTA_REACHED' || e.code === 22);
      return full ? SAVE_FULL : SAVE_REFUSED;
    }
    keptChanged();
    return SAVE_OK;
  };
  qr.remove = function (name) {
    try { if (storage) storage.removeItem(prefix + name); } catch (e) { /* nothing to keep */ }
    keptChanged();
  };

  // ---- Kept games: the recording of each table entry (replays/1p-3.txt for entry 3 of the
  // one-player table), listed with its entry; each can be watched on the page or downloaded.
  // Both tables as the game reads them (qr_kept_tables in src/hosts/web/WebMain.cpp hands them
  // to QR.tablesText): one line an entry, "PLAYERS PLACE SCORE OTHER" and the three initials.
  // Null before the game has loaded, or when the item holds no valid table.
  qr.tablesText = '';
  function readTables() {
    if (typeof Module === 'undefined' || typeof Module._qr_kept_tables !== 'function') return null;
    qr.tablesText = '';
    Module._qr_kept_tables();
    const text = qr.tablesText;
    if (text === '') return null;
    const tables = { 1: [], 2: [] };
    for (const line of text.split('\n')) {
      const m = /^([12]) ([1-5]) (\d+) (\d+) (.{3})$/.exec(line);
      if (m) tables[m[1]][Number(m[2]) - 1] = { initials: m[5], score: Number(m[3]), other: Number(m[4]) };
    }
    return tables;
  }
  // The kept games, one-player table first, each with its entry (null without a valid table).
  qr.keptGames = function () {
    const names = new Set();
    try {
      for (let i = 0; storage && i < storage.length; i++) names.add(storage.key(i));
    } catch (e) {
      return [];
    }
    const tables = readTables();
    const games = [];
    for (const players of [1, 2]) {
      for (let place = 1; place <= 5; place++) {
        const name = 'replays/' + players + 'p-' + place + '.txt';
        if (!names.has(prefix + name)) continue;
        games.push({ name: name, players: players, place: place, entry: tables ? tables[players][place - 1] : null });
      }
    }
    return games;
  };
  function button(text, action) {
    const b = document.createElement('button');
    b.type = 'button';
    b.tabIndex = -1;
    b.textContent = text;
    b.addEventListener('mousedown', function (e) { e.preventDefault(); });  // keeps the focus
    b.addEventListener('click', function () { action(); canvas.focus(); });
    return b;
  }
  function cell(row, text, className) {
    const td = row.insertCell();
    if (typeof text === 'string') td.textContent = text; else td.appendChild(text);
    if (className) td.className = className;
    return td;
  }
  function describe(game) {
    const e = game.entry;
    const score = !e ? '?' : game.players === 1 ? String(e.score) : e.score + '\u2013' + e.other;
    return { initials: e ? e.initials : '???', score: score };
  }
  function showKept() {
    const games = qr.keptGames();
    keptButton.hidden = games.length === 0;
    if (games.length === 0) keptPanel.hidden = true;
    const list = document.getElementById('kept-list');
    list.textContent = '';
    for (const players of [1, 2]) {
      const mine = games.filter(function (g) { return g.players === players; });
      if (mine.length === 0) continue;
      const head = list.insertRow();
      cell(head, players === 1 ? 'One player' : 'Two players', 'table').colSpan = 5;
      for (const game of mine) {
        const row = list.insertRow();
        const d = describe(game);
        row.dataset.name = game.name;
        cell(row, game.place + '.', 'place');
        cell(row, d.initials, 'initials');
        cell(row, d.score, 'score');
        cell(row, button('Watch', function () { qr.watch(game.name); }));
        cell(row, button('Download', function () { qr.downloadKept(game.name); }));
      }
    }
  }
  function keptChanged() { showKept(); }
  // Another page of the site saved: the list follows.
  addEventListener('storage', function (e) {
    if (e.key === null || e.key.startsWith(prefix)) showKept();
  });
  keptButton.addEventListener('mousedown', function (e) { e.preventDefault(); });
  keptButton.addEventListener('click', function () {
    if (keptPanel.hidden) showKept();
    keptPanel.hidden = !keptPanel.hidden;
    canvas.focus();
  });
  document.getElementById('kept-close').addEventListener('mousedown', function (e) { e.preventDefault(); });
  document.getElementById('kept-close').addEventListener('click', function () {
    keptPanel.hidden = true;
    canvas.focus();
  });
  // Plays a kept game on the page: the run that goes on ends, and the replay takes its place.
  qr.watch = function (name) {
    if (!/^replays\/[12]p-[1-5]\.txt$/.test(name)) return;
    keptPanel.hidden = true;
    rankingsPanel.hidden = true;
    qr.replayWanted = name;
  };
  qr.replayTaken = function () { qr.replayWanted = ''; };
  qr.downloadKept = function (name) {
    let text = null;
    try { text = read(name); } catch (e) { qr.storageError = reason(e); }
    if (text === null) {
      qr.tell('cannot download ' + name + ': ' + (qr.storageError || 'it is no longer kept'));
      showKept();
      return;
    }
    download(new Blob([bytesOf(text, new Uint8Array(text.length))], { type: 'text/plain' }),
      'quillmarsh-rall-' + name.replace(/^replays\//, ''));
  };
  // While a kept game plays, the line of keys says so.
  qr.replaying = function (name) {
    qr.replay = name;
    if (name && fetchedRuns[name] !== undefined) {
      replayLine.textContent = 'Replay of ' + fetchedRuns[name + ' said'] + ' \u00b7 Esc leaves';
    } else if (name) {
      const game = qr.keptGames().find(function (g) { return g.name === name; });
      const d = game ? describe(game) : null;
      replayLine.textContent = 'Replay' + (game ? ' of ' + (game.players === 1 ? 'one-player' : 'two-player') +
        ' place ' + game.place + ', ' + d.initials + ' ' + d.score : '') + ' \u00b7 Esc leaves';
    } else {
      qr.replaysEnded++;
    }
    replayLine.hidden = !name;
    keys.hidden = !!name;
  };
  if (params.get('watch')) qr.watch(params.get('watch'));
  showKept();

  // ---- Online: the rankings server that serves this page, when there is one (api/ beside the
  // page). "Online" plays a ranked game from a seed the server issues; its first confirmed entry is
  // offered for the rankings, and sent only when the player says so. "Rankings" lists the top runs
  // of each table, and any of them can be watched. Without a server (a static host, no network)
  // both stay hidden, and a server that stops answering is said on the message line.
  const API_TIMEOUT_MS = 10000;
  const RANKING_ROWS = 10;
  const onlineButton = document.getElementById('online');
  const onlineLine = document.getElementById('online-line');
  const rankingsButton = document.getElementById('rankings-button');
  const offer = document.getElementById('offer');
  let ranked = null;       // the ranked game of the run that goes on: { token, seed }
  let offered = null;      // the entry offered for the rankings: { token, recording, entry }
  // The answer of the API as JSON, or throws an Error with a sentence for the player.
  async function api(method, what, body) {
    const control = new AbortController();
    const timer = setTimeout(function () { control.abort(); }, API_TIMEOUT_MS);
    let response;
    try {
      response = await fetch('api/' + what, {
        method: method, signal: control.signal, cache: 'no-store',
        headers: body === undefined ? {} : { 'content-type': 'application/json' },
        body: body === undefined ? undefined : JSON.stringify(body),
      });
    } catch (e) {
      throw new Error('the rankings server does not answer');
    } finally {
      clearTimeout(timer);
    }
    const text = await response.text();
    let answer = null;
    try { answer = JSON.parse(text); } catch (e) { /* not JSON: said below */ }
    if (!response.ok) {
      throw new Error(answer && typeof answer.error === 'string' ? answer.error : 'the server said ' + response.status);
    }
    if (answer === null) throw new Error('the rankings server answered with something other than JSON');
    return answer;
  }
  // One player's score, or the winner's and the other's, as the two-player table shows them.
  function scoreText(run) {
    if (run.mode === 1) return String(run.p1Score);
    return run.winner === 2 ? run.p2Score + '\u2013' + run.p1Score : run.p1Score + '\u2013' + run.p2Score;
  }
  function runWords(run) {
    return (run.mode === 1 ? 'one-player' : 'two-player') + ' ranked run ' + run.id + ', ' + run.initials + ' ' +
           scoreText(run);
  }
  qr.online = false;
  api('GET', 'health').then(function (answer) {
    qr.online = answer.ok === true;
    onlineButton.hidden = rankingsButton.hidden = friendButton.hidden = !qr.online;
    fit();
  }, function () {});
  // A ranked game: the run that goes on ends, and one from the issued seed takes its place.
  qr.playOnline = async function () {
    try {
      const issued = await api('POST', 'seeds', {});
      if (typeof issued.token !== 'string' || !Number.isSafeInteger(issued.seed) || issued.seed < 0) {
        throw new Error('the rankings server issued no usable seed');
      }
      ranked = { token: issued.token, seed: issued.seed };
      keptPanel.hidden = rankingsPanel.hidden = true;
      qr.replayWanted = 'ranked-game ' + issued.seed;
      overlay.style.display = 'none';
    } catch (e) {
      qr.tell('cannot start a ranked game: ' + e.message);
    }
  };
  qr.rankedRun = function (seed) {  // a run starts: ranked with this seed, or not (null)
    if (seed === null || !ranked || ranked.seed !== seed) ranked = null;
    onlineLine.textContent = ranked ? 'Ranked game \u00b7 your first entry can go to the rankings' : '';
    onlineLine.hidden = !ranked;
  };
  // The game's first confirmed entry of a ranked run; the recording ends with it.
  qr.rankedEntry = function (recording, entry) {
    if (!ranked) return;
    offered = { token: ranked.token, recording: recording, entry: entry };
    ranked = null;
    onlineLine.hidden = true;
    document.getElementById('offer-text').textContent = 'Send ' + entry.initials + ', ' +
      (entry.mode === 1 ? entry.p1Score + ' points' : scoreText(entry)) +
      ', to the online rankings?';
    offer.hidden = false;
    fit();
  };
  qr.submitOffered = async function () {
    const sent = offered;
    offered = null;
    offer.hidden = true;
    fit();
    if (!sent) return;
    try {
      const run = await api('POST', 'runs', { token: sent.token, recording: sent.recording });
      qr.submitted = run;
      const note = document.createElement('span');
      note.className = 'note';
      note.textContent = 'Ranked: place ' + run.place + ' of the ' + (run.mode === 1 ? 'one-player' : 'two-player') +
                         ' rankings, ' + run.initials + ' ' + scoreText(run) + '.';
      message.textContent = '';
      message.appendChild(note);
      fit();
      if (!rankingsPanel.hidden) qr.showRankings();
    } catch (e) {
      qr.tell('the rankings did not take the game: ' + e.message);
    }
  };
  qr.declineOffered = function () {
    offered = null;
    offer.hidden = true;
    fit();
  };
  qr.showRankings = async function () {
    const list = document.getElementById('rankings-list');
    const tables = [];
    try {
      for (const mode of [1, 2]) tables.push(await api('GET', 'rankings?mode=' + mode + '&limit=' + RANKING_ROWS));
    } catch (e) {
      qr.tell('cannot read the rankings: ' + e.message);
      return;
    }
    list.textContent = '';
    tables.forEach(function (answer, i) {
      const runs = Array.isArray(answer.runs) ? answer.runs : [];
      cell(list.insertRow(), i === 0 ? 'One player' : 'Two players', 'table').colSpan = 4;
      if (runs.length === 0) cell(list.insertRow(), 'No ranked runs yet').colSpan = 4;
      runs.forEach(function (run, place) {
        if (!Number.isSafeInteger(run.id) || typeof run.initials !== 'string') return;
        const row = list.insertRow();
        row.dataset.run = String(run.id);
        cell(row, (answer.offset || 0) + place + 1 + '.', 'place');
        cell(row, run.initials, 'initials');
        cell(row, scoreText(run), 'score');
        cell(row, button('Watch', function () { qr.watchRanked(run); }));
      });
    });
    keptPanel.hidden = true;
    rankingsPanel.hidden = false;
  };
  // Fetches a ranked run's recording and plays it on the page like a kept game.
  qr.watchRanked = async function (run) {
    const name = 'ranked/' + run.id;
    try {
      const control = new AbortController();
      const timer = setTimeout(function () { control.abort(); }, API_TIMEOUT_MS);
      const response = await fetch('api/runs/' + run.id + '/recording', { signal: control.signal, cache: 'no-store' })
        .finally(function () { clearTimeout(timer); });
      if (!response.ok) throw new Error('the server said ' + response.status);
      fetchedRuns[name] = await response.text();
    } catch (e) {
      qr.tell('cannot fetch the ranked run: ' + (e.name === 'AbortError' ? 'the server does not answer' : e.message));
      return;
    }
    fetchedRuns[name + ' said'] = runWords(run);
    rankingsPanel.hidden = true;
    overlay.style.display = 'none';
    qr.replayWanted = name;
  };
  // ---- Play a friend: a game with a player on another machine, in lockstep through the server's
  // relay (see Lockstep in src/hosts/shared). The host opens a room and hands its link on; the
  // friend opens the link (?join=CODE). Once both are in, both pages end the run that goes on and
  // play the same game from the host's seed and table: the host's paddle keys move player 1, the
  // friend's player 2; coins, starts, Esc and initials count from either side. Anyone else with
  // the room's code may watch its game (?spectate=CODE): the relay hands the page what both players
  // sent, and the game played from it is theirs, a few passes behind.
  const friendButton = document.getElementById('friend');
  const friendLine = document.getElementById('friend-line');
  const waitingBox = document.getElementById('waiting');
  const net = { socket: null, inbox: [], closed: false, waiter: null, taken: '', playing: false };
  qr.net = net;
  // The line, with links after it: friendSays(text, link, text, link, ...).
  function friendSays(text, ...rest) {
    friendLine.textContent = text;
    for (let i = 0; i < rest.length; i += 2) {
      const a = document.createElement('a');
      a.href = rest[i];
      a.textContent = rest[i];
      friendLine.append(' ', a);
      if (rest[i + 1]) friendLine.append(' ' + rest[i + 1]);
    }
    friendLine.hidden = text === '';
    fit();
  }
  function pageLink(search) {
    const link = new URL(location.href);
    link.search = search;
    return link.href;
  }
  function roomUrl(what) {
    const url = new URL('api/rooms/' + what, location.href);
    url.protocol = url.protocol === 'https:' ? 'wss:' : 'ws:';
    url.search = '';
    return url.href;
  }
  qr.playFriend = function (code) {
    if (net.socket) net.socket.close();
    const socket = new WebSocket(roomUrl(code || 'new'));
    Object.assign(net, { socket: socket, inbox: [], closed: false, playing: false, watching: false });
    friendSays(code ? 'Joining room ' + code + '\u2026' : 'Opening a room\u2026');
    socket.onmessage = function (e) {
      if (net.socket !== socket || typeof e.data !== 'string') return;
      if (!net.playing) {
        let m = null;
        try { m = JSON.parse(e.data); } catch (err) { /* said below */ }
        if (m && typeof m.room === 'string' && /^[A-Z2-9]{6}$/.test(m.room)) {
          friendSays('Room ' + m.room + ': your friend opens', pageLink('?join=' + m.room),
                     '\u00b7 anyone may watch at', pageLink('?spectate=' + m.room));
        } else if (m && m.paired === true) {
          net.playing = true;
          keptPanel.hidden = rankingsPanel.hidden = true;
          overlay.style.display = 'none';
          qr.replayWanted = code ? 'friend guest' : 'friend host';
          friendSays('Starting the game with your friend\u2026');
        } else {
          friendSays('No game with a friend: ' + (m && typeof m.bye === 'string' ? m.bye : 'the server said no'));
          socket.close();
        }
        return;
      }
      net.inbox.push(e.data);
      if (net.waiter) net.waiter();
    };
    socket.onclose = function () {
      if (net.socket !== socket) return;
      net.closed = true;
      if (net.waiter) net.waiter();
      if (!net.playing && friendLine.textContent.indexOf('No game') !== 0) friendSays('The server closed the room.');
    };
    socket.onerror = function () {
      if (!net.playing) friendSays('No game with a friend: the server does not answer.');
    };
  };
  // Watching the game of a room: everything the relay says goes to the game, whose Spectator
  // waits for the players' start (or takes the relay's refusal).
  qr.spectate = function (code) {
    if (net.socket) net.socket.close();
    const socket = new WebSocket(roomUrl(code + '/watch'));
    Object.assign(net, { socket: socket, inbox: [], closed: false, playing: true, watching: true, code: code });
    keptPanel.hidden = rankingsPanel.hidden = true;
    overlay.style.display = 'none';
    qr.replayWanted = 'spectate';
    friendSays('Watching room ' + code + ' once its players start\u2026');
    socket.onmessage = function (e) {
      if (net.socket !== socket || typeof e.data !== 'string') return;
      net.inbox.push(e.data);
      if (net.waiter) net.waiter();
    };
    socket.onclose = function () {
      if (net.socket !== socket) return;
      net.closed = true;
      if (net.waiter) net.waiter();
    };
  };
  net.send = function (text) {
    if (net.socket && net.socket.readyState === WebSocket.OPEN) net.socket.send(text);
  };
  // The next message for the game; -1 when none came in time, -2 once the connection is gone.
  net.receive = function (timeoutMs) {
    const take = function () { return net.inbox.shift(); };
    if (net.inbox.length > 0) return Promise.resolve(take());
    if (net.closed) return Promise.resolve(-2);
    if (timeoutMs <= 0) return Promise.resolve(-1);
    return new Promise(function (done) {
      const timer = setTimeout(function () { net.waiter = null; done(-1); }, timeoutMs);
      net.waiter = function () {
        clearTimeout(timer);
        net.waiter = null;
        done(net.inbox.length > 0 ? take() : -2);
      };
    });
  };
  net.started = function (delay) {
    qr.friendDelay = delay;
    net.startedAt = performance.now();
    friendSays(net.watching ? 'Watching room ' + net.code + ' (Esc leaves)'
                            : 'Playing with a friend \u00b7 input delay ' + delay + (delay === 1 ? ' pass' : ' passes'));
  };
  net.waiting = function (on) { waitingBox.hidden = !on; };
  net.ended = function (why, stats) {
    // Passes, stalls and the time stalled, and the session's time, for the measurements.
    qr.friendStats = Object.assign(stats, { wallMs: net.startedAt ? performance.now() - net.startedAt : 0 });
    waitingBox.hidden = true;
    net.playing = false;
    if (net.socket) net.socket.close();
    net.socket = null;
    qr.friendEnded = why;
    friendSays((net.watching ? 'The watching ended: ' : 'The game with your friend ended: ') + why + '.');
  };
  friendButton.addEventListener('mousedown', function (e) { e.preventDefault(); });
  friendButton.addEventListener('click', function () { qr.playFriend(); canvas.focus(); });

  // ?watch=ranked/ID: a ranked run to watch at once, as its Watch button plays it (a link to share).
  const runToWatch = /^ranked\/(\d{1,9})$/.exec(params.get('watch') || '');
  if (runToWatch) {
    api('GET', 'runs/' + runToWatch[1]).then(qr.watchRanked, function (e) {
      qr.tell('cannot fetch the ranked run: ' + e.message);
    });
  }
  [onlineButton, rankingsButton, document.getElementById('rankings-close'), document.getElementById('offer-submit'),
    document.getElementById('offer-no')].forEach(function (b) {
    b.addEventListener('mousedown', function (e) { e.preventDefault(); });  // keeps the focus
  });
  onlineButton.addEventListener('click', function () { qr.playOnline(); canvas.focus(); });
  rankingsButton.addEventListener('click', function () {
    if (rankingsPanel.hidden) qr.showRankings(); else rankingsPanel.hidden = true;
    canvas.focus();
  });
  document.getElementById('rankings-close').addEventListener('click', function () {
    rankingsPanel.hidden = true;
    canvas.focus();
  });
  document.getElementById('offer-submit').addEventListener('click', function () { qr.submitOffered(); canvas.focus(); });
  document.getElementById('offer-no').addEventListener('click', function () { qr.declineOffered(); canvas.focus(); });

  // ---- Offline: the service worker (sw.js, beside this page) keeps the page's files, so that the
  // game starts with no network after a first visit, and takes up a new build at the next visit
  // online. Only in a secure context (https, or http from this machine); elsewhere the page goes
  // on without it, saying nothing. The browser is asked to keep the site's storage, where the
  // scores and kept games are, when it makes room; if it will not, the message line says so once,
  // quietly, unless something more important is on it (which then replaces the note).
  qr.storageNote = 'The high scores and kept games live in this browser\'s storage for this site, which the ' +
                   'browser may clear when it needs room.';
  addEventListener('load', function () {
    if (!window.isSecureContext || !('serviceWorker' in navigator)) return;
    navigator.serviceWorker.register('sw.js', { updateViaCache: 'none' }).catch(function (e) {
      console.warn('The page cannot be kept for offline play: ' + reason(e));
    });
  });
  if (window.isSecureContext && navigator.storage && navigator.storage.persist && navigator.storage.persisted) {
    navigator.storage.persisted().then(function (kept) { return kept || navigator.storage.persist(); })
      .then(function (kept) {
        if (kept || message.textContent !== '') return;
        const note = document.createElement('span');
        note.className = 'note';
        note.textContent = qr.storageNote;
        message.appendChild(note);
        fit();
      }, function () {});
  }

  // ---- The run: its end, and a halt at a game time (tests).
  qr.param = function (name) { return params.get(name) || ''; };
  qr.stopped = function () {
    paint();
    qr.stoppedAt = true;
  };
  qr.resume = function () { qr.stoppedAt = false; };
  // The recording link downloads the run that ended, when it took any input.
  qr.ended = function (recording, hadInput) {
    qr.recording = recording;
    qr.runsEnded++;
    qr.recordingOn(hadInput);
    paint();
  };
  qr.pressAnyKey = function () {
    overlay.textContent = touchMode ? 'Touch to play again' : 'Press any key to play again';
    overlay.style.display = 'flex';
  };

  // ---- Messages: one line on the page.
  qr.fail = function (text) {
    message.textContent = text;
    fit();
  };
  // The game's sentences ("cannot save the high scores to ...: ...") as one sentence.
  qr.tell = function (text) {
    console.log(text);
    replayMessage = qr.replay !== '';
    text = text.trim();
    if (text === '') return;
    qr.fail(text.charAt(0).toUpperCase() + text.slice(1) + (/[.!?]$/.test(text) ? '' : '.'));
  };

  if (!storage) qr.fail('This browser blocks storage for this page: the high scores will not be kept.');
  if (typeof WebAssembly !== 'object') {
    qr.fail('This browser cannot run WebAssembly, which the game needs.');
  } else {
    window.Module = {
      onAbort: function (what) { qr.fail('The game stopped: ' + what); },
      onRuntimeInitialized: function () { showKept(); },  // the list's entries come from the game
      print: function (text) { console.log(text); },
      printErr: function (text) { console.warn(text); },
    };
    const script = document.createElement('script');
    script.src = 'quillmarsh-rall.js';
    script.onerror = function () { qr.fail('The game could not be loaded (quillmarsh-rall.js is missing).'); };
    // ?online=1, a link to a ranked game: the seed is asked for first, so that the first run is the
    // ranked game.
    const first = params.get('online') === '1' && !params.get('watch') ? qr.playOnline() : Promise.resolve();
    // ?join=CODE, the link of a friend's room: joined once the game has loaded.
    const join = /^[A-Z2-9]{6}$/.exec(params.get('join') || '');
    if (join) Module.onRuntimeInitialized = function () { showKept(); qr.playFriend(join[0]); };
    // ?spectate=CODE, the link to watch a friend game: watched once the game has loaded.
    const spectate = /^[A-Z2-9]{6}$/.exec(params.get('spectate') || '');
    if (spectate && !join) Module.onRuntimeInitialized = function () { showKept(); qr.spectate(spectate[0]); };
    first.then(function () { document.body.appendChild(script); });
  }
  canvas.focus();
  return qr;
})();
