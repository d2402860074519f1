// The page's side of the game's web host (src/platform/web/): the canvas, the scale, fullscreen,
// sound, storage, downloads and the messages. The game calls the functions of QR.
'use strict';

var QR = (function () {
  const W = 319, H = 239;
  const canvas = document.getElementById('canvas');
  const ctx2d = canvas.getContext('2d');
  const picture = ctx2d.createImageData(W, H);
  const overlay = document.getElementById('overlay');
  const message = document.getElementById('message');
  const recordingLink = document.getElementById('recording');
  const stage = document.getElementById('stage');
  const params = new URLSearchParams(location.search);
  // What tests read: the state handed over, the frames painted, the sounds played.
  const qr = { state: '', recording: '', stoppedAt: false, runsEnded: 0, frames: 0, soundsPlayed: [] };

  // ---- The picture: painted at the next animation frame after the game showed a new one.
  let frame = null;
  let painting = false;
  let answering = [];  // when the input happened that the frame waiting to be painted answers
  const latencies = [];  // ms from a key's or a pad's event to the painting of its answer
  function answered(stamps) {
    const now = performance.now();
    for (const t of stamps) latencies.push(now - t);
    if (latencies.length > 200000) latencies.splice(0, 100000);
  }
  function paint() {
    painting = false;
    if (frame) {
      picture.data.set(frame);
      ctx2d.putImageData(picture, 0, 0);
      qr.frames++;
    }
    answered(answering);
    answering = [];
  }
  // The game took input and drew its next frame: a frame waiting to be painted answers it, and
  // if none waits the picture on the page already does.
  qr.answers = function (stamps) {
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
  qr.frame = function (view) {
    frame = view;
    if (!painting) {
      painting = true;
      requestAnimationFrame(paint);
    }
  };
  qr.show = function () { overlay.style.display = 'none'; };
  qr.caption = function (text) { document.title = text; };

  // The largest whole number of device pixels per unit that fits the window, with the line of
  // keys below.
  function fit() {
    const dpr = window.devicePixelRatio || 1;
    const bar = document.getElementById('bar').offsetHeight + 4 + document.getElementById('pads').offsetHeight +
                message.offsetHeight;
    const scale = Math.max(1, Math.floor(Math.min(innerWidth * dpr / W, (innerHeight - bar) * dpr / H)));
    canvas.style.width = (W * scale / dpr) + 'px';
    canvas.style.height = (H * scale / dpr) + 'px';
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

  // ---- Storage: each file of the game is one item of local storage, a byte a character.
  const prefix = 'quillmarsh-rall/';
  let storage = null;
  try {
    storage = window.localStorage;
    storage.getItem(prefix);
  } catch (e) {
    storage = null;
  }
  qr.storageOk = function () { return storage !== null; };
  let loaded = { name: null, value: null };
  qr.loadSize = function (name) {
    if (!storage) return -1;
    try {
      loaded = { name: name, value: storage.getItem(prefix + name) };
    } catch (e) {
      return -2;
    }
    return loaded.value === null ? -1 : loaded.value.length;
  };
  qr.loadCopy = function (name, out) {
    const value = loaded.name === name && loaded.value !== null ? loaded.value : '';
    for (let i = 0; i < out.length && i < value.length; i++) out[i] = value.charCodeAt(i) & 0xff;
  };
  qr.save = function (name, bytes) {
    if (!storage) return 2;
    let value = '';
    for (let i = 0; i < bytes.length; i += 8192) value += String.fromCharCode.apply(null, bytes.subarray(i, i + 8192));
    try {
      storage.setItem(prefix + name, value);
      return 0;
    } catch (e) {
      return e && e.name === 'QuotaExceededError' ? 1 : 2;
    }
  };
  qr.remove = function (name) {
    try { if (storage) storage.removeItem(prefix + name); } catch (e) { /* nothing to keep */ }
  };

  // ---- The run: its end, and a halt at a game time (tests).
  qr.param = function (name) { return params.get(name) || ''; };
  qr.stopped = function () {
    paint();
    qr.stoppedAt = true;
  };
  qr.ended = function (recording) {
    qr.recording = recording;
    qr.runsEnded++;
    qr.recordingOn(true);
    paint();
    overlay.style.display = 'flex';
  };

  // ---- Messages: one line on the page.
  qr.fail = function (text) {
    message.textContent = text;
    fit();
  };

  if (!storage) qr.fail('This browser blocks storage for this page: the high scores will not be kept.');
  if (typeof WebAssembly !== 'object') {
    qr.fail('This browser cannot run WebAssembly, which the game needs.');
  } else {
    window.Module = {
      onAbort: function (what) { qr.fail('The game stopped: ' + what); },
      print: function (text) { console.log(text); },
      printErr: function (text) { console.warn(text); },
    };
    const script = document.createElement('script');
    script.src = 'quillmarsh-rall.js';
    script.onerror = function () { qr.fail('The game could not be loaded (quillmarsh-rall.js is missing).'); };
    document.body.appendChild(script);
  }
  canvas.focus();
  return qr;
})();
