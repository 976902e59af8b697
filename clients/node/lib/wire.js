// The framing of the service's socket: a 4-byte big-endian body length, then one MessagePack map with string
// keys. Requests carry "type" (str) and, for "InsertText", "data" (str); answers and events carry "type" (str)
// and "data" (bin), a compact UTF-8 JSON object that repeats the type.
import { Decoder, encode } from '@msgpack/msgpack';

import { TandrelError } from './TandrelError.js';

export const HEADER_SIZE = 4;
// The service closes a connection that announces a longer body; it sends none longer either.
export const MAX_BODY_SIZE = 8 * 1024 * 1024;

const decoder = new Decoder({
  mapKeyConverter(key) {
    if (typeof key !== 'string') throw new TypeError(`a map key is a ${typeof key}, not a string`);
    return key;
  },
});

/** One request as a whole frame. Throws TOO_LARGE when the body would exceed the service's limit. */
export function encodeRequest(type, text) {
  const message = text === undefined ? { type } : { type, data: text };
  const body = encode(message);
  if (body.length > MAX_BODY_SIZE) {
    throw new TandrelError(
      'TOO_LARGE',
      `the ${type} request encodes to ${body.length} bytes, more than the service's limit of ${MAX_BODY_SIZE}`,
    );
  }
  const frame = Buffer.allocUnsafe(HEADER_SIZE + body.length);
  frame.writeUInt32BE(body.length, 0);
  frame.set(body, HEADER_SIZE);
  return frame;
}

/**
 * Splits the byte stream from the service into messages, each `{ type, data }` with `data` the parsed JSON
 * object (undefined when the message has no "data"). Any fault is final: `push` throws a PROTOCOL error and
 * the stream cannot be trusted after it.
 */
export class FrameReader {
  #chunks = [];
  #buffered = 0;

  /** Appends bytes and hands each message they complete to `onMessage`, in order, before reading the next. */
  push(chunk, onMessage) {
    this.#chunks.push(chunk);
    this.#buffered += chunk.length;
    while (this.#buffered >= HEADER_SIZE) {
      const buffer = this.#flatten();
      const length = buffer.readUInt32BE(0);
      if (length > MAX_BODY_SIZE) {
        throw protocolError(
          `the service announced a frame of ${length} bytes, more than the limit of ${MAX_BODY_SIZE}`,
        );
      }
      if (buffer.length < HEADER_SIZE + length) break;
      const rest = buffer.subarray(HEADER_SIZE + length);
      this.#chunks = rest.length > 0 ? [rest] : [];
      this.#buffered = rest.length;
      onMessage(parseBody(buffer.subarray(HEADER_SIZE, HEADER_SIZE + length)));
    }
  }

  /** Bytes of an unfinished frame still held (a stream that ends here ended mid-frame). */
  get bufferedBytes() {
    return this.#buffered;
  }

  #flatten() {
    if (this.#chunks.length > 1) this.#chunks = [Buffer.concat(this.#chunks)];
    return this.#chunks[0];
  }
}

function parseBody(body) {
  let message;
  try {
    message = decoder.decode(body);
  } catch (error) {
    throw protocolError(`a frame of ${body.length} bytes is not valid MessagePack: ${error.message}`, error);
  }
  if (message === null || typeof message !== 'object' || Array.isArray(message) || message instanceof Uint8Array) {
    throw protocolError(`a frame holds ${describe(message)}, not a MessagePack map`);
  }
  if (typeof message.type !== 'string') {
    throw protocolError(`a message has ${describe(message.type)} as its "type", not a string`);
  }
  if (message.data === undefined) return { type: message.type, data: undefined };
  if (!(message.data instanceof Uint8Array)) {
    throw protocolError(`a ${message.type} message has ${describe(message.data)} as its "data", not a byte string`);
  }
  let data;
  try {
    data = JSON.parse(new TextDecoder('utf-8', { fatal: true }).decode(message.data));
  } catch (error) {
    throw protocolError(`the "data" of a ${message.type} message is not UTF-8 JSON: ${error.message}`, error);
  }
  if (data === null || typeof data !== 'object' || Array.isArray(data)) {
    throw protocolError(`the "data" of a ${message.type} message is not a JSON object`);
  }
  return { type: message.type, data };
}

function describe(value) {
  if (value === undefined) return 'nothing';
  if (value === null) return 'nil';
  if (Array.isArray(value)) return 'an array';
  if (value instanceof Uint8Array) return 'a byte string';
  return `a ${typeof value}`;
}

function protocolError(message, cause) {
  return new TandrelError('PROTOCOL', message, cause ? { cause } : undefined);
}
