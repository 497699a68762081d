'use strict';
// The benches' floors do the work of what they are weighed against: a floor doing less would show
// every ratio over it worse than it is, one doing more better, and no bench would fail either way.
const test = require('./limited_test.js');
const assert = require('node:assert');
const { addon, deliverGroup } = require('../../bench/lib/common.js');
const { until } = require('./proxy_helpers.js');

const bench = addon('kavori_bench_events');

// A listener that keeps each call's receiver and arguments; strict, so a missing receiver shows.
function recorder() {
  const calls = [];
  return { calls, listener(...args) { calls.push([this, ...args]); } };
}

test('event floors call the listener as the bridge does: same events, order, arguments, receiver',
  async () => {
  // Around one group of 64: one short of it, exactly it, one over, and several.
  for (const n of [1, 63, 64, 65, 200]) {
    const bridge = recorder();
    bench._setMessageListener('floors', bridge.listener);
    bench.produceBridge(1, n, 0);
    await until(() => bridge.calls.length >= n);
    bench.join();
    const expected = Array.from({ length: n }, (_, i) => [undefined, 3, i, 0]);
    assert.deepStrictEqual(bridge.calls, expected, `bridge, ${n} events`);
    const direct = recorder();
    bench.floor(direct.listener, n);
    assert.deepStrictEqual(direct.calls, expected, `direct-call floor, ${n} events`);
    const group = recorder();
    bench.groupFloor(deliverGroup, group.listener, n);
    assert.deepStrictEqual(group.calls, expected, `group floor, ${n} events`);
  }
  bench._setMessageListener('floors', null);
});

test('the engine floor takes every player of its lives to prepared', () => {
  const floor = addon('kavori_bench_floor');
  for (const n of [1, 3]) assert.strictEqual(floor.engineLife(n), n, `${n} lives`);
});
