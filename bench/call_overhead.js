'use strict';
// JS call overhead of the module: _getCurrentPosition on a playing player against a bare
// Node-API function that reads one string and returns an int. Prints ops/s of both and their
// ratio, the median of 5 rounds.
const path = require('node:path');
const { loadModule, buildDir, root } = require('../test/js/loader.js');

const ROUNDS = 5;
const CALLS = 2_000_000;

const m = loadModule();
const floorAddon = { exports: {} };
process.dlopen(floorAddon, path.join(buildDir, 'kavori_bench_floor.node'));
const { floor } = floorAddon.exports;

const id = 'bench';
new m.newKavoriPlayerAudio(id, false);
m._native_init_audio(id);
m._setDataSource(id, path.join(root, 'examples', 'media', 'tone.m4a'));
m._setLoopCount(id, '0');  // loop for as long as the run takes
m._prepareAsync(id);

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
  while (m._getDuration(id) <= 0) {
    if (Date.now() > deadline) throw new Error('the player did not prepare');
    await new Promise((r) => setTimeout(r, 10));
  }
  m._start(id);
  opsPerSecond(floor);  // warm-up
  opsPerSecond(m._getCurrentPosition);
  const rounds = [];
  for (let r = 0; r < ROUNDS; r++) {
    const base = opsPerSecond(floor);
    const module = opsPerSecond(m._getCurrentPosition);
    rounds.push({ base, module, ratio: base / module });
  }
  if (!m._isPlaying(id)) throw new Error('the player stopped during the run');
  m._release(id);
  const fmt = (v) => `${(v / 1e6).toFixed(2)} M ops/s`;
  console.log(`call_overhead: floor ${fmt(median(rounds.map((r) => r.base)))}, ` +
    `_getCurrentPosition ${fmt(median(rounds.map((r) => r.module)))}, ` +
    `ratio ${median(rounds.map((r) => r.ratio)).toFixed(2)} (target <= 1.5, median of ${ROUNDS})`);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
