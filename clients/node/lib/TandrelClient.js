import { EventEmitter } from 'node:events';
import { createConnection } from 'node:net';

import { SERVICE_NAME, checkSocketOwner, servicePath } from './servicePath.js';
import { TandrelError } from './TandrelError.js';
import { FrameReader, encodeRequest } from './wire.js';

export const DEFAULT_TIMEOUT = 5000;

// What each answer kind yields, read from its JSON object.
const ANSWERS = {
  StartMonitor: (data) => member(data, 'StartMonitor', 'result', 'boolean'),
  IsPermissionGranted: (data) => member(data, 'IsPermissionGranted', 'result', 'boolean'),
  MouseLocation: (data) => ({
    x: member(data, 'MouseLocation', 'x', 'number'),
    y: member(data, 'MouseLocation', 'y', 'number'),
  }),
  SelectedText: (data) => member(data, 'SelectedText', 'content', 'string'),
  InsertText: (data) => member(data, 'InsertText', 'result', 'boolean'),
};

function member(data, type, key, kind) {
  if (data === undefined) throw new TandrelError('PROTOCOL', `the ${type} answer has no "data"`);
  if (typeof data[key] !== kind) {
    throw new TandrelError('PROTOCOL', `the ${type} answer's "${key}" is ${JSON.stringify(data[key])}, not a ${kind}`);
  }
  return data[key];
}

/**
 * Connects to the service. Resolves with a client once the connection is made; rejects with a TandrelError:
 * NOT_RUNNING, REFUSED, or TIMEOUT.
 */
export async function connect(options = {}) {
  const name = options.serviceName ?? SERVICE_NAME;
  const path = options.path ?? servicePath(name);
  const timeout = options.timeout ?? DEFAULT_TIMEOUT;
  checkSocketOwner(path, name);
  const socket = await openSocket(path, name, timeout);
  return new TandrelClient(socket, name, timeout, TOKEN);
}

function openSocket(path, name, timeout) {
  return new Promise((resolve, reject) => {
    const socket = createConnection({ path });
    const timer =
      timeout > 0 && Number.isFinite(timeout)
        ? setTimeout(() => {
            socket.destroy();
            reject(new TandrelError('TIMEOUT', `${name} did not accept the connection within ${timeout} ms`));
          }, timeout)
        : undefined;
    socket.once('connect', () => {
      clearTimeout(timer);
      socket.removeAllListeners('error');
      resolve(socket);
    });
    socket.once('error', (error) => {
      clearTimeout(timer);
      const refused = error.code === 'EACCES' || error.code === 'EPERM';
      const what = refused ? `refused access to ${path}` : `${name} is not running`;
      const code = refused ? 'REFUSED' : 'NOT_RUNNING';
      reject(new TandrelError(code, `${what} (${error.code ?? error.message})`, { cause: error }));
    });
  });
}

const TOKEN = Symbol('TandrelClient');

/**
 * A connection to the service; made by `connect`. Each request method returns a promise of its answer.
 * Answers carry no request identifier: the service answers each request with a message of the same type, so an
 * answer settles the oldest waiting request of its type. Answers of different types may come in another order
 * than their requests (a "SelectedText" that needs a simulated copy is answered about 50 ms later, and requests
 * sent meanwhile are answered first). A request that timed out keeps its place, so its late answer is not taken
 * for the answer to a newer request.
 *
 * Events: 'selection' (the user selected text; call selectedText() to read it; only after startMonitor()
 * answered true) and 'closed' (once, with the TandrelError that ended the connection: CLOSED, WENT_AWAY or
 * PROTOCOL). Reconnecting is the caller's: call connect() again, then startMonitor() again.
 */
export class TandrelClient extends EventEmitter {
  #socket;
  #name;
  #timeout;
  #reader = new FrameReader();
  #pending = new Map(); // type -> oldest-first array of { resolve, reject, timer, settled }
  #closeReason = null;
  #socketClosed;

