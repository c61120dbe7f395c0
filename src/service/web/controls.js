// The controls of one machine, built once and filled from its state. A control the operator is
// moving is left alone by the state that arrives meanwhile, unless the machine's value has to be
// put back (a refused or failed change).

export const limits = {
  inputGain: { min: -48, max: 12, step: 0.5 },
  attenuation: { min: -32, max: 0, step: 0.5 },
  delay: { min: 0, max: 310, step: 1 },
  ampLevel: { min: -127.5, max: 0, step: 0.5 },
  gain: { min: -12, max: 12, step: 0.25 },
  // The band strip's steps: a left click moves by the fine step, a right click by the coarse.
  frequency: { min: 10, max: 18000, step: 1, coarse: 25, digits: 0 },
  q: { min: 0.2, max: 50, step: 0.1, coarse: 1, digits: 1 },
};

// A held step button repeats after this long, then at this interval.
const repeatDelayMs = 450;
const repeatEveryMs = 90;

export function el(tag, attrs = {}, ...children) {
  const node = document.createElement(tag);
  for (const [key, value] of Object.entries(attrs)) {
    if (key === 'class') node.className = value;
    else if (key === 'text') node.textContent = value;
    else node.setAttribute(key, value);
  }
  for (const child of children) node.append(child);
  return node;
}

export function formatDb(value) {
  const number = Number(value);
  const text = Number.isInteger(number * 10) ? number.toFixed(1) : number.toFixed(2);
  return number > 0 ? `+${text}` : text;
}

// A value as a field shows it: at most two decimals, none that add nothing.
export function formatNumber(value, digits = 2) {
  return String(Number(Number(value).toFixed(Math.max(digits, 2))));
}

function snap(value, limit) {
  const steps = Math.round((value - limit.min) / limit.step);
  const snapped = limit.min + steps * limit.step;
  return Math.min(limit.max, Math.max(limit.min, Number(snapped.toFixed(4))));
}

// The message under a field that says why its value was not taken; cleared by the next change.
function refusalNote(id) {
  const note = el('p', { id: `${id}-refused`, class: 'refused', role: 'alert', hidden: '' });
  return {
    node: note,
    show(input, text) {
      note.textContent = text;
      note.hidden = false;
      input.setAttribute('aria-invalid', 'true');
      input.setAttribute('aria-describedby', note.id);
    },
    clear(input) {
      if (note.hidden) return;
      note.hidden = true;
      note.textContent = '';
      input.removeAttribute('aria-invalid');
      input.removeAttribute('aria-describedby');
    },
  };
}

// A slider with its value beside it; change(value) while it moves, and once more at release.
// A drag (mouse, pen or touch) moves it along its track from where the pointer is.
export function fader({ id, label, limit, unit, vertical = false, change }) {
  const input = el('input', {
    type: 'range',
    id,
    min: limit.min,
    max: limit.max,
    step: limit.step,
    class: vertical ? 'fader vertical' : 'fader',
  });
  const output = el('output', { for: id, class: 'value' });
  const note = refusalNote(id);
  const wrap = el('div', { class: vertical ? 'control vertical-control' : 'control' },
    el('label', { for: id, text: label }), input, output, note.node);
  let shown = null;
  const show = (value) => {
    output.textContent = unit === 'dB' ? `${formatDb(value)} dB` : `${value}${unit ? ` ${unit}` : ''}`;
  };
  const moveTo = (value) => {
    note.clear(input);
    if (Number(input.value) === value && shown === value) return;
    input.value = value;
    shown = value;
    show(value);
    change(value);
  };
  // The thumb's half width: the track's ends are where its centre can go.
  const inset = 8;
  const fromPointer = (ev) => {
    const r = input.getBoundingClientRect();
    const fraction = vertical
      ? (r.bottom - inset - ev.clientY) / Math.max(1, r.height - 2 * inset)
      : (ev.clientX - r.left - inset) / Math.max(1, r.width - 2 * inset);
    return snap(limit.min + Math.min(1, Math.max(0, fraction)) * (limit.max - limit.min), limit);
  };
  let dragging = null;
  input.addEventListener('pointerdown', (ev) => {
    if (ev.button !== 0) return;
    ev.preventDefault();
    input.focus();
    dragging = ev.pointerId;
    input.setPointerCapture(ev.pointerId);
    wrap.dataset.moving = '1';
    moveTo(fromPointer(ev));
  });
  input.addEventListener('pointermove', (ev) => {
    if (dragging === ev.pointerId) moveTo(fromPointer(ev));
  });
  const release = (ev) => {
    if (dragging !== ev.pointerId) return;
    dragging = null;
    delete wrap.dataset.moving;
  };
  input.addEventListener('pointerup', release);
  input.addEventListener('pointercancel', release);
  input.addEventListener('lostpointercapture', release);
  input.addEventListener('input', () => {
    const value = Number(input.value);
    note.clear(input);
    shown = value;
    show(value);
    change(value);
  });
  return {
    node: wrap,
    input,
    set(value, force = false) {
      if ((wrap.dataset.moving && !force) || value === undefined || value === null) return;
      if (shown !== value || Number(input.value) !== value) {
        input.value = value;
        shown = value;
      }
      show(value);
    },
    refuse(text) {
      note.show(input, text);
    },
  };
}

