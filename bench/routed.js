'use strict';
// Events through the ArkTS package against the module's raw listener, over the same road: a
// script engine player posts EVENTS buffering updates, counted by (a) a bufferingUpdate callback
// of a package player (routed by serial, then dispatched by name), (b) a listener registered with
// _setMessageListener. Each side runs in a fresh process, since a raw listener once set stays;
// in it, a warm-up pass, then REPS timed passes from prepare to the last event. Per-event cost
// a / b, median over ROUNDS rounds whose order alternates. Goal: a / b <= 1.15.
const { execFileSync } = require('node:child_process');

const ROUNDS = 7;
const REPS = 3;
const EVENTS = 500_000;
const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];
const script = (count) => `script:200;502,1,2*${count}`;

// Nanoseconds per event of one pass on side, in this process.
async function pass(side, count, round) {
  let n = 0;
  let finished = null;
  const done = new Promise((resolve) => { finished = resolve; });
  let start = 0n;
  if (side === 'package') {
    const kv = require('../har/Index.ets');
    const player = kv.createPlayer();
    player.on('bufferingUpdate', () => { if (++n === count) finished(); });
    player.setSource(script(count));
    start = process.hrtime.bigint();
    await player.prepare();
    await done;
    const ns = Number(process.hrtime.bigint() - start);
    await player.release();
    return ns / count;
  }
  const m = require('../test/js/loader.js').loadModule();
  const id = `bench-raw-${round}`;
  m._setMessageListener(id, (what) => { if (what === 3 && ++n === count) finished(); });
  m._native_setup_audio(id);
  m._setDataSource(id, script(count));
  start = process.hrtime.bigint();
  m._prepareAsync(id);
  await done;
  const ns = Number(process.hrtime.bigint() - start);
  m._release(id);
  return ns / count;
}

async function measure(side) {
  if (side === 'package') require('../har/test/ets-require.js');
  const keep = setInterval(() => {}, 1000);  // the bridge's wake-up keeps no process alive
  await pass(side, EVENTS / 10, -1);
  const costs = [];
  for (let r = 0; r < REPS; r++) costs.push(await pass(side, EVENTS, r));
  clearInterval(keep);
  console.log(median(costs));
}

function main() {
  const run = (side) => Number(execFileSync(process.execPath, [__filename, side],
    { encoding: 'utf8', env: process.env }));
  const rounds = [];
  for (let r = 0; r < ROUNDS; r++) {
    const order = r % 2 === 0 ? ['package', 'raw'] : ['raw', 'package'];
    const cost = {};
    for (const side of order) cost[side] = run(side);
    rounds.push(cost);
  }
  const ns = (v) => `${v.toFixed(0)} ns`.padStart(8);
  const ratio = median(rounds.map((c) => c.package / c.raw));
  console.log(`\nevents through the ArkTS package vs the raw listener, ${EVENTS} events, ` +
    `medians of ${ROUNDS} rounds`);
  console.log(`(a) package player, routed by serial        ${ns(median(rounds.map((c) => c.package)))} per event`);
  console.log(`(b) raw listener                            ${ns(median(rounds.map((c) => c.raw)))} per event`);
  console.log(`a / b                                       ${ratio.toFixed(2).padStart(8)}`);
  console.log(`${ratio <= 1.15 ? 'met   ' : 'MISSED'} package per-event cost <= 1.15 x the raw listener's`);
}

if (process.argv[2]) {
  measure(process.argv[2]).catch((e) => { console.error(e); process.exit(1); });
} else {
  main();
}