  constructor(socket, name, timeout, token) {
    if (token !== TOKEN) throw new TypeError('use connect() to make a TandrelClient');
    super();
    this.#socket = socket;
    this.#name = name;
    this.#timeout = timeout;
    this.#socketClosed = new Promise((resolve) => socket.once('close', resolve));
    socket.on('data', (chunk) => this.#onData(chunk));
    socket.on('end', () => {
      const partial = this.#reader.bufferedBytes > 0 ? ' in the middle of a message' : '';
      this.#shutDown(new TandrelError('WENT_AWAY', `${name} went away${partial}`));
    });
    socket.on('error', (error) => {
      const reason = `${name} went away (${error.code ?? error.message})`;
      this.#shutDown(new TandrelError('WENT_AWAY', reason, { cause: error }));
    });
    socket.on('close', () => this.#shutDown(new TandrelError('WENT_AWAY', `${name} went away`)));
  }

  /** The error that ended the connection, or null while it is open. */
  get closeReason() {
    return this.#closeReason;
  }

  startMonitor(options) {
    return this.#request('StartMonitor', undefined, options);
  }
  isPermissionGranted(options) {
    return this.#request('IsPermissionGranted', undefined, options);
  }
  mouseLocation(options) {
    return this.#request('MouseLocation', undefined, options);
  }
  selectedText(options) {
    return this.#request('SelectedText', undefined, options);
  }
  insertText(text, options) {
    if (typeof text !== 'string') return Promise.reject(new TypeError('insertText takes a string'));
    return this.#request('InsertText', text, options);
  }

  /** Ends the connection; waiting requests fail with CLOSED. Resolves once the socket is closed. */
  close() {
    this.#shutDown(new TandrelError('CLOSED', `the connection to ${this.#name} was closed by its owner`));
    return this.#socketClosed;
  }

  #request(type, text, options) {
    if (this.#closeReason) return Promise.reject(this.#unanswered(type, this.#closeReason));
    let frame;
    try {
      frame = encodeRequest(type, text);
    } catch (error) {
      return Promise.reject(error);
    }
    const timeout = options?.timeout ?? this.#timeout;
    return new Promise((resolve, reject) => {
      const entry = { resolve, reject, timer: undefined, settled: false };
      if (timeout > 0 && Number.isFinite(timeout)) {
        entry.timer = setTimeout(() => {
          entry.settled = true;
          reject(new TandrelError('TIMEOUT', `no ${type} answer from ${this.#name} within ${timeout} ms`));
        }, timeout);
      }
      if (!this.#pending.has(type)) this.#pending.set(type, []);
      this.#pending.get(type).push(entry);
      this.#socket.write(frame);
    });
  }

  #onData(chunk) {
    try {
      this.#reader.push(chunk, (message) => this.#dispatch(message));
    } catch (error) {
      this.#shutDown(error);
    }
  }

  #dispatch({ type, data }) {
    if (type === 'SelectionEvent') {
      // Not from inside the socket's handler: a listener that throws must not cost the messages after it.
      process.nextTick(() => this.emit('selection'));
      return;
    }
    const read = ANSWERS[type];
    const entry = read && this.#pending.get(type)?.shift();
    if (!entry) return; // a kind this client does not know, or nothing of that kind was asked
    clearTimeout(entry.timer);
    if (entry.settled) return;
    entry.settled = true;
    try {
      entry.resolve(read(data));
    } catch (error) {
      entry.reject(error);
    }
  }

  #shutDown(reason) {
    if (this.#closeReason) return;
    this.#closeReason = reason;
    for (const [type, entries] of this.#pending) {
      for (const entry of entries) {
        clearTimeout(entry.timer);
        if (!entry.settled) entry.reject(this.#unanswered(type, reason));
      }
    }
    this.#pending.clear();
    this.#socket.destroy();
    process.nextTick(() => this.emit('closed', reason));
  }

  #unanswered(type, reason) {
    return new TandrelError(reason.code, `${reason.message}; ${type} got no answer`, { cause: reason });
  }
}
