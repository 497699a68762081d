'use strict';
// The package on streams from a loopback server: buffering, cuts, refusals and time-outs as the
// app sees them (events in order, state, code, engineCode, position), live streams, request
// headers; and the porting habits that meet them: fd:// URLs, seek modes on audio, refusals of
// calls nobody awaits, descriptor records that change under the check; and a worker terminated
// while its players stall, stream live and wait on an open.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { Worker } = require('node:worker_threads');

require('./ets-require.js');
const kv = require('../Index.ets');
const { root } = require('../../test/js/loader.js');
const { until, within, processCounts, settled } = require('../../test/js/proxy_helpers.js');
const { startServer, MP3_BYTES_PER_SECOND, STREAM_ERRORS } =
  require('../../test/js/stream_server.js');

const media = (name) => path.join(root, 'examples', 'media', name);
const { EIO, ETIMEDOUT, HTTP_NOT_FOUND } = STREAM_ERRORS;
const { IO, TIMEOUT, OPERATION_NOT_PERMITTED } = kv.ErrorCode;
const TWO_SECONDS = 2 * MP3_BYTES_PER_SECOND;

let server = null;
test.before(async () => {
  server = await startServer();
});
test.after(() => server.close());

// A player that records its states and events, at four times real time (media is reached
// sooner; nothing here waits for time).
function watched() {
  const player = kv.createPlayer();
  player.log = [];
  player.on('stateChange', (s) => player.log.push(s));
  player.on('bufferingUpdate', (type, value) => player.log.push(`buffering ${type} ${value}`));
  player.on('error', (e) => player.log.push(`error ${e.code} ${e.engineCode}`));
  player.on('durationUpdate', (d) => player.log.push(`duration ${d}`));
  return player;
}

async function playing(url, options = {}) {
  const player = watched();
  player.setSource(url);
  player.setOption(4, 'speed', 4);
  for (const [k, v] of Object.entries(options)) player.setOption(kv.FORMAT_CATEGORY, k, v);
  await player.prepare();
  await player.play();
  return player;
}

const sawError = (player) => until(() => player.state === 'error', () => player.log.join(', '));

test('a stall mid-play: buffering start, the position holds in playing, then end and on',
  async () => {
  const player = await playing(server.url('/mp3/12', `stall=${TWO_SECONDS}`));
  try {
    await until(() => player.log.includes('buffering 1 0'), () => player.log.join(', '));
    const held = player.currentTime;
    const samples = [];
    await until(() => samples.push([player.currentTime, player.state]) >= 10, 'samples');
    assert.deepStrictEqual(samples, samples.map(() => [held, 'playing']));
    server.resume();
    await until(() => player.currentTime > held + 500, 'playback going on');
    assert.deepStrictEqual(player.log.filter((e) => e.startsWith('buffering')),
      ['buffering 1 0', 'buffering 3 0', 'buffering 3 100', 'buffering 2 0']);
    assert.strictEqual(player.state, 'playing');
  } finally {
    await player.release();
  }
});

