// Requests to the service's API. A request that cannot reach the service rejects with
// {offline: true}; nothing is ever sent again by itself.

const base = '/api/v1';

export class ApiError extends Error {
  constructor(status, body) {
    super(body && body.message ? body.message : `HTTP ${status}`);
    this.status = status;
    this.code = body && body.error;
    this.body = body;
  }
}

let onUnauthorized = async () => false;
let onOffline = () => {};

// hooks.unauthorized(): asks for a token, resolves true once a session is open.
// hooks.offline(): the service did not answer.
export function setHooks(hooks) {
  onUnauthorized = hooks.unauthorized;
  onOffline = hooks.offline;
}

async function send(method, path, body, retried = false) {
  const init = { method, credentials: 'same-origin', headers: {} };
  if (body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(base + path, init);
  } catch (e) {
    onOffline();
    throw Object.assign(new Error('The service cannot be reached.'), { offline: true });
  }
  if (response.status === 401 && !retried && (await onUnauthorized())) {
    return send(method, path, body, true);
  }
  const type = response.headers.get('Content-Type') || '';
  const data = type.startsWith('application/json') ? await response.json() : await response.text();
  if (!response.ok) throw new ApiError(response.status, data);
  return data;
}

export const get = (path) => send('GET', path);
export const post = (path, body) => send('POST', path, body);
export const patch = (path, body) => send('PATCH', path, body);

export function busPath(bus) {
  return `/buses/${encodeURIComponent(bus)}`;
}

export function machinePath(bus, machine) {
  return `${busPath(bus)}/machines/${encodeURIComponent(machine)}`;
}

// Exchanges a token for the session cookie.
export async function openSession(token) {
  const response = await fetch(`${base}/session`, {
    method: 'POST',
    credentials: 'same-origin',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({ token }),
  });
  return response.ok;
}

// What went wrong, as an operator reads it ({text}), and the service's own words ({detail}).
export function explain(e) {
  const detail = e.message || '';
  if (e.offline) return { text: 'The service cannot be reached.', detail };
  const code = e.code;
  const cause = e.body && e.body.cause;
  const sentences = {
    disconnected: 'The bus adapter is not connected, so nothing reached the machine.',
    processor_silent: 'The machine did not answer. Check that it is switched on and connected to the bus.',
    exchange_failed: 'The machine did not confirm the change, so it may not run it.',
    data_dir_locked: "Another program is using this bus's data folder; close it and try again.",
    busy: 'The bus is busy with other requests; try again in a moment.',
    not_found: 'The machine is no longer on the bus.',
    rate_limited: 'Too many requests at once; try again in a moment.',
    unauthorized: 'The service needs its access token again.',
    forbidden: 'This access token may only read, not change settings.',
  };
  if (code === 'partly_applied')
    return { text: `Only part of the change reached the machine. ${sentences[cause] || ''}`.trim(), detail };
  if (sentences[code]) return { text: sentences[code], detail };
  if (e.status === 400) return { text: `The value was not taken: ${detail}`, detail };
  return { text: 'The request failed.', detail };
}
