// The page: the bus overview and one machine's controls, kept current by the event stream. The
// address says what is shown (#/bus for a bus's machines, #/bus/machine for one machine), so
// Back works and a tablet can be bookmarked to a machine.
import * as api from './api.js';
import { EventStream } from './events.js';
import { PatchQueue } from './patchqueue.js';
import { drawResponse } from './curve.js';
import { el, fader, stepper, toggle, limits } from './controls.js';
import { renderSlots } from './overview.js';
import { buildMeters } from './meters.js';

const $ = (id) => document.getElementById(id);

const page = {
  bus: null, // the bus shown
  buses: [],
  machines: [], // the bus's slot summaries
  machine: null, // the identifier of the machine shown, or null for the overview
  lastMachine: null, // the one shown before the overview, to give its slot the focus
  absent: false, // the machine shown is no longer on the bus
  online: false,
  state: null,
  queue: null,
  controls: null,
  curveTimer: null,
  operation: null, // {operation, machine, started} while one runs on the bus shown
};

const operationNames = {
  'hardware-preset': 'Hardware preset change',
  upload: 'Extra preset upload',
  scan: 'Scan',
  refresh: 'Refresh',
  snapshot: 'Show restore',
  recall: 'Recall',
  store: 'Store',
  eq: 'Equaliser import',
};

const events = new EventStream({
  onEvent: handleEvent,
  onOnline: () => {
    page.online = true;
    $('banner').hidden = true;
    setEnabled();
    reload();
  },
  onOffline: () => {
    page.online = false;
    $('banner').hidden = false;
    setEnabled();
    if (page.queue) page.queue.drop();
    page.controls.meters.stop('The service cannot be reached: no level readings.');
  },
});

api.setHooks({ unauthorized: askToken, offline: () => events.lost() });

// The controls work while the service is there and the machine shown is on its bus.
function setEnabled() {
  const usable = page.online && !page.absent;
  $('controls').disabled = !usable;
  $('machine').classList.toggle('stale', !usable);
  for (const id of ['refresh', 'scan']) $(id).disabled = !page.online;
}

// A message with the service's own words behind "Details".
function tell(target, text, detail = '') {
  const node = $(target);
  node.replaceChildren(text);
  node.title = detail;
  if (detail && detail !== text) {
    node.append(' ', el('details', {}, el('summary', { text: 'Details' }), el('span', { text: detail })));
  }
}

function say(text, detail) {
  tell('operation', text, detail);
}

function reportError(e) {
  if (e.offline) return;
  const { text, detail } = api.explain(e);
  say(text, detail);
}

// --- Login -------------------------------------------------------------------------------------

let loginWaiting = null;

function askToken() {
  if (loginWaiting) return loginWaiting;
  const dialog = $('login');
  loginWaiting = new Promise((resolve) => {
    const form = $('login-form');
    form.onsubmit = async (ev) => {
      ev.preventDefault();
      if (await api.openSession($('login-token').value.trim())) {
        $('login-token').value = '';
        dialog.close();
        loginWaiting = null;
        resolve(true);
        events.retry();
      } else {
        $('login-error').textContent = 'That token was not accepted.';
      }
    };
  });
  dialog.showModal();
  return loginWaiting;
}

// The confirmation of an operation that cannot be undone; resolves true for yes.
function confirmAction(title, text, yes) {
  const dialog = $('confirm');
  $('confirm-title').textContent = title;
  $('confirm-text').textContent = text;
  $('confirm-yes').textContent = yes;
  return new Promise((resolve) => {
    dialog.returnValue = '';
    dialog.onclose = () => resolve(dialog.returnValue === 'yes');
    dialog.showModal();
    $('confirm-no').focus();
  });
}

// --- Where the page is -------------------------------------------------------------------------

