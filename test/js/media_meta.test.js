'use strict';
// _getMediaMeta on media made with ffmpeg at test time: the exact text against ffprobe's view of
// the streams, the flattening across streams, the per-entry log lines and the two failure roads.
const test = require('./limited_test.js');
const assert = require('node:assert');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { tempDir, hilog } = require('./logfile.js');

const log = hilog();
const { loadModule } = require('./loader.js');
const { until } = require('./proxy_helpers.js');
const m = loadModule();
m._nativeOpenlog('media-meta');

const haveFfmpeg = ['ffmpeg', 'ffprobe'].every((tool) => !spawnSync(tool, ['-version']).error);
const skip = haveFfmpeg ? false : 'needs the ffmpeg and ffprobe command-line tools';

const TAG = 'A00000/KavoriPlayer: ';

// The map's iteration order, so the expected text can be built from ffprobe's values: buckets
// ascending; in a bucket the head, then later-inserted keys before earlier ones; growth before
// each put at full load, re-inserting in iteration order.
class MapModel {
  constructor() {
    this.buckets = Array.from({ length: 8 }, () => []);
    this.size = 0;
  }
  static hash(key) {
    let h = 0;
    for (const byte of Buffer.from(key)) h = (Math.imul(h, 131) + byte) >>> 0;
    return h & 0x7fffffff;
  }
  bucketOf(key, count = this.buckets.length) {
    return MapModel.hash(key) % count;
  }
  put(key, value) {
    if (value === undefined) return;
    if (this.size >= this.buckets.length) this.rebuild(this.buckets.length * 2);
    const bucket = this.buckets[this.bucketOf(key)];
    const entry = bucket.find((e) => e[0] === key);
    if (entry) {
      entry[1] = value;
    } else {
      bucket.splice(Math.min(1, bucket.length), 0, [key, value]);
      this.size++;
    }
  }
  rebuild(count) {
    const pairs = this.entries();
    this.buckets = Array.from({ length: count }, () => []);
    this.size = 0;
    for (const [key, value] of pairs) this.put(key, value);
  }
  entries() {
    return this.buckets.flat();
  }
  text() {
    return this.entries().map(([k, v]) => `key:${k},value:${v};`).join('');
  }
}

const TYPES = { video: 'video', audio: 'audio', subtitle: 'timedtext' };
const PROFILE_IDS = { High: '100', LC: '1' };  // the profiles of the encoders used below
const CHANNEL_MASKS = { mono: '4', stereo: '3' };

const ratio = (text, sep) => {
  const [num, den] = (text || '0/0').split(sep);
  return num === '0' || den === '0' ? [undefined, undefined] : [num, den];
};

// One stream's stores, in the order the module makes them, with ffprobe's values.
function streamStores(s) {
  const type = TYPES[s.codec_type] || 'unknown';
  const stores = [['type', type], ['type', type], ['language', s.tags && s.tags.language]];
  const profileId = s.profile === undefined ? undefined : PROFILE_IDS[s.profile];
  assert.ok(s.profile === undefined || profileId, `no profile id known for ${s.profile}`);
  const level = s.level === undefined || s.level === -99 ? undefined : String(s.level);
  stores.push(['codec_name', s.codec_name], ['codec_profile', s.profile], ['codec_level', level],
    ['codec_long_name', s.codec_long_name], ['codec_pixel_format', s.pix_fmt],
    ['bitrate', s.bit_rate], ['codec_profile_id', profileId]);
  if (type === 'video') {
    const [fpsNum] = ratio(s.avg_frame_rate, '/');
    const [tbrNum, tbrDen] = ratio(s.r_frame_rate, '/');
    const [sarNum, sarDen] = ratio(s.sample_aspect_ratio, ':');
    stores.push(['width', String(s.width)], ['height', String(s.height)], ['fps_num', fpsNum],
      ['tbr_num', tbrNum], ['tbr_den', tbrDen], ['sar_num', sarNum], ['sar_den', sarDen]);
  } else if (type === 'audio') {
    stores.push(['sample_rate', s.sample_rate], ['channel_layout', CHANNEL_MASKS[s.channel_layout]]);
  }
  return stores;
}

function probe(file) {
  const out = execFileSync('ffprobe', ['-v', 'error', '-show_streams', '-of', 'json', file]);
  return JSON.parse(out).streams;
}

function expectedMap(file) {
  const map = new MapModel();
  for (const stream of probe(file)) {
    for (const [key, value] of streamStores(stream)) map.put(key, value);
  }
  return map;
}

const parse = (text) => text.split(';').filter((g) => g !== '').map((group) => {
  const match = /^key:([^,]*),value:(.*)$/.exec(group);
  assert.ok(match, `malformed group ${group}`);
  return [match[1], match[2]];
});

const media = {};

function ffmpeg(...args) {
  execFileSync('ffmpeg', ['-v', 'error', '-y', ...args]);
}

