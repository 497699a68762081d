'use strict';
// A part of a file as a source, as an app package holds its sounds: two clips between unrelated
// bytes, each played at its offset with its own duration, position and seeks.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

require('./ets-require.js');
const kv = require('../Index.ets');
const { root } = require('../../test/js/loader.js');
const { until } = require('../../test/js/proxy_helpers.js');

const media = (name) => path.join(root, 'examples', 'media', name);
const durationMs = (file) => Math.round(1000 * Number(execFileSync('ffprobe', ['-v', 'error',
  '-show_entries', 'format=duration', '-of', 'csv=p=0', file], { encoding: 'utf8' })));
const filler = (n, seed) => Buffer.from(Array.from({ length: n }, (_, i) => (i * seed + 7) % 251));

// Prepares a player on source and gives it prepared; the caller releases it.
async function prepared(source) {
  const player = kv.createPlayer();
  player.setFdSource(source);
  await player.prepare();
  return player;
}

test('a clip inside a package file plays its own range: duration, seeks, completion',
  async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavori-part-'));
  const tone = fs.readFileSync(media('tone.m4a'));
  const effect = fs.readFileSync(media('effect.m4a'));
  const parts = [filler(4096, 31), tone, filler(1000, 17), effect, filler(3000, 5)];
  const pack = path.join(dir, 'package.bin');
  fs.writeFileSync(pack, Buffer.concat(parts));
  const fd = fs.openSync(pack, 'r');
  const at = (i) => parts.slice(0, i).reduce((n, b) => n + b.length, 0);
  try {
    const clips = [
      [{ fd, offset: at(1), length: tone.length }, durationMs(media('tone.m4a'))],
      [{ fd, offset: at(3), length: effect.length }, durationMs(media('effect.m4a'))],
    ];
    for (const [source, duration] of clips) {
      const player = await prepared(source);
      try {
        assert.strictEqual(player.duration, duration);
        const inside = Math.round(duration * 0.6);
        assert.strictEqual(await player.seek(inside), inside);
        assert.strictEqual(player.currentTime, inside);
        assert.strictEqual(await player.seek(duration + 5000), duration);
        assert.strictEqual(await player.seek(100), 100);
        player.setOption(4, 'speed', 0);  // plays unpaced from here
        player.play();
        await until(() => player.state === 'completed', 'completion');
        assert.strictEqual(player.currentTime, duration);
      } finally {
        await player.release();
      }
    }
    // The same descriptor whole, and a range that starts in the unrelated bytes.
    const toneFd = fs.openSync(media('tone.m4a'), 'r');
    const whole = await prepared(toneFd);
    fs.closeSync(toneFd);  // the module plays its own duplicate
    assert.strictEqual(whole.duration, clips[0][1]);
    await whole.release();
    const wrong = kv.createPlayer();
    wrong.setFdSource({ fd, offset: 0, length: tone.length });
    await assert.rejects(wrong.prepare(), (e) =>
      e.code === kv.ErrorCode.UNSUPPORTED_FORMAT && e.engineCode === -1094995529);
    await wrong.release();
  } finally {
    fs.closeSync(fd);
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('a bad part gives 401 naming its field', async () => {
  const player = kv.createPlayer();
  const rows = [
    ['fd.fd', { fd: -1 }], ['fd.fd', { fd: '3' }], ['fd.offset', { fd: 3, offset: -1 }],
    ['fd.offset', { fd: 3, offset: 1.5 }], ['fd.length', { fd: 3, length: 0 }],
    ['fd.length', { fd: 3, length: -2 }], ['fd', null],
  ];
  try {
    for (const [name, source] of rows) {
      assert.throws(() => player.setFdSource(source), (e) =>
        e.code === kv.ErrorCode.INVALID_PARAMETER && e.message.includes(`'${name}'`), name);
    }
    assert.strictEqual(player.state, 'idle');
  } finally {
    await player.release();
  }
});
