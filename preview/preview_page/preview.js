'use strict';
// The preview page: controls built from the parameters the effect declared,
// the frame rendered by the server, the mask drawn and edited over it.

(async function main() {
  const $ = (selector) => document.querySelector(selector);
  const SVG = 'http://www.w3.org/2000/svg';
  const getJson = async (url) => {
    const response = await fetch(url);
    if (!response.ok) throw new Error(url + ': ' + response.status + ' ' + (await response.text()));
    return response.json();
  };

  const params = await getJson('/api/params');
  let state = await getJson('/api/state');
  const W = state.width;
  const H = state.height;

  const app = {
    values: {},           // by parameter name, in the command line's units
    changed: new Set(),   // names the page has set (the others keep the command line's)
    frameIndex: 0,
    downsample: W * H > 1000000 ? 2 : 1,
    view: 'output',
    viewTransform: state.view_transform.on,
    mask: state.mask,     // {vertices: [[x, y, in_x, in_y, out_x, out_y], ...], closed}
    maskEdited: false,
    selected: -1,
  };
  for (const [name, entry] of Object.entries(state.values)) app.values[name] = entry.value;

  const status = (text) => { $('#status').textContent = text; };
  const frame = () => state.frames[app.frameIndex];

  // ---------------------------------------------------------------- state

  function maskData() {
    const m = app.mask;
    if (!m || m.vertices.length === 0) return '';
    const v = m.vertices;
    const n = v.length;
    let d = 'M ' + v[0][0] + ' ' + v[0][1];
    for (let i = 0; i < (m.closed ? n : n - 1); i++) {
      const a = v[i];
      const b = v[(i + 1) % n];
      if (a[4] === 0 && a[5] === 0 && b[2] === 0 && b[3] === 0) {
        d += ' L ' + b[0] + ' ' + b[1];
      } else {
        d += ' C ' + (a[0] + a[4]) + ' ' + (a[1] + a[5]) + ' ' + (b[0] + b[2]) + ' ' + (b[1] + b[3]) + ' ' +
             b[0] + ' ' + b[1];
      }
    }
    return m.closed ? d + ' Z' : d;
  }

  function request(extra) {
    const changed = {};
    for (const name of app.changed) changed[name] = app.values[name];
    return Object.assign({ params: changed, mask: app.maskEdited ? maskData() : null, frame: frame() }, extra);
  }

  // --------------------------------------------------------------- render

  // One render in flight; changes meanwhile wait for it and the latest one
  // goes next. A render that keeps the page waiting is dropped, and the
  // server cancels it when the next one arrives.
  const kPatienceMs = 250;
  const render = { busy: false, pending: false, controller: null, started: 0, url: null, count: 0 };

  function refresh() {
    render.pending = true;
    if (!render.busy) {
      pump();
    } else if (performance.now() - render.started > kPatienceMs && render.controller) {
      render.controller.abort();
    }
  }

  async function pump() {
    render.busy = true;
    document.body.dataset.busy = '1';
    while (render.pending) {
      render.pending = false;
      render.controller = new AbortController();
      render.started = performance.now();
      const body = request({ downsample: app.downsample, view: app.view, view_transform: app.viewTransform });
      try {
        const response = await fetch('/api/render', {
          method: 'POST', headers: { 'Content-Type': 'application/json' },
          body: JSON.stringify(body), signal: render.controller.signal,
        });
        if (response.ok) {
          const url = URL.createObjectURL(await response.blob());
          await new Promise((resolve) => { $('#image').onload = resolve; $('#image').onerror = resolve;
                                           $('#image').src = url; });
          if (render.url) URL.revokeObjectURL(render.url);
          render.url = url;
          render.count++;
          document.body.dataset.renders = String(render.count);
          status((performance.now() - render.started).toFixed(0) + ' ms');
        } else if (response.status !== 409) {
          status((await response.json()).error);
        }
      } catch (e) {
        if (e.name !== 'AbortError') status(String(e));
      }
    }
    render.busy = false;
    render.controller = null;
    document.body.dataset.busy = '0';
    updateCommand();
  }

  let commandTimer = 0;
  let commandAsked = 0;
  function updateCommand() {
    clearTimeout(commandTimer);
    $('#command').dataset.fresh = '0';
    const asked = ++commandAsked;
    commandTimer = setTimeout(async () => {
      try {
        const j = await getJson('/api/command?state=' + encodeURIComponent(JSON.stringify(request({}))));
        if (asked !== commandAsked) return;
        $('#command').value = j.command;
        $('#command').dataset.fresh = '1';
      } catch (e) {
        status(String(e));
      }
    }, 50);
  }

  // ------------------------------------------------------------- controls

  function setValue(name, value) {
    app.values[name] = value;
    app.changed.add(name);
    const box = document.querySelector('.control[data-param="' + CSS.escape(name) + '"] .keyed');
    if (box) box.hidden = true;
    refresh();
  }

  function slider(p, box) {
    const fixed = p.type === 'fixed';
    const step = fixed ? Math.pow(10, -Math.max(0, p.precision || 0)) : 1;
    const row = document.createElement('div');
    row.className = 'row';
    const range = Object.assign(document.createElement('input'),
      { type: 'range', min: p.slider[0], max: p.slider[1], step: step, value: app.values[p.name] });
    const number = Object.assign(document.createElement('input'),
      { type: 'number', min: p.valid[0], max: p.valid[1], step: 'any', value: app.values[p.name] });
    range.name = p.name;
    number.name = p.name + ' value';
    range.addEventListener('input', () => {
      number.value = range.value;
      number.classList.remove('invalid');
      setValue(p.name, Number(range.value));
    });
    // Typed values go as far as the valid range, past the slider's ends.
    number.addEventListener('change', () => {
      const v = Number(number.value);
      const ok = number.value !== '' && Number.isFinite(v) && v >= p.valid[0] && v <= p.valid[1] &&
                 (fixed || Number.isInteger(v));
      number.classList.toggle('invalid', !ok);
      if (!ok) return;
      range.value = String(Math.min(Math.max(v, p.slider[0]), p.slider[1]));
      setValue(p.name, v);
    });
    row.append(range, number);
    if (fixed && p.percent) row.append('%');
    box.append(row);
    return { range, number };
  }

  function popup(p, box) {
    const select = document.createElement('select');
    select.name = p.name;
    p.choices.forEach((choice, i) => select.append(new Option(choice, String(i + 1))));
    select.value = String(app.values[p.name]);
    select.addEventListener('change', () => setValue(p.name, Number(select.value)));
    box.append(select);
  }

  function checkbox(p, box) {
    const label = document.createElement('label');
    const input = Object.assign(document.createElement('input'), { type: 'checkbox', checked: app.values[p.name] });
    input.name = p.name;
    input.addEventListener('change', () => setValue(p.name, input.checked));
    label.append(input, ' on');
    box.append(label);
  }

  function button(text, id, onClick) {
    const b = Object.assign(document.createElement('button'), { type: 'button', textContent: text, id: id });
    b.addEventListener('click', onClick);
    return b;
  }

  let play = null;
  function timeControls(p, controls, box) {
    const go = button('Play', 'play', () => {
      if (play) { play.stop(); return; }
      const from = p.slider[0];
      const to = p.slider[1];
      const seconds = 4;
      const t0 = performance.now();
      play = {
        frame: 0,
        stop() { cancelAnimationFrame(this.frame); play = null; go.textContent = 'Play'; },
      };
      go.textContent = 'Stop';
      const tick = (now) => {
        const f = Math.min((now - t0) / (seconds * 1000), 1);
        const v = Number((from + (to - from) * f).toFixed(Math.max(0, p.precision || 0)));
        controls.range.value = String(v);
        controls.number.value = String(v);
        setValue(p.name, v);
        if (f < 1) play.frame = requestAnimationFrame(tick); else play.stop();
      };
      play.frame = requestAnimationFrame(tick);
    });
    box.querySelector('.row').append(go);
  }

  function maskControls(box) {
    const row = document.createElement('div');
    row.className = 'row';
    row.append(
      button('Open/close', 'mask-closed', () => {
        if (!app.mask) return;
        app.mask.closed = !app.mask.closed;
        maskChanged();
      }),
      button('Remove vertex', 'mask-remove', () => removeVertex(app.selected)),
      button('New outline', 'mask-new', () => {
        const x0 = W * 0.25, x1 = W * 0.75, y0 = H * 0.25, y1 = H * 0.75;
        app.mask = { closed: true, vertices: [[x0, y0, 0, 0, 0, 0], [x1, y0, 0, 0, 0, 0], [x1, y1, 0, 0, 0, 0],
                                              [x0, y1, 0, 0, 0, 0]] };
        app.selected = -1;
        maskChanged();
      }),
      button('No mask', 'mask-none', () => { app.mask = null; app.selected = -1; maskChanged(); }));
    box.append(row);
  }

  const form = $('#controls');
  for (const p of params) {
    const box = document.createElement('div');
    box.className = 'control';
    box.dataset.param = p.name;
    box.dataset.type = p.type;
    const name = document.createElement('span');
    name.className = 'name';
    name.textContent = p.name;
    box.append(name);
    const entry = state.values[p.name];
    if (entry && entry.keyed) {
      const keyed = document.createElement('span');
      keyed.className = 'keyed';
      keyed.textContent = 'keyframed on the command line; moving it sets one value';
      box.append(keyed);
    }
    if (p.type === 'slider' || p.type === 'fixed') {
      const controls = slider(p, box);
      if (p.name === 'Time') timeControls(p, controls, box);
    } else if (p.type === 'popup') {
      popup(p, box);
    } else if (p.type === 'checkbox') {
      checkbox(p, box);
    } else if (p.type === 'path') {
      maskControls(box);
    } else {
      const note = document.createElement('span');
      note.className = 'note';
      note.textContent = p.type === 'layer' ? (state.layer || 'none') + ' (from the command line)' : 'not adjustable here';
      box.append(note);
    }
    form.append(box);
  }

  // --------------------------------------------------------------- layout

  function fit() {
    const stage = $('#stage');
    const s = Math.max(0.01, Math.min((stage.clientWidth - 16) / W, (stage.clientHeight - 16) / H));
    const wrap = $('#frame-wrap');
    wrap.style.width = W * s + 'px';
    wrap.style.height = H * s + 'px';
    drawMask();
  }
  $('#overlay').setAttribute('viewBox', '0 0 ' + W + ' ' + H);
  window.addEventListener('resize', fit);

  // ----------------------------------------------------------------- mask

  const overlay = $('#overlay');
  const pixelsPerScreen = () => W / Math.max(1, $('#frame-wrap').clientWidth);

  function circle(x, y, r, attrs) {
    const c = document.createElementNS(SVG, 'circle');
    c.setAttribute('cx', x);
    c.setAttribute('cy', y);
    c.setAttribute('r', r);
    for (const [k, v] of Object.entries(attrs)) c.setAttribute(k, v);
    return c;
  }

  function drawMask() {
    const d = maskData();
    $('#mask-path').setAttribute('d', d);
    $('#mask-hit').setAttribute('d', d);
    const vertices = $('#vertices');
    const handles = $('#handles');
    vertices.replaceChildren();
    handles.replaceChildren();
    if (!app.mask) return;
    const r = 5 * pixelsPerScreen();
    app.mask.vertices.forEach((v, i) => {
      vertices.append(circle(v[0], v[1], r, { 'data-index': i, class: i === app.selected ? 'selected' : '' }));
    });
    const v = app.mask.vertices[app.selected];
    if (!v) return;
    for (const [kind, dx, dy] of [['in', v[2], v[3]], ['out', v[4], v[5]]]) {
      if (dx === 0 && dy === 0) continue;
      const line = document.createElementNS(SVG, 'line');
      line.setAttribute('x1', v[0]);
      line.setAttribute('y1', v[1]);
      line.setAttribute('x2', v[0] + dx);
      line.setAttribute('y2', v[1] + dy);
      handles.append(line, circle(v[0] + dx, v[1] + dy, r * 0.8, { 'data-handle': kind }));
    }
  }

  function maskChanged() {
    app.maskEdited = true;
    drawMask();
    refresh();
  }

  function removeVertex(i) {
    if (!app.mask || i < 0 || i >= app.mask.vertices.length) return;
    app.mask.vertices.splice(i, 1);
    if (app.mask.vertices.length === 0) app.mask = null;
    app.selected = -1;
    maskChanged();
  }

  function toImage(event) {
    const p = overlay.createSVGPoint();
    p.x = event.clientX;
    p.y = event.clientY;
    const q = p.matrixTransform(overlay.getScreenCTM().inverse());
    return [q.x, q.y];
  }

  // The segment from vertex i, as its four control points.
  function segment(i) {
    const v = app.mask.vertices;
    const a = v[i];
    const b = v[(i + 1) % v.length];
    return [[a[0], a[1]], [a[0] + a[4], a[1] + a[5]], [b[0] + b[2], b[1] + b[3]], [b[0], b[1]]];
  }
  const lerp = (p, q, t) => [p[0] + (q[0] - p[0]) * t, p[1] + (q[1] - p[1]) * t];
  function bezier(c, t) {
    const q0 = lerp(c[0], c[1], t), q1 = lerp(c[1], c[2], t), q2 = lerp(c[2], c[3], t);
    const r0 = lerp(q0, q1, t), r1 = lerp(q1, q2, t);
    return { q0, q2, r0, r1, s: lerp(r0, r1, t) };
  }

  // A vertex where the outline passes nearest `at`, leaving its shape as it was.
  function addVertex(at) {
    const v = app.mask.vertices;
    const count = app.mask.closed ? v.length : v.length - 1;
    let best = { d: Infinity, i: -1, t: 0 };
    for (let i = 0; i < count; i++) {
      const c = segment(i);
      for (let k = 1; k < 64; k++) {
        const p = bezier(c, k / 64).s;
        const d = Math.hypot(p[0] - at[0], p[1] - at[1]);
        if (d < best.d) best = { d, i, t: k / 64 };
      }
    }
    if (best.i < 0) return;
    const a = v[best.i];
    const b = v[(best.i + 1) % v.length];
    const straight = a[4] === 0 && a[5] === 0 && b[2] === 0 && b[3] === 0;
    const c = segment(best.i);
    const split = bezier(c, best.t);
    const s = split.s;
    let vertex = [s[0], s[1], 0, 0, 0, 0];
    if (!straight) {
      a[4] = split.q0[0] - a[0];
      a[5] = split.q0[1] - a[1];
      b[2] = split.q2[0] - b[0];
      b[3] = split.q2[1] - b[1];
      vertex = [s[0], s[1], split.r0[0] - s[0], split.r0[1] - s[1], split.r1[0] - s[0], split.r1[1] - s[1]];
    }
    v.splice(best.i + 1, 0, vertex);
    app.selected = best.i + 1;
    maskChanged();
  }

  let drag = null;
  overlay.addEventListener('pointerdown', (event) => {
    const target = event.target;
    if (target.dataset.index !== undefined) {
      const i = Number(target.dataset.index);
      if (event.altKey) { removeVertex(i); return; }
      app.selected = i;
      drag = { kind: event.shiftKey ? 'pull' : 'vertex', i };
    } else if (target.dataset.handle !== undefined) {
      drag = { kind: target.dataset.handle, i: app.selected };
    } else if (target.id === 'mask-hit') {
      addVertex(toImage(event));
      return;
    } else {
      return;
    }
    overlay.setPointerCapture(event.pointerId);
    event.preventDefault();
    drawMask();
  });
  overlay.addEventListener('pointermove', (event) => {
    if (!drag) return;
    const [x, y] = toImage(event);
    const v = app.mask.vertices[drag.i];
    if (drag.kind === 'vertex') {
      v[0] = x;
      v[1] = y;
    } else if (drag.kind === 'in') {
      v[2] = x - v[0];
      v[3] = y - v[1];
    } else {
      // 'out', and 'pull': a smooth vertex, the in tangent opposite.
      v[4] = x - v[0];
      v[5] = y - v[1];
      if (drag.kind === 'pull') {
        v[2] = -v[4];
        v[3] = -v[5];
      }
    }
    maskChanged();
  });
  const endDrag = () => { drag = null; };
  overlay.addEventListener('pointerup', endDrag);
  overlay.addEventListener('pointercancel', endDrag);

  // --------------------------------------------------------------- header

  const draft = $('#draft');
  draft.value = String(app.downsample);
  draft.addEventListener('change', () => { app.downsample = Number(draft.value); refresh(); });

  $('#before-after').addEventListener('click', () => {
    app.view = app.view === 'output' ? 'input' : 'output';
    $('#before-after').textContent = 'Showing: ' + (app.view === 'output' ? 'after' : 'before');
    refresh();
  });

  if (state.view_transform.available) {
    $('#view-transform-box').hidden = false;
    $('#view-transform').checked = app.viewTransform;
    $('#view-transform').addEventListener('change', () => { app.viewTransform = $('#view-transform').checked; refresh(); });
  }

  if (state.frames.length > 1) {
    $('#frame-box').hidden = false;
    const slide = $('#frame');
    slide.max = String(state.frames.length - 1);
    slide.addEventListener('input', async () => {
      app.frameIndex = Number(slide.value);
      $('#frame-number').textContent = String(frame());
      if (state.mask_moves && !app.maskEdited) {
        // The command line's moving mask, where it is on this frame.
        const at = await getJson('/api/state?frame=' + frame());
        if (!app.maskEdited) { app.mask = at.mask; drawMask(); }
      }
      refresh();
    });
  }
  $('#frame-number').textContent = String(frame());

  $('#copy').addEventListener('click', async () => {
    const text = $('#command').value;
    try {
      await navigator.clipboard.writeText(text);
    } catch (e) {
      $('#command').select();
      document.execCommand('copy');
    }
    status('command line copied');
  });

  $('#save').addEventListener('click', async () => {
    status('saving…');
    const body = request({ format: $('#save-format').value, name: $('#save-name').value.trim() });
    const response = await fetch('/api/save', {
      method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body),
    });
    const j = await response.json();
    status(response.ok ? 'saved ' + j.file : j.error);
  });

  fit();
  refresh();
})().catch((e) => {
  document.getElementById('status').textContent = String(e);
});
