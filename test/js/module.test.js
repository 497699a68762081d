'use strict';
// The JS surface: class, method tables, instance registry, the id rule and argument reading.
const test = require('./limited_test.js');
const assert = require('node:assert');
const { hilog } = require('./logfile.js');

const log = hilog();
const { loadModule, loadHost } = require('./loader.js');

// The first construction decides whether the surface callback table gets filled; keep it empty.
const m = loadModule();
new m.newKavoriPlayerAudio('first', false);
const host = loadHost();
m._nativeOpenlog('first');

const COMMON = [
  '_setDataSource', '_setDataSourceFd', '_setDecryptTokenForHLS', '_setOption', '_setOptionLong',
  '_prepareAsync', '_start', '_stop', '_pause', '_reset', '_release', '_seekTo', '_isPlaying',
  '_setMessageListener', '_getDuration', '_getCurrentPosition', '_setPropertyFloat',
  '_getPropertyFloat', '_setPropertyLong', '_getPropertyLong', '_getAudioSessionId', '_setVolume',
  '_setLoopCount', '_getLoopCount', '_getVideoCodecInfo', '_getAudioCodecInfo',
  '_setStreamSelected', '_getMediaMeta', '_nativeOpenlog',
];
const MODULE_TABLE = [...COMMON, '_native_init', '_native_init_audio', '_native_setup', '_native_setup_audio'];
const ROUTING = ['_setRoutedListener', '_routeEvents', '_routeOwner', '_routeCount', '_claimId'];
const EXPORT_TABLE = [...COMMON, '_native_init', '_native_setup', '_startRecord', '_stopRecord',
  '_isRecord', '_addExtSubtitleUrl'];

// Message threads log on their own time; the JS thread's lines are what these tests read.
const jsLines = (lines) => lines.filter((l) => !l.includes('napi_proxy-->message_loop'));
const createLines = (lines) => lines.filter((l) => l.endsWith('getInstance create object'));

function assertMethods(object, names) {
  for (const name of names) {
    const d = Object.getOwnPropertyDescriptor(object, name);
    assert.strictEqual(typeof d.value, 'function', name);
    assert.deepStrictEqual([d.enumerable, d.writable, d.configurable], [false, false, false], name);
  }
}

test('while every instance was built with isVideo false, no surface callback is registered', () => {
  const xc = host.createXComponent('never-video');
  host.attach('first', xc);
  assert.strictEqual(host.surfaceCreated(xc, 1), false);
});

test('the class and the module method table, on the prototype and on exports', () => {
  const cls = m.newKavoriPlayerAudio;
  assert.strictEqual(typeof cls, 'function');
  assert.strictEqual(cls.name, 'KavoriCloudPlayerNapi');
  assert.deepStrictEqual(Object.getOwnPropertyNames(cls.prototype), [...MODULE_TABLE, 'constructor']);
  // The routing extension follows the table, as hidden as the table's methods.
  assert.deepStrictEqual(Object.getOwnPropertyNames(m),
    ['newKavoriPlayerAudio', ...MODULE_TABLE, ...ROUTING]);
  assert.deepStrictEqual(Object.keys(m), ['newKavoriPlayerAudio']);
  assertMethods(cls.prototype, MODULE_TABLE);
  assertMethods(m, [...MODULE_TABLE, ...ROUTING]);
  for (const absent of ['_startRecord', '_stopRecord', '_isRecord', '_addExtSubtitleUrl']) {
    assert.strictEqual(m[absent], undefined, absent);
    assert.strictEqual(cls.prototype[absent], undefined, absent);
  }
});

test('the export method table, defined on a host object', () => {
  const target = { kept: 1 };
  assert.strictEqual(host.exportTo(target, 'first'), target);
  assert.deepStrictEqual(Object.getOwnPropertyNames(target), ['kept', ...EXPORT_TABLE]);
  assertMethods(target, EXPORT_TABLE);
  assert.strictEqual(target._native_init_audio, undefined);
  assert.strictEqual(target._native_setup_audio, undefined);
});

