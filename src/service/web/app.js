// The page: the bus overview and one machine's controls, kept current by the event stream.
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
  state: null,
  queue: null,
  controls: null,
  curveTimer: null,
  operation: null,
};

const events = new EventStream({
  onEvent: handleEvent,
  onOnline: () => {
    $('banner').hidden = true;
    setEnabled(true);
    reload();
  },
  onOffline: () => {
    $('banner').hidden = false;
    setEnabled(false);
    if (page.queue) page.queue.drop();
  },
});

api.setHooks({ unauthorized: askToken, offline: () => events.lost() });

function setEnabled(on) {
  $('controls').disabled = !on;
}

function say(text) {
  $('operation').textContent = text;
}

function reportError(e) {
  if (!e.offline) say(e.message);
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

// --- Overview ----------------------------------------------------------------------------------

async function loadBuses() {
  const answer = await api.get('/buses');
  page.buses = answer.buses;
  const select = $('bus');
  select.replaceChildren(...page.buses.map((b) => el('option', { value: b.name, text: b.name })));
  if (!page.bus || !page.buses.some((b) => b.name === page.bus)) page.bus = page.buses[0]?.name || null;
  select.value = page.bus || '';
  showBusState();
}

function showBusState() {
  const bus = page.buses.find((b) => b.name === page.bus);
  if (!bus) return;
  let text = `${bus.link}: ${bus.state}`;
  if (bus.busy) text += ` — ${bus.busy.operation} ${Math.round((bus.busy.progress || 0) * 100)} %`;
  $('bus-state').textContent = text;
}

async function loadMachines() {
  if (!page.bus) return;
  const answer = await api.get(`${api.busPath(page.bus)}/machines`);
  page.machines = answer.machines;
  drawSlots();
}

function drawSlots() {
  renderSlots($('slots'), page.bus, page.machines, openMachine);
  if (page.machine) showMachineHead();
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

  const settings = [
    ['inputGain', 'a', 'Input A gain', limits.inputGain, 'dB'],
    ['inputGain', 'b', 'Input B gain', limits.inputGain, 'dB'],
    ['attenuation', 'ch12', 'Ch1 / Ch2 attenuation', limits.attenuation, 'dB'],
    ['attenuation', 'ch34', 'Ch3 / Ch4 attenuation', limits.attenuation, 'dB'],
    ['delay', 'ch12', 'Ch1 / Ch2 delay', limits.delay, ''],
    ['delay', 'ch34', 'Ch3 / Ch4 delay', limits.delay, ''],
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
  c.meters = buildMeters($('meters'));
  return c;
}

function applyState(state) {
  if (!state || state.id !== page.machine) return;
  page.state = state;
  const c = page.controls;
  state.mute.forEach((on, i) => c.mutes[i].set(on));
  $('flat').setAttribute('aria-pressed', state.flat ? 'true' : 'false');
  $('flat').textContent = state.flat ? 'Flat' : 'EQ';
  for (const [key, f] of Object.entries(c.settings)) {
    const [group, sub] = key.split('.');
    f.set(sub ? state[group]?.[sub] : state[group]);
  }
  for (const b of state.bands) {
    const strip = c.bands[b.band - 1];
    if (!strip) continue;
    strip.gain.set(b.gain);
    strip.frequency.set(b.frequency);
    strip.q.set(b.q);
  }
  $('user-name').textContent = state.userPreset || '';
  scheduleCurve();
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

function showMachineHead() {
  const summary = page.machines.find((m) => m && m.id === page.machine);
  if (!summary) return;
  $('machine-title').textContent = `Slot ${summary.slot}: ${summary.id}`;
  $('hw-number').value = summary.hardwarePreset ? String(summary.hardwarePreset.number) : '0';
}

async function openMachine(id) {
  page.machine = id;
  page.state = null;
  const path = api.machinePath(page.bus, id);
  page.queue = new PatchQueue((body) => api.patch(path, body), applyState, reportError);
  $('overview').hidden = true;
  $('machine').hidden = false;
  showMachineHead();
  say('');
  events.watchLevels({ bus: page.bus, machine: id });
  try {
    applyState(await api.get(path));
  } catch (e) {
    reportError(e);
  }
}

function closeMachine() {
  page.machine = null;
  page.queue = null;
  events.watchLevels(null);
  $('machine').hidden = true;
  $('overview').hidden = false;
}

async function runOperation(label, path, body) {
  say(`${label}…`);
  try {
    await api.post(path, body);
    say(`${label}: done.`);
  } catch (e) {
    say(e.offline ? '' : `${label}: ${e.message}`);
  } finally {
    $('hw-progress').hidden = true;
  }
}

function wireMachineButtons() {
  $('back').onclick = closeMachine;
  $('hw-number').replaceChildren(...Array.from({ length: 8 }, (_, n) => el('option', { value: n, text: String(n) })));
  $('user-location').replaceChildren(...Array.from({ length: 8 }, (_, n) => el('option', { value: n, text: String(n) })));
  $('hw-change').onclick = () => {
    const progress = $('hw-progress');
    progress.value = 0;
    progress.hidden = false;
    runOperation('Hardware preset change', `${api.machinePath(page.bus, page.machine)}/hardware-preset`,
      { number: Number($('hw-number').value) });
  };
  $('user-recall').onclick = () => runOperation('Recall', `${api.machinePath(page.bus, page.machine)}/user-preset/recall`,
    { location: Number($('user-location').value) });
  $('user-store').onclick = () => runOperation('Store', `${api.machinePath(page.bus, page.machine)}/user-preset/store`,
    { location: Number($('user-location').value) });
  $('bus').onchange = () => {
    page.bus = $('bus').value;
    closeMachine();
    reload();
  };
}

// --- Events ------------------------------------------------------------------------------------

function handleEvent(event) {
  if (event.type === 'bus') {
    const bus = page.buses.find((b) => b.name === event.bus);
    if (bus) bus.state = event.state;
    showBusState();
    return;
  }
  if (event.bus !== page.bus) return;
  switch (event.type) {
    case 'slot':
      page.machines = page.machines.filter((m) => m && m.slot !== event.slot);
      if (event.machine) page.machines.push(event.machine);
      page.machines.sort((a, b) => a.slot - b.slot);
      drawSlots();
      break;
    case 'values':
      if (event.machine === page.machine && !(page.queue && page.queue.busy)) applyState(event.state);
      break;
    case 'operation':
      if (event.machine && event.machine !== page.machine) break;
      if (event.operation === 'hardware-preset' && typeof event.progress === 'number') {
        $('hw-progress').hidden = event.phase === 'finished' || event.phase === 'failed';
        $('hw-progress').value = event.progress;
      }
      if (event.phase === 'failed' && event.message) say(`${event.operation}: ${event.message}`);
      break;
    case 'levels':
      if (event.machine === page.machine) page.controls.meters.show(event.levels, event.indicators);
      break;
    default:
      break;
  }
}

// Everything read afresh: at start and after every reconnect.
async function reload() {
  try {
    await loadBuses();
    await loadMachines();
    if (page.machine) applyState(await api.get(api.machinePath(page.bus, page.machine)));
  } catch (e) {
    reportError(e);
  }
}

page.controls = buildControls();
wireMachineButtons();
setEnabled(false);
window.addEventListener('resize', () => page.state && scheduleCurve());
events.start();
reload();
