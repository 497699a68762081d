'use strict';
// Track descriptions against ffprobe: a file with two audio tracks made here (eng, fra, with
// different rates and channels, so a value put on the wrong track shows), and the bundled clip.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

require('./ets-require.js');
const kv = require('../Index.ets');
const { root } = require('../../test/js/loader.js');

const probe = (file) => JSON.parse(execFileSync('ffprobe', ['-v', 'error', '-show_streams',
  '-of', 'json', file], { encoding: 'utf8' })).streams;
const AUD = kv.MediaType.MEDIA_TYPE_AUD;
const VID = kv.MediaType.MEDIA_TYPE_VID;

async function tracksOf(file) {
  const player = kv.createPlayer();
  player.setSource(file);
  await player.prepare();
  try {
    return await player.getTrackDescription();
  } finally {
    await player.release();
  }
}

test('two audio tracks: one description each, every value on the track ffprobe gives it',
  async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavori-tracks-'));
  try {
    const file = path.join(dir, 'two.m4a');
    execFileSync('ffmpeg', ['-v', 'error', '-f', 'lavfi', '-i',
      'sine=frequency=440:sample_rate=44100:duration=1', '-f', 'lavfi', '-i',
      'sine=frequency=660:sample_rate=22050:duration=1', '-map', '0', '-map', '1',
      '-ac:a:0', '2', '-c:a', 'aac', '-metadata:s:a:0', 'language=eng',
      '-metadata:s:a:1', 'language=fra', file]);
    const [eng, fra] = probe(file);
    assert.deepStrictEqual([eng.tags.language, fra.tags.language], ['eng', 'fra']);
    const aac = { codec_name: 'aac', codec_mime: 'audio/mp4a-latm' };
    // The module gives one language and one bit rate for the media: the last track's.
    assert.deepStrictEqual(JSON.parse(JSON.stringify(await tracksOf(file))), [
      { track_index: 0, track_type: AUD, ...aac, sample_rate: Number(eng.sample_rate),
        channel_count: eng.channels },
      { track_index: 1, track_type: AUD, ...aac, sample_rate: Number(fra.sample_rate),
        channel_count: fra.channels, language: 'fra', bitrate: Number(fra.bit_rate) },
    ]);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('video and audio: sizes, frame rate and codecs as ffprobe gives them', async () => {
  const file = path.join(root, 'examples', 'media', 'clip.mp4');
  const [video, audio] = probe(file);
  const [num, den] = video.r_frame_rate.split('/').map(Number);
  assert.deepStrictEqual(JSON.parse(JSON.stringify(await tracksOf(file))), [
    { track_index: 0, track_type: VID, codec_name: 'h264', codec_mime: 'video/avc',
      width: video.width, height: video.height, frame_rate: Math.round(100 * num / den) },
    { track_index: 1, track_type: AUD, codec_name: 'aac', codec_mime: 'audio/mp4a-latm',
      sample_rate: Number(audio.sample_rate), channel_count: audio.channels,
      language: audio.tags.language, bitrate: Number(audio.bit_rate) },
  ]);
  const player = kv.createPlayer();
  player.setSource(file);
  await assert.rejects(player.getTrackDescription(),
    (e) => e.code === kv.ErrorCode.OPERATION_NOT_PERMITTED);
  await player.release();
});
