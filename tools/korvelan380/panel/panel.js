// The panel's page: every control is a call on the panel's JSON API, and every read-back is
// refreshed from it.
'use strict';

// The token comes in the address; it is kept for this tab only and taken out of the address
// bar, so that it stays out of the history, bookmarks and screenshots.
const token = new URLSearchParams(location.search).get('token') || sessionStorage.getItem('korvelan380-token') || '';
sessionStorage.setItem('korvelan380-token', token);
history.replaceState(null, '', location.pathname);
const $ = (id) => document.getElementById(id);
let info = null;
let ranges = [];
let lastWave = null;

// ---- the API, and its failures shown with the library's status and meaning ----

async function api(endpoint, body) {
  const options = { method: body === undefined ? 'GET' : 'POST', headers: { 'X-Korvelan380-Token': token } };
  if (body !== undefined) {
    options.headers['Content-Type'] = 'application/json';
    options.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch('/api/' + endpoint, options);
  } catch (e) {
    showError(options.method, endpoint, { message: 'the panel does not answer: is korvelan380 panel still running?' });
    throw e;
  }
  const doc = await response.json().catch(() => ({ error: { message: 'HTTP ' + response.status } }));
  if (!response.ok) {
    showError(options.method, endpoint, doc.error || { message: 'HTTP ' + response.status });
    throw new Error(doc.error ? doc.error.message : 'HTTP ' + response.status);
  }
  return doc;
}

function showError(method, endpoint, error) {
  let text = method + ' /api/' + endpoint + ': ' + error.message;
  if (error.call) text += '\n' + error.call + ' returned status ' + error.status + ': ' + error.meaning;
  if (error.hint) text += '\n' + error.hint;
  const box = $('errors');
  for (const old of box.children) if (old.dataset.text === text) old.remove();
  const div = document.createElement('div');
  div.className = 'error';
  div.dataset.text = text;
  div.textContent = text;
  const close = document.createElement('button');
  close.textContent = 'dismiss';
  close.addEventListener('click', () => div.remove());
  div.prepend(close);
  box.prepend(div);
  while (box.children.length > 5) box.lastChild.remove();
}

// Runs an action; its failure is shown already, so it is only kept from the console here.
function act(promise) {
  promise.catch(() => {});
}

function el(tag, attributes, ...children) {
  const e = document.createElement(tag);
  Object.assign(e, attributes || {});
  for (const c of children) e.append(c);
  return e;
}

function fmtVolts(v) {
  return v === null || v === undefined ? '–' : (Math.round(v * 1e6) / 1e6) + ' V';
}

function hex(v, digits) {
  return '0x' + v.toString(16).toUpperCase().padStart(digits, '0');
}

function editing(input) {
  return document.activeElement === input;
}

// ---- outputs: range, volts, read-back, configuration ----

