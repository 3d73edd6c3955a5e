'use strict';
// The page of `vxdiag serve`. Every action is one step of vxdiag's, sent to
// the server that runs it through the core (POST /api/step) and answers with
// the verdict and facts vxdiag's own lines show. The token of the address
// goes with every call; the session id says this page owns the device.
const token = new URLSearchParams(location.search).get('token') || '';
const byId = (id) => document.getElementById(id);
let session = '';
let busy = false;
let rows = [];

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

async function call(path, body) {
  const response = await fetch(path, {
    method: 'POST',
    headers: { 'Content-Type': 'application/json', 'X-Vxdiag-Token': token, 'X-Vxdiag-Session': session },
    body: JSON.stringify(body || {}),
    keepalive: path === '/api/release',
  });
  let data;
  try { data = await response.json(); } catch (error) { data = { error: `no answer (HTTP ${response.status})` }; }
  data.httpStatus = response.status;
  return data;
}

function showBanner(text) {
  byId('banner-text').textContent = text;
  byId('banner').hidden = !text;
}

async function claim() {
  const answer = await call('/api/claim');
  if (answer.session) {
    session = answer.session;
    showBanner('');
    return true;
  }
  showBanner(answer.httpStatus === 409 ? 'The device is in use by another page of this server.' : answer.error);
  if (answer.httpStatus === 409) byId('state').textContent = 'device in use';
  return false;
}

// One line as vxdiag prints it: the verdict, the call, the facts, the time.
function recordLine(record) {
  const line = element('div');
  line.append(element('span', `verdict ${record.verdict}`, record.verdict), `${record.call}  `);
  line.append(record.facts.join(', '));
  if (record.verdict !== 'ok' && record.reason && !record.facts.some((f) => f.includes(record.reason))) {
    line.append(`, ${record.reason}`);
  }
  line.append(`  (${record.seconds.toFixed(2)} s)`);
  return line;
}

function showRecord(target, record) {
  const box = byId(target);
  box.replaceChildren();
  if (record.error) {
    box.append(element('div', 'verdict fail', record.error));
    return;
  }
  box.append(recordLine(record));
  for (const detail of record.details.concat(record.notes)) box.append(element('div', 'details', detail));
}

function setDeviceState(open) {
  const state = byId('state');
  state.textContent = open ? 'device open' : 'device closed';
  state.classList.toggle('open', open);
  byId('close').disabled = !open;
}

// A step of the owner. Only one runs at a time from this page; the server
// runs it to its end even if the page goes away meanwhile.
async function step(text, extra, progress) {
  if (busy) return null;
  busy = true;
  document.body.classList.add('running');
  byId('busy').hidden = false;
  byId('busy').textContent = `running ${text.split(':')[0]}…`;
  const started = performance.now();
  const timer = progress ? setInterval(() => progress((performance.now() - started) / 1000), 100) : null;
  let record;
  try {
    record = await call('/api/step', Object.assign({ step: text }, extra || {}));
    if (record.httpStatus === 409) showBanner(record.error);
    if (record.verdict) setDeviceState(record.deviceOpen);
    if (record.verdict && text !== 'log') {
      const item = element('li');
      item.append(recordLine(record));
      byId('steps').append(item);
      byId('steps').scrollTop = byId('steps').scrollHeight;
    }
  } finally {
    if (timer) clearInterval(timer);
    busy = false;
    document.body.classList.remove('running');
    byId('busy').hidden = true;
  }
  if (text !== 'log') await refreshLog();
  return record;
}

async function refreshLog() {
  const record = await step('log');
  if (!record || record.text === undefined) return;
  const pane = byId('log-pane');
  if (pane.textContent === record.text) return;
  pane.textContent = record.text;
  if (byId('follow').checked) pane.scrollTop = pane.scrollHeight;
}

// Check VCI: the registered PassThru libraries and the bundled one.
let vciChoice = '';
async function checkVci() {
  const record = await step('devices');
  if (!record || record.error) return showRecord('vci-result', record || { error: 'busy' });
  const list = byId('vci-list');
  list.replaceChildren();
  const choices = [{ key: '', label: 'Simulated VCI (bundled with vxdiag)' }];
  for (const device of (record.result && record.result.devices) || []) {
    choices.push({ key: device.key, label: `${device.name}  (${device.dll})` });
  }
  choices.forEach((choice, index) => {
    const item = element('li');
    const input = element('input');
    input.type = 'radio';
    input.name = 'vci';
    input.value = choice.key;
    input.checked = index === 0;
    input.addEventListener('change', () => { vciChoice = choice.key; });
    const label = element('label');
    label.append(input, ` ${choice.label}`);
    item.append(label);
    list.append(item);
  });
  vciChoice = '';
  byId('open').disabled = false;
  showRecord('vci-result', record);
}

function initProgress(seconds) {
  byId('progress-bar').value = Math.min(seconds, 2.2);
  byId('progress-text').textContent = `waking the ECU: ${seconds.toFixed(1)} s of about 2 s`;
}

