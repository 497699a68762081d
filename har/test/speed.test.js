'use strict';
// Speed as on the platform: the pace the engine's position keeps at each speed over its fastest
// stretch, measured against the monotonic clock beside a 1x measure of the same run; speedDone;
// refusals as 801 that leave the speed in effect; 401 for values that are no PlaybackSpeed.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const path = require('node:path');

require('./ets-require.js');
const kv = require('../Index.ets');
const { root } = require('../../test/js/loader.js');
const { until } = require('../../test/js/proxy_helpers.js');

const S = kv.PlaybackSpeed;
const tone = path.join(root, 'examples', 'media', 'tone.m4a');

// The shortest stretch of wall time a pace is read over: the position comes from the kernel's tick
// clock (4 ms here) in whole milliseconds, an error of at most 3% over 150 ms at the speeds tried.
const WINDOW_MS = 150;

const now = () => Number(process.hrtime.bigint()) / 1e6;

// The highest media ms per wall ms over any stretch of at least WINDOW_MS while the position
// advances by spanMs. A reader starved on a busy machine holds the position at the end of what it
// read, and goes on from there: stalls only slow the stretches they fall in, and the position
// never runs ahead of its speed, so the fastest stretch is the engine's own pace. Each reading
// lies between two clock reads; a stretch is timed from the first's earlier read to the last's
// later one, so a thread held up beside a reading can only slow its stretch too.
async function pace(player, spanMs) {
  const readings = [];
  await until(() => {
    readings.push({ before: now(), at: player.currentTime, after: now() });
    return readings[readings.length - 1].at >= readings[0].at + spanMs;
  }, () => `the position to pass ${readings[0].at + spanMs}`);
  let best = NaN;
  for (let i = 0, j = 0; i < readings.length; i++) {
    while (j < readings.length && readings[j].before - readings[i].after < WINDOW_MS) j++;
    if (j === readings.length) break;
    const rate = (readings[j].at - readings[i].at) / (readings[j].after - readings[i].before);
    if (!(rate <= best)) best = rate;
  }
  return best;
}

test('the engine plays at the speed set, fractions included, as its position shows', async (t) => {
  const player = kv.createPlayer();
  const done = [];
  const errors = [];
  player.on('speedDone', (s) => done.push(s));
  player.on('error', (e) => errors.push(e.code));
  player.setSource(tone);
  await player.prepare();
  try {
    player.play();
    const paces = {};
    for (const [speed, span] of [[S.SPEED_FORWARD_1_00_X, 600], [S.SPEED_FORWARD_2_00_X, 1000],
      [S.SPEED_FORWARD_0_50_X, 300], [S.SPEED_FORWARD_1_25_X, 600]]) {
      await player.seek(500);
      player.setSpeed(speed);
      assert.strictEqual(player.getSpeed(), speed);
      paces[speed] = await pace(player, span);
    }
    const ratio = (speed) => paces[speed] / paces[S.SPEED_FORWARD_1_00_X];
    const two = S.SPEED_FORWARD_2_00_X;
    t.diagnostic(`pace at 1x ${paces[S.SPEED_FORWARD_1_00_X].toFixed(3)}, 2x ` +
      `${paces[two].toFixed(3)} (ratio ${ratio(two).toFixed(3)})`);
    // Within 10%, beyond the measure's 3%: 1.75x, the speed nearest another, is 12.5% off 2x.
    for (const [speed, rate] of [[S.SPEED_FORWARD_1_00_X, 1], [S.SPEED_FORWARD_2_00_X, 2],
      [S.SPEED_FORWARD_0_50_X, 0.5], [S.SPEED_FORWARD_1_25_X, 1.25]]) {
      assert.ok(Math.abs(paces[speed] / rate - 1) < 0.1, `${rate}x: ${paces[speed]}`);
      assert.ok(Math.abs(ratio(speed) / rate - 1) < 0.1, `${rate}x against 1x: ${ratio(speed)}`);
    }
    assert.deepStrictEqual(done, [S.SPEED_FORWARD_1_00_X, S.SPEED_FORWARD_2_00_X,
      S.SPEED_FORWARD_0_50_X, S.SPEED_FORWARD_1_25_X]);
    assert.deepStrictEqual(errors, []);
  } finally {
    await player.release();
  }
});

test('a speed the engine refuses gives 801 and leaves the speed in effect', async () => {
  const rows = [
    // The stand-in plays from 0.25x to 4x.
    [{}, S.SPEED_FORWARD_0_125_X, S.SPEED_FORWARD_3_00_X],
    // An engine without speed control plays at 1x only.
    [{ speedProperty: -1 }, S.SPEED_FORWARD_2_00_X, S.SPEED_FORWARD_1_00_X],
  ];
  for (const [options, refused, accepted] of rows) {
    const player = kv.createPlayer(options);
    const seen = [];
    player.on('speedDone', (s) => seen.push(['speedDone', s]));
    player.on('error', (e) => seen.push(['error', e.code]));
    player.setSource(tone);
    await player.prepare();
    try {
      player.setSpeed(accepted);
      player.setSpeed(refused);
      assert.deepStrictEqual(seen, [['speedDone', accepted],
        ['error', kv.ErrorCode.UNSUPPORTED_CAPABILITY]]);
      assert.strictEqual(player.getSpeed(), accepted);
      assert.strictEqual(player.state, 'prepared');
    } finally {
      await player.release();
    }
  }
});

test('speeds are the platform\'s enum: other numbers give 401', async () => {
  assert.deepStrictEqual([S.SPEED_FORWARD_0_75_X, S.SPEED_FORWARD_2_00_X, S.SPEED_FORWARD_0_50_X,
    S.SPEED_FORWARD_3_00_X, S.SPEED_FORWARD_0_125_X], [0, 4, 5, 7, 9]);
  const player = kv.createPlayer();
  player.setSource('script:200');
  await player.prepare();
  try {
    for (const bad of [10, -1, 1.5, NaN, '4']) {
      assert.throws(() => player.setSpeed(bad), (e) =>
        e.code === kv.ErrorCode.INVALID_PARAMETER && e.message.includes('\'speed\''), String(bad));
    }
    assert.strictEqual(player.getSpeed(), S.SPEED_FORWARD_1_00_X);
  } finally {
    await player.release();
  }
});