test('network failures: 5400103 for I/O, 5400104 for time-outs, engineCode kept', async () => {
  const cases = [
    // [name, query, options, code, engineCode, while playing]
    ['cut mid-play', `drop=${TWO_SECONDS}`, {}, IO, EIO, true],
    ['stalled read', `stall=${TWO_SECONDS}`, { timeout: 300000 }, TIMEOUT, ETIMEDOUT, true],
    ['cut before the header', 'drop=300', {}, IO, EIO, false],
    ['cut before an MP4 header', 'drop=2000', {}, IO, EIO, false, '/media/tone.m4a'],
    ['404', 'status=404', {}, IO, HTTP_NOT_FOUND, false],
    ['stalled open', 'hold=1', { timeout: 300000 }, TIMEOUT, ETIMEDOUT, false],
  ];
  for (const [name, query, options, code, engineCode, whilePlaying, file] of cases) {
    const url = server.url(file ?? '/mp3/12', query);
    const player = watched();
    try {
      if (whilePlaying) {
        player.setSource(url);
        for (const [k, v] of Object.entries(options)) player.setOption(kv.FORMAT_CATEGORY, k, v);
        await player.prepare();
        await player.play();
        await sawError(player);
        assert.ok(player.currentTime >= 1900 && player.currentTime <= 2100,
          `${name}: the position holds where the data ended (${player.currentTime})`);
      } else {
        player.setSource(url);
        for (const [k, v] of Object.entries(options)) player.setOption(kv.FORMAT_CATEGORY, k, v);
        await assert.rejects(player.prepare(), (e) => e.code === code &&
          e.engineCode === engineCode, name);
      }
      assert.strictEqual(player.log.filter((e) => e.startsWith('error ')).join(),
        `error ${code} ${engineCode}`, name);
      assert.strictEqual(player.state, 'error', name);
    } finally {
      await player.release();
    }
  }
});

test('a slow open prepares, with no spurious event', async () => {
  const player = watched();
  try {
    player.setSource(server.url('/mp3/1', 'headerDelay=800'));
    await player.prepare();
    assert.deepStrictEqual(player.log.slice(0, 3), ['initialized', 'preparing', 'prepared']);
    assert.match(player.log.slice(3).join(), /^duration (9\d\d|1\d\d\d)$/);
  } finally {
    await player.release();
  }
});

test('a live stream: duration -1; seek, loop and speed refused; plays on; release ends it',
  async () => {
  const player = await playing(server.url('/live.mp3'));
  const ignored = new Set();
  const unhandled = (reason) => ignored.add(reason);
  process.on('unhandledRejection', unhandled);
  try {
    assert.strictEqual(player.duration, -1);
    assert.ok(player.log.includes('duration -1'));
    await until(() => player.currentTime > 1500, 'playing past the first second');
    player.log.length = 0;
    const refused = player.seek(100);  // not awaited yet: its refusal is on 'error' as well
    player.loop = true;
    player.setSpeed(kv.PlaybackSpeed.SPEED_FORWARD_2_00_X);
    await assert.rejects(refused, (e) => e.code === OPERATION_NOT_PERMITTED);
    assert.deepStrictEqual(player.log, Array(3).fill(`error ${OPERATION_NOT_PERMITTED} undefined`));
    assert.strictEqual(player.loop, false);
    assert.strictEqual(player.state, 'playing');
    await new Promise((r) => setImmediate(r));
    assert.strictEqual(ignored.size, 0);
  } finally {
    process.off('unhandledRejection', unhandled);
    await player.release();
  }
  await until(() => server.connections() === 0, 'the stream\'s connection closed');
});

test('setMediaSource sends the app\'s headers; a header that breaks a line is 401', async () => {
  const player = watched();
  try {
    const url = server.url('/mp3/1', 'headers=1');
    player.setMediaSource({ url, headers: { 'X-App-Token': 'abc 123' } },
      { preferredBufferDuration: 5 });
    await player.prepare();
    const sent = server.requests.filter((r) => r.query.headers === '1');
    assert.ok(sent.length > 0 && sent.every((r) => r.headers['x-app-token'] === 'abc 123'));
    const bad = [
      [{ url, headers: { 'X-A': 'a\r\nX-B: b' } }, undefined, 'source.headers.X-A'],
      [{ url, headers: { 'X A': 'a' } }, undefined, 'source.headers'],
      [{ url }, { preferredBufferDuration: 0 }, 'strategy.preferredBufferDuration'],
    ];
    for (const [source, strategy, name] of bad) {
      assert.throws(() => kv.createPlayer().setMediaSource(source, strategy),
        (e) => e.code === 401 && e.message.includes(name), name);
    }
  } finally {
    await player.release();
  }
});

