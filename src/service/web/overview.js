// The bus overview as the main window shows it: per slot the identifier, the hardware preset's
// name and picture, and the user preset. A slot opens its machine.
import { el } from './controls.js';

// The picture of the slot's hardware preset, from the bus's data directory; the query changes
// with the preset, so that a new one is fetched.
export function pictureUrl(bus, machine) {
  const preset = machine.hardwarePreset ? machine.hardwarePreset.number : '';
  const extra = machine.extraPreset ? `&extra=${encodeURIComponent(machine.extraPreset)}` : '';
  return `/api/v1/buses/${encodeURIComponent(bus)}/machines/${encodeURIComponent(machine.id)}/picture?preset=${preset}${extra}`;
}

export function renderSlots(list, bus, machines, open) {
  const items = machines.filter(Boolean).map((m) => {
    const preset = m.hardwarePreset ? m.hardwarePreset.name : 'Unknown';
    const picture = el('img', { src: pictureUrl(bus, m), alt: '', width: 120, height: 80, loading: 'lazy' });
    picture.onerror = () => picture.classList.add('missing');
    // The visible text is the button's name, so that speech input finds it by what it shows.
    const button = el('button', { type: 'button', class: 'slot', 'data-machine': m.id },
      picture,
      el('span', { class: 'slot-text' },
        el('span', { class: 'slot-id', text: `Slot ${m.slot}: ${m.id}` }),
        el('span', { class: 'slot-hw', text: `HW PreSet: ${preset}` }),
        el('span', { class: 'slot-user', text: `User PreSet: ${m.userPreset || ''}` })));
    button.addEventListener('click', () => open(m.id));
    return el('li', {}, button);
  });
  if (items.length === 0) items.push(el('li', { class: 'note', text: 'No machine on this bus.' }));
  list.replaceChildren(...items);
}
