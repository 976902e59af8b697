/// <reference types="node" />
import { EventEmitter } from 'node:events';

/** The service's name, which is also its socket's file name. */
export declare const SERVICE_NAME: 'com.tandrel.helper';
/** Milliseconds a request (and the connection) waits for its answer unless told otherwise. */
export declare const DEFAULT_TIMEOUT: number;

export type TandrelErrorCode =
  /** No service listens on the socket (no socket file, or nobody accepts on it). */
  | 'NOT_RUNNING'
  /** The socket belongs to another user, or its /tmp directory is not private: nothing was sent. */
  | 'REFUSED'
  /** The service closed the connection (it stopped, or it refused this client). */
  | 'WENT_AWAY'
  /** No answer within the timeout; the connection stays usable. */
  | 'TIMEOUT'
  /** The service sent something this client cannot read; the connection is closed. */
  | 'PROTOCOL'
  /** The request would exceed the service's frame limit (8 MiB); nothing was sent. */
  | 'TOO_LARGE'
  /** The client was closed by its owner. */
  | 'CLOSED';

export declare class TandrelError extends Error {
  readonly name: 'TandrelError';
  readonly code: TandrelErrorCode;
}

export interface ConnectOptions {
  /** The service to talk to; default SERVICE_NAME. */
  serviceName?: string;
  /** The socket's path; default `$XDG_RUNTIME_DIR/<serviceName>`, else `/tmp/<serviceName>-<uid>/<serviceName>`. */
  path?: string;
  /** Milliseconds to wait for the connection and, by default, for each answer; 0 or Infinity waits forever. */
  timeout?: number;
}

export interface RequestOptions {
  /** Milliseconds to wait for this answer instead of the client's timeout; 0 or Infinity waits forever. */
  timeout?: number;
}

export interface Point {
  /** Pointer position in pixels, origin at the bottom left of the primary screen. */
  x: number;
  y: number;
}

/** The socket path of a service (see ConnectOptions.path); throws a TandrelError when the /tmp fallback is unsafe. */
export declare function servicePath(serviceName?: string, env?: NodeJS.ProcessEnv): string;

/** Connects to the service; rejects with a TandrelError (NOT_RUNNING, REFUSED, TIMEOUT). */
export declare function connect(options?: ConnectOptions): Promise<TandrelClient>;

/**
 * A connection to the service, made by connect(). Requests fail with a TandrelError: TIMEOUT, WENT_AWAY,
 * PROTOCOL, CLOSED (or TOO_LARGE for insertText). Answers are paired with requests by type, oldest first; answers
 * of different types may come in another order than the requests were sent.
 */
export declare class TandrelClient extends EventEmitter {
  private constructor();
  /** The error that ended the connection, or null while it is open. */
  readonly closeReason: TandrelError | null;

  /**
   * Asks the service to watch for text selections and send 'selection' events to this client. Resolves with
   * whether the service may monitor input (false: no monitoring and no events).
   */
  startMonitor(options?: RequestOptions): Promise<boolean>;
  /** Whether the service may monitor and synthesise input on this desktop. */
  isPermissionGranted(options?: RequestOptions): Promise<boolean>;
  /** The pointer's position. */
  mouseLocation(options?: RequestOptions): Promise<Point>;
  /** The text selected in the frontmost application; '' when nothing is selected or it cannot be read. */
  selectedText(options?: RequestOptions): Promise<string>;
  /**
   * Pastes text into the frontmost application (the text stays on the clipboard). Resolves true once pasted,
   * false (at once) when the service may not synthesise input.
   */
  insertText(text: string, options?: RequestOptions): Promise<boolean>;
  /** Ends the connection; waiting requests fail with CLOSED. Resolves once the socket is closed. */
  close(): Promise<void>;

  /** The user selected text (not blank); read it with selectedText(). Sent only after startMonitor() resolved true. */
  on(event: 'selection', listener: () => void): this;
  /** The connection ended (once): reason.code is CLOSED, WENT_AWAY or PROTOCOL. Reconnect with connect(). */
  on(event: 'closed', listener: (reason: TandrelError) => void): this;
  once(event: 'selection', listener: () => void): this;
  once(event: 'closed', listener: (reason: TandrelError) => void): this;
  off(event: 'selection', listener: () => void): this;
  off(event: 'closed', listener: (reason: TandrelError) => void): this;
  on(event: string | symbol, listener: (...args: any[]) => void): this;
  once(event: string | symbol, listener: (...args: any[]) => void): this;
  off(event: string | symbol, listener: (...args: any[]) => void): this;
}
