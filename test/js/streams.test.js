'use strict';
// Network sources through the raw module against a loopback server that stalls, drops, refuses
// and streams without end: what the listener gets, the position and the playing flag. The engine
// plays at four times real time here, so that media is reached sooner; nothing waits for time.
const test = require('./limited_test.js');
const assert = require('node:assert');
const { loadModule } = require('./loader.js');
const { until } = require('./proxy_helpers.js');
const { startServer, mp3FrameCount, MP3_FRAME_BYTES, MP3_BYTES_PER_SECOND, MP3_FRAME_MS,
  STREAM_ERRORS } = require('./stream_server.js');

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
    if (e[0] === PREPARED && options.onPrepared) options.onPrepared();
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

// The time-out the bounded cases set, and the margin that tells one time-out from two (an open
// that restarts its clock at a second request or per read took 2x and more).
const TIMEOUT_MS = 1000;
const WITHIN_TIMEOUT = [TIMEOUT_MS - 10, TIMEOUT_MS * 1.5];

// Plays url unpaced to its end; gives how it ended, the duration at prepared (null when the open
// failed) and the position.
async function ending(url) {
  let duration = null;
  const run = play(url, { speed: 0, onPrepared: () => (duration = m._getDuration(ID)) });
  try {
    await until(() => run.seen([ERROR]) >= 0 || run.seen([COMPLETED]) >= 0,
      () => `an end of ${url} in ${JSON.stringify(run.events)}`);
    const i = Math.max(run.seen([ERROR]), run.seen([COMPLETED]));
    const end = run.events[i][0] === COMPLETED ? 'completed' : run.events[i][2];
    return { end, duration, at: run.at[i] };
  } finally {
    release();
  }
}

test('a network body ends in completed only when read to the end its container gives', async () => {
  const S = MP3_BYTES_PER_SECOND;
  const INFO = mp3FrameCount(12) * MP3_FRAME_MS;  // the Info frame's duration
  // Bytes of the Info MP3 up to ms of its audio.
  const upTo = (ms) => MP3_FRAME_BYTES * (1 + Math.floor(ms / MP3_FRAME_MS));
  const cases = [
    // [name, path, query, end, duration (0: live), position at the end at most]
    ['Info MP3 chunked', '/mp3/12', 'info=1&length=chunked', 'completed', INFO, INFO],
    ['Info MP3 close-delimited', '/mp3/12', 'info=1&length=close', 'completed', INFO, INFO],
    ['Info MP3 chunked, cut', '/mp3/12', `info=1&length=chunked&drop=${5 * S}`, EIO, INFO, 5050],
    ['Info MP3 close-delimited, cut', '/mp3/12', `info=1&length=close&drop=${5 * S}`, EIO, INFO,
      5050],
    ['Info MP3 close-delimited, reset', '/mp3/12', `info=1&length=close&drop=${5 * S}&reset=1`,
      EIO, INFO, 5050],
    ['Info MP3 with a length, reset', '/mp3/12', `info=1&drop=${5 * S}&reset=1`, EIO, INFO, 5050],
    // The end tolerance (500 ms): a body that ends within it ended with its media.
    ['Info MP3 ending 300 ms short', '/mp3/12', `info=1&length=close&drop=${upTo(INFO - 300)}`,
      'completed', INFO, INFO],
    ['Info MP3 ending 800 ms short', '/mp3/12', `info=1&length=close&drop=${upTo(INFO - 800)}`,
      EIO, INFO, INFO - 750],
    // No duration of its own: live whatever the body, and its end is a cut.
    ['bare MP3 chunked', '/mp3/12', 'length=chunked', EIO, 0, INFO],
    ['bare MP3 close-delimited', '/mp3/12', 'length=close', EIO, 0, INFO],
    // With a length FFmpeg times it by its bitrate and tells a short body itself.
    ['bare MP3 with a length', '/mp3/12', '', 'completed', 11988, INFO],
    ['bare MP3 with a length, cut', '/mp3/12', `drop=${5 * S}`, EIO, 11988, 5050],
    ['M4A chunked', '/media/tone.m4a', 'length=chunked', 'completed', 4000, 4000],
    // Its index is at the end: cut before it, the open fails.
    ['M4A close-delimited, cut', '/media/tone.m4a', 'length=close&drop=16000', EIO, null, 0],
  ];
  for (const [name, p, query, end, duration, most] of cases) {
    const got = await ending(server.url(p, query));
    assert.strictEqual(got.end, end, name);
    assert.ok(duration === null ? got.duration === null : Math.abs(got.duration - duration) <= 30,
      `${name}: duration ${got.duration}`);
    assert.ok(got.at <= most, `${name}: ended at ${got.at}`);
  }
});

