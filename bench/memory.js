'use strict';
// Memory kept per released player: in a fresh process, WARM lives of bench/life.js, then STEPS
// steps of STEP lives more; after each, what the C heap has in use (glibc's count, all threads'
// arenas) and V8's heap after a full collection. Kept per player is the slope of each over the
// lives (least squares), which one-off changes in V8's heap (code and feedback let go, a few KB
// either way) move far less than a difference of two points. Raw: a new id per player, as an app
// that names each player anew; package: a player made and released each time. Medians of ROUNDS
// rounds. Goal: none kept per released package player once the first few are made (within NOISE
// bytes per player).
const common = require('./lib/common.js');

const ROUNDS = 3;
const WARM = 200;
const STEP = 200;
const STEPS = 6;
const NOISE = 16;

async function settled() {
  // Ended message threads give their memory back once they are joined; some turns let the
  // releases finish, then two collections free what the turns let go.
  for (let i = 0; i < 10; i++) await new Promise(setImmediate);
  global.gc();
  global.gc();
  return { c: common.addon('kavori_bench_floor').heapInUse(), js: process.memoryUsage().heapUsed };
}

// The least-squares slope of ys over 0, 1, 2, ...
function slope(ys) {
  const n = ys.length;
  const mx = (n - 1) / 2;
  const my = ys.reduce((a, b) => a + b, 0) / n;
  let num = 0;
  let den = 0;
  ys.forEach((y, x) => { num += (x - mx) * (y - my); den += (x - mx) ** 2; });
  return num / den;
}

async function kept(side) {
  const { lives } = require('./life.js');
  await lives(side, WARM);
  const points = [await settled()];
  for (let i = 0; i < STEPS; i++) {
    await lives(side, STEP);
    points.push(await settled());
  }
  return { c: slope(points.map((p) => p.c)) / STEP, js: slope(points.map((p) => p.js)) / STEP };
}

function main() {
  const rounds = common.interleaved(__filename, ['raw', 'package'], ROUNDS, ['--expose-gc']);
  const med = (side, key) => common.median(rounds[side].map((f) => f[key]));
  const total = (side) => common.median(rounds[side].map((f) => f.c + f.js));
  const b = (v) => `${v.toFixed(0)} B`.padStart(7);
  console.log(`\nmemory kept per released player, ${STEPS * STEP} lives after ${WARM}, medians of ` +
    `${ROUNDS} rounds: C heap + JS heap = kept`);
  for (const [side, name] of [['raw', 'raw module, a new id each'], ['package', 'package']]) {
    console.log(`  ${name.padEnd(26)}${b(med(side, 'c'))} +${b(med(side, 'js'))} =${b(total(side))}`);
  }
  common.record('memory', { raw: total('raw'), package: total('package'), noise: NOISE });
}

if (process.argv[2]) {
  kept(process.argv[2]).then((f) => console.log(JSON.stringify(f)),
    (e) => { console.error(e); process.exit(1); });
} else {
  main();
}
