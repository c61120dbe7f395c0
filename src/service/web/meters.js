// Level meters and input indicators of the machine shown, on the level window's scale: dB with
// 0 where the yellow section starts; green from −51 to 0, yellow to +6, red to +19. A reading
// that failed (null) shows as no reading, never as a level; a machine whose readings all fail,
// or that sends none for a while, is marked as not answering.
import { el } from './controls.js';

const titles = ['Input A', 'Input B', 'Ch1', 'Ch2', 'Ch3', 'Ch4'];
export const scale = {
  min: -51,
  max: 19,
  sections: [
    { name: 'green', from: -51, to: 0 },
    { name: 'yellow', from: 0, to: 6 },
    { name: 'red', from: 6, to: 19 },
  ],
  marks: [-48, -24, -12, -6, 0, 6, 12],
};
// Readings come about four times a second; none for this long means the polls stopped.
const staleAfterMs = 2500;

function sectionFill(db, section) {
  if (db === null) return 0;
  return Math.min(1, Math.max(0, (db - section.from) / (section.to - section.from)));
}

export function buildMeters(container, status) {
  const meters = titles.map((title, i) => {
    const fills = [];
    const bar = el('div', {
      class: 'meter-bar',
      id: `meter-${i}`,
      role: 'meter',
      'aria-label': `${title} level`,
      'aria-valuemin': scale.min,
      'aria-valuemax': scale.max,
      'aria-valuenow': scale.min,
      'aria-valuetext': 'no reading',
    });
    for (const s of scale.sections) {
      const fill = el('span', { class: 'fill' });
      fills.push(fill);
      const section = el('span', { class: `section ${s.name}` }, fill);
      section.style.flexGrow = String(s.to - s.from); // CSSOM: the page allows no inline styles
      bar.append(section);
    }
    const value = el('output', { for: `meter-${i}`, class: 'value', text: '—' });
    const indicator = el('span', { class: 'indicator', role: 'img', 'aria-label': `${title}: no signal` });
    container.append(el('div', { class: 'meter-row' },
      el('span', { class: 'meter-title', text: title }), bar, value, indicator));
    return { bar, fills, value, indicator, title };
  });
  const ticks = el('div', { class: 'meter-scale', 'aria-hidden': 'true' });
  for (const mark of scale.marks) {
    const at = ((mark - scale.min) / (scale.max - scale.min)) * 100;
    const tick = el('span', { class: [-12, -6, 6].includes(mark) ? 'minor' : '',
      text: mark > 0 ? `+${mark}` : mark === 0 ? '0' : String(mark) });
    tick.style.left = `${at}%`;
    ticks.append(tick);
  }
  container.append(el('div', { class: 'meter-row' }, el('span'), ticks, el('span'), el('span')));

  let staleTimer = null;
  const showOne = (m, db) => {
    m.fills.forEach((f, k) => {
      f.style.width = `${sectionFill(db, scale.sections[k]) * 100}%`;
    });
    if (db === null) {
      m.value.textContent = '—';
      m.bar.setAttribute('aria-valuenow', scale.min);
      m.bar.setAttribute('aria-valuetext', 'no reading');
      m.bar.dataset.db = '';
    } else {
      const shown = Math.min(scale.max, Math.max(scale.min, db));
      m.value.textContent = `${db > 0 ? '+' : ''}${db.toFixed(1)} dB`;
      m.bar.setAttribute('aria-valuenow', shown.toFixed(1));
      m.bar.setAttribute('aria-valuetext', `${db.toFixed(1)} dB`);
      m.bar.dataset.db = db.toFixed(1);
    }
  };
  const answering = (on, text) => {
    container.classList.toggle('silent', !on);
    status.textContent = on ? '' : text;
  };
  const api = {
    // levels: dB or null per meter; indicators: the inputs' signal lamps.
    show(levels = [], indicators = []) {
      let read = 0;
      meters.forEach((m, i) => {
        const db = typeof levels[i] === 'number' ? levels[i] : null;
        if (db !== null) read++;
        showOne(m, db);
        const on = Boolean(indicators[i]);
        m.indicator.classList.toggle('on', on);
        m.indicator.setAttribute('aria-label', `${m.title}: ${on ? 'signal' : 'no signal'}`);
      });
      answering(read > 0, 'The machine did not answer the level readings.');
      clearTimeout(staleTimer);
      staleTimer = setTimeout(() => api.stop('No level readings arrive: the machine or the service stopped answering.'), staleAfterMs);
    },
    // No readings: the meters drop to no reading and say why.
    stop(text) {
      clearTimeout(staleTimer);
      staleTimer = null;
      meters.forEach((m) => {
        showOne(m, null);
        m.indicator.classList.remove('on');
      });
      answering(!text, text);
    },
    // Waiting for the first readings of a machine just opened.
    reset() {
      api.stop('');
      staleTimer = setTimeout(() => api.stop('No level readings arrive: the machine or the service stopped answering.'), staleAfterMs * 2);
    },
  };
  return api;
}
