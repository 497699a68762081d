'use strict';
// Engine player lifecycle: creation, set-up, release and reset with their references, the one
// player per id rule, per-id engine initialisation, surface destruction, and no leaks of players,
// threads or descriptors over many cycles.
const test = require('./limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { tempDir, hilog, engineTrace } = require('./logfile.js');

const log = hilog();
const trace = engineTrace();
const { loadModule, loadHost, root } = require('./loader.js');
const {
  playerCalls, createdSerial, proxyLines, E, I, until, threadCount, fdCount, settled, writeWav,
} = require('./proxy_helpers.js');

const m = loadModule();
new m.newKavoriPlayerAudio('lifecycle', true);  // fills the surface callback table
const host = loadHost();
m._nativeOpenlog('lifecycle');

const TONE = path.join(root, 'examples', 'media', 'tone.m4a');

// Runs call; gives the proxy lines and the engine calls on #serial it made (0: any player). A
// message thread may read its weak value at any time: those reads count only when asked for.
function observe(call, serial = 0, weakReads = false) {
  log.take();
  trace.take();
  call();
  const lines = trace.take();
  const calls = serial ? playerCalls(lines, serial) : lines.filter((l) => l.startsWith('kvmp_') &&
    !/^kvmp_(get_msg|inc_ref|dec_ref_p) /.test(l));
  return {
    log: proxyLines(log.take()),
    calls: calls.filter((l) => weakReads || !l.startsWith('kvmp_get_weak_thiz')),
    trace: lines,
  };
}

// The trace once player #serial is freed and its message thread has ended.
const gone = (serial) => until(() => {
  const all = trace.all();
  return all.includes(`free #${serial}`) && all.includes(`thread-exit #${serial}`) && all;
}, `free #${serial}`);

// Waits until player #serial is freed, then checks that every reference taken was dropped: the
// creator's and the message thread's are taken untraced.
async function freed(serial) {
  const lines = await gone(serial);
  const count = (name) => lines.filter((l) => l === `${name} #${serial}`).length;
  assert.strictEqual(count('kvmp_dec_ref_p'), count('kvmp_inc_ref') + 2);
  assert.strictEqual(count('free'), 1);
  const free = lines.indexOf(`free #${serial}`);
  const after = lines.slice(free + 1).filter((l) => l.split(' ')[1] === `#${serial}`);
  assert.ok(after.every((l) => l === `thread-exit #${serial}`), `used after free: ${after}`);
}

test('create, set up and release: the player is freed with every reference dropped', async () => {
  const id = 'life';
  const created = observe(() => m._native_init_audio(id));
  const n = createdSerial(created.trace);
  assert.ok(n > 0);
  assert.deepStrictEqual(created.log, [
    I('napi_proxy-->KavoriCloudMediaPlayer_native_init_audio'),
    I('napi_proxy-->set_media_player'),
  ]);
  const calls = playerCalls(created.trace, n);
  assert.match(calls[0], new RegExp(`^kvmp_create #${n} 0x[0-9a-f]+$`));
  assert.deepStrictEqual(calls.slice(1), [`kvmp_set_weak_thiz #${n} null`]);

  assert.deepStrictEqual(observe(() => m._native_setup(id), n, true).calls,
    [`kvmp_get_weak_thiz #${n}`, `kvmp_set_inject_opaque #${n} null`]);

  m._setDataSource(id, 'script:200;300');
  m._prepareAsync(id);
  const released = observe(() => m._release(id), n);
  assert.deepStrictEqual(released.log, [I('napi_proxy-->set_media_player')]);
  assert.deepStrictEqual(released.calls, [`kvmp_shutdown #${n}`]);
  await freed(n);

  const again = observe(() => m._release(id));
  assert.deepStrictEqual(again.log, [E('napi_proxy-->KavoriCloudMediaPlayer_release mp NULL')]);
  assert.deepStrictEqual(again.calls, []);
});

test('reset detaches, ends the player and leaves the id without one', async () => {
  const id = 'resetting';
  const n = createdSerial(observe(() => m._native_init_audio(id)).trace);
  const reset = observe(() => m._reset(id), n);
  assert.deepStrictEqual(reset.log, [
    I('napi_proxy-->set_media_player'),
    I('napi_proxy-->KavoriCloudMediaPlayer_reset'),
  ]);
  assert.deepStrictEqual(reset.calls,
    [`kvmp_set_surface #${n} null`, `kvmp_set_weak_thiz #${n} null`, `kvmp_shutdown #${n}`]);
  await freed(n);

  const none = observe(() => m._reset(id));
  assert.deepStrictEqual(none.log, [E('napi_proxy-->KavoriCloudMediaPlayer_reset mp NULL')]);
  assert.deepStrictEqual(none.calls, []);
  assert.deepStrictEqual(observe(() => m._start(id)).log,
    [E('napi_proxy-->KavoriCloudMediaPlayer_start mp NULL')]);
});

test('a second creating operation leaves the registered player serving the id', async () => {
  const id = 'twice';
  const n = createdSerial(observe(() => m._native_init_audio(id)).trace);
  const rows = [
    [() => m._native_init_audio(id), 'native_init_audio', 'native_init_audio'],
    [() => m._native_init(id), 'native_setup', 'native_init'],
    [() => m._native_setup_audio(id), 'native_setup', 'native_setup_audio'],
  ];
  for (const [call, first, operation] of rows) {
    const second = observe(call);
    assert.deepStrictEqual(second.log, [
      I(`napi_proxy-->KavoriCloudMediaPlayer_${first}`),
      E(`napi_proxy-->KavoriCloudMediaPlayer_${operation} player exists`),
    ]);
    assert.deepStrictEqual(second.calls, []);  // nothing created, nothing configured
  }
  assert.strictEqual(m._getAudioSessionId(id), 1000 + n);
  m._release(id);
  await freed(n);
});

test('each id initialises the engine once, also across release', async () => {
  const inits = (lines) => lines.filter((l) => l === 'kvmp_global_init').length;
  const first = observe(() => m._native_setup_audio('init-a'));
  assert.strictEqual(inits(first.trace), 1);
  const n = createdSerial(first.trace);
  m._release('init-a');
  const again = observe(() => m._native_init_audio('init-a'));
  assert.strictEqual(inits(again.trace), 0);
  assert.ok(createdSerial(again.trace) > n);  // a fresh player
  assert.strictEqual(inits(observe(() => m._native_init_audio('init-b')).trace), 1);
  m._release('init-a');
  m._release('init-b');
});

test('the surface: init hands it over, its destruction ends the player', async () => {
  const id = 'surface';
  const xc = host.createXComponent(id);
  host.attach(id, xc);
  assert.strictEqual(host.surfaceCreated(xc, 0x55), true);
  const init = observe(() => m._native_init(id));
  const n = createdSerial(init.trace);
  const calls = playerCalls(init.trace, n);
  assert.strictEqual(calls[1], `kvmp_set_surface #${n} 0x55`);
  assert.match(calls[2], new RegExp(`^kvmp_set_weak_thiz #${n} 0x[0-9a-f]+$`));
  assert.strictEqual(calls.length, 3);

  const destroyed = observe(() => host.surfaceDestroyed(xc, 0x55), n);
  assert.deepStrictEqual(destroyed.calls, [`kvmp_shutdown #${n}`]);
  await freed(n);
  assert.deepStrictEqual(observe(() => m._start(id)).log,
    [E('napi_proxy-->KavoriCloudMediaPlayer_start mp NULL')]);
  host.surfaceCreated(xc, 0x56);  // ends the destroyed state for the tests after this one
});

async function baseline(cycle) {
  cycle(0);  // warm-up: lazily opened files and threads of the runtime
  await gone(createdSerial(trace.all()));
  return { threads: threadCount(), fds: fdCount() };
}

test('1,000 create, prepare and release cycles leave no thread or descriptor', async () => {
  const cycle = (i) => {
    const id = `cycle-${i % 7}`;
    m._native_init_audio(id);
    m._setDataSource(id, i % 10 === 0 ? TONE : 'script:200;403;300');
    m._prepareAsync(id);
    m._start(id);
    m._release(id);
  };
  const base = await baseline(cycle);
  const created = trace.all().filter((l) => l.startsWith('kvmp_create #')).length;
  for (let i = 0; i < 1000; i++) cycle(i);
  await settled(base);
  const all = trace.all();
  assert.strictEqual(all.filter((l) => l.startsWith('kvmp_create #')).length, created + 1000);
  const last = createdSerial(all);
  await until(() => trace.all().includes(`free #${last}`), 'the last player freed');
});

test('1,000 setDataSourceFd and release cycles close every duplicate', async () => {
  const wav = path.join(tempDir(), 'tone.wav');
  writeWav(wav, 0.1);
  const fd = fs.openSync(wav, 'r');
  try {
    const cycle = (i) => {
      const id = `fd-${i % 3}`;
      m._native_init_audio(id);
      m._setDataSourceFd(id, String(fd));
      if (i % 100 === 0) m._prepareAsync(id);
      m._release(id);
    };
    const base = await baseline(cycle);
    for (let i = 0; i < 1000; i++) cycle(i);
    await settled(base);
    fs.fstatSync(fd);
  } finally {
    fs.closeSync(fd);
  }
});
