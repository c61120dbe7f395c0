// One PATCH in flight per machine. Changes made meanwhile are merged (a later value of the same
// field replaces the earlier one) and go out as one PATCH when the answer comes, so a fader drag
// sends at most one request per round trip and its last position always arrives. A request
// that failed is never sent again (onError is told what it carried); what was waiting is dropped
// when the service is gone.

function mergeBands(into, bands) {
  const byBand = new Map((into || []).map((b) => [b.band, { ...b }]));
  for (const b of bands) byBand.set(b.band, { ...(byBand.get(b.band) || {}), ...b });
  return [...byBand.values()];
}

export function mergePatch(into, change) {
  const out = { ...into };
  for (const [key, value] of Object.entries(change)) {
    if (key === 'bands') out.bands = mergeBands(out.bands, value);
    else if (value !== null && typeof value === 'object' && !Array.isArray(value))
      out[key] = { ...(out[key] || {}), ...value };
    else out[key] = value;
  }
  return out;
}

export class PatchQueue {
  // send(body) returns a promise of the machine's new state.
  constructor(send, onState, onError) {
    this.send = send;
    this.onState = onState;
    this.onError = onError;
    this.waiting = null;
    this.inFlight = false;
  }

  push(change) {
    this.waiting = mergePatch(this.waiting || {}, change);
    if (!this.inFlight) this.flush();
  }

  get busy() {
    return this.inFlight || this.waiting !== null;
  }

  drop() {
    this.waiting = null;
  }

  async flush() {
    const body = this.waiting;
    if (!body) return;
    this.waiting = null;
    this.inFlight = true;
    try {
      const state = await this.send(body);
      if (!this.waiting) this.onState(state);
    } catch (e) {
      if (e.offline) this.waiting = null;
      this.onError(e, body);
    } finally {
      this.inFlight = false;
    }
    if (this.waiting) this.flush();
  }
}
