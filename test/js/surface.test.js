'use strict';
// XComponent surface binding, driven through the test host as the platform's UI thread would.
// The tests share one process and run in order: the first needs a callback table no instance
// has filled yet.
const test = require('./limited_test.js');
const assert = require('node:assert/strict');

const logfile = require('./logfile.js');

const hilog = logfile.hilog().path;
const trace = logfile.engineTrace().path;
const { since } = logfile;
const { loadModule, loadHost } = require('./loader.js');
const { createdSerial, until } = require('./proxy_helpers.js');
const m = loadModule();
const h = loadHost();

// The JS thread's own lines: message threads of earlier players log on their own time.
const texts = (lines) => lines.map((l) => l.replace(/^. A[0-9A-F]{5}\/KavoriPlayer: /, ''));
const messages = (lines) =>
  texts(lines).filter((l) => l.startsWith('napi-->') || l.startsWith('KavoriCloudPlayerNapi::'));

// The window and component a fresh _native_init of id hands the engine; the player is released.
function handlesOfNextInit(id) {
  const tr = since(trace);
  m._native_init(id);
  const n = createdSerial(tr());
  const pick = (name) => tr().find((l) => l.startsWith(`${name} #${n} `)).split(' ')[2];
  const handles = { window: pick('kvmp_set_surface'), component: pick('kvmp_set_weak_thiz') };
  m._release(id);
  return handles;
}

test('no callback runs while every instance was built without video', () => {
  new m.newKavoriPlayerAudio('audio-only', false);
  m._nativeOpenlog('x');
  const logs = since(hilog);
  const xc = h.createXComponent('audio-only');
  h.attach('audio-only', xc);
  assert.equal(h.surfaceCreated(xc, 0x10, 1, 1), false);
  assert.equal(h.touch(xc, 0x10), false);
  assert.ok(!messages(logs()).includes('KavoriCloudPlayerNapi::getNXComponentCallback'));

  // The table is one static record: once a video instance fills it, components registered
  // earlier see the callbacks too.
  new m.newKavoriPlayerAudio('video', true);
  assert.equal(h.surfaceChanged(xc, 0x10), true);
});

test('a surface created for an unused id creates its instance and records the handles', () => {
  const xc = h.createXComponent('fresh');
  h.attach('anchor', xc);
  const logs = since(hilog);
  assert.equal(h.surfaceCreated(xc, 0xa1, 320, 240), true);
  assert.deepEqual(messages(logs()), [
    'napi-->OnSurfaceCreatedCB',
    'napi-->OnSurfaceCreatedCB-->success',
    'napi-->KavoriCloudPlayerNapi::getInstance create object',
    'KavoriCloudPlayerNapi::getNXComponentCallback',
    'napi-->OnSurfaceCreated',
    'napi-->OnSurfaceCreated-->success',
    'napi-->KavoriCloudPlayerNapi::SetXComponentAndNativeWindow',
  ]);
  const handles = handlesOfNextInit('fresh');
  assert.equal(handles.window, '0xa1');
  assert.notEqual(handles.component, 'null');
});

test('a surface without a readable size is still recorded', () => {
  const xc = h.createXComponent('no-size');
  h.attach('no-size', xc);
  const logs = since(hilog);
  assert.equal(h.surfaceCreated(xc, 0), true);
  const lines = messages(logs());
  assert.ok(lines.includes('napi-->OnSurfaceCreated'));
  assert.ok(!lines.includes('napi-->OnSurfaceCreated-->success'));
  const handles = handlesOfNextInit('no-size');
  assert.equal(handles.window, 'null');
  assert.notEqual(handles.component, 'null');
});