function buildChannel(fs) {
  const ch = Number(fs.dataset.channel);
  const rangeSelect = el('select', { id: 'range-' + ch });
  for (const r of ranges) rangeSelect.append(el('option', { value: r.index, textContent: r.name }));
  rangeSelect.addEventListener('change', () =>
    act(api('range', { channel: ch, range: Number(rangeSelect.value) }).then(refreshOutputs)));
  const slider = el('input', { type: 'range', id: 'out-slider-' + ch });
  const entry = el('input', { type: 'number', step: 'any', id: 'out-volts-' + ch, size: 8 });
  const set = el('button', { type: 'button', id: 'out-set-' + ch, textContent: 'Set' });
  slider.addEventListener('input', () => { entry.value = slider.value; });
  slider.addEventListener('change', () => setVolts(ch, Number(slider.value)));
  set.addEventListener('click', () => setVolts(ch, Number(entry.value)));
  entry.addEventListener('keydown', (e) => { if (e.key === 'Enter') setVolts(ch, Number(entry.value)); });
  // What the user typed stays until it is set: a refresh landing between the focus moving to
  // Set and the click would otherwise put the read-back in its place, and set that instead.
  entry.addEventListener('input', () => { entry.dataset.typed = '1'; });

  const config = el('div', { className: 'config' });
  const fields = [['mode', 3], ['select_a', 2], ['select_b', 2], ['switch_a', 1], ['switch_b', 1], ['preset_enable', 1]];
  for (const [name, max] of fields) {
    const s = el('select', { id: 'cfg-' + name + '-' + ch, name });
    for (let v = 0; v <= max; v++) s.append(el('option', { value: v, textContent: v }));
    config.append(el('label', { textContent: name.replace('_', ' ') + ' ' }, s));
  }
  config.append(el('label', { textContent: 'preset V ' },
    el('input', { type: 'number', step: 'any', id: 'cfg-preset-' + ch, size: 8 })));
  config.append(el('label', { textContent: 'mode parameter ' },
    el('input', { type: 'number', min: 0, max: 65535, id: 'cfg-param-' + ch, size: 8 })));
  const configure = el('button', { type: 'button', textContent: 'Configure', id: 'cfg-set-' + ch });
  configure.addEventListener('click', () => configureChannel(ch));
  config.append(configure, el('div', { className: 'readback', id: 'cfg-read-' + ch }));

  fs.append(el('legend', { textContent: 'channel ' + ch }),
    el('label', { textContent: 'range ' }, rangeSelect),
    el('label', { textContent: 'output ' }, slider),
    el('label', { textContent: 'volts ' }, entry, ' ', set),
    el('div', { className: 'readback', id: 'out-read-' + ch, textContent: '–' }),
    el('details', {}, el('summary', { textContent: 'configuration' }), config));
}

function setVolts(ch, volts) {
  act(api('output', { channel: ch, volts }).then((doc) => showOutput(doc.output, true)));
}

function showOutput(o, force) {
  const ch = o.channel;
  const range = ranges[o.range.index];
  const rangeSelect = $('range-' + ch);
  if (!editing(rangeSelect)) rangeSelect.value = o.range.index;
  const slider = $('out-slider-' + ch);
  const entry = $('out-volts-' + ch);
  if (range) {
    slider.min = range.low;
    slider.max = range.high;
    slider.step = range.step;
  }
  const typed = entry.dataset.typed === '1';
  if (o.volts !== null && (force || (!editing(slider) && !editing(entry) && !typed))) {
    slider.value = o.volts;
    entry.value = Math.round(o.volts * 1e6) / 1e6;
    delete entry.dataset.typed;
  }
  $('out-read-' + ch).textContent = 'read back: ' + fmtVolts(o.volts) + '  raw ' +
    (o.raw === null ? '–' : o.raw + ' (' + hex(o.raw, 4) + ')') + '  code ' + hex(o.code, 4) +
    '  range ' + (o.range.name || 'unknown ' + o.range.index);
}

async function refreshOutputs() {
  const doc = await api('output');
  for (const o of doc.channels) showOutput(o, false);
}

// The selectors and switches each mode uses (the others are always on the page): the panel
// refuses a value the library would not send. A preset or mode parameter typed in is sent, and
// refused with the reason where the mode or preset enable leaves it unused.
const modeFields = [[], ['select_a', 'select_b', 'switch_a', 'switch_b'],
  ['select_a', 'select_b', 'switch_b'], ['select_a', 'select_b']];

function configureChannel(ch) {
  const mode = Number($('cfg-mode-' + ch).value);
  const body = { channel: ch, mode, preset_enable: Number($('cfg-preset_enable-' + ch).value) };
  for (const name of modeFields[mode]) body[name] = Number($('cfg-' + name + '-' + ch).value);
  const preset = $('cfg-preset-' + ch).value;
  if (preset !== '') body.preset_volts = Number(preset);
  const param = $('cfg-param-' + ch).value;
  if (param !== '') body.mode_parameter = Number(param);
  act(api('channel', body).then((doc) => showSettings(ch, doc.settings)));
}

