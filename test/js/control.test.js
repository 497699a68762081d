'use strict';
// Control adapters: each JS method reaches its engine call with converted arguments, getters give
// the engine's answers in JS types, and without an engine player every adapter gives its line
// and neutral value.
const test = require('./limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { tempDir, hilog, engineTrace } = require('./logfile.js');

const log = hilog();
const trace = engineTrace();
const { loadModule, loadHost, root } = require('./loader.js');
const { playerCalls, createdSerial, proxyLines, E, I, until, writeWav } = require('./proxy_helpers.js');

const m = loadModule();
new m.newKavoriPlayerAudio('control', false);
const ex = loadHost().exportTo({});
m._nativeOpenlog('control');

const TONE = path.join(root, 'examples', 'media', 'tone.m4a');
const CLIP = path.join(root, 'examples', 'media', 'clip.mp4');

// A registered audio player for id; gives its engine serial.
function player(id) {
  trace.take();
  m._native_init_audio(id);
  const serial = createdSerial(trace.take());
  assert.ok(serial > 0, `no player created for ${id}`);
  return serial;
}

// Runs call and gives the engine calls it made on player #serial.
async function callsOf(serial, call) {
  trace.take();
  await call();
  return playerCalls(trace.take(), serial);
}

test('every method reaches its engine call with converted arguments', async () => {
  const id = 'calls';
  const n = player(id);
  const rows = [
    [() => m._setDataSource(id, 'script:200'), `kvmp_set_data_source #${n} script:200`],
    [() => m._setDecryptTokenForHLS(id, 'tok'), `kvmp_set_decrypt_token_for_hls #${n} tok`],
    [() => m._setOption(id, ' 4x', 'speed', '0'), `kvmp_set_option #${n} 4 speed 0`],
    [() => m._setOptionLong(id, '1', 'k', '-7'), `kvmp_set_option_int #${n} 1 k -7`],
    [() => m._prepareAsync(id), `kvmp_prepare_async #${n}`],
    [() => m._start(id, 'ignored'), `kvmp_start #${n}`],
    [() => m._pause(id), `kvmp_pause #${n}`],
    [() => m._stop(id), `kvmp_stop #${n}`],
    [() => m._seekTo(id, '5000'), `kvmp_seek_to #${n} 5000`],
    [() => m._seekTo(id, 5000), `kvmp_seek_to #${n} 0`],
    [() => m._setVolume(id, '0.5', '1'), `kvmp_set_volume #${n} 0.5 1`],
    [() => m._setPropertyFloat(id, '3', '2.5dB'), `kvmp_set_property_float #${n} 3 2.5`],
    [() => m._setPropertyLong(id, '4', String(2 ** 32 + 1)), `kvmp_set_property_int64 #${n} 4 1`],
    [() => m._setPropertyLong(id, '4', String(2 ** 31)), `kvmp_set_property_int64 #${n} 4 -2147483648`],
    [() => m._getPropertyFloat(id, '7', '2.5'), `kvmp_get_property_float #${n} 7 2.5`],
    [() => m._getPropertyLong(id, '8', '-9'), `kvmp_get_property_int64 #${n} 8 -9`],
    [() => m._setLoopCount(id, '3'), `kvmp_set_loop #${n} 3`],
    [() => m._getLoopCount(id), `kvmp_get_loop #${n}`],
    [() => m._isPlaying(id), `kvmp_is_playing #${n}`],
    [() => m._getDuration(id), `kvmp_get_duration #${n}`],
    [() => m._getCurrentPosition(id), `kvmp_get_current_position #${n}`],
    [() => m._getAudioSessionId(id), `kvmp_get_audio_session_id #${n}`],
    [() => m._getVideoCodecInfo(id), new RegExp(`^kvmp_get_video_codec_info #${n} 0x[0-9a-f]+$`)],
    [() => m._getAudioCodecInfo(id), new RegExp(`^kvmp_get_audio_codec_info #${n} 0x[0-9a-f]+$`)],
    [() => m._setStreamSelected(id, '2', 'True'), `kvmp_set_stream_selected #${n} 2 0`],
    [() => m._setStreamSelected(id, '2', 'true'), `kvmp_set_stream_selected #${n} 2 1`],
    [() => ex._addExtSubtitleUrl(id, '/sub.srt'), `kvmp_add_ext_subtitle_url #${n} /sub.srt`],
    [() => ex._startRecord(id, 5), `kvmp_start_record #${n} 5`],
    [() => ex._isRecord(id), `kvmp_is_record #${n}`],
    [() => ex._stopRecord(id), `kvmp_stop_record #${n}`],
  ];
  for (const [call, expected] of rows) {
    // The message loop reads the weak value for each message.
    const calls = (await callsOf(n, call)).filter((l) => !l.startsWith('kvmp_get_weak_thiz'));
    assert.strictEqual(calls.length, 1, `${call}: ${calls}`);
    if (expected instanceof RegExp) assert.match(calls[0], expected);
    else assert.strictEqual(calls[0], expected);
  }
  m._release(id);
});

test('getters give the engine answers in JS types', async () => {
  const id = 'answers';
  const n = player(id);
  m._setPropertyFloat(id, '3', '0.5');
  assert.strictEqual(m._getPropertyFloat(id, '3', '9'), '0.500000');
  assert.strictEqual(m._getPropertyFloat(id, '30', '2.5'), '2.500000');  // the engine's fallback
  m._setPropertyLong(id, '4', '123');
  assert.strictEqual(m._getPropertyLong(id, '4', '0'), '123');
  assert.strictEqual(m._getPropertyLong(id, '40', '7'), '7');
  m._setLoopCount(id, '3');
  assert.strictEqual(m._getLoopCount(id), 3);
  assert.strictEqual(m._getAudioSessionId(id), 1000 + n);
  assert.strictEqual(m._getVideoCodecInfo(id), '');  // nothing prepared yet
  assert.strictEqual(ex._startRecord(id, 2), 0);
  assert.strictEqual(ex._isRecord(id), 1);
  assert.strictEqual(await ex._stopRecord(id), 0);
  assert.strictEqual(ex._isRecord(id), 0);
  assert.strictEqual(await ex._stopRecord(id), -22);  // engine: not recording
  m._release(id);
});

test('a playing media file: duration, position, state and codecs', async () => {
  const id = 'media';
  player(id);
  m._setDataSource(id, CLIP);
  m._prepareAsync(id);
  await until(() => m._getDuration(id) > 0, 'duration');
  const duration = m._getDuration(id);
  assert.ok(Math.abs(duration - 4000) < 100, `duration ${duration}`);
  assert.match(m._getVideoCodecInfo(id), /^h264/);
  assert.match(m._getAudioCodecInfo(id), /^aac/);
  assert.strictEqual(m._isPlaying(id), false);
  m._start(id);
  await until(() => m._isPlaying(id) && m._getCurrentPosition(id) > 0, 'playback');
  assert.strictEqual(typeof m._getCurrentPosition(id), 'number');
  log.take();
  m._setStreamSelected(id, '1', 'false');  // a stream that exists: no line
  m._setStreamSelected(id, '9', 'false');
  m._setStreamSelected(id, '-1', 'true');
  assert.deepStrictEqual(proxyLines(log.take()), [I('failed to deselect 9'), I('failed to select -1')]);
  m._release(id);
});

test('setDataSource and getAudioCodecInfo lines with a player', () => {
  const id = 'lines';
  player(id);
  log.take();
  m._setDataSource(id, TONE);
  m._getAudioCodecInfo(id);
  assert.deepStrictEqual(proxyLines(log.take()), [
    E('napi_proxy-->KavoriCloudMediaPlayer_setDataSource 317'),
    E('napi_proxy-->KavoriCloudMediaPlayer_setDataSource 319'),
    E('napi_proxy-->KavoriCloudMediaPlayer_setDataSource 321'),
    I('KavoriCloudMediaPlayer_getAudioCodecInfo\\n'),
  ]);
  m._isPlaying(id);
  assert.deepStrictEqual(proxyLines(log.take()), [E('napi_proxy-->KavoriCloudMediaPlayer_isPlaying')]);
  m._release(id);
});

test('setDataSourceFd hands the engine a duplicate it owns until the player ends', async () => {
  const id = 'fd';
  const wav = path.join(tempDir(), 'tone.wav');
  writeWav(wav);
  const fd = fs.openSync(wav, 'r');
  try {
    const n = player(id);
    const urls = [];
    for (let i = 0; i < 2; i++) {
      const calls = await callsOf(n, () => m._setDataSourceFd(id, String(fd)));
      assert.strictEqual(calls.length, 1);
      assert.match(calls[0], new RegExp(`^kvmp_set_data_source #${n} pipe:\\d+$`));
      urls.push(calls[0].split(' ')[2]);
    }
    const dups = urls.map((u) => Number(u.slice(5)));
    assert.notStrictEqual(dups[0], dups[1]);
    assert.ok(!dups.includes(fd));
    m._prepareAsync(id);  // reads the second duplicate through the pipe protocol
    await until(() => m._getAudioCodecInfo(id).startsWith('pcm_s16le'), 'codec from the pipe');
    const links = dups.map((d) => fs.readlinkSync(`/proc/self/fd/${d}`));
    assert.deepStrictEqual(links, [wav, wav]);
    m._release(id);
    for (const d of dups) {
      assert.ok(!fs.existsSync(`/proc/self/fd/${d}`) || fs.readlinkSync(`/proc/self/fd/${d}`) !== wav,
        `duplicate ${d} still open`);
    }
    fs.fstatSync(fd);  // the caller's descriptor stays open

    // A descriptor that cannot be duplicated replaces the earlier source all the same, so
    // prepare fails instead of playing the earlier media.
    const again = player(id);
    m._setDataSource(id, TONE);
    const events = [];
    m._setMessageListener(id, (...event) => events.push(event));
    log.take();
    const calls = await callsOf(again, () => m._setDataSourceFd(id, '99999'));
    assert.deepStrictEqual(calls, [`kvmp_set_data_source #${again} pipe:-1`]);
    assert.deepStrictEqual(proxyLines(log.take()),
      [E('napi_proxy-->KavoriCloudMediaPlayer_setDataSourceFd dup failed')]);
    m._prepareAsync(id);
    const error = await until(() => events.find((e) => e[0] === 100), 'the error event');
    assert.strictEqual(error[1], -10000);
    assert.ok(!events.some((e) => e[0] === 1), `prepared: ${JSON.stringify(events)}`);
    m._release(id);
  } finally {
    fs.closeSync(fd);
  }
});

test('without a player every adapter gives its line and neutral value', async () => {
  const id = 'nobody';
  const line = (name) => E(`napi_proxy-->KavoriCloudMediaPlayer_${name} mp NULL`);
  const rows = [
    [() => m._setDataSource(id, 'x'), undefined, [line('setDataSource')]],
    [() => m._setDataSourceFd(id, '0'), undefined, [line('setDataSourceFd')]],
    [() => m._setDecryptTokenForHLS(id, 't'), undefined, [line('setDecryptTokenForHLS')]],
    [() => m._setOption(id, '4', 'k', 'v'), undefined, [line('setOption')]],
    [() => m._setOptionLong(id, '4', 'k', '1'), undefined, [line('setOptionLong')]],
    [() => m._prepareAsync(id), undefined, [line('prepareAsync')]],
    [() => m._start(id), undefined, [line('start')]],
    [() => m._pause(id), undefined, [line('pause')]],
    [() => m._stop(id), undefined, [line('stop')]],
    [() => m._seekTo(id, '1'), undefined, [line('seekTo')]],
    [() => m._isPlaying(id), false,
      [E('napi_proxy-->KavoriCloudMediaPlayer_isPlaying'), line('isPlaying')]],
    [() => m._getCurrentPosition(id), 0, [line('getCurrentPosition')]],
    [() => m._getDuration(id), 0, [line('getDuration')]],
    [() => m._setVolume(id, '1', '1'), undefined, [line('setVolume')]],
    [() => m._setPropertyFloat(id, '1', '1'), undefined, [line('setPropertyFloat')]],
    [() => m._getPropertyFloat(id, '1', '2.5'), '0.000000', [line('getPropertyFloat')]],
    [() => m._setPropertyLong(id, '1', '1'), undefined, [line('setPropertyLong')]],
    [() => m._getPropertyLong(id, '1', '7'), '0', [line('getPropertyLong')]],
    [() => m._getAudioSessionId(id), 0, [line('getAudioSessionId')]],
    [() => m._setLoopCount(id, '2'), undefined, [line('setLoopCount')]],
    [() => m._getLoopCount(id), 0, [line('getLoopCount')]],
    [() => m._getVideoCodecInfo(id), '', [line('getVideoCodecInfo')]],
    [() => m._getAudioCodecInfo(id), '',
      [I('KavoriCloudMediaPlayer_getAudioCodecInfo\\n'), line('getAudioCodecInfo')]],
    [() => m._setStreamSelected(id, '1', 'true'), undefined, [line('setStreamSelected')]],
    [() => ex._addExtSubtitleUrl(id, 'u'), undefined, [line('setDataSource')]],
    [() => ex._startRecord(id, 1), 0, []],
    [() => ex._stopRecord(id), 0, []],
    [() => ex._isRecord(id), 0, []],
    [() => m._native_setup(id), undefined,
      [I('napi_proxy-->KavoriCloudMediaPlayer_native_setup'), line('native_setup')]],
    [() => m._release(id), undefined, [line('release')]],
    [() => m._reset(id), undefined, [line('reset')]],
  ];
  for (const [call, neutral, lines] of rows) {
    log.take();
    trace.take();
    assert.strictEqual(await call(), neutral, String(call));
    assert.deepStrictEqual(proxyLines(log.take()), lines, String(call));
    // No engine call, and no reference dropped but the recording adapters' null one; what
    // remains are the ends of earlier players' message threads.
    const late = /^(kvmp_get_msg|kvmp_get_weak_thiz|kvmp_dec_ref_p|thread-exit|free) #/;
    const calls = trace.take().filter((l) => !late.test(l));
    const recording = /_(start|stop|is)Record\b/.test(String(call));
    assert.deepStrictEqual(calls, recording ? ['kvmp_dec_ref_p null'] : [], String(call));
  }
});
