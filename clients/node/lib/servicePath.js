import { lstatSync } from 'node:fs';
import { join } from 'node:path';

import { TandrelError } from './TandrelError.js';

export const SERVICE_NAME = 'com.tandrel.helper';

/**
 * Where the service of `name` listens: `$XDG_RUNTIME_DIR/<name>` when that variable names an absolute path,
 * else `/tmp/<name>-<uid>/<name>`. The /tmp directory must be the user's own and private (mode 0700, not a
 * link): anyone else could otherwise put a socket there. Throws NOT_RUNNING when it does not exist and
 * REFUSED when it is not safe.
 */
export function servicePath(name = SERVICE_NAME, env = process.env) {
  if (!name || name === '.' || name === '..' || name.includes('/')) {
    throw new TypeError(`invalid service name "${name}"`);
  }
  const runtime = env.XDG_RUNTIME_DIR;
  if (runtime && runtime.startsWith('/')) return join(runtime, name);
  const uid = process.getuid();
  const directory = `/tmp/${name}-${uid}`;
  let info;
  try {
    info = lstatSync(directory);
  } catch (error) {
    if (error.code === 'ENOENT') {
      throw new TandrelError('NOT_RUNNING', `${name} is not running (${directory} does not exist)`, { cause: error });
    }
    throw new TandrelError('REFUSED', `cannot use ${directory}: ${error.message}`, { cause: error });
  }
  if (!info.isDirectory()) throw new TandrelError('REFUSED', `${directory} is not a directory`);
  if (info.uid !== uid) {
    throw new TandrelError('REFUSED', `${directory} belongs to uid ${info.uid}, not to uid ${uid} (another user)`);
  }
  if ((info.mode & 0o077) !== 0) {
    const mode = (info.mode & 0o7777).toString(8).padStart(4, '0');
    throw new TandrelError('REFUSED', `${directory} has mode ${mode}; it must be private to its owner (0700)`);
  }
  return join(directory, name);
}

/**
 * Checks, before anything is sent, that the socket at `path` exists and belongs to this user: the service
 * binds it as the user (systemd's user manager does too), so another owner means another user's process.
 */
export function checkSocketOwner(path, name) {
  let info;
  try {
    info = lstatSync(path);
  } catch (error) {
    if (error.code === 'ENOENT') {
      throw new TandrelError('NOT_RUNNING', `${name} is not running (no socket at ${path})`, { cause: error });
    }
    throw new TandrelError('NOT_RUNNING', `${name} cannot be reached at ${path}: ${error.message}`, { cause: error });
  }
  if (!info.isSocket()) throw new TandrelError('NOT_RUNNING', `${name} is not running (${path} is not a socket)`);
  const uid = process.getuid();
  if (info.uid !== uid) {
    throw new TandrelError(
      'REFUSED',
      `refused ${name} at ${path}: it belongs to uid ${info.uid}, not to uid ${uid} (another user)`,
    );
  }
}