function showSettings(ch, s) {
  $('cfg-read-' + ch).textContent = 'reads back: mode ' + s.mode + ', select A ' + s.select_a +
    ', select B ' + s.select_b + ', switch A ' + s.switch_a + ', switch B ' + s.switch_b +
    ', preset enable ' + s.preset_enable + ', preset ' +
    (s.preset ? 'raw ' + s.preset.raw + ' (' + fmtVolts(s.preset.volts) + ')' : '–') +
    ', mode parameter ' + hex(s.mode_parameter, 4);
}

async function refreshSettings() {
  const doc = await api('channel');
  doc.channels.forEach((s, ch) => showSettings(ch, s));
}

// ---- waveform ----

function waveSource() {
  return $('wave-form').elements.source.value;
}

async function waveBody(load) {
  const f = $('wave-form').elements;
  const body = { channel: Number(f.channel.value), clip: f.clip.checked };
  if (load) body.load = load;
  if (waveSource() === 'csv') {
    const file = f.file.files[0];
    if (!file) throw new Error('pick a CSV file first');
    body.csv = await file.text();
    if (f.column.value !== '') body.column = f.column.value;
    body.units = f.units.value;
  } else {
    body.shape = waveSource();
    body.samples = Number(f.samples.value);
    body.cycles = Number(f.cycles.value);
    if (f.amplitude.value !== '') body.amplitude = Number(f.amplitude.value);
    if (f.offset.value !== '') body.offset = Number(f.offset.value);
  }
  return body;
}

async function wave(load) {
  let body;
  try {
    body = await waveBody(load);
  } catch (e) {
    showError('POST', 'wave', { message: e.message });
    return;
  }
  const doc = await api('wave', body);
  plotWave(doc);
  if (load) refreshControls().catch(() => {});
}

function plotWave(doc) {
  lastWave = doc;
  const clipped = new Set(doc.clipped);
  // Codes for a channel whose range register reads no range have no limits, nor volts.
  const limits = doc.limits || { low: null, high: null };
  const data = doc.volts.map((v, i) => [i, v, clipped.has(i) ? v : null, limits.low, limits.high]);
  $('wave-summary').textContent = doc.count + ' samples (' + doc.units + ') for channel ' + doc.channel +
    ' in range ' + (doc.range.name || 'none') +
    (doc.limits ? ' (' + fmtVolts(limits.low) + ' to ' + fmtVolts(limits.high) + ')' : '') + '; ' +
    (doc.clipped.length ? doc.clipped.length + ' outside the limits (red)' : 'none outside the limits') +
    (doc.loaded ? '; loaded into the ' + doc.loaded : '; not loaded');
  const dashed = [6, 4];
  const options = {
    labels: ['sample', 'volts', 'outside the range', 'low limit', 'high limit'],
    xlabel: 'sample', ylabel: 'volts',
    colors: ['#1565c0', '#d00', '#a33', '#a33'],
    series: {
      'outside the range': { strokeWidth: 0, drawPoints: true, pointSize: 3 },
      'low limit': { strokePattern: dashed, strokeWidth: 1 },
      'high limit': { strokePattern: dashed, strokeWidth: 1 },
    },
    legend: 'always',
    labelsDiv: $('wave-legend'),
  };
  if (plotWave.graph) {
    plotWave.graph.updateOptions(Object.assign({ file: data }, options));
  } else {
    plotWave.graph = new Dygraph($('wave-plot'), data, options);
  }
}

// ---- FIFO, trigger, gates, selections, EXIO input ----