async function initialise() {
  byId('progress').hidden = false;
  initProgress(0);
  const record = await step(`init:${byId('address').value.trim()}`, null, initProgress);
  byId('progress').hidden = true;
  if (record) showRecord('link-result', record);
}

async function readBattery() {
  const record = await step('battery');
  if (!record) return null;
  showRecord('link-result', record);
  const volts = record.result && record.result.available ? record.result.vbattMilliV / 1000 : null;
  byId('battery-value').textContent = volts === null ? 'not available' : `${volts.toFixed(1)} V`;
  return volts;
}

async function readFaults() {
  const record = await step('faults');
  if (!record) return;
  showRecord('faults-result', record);
  const list = byId('fault-codes');
  list.replaceChildren();
  if (record.troubleCodes === null || record.troubleCodes === undefined) {
    const silent = !(record.result && record.result.rx && record.result.rx.length);
    list.append(element('li', 'unknown', silent ? 'no reply' : 'fault memory unknown'));
  } else if (record.troubleCodes.length === 0) {
    list.append(element('li', 'none', 'no stored trouble codes'));
  } else {
    for (const code of record.troubleCodes) list.append(element('li', '', code));
  }
}

// Rows: one per mapped function, from the file the user gives.
const rowSteps = ['safe-function', 'actuator', 'clear-faults'];

function kwp71Block(type, payload) {
  const bytes = (payload || '').trim().split(/\s+/).filter(Boolean).map((b) => b.toUpperCase());
  const length = (3 + bytes.length).toString(16).toUpperCase().padStart(2, '0');
  return [length, 'NN', (type || '').toUpperCase()].concat(bytes, ['03']).join(' ');
}

// The frames a row sends, as exactly as the page knows them: the core adds
// only the KWP71 block counter (NN).
function framesOf(row) {
  const r = row.request;
  const counter = '  (NN: the block counter the core keeps)';
  if (row.step === 'safe-function') {
    const lines = [`start  ${r.startHex || '(none)'}`];
    if (r.stopHex) lines.push(`stop   ${r.stopHex}  after ${r.maxRunMs === undefined ? "the core's run time" : `${r.maxRunMs} ms`}`);
    return lines.join('\n');
  }
  if (row.step === 'actuator') return r.startHex ? `block  ${r.startHex}` : `block  ${kwp71Block(r.commandType, r.payloadHex)}${counter}`;
  if (r.clearHex || r.startHex) return `clear  ${r.clearHex || r.startHex}${r.stopHex ? `\nstop   ${r.stopHex}` : ''}`;
  return `block  ${kwp71Block(r.commandType, r.payloadHex)}${counter}`;
}

function confirmRow(row) {
  byId('confirm-title').textContent = `${row.label}: ${row.step}`;
  byId('confirm-frames').textContent = framesOf(row);
  const dialog = byId('confirm');
  return new Promise((resolve) => {
    const done = (answer) => () => { dialog.close(); resolve(answer); };
    byId('confirm-send').onclick = done(true);
    byId('confirm-cancel').onclick = done(false);
    dialog.oncancel = done(false);
    dialog.showModal();
  });
}

async function runRow(row, resultCell) {
  if (!(await confirmRow(row))) return;
  const record = await step(`${row.step}:${JSON.stringify(row.request)}`);
  if (!record) return;
  resultCell.replaceChildren();
  if (record.error) {
    resultCell.append(element('span', 'verdict fail', record.error));
    return;
  }
  resultCell.append(recordLine(record));
  if (record.result && record.result.fallbackReason) {
    resultCell.append(element('div', 'fallback', `probe fallback: ${record.result.fallbackReason}`));
  }
  showRecord('rows-result', record);
}

function readRows(text) {
  const data = JSON.parse(text);
  const list = Array.isArray(data) ? data : data.rows;
  if (!Array.isArray(list)) throw new Error('the file holds no "rows" list');
  return list.map((row, index) => {
    if (!row || !rowSteps.includes(row.step) || typeof row.request !== 'object' || row.request === null) {
      throw new Error(`row ${index + 1}: needs "step" (${rowSteps.join(', ')}) and a "request" object`);
    }
    return { label: String(row.label || row.request.name || row.step), step: row.step, request: row.request };
  });
}

function rowButton(row, resultCell) {
  const button = element('button', 'danger', row.step === 'clear-faults' ? 'Clear…' : 'Run…');
  button.addEventListener('click', () => runRow(row, resultCell));
  return button;
}

function showRows() {
  const body = byId('rows-table').querySelector('tbody');
  body.replaceChildren();
  const clearBox = byId('clear-rows');
  clearBox.replaceChildren();
  for (const row of rows) {
    const tr = element('tr');
    const result = element('td');
    const cells = [element('td', '', row.label), element('td', '', row.step), element('td', 'frames', framesOf(row))];
    const action = element('td');
    action.append(rowButton(row, result));
    tr.append(...cells, action, result);
    body.append(tr);
    if (row.step === 'clear-faults') {
      const line = element('div', 'row');
      const clearResult = element('span');
      line.append(rowButton(row, clearResult), element('span', 'hint', `${row.label}: ${framesOf(row)}`), clearResult);
      clearBox.append(line);
    }
  }
}

