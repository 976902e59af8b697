// The client against the real helper without a desktop, and against a scripted service for what the real one
// never does on its own (late answers, broken frames, another user's socket).
import assert from 'node:assert/strict';
import { once } from 'node:events';
import { test } from 'node:test';

import { encode } from '@msgpack/msgpack';

import { connect } from '../index.js';
import { chownSync, frame, privateDirectory, startFakeService, startHelper } from './support.js';

const rejectsWith = (promise, code) =>
  assert.rejects(promise, (error) => error.code === code || assert.fail(`${error.code}: ${error.message}`));

test('answers every request without a desktop, deferred answers overtaking', { timeout: 30000 }, async (t) => {
  const helper = await startHelper(t);
  const client = await connect({ path: helper.path, timeout: 5000 });
  t.after(() => client.close());

  assert.equal(await client.isPermissionGranted(), false);
  assert.equal(await client.startMonitor(), false);
  assert.deepEqual(await client.mouseLocation(), { x: 0, y: 0 });
  assert.equal(await client.insertText('hello'), false);
  // Without a desktop "SelectedText" goes the simulated-copy way and answers about 50 ms later, so the requests
  // sent after it are answered first.
  const order = [];
  const answers = await Promise.all([
    client.selectedText().then((text) => (order.push('SelectedText'), text)),
    client.isPermissionGranted().then((granted) => (order.push('IsPermissionGranted'), granted)),
    client.mouseLocation().then((point) => (order.push('MouseLocation'), point)),
  ]);
  assert.deepEqual(answers, ['', false, { x: 0, y: 0 }]);
  assert.equal(order.at(-1), 'SelectedText');
  await rejectsWith(client.insertText('x'.repeat(9 * 1024 * 1024)), 'TOO_LARGE');
  assert.equal(await client.isPermissionGranted(), false, 'the connection outlives a refused request');

  const closed = once(client, 'closed');
  const pending = rejectsWith(client.selectedText(), 'CLOSED');
  await client.close();
  await pending;
  assert.equal((await closed)[0].code, 'CLOSED');
  await rejectsWith(client.mouseLocation(), 'CLOSED');
});

test('not running, went away mid-request, and refused for another user', { timeout: 30000 }, async (t) => {
  await rejectsWith(connect({ path: `${privateDirectory(t)}/absent` }), 'NOT_RUNNING');

  const helper = await startHelper(t);
  const client = await connect({ path: helper.path });
  const closed = once(client, 'closed');
  // Held stopped so that the stop comes before the answer, which the helper defers by 50 ms.
  helper.process.kill('SIGSTOP');
  const pending = rejectsWith(client.selectedText(), 'WENT_AWAY');
  helper.process.kill('SIGTERM');
  helper.process.kill('SIGCONT');
  await pending;
  assert.equal((await closed)[0].code, 'WENT_AWAY');
  await rejectsWith(client.isPermissionGranted(), 'WENT_AWAY');
  await helper.exited;
  await rejectsWith(connect({ path: helper.path }), 'NOT_RUNNING');

  if (process.getuid() !== 0) {
    t.diagnostic('skipped the other-user case: only root can give a socket to another user');
    return;
  }
  const path = await startFakeService(t, () => assert.fail('the client connected to another user\'s socket'));
  chownSync(path, 65534, 65534);
  await rejectsWith(connect({ path }), 'REFUSED');
});

test('answers pair with requests by type, oldest first, a timed-out request keeping its place', {
  timeout: 30000,
}, async (t) => {
  const path = await startFakeService(t, (socket) => {
    let received = 0;
    socket.on('data', (chunk) => {
      // Each request here is one small frame per write; count the headers.
      for (let at = 0; at < chunk.length; at += 4 + chunk.readUInt32BE(at)) received++;
      if (received < 3) return;
      const answer = (type, json) => frame(encode({ type, data: Buffer.from(JSON.stringify({ type, ...json })) }));
      socket.write(Buffer.concat([
        answer('IsPermissionGranted', { result: true }),
        answer('SelectedText', { content: 'late, for the request that timed out' }),
        answer('SelectedText', { content: 'second' }),
        frame(encode({ type: 'SelectionEvent', data: Buffer.from('{"type":"SelectionEvent"}') })),
        answer('SomethingNewer', {}),
      ]));
    });
  });
  const client = await connect({ path });
  t.after(() => client.close());
  const selection = once(client, 'selection');
  await rejectsWith(client.selectedText({ timeout: 30 }), 'TIMEOUT');
  const [text, granted] = await Promise.all([client.selectedText(), client.isPermissionGranted()]);
  assert.equal(text, 'second');
  assert.equal(granted, true);
  await selection;
  assert.equal(client.closeReason, null);
});

test('a frame the client cannot read closes the connection with PROTOCOL', { timeout: 30000 }, async (t) => {
  const bad = {
    'oversized length': Buffer.from([0x00, 0x90, 0x00, 0x00]),
    'not MessagePack': frame([0xc1]),
    'not a map': frame(encode([1, 2])),
    'type not a string': frame(encode({ type: Buffer.from('IsPermissionGranted') })),
    'data not JSON': frame(encode({ type: 'IsPermissionGranted', data: Buffer.from('{result') })),
    'data a string': frame(encode({ type: 'IsPermissionGranted', data: '{"result":true}' })),
  };
  for (const [name, bytes] of Object.entries(bad)) {
    const path = await startFakeService(t, (socket) => socket.once('data', () => socket.write(bytes)));
    const client = await connect({ path });
    const closed = once(client, 'closed');
    await assert.rejects(client.isPermissionGranted(), (error) => error.code === 'PROTOCOL', name);
    assert.equal((await closed)[0].code, 'PROTOCOL', name);
  }
});