function parseAddress() {
  const parts = location.hash.replace(/^#\/?/, '').split('/').filter(Boolean).map(decodeURIComponent);
  return { bus: parts[0] || null, machine: parts[1] || null };
}

function address(bus, machine) {
  return `#/${encodeURIComponent(bus || '')}${machine ? `/${encodeURIComponent(machine)}` : ''}`;
}

function go(bus, machine) {
  const target = address(bus, machine);
  if (location.hash === target) route();
  else location.hash = target;
}

// Shows what the address names.
async function route() {
  const { bus, machine } = parseAddress();
  if (machine !== page.machine) {
    page.openedFromOverview = Boolean(machine) && page.openingFromOverview === machine;
    page.openingFromOverview = null;
  }
  if (bus && bus !== page.bus && page.buses.some((b) => b.name === bus)) {
    page.bus = bus;
    $('bus').value = bus;
    showBusState();
    await loadMachines().catch(reportError);
  }
  if (machine) showMachine(machine);
  else showOverview();
}

// --- Overview ----------------------------------------------------------------------------------

async function loadBuses() {
  const answer = await api.get('/buses');
  page.buses = answer.buses;
  const select = $('bus');
  select.replaceChildren(...page.buses.map((b) => el('option', { value: b.name, text: b.name })));
  const wanted = parseAddress().bus;
  if (wanted && page.buses.some((b) => b.name === wanted)) page.bus = wanted;
  if (!page.bus || !page.buses.some((b) => b.name === page.bus)) page.bus = page.buses[0]?.name || null;
  select.value = page.bus || '';
  showBusState();
}

const stateWords = {
  connected: 'connected',
  connecting: 'connecting…',
  disconnected: 'adapter not connected',
  locked: 'data folder in use by another program',
};

function showBusState() {
  const bus = page.buses.find((b) => b.name === page.bus);
  if (!bus) return;
  const link = bus.link ? ` (${bus.link.replace(/:$/, '')})` : '';
  let text = `Bus ${bus.name}${link}: ${stateWords[bus.state] || bus.state}`;
  if (bus.reason && bus.state !== 'connected') text += ` — ${bus.reason}`;
  $('bus-state').textContent = text;
  $('bus-state').dataset.state = bus.state;
  if (bus.busy && !page.operation) showProgress({ operation: bus.busy.operation, progress: bus.busy.progress });
}

async function loadMachines() {
  if (!page.bus) return;
  const answer = await api.get(`${api.busPath(page.bus)}/machines`);
  page.machines = answer.machines;
  drawSlots();
}

function drawSlots() {
  renderSlots($('slots'), page.bus, page.machines, (id) => {
    page.openingFromOverview = id;
    go(page.bus, id);
  });
  if (page.machine) showMachineHead();
}

function showOverview() {
  if (page.machine) page.lastMachine = page.machine;
  const wasMachine = !$('machine').hidden;
  closeMachine();
  $('overview').hidden = false;
  $('machine').hidden = true;
  document.title = `Qubix 24 — bus ${page.bus || ''}`;
  if (wasMachine) {
    const slot = page.lastMachine && [...document.querySelectorAll('#slots .slot')]
      .find((b) => b.dataset.machine === page.lastMachine);
    (slot || $('overview-title')).focus();
  }
}

async function busOperation(kind) {
  $('bus-message').replaceChildren();
  try {
    const answer = await api.post(`${api.busPath(page.bus)}/${kind}`, kind === 'scan' ? { max: 8 } : {});
    page.machines = answer.machines;
    drawSlots();
    const faults = answer.readFaults || [];
    const found = `${answer.machines.length} machine${answer.machines.length === 1 ? '' : 's'} on the bus.`;
    tell('bus-message', faults.length ? `${found} Some settings could not be read.` : found, faults.join('\n'));
  } catch (e) {
    if (!e.offline) {
      const { text, detail } = api.explain(e);
      tell('bus-message', `${operationNames[kind]}: ${text}`, detail);
    }
  }
}

// --- One machine -------------------------------------------------------------------------------

function buildControls() {
  const c = { mutes: [], settings: {}, bands: [] };
  const change = (patch) => page.queue && page.queue.push(patch);

  for (let i = 1; i <= 4; i++) {
    const t = toggle({ id: `mute-${i}`, label: `Mute Ch${i}`, change: (on) => change({ mute: { [i]: on } }) });
    c.mutes.push(t);
  }
  $('mutes').replaceChildren(...c.mutes.map((t) => t.node));

  const flat = $('flat');
  flat.onclick = () => change({ flat: flat.getAttribute('aria-pressed') !== 'true' });

  // The editor window's delay fields read "Delay (ms)".
  const settings = [
    ['inputGain', 'a', 'Input A gain', limits.inputGain, 'dB'],
    ['inputGain', 'b', 'Input B gain', limits.inputGain, 'dB'],
    ['attenuation', 'ch12', 'Ch1 / Ch2 attenuation', limits.attenuation, 'dB'],
    ['attenuation', 'ch34', 'Ch3 / Ch4 attenuation', limits.attenuation, 'dB'],
    ['delay', 'ch12', 'Ch1 / Ch2 delay', limits.delay, 'ms'],
    ['delay', 'ch34', 'Ch3 / Ch4 delay', limits.delay, 'ms'],
  ];
  const nodes = [];
  for (const [group, key, label, limit, unit] of settings) {
    const f = fader({ id: `${group}-${key}`, label, limit, unit, change: (v) => change({ [group]: { [key]: v } }) });
    c.settings[`${group}.${key}`] = f;
    nodes.push(f.node);
  }
  const amp = fader({ id: 'amp-level', label: 'Amplifier level', limit: limits.ampLevel, unit: 'dB',
    change: (v) => change({ ampLevel: v }) });
  c.settings.ampLevel = amp;
  nodes.push(amp.node);
  $('settings').replaceChildren(...nodes);

  const strips = [];
  for (let band = 1; band <= 10; band++) {
    const gain = fader({ id: `band-${band}-gain`, label: `Band ${band}`, limit: limits.gain, unit: 'dB', vertical: true,
      change: (v) => change({ bands: [{ band, gain: v }] }) });
    const frequency = stepper({ id: `band-${band}-frequency`, label: `Band ${band} frequency`, limit: limits.frequency,
      unit: 'Hz', change: (v) => change({ bands: [{ band, frequency: v }] }) });
    const q = stepper({ id: `band-${band}-q`, label: `Band ${band} Q`, limit: limits.q, unit: '',
      change: (v) => change({ bands: [{ band, q: v }] }) });
    c.bands.push({ gain, frequency, q });
    strips.push(el('div', { class: 'band', 'data-band': band }, gain.node, frequency.node, q.node));
  }
  $('bands').replaceChildren(...strips);
  $('band-pick').replaceChildren(...Array.from({ length: 10 }, (_, n) => el('option', { value: n + 1, text: `Band ${n + 1}` })));
  c.meters = buildMeters($('meters'), $('meters-status'));
  return c;
}

// The bands one at a time (fewer stops for the keyboard, less scrolling on a phone) or all.
function showBandView(compact) {
  $('compact').setAttribute('aria-pressed', compact ? 'true' : 'false');
  $('band-pick-label').hidden = !compact;
  const picked = Number($('band-pick').value) || 1;
  for (const strip of document.querySelectorAll('#bands .band'))
    strip.hidden = compact && Number(strip.dataset.band) !== picked;
  $('bands').classList.toggle('compact', compact);
  try {
    localStorage.setItem('qubix24.compactBands', compact ? '1' : '0');
  } catch {
    // a private window keeps no settings
  }
}

// Fills the controls from the machine's state; force puts its values back even where the
// operator is at work (after a refused or failed change).
function applyState(state, force = false) {
  if (!state || state.id !== page.machine) return;
  page.state = state;
  const c = page.controls;
  state.mute.forEach((on, i) => c.mutes[i].set(on));
  $('flat').setAttribute('aria-pressed', state.flat ? 'true' : 'false');
  $('flat').textContent = state.flat ? 'Flat' : 'EQ';
  for (const [key, f] of Object.entries(c.settings)) {
    const [group, sub] = key.split('.');
    f.set(sub ? state[group]?.[sub] : state[group], force);
  }
  const doubt = new Set(state.inDoubt || []);
  for (const b of state.bands) {
    const strip = c.bands[b.band - 1];
    if (!strip) continue;
    strip.gain.set(b.gain, force);
    strip.frequency.set(b.frequency, force);
    strip.q.set(b.q, force);
    strip.gain.node.closest('.band').classList.toggle('in-doubt', doubt.has(`bands.${b.band}`));
  }
  $('user-name').textContent = state.userPreset ? `running: ${state.userPreset}` : '';
  scheduleCurve();
}

// The controls a change touched, to show a refusal at them.
function controlsOf(body) {
  const c = page.controls;
  const out = [];
  for (const [key, value] of Object.entries(body || {})) {
    if (key === 'bands') {
      for (const b of value) {
        const strip = c.bands[b.band - 1];
        if (!strip) continue;
        for (const field of ['gain', 'frequency', 'q']) if (field in b) out.push(strip[field]);
      }
    } else if (key === 'ampLevel') {
      out.push(c.settings.ampLevel);
    } else if (value !== null && typeof value === 'object') {
      for (const sub of Object.keys(value)) if (c.settings[`${key}.${sub}`]) out.push(c.settings[`${key}.${sub}`]);
    }
  }
  return out;
}

// A change the service refused or the machine did not take: said at its controls, and what the
// machine runs is shown again.
async function changeFailed(e, body) {
  if (e.offline) return;
  const { text, detail } = api.explain(e);
  say(text, detail);
  for (const control of controlsOf(body)) control.refuse(e.status === 400 ? `Not taken: ${detail}` : text);
  const machine = page.machine;
  try {
    const state = await api.get(api.machinePath(page.bus, machine));
    if (machine === page.machine) applyState(state, true);
  } catch (err) {
    reportError(err);
  }
}

// The curve follows the state, at most one request at a time.
function scheduleCurve() {
  if (page.curveTimer) return;
  page.curveTimer = setTimeout(async () => {
    const machine = page.machine;
    try {
      const answer = await api.get(`${api.machinePath(page.bus, machine)}/response?points=200&quantized=true`);
      if (machine === page.machine) drawResponse($('response'), answer.points);
    } catch (e) {
      reportError(e);
    } finally {
      page.curveTimer = null;
    }
  }, 100);
}

function summaryOf(id) {
  return page.machines.find((m) => m && m.id === id);
}

function showMachineHead() {
  const summary = summaryOf(page.machine);
  $('machine-title').textContent = summary ? `Slot ${summary.slot}: ${summary.id}` : page.machine;
  document.title = `Qubix 24 — ${page.machine}`;
  setAbsent(Boolean(page.listed && !summary));
  if (!summary) return;
  if (document.activeElement !== $('hw-number'))
    $('hw-number').value = summary.hardwarePreset ? String(summary.hardwarePreset.number) : '0';
  const location = summary.userPresetLocation;
  if (document.activeElement !== $('user-location') && typeof location === 'number' && location < 8)
    $('user-location').value = String(location);
}

// A machine no longer on the bus keeps its last values on screen, marked as such.
function setAbsent(absent) {
  if (absent === page.absent) return;
  page.absent = absent;
  const note = $('machine-absent');
  note.hidden = !absent;
  note.textContent = absent
    ? `${page.machine} is no longer on bus ${page.bus}: it stopped answering. The values shown are the last it reported.`
    : '';
  if (absent) page.controls.meters.stop('The machine is not on the bus.');
  setEnabled();
}

async function showMachine(id) {
  const changed = id !== page.machine || $('machine').hidden;
  if (changed) {
    page.machine = id;
    page.state = null;
    page.absent = false;
    $('machine-absent').hidden = true;
    const path = api.machinePath(page.bus, id);
    page.queue = new PatchQueue((body) => api.patch(path, body), applyState, changeFailed);
    $('overview').hidden = true;
    $('machine').hidden = false;
    say('');
    for (const note of document.querySelectorAll('.refused')) note.hidden = true;
    page.controls.meters.reset();
    events.watchLevels({ bus: page.bus, machine: id });
    showMachineHead();
    $('machine-title').focus();
  }
  setEnabled();
  try {
    applyState(await api.get(api.machinePath(page.bus, id)));
  } catch (e) {
    if (e.status === 404) setAbsent(true);
    reportError(e);
  }
}

function closeMachine() {
  page.machine = null;
  page.queue = null;
  page.absent = false;
  events.watchLevels(null);
  page.controls.meters.stop('');
}

function showProgress(op) {
  const name = operationNames[op.operation] || op.operation;
  const onMachine = op.machine && op.machine === page.machine && op.operation === 'hardware-preset';
  const box = onMachine ? $('hw-busy') : $('busy');
  const text = onMachine ? $('hw-busy-text') : $('busy-text');
  const bar = onMachine ? $('hw-progress') : $('busy-progress');
  box.hidden = false;
  const percent = typeof op.progress === 'number' ? ` ${Math.round(op.progress * 100)} %` : '';
  const seconds = page.operation ? Math.round((Date.now() - page.operation.started) / 1000) : 0;
  text.textContent = `${name}${op.machine ? ` of ${op.machine}` : ''}:${percent}${seconds >= 2 ? `, ${seconds} s` : ''}`;
  if (typeof op.progress === 'number') bar.value = op.progress;
  else bar.removeAttribute('value');
}

function hideProgress() {
  $('busy').hidden = true;
  $('hw-busy').hidden = true;
  $('hw-progress').value = 0;
  $('busy-progress').value = 0;
}

async function runOperation(label, path, body) {
  say(`${label}…`);
  try {
    await api.post(path, body);
    say(`${label}: done.`);
  } catch (e) {
    if (!e.offline) {
      const { text, detail } = api.explain(e);
      say(`${label}: ${text}`, detail);
    }
  }
}

function wireButtons() {
  $('hw-number').replaceChildren(...Array.from({ length: 8 }, (_, n) => el('option', { value: n, text: String(n) })));
  $('user-location').replaceChildren(...Array.from({ length: 8 }, (_, n) => el('option', { value: n, text: String(n) })));
  $('hw-change').onclick = async () => {
    const number = Number($('hw-number').value);
    const machine = page.machine;
    const yes = await confirmAction('Change the hardware preset?',
      `${machine} will switch to hardware preset ${number}. Its sound stops for about 16 seconds while it switches.`,
      `Change ${machine} to preset ${number}`);
    if (!yes || machine !== page.machine) return;
    runOperation('Hardware preset change', `${api.machinePath(page.bus, machine)}/hardware-preset`, { number });
  };
  $('user-recall').onclick = () => runOperation('Recall', `${api.machinePath(page.bus, page.machine)}/user-preset/recall`,
    { location: Number($('user-location').value) });
  $('user-store').onclick = async () => {
    const location = Number($('user-location').value);
    const machine = page.machine;
    const yes = await confirmAction('Store to this location?',
      `${machine}'s current settings will be stored in its user preset location ${location}, replacing what that location holds.`,
      `Store to location ${location}`);
    if (!yes || machine !== page.machine) return;
    runOperation('Store', `${api.machinePath(page.bus, machine)}/user-preset/store`, { location });
  };
  $('bus').onchange = () => go($('bus').value, null);
  $('back').onclick = (ev) => {
    ev.preventDefault();
    // Back to where the machine was opened from, or to its bus's machines.
    if (page.openedFromOverview) history.back();
    else go(page.bus, null);
  };
  $('refresh').onclick = () => busOperation('refresh');
  $('scan').onclick = async () => {
    const yes = await confirmAction('Scan the bus?',
      `Scanning bus ${page.bus} searches every address for machines; it takes a while and closes the machine open for editing.`,
      'Scan');
    if (yes) busOperation('scan');
  };
  for (const b of document.querySelectorAll('[data-jump]')) b.onclick = () => $(b.dataset.jump).focus();
  $('compact').onclick = () => showBandView($('compact').getAttribute('aria-pressed') !== 'true');
  $('band-pick').onchange = () => showBandView(true);
}

// --- Events ------------------------------------------------------------------------------------

function handleEvent(event) {
  if (event.type === 'bus') {
    const bus = page.buses.find((b) => b.name === event.bus);
    if (bus) {
      bus.state = event.state;
      bus.reason = event.reason;
    }
    showBusState();
    return;
  }
  if (event.bus !== page.bus) return;
  switch (event.type) {
    case 'slot':
      page.machines = page.machines.filter((m) => m && m.slot !== event.slot && m.id !== event.machine?.id);
      if (event.machine) page.machines.push(event.machine);
      page.machines.sort((a, b) => a.slot - b.slot);
      drawSlots();
      if (page.machine && event.machine && event.machine.id === page.machine && page.absent) {
        setAbsent(false);
        showMachine(page.machine);
      }
      break;
    case 'values':
      if (event.machine === page.machine && !(page.queue && page.queue.busy)) applyState(event.state);
      break;
    case 'operation':
      if (event.phase === 'started') {
        page.operation = { operation: event.operation, machine: event.machine, started: Date.now() };
        if (operationNames[event.operation] && !['recall', 'store'].includes(event.operation)) showProgress(event);
      } else if (event.phase === 'progress') {
        showProgress(event);
      } else {
        page.operation = null;
        hideProgress();
        if (event.phase === 'failed' && event.message && (!event.machine || event.machine === page.machine) &&
          !['patch', ''].includes(event.operation))
          tell(page.machine ? 'operation' : 'bus-message',
            `${operationNames[event.operation] || event.operation}: ${api.explain({ message: event.message, code: codeOf(event.message) }).text}`,
            event.message);
      }
      break;
    case 'levels':
      if (event.machine === page.machine && !page.absent) page.controls.meters.show(event.levels, event.indicators);
      break;
    default:
      break;
  }
}

// The kind of failure an event's message tells (events carry the message, not the code).
function codeOf(message) {
  if (/not connected|adapter/.test(message)) return 'disconnected';
  if (/no answer|did not answer|not acknowledged|no complete reply/.test(message)) return 'processor_silent';
  return 'exchange_failed';
}

// Everything read afresh: at start and after every reconnect.
async function reload() {
  try {
    await loadBuses();
    await loadMachines();
    page.listed = true;
    await route();
  } catch (e) {
    reportError(e);
  }
}

window.addEventListener('hashchange', () => {
  if (page.online) route();
});
page.controls = buildControls();
wireButtons();
let compact = false;
try {
  compact = localStorage.getItem('qubix24.compactBands') === '1';
} catch {
  // no stored settings
}
showBandView(compact);
setEnabled();
window.addEventListener('resize', () => page.state && scheduleCurve());
events.start();
reload();