test('Export on an object that takes no properties throws the platform\'s own message', () => {
  // A frozen object refuses the definitions; the error carries Node-API's text and no code.
  for (const target of [Object.freeze({}), Object.preventExtensions({ a: 1 })]) {
    assert.throws(() => host.exportTo(target, 'first'), (e) => {
      assert.ok(e instanceof Error);
      assert.strictEqual(e.code, undefined);
      assert.ok(e.message.length > 0 && e.message !== 'empty error message', e.message);
      return true;
    });
  }
});

test('one instance per id, whichever road reaches it first', () => {
  log.take();
  const a = new m.newKavoriPlayerAudio('reg-a', false);
  new m.newKavoriPlayerAudio('reg-a', true);
  m._start('reg-a');
  a._start('reg-a');
  m._getDuration('reg-b');
  m._getDuration('reg-b');
  assert.strictEqual(createLines(log.take()).length, 2);
  assert.ok(a instanceof m.newKavoriPlayerAudio);
});

test('construction without arguments is the empty id and isVideo false', () => {
  log.take();
  new m.newKavoriPlayerAudio();
  new m.newKavoriPlayerAudio('', 'true');
  assert.deepStrictEqual(jsLines(log.take()).slice(0, 2), [
    'I A00000/KavoriPlayer: napi-->JsConstructor',
    'I A00000/KavoriPlayer: napi-->KavoriCloudPlayerNapi::getInstance create object',
  ]);
});

test('id rule: the argument, else the XComponent of this', () => {
  const xc = host.createXComponent('comp-1');
  log.take();
  m._start.call(xc, '');
  m._start.call(xc);
  assert.deepStrictEqual(log.take().filter((l) => l.includes('napi-->')), [
    'I A00000/KavoriPlayer: napi-->start',
    'I A00000/KavoriPlayer: napi-->KavoriCloudPlayerNapi::getInstance_()->getXComponentId',
    'I A00000/KavoriPlayer: napi-->KavoriCloudPlayerNapi::getInstance_()->getXComponentId id:comp-1',
    'I A00000/KavoriPlayer: napi-->KavoriCloudPlayerNapi::getInstance create object',
    'I A00000/KavoriPlayer: napi-->start',
    'I A00000/KavoriPlayer: napi-->KavoriCloudPlayerNapi::getInstance_()->getXComponentId',
    'I A00000/KavoriPlayer: napi-->KavoriCloudPlayerNapi::getInstance_()->getXComponentId id:comp-1',
  ]);
  m._start.call(xc, 'explicit-id');
  assert.ok(!log.take().some((l) => l.includes('getXComponentId')));
});

test('id rule: without an XComponent the empty id is used and saved by _native_init', () => {
  log.take();
  m._native_init.call({}, 0);
  assert.deepStrictEqual(jsLines(log.take()).slice(0, 5), [
    'I A00000/KavoriPlayer: napi-->native_init',
    'I A00000/KavoriPlayer: napi-->KavoriCloudPlayerNapi::getInstance_()->getXComponentId',
    'E A00000/KavoriPlayer: napi-->getXComponentId napi_get_named_property failed!',
    'I A00000/KavoriPlayer: napi-->native_init id->',
    'I A00000/KavoriPlayer: napi-->KavoriCloudPlayerNapi::getXComponent',
  ]);
  // A wrapped object that is not a component, and a plain value in its place, fail the same way.
  m._start.call({ __NATIVE_XCOMPONENT_OBJ__: 5 }, '');
  assert.ok(log.take().includes('E A00000/KavoriPlayer: napi-->getXComponentId napi_get_named_property failed!'));
});

