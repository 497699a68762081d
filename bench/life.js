'use strict';
// A player's life, one after another: made, given a "script:200" source, prepared (its PREPARED
// event taken), released; (a) through the raw module, a new id each time, (b) through the ArkTS
// package, (c) the floor: the same on the engine API alone (the floor addon's engineLife). The cost
// is the process's CPU time (all threads) per life, which a machine shared with other work moves
// far less than the wall time; each side runs WARM lives, then LIVES measured ones, in a fresh
// process per round, the order alternating; medians of ROUNDS rounds. Goals: raw <= 2 x the floor,
// package <= 3 x. `node life.js <side> marked` runs WARM lives of one side, then COUNTED ones
// between the bench addon's measuredPassStarts() and measuredPassEnds(), for
// bench/callgrind_counts.sh, and prints the lives run and the lives counted.
const path = require('node:path');
const common = require('./lib/common.js');

const ROUNDS = 5;
const WARM = 100;
const LIVES = 1000;
const COUNTED = 300;  // under callgrind
const SOURCE = 'script:200';

let rawPrepared = null;  // resolves the raw life waiting for its PREPARED event
let nextId = 0;

// n lives on side, one after another.
async function lives(side, n) {
  if (side === 'floor') {
    const prepared = common.addon('kavori_bench_floor').engineLife(n);
    if (prepared !== n) throw new Error(`the floor saw ${prepared} of ${n} players prepared`);
    return;
  }
  const release = common.keepAlive();
  if (side === 'package') {
    require(path.join(common.root, 'har', 'test', 'ets-require.js'));
    const kv = require(path.join(common.root, 'har', 'Index.ets'));
    for (let i = 0; i < n; i++) {
      const player = kv.createPlayer();
      player.setSource(SOURCE);
      await player.prepare();
      await player.release();
    }
  } else {
    const m = common.loadModule();
    m._setMessageListener('bench-life', (what) => {
      if (what === 1 && rawPrepared !== null) rawPrepared();
    });
    for (let i = 0; i < n; i++) {
      const id = `bench-life-${nextId++}`;
      const prepared = new Promise((resolve) => { rawPrepared = resolve; });
      m._native_setup_audio(id);
      m._setDataSource(id, SOURCE);
      m._prepareAsync(id);
      await prepared;
      rawPrepared = null;
      m._release(id);
    }
  }
  release();
}

// CPU nanoseconds per life on side, after the warm-up.
async function perLife(side) {
  await lives(side, WARM);
  const start = process.cpuUsage();
  await lives(side, LIVES);
  return common.cpuNs(start) / LIVES;
}

// The counted lives of side between the marks callgrind dumps the JS thread's counts at.
async function marked(side) {
  const bench = common.addon('kavori_bench_events');
  await lives(side, WARM);
  bench.measuredPassStarts();
  await lives(side, COUNTED);
  bench.measuredPassEnds();
  return `${WARM + COUNTED} ${COUNTED}`;
}

function main() {
  const rounds = common.interleaved(__filename, ['floor', 'raw', 'package'], ROUNDS);
  const med = (side) => common.median(rounds[side]);
  const over = (side) => common.median(rounds[side].map((v, r) => v / rounds.floor[r]));
  const us = (v) => `${(v / 1000).toFixed(1)} µs`.padStart(10);
  console.log(`\na player's life (create, ${SOURCE}, prepared, release), CPU per life, ` +
    `${LIVES} lives after ${WARM}, medians of ${ROUNDS} rounds`);
  console.log(`(a) raw module   ${us(med('raw'))}  over the floor ${over('raw').toFixed(2)}`);
  console.log(`(b) package      ${us(med('package'))}  over the floor ${over('package').toFixed(2)}`);
  console.log(`(c) engine alone ${us(med('floor'))}`);
  const [load] = require('node:os').loadavg();
  console.log(`(load average ${load.toFixed(2)})`);
  common.record('life', {
    floor: med('floor'), raw: med('raw'), package: med('package'),
    rawOver: over('raw'), packageOver: over('package'), load,
  });
}

if (require.main !== module) {
  module.exports = { lives };
} else if (process.argv[2]) {
  const side = process.argv[2];
  const run = process.argv[3] === 'marked' ? marked(side) : perLife(side).then(JSON.stringify);
  run.then((v) => console.log(v), (e) => { console.error(e); process.exit(1); });
} else {
  main();
}
