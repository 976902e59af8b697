// A real selection on a real X server reaching the 'selection' event, and the README's example as written.
import assert from 'node:assert/strict';
import { execFile } from 'node:child_process';
import { once } from 'node:events';
import { mkdirSync, readFileSync, symlinkSync, writeFileSync } from 'node:fs';
import { dirname, join, resolve } from 'node:path';
import { test } from 'node:test';
import { fileURLToPath } from 'node:url';
import { promisify } from 'node:util';

import { connect } from '../index.js';
import { commandsMissing, privateDirectory, startDesktop, startHelper } from './support.js';

const missing = commandsMissing('Xvfb', 'xterm', 'xdotool');
const skip = missing.length > 0 && `${missing.join(', ')} not installed (scripts/bootstrap installs them)`;

test('a double click in an xterm reaches the selection event', { timeout: 30000, skip }, async (t) => {
  const desktop = await startDesktop(t, 'tandrel node client\n');
  const helper = await startHelper(t, desktop.display);
  const client = await connect({ path: helper.path });
  t.after(() => client.close());
  assert.equal(await client.startMonitor(), true);
  const selection = once(client, 'selection');
  desktop.selectWord(0, 9); // "node"
  await selection;
  assert.equal(await client.selectedText(), 'node');
});

test('the README example runs as written', { timeout: 30000 }, async (t) => {
  const packageDirectory = resolve(dirname(fileURLToPath(import.meta.url)), '..');
  const readme = readFileSync(join(packageDirectory, '../../README.md'), 'utf8');
  const example = readme.match(/```js\n([\s\S]*?)```/)?.[1];
  assert.ok(example, 'the README has a ```js example');
  assert.ok(example.trim().split('\n').length <= 10, 'the example is at most ten lines');
  // As an application would have it: the package installed in its node_modules.
  const application = privateDirectory(t);
  mkdirSync(join(application, 'node_modules'));
  symlinkSync(packageDirectory, join(application, 'node_modules/tandrel-client'));
  writeFileSync(join(application, 'example.mjs'), example);
  const helper = await startHelper(t);
  const { stdout } = await promisify(execFile)(process.execPath, ['example.mjs'], {
    cwd: application,
    env: { ...process.env, XDG_RUNTIME_DIR: dirname(helper.path) },
    timeout: 10000,
  });
  assert.match(stdout, /pointer at \{ x: 0, y: 0 \}/);
  assert.match(stdout, /no permission/);
  assert.match(stdout, /closed: CLOSED/);
});
