'use strict';
// Recording methods of the export table: _startRecord, _isRecord and the promise of _stopRecord.
const util = require('node:util');
const test = require('./limited_test.js');
const assert = require('node:assert/strict');

const { engineTrace, since } = require('./logfile.js');

const trace = engineTrace().path;
const { loadModule, loadHost } = require('./loader.js');
const { createdSerial } = require('./proxy_helpers.js');
const m = loadModule();
const h = loadHost();
const api = h.exportTo({}, 'rec');

// Creates the id's engine player; gives its trace serial.
function player(id) {
  const tr = since(trace);
  m._native_init_audio(id);
  const serial = createdSerial(tr());
  assert.ok(serial > 0, `no player for ${id}`);
  return serial;
}

test('without a player every method answers 0 as a JS number', async () => {
  assert.equal(api._startRecord('none', 3), 0);
  assert.equal(api._isRecord('none'), 0);
  const promise = api._stopRecord('none');
  assert.match(util.inspect(promise), /<pending>/);
  assert.equal(await promise, 0);
});

test('_startRecord hands its number to the engine, 0 when it is missing or not a number', () => {
  const n = player('start');
  const cases = [
    [[3], '3'],
    [[-7], '-7'],
    [[4.9], '4'],
    [[], '0'],
    [['5'], '0'],
    [[null], '0'],
  ];
  for (const [extra, handed] of cases) {
    const tr = since(trace);
    assert.equal(api._startRecord('start', ...extra), 0);
    assert.ok(tr().includes(`kvmp_start_record #${n} ${handed}`), `${extra} -> ${handed}`);
  }
  m._release('start');
});

test('_isRecord and _stopRecord answer with the engine results', async () => {
  player('state');
  assert.equal(api._isRecord('state'), 0);
  api._startRecord('state', 1);
  const answer = api._isRecord('state');
  assert.equal(typeof answer, 'number');
  assert.equal(answer, 1);

  const stopped = api._stopRecord('state');
  assert.match(util.inspect(stopped), /<pending>/);
  assert.equal(await stopped, 0);
  assert.equal(api._isRecord('state'), 0);
  const again = await api._stopRecord('state');
  assert.equal(typeof again, 'number');
  assert.ok(again < 0, `stopping twice gave ${again}`);
  m._release('state');
});

test('two stops in a row each resolve with their own result', async () => {
  player('twice');
  api._startRecord('twice', 1);
  const results = await Promise.all([api._stopRecord('twice'), api._stopRecord('twice')]);
  // The worker pool may run them in either order: one stops the recording, one finds none.
  assert.deepEqual(results.map((r) => r === 0).sort(), [false, true]);
  assert.ok(results.every((r) => r <= 0));
  m._release('twice');
});

test('an empty id acts on the component the call was made on', () => {
  const n = player('xrec');
  const holder = h.createXComponent('xrec');
  const tr = since(trace);
  assert.equal(api._startRecord.call(holder, '', 6), 0);
  assert.equal(api._isRecord.call(holder, ''), 1);
  assert.ok(tr().includes(`kvmp_start_record #${n} 6`));
  m._release('xrec');
});

test('_stopRecord with a missing, wrong-typed or long id resolves with a number', async () => {
  const inputs = [[], [42], [{}], [''], ['x'.repeat(5000)]];
  for (const args of inputs) {
    assert.equal(typeof (await api._stopRecord(...args)), 'number');
  }
});

test('many stops from several ids while players come and go all settle', async () => {
  const ids = ['c0', 'c1', 'c2', 'c3'];
  const pending = [];
  for (let round = 0; round < 25; ++round) {
    for (const id of ids) {
      m._native_init_audio(id);
      api._startRecord(id, round);
      for (let k = 0; k < 4; ++k) pending.push(api._stopRecord(id));
      if ((round + ids.indexOf(id)) % 2 === 0) m._release(id);
      pending.push(api._stopRecord(id));
    }
  }
  const results = await Promise.allSettled(pending);
  assert.equal(results.length, 25 * ids.length * 5);
  for (const r of results) {
    assert.equal(r.status, 'fulfilled');
    assert.equal(typeof r.value, 'number');
  }
  for (const id of ids) m._release(id);
});
