'use strict';
// Engine failures as the platform's codes: real files that fail in each way the table names, and
// every row of the table through a scripted error, each keeping the engine's number and name.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');

require('./ets-require.js');
const kv = require('../Index.ets');
const { root } = require('../../test/js/loader.js');

const { IO, UNSUPPORTED_FORMAT } = kv.ErrorCode;

// Fails the way the row says: the code, the engine's number, and its name in the message.
async function failsWith(source, engineCode, code, name) {
  const player = kv.createPlayer();
  try {
    if (typeof source === 'number') player.setFdSource(source); else player.setSource(source);
    await assert.rejects(player.prepare(), (e) => {
      assert.ok(e instanceof kv.BusinessError, String(e));
      assert.deepStrictEqual([e.code, e.engineCode], [code, engineCode], e.message);
      assert.match(e.message, new RegExp(`engine error ${engineCode} \\(${name}\\b`));
      return true;
    }, String(source));
  } finally {
    await player.release();
  }
}

// A loopback port nobody listens on: taken from the system, then given back.
async function closedPort() {
  const server = net.createServer();
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  await new Promise((resolve) => server.close(resolve));
  return port;
}

test('real files that fail give the platform code, the engine number and its name', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavori-errors-'));
  const file = (name, bytes) => {
    const at = path.join(dir, name);
    fs.writeFileSync(at, bytes);
    return at;
  };
  const clip = fs.readFileSync(path.join(root, 'examples', 'media', 'tone.m4a'));
  const writeOnly = fs.openSync(file('write-only.m4a', clip), 'w');
  try {
    const rows = [
      ['missing', path.join(dir, 'missing.m4a'), -2, IO, 'ENOENT'],
      ['empty', file('empty.m4a', ''), -1094995529, UNSUPPORTED_FORMAT, 'AVERROR_INVALIDDATA'],
      ['truncated', file('truncated.m4a', clip.subarray(0, clip.length >> 1)), -1094995529,
        UNSUPPORTED_FORMAT, 'AVERROR_INVALIDDATA'],
      ['random bytes', file('random.m4a', Buffer.from(Array.from({ length: 8192 },
        (_, i) => (i * 7919 + 13) % 251))), -1094995529, UNSUPPORTED_FORMAT,
      'AVERROR_INVALIDDATA'],
      ['text', file('text.mp3', 'This is a text file, not a sound.\n'.repeat(40)), -22,
        UNSUPPORTED_FORMAT, 'EINVAL'],
      ['a folder', dir, -21, IO, 'EISDIR'],
      ['a closed loopback port', `http://127.0.0.1:${await closedPort()}/a.m4a`, -111, IO,
        'ECONNREFUSED'],
      ['a descriptor not open for reading', writeOnly, -9, IO, 'EBADF'],
    ];
    for (const [, source, engineCode, code, name] of rows) {
      await failsWith(source, engineCode, code, name);
    }
  } finally {
    fs.closeSync(writeOnly);
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('every row of the table maps its engine number, and others give the fallback', async () => {
  const rows = kv.ENGINE_ERRORS;
  assert.ok(rows.length >= 40);
  assert.strictEqual(new Set(rows.map((r) => r.engineCode)).size, rows.length);
  const codes = new Set(Object.values(kv.ErrorCode));
  for (const r of rows) {
    assert.ok(codes.has(r.code), r.name);
    if (!r.name.startsWith('AVERROR_')) {
      assert.strictEqual(r.engineCode, -os.constants.errno[r.name], r.name);
    }
    await failsWith(`script:407;100,${r.engineCode}`, r.engineCode, r.code, r.name);
  }
  await failsWith('script:100,-7777', -7777, kv.UNKNOWN_ENGINE_ERROR_CODE,
    'unknown engine error');
  assert.strictEqual(kv.engineErrorRow(-7777), undefined);
  assert.deepStrictEqual([kv.ErrorCode.NO_MEMORY, IO, kv.ErrorCode.TIMEOUT,
    kv.ErrorCode.SERVICE_DIED, UNSUPPORTED_FORMAT], [5400101, 5400103, 5400104, 5400105, 5400106]);
});
