// The service's event stream over a WebSocket, reconnecting by itself. After every (re)connect
// the level subscription is asked for again and the owner reads the state afresh, so changes
// missed while away show; nothing the page sent before is sent again.

export class EventStream {
  constructor({ onEvent, onOnline, onOffline }) {
    this.onEvent = onEvent;
    this.onOnline = onOnline;
    this.onOffline = onOffline;
    this.socket = null;
    this.levels = null; // {bus, machine} while the page shows a machine
    this.delay = 250;
    this.online = false;
    this.timer = null;
  }

  start() {
    const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
    const socket = new WebSocket(`${scheme}//${location.host}/api/v1/events`);
    this.socket = socket;
    socket.onopen = () => {
      this.delay = 250;
      this.online = true;
      if (this.levels) this.sendLevels('subscribe', this.levels);
      this.onOnline();
    };
    socket.onmessage = (message) => {
      let event;
      try {
        event = JSON.parse(message.data);
      } catch {
        return;
      }
      this.onEvent(event);
    };
    socket.onclose = () => {
      if (this.socket !== socket) return;
      this.socket = null;
      if (this.online) this.onOffline();
      this.online = false;
      this.retry();
    };
    socket.onerror = () => {};
  }

  // Another try soon; sooner after a short outage, at most every 2 s.
  retry() {
    if (this.timer) return;
    this.timer = setTimeout(() => {
      this.timer = null;
      this.start();
    }, this.delay);
    this.delay = Math.min(this.delay * 2, 2000);
  }

  // The page noticed the service gone (a request failed): give up the socket at once.
  lost() {
    if (this.socket && this.socket.readyState === WebSocket.OPEN) return;
    if (this.online) {
      this.online = false;
      this.onOffline();
    }
  }

  sendLevels(verb, target) {
    if (this.socket && this.socket.readyState === WebSocket.OPEN)
      this.socket.send(JSON.stringify({ [verb]: 'levels', bus: target.bus, machine: target.machine }));
  }

  watchLevels(target) {
    if (this.levels) this.sendLevels('unsubscribe', this.levels);
    this.levels = target;
    if (target) this.sendLevels('subscribe', target);
  }
}
