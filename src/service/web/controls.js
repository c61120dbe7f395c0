// The controls of one machine, built once and filled from its state. A control the operator is
// moving is left alone by the state that arrives meanwhile.

export const limits = {
  inputGain: { min: -48, max: 12, step: 0.5 },
  attenuation: { min: -32, max: 0, step: 0.5 },
  delay: { min: 0, max: 310, step: 1 },
  ampLevel: { min: -127.5, max: 0, step: 0.5 },
  gain: { min: -12, max: 12, step: 0.25 },
  frequency: { min: 10, max: 18000, step: 1 },
  q: { min: 0.2, max: 50, step: 0.1 },
};

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

// A slider with its value beside it; change(value) while it moves, and once more at release.
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
  const wrap = el('div', { class: vertical ? 'control vertical-control' : 'control' },
    el('label', { for: id, text: label }), input, output);
  let shown = null;
  const show = (value) => {
    output.textContent = unit === 'dB' ? `${formatDb(value)} dB` : `${value}${unit ? ` ${unit}` : ''}`;
  };
  input.addEventListener('pointerdown', () => { wrap.dataset.moving = '1'; });
  const release = () => {
    delete wrap.dataset.moving;
  };
  input.addEventListener('pointerup', release);
  input.addEventListener('pointercancel', release);
  input.addEventListener('input', () => {
    const value = Number(input.value);
    show(value);
    change(value);
  });
  input.addEventListener('change', release);
  return {
    node: wrap,
    set(value) {
      if (wrap.dataset.moving || value === undefined || value === null) return;
      if (shown !== value) {
        input.value = value;
        shown = value;
      }
      show(value);
    },
  };
}

// A number field with − and + buttons (each at least 44 px) that commits on change.
export function stepper({ id, label, limit, unit, change }) {
  const input = el('input', {
    type: 'number',
    id,
    min: limit.min,
    max: limit.max,
    step: limit.step,
    inputmode: 'decimal',
  });
  const clamp = (v) => Math.min(limit.max, Math.max(limit.min, v));
  const commit = (value) => {
    input.value = value;
    change(value);
  };
  const minus = el('button', { type: 'button', class: 'step', 'aria-label': `${label} down`, text: '−' });
  const plus = el('button', { type: 'button', class: 'step', 'aria-label': `${label} up`, text: '+' });
  const factor = () => (limit.step >= 1 ? 1 : 10);
  minus.addEventListener('click', () => commit(clamp(round(Number(input.value) - limit.step * factor()))));
  plus.addEventListener('click', () => commit(clamp(round(Number(input.value) + limit.step * factor()))));
  input.addEventListener('change', () => {
    const value = Number(input.value);
    if (input.value !== '' && Number.isFinite(value)) change(value);
  });
  const wrap = el('div', { class: 'control stepper' },
    el('label', { for: id, text: unit ? `${label} (${unit})` : label }),
    el('div', { class: 'stepper-row' }, minus, input, plus));
  return {
    node: wrap,
    set(value) {
      if (document.activeElement === input || value === undefined || value === null) return;
      input.value = value;
    },
  };
}

function round(v) {
  return Math.round(v * 100) / 100;
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
