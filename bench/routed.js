'use strict';
// Events through the ArkTS package against the module's raw listener, over the same road: a
// script engine player posts EVENTS buffering updates, counted by (a) a bufferingUpdate callback
// of a package player (routed by serial, then dispatched by name), (b) a listener registered with
// _setMessageListener, (c) a bare routed listener (_setRoutedListener), which splits a / b into
// the module's part (c / b) and the package's own (a / c). Each side runs in a fresh process,
// since a listener once set stays;
// in it, a warm-up pass, then REPS passes from prepare to the last event. The last event hands the
// end to a later turn, so that the next pass's set-up does not count in the event's wake-up. The cost is the
// process's CPU time (all its threads) per event, which other processes' load on the machine
// leaves alone, unlike the wall time. Per-event cost a / b, median over ROUNDS rounds whose order
// alternates. Goal: a / b <= 1.15.
const { execFileSync } = require('node:child_process');
const { cpuNs, median } = require('./lib/common.js');

const ROUNDS = 7;
const REPS = 3;
const EVENTS = 500_000;
const script = (count) => `script:200;502,1,2*${count}`;

// CPU nanoseconds per event of one pass on side, in this process.
async function pass(side, count, round) {
  let n = 0;
  let finished = null;
  const done = new Promise((resolve) => { finished = resolve; });
  let start = null;
  if (side === 'package') {
    const kv = require('../har/Index.ets');
    const player = kv.createPlayer();
    player.on('bufferingUpdate', () => { if (++n === count) setImmediate(finished); });
    player.setSource(script(count));
    start = process.cpuUsage();
    await player.prepare();
    await done;
    const ns = cpuNs(start);
    await player.release();
    return ns / count;
  }
  const m = require('../test/js/loader.js').loadModule();
  const id = `bench-${side}-${round}`;
  const listener = (what) => { if (what === 3 && ++n === count) setImmediate(finished); };
  if (side === 'raw') m._setMessageListener(id, listener);
  else m._setRoutedListener((serial, what) => listener(what));
  m._native_setup_audio(id);
  if (side === 'routed') m._routeEvents(id);
  m._setDataSource(id, script(count));
  start = process.cpuUsage();
  m._prepareAsync(id);
  await done;
  const ns = cpuNs(start);
  m._release(id);
  return ns / count;
}

// k package players made at once, each given count / k events (none when count is 0), prepared
// together: their message threads post at once, the events interleaving as the threads are run.
// Gives the CPU nanoseconds per event (per player when count is 0).
async function passPlayers(k, count) {
  if (count % k !== 0) throw new Error(`${count} events do not share out among ${k} players`);
  require('../har/test/ets-require.js');
  const kv = require('../har/Index.ets');
  let n = 0;
  let finished = null;
  const done = new Promise((resolve) => { finished = resolve; });
  if (count === 0) finished();
  const players = Array.from({ length: k }, () => {
    const player = kv.createPlayer();
    player.on('bufferingUpdate', () => { if (++n === count) setImmediate(finished); });
    player.setSource(count === 0 ? 'script:200' : script(count / k));
    return player;
  });
  const start = process.cpuUsage();
  await Promise.all(players.map((p) => p.prepare()));
  await done;
  const ns = cpuNs(start);
  await Promise.all(players.map((p) => p.release()));
  return ns / (count || k);
}

// A warm-up pass, then REPS passes of events each; gives the median CPU time per event.
// beforeLastPass, when given, is called as the last pass is about to start.
async function measure(side, events = EVENTS, beforeLastPass = null) {
  if (side === 'package') require('../har/test/ets-require.js');
  const keep = setInterval(() => {}, 1000);  // the bridge's wake-up keeps no process alive
  await pass(side, events / 10, -1);
  const costs = [];
  for (let r = 0; r < REPS; r++) {
    if (r === REPS - 1 && beforeLastPass) beforeLastPass();
    costs.push(await pass(side, events, r));
  }
  clearInterval(keep);
  return median(costs);
}

function main() {
  const run = (side) => Number(execFileSync(process.execPath, [__filename, side],
    { encoding: 'utf8', env: process.env }));
  const rounds = [];
  for (let r = 0; r < ROUNDS; r++) {
    const order = r % 2 === 0 ? ['package', 'raw', 'routed'] : ['routed', 'raw', 'package'];
    const cost = {};
    for (const side of order) cost[side] = run(side);
    rounds.push(cost);
  }
  const ns = (v) => `${v.toFixed(0)} ns`.padStart(8);
  const ratio = median(rounds.map((c) => c.package / c.raw));
  const over = (x, y) => median(rounds.map((c) => c[x] / c[y])).toFixed(2).padStart(8);
  console.log(`\nevents through the ArkTS package vs the raw listener, ${EVENTS} events, ` +
    `medians of ${ROUNDS} rounds`);
  console.log(`(a) package player, routed by serial, CPU  ${ns(median(rounds.map((c) => c.package)))} per event`);
  console.log(`(b) raw listener, CPU                      ${ns(median(rounds.map((c) => c.raw)))} per event`);
  console.log(`(c) bare routed listener, CPU              ${ns(median(rounds.map((c) => c.routed)))} per event`);
  console.log(`a / b ${ratio.toFixed(2).padStart(8)};  c / b (module) ${over('routed', 'raw')};  ` +
    `a / c (package) ${over('package', 'routed')}`);
  console.log(`${ratio <= 1.15 ? 'met   ' : 'MISSED'} package per-event cost <= 1.15 x the raw listener's`);
}

if (require.main !== module) {
  module.exports = { measure, pass, passPlayers, REPS };  // bench/callgrind/events.js and bench/warmup.js
} else if (process.argv[2]) {
  measure(process.argv[2]).then(console.log, (e) => { console.error(e); process.exit(1); });
} else {
  main();
}