test('the same handles keep the records, a new window replaces them, a change touches nothing', () => {
  const xc = h.createXComponent('win');
  h.attach('win', xc);
  h.surfaceCreated(xc, 0xb1, 100, 100);
  const component = handlesOfNextInit('win').component;
  h.surfaceCreated(xc, 0xb1, 100, 100);
  assert.deepEqual(handlesOfNextInit('win'), { window: '0xb1', component });

  h.surfaceCreated(xc, 0xb2, 200, 200);
  assert.deepEqual(handlesOfNextInit('win'), { window: '0xb2', component });

  const logs = since(hilog);
  assert.equal(h.surfaceChanged(xc, 0xb3), true);
  assert.deepEqual(messages(logs()), ['napi-->OnSurfaceChangedCB', 'napi-->OnSurfaceChanged']);
  assert.deepEqual(handlesOfNextInit('win'), { window: '0xb2', component });
});

test('a destroyed surface ends the player and its handles; empty ids go to the saved id',
  async () => {
  const xc = h.createXComponent('gone');
  const other = h.createXComponent('other');
  h.attach('gone', xc);
  h.surfaceCreated(xc, 0xc1, 64, 64);
  const tr = since(trace);
  m._native_init('gone');
  const n = createdSerial(tr());

  let logs = since(hilog);
  assert.equal(h.surfaceDestroyed(xc, 0xc1), true);
  await until(() => tr().includes(`free #${n}`), `free #${n}`);
  assert.ok(tr().includes(`kvmp_shutdown #${n}`));
  assert.deepEqual(messages(logs()), ['napi-->OnSurfaceDestroyedCB', 'napi-->OnSurfaceDestroyed']);

  // Called on an object carrying another component: the saved id wins.
  logs = since(hilog);
  assert.equal(m._getDuration.call(other, ''), 0);
  let lines = texts(logs());
  assert.ok(lines.includes('napi_proxy-->KavoriCloudMediaPlayer_getDuration mp NULL'));
  assert.ok(!lines.includes('napi-->KavoriCloudPlayerNapi::getInstance create object'));
  assert.ok(!lines.some((l) => l.includes('getXComponentId id:')));

  logs = since(hilog);
  assert.deepEqual(handlesOfNextInit('gone'), { window: 'null', component: 'null' });
  lines = messages(logs());
  assert.ok(lines.includes('napi-->KavoriCloudPlayerNapi::getXComponent null'));
  assert.ok(lines.includes('napi-->KavoriCloudPlayerNapi::getNativeWindow null'));

  // A new surface ends the saved id's rule: the component of this wins again.
  h.surfaceCreated(xc, 0xc2, 64, 64);
  logs = since(hilog);
  m._getDuration.call(other, '');
  assert.ok(messages(logs()).includes('napi-->KavoriCloudPlayerNapi::getInstance_()->getXComponentId id:other'));
  assert.equal(handlesOfNextInit('gone').window, '0xc2');
});

test('destroying a surface whose id has no player logs no failure', () => {
  const xc = h.createXComponent('idle');
  h.attach('idle', xc);
  h.surfaceCreated(xc, 0xe1, 8, 8);
  const logs = since(hilog);
  const tr = since(trace);
  assert.equal(h.surfaceDestroyed(xc, 0xe1), true);
  assert.deepEqual(messages(logs()), ['napi-->OnSurfaceDestroyedCB', 'napi-->OnSurfaceDestroyed']);
  assert.ok(!tr().some((l) => l.startsWith('kvmp_shutdown')));
  h.surfaceCreated(xc, 0xe1, 8, 8);
});

test('a touch event is read and stored when the platform gives one', () => {
  const xc = h.createXComponent('touchy');
  h.attach('touchy', xc);
  let logs = since(hilog);
  assert.equal(h.touch(xc, 0xd1, 5, 7), true);
  assert.deepEqual(messages(logs()), [
    'napi-->DispatchTouchEventCB',
    'napi-->DispatchTouchEvent',
    'napi-->DispatchTouchEvent-->success',
  ]);
  logs = since(hilog);
  assert.equal(h.touch(xc, 0), true);
  assert.deepEqual(messages(logs()), ['napi-->DispatchTouchEventCB', 'napi-->DispatchTouchEvent']);
});