// A number field with step buttons on either side: the fine and the coarse step down and up.
// A held button repeats. In the field, the arrow keys move by the fine step, Page Up and Page
// Down by the coarse. The buttons are for pointers; the field is the one keyboard stop.
export function stepper({ id, label, limit, unit, change }) {
  const digits = limit.digits ?? 2;
  const input = el('input', {
    type: 'text',
    id,
    inputmode: 'decimal',
    autocomplete: 'off',
    spellcheck: 'false',
    class: 'number',
  });
  const note = refusalNote(id);
  let machineValue = null; // what the machine runs, as last reported
  const unitText = unit ? ` ${unit}` : '';
  const range = `${label} runs from ${limit.min} to ${limit.max}${unitText}.`;
  const put = (value) => {
    input.value = formatNumber(value, digits);
  };
  const commit = (value) => {
    note.clear(input);
    put(value);
    change(Number(formatNumber(value, digits)));
  };
  const stepBy = (delta) => {
    const current = Number(input.value);
    const from = Number.isFinite(current) && input.value !== '' ? current : machineValue ?? limit.min;
    commit(Math.min(limit.max, Math.max(limit.min, Number((from + delta).toFixed(4)))));
  };

  const button = (delta, cls) => {
    const sign = delta < 0 ? '−' : '+';
    const b = el('button', { type: 'button', class: `step ${cls}`, tabindex: '-1' },
      el('span', { class: 'hidden-text', text: `${label} ` }),
      `${sign}${formatNumber(Math.abs(delta), digits)}`,
      el('span', { class: 'hidden-text', text: unitText }));
    let timer = null;
    const stop = () => {
      clearTimeout(timer);
      clearInterval(timer);
      timer = null;
    };
    b.addEventListener('pointerdown', (ev) => {
      if (ev.button !== 0) return;
      ev.preventDefault();
      stop();
      stepBy(delta);
      timer = setTimeout(() => {
        timer = setInterval(() => stepBy(delta), repeatEveryMs);
      }, repeatDelayMs);
    });
    for (const end of ['pointerup', 'pointerleave', 'pointercancel']) b.addEventListener(end, stop);
    b.addEventListener('contextmenu', (ev) => ev.preventDefault());
    // A click without a pointer press (assistive technology) steps once.
    b.addEventListener('click', (ev) => {
      if (ev.detail === 0) stepBy(delta);
    });
    return b;
  };

  input.addEventListener('keydown', (ev) => {
    const moves = { ArrowUp: limit.step, ArrowDown: -limit.step, PageUp: limit.coarse, PageDown: -limit.coarse };
    const delta = moves[ev.key];
    if (delta === undefined) return;
    ev.preventDefault();
    stepBy(ev.shiftKey && limit.coarse && Math.abs(delta) === limit.step ? Math.sign(delta) * limit.coarse : delta);
  });
  input.addEventListener('change', () => {
    const text = input.value.trim().replace(',', '.');
    const value = Number(text);
    if (text === '' || !Number.isFinite(value) || value < limit.min || value > limit.max) {
      note.show(input, `${input.value.trim() || 'An empty field'} was not taken: ${range}`);
      if (machineValue !== null) put(machineValue);
      return;
    }
    commit(value);
  });

  const coarse = limit.coarse ?? limit.step * 10;
  const wrap = el('div', { class: 'control stepper' },
    el('label', { for: id, text: unit ? `${label} (${unit})` : label }),
    el('div', { class: 'stepper-row' },
      button(-coarse, 'coarse'), button(-limit.step, 'fine'), input, button(limit.step, 'fine'),
      button(coarse, 'coarse')),
    note.node);
  return {
    node: wrap,
    input,
    set(value, force = false) {
      if (value === undefined || value === null) return;
      machineValue = value;
      if (document.activeElement === input && !force) return;
      put(value);
    },
    refuse(text) {
      note.show(input, text);
    },
  };
}

// A button that shows on or off.
export function toggle({ id, label, change }) {
  const button = el('button', { type: 'button', id, class: 'toggle', 'aria-pressed': 'false', text: label });
  button.addEventListener('click', () => change(button.getAttribute('aria-pressed') !== 'true'));
  return {
    node: button,
    set(on) {
      button.setAttribute('aria-pressed', on ? 'true' : 'false');
    },
  };
}