async function loadRows(file) {
  try {
    rows = readRows(await file.text());
    showRows();
    byId('rows-result').textContent = `${rows.length} rows from ${file.name}`;
  } catch (error) {
    byId('rows-result').replaceChildren(element('span', 'verdict fail', `${file.name}: ${error.message}`));
  }
}

// Live data: the supported PIDs, and over time the battery voltage and the
// values the core answers (it answers values when its simulation is on).
const live = { timer: null, times: [], series: new Map(), plot: null, names: '' };

function plotData() {
  const names = [...live.series.keys()];
  if (typeof uPlot === 'undefined') {
    byId('plot').textContent = 'the plot library was not bundled into this vxdiag';
    return;
  }
  if (names.join('|') !== live.names) {
    if (live.plot) live.plot.destroy();
    const colours = ['#0969da', '#cf222e', '#1a7f37', '#9a6700', '#8250df', '#bf3989'];
    live.plot = new uPlot({
      width: Math.max(byId('live').clientWidth - 40, 300), height: 220,
      series: [{}].concat(names.map((name, i) => ({ label: name, stroke: colours[i % colours.length], width: 2 }))),
      axes: [{}, {}],
    }, [[]], byId('plot'));
    live.names = names.join('|');
  }
  live.plot.setData([live.times].concat(names.map((name) => live.series.get(name))));
}

function addSample(name, value) {
  // A new series has no value at the earlier times (this sample's time is in).
  if (!live.series.has(name)) live.series.set(name, live.times.slice(1).map(() => null));
  live.series.get(name).push(value);
}

async function liveTick() {
  if (busy) return;
  const record = await step('live-data');
  if (!record || !record.verdict) return;
  if (record.supportedPids) {
    byId('pids').textContent = `supported PIDs: ${record.supportedPids.map((p) => p.toString(16).toUpperCase().padStart(2, '0')).join(' ')}`;
  } else if (!(record.result && record.result.values)) {
    byId('pids').textContent = record.facts.join(', ');
  }
  const volts = await readBattery();
  live.times.push(Date.now() / 1000);
  const seen = new Set();
  if (volts !== null) { addSample('Battery (V)', volts); seen.add('Battery (V)'); }
  for (const value of (record.result && record.result.values) || []) {
    const number = parseFloat(value.value);
    if (Number.isNaN(number)) continue;
    const name = `${value.name} (${value.unit})`;
    addSample(name, number);
    seen.add(name);
  }
  for (const [name, values] of live.series) if (!seen.has(name)) values.push(null);
  byId('live-values').textContent = `${live.times.length} samples`;
  plotData();
}

function startLive() {
  byId('live-start').disabled = true;
  byId('live-stop').disabled = false;
  liveTick();
  live.timer = setInterval(liveTick, 1000);
}

function stopLive() {
  clearInterval(live.timer);
  live.timer = null;
  byId('live-start').disabled = false;
  byId('live-stop').disabled = true;
}

function downloadLog() {
  const blob = new Blob([byId('log-pane').textContent], { type: 'text/plain' });
  const link = element('a');
  link.href = URL.createObjectURL(blob);
  link.download = `vxdiag-raw-log-${new Date().toISOString().replace(/[:.]/g, '-')}.txt`;
  link.click();
  URL.revokeObjectURL(link.href);
}

function wire() {
  byId('retry').addEventListener('click', claim);
  byId('check-vci').addEventListener('click', checkVci);
  byId('open').addEventListener('click', async () => {
    const record = await step('open', vciChoice ? { device: vciChoice } : {});
    if (record) showRecord('vci-result', record);
  });
  byId('close').addEventListener('click', async () => {
    stopLive();
    const record = await step('close');
    if (record) showRecord('vci-result', record);
  });
  byId('connect').addEventListener('click', async () => {
    const record = await step(`connect:${byId('baud').value.trim()}`);
    if (record) showRecord('link-result', record);
  });
  byId('init').addEventListener('click', initialise);
  byId('battery').addEventListener('click', readBattery);
  byId('read-faults').addEventListener('click', readFaults);
  byId('rows-file').addEventListener('change', (event) => { if (event.target.files[0]) loadRows(event.target.files[0]); });
  byId('live-start').addEventListener('click', startLive);
  byId('live-stop').addEventListener('click', stopLive);
  byId('download').addEventListener('click', downloadLog);
  // The page going away ends its session: the server lets a running export
  // finish, then closes the device.
  window.addEventListener('pagehide', () => { if (session) call('/api/release'); });
}

wire();
claim().then((owned) => { if (owned) refreshLog(); });