test('id rule: a read of the XComponent that throws fails like any other, in both tables',
  async () => {
  const target = host.exportTo({}, 'first');
  const failed = 'E A00000/KavoriPlayer: napi-->getXComponentId napi_get_named_property failed!';
  let reads = 0;
  const throwing = [
    ['getter', { get __NATIVE_XCOMPONENT_OBJ__() { reads++; throw new Error('getter'); } }],
    ['Proxy', new Proxy({}, { get() { reads++; throw new Error('trap'); } })],
  ];
  const endPlayer = () => m._release.call({}, '');  // of the empty id, when a method made one
  // What the method does on `self` with an empty id; each run starts without an engine player.
  const run = async (fn, self) => {
    endPlayer();
    log.take();
    const result = await fn.call(self, '');
    return { result, lines: jsLines(log.take()) };
  };
  for (const [object, names] of [[m, MODULE_TABLE], [target, EXPORT_TABLE]]) {
    for (const name of names) {
      const plain = await run(object[name], {});
      assert.strictEqual(plain.lines.filter((l) => l === failed).length, 1, name);
      for (const [kind, self] of throwing) {
        const before = reads;
        assert.deepStrictEqual(await run(object[name], self), plain, `${name}, ${kind}`);
        assert.strictEqual(reads, before + 1, `${name}, ${kind}`);
      }
    }
  }
  endPlayer();
});

test('id rule: the saved id serves empty ids while a surface is destroyed', () => {
  new m.newKavoriPlayerAudio('video-id', true);  // fills the surface callback table
  const xc = host.createXComponent('abc');
  const other = host.createXComponent('other');
  host.attach('abc', xc);
  assert.strictEqual(host.surfaceCreated(xc, 7, 640, 480), true);
  m._native_init('abc');
  m._native_setup_audio('kept');  // does not save its id
  assert.strictEqual(host.surfaceDestroyed(xc, 7), true);
  log.take();
  m._start.call(other, '');
  assert.deepStrictEqual(jsLines(log.take()), [
    'I A00000/KavoriPlayer: napi-->start',
    'I A00000/KavoriPlayer: napi-->KavoriCloudPlayerNapi::getInstance_()->getXComponentId',
    'E A00000/KavoriPlayer: napi_proxy-->KavoriCloudMediaPlayer_start mp NULL',
  ]);
  // A new surface clears the flag: the XComponent of this counts again.
  host.surfaceCreated(xc, 8);
  log.take();
  m._start.call(other, '');
  assert.ok(log.take().includes(
    'I A00000/KavoriPlayer: napi-->KavoriCloudPlayerNapi::getInstance_()->getXComponentId id:other'));
});

test('arguments are read as texts: other types, missing ones, long and embedded NUL', () => {
  const cases = [
    [() => m._seekTo('conv', '5000'), 'napi-->seekTo-->msec:5000'],
    [() => m._seekTo('conv', 5000), 'napi-->seekTo-->msec:0'],
    [() => m._seekTo('conv', ' -7x'), 'napi-->seekTo-->msec:-7'],
    [() => m._setOption('conv'), 'napi-->setOption-->category:0,key:,value:'],
    [() => m._setOption('conv', '4', 'k', 'v', 'ignored'), 'napi-->setOption-->category:4,key:k,value:v'],
    [() => m._setOption('conv', 4, true, {}), 'napi-->setOption-->category:0,key:,value:'],
    [() => m._setOptionLong('conv', '1', 'k', '99999999999'), 'napi-->setOptionLong-->category:1,key:k,value:99999999999'],
    [() => m._setVolume('conv', 0.5, '1'), 'napi-->setVolume-->leftVolume:,rightVolume:1'],
    [() => m._setDataSource('conv', 'a\0b'), 'napi-->setDataSource-->url:a'],
    [() => m._setDataSource('conv', 'x'.repeat(3000)), `napi-->setDataSource-->url:${'x'.repeat(2047)}`],
    [() => m._setDataSource('conv', 'héllo wörld'), 'napi-->setDataSource-->url:héllo wörld'],
  ];
  for (const [call, line] of cases) {
    log.take();
    call();
    assert.ok(log.take().includes(`I A00000/KavoriPlayer: ${line}`), line);
  }
  log.take();
  m._native_init_audio('y'.repeat(3000));
  assert.ok(log.take().includes(`I A00000/KavoriPlayer: napi-->native_init_audio id->${'y'.repeat(2047)}`));
  // The id ends at its NUL too: no second instance for what follows it.
  m._getDuration('conv\0tail');
  assert.deepStrictEqual(createLines(log.take()), []);
});