test('one time-out bounds an open whatever stalls, and each stall while playing', async () => {
  const format = { timeout: String(TIMEOUT_MS * 1000) };
  const cases = [
    // [name, path, query, started (the time-out runs from start, not from prepare)]
    ['no answer', '/mp3/12', 'hold=1'],
    ['headers at a byte a second', '/mp3/12', 'headerRate=1'],
    ['headers without end', '/mp3/12', 'endlessHeaders=1'],
    ['a body at 10 bytes a second', '/media/tone.m4a', 'rate=1'],
    // FFmpeg's reader times out after 1 s of silence, then asks again for the index at the end.
    ['silence after 16 kB of an M4A', '/media/tone.m4a', 'stall=16000'],
    // FFmpeg does without the MP3's tag at the end when it cannot have it; the open still ran out.
    ['a second request never answered', '/mp3/12',
      `holdRange=${11 * MP3_BYTES_PER_SECOND}-${12 * MP3_BYTES_PER_SECOND}`],
    ['a stall mid-play', '/mp3/12', `stall=${2 * MP3_BYTES_PER_SECOND}`, true],
  ];
  for (const [name, p, query, started] of cases) {
    const begun = Date.now();
    const run = play(server.url(p, query), { speed: 0, format, start: started === true });
    try {
      await run.wait([ERROR], name);
      const ms = Date.now() - begun;
      assert.deepStrictEqual(run.events[run.seen([ERROR])], [ERROR, -10000, ETIMEDOUT], name);
      assert.ok(ms >= WITHIN_TIMEOUT[0] && ms < WITHIN_TIMEOUT[1], `${name}: after ${ms} ms`);
    } finally {
      release();
    }
  }
});

test('a seek in a stall asks for its target and completes on its data', async () => {
  const stall = 2 * MP3_BYTES_PER_SECOND;
  const target = 8000;
  const targetByte = (target / 1000) * MP3_BYTES_PER_SECOND;
  // The stall holds until resumed, which this test never does: the seek must not wait for it.
  const run = play(server.url('/mp3/12', `stall=${stall}`));
  let since = 0;
  const asked = () => server.requests.slice(since).map((r) => /bytes=(\d+)/.exec(r.headers.range))
    .filter((range) => range && Number(range[1]) > targetByte - MP3_BYTES_PER_SECOND);
  try {
    await run.wait(BUFFERING_START, 'the stall');
    const seeks = run.events.length;
    since = server.requests.length;
    m._seekTo(ID, String(target));
    await until(() => run.events.slice(seeks).some((e) => e[0] === 4), 'the seek completed');
    assert.deepStrictEqual(run.events.slice(seeks).filter((e) => e[0] === 4), [[4, 0, 0]]);
    assert.strictEqual(asked().length, 1, 'one request for the target');
    assert.ok(m._getCurrentPosition(ID) >= target);
    await until(() => m._getCurrentPosition(ID) > target + 500, 'playing on from the target');
    assert.strictEqual(run.seen([ERROR]), -1);
  } finally {
    release();
  }
});

test('pause, stop, reset and release in a stall return at once, not at the time-out', async () => {
  // FFmpeg's reader looks up every 100 ms; the network would hold a call 15 s.
  const calls = { pause: m._pause, stop: m._stop, reset: m._reset, release: m._release };
  for (const [name, call] of Object.entries(calls)) {
    const run = play(server.url('/mp3/12', `stall=${2 * MP3_BYTES_PER_SECOND}`));
    const took = [];
    const timed = (fn) => {
      const begun = Date.now();
      fn(ID);
      took.push(Date.now() - begun);
    };
    try {
      await run.wait(BUFFERING_START, 'the stall');
      timed(call);
    } finally {
      timed(m._release);
    }
    assert.ok(took.every((ms) => ms < 1000), `${name}, then release: ${took} ms`);
    await until(() => server.connections() === 0, 'the connections closed');
  }
});
