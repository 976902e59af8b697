// What the end-to-end tests share: the real tandrel-helper in a private runtime directory, a scripted fake
// service for what the real one never sends, and a private Xvfb with an xterm.
import { spawn, spawnSync } from 'node:child_process';
import { once } from 'node:events';
import { chownSync, existsSync, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { createConnection, createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { setTimeout as sleep } from 'node:timers/promises';

import { SERVICE_NAME } from '../index.js';

const repository = resolve(dirname(fileURLToPath(import.meta.url)), '../../..');
export const helperBinary =
  process.env.TANDREL_HELPER ?? join(repository, 'build/release/src/helper/tandrel-helper');

export function privateDirectory(t) {
  const directory = mkdtempSync(join(tmpdir(), 'tandrel-node-'));
  t.after(() => rmSync(directory, { recursive: true, force: true }));
  return directory;
}

async function waitFor(what, condition, ms = 10000) {
  const deadline = Date.now() + ms;
  while (!condition()) {
    if (Date.now() > deadline) throw new Error(`${what} did not happen within ${ms} ms`);
    await sleep(20);
  }
}

/**
 * Starts the helper with its socket in a fresh private runtime directory; `display` unset means no desktop.
 * Returns { path, process, exited }; the test's end kills it if the test did not stop it.
 */
export async function startHelper(t, display) {
  if (!existsSync(helperBinary)) {
    throw new Error(`${helperBinary} is missing: build it (cmake --build build/release --target tandrel-helper)`);
  }
  const runtime = privateDirectory(t);
  const env = { ...process.env, XDG_RUNTIME_DIR: runtime };
  delete env.DISPLAY;
  if (display) env.DISPLAY = display;
  const child = spawn(helperBinary, [], { env, stdio: ['ignore', 'ignore', 'pipe'] });
  let stderr = '';
  child.stderr.on('data', (chunk) => (stderr += chunk));
  const exited = once(child, 'exit');
  t.after(() => child.exitCode === null && child.signalCode === null && child.kill('SIGKILL'));
  const path = join(runtime, SERVICE_NAME);
  // The socket file appears when it is bound, a moment before the helper listens on it.
  const deadline = Date.now() + 10000;
  while (!(await accepts(path))) {
    if (child.exitCode !== null) throw new Error(`the helper exited with ${child.exitCode}: ${stderr}`);
    if (Date.now() > deadline) throw new Error('the helper did not listen within 10 s');
    await sleep(20);
  }
  return { path, process: child, exited };
}

function accepts(path) {
  return new Promise((resolve) => {
    const probe = createConnection({ path });
    probe.once('connect', () => {
      probe.destroy();
      resolve(true);
    });
    probe.once('error', () => resolve(false));
  });
}

/** A scripted service on a socket in a private directory: `onConnection(socket)` plays its part. */
export async function startFakeService(t, onConnection) {
  const path = join(privateDirectory(t), SERVICE_NAME);
  const server = createServer((socket) => {
    // The client may hang up first (that is what several tests make it do).
    socket.on('error', () => {});
    onConnection(socket);
  });
  server.listen(path);
  await once(server, 'listening');
  t.after(() => server.close());
  return path;
}

/** A frame around raw body bytes. */
export function frame(body) {
  const header = Buffer.alloc(4);
  header.writeUInt32BE(body.length, 0);
  return Buffer.concat([header, Buffer.from(body)]);
}

export function commandsMissing(...commands) {
  return commands.filter((command) => spawnSync('sh', ['-c', `command -v ${command}`]).status !== 0);
}

function run(command, args, env) {
  const result = spawnSync(command, args, { env, encoding: 'utf8' });
  if (result.status !== 0) throw new Error(`${command} ${args.join(' ')} failed: ${result.stderr}`);
  return result.stdout;
}

/**
 * A private Xvfb (display number of its own choosing) showing an xterm at the top left with `text`. Returns
 * { display, selectWord(line, column) } where selectWord double-clicks the character cell.
 */
export async function startDesktop(t, text) {
  const work = privateDirectory(t);
  const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1024x768x24', '-nolisten', 'tcp', '-noreset'], {
    stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
  });
  t.after(() => xvfb.kill('SIGKILL'));
  let number = '';
  xvfb.stdio[3].on('data', (chunk) => (number += chunk));
  await waitFor('Xvfb start', () => number.includes('\n'));
  const display = `:${number.trim()}`;
  const env = { ...process.env, DISPLAY: display };
  const cols = 40;
  const rows = 3;
  const file = join(work, 'text');
  writeFileSync(file, text);
  const xtermArguments = ['-b', '0', '-geometry', `${cols}x${rows}+0+0`, '-title', 'tandrel-node-test', '-hold'];
  const show = ['-e', 'sh', '-c', 'cat "$1" && : >"$1.shown"', 'sh', file];
  const xterm = spawn('xterm', [...xtermArguments, ...show], { env, stdio: 'ignore' });
  t.after(() => xterm.kill('SIGKILL'));
  const windows = run('xdotool', ['search', '--sync', '--onlyvisible', '--name', '^tandrel-node-test$'], env);
  const window = windows.split('\n')[0];
  const geometry = Object.fromEntries(
    run('xdotool', ['getwindowgeometry', '--shell', window], env).trim().split('\n').map((line) => line.split('=')),
  );
  await waitFor('the xterm\'s text', () => existsSync(`${file}.shown`));
  await sleep(200);
  const cellWidth = Math.floor(Number(geometry.WIDTH) / cols);
  const cellHeight = Math.floor(Number(geometry.HEIGHT) / rows);
  return {
    display,
    selectWord(line, column) {
      const x = column * cellWidth + Math.floor(cellWidth / 2);
      const y = line * cellHeight + Math.floor(cellHeight / 2);
      const doubleClick = ['click', '--repeat', '2', '--delay', '80', '1'];
      run('xdotool', ['mousemove', String(x), String(y), 'sleep', '0.05', ...doubleClick], env);
    },
  };
}

export { chownSync, sleep };