test('fd:// URLs, and a descriptor record read once: a getter cannot swap in a path', async () => {
  const fd = fs.openSync(media('tone.m4a'), 'r');
  const player = watched();
  try {
    player.setSource(`fd://${fd}`);
    await player.prepare();
    assert.strictEqual(player.duration, 4000);
    await player.reset();
    // Answers the descriptor to the check, then a path to any later read.
    let reads = 0;
    const sly = { get fd() { return reads++ === 0 ? fd : `../../..${media('clip.mp4')}`; },
      offset: 0, length: fs.fstatSync(fd).size };
    player.setFdSource(sly);
    await player.prepare();
    assert.strictEqual(reads, 1);
    assert.strictEqual(player.videoCodec, '');
    assert.strictEqual(player.duration, 4000);
  } finally {
    await player.release();
    fs.closeSync(fd);
  }
});

test('seek modes matter for video only; refusals nobody awaits reach \'error\' only',
  async () => {
  const ignored = [];
  const unhandled = (reason) => ignored.push(reason);
  process.on('unhandledRejection', unhandled);
  const audio = watched();
  const video = watched();
  try {
    audio.setSource(media('tone.m4a'));
    await audio.prepare();
    assert.strictEqual(await audio.seek(1000, kv.SeekMode.SEEK_CLOSEST), 1000);
    assert.strictEqual(await audio.seek(2000, kv.SeekMode.SEEK_NEXT_SYNC), 2000);
    video.setSource(media('clip.mp4'));
    await video.prepare();
    await assert.rejects(video.seek(1000, kv.SeekMode.SEEK_CLOSEST), (e) => e.code === 801);
    assert.deepStrictEqual(video.log.slice(-1), ['error 801 undefined']);
    await audio.stop();
    audio.log.length = 0;
    audio.seek(500);  // a seek bar's call in the wrong state, not awaited
    audio.pause();
    await new Promise((r) => setImmediate(r));
    assert.deepStrictEqual(audio.log, Array(2).fill(`error ${OPERATION_NOT_PERMITTED} undefined`));
    assert.deepStrictEqual(ignored, []);
  } finally {
    process.off('unhandledRejection', unhandled);
    await audio.release();
    await video.release();
  }
});

test('a worker terminated mid-stream gives back its threads, descriptors and connections',
  async () => {
  // One player stalled mid-play, one on a live stream, one whose open stalls; all at once.
  const urls = [`/mp3/12?stall=${TWO_SECONDS}`, '/live.mp3', '/mp3/12?hold=1'];
  const round = async () => {
    const worker = new Worker(`
      const { parentPort, workerData } = require('node:worker_threads');
      require(${JSON.stringify(require.resolve('./ets-require.js'))});
      const kv = require(${JSON.stringify(require.resolve('../Index.ets'))});
      const waiting = new Set(['buffering', 'playing']);
      const reached = (what) => waiting.delete(what) && waiting.size === 0 &&
        parentPort.postMessage('under way');
      for (const url of workerData) {
        const player = kv.createPlayer();
        player.setSource(url);
        player.setOption(4, 'speed', 4);
        player.on('bufferingUpdate', (t) => t === 1 && reached('buffering'));
        player.on('timeUpdate', (t) => t > 500 && reached('playing'));
        player.prepare().then(() => player.play());
      }
    `, { eval: true, workerData: urls.map((u) => server.base + u) });
    await within(new Promise((resolve) => worker.on('message', resolve)), 'the worker under way');
    assert.ok(server.connections() >= 3);
    await worker.terminate();
    await until(() => server.connections() === 0, 'the connections closed');
  };
  await round();  // once unmeasured: Node opens some threads and descriptors lazily
  const before = processCounts();
  await round();
  await settled(before);
});

// An open that restarted its clock at a second request or per read took twice the time-out and
// more: the bound tells one time-out from two.
const TIMEOUT_MS = 1000;
const withinTimeout = (ms) => ms >= TIMEOUT_MS - 10 && ms < TIMEOUT_MS * 1.5;

