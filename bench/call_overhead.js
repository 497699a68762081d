'use strict';
// JS call overhead of the module: _getCurrentPosition on a playing player against three bare
// Node-API functions measured in the same rounds, interleaved: one that reads one string and
// returns an int (the floor), one that reads the id the same way and makes the same engine
// position query on the same player (the floor with the query), and one that also takes and drops
// an engine reference around the query, as every operation of the module must (the floor of a
// binding). Those floors need the module's engine player, which the module keeps hidden, so the
// floor addon carries a copy of the module built the same way: its _getCurrentPosition ("copy")
// shares their player. Prints ops/s and the ratios, medians of the rounds; with KAVORI_BENCH_JSON
// set, one JSON line of the medians instead (bench/ab_registry_read.sh reads it).
// KAVORI_BENCH_ROUNDS and KAVORI_BENCH_CALLS change the rounds and the calls per subject and round.
const path = require('node:path');
const { loadModule, buildDir, root } = require('../test/js/loader.js');

const ROUNDS = Number(process.env.KAVORI_BENCH_ROUNDS || 7);
const CALLS = Number(process.env.KAVORI_BENCH_CALLS || 2_000_000);

const m = loadModule();
const floorAddon = { exports: {} };
process.dlopen(floorAddon, path.join(buildDir, 'kavori_bench_floor.node'));
const copy = floorAddon.exports;
const { floor, position, positionRef, bindPlayer } = copy;

const id = 'bench';
for (const mod of [m, copy]) {
  mod._native_init_audio(id);
  mod._setDataSource(id, path.join(root, 'examples', 'media', 'tone.m4a'));
  mod._setLoopCount(id, '0');  // loop for as long as the run takes
  mod._prepareAsync(id);
}

function opsPerSecond(fn) {
  let sink = 0;
  const start = process.hrtime.bigint();
  for (let i = 0; i < CALLS; i++) sink += fn(id);
  const ns = Number(process.hrtime.bigint() - start);
  if (sink === -1) console.log('');  // keeps the calls from being optimised away
  return CALLS / (ns / 1e9);
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

async function main() {
  const deadline = Date.now() + 5000;
  while (m._getDuration(id) <= 0 || copy._getDuration(id) <= 0) {
    if (Date.now() > deadline) throw new Error('the player did not prepare');
    await new Promise((r) => setTimeout(r, 10));
  }
  m._start(id);
  copy._start(id);
  if (!bindPlayer(id)) throw new Error('no engine player to bind');
  const subjects = {
    floor, position, positionRef, copy: copy._getCurrentPosition, module: m._getCurrentPosition,
  };
  for (const fn of Object.values(subjects)) opsPerSecond(fn);  // warm-up
  const rounds = [];
  for (let r = 0; r < ROUNDS; r++) {
    const round = {};
    // A different order each round, so no subject always runs first or last.
    const names = Object.keys(subjects);
    for (let k = 0; k < r % names.length; k++) names.push(names.shift());
    for (const name of names) round[name] = opsPerSecond(subjects[name]);
    rounds.push(round);
  }
  if (!m._isPlaying(id) || !copy._isPlaying(id)) throw new Error('a player stopped during the run');
  bindPlayer(null);
  m._release(id);
  copy._release(id);
  const med = (key) => median(rounds.map((r) => r[key]));
  const ratio = (over, subject = 'module') => median(rounds.map((r) => r[over] / r[subject]));
  const fmt = (v) => `${(v / 1e6).toFixed(2)} M ops/s`;
  if (process.env.KAVORI_BENCH_JSON) {
    const medians = Object.fromEntries(Object.keys(subjects).map((k) => [k, med(k)]));
    console.log(JSON.stringify({ medians, moduleOverRef: ratio('positionRef') }));
    return;
  }
  console.log(`call_overhead, medians of ${ROUNDS} rounds: floor ${fmt(med('floor'))}, ` +
    `with the engine query ${fmt(med('position'))},`);
  console.log(`  with the query and a reference ${fmt(med('positionRef'))}, ` +
    `_getCurrentPosition ${fmt(med('module'))} (copy ${fmt(med('copy'))})`);
  const checks = [
    ['_getCurrentPosition <= 1.5 x the floor', ratio('floor'), 1.5],
    ['_getCurrentPosition over the floor with the engine query', ratio('position')],
    ['_getCurrentPosition <= 1.15 x the floor with the query and a reference',
      ratio('positionRef'), 1.15],
    ['_getCurrentPosition (copy) <= 1.15 x the floor with the query and a reference',
      ratio('positionRef', 'copy'), 1.15],
  ];
  for (const [name, value, target] of checks) {
    const verdict = target === undefined ? '      ' : value <= target ? 'met   ' : 'MISSED';
    console.log(`${verdict} ${name}: ${value.toFixed(2)}`);
  }
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