test.before(() => {
  if (skip) return;
  const dir = tempDir();
  const tone = ['-f', 'lavfi', '-i', 'sine=frequency=440:duration=1'];
  const picture = ['-f', 'lavfi', '-i', 'testsrc=size=160x120:rate=25:duration=1'];
  const h264 = ['-c:v', 'libx264', '-pix_fmt', 'yuv420p'];
  media.audio = path.join(dir, 'audio.m4a');
  ffmpeg(...tone, '-metadata:s:a:0', 'language=fra', '-c:a', 'aac', media.audio);
  media.videoAudio = path.join(dir, 'video-audio.mp4');
  ffmpeg(...picture, ...tone, '-ac', '2', ...h264, '-c:a', 'aac', '-metadata:s:v:0', 'language=eng',
    '-metadata:s:a:0', 'language=deu', '-shortest', media.videoAudio);
  const srt = path.join(dir, 'lines.srt');
  fs.writeFileSync(srt, '1\n00:00:00,000 --> 00:00:00,800\nHello\n\n');
  media.subtitled = path.join(dir, 'subtitled.mkv');
  ffmpeg(...picture, ...tone, '-i', srt, '-map', '0', '-map', '1', '-map', '2', ...h264,
    '-c:a', 'libmp3lame', '-c:s', 'srt', '-metadata:s:a:0', 'language=ita',
    '-metadata:s:s:0', 'language=spa', media.subtitled);
});

let serial = 0;

// A prepared player of file; its metadata is published before its duration.
async function withPlayer(file, body) {
  const id = `meta-${++serial}`;
  m._native_init_audio(id);
  m._setOptionLong(id, '4', 'speed', '0');
  m._setDataSource(id, file);
  m._prepareAsync(id);
  try {
    await until(() => m._getDuration(id) > 0, `${file} prepared`);
    return await body(id);
  } finally {
    m._release(id);
  }
}

test('audio-only file: the exact text, with the values ffprobe reports', { skip }, async () => {
  await withPlayer(media.audio, (id) => {
    const text = m._getMediaMeta(id);
    assert.strictEqual(text, expectedMap(media.audio).text());
    const pairs = new Map(parse(text));
    assert.strictEqual(pairs.get('type'), 'audio');
    assert.strictEqual(pairs.get('language'), 'fra');
    assert.strictEqual(pairs.get('channel_layout'), '4');
    assert.ok(!pairs.has('width'));
  });
});

test('video then audio: video keys kept, shared keys from the audio stream, 32 buckets',
  { skip }, async () => {
    await withPlayer(media.videoAudio, (id) => {
      const text = m._getMediaMeta(id);
      assert.strictEqual(text, expectedMap(media.videoAudio).text());
      const [video, audio] = probe(media.videoAudio);
      const pairs = parse(text);
      const values = new Map(pairs);
      assert.deepStrictEqual(
        ['width', 'height', 'codec_pixel_format', 'fps_num', 'sar_num'].map((k) => values.get(k)),
        ['160', '120', 'yuv420p', '25', '1']);
      assert.deepStrictEqual(
        ['type', 'language', 'codec_name', 'codec_profile', 'codec_long_name', 'bitrate']
          .map((k) => values.get(k)),
        ['audio', 'deu', 'aac', 'LC', audio.codec_long_name, audio.bit_rate]);
      assert.strictEqual(values.get('codec_level'), String(video.level));  // the audio has none
      assert.strictEqual(values.get('channel_layout'), '3');
      assert.strictEqual(pairs.length, 18);
      // Keys come in bucket order of a 32-bucket map, which a 16-bucket map would not give.
      const in32 = pairs.map(([k]) => MapModel.hash(k) % 32);
      const in16 = pairs.map(([k]) => MapModel.hash(k) % 16);
      const ascending = (list) => list.every((b, i) => i === 0 || list[i - 1] <= b);
      assert.ok(ascending(in32), in32.join());
      assert.ok(!ascending(in16), in16.join());
    });
  });

test('subtitle stream: timedtext last, keys it lacks keep earlier streams\' values',
  { skip }, async () => {
    await withPlayer(media.subtitled, (id) => {
      const text = m._getMediaMeta(id);
      assert.strictEqual(text, expectedMap(media.subtitled).text());
      const values = new Map(parse(text));
      assert.deepStrictEqual(
        ['type', 'codec_name', 'language', 'codec_profile', 'bitrate', 'sample_rate', 'width']
          .map((k) => values.get(k)),
        ['timedtext', 'subrip', 'spa', 'High', '64000', '44100', '160']);
    });
  });

test('each entry is logged once, with its bucket index', { skip }, async () => {
  await withPlayer(media.videoAudio, (id) => {
    log.take();
    const text = m._getMediaMeta(id);
    // The player's message thread and FFmpeg log when they do; the call's lines are its own.
    const lines = log.take().filter((l) => l.includes('getMediaMeta'));
    const entries = parse(text).map(([k, v]) =>
      `I ${TAG}napi-->getMediaMeta { key: ${k}, value: ${v}, hashcode: ${MapModel.hash(k) % 32} }\\n`);
    assert.deepStrictEqual(lines, [`I ${TAG}napi-->getMediaMeta`, ...entries]);
  });
});

test('no engine player: the empty text and the mp NULL line', () => {
  new m.newKavoriPlayerAudio('meta-none', false);
  log.take();
  assert.strictEqual(m._getMediaMeta('meta-none'), '');
  assert.deepStrictEqual(log.take(), [
    `I ${TAG}napi-->getMediaMeta`,
    `E ${TAG}napi_proxy-->KavoriCloudMediaPlayer_getMediaMeta mp NULL`,
  ]);
});

test('no metadata before prepare: the empty text and the meta NULL line', () => {
  m._native_init_audio('meta-unprepared');
  try {
    log.take();
    assert.strictEqual(m._getMediaMeta('meta-unprepared'), '');
    assert.deepStrictEqual(log.take(), [
      `I ${TAG}napi-->getMediaMeta`,
      `E ${TAG}napi_proxy-->KavoriCloudMediaPlayer_getMediaMeta meta NULL`,
    ]);
  } finally {
    m._release('meta-unprepared');
  }
});
