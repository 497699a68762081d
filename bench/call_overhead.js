'use strict';
// JS call overhead of the module: _getCurrentPosition on a playing player against two bare
// Node-API functions measured in the same rounds, interleaved: one that reads one string and
// returns an int (the floor), and one that reads the id the same way and makes the same engine
// position query on the same player (the floor of a binding). That second floor needs the
// module's engine player, which the module keeps hidden, so the floor addon carries a copy of the
// module built the same way: its _getCurrentPosition ("copy") is compared with the floor of a
// binding on one player, and the real module's with the bare floor. Prints ops/s and the ratios,
// medians of the rounds.
const path = require('node:path');
const { loadModule, buildDir, root } = require('../test/js/loader.js');

const ROUNDS = 7;
const CALLS = 2_000_000;

const m = loadModule();
const floorAddon = { exports: {} };
process.dlopen(floorAddon, path.join(buildDir, 'kavori_bench_floor.node'));
const copy = floorAddon.exports;
const { floor, position, bindPlayer } = copy;

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
  const subjects = { floor, position, copy: copy._getCurrentPosition, module: m._getCurrentPosition };
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
  const checks = [
    ['_getCurrentPosition <= 1.5 x the floor', ratio('floor'), 1.5],
    ['_getCurrentPosition (copy) <= 1.25 x the floor with the engine query',
      ratio('position', 'copy'), 1.25],
  ];
  console.log(`call_overhead, medians of ${ROUNDS} rounds: floor ${fmt(med('floor'))}, ` +
    `floor with the engine query ${fmt(med('position'))}, ` +
    `_getCurrentPosition ${fmt(med('module'))} (copy ${fmt(med('copy'))})`);
  for (const [name, value, target] of checks) {
    console.log(`${value <= target ? 'met   ' : 'MISSED'} ${name}: ${value.toFixed(2)}`);
  }
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
