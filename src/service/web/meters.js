// Level meters and input indicators of the machine shown, as the level window has them.
import { el } from './controls.js';

const titles = ['Input A', 'Input B', 'Ch1', 'Ch2', 'Ch3', 'Ch4'];

export function buildMeters(container) {
  const meters = titles.map((title, i) => {
    const meter = el('meter', { id: `meter-${i}`, min: -48, max: 12, low: 0, high: 6, optimum: -24, value: -48 });
    const value = el('output', { for: `meter-${i}`, class: 'value', text: '—' });
    const indicator = el('span', { class: 'indicator', role: 'img', 'aria-label': `${title}: no signal` });
    container.append(el('div', { class: 'meter-row' },
      el('label', { for: `meter-${i}`, text: title }), meter, value, indicator));
    return { meter, value, indicator, title };
  });
  return {
    show(levels = [], indicators = []) {
      meters.forEach((m, i) => {
        const db = levels[i];
        // dB as the level window's scale reads them; null: the reading failed.
        if (typeof db === 'number') {
          m.meter.value = Math.max(-48, Math.min(12, db));
          m.value.textContent = `${db.toFixed(1)} dB`;
        } else if (db === null) {
          m.meter.value = -48;
          m.value.textContent = '—';
        }
        const on = Boolean(indicators[i]);
        m.indicator.classList.toggle('on', on);
        m.indicator.setAttribute('aria-label', `${m.title}: ${on ? 'signal' : 'no signal'}`);
      });
    },
  };
}
