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