test('id-only methods reach the player of the id they read, whichever id came before', () => {
  // Ids a word long and one byte off it, prefixes of each other, and two words long with a tail.
  const ids = ['idword08', 'idword09', 'idword0', 'idword08x', 'idword08idword08',
    'idword08idword08y', 'idword08idword08z', 'w'.repeat(2047)];
  ids.forEach((id, i) => {
    m._native_init_audio(id);
    m._setLoopCount(id, String(i + 2));
  });
  const count = (id) => ids.indexOf(id) + 2;
  for (const a of ids) {
    for (const b of ids) {
      assert.deepStrictEqual([m._getLoopCount(a), m._getLoopCount(b)], [count(a), count(b)], `${a} ${b}`);
    }
  }
  // Read as texts: cut at a NUL and at 2047 bytes.
  m._getLoopCount('idword08x');
  assert.strictEqual(m._getLoopCount('idword08\0x'), count('idword08'));
  assert.strictEqual(m._getLoopCount('w'.repeat(3000)), count('w'.repeat(2047)));
  for (const id of ids) m._release(id);
});

test('results keep their JS types without an engine player', async () => {
  const target = host.exportTo({}, 'first');
  const id = 'types-id';
  assert.strictEqual(m._getDuration(id), 0);
  assert.strictEqual(m._getCurrentPosition(id), 0);
  assert.strictEqual(m._isPlaying(id), false);
  assert.strictEqual(m._getPropertyFloat(id, '1', '2.5'), '0.000000');
  assert.strictEqual(m._getPropertyLong(id, '1', '7'), '0');
  assert.strictEqual(m._getVideoCodecInfo(id), '');
  assert.strictEqual(m._getMediaMeta(id), '');
  assert.strictEqual(m._start(id), undefined);
  assert.strictEqual(target._isRecord(id), 0);
  assert.strictEqual(target._startRecord(id, 3), 0);
  assert.strictEqual(await target._stopRecord(id), 0);
});

test('no method throws for bad input of any JS type', async () => {
  const target = host.exportTo({}, 'first');
  const values = [undefined, null, 0, -1, 1.5, NaN, Infinity, true, false, {}, [], Symbol('s'), 10n,
    () => 1, new Proxy({}, { get() { throw new Error('trap'); } }), 'z'.repeat(5000), '\0', ''];
  const names = [...new Set([...MODULE_TABLE, ...EXPORT_TABLE])]
    .filter((n) => !['_nativeOpenlog', '_setMessageListener'].includes(n));
  const pending = [];
  for (const name of names) {
    const fn = m[name] || target[name];
    for (const v of values) {
      for (const args of [[v], ['bad-input', v], ['bad-input', v, v, v], [v, v, v, v, v]]) {
        const r = fn.apply(undefined, args);
        if (r instanceof Promise) pending.push(r);
      }
    }
  }
  const settled = await Promise.allSettled(pending);
  assert.ok(settled.every((s) => s.status === 'fulfilled'));
  // Odd receivers: the XComponent lookup of an empty id must survive them too.
  for (const self of [undefined, null, 5, 'str', {}, { __NATIVE_XCOMPONENT_OBJ__: {} }, () => 1]) {
    assert.doesNotThrow(() => m._getDuration.call(self, ''));
  }
});
