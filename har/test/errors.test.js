'use strict';
// Engine failures as the platform's codes: real files that fail in each way the table names, and
// every engine error through a scripted error, against codes and numbers written apart from the
// table (the numbers from the system's and FFmpeg's headers), each keeping its number and name.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

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

// FFmpeg's error numbers as its own header defines them: FFERRTAG(a, b, c, d) is
// -(a | b << 8 | c << 16 | d << 24); a few are plain negative numbers.
function ffmpegErrors() {
  const header = path.join(execFileSync('pkg-config', ['--variable=includedir', 'libavutil'],
    { encoding: 'utf8' }).trim(), 'libavutil', 'error.h');
  const numbers = {};
  const byte = (t) => (t.startsWith("'") ? t.charCodeAt(1) : Number(t));
  for (const line of fs.readFileSync(header, 'utf8').split('\n')) {
    let m = /^#define (AVERROR_\w+)\s+FFERRTAG\(\s*([^,]+),([^,]+),([^,]+),([^)]+)\)/.exec(line);
    if (m) {
      const [a, b, c, d] = m.slice(2).map((t) => byte(t.trim()));
      numbers[m[1]] = -((a | (b << 8) | (c << 16) | (d << 24)) >>> 0) | 0;
    } else if ((m = /^#define (AVERROR_\w+)\s+\(-(0x[0-9a-f]+)\)/.exec(line))) {
      numbers[m[1]] = -Number(m[2]);
    }
  }
  return numbers;
}

// The platform code each engine error must give, written from the platform's code meanings: no
// memory or resources; I/O (files, descriptors, connections, HTTP, data ending early); time-out;
// the engine failing inside itself; data that is no playable media.
const EXPECTED = {
  5400101: ['ENOMEM', 'ENFILE', 'EMFILE'],
  5400103: ['EPERM', 'ENOENT', 'EIO', 'ENXIO', 'EBADF', 'EACCES', 'ENODEV', 'ENOTDIR', 'EISDIR',
    'EPIPE', 'ENAMETOOLONG', 'ELOOP', 'EADDRNOTAVAIL', 'ENETDOWN', 'ENETUNREACH', 'ENETRESET',
    'ECONNABORTED', 'ECONNRESET', 'ENOTCONN', 'ECONNREFUSED', 'EHOSTUNREACH', 'AVERROR_EOF',
    'AVERROR_HTTP_BAD_REQUEST', 'AVERROR_HTTP_UNAUTHORIZED', 'AVERROR_HTTP_FORBIDDEN',
    'AVERROR_HTTP_NOT_FOUND', 'AVERROR_HTTP_OTHER_4XX', 'AVERROR_HTTP_SERVER_ERROR'],
  5400104: ['ETIMEDOUT', 'ETIME'],
  5400105: ['AVERROR_EXIT', 'AVERROR_BUG', 'AVERROR_BUG2', 'AVERROR_EXTERNAL'],
  5400106: ['EINVAL', 'ENOSYS', 'EPROTONOSUPPORT', 'EOPNOTSUPP', 'AVERROR_INVALIDDATA',
    'AVERROR_DEMUXER_NOT_FOUND', 'AVERROR_DECODER_NOT_FOUND', 'AVERROR_PROTOCOL_NOT_FOUND',
    'AVERROR_STREAM_NOT_FOUND', 'AVERROR_PATCHWELCOME', 'AVERROR_EXPERIMENTAL'],
};

test('every engine error gives the platform code its meaning calls for, number and name kept',
  async () => {
  const ffmpeg = ffmpegErrors();
  assert.strictEqual(ffmpeg.AVERROR_EOF, -541478725);  // the parse itself, against a known value
  const expected = Object.entries(EXPECTED).flatMap(([code, names]) => names.map((name) =>
    [name, name.startsWith('AVERROR_') ? ffmpeg[name] : -os.constants.errno[name], Number(code)]));
  assert.deepStrictEqual(kv.ENGINE_ERRORS.map((r) => [r.name, r.engineCode, r.code]).sort(),
    expected.sort());
  for (const [name, engineCode, code] of expected) {
    await failsWith(`script:407;100,${engineCode}`, engineCode, code, name);
  }
  await failsWith('script:100,-7777', -7777, IO, 'unknown engine error');
  assert.strictEqual(kv.engineErrorRow(-7777), undefined);
  assert.deepStrictEqual([kv.ErrorCode.NO_MEMORY, IO, kv.ErrorCode.TIMEOUT,
    kv.ErrorCode.SERVICE_DIED, UNSUPPORTED_FORMAT], [5400101, 5400103, 5400104, 5400105, 5400106]);
});
