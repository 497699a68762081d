'use strict';
// Speed as on the platform: the pace the engine's position keeps at each speed, measured against
// the monotonic clock beside a 1x measure of the same run; speedDone; refusals as 801 that leave
// the speed in effect; 401 for values that are no PlaybackSpeed.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const path = require('node:path');

require('./ets-require.js');
const kv = require('../Index.ets');
const { root } = require('../../test/js/loader.js');
const { until } = require('../../test/js/proxy_helpers.js');

const S = kv.PlaybackSpeed;
const tone = path.join(root, 'examples', 'media', 'tone.m4a');

// Media milliseconds per wall millisecond while the position advances by spanMs. Each sample
// reads the clock and the position back to back, so a loaded machine delays the waiting, not the
// measure.
async function pace(player, spanMs) {
  const sample = () => [Number(process.hrtime.bigint()) / 1e6, player.currentTime];
  const [t0, p0] = sample();
  let last = [t0, p0];
  await until(() => {
    last = sample();
    return last[1] >= p0 + spanMs;
  }, `the position to pass ${p0 + spanMs}`);
  return (last[1] - p0) / (last[0] - t0);
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
    for (const [speed, rate] of [[S.SPEED_FORWARD_1_00_X, 1], [S.SPEED_FORWARD_2_00_X, 2],
      [S.SPEED_FORWARD_0_50_X, 0.5], [S.SPEED_FORWARD_1_25_X, 1.25]]) {
      assert.ok(Math.abs(paces[speed] / rate - 1) < 0.15, `${rate}x: ${paces[speed]}`);
      assert.ok(Math.abs(ratio(speed) / rate - 1) < 0.15, `${rate}x against 1x: ${ratio(speed)}`);
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