function buildControls() {
  for (let ch = 0; ch < 3; ch++) {
    if (ch < 2) {
      const clear = el('button', { type: 'button', textContent: 'clear' });
      clear.addEventListener('click', () => act(api('fifo', { action: 'clear', channel: ch }).then(showFifo)));
      $('fifo-' + ch).append(el('span', { id: 'fifo-text-' + ch }), ' ', clear);
    }
    const start = el('button', { type: 'button', textContent: 'start', id: 'trig-start-' + ch });
    const stop = el('button', { type: 'button', textContent: 'stop', id: 'trig-stop-' + ch });
    start.addEventListener('click', () => act(api('trigger', { channel: ch, trigger: 'start' }).then(showTrigger)));
    stop.addEventListener('click', () => act(api('trigger', { channel: ch, trigger: 'stop' }).then(showTrigger)));
    $('trig-' + ch).append(el('span', { id: 'trig-text-' + ch }), ' ', start, stop);
    const gate = el('input', { type: 'checkbox', id: 'gate-box-' + ch });
    gate.addEventListener('change', () => act(api('trigger', { channel: ch, gate: gate.checked }).then(showTrigger)));
    $('gate-' + ch).append(el('label', {}, gate, ' open'));
  }
  for (const [which, max] of [['ext', 4], ['exio', 6]]) {
    const low = $(which + '-low');
    const high = $(which + '-high');
    for (const s of [low, high]) {
      for (let v = 0; v <= max; v++) s.append(el('option', { value: v, textContent: v }));
      s.addEventListener('change', () => act(api('select',
        { which, low: Number(low.value), high: Number(high.value) }).then(showSelect)));
    }
  }
}

function showFifo(doc) {
  for (const f of doc.fifo) {
    $('fifo-text-' + f.channel).textContent = 'counter ' + f.counter + ', flags ' + f.flag7 + ' ' + f.flag6;
  }
}

function showTrigger(doc) {
  doc.trigger.forEach((t, ch) => { $('trig-text-' + ch).textContent = t ? 'running' : 'stopped'; });
  $('trig-text-2').textContent = '(as channel 0)';
  doc.gate.forEach((g, ch) => {
    const box = $('gate-box-' + ch);
    if (!editing(box)) box.checked = g === 1;
  });
}

function showSelect(doc) {
  for (const which of ['ext', 'exio']) {
    for (const side of ['low', 'high']) {
      const s = $(which + '-' + side);
      if (!editing(s)) s.value = doc[which][side];
    }
  }
  $('exio-in').textContent = hex(doc.exio_input, 2) + ' (0b' + doc.exio_input.toString(2).padStart(8, '0') + ')';
}

async function refreshControls() {
  showFifo(await api('fifo'));
  showTrigger(await api('trigger'));
  showSelect(await api('select'));
}

// ---- digital I/O ----

function buildDio() {
  const head = document.querySelector('#dio-table thead tr');
  for (let bit = 0; bit < 8; bit++) {
    head.append(el('th', { textContent: bit }));
    for (const row of ['dir', 'out']) {
      const box = el('input', { type: 'checkbox', id: 'dio-' + row + '-' + bit });
      box.addEventListener('change', () => writeDio(row));
      $('dio-' + row).append(el('td', {}, box));
    }
    $('dio-in').append(el('td', {}, el('span', { className: 'lamp', id: 'dio-in-' + bit })));
  }
}

function dioByte(row) {
  let byte = 0;
  for (let bit = 0; bit < 8; bit++) if ($('dio-' + row + '-' + bit).checked) byte |= 1 << bit;
  return byte;
}

function writeDio(row) {
  const body = row === 'dir' ? { direction: dioByte('dir') } : { output: dioByte('out') };
  act(api('dio', body).then(showDio));
}

function showDio(doc) {
  for (let bit = 0; bit < 8; bit++) {
    $('dio-dir-' + bit).checked = (doc.direction >> bit & 1) === 1;
    $('dio-out-' + bit).checked = (doc.output >> bit & 1) === 1;
    $('dio-in-' + bit).classList.toggle('on', (doc.input >> bit & 1) === 1);
  }
}

// ---- calibration ----

let calibDocument = null;

async function refreshCalib() {
  const doc = await api('calib');
  calibDocument = doc.document;
  showCalib(doc.entries);
  $('calib-summary').textContent = doc.summary;
  $('never-calibrated').hidden = !doc.never_calibrated;
  $('adjust-command').textContent = doc.adjust_command;
}

function showCalib(entries) {
  const body = document.querySelector('#calib-table tbody');
  body.replaceChildren();
  for (const e of entries) {
    body.append(el('tr', {},
      el('td', { textContent: e.entry }), el('td', { textContent: e.channel }),
      el('td', { textContent: e.range }), el('td', { textContent: e.gain === null ? 'not a number' : e.gain }),
      el('td', { textContent: e.gain_bits }), el('td', { textContent: e.offset }),
      el('td', { textContent: e.ideal ? 'ideal' : '' })));
  }
}

