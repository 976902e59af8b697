/**
 * The one error class of the client. `code` says what happened:
 * - NOT_RUNNING: no service listens on the socket (no socket file, or nobody accepts on it);
 * - REFUSED: the socket belongs to another user, or its directory is not private, so nothing is sent;
 * - WENT_AWAY: the service closed the connection (it stopped, or it refused this client);
 * - TIMEOUT: no answer within the timeout (the connection stays usable);
 * - PROTOCOL: the service sent something this client cannot read;
 * - TOO_LARGE: a request would exceed the service's frame limit (nothing was sent);
 * - CLOSED: the client was closed by its owner.
 */
export class TandrelError extends Error {
  constructor(code, message, options) {
    super(message, options);
    this.name = 'TandrelError';
    this.code = code;
  }
}
