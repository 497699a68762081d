'use strict';
// Network sources through the raw module against a loopback server that stalls, drops, refuses
// and streams without end: what the listener gets, the position and the playing flag. The engine
// plays at four times real time here, so that media is reached sooner; nothing waits for time.
const test = require('./limited_test.js');
const assert = require('node:assert');
const { loadModule } = require('./loader.js');
const { until } = require('./proxy_helpers.js');
const { startServer, MP3_BYTES_PER_SECOND, MP3_FRAME_MS, STREAM_ERRORS } =
  require('./stream_server.js');

const m = loadModule();
const ID = 'streams';
const FORMAT = '1';
const { EIO, ETIMEDOUT, HTTP_NOT_FOUND, HTTP_SERVER_ERROR } = STREAM_ERRORS;
const ERROR = 100;
const PREPARED = 1;
const COMPLETED = 2;
const BUFFERING_START = [200, 701, 0];
const BUFFERING_END = [200, 702, 0];

let server = null;
test.before(async () => {
  server = await startServer();
});
test.after(() => server.close());

// One player at a time (the raw listener takes every player's events): plays url once prepared;
// events and the position at each event are recorded.
function play(url, options = {}) {
  const events = [];
  const run = { events, at: [] };
  m._setMessageListener(ID, (...e) => {
    events.push(e);
    run.at.push(m._getCurrentPosition(ID));
    if (e[0] === PREPARED && options.start !== false) m._start(ID);
  });
  m._native_setup_audio(ID);
  m._setOption(ID, '4', 'speed', String(options.speed ?? 4));
  for (const [k, v] of Object.entries(options.format ?? {})) m._setOption(ID, FORMAT, k, v);
  m._setDataSource(ID, url);
  m._prepareAsync(ID);
  run.seen = (what) => events.findIndex((e) => e[0] === what[0] && (what[1] === undefined ||
    e[1] === what[1]));
  run.wait = (what, name) => until(() => run.seen(what) >= 0, () => `${name} in ` +
    JSON.stringify(events));
  return run;
}

const release = () => m._release(ID);

test('a stall mid-play holds the position, in playing, between buffering start and end', async () => {
  // Two seconds of media (prepare reads more than one), then nothing until the test resumes the
  // server.
  const run = play(server.url('/mp3/12', `stall=${2 * MP3_BYTES_PER_SECOND}`));
  try {
    await run.wait(BUFFERING_START, 'buffering start');
    const held = m._getCurrentPosition(ID);
    assert.ok(held > 2000 - 2 * MP3_FRAME_MS && held <= 2000 + MP3_FRAME_MS, `held at ${held}`);
    // However long the stall lasts, playback waits where the data ends.
    const samples = [];
    await until(() => {
      samples.push([m._getCurrentPosition(ID), m._isPlaying(ID)]);
      return samples.length >= 10;
    }, 'ten samples');
    assert.deepStrictEqual(samples, samples.map(() => [held, true]));
    server.resume();
    await run.wait(BUFFERING_END, 'buffering end');
    await until(() => m._getCurrentPosition(ID) > held + 500, 'playback going on');
    const buffering = run.events.filter((e) => e[0] === 3 || (e[0] === 200 && e[1] >= 701 &&
      e[1] <= 702));
    assert.deepStrictEqual(buffering, [BUFFERING_START, [3, 0, 0], [3, 100, 0], BUFFERING_END]);
    assert.strictEqual(run.seen([ERROR]), -1);
  } finally {
    release();
  }
});

test('a read that fails is an I/O error with its errno, before the header as after it', async () => {
  const cases = [
    // [name, path, query, format options, engine error, least position at the error]
    ['cut mid-play', '/mp3/12', `drop=${2 * MP3_BYTES_PER_SECOND}`, {}, EIO, 1900],
    ['cut before the header', '/mp3/12', 'drop=300', {}, EIO, 0],
    // The demuxer makes invalid data of what it was given; the reader knows better.
    ['cut before an MP4 header', '/media/tone.m4a', 'drop=2000', {}, EIO, 0],
    ['cut before the first byte', '/mp3/12', 'drop=0', {}, EIO, 0],
    ['404', '/mp3/12', 'status=404', {}, HTTP_NOT_FOUND, 0],
    ['500', '/mp3/12', 'status=500', {}, HTTP_SERVER_ERROR, 0],
    ['stalled open', '/mp3/12', 'hold=1', { timeout: '200000' }, ETIMEDOUT, 0],
    ['stalled read', '/mp3/12', `stall=${2 * MP3_BYTES_PER_SECOND}`, { timeout: '300000' },
      ETIMEDOUT, 1900],
  ];
  for (const [name, p, query, format, code, least] of cases) {
    const run = play(server.url(p, query), { speed: 0, format });
    try {
      await run.wait([ERROR], name);
      const i = run.seen([ERROR]);
      assert.deepStrictEqual(run.events[i], [ERROR, -10000, code], name);
      // The position holds where the data ended; the header's twelve seconds never play.
      assert.ok(run.at[i] >= least && run.at[i] <= 2000 + MP3_FRAME_MS, `${name}: ${run.at[i]}`);
      assert.strictEqual(m._isPlaying(ID), false, name);
      assert.strictEqual(run.seen([COMPLETED]), -1, name);
    } finally {
      release();
    }
  }
});

test('a slow open prepares without a spurious event', async () => {
  const run = play(server.url('/mp3/1', 'headerDelay=800'), { start: false });
  try {
    await run.wait([PREPARED], 'prepared');
    assert.deepStrictEqual(run.events.map((e) => e[0]), [200, 200, 200, PREPARED]);
    assert.strictEqual(m._getDuration(ID) > 900, true);
  } finally {
    release();
  }
});

test('a live stream: duration 0, plays on, refuses seeks, and release ends it at once', async () => {
  const run = play(server.url('/live.mp3'));
  try {
    await run.wait([PREPARED], 'prepared');
    assert.strictEqual(m._getDuration(ID), 0);
    await until(() => m._getCurrentPosition(ID) > 1500, 'playing past the first second');
    const before = m._getCurrentPosition(ID);
    const seeks = run.events.length;
    m._seekTo(ID, '100');
    await run.wait([4], 'the refused seek');
    assert.deepStrictEqual(run.events.slice(seeks).filter((e) => e[0] === 4), [[4, 0, 0]]);
    assert.ok(m._getCurrentPosition(ID) >= before, 'the position stays');
    assert.strictEqual(m._isPlaying(ID), true);
  } finally {
    release();
  }
  await until(() => server.connections() === 0, 'the stream\'s connection closed');
  assert.strictEqual(run.seen([ERROR]), -1);
});