function exportCalib() {
  const blob = new Blob([JSON.stringify(calibDocument, null, 2) + '\n'], { type: 'application/json' });
  const a = el('a', { href: URL.createObjectURL(blob), download: 'korvelan380-' + info.device + '-calibration.json' });
  document.body.append(a);
  a.click();
  a.remove();
}

async function importCalib(file) {
  let calibration;
  try {
    calibration = JSON.parse(await file.text());
  } catch (e) {
    showError('POST', 'calib', { message: file.name + ' is not valid JSON: nothing was changed' });
    return;
  }
  $('confirm-text').textContent = 'Import the calibration in ' + file.name + ' into module ' + info.device +
    '? Storing it in the EEPROM replaces the calibration kept in the module.';
  $('confirm').hidden = false;
  const choice = await new Promise((resolve) => {
    $('confirm-session').onclick = () => resolve('session');
    $('confirm-store').onclick = () => resolve('store');
    $('confirm-cancel').onclick = () => resolve('cancel');
  });
  $('confirm').hidden = true;
  $('calib-file').value = '';
  if (choice === 'cancel') return;
  act(api('calib', { document: calibration, save: choice === 'store' }).then(refreshCalib));
}

// ---- guided calibration: the panel keeps the adjustment, the page shows where it stands ----

let adjustment = null;

function fmtError(mv, lsb) {
  return mv.toFixed(3) + ' mV (' + lsb.toFixed(2) + ' LSB)';
}

function showAdjust(doc) {
  adjustment = doc;
  const awaited = doc.awaited;
  $('adjust-point').hidden = !awaited;
  if (awaited) {
    const a = awaited.adjust;
    const point = a.points[awaited.point];
    const taken = a.points.slice(0, awaited.point).map((p) => fmtVolts(p.reading_volts));
    $('adjust-prompt').textContent = 'Pair ' + (awaited.pair + 1) + ' of ' + doc.pairs.length +
      ': channel ' + a.channel + ', range ' + a.range + '. Point ' + awaited.point +
      ' of 0 to 2: code ' + hex(point.code, 4) + ' is on the output; an ideal module puts out ' +
      fmtVolts(point.expected_volts) + '. Type what the meter reads' +
      (taken.length ? ' (readings so far: ' + taken.join(', ') + ')' : '') + '.';
  }
  // The simulated module has no meter on it: it says what its output puts out.
  const simulated = awaited && awaited.simulated_reading !== null;
  $('adjust-simulated').hidden = !simulated;
  if (simulated) $('adjust-simulated').textContent = 'Type the simulated output\'s ' + fmtVolts(awaited.simulated_reading);
  const body = document.querySelector('#adjust-fits tbody');
  body.replaceChildren();
  for (const f of doc.fits) {
    body.append(el('tr', {},
      el('td', { textContent: f.channel }), el('td', { textContent: f.range }),
      el('td', { textContent: f.old.gain + ' → ' + f.new.gain }),
      el('td', { textContent: f.old.offset + ' → ' + f.new.offset }),
      ...f.points.map((p) => el('td', { textContent: fmtError(p.error_mv, p.error_lsb) }))));
  }
  $('adjust-fits').hidden = doc.fits.length === 0;
  $('adjust-end').hidden = !doc.active;
  $('adjust-keep').disabled = !doc.finished;
  let outcome = '';
  if (doc.finished) outcome = 'Every pair is measured: keep it or throw it away.';
  if (!doc.active && doc.outcome) {
    outcome = 'Calibration ' + doc.adjustment + ' ' + doc.outcome +
      (doc.history ? ': stored in the EEPROM, its record in ' + doc.history : '') + '.';
  }
  $('adjust-outcome').textContent = outcome;
}

// A failure is shown in the section too; a request another tab overtook (409) shows where the
// adjustment stands now.
async function adjustAction(body) {
  $('adjust-refused').textContent = '';
  try {
    showAdjust(await api('adjust', body));
  } catch (e) {
    $('adjust-refused').textContent = e.message;
    showAdjust(await api('adjust'));
    throw e;
  }
}

