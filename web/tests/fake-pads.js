// Fake game pads for the page's tests, put into the page before it loads: the browser's
// navigator.getGamepads() then lists the pads plugged in here, shaped as the Gamepad API gives a
// pad with the standard mapping. Each change stamps the pad with the page's clock, as a browser
// does.
(() => {
  const list = [null, null, null, null];
  const blank = () => ({ pressed: false, touched: false, value: 0 });
  Object.defineProperty(Navigator.prototype, 'getGamepads', { configurable: true, value: () => list.slice() });
  const pad = (id) => {
    const p = list.find((q) => q && q.id === id);
    if (!p) throw new Error(`no pad ${id}`);
    return p;
  };
  let following = null;
  window.fakePads = {
    plug(index, id, mapping = 'standard') {
      list[index] = { id, index, connected: true, mapping, timestamp: performance.now(), axes: [0, 0, 0, 0],
        buttons: Array.from({ length: 17 }, blank) };
    },
    unplug(index) { list[index] = null; },
    button(id, n, on) {
      const p = pad(id);
      p.buttons[n] = { pressed: on, touched: on, value: on ? 1 : 0 };
      p.timestamp = performance.now();
    },
    stick(id, y) {
      const p = pad(id);
      if (p.axes[1] !== y) p.timestamp = performance.now();
      p.axes[1] = y;
    },
    // The pad's stick keeps player 1's paddle on the ball, from the game state the page hands over.
    follow(id) {
      following = id;
      const step = () => {
        if (following !== id) return;
        if (!QR.wantState && QR.state) {
          const s = JSON.parse(QR.state);
          const gap = s.ballY - s.p1Center;
          if (list.some((q) => q && q.id === id)) this.stick(id, gap > 3 ? 1 : gap < -3 ? -1 : 0);
          QR.wantState = true;
        }
        setTimeout(step, 4);
      };
      QR.wantState = true;
      step();
    },
    stop() { following = null; },
  };
})();