test('an open that stalls anywhere rejects with 5400104 after one time-out, from prepare()',
  async () => {
  const cases = [
    ['no answer', '/mp3/12', 'hold=1'],
    ['headers at a byte a second', '/mp3/12', 'headerRate=1'],
    ['headers without end', '/mp3/12', 'endlessHeaders=1'],
    // FFmpeg's reader gives up on the silence, then asks again for the index at the end.
    ['silence after 16 kB of an M4A', '/media/tone.m4a', 'stall=16000'],
  ];
  for (const [name, p, query] of cases) {
    const player = watched();
    try {
      player.setSource(server.url(p, query));
      player.setOption(kv.FORMAT_CATEGORY, 'timeout', TIMEOUT_MS * 1000);
      const begun = Date.now();
      await assert.rejects(player.prepare(), (e) => e.code === TIMEOUT &&
        e.engineCode === ETIMEDOUT, name);
      const ms = Date.now() - begun;
      assert.ok(withinTimeout(ms), `${name}: after ${ms} ms`);
    } finally {
      await player.release();
    }
  }
});

test('a seek in a stall settles on data at its target; one whose request stalls rejects with ' +
  '5400104', async () => {
  // The stall holds until resumed, which this test never does.
  const cases = [
    // [name, query, rejected]
    ['target served', `stall=${TWO_SECONDS}`, false],
    ['target held', `stall=${TWO_SECONDS}&holdRange=${TWO_SECONDS}-${11 * MP3_BYTES_PER_SECOND}`,
      true],
  ];
  for (const [name, query, rejected] of cases) {
    const player = await playing(server.url('/mp3/12', query),
      { timeout: TIMEOUT_MS * 1000 });
    try {
      await until(() => player.log.includes('buffering 1 0'), () => player.log.join(', '));
      const begun = Date.now();
      const seek = player.seek(8000);
      if (rejected) {
        await assert.rejects(seek, (e) => e.code === TIMEOUT && e.engineCode === ETIMEDOUT, name);
        const ms = Date.now() - begun;
        assert.ok(withinTimeout(ms), `${name}: after ${ms} ms`);
        assert.strictEqual(player.state, 'error', name);
      } else {
        assert.ok(await seek >= 8000, name);
        // Well within the time-out: the seek did not wait for the stalled read.
        assert.ok(Date.now() - begun < TIMEOUT_MS / 2, `${name}: after ${Date.now() - begun} ms`);
        assert.strictEqual(player.state, 'playing', name);
      }
    } finally {
      await player.release();
    }
  }
});

test('a live stream keeps no loop: asked before prepare it reads false, and a cut is an error',
  async () => {
  const cases = [
    // [name, path, query, live]
    ['bare MP3 without a length', '/live.mp3', `drop=${TWO_SECONDS}`, true],
    // The container gives its duration: not live, whatever the transport.
    ['Info MP3, chunked', '/mp3/12', 'info=1&length=chunked', false],
    ['M4A, close-delimited', '/media/tone.m4a', 'length=close', false],
  ];
  for (const [name, p, query, live] of cases) {
    const player = watched();
    const before = server.requests.length;
    try {
      player.setSource(server.url(p, query));
      player.setOption(4, 'speed', 4);
      player.loop = true;
      await player.prepare();
      assert.strictEqual(player.loop, !live, name);
      assert.strictEqual(player.duration === -1, live, `${name}: duration ${player.duration}`);
      if (live) {
        await player.play();
        await sawError(player);
        assert.deepStrictEqual(player.log.filter((e) => e.startsWith('error ')),
          [`error ${IO} ${EIO}`], name);
        // Reported, not played again from the start.
        assert.strictEqual(server.requests.length - before, 1, name);
      }
    } finally {
      await player.release();
    }
  }
});