function startAdjust() {
  const f = $('adjust-form').elements;
  const body = { action: 'start' };
  if (f.channel.value !== 'all') body.channel = Number(f.channel.value);
  if (f.range.value !== 'all') body.range = Number(f.range.value);
  act(adjustAction(body).then(refreshCalib));
}

function sendReading() {
  const a = adjustment.awaited;
  const text = $('adjust-volts').value;
  if (text === '' || !Number.isFinite(Number(text))) {
    $('adjust-refused').textContent = 'type the reading in volts, such as -8.0012';
    return;
  }
  act(adjustAction({ action: 'reading', adjustment: adjustment.adjustment, pair: a.pair, point: a.point,
    volts: Number(text) }).then(() => { $('adjust-volts').value = ''; $('adjust-volts').focus(); }));
}

function endAdjust(action) {
  act(adjustAction({ action, adjustment: adjustment.adjustment }).then(refreshCalib));
}

function buildAdjust() {
  const range = $('adjust-form').elements.range;
  for (const r of ranges) range.append(el('option', { value: r.index, textContent: r.name }));
  $('adjust-start').addEventListener('click', startAdjust);
  $('adjust-send').addEventListener('click', sendReading);
  $('adjust-simulated').addEventListener('click', () => {
    $('adjust-volts').value = adjustment.awaited.simulated_reading;
  });
  $('adjust-volts').addEventListener('keydown', (e) => { if (e.key === 'Enter') sendReading(); });
  $('adjust-keep').addEventListener('click', () => endAdjust('keep'));
  $('adjust-discard').addEventListener('click', () => endAdjust('discard'));
}

// ---- wire log ----

async function refreshWire() {
  const doc = await api('wire');
  const log = $('wire-log');
  const atBottom = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  log.textContent = doc.lines.map((l) =>
    l.call.padEnd(22) + l.frame.padEnd(26) + l.meaning + (l.repeat ? ' (x' + l.repeat + ')' : '') +
    (l.status ? '  status ' + l.status : '')).join('\n');
  if (atBottom) log.scrollTop = log.scrollHeight;
}

// ---- start ----

function every(ms, fn) {
  const run = () => fn().catch(() => {}).finally(() => setTimeout(run, ms));
  run();
}

async function start() {
  info = await api('info');
  ranges = info.ranges;
  $('module').textContent = 'module ' + info.device + ' (serial ' + info.serial + '), library ' + info.version;
  $('latency').textContent = 'latency timer: ' + info.latency.detail;
  $('simulated').hidden = !info.simulated;
  if (info.simulated) document.title = 'korvelan380 panel (simulated)';
  document.querySelectorAll('.channel').forEach(buildChannel);
  buildControls();
  buildDio();
  buildAdjust();
  $('wave-form').elements.source.addEventListener('change', () => {
    const csv = waveSource() === 'csv';
    document.querySelectorAll('#wave-form .gen').forEach((e) => { e.hidden = csv; });
    document.querySelectorAll('#wave-form .csv').forEach((e) => { e.hidden = !csv; });
  });
  $('wave-preview').addEventListener('click', () => act(wave(null)));
  $('wave-memory').addEventListener('click', () => act(wave('memory')));
  $('wave-fifo').addEventListener('click', () => act(wave('fifo')));
  $('calib-export').addEventListener('click', exportCalib);
  $('calib-file').addEventListener('change', (e) => { if (e.target.files[0]) importCalib(e.target.files[0]); });
  every(1000, refreshOutputs);
  every(1000, async () => showDio(await api('dio')));
  every(1500, refreshControls);
  every(5000, refreshSettings);
  act(refreshCalib());
  act(api('adjust').then(showAdjust));
  act(wave(null));
  if (info.simulated) {
    $('wire').hidden = false;
    every(2000, refreshWire);
  }
  document.body.dataset.ready = 'yes';
}

start().catch(() => { $('module').textContent = 'the panel could not start: see the message below'; });
