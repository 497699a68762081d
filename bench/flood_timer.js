'use strict';
// A 20 ms timer's lateness while its thread is flooded with events: a script engine player posts
// EVENTS buffering updates to a raw listener on that thread, a worker's or the main one, while the
// timer is set again each time it fires, until the last event; each firing's lateness (when it
// ran, less when it was due) is taken. Each side runs in a fresh process, since a listener once
// set stays. Bound: BOUND_MS on the largest lateness of each side.
const { execFileSync } = require('node:child_process');
const { Worker, isMainThread, parentPort } = require('node:worker_threads');

const EVENTS = Number(process.env.KAVORI_FLOOD_EVENTS || 19_000_000);
const TIMER_MS = 20;
const BOUND_MS = 50;

async function flood() {
  const m = require('../test/js/loader.js').loadModule();
  const id = 'flood-timer';
  let n = 0;
  let finished = null;
  const done = new Promise((resolve) => { finished = resolve; });
  m._setMessageListener(id, (what) => { if (what === 3 && ++n === EVENTS) finished(); });
  m._native_setup_audio(id);
  m._setDataSource(id, `script:200;502,1,2*${EVENTS}`);
  // The timer set last when the flood ends is taken too: a starved one fires only then.
  const late = [];
  let flooding = true;
  let stopped = null;
  const stop = new Promise((resolve) => { stopped = resolve; });
  const arm = () => {
    const due = performance.now() + TIMER_MS;
    setTimeout(() => {
      late.push(Math.max(0, performance.now() - due));  // the loop reads its clock once a turn
      if (flooding) arm();
      else stopped();
    }, TIMER_MS);
  };
  const start = performance.now();
  m._prepareAsync(id);
  arm();
  await done;
  const seconds = (performance.now() - start) / 1000;
  flooding = false;
  await stop;
  m._release(id);
  late.sort((a, b) => a - b);
  return { max: late[late.length - 1] || 0, median: late[Math.floor(late.length / 2)] || 0,
    firings: late.length, seconds };
}

function side(where) {
  if (where === 'main') return flood();
  return new Promise((resolve, reject) => {
    new Worker(__filename, { argv: ['worker-body'] }).once('message', resolve).once('error', reject);
  });
}

function main() {
  const run = (where) => JSON.parse(execFileSync(process.execPath, [__filename, where],
    { encoding: 'utf8', env: process.env }));
  const sides = { 'main thread': run('main'), worker: run('worker') };
  const ms = (x) => x.toFixed(1);
  console.log(`flood timer: a ${TIMER_MS} ms timer while ${EVENTS} events reach its thread`);
  for (const [name, r] of Object.entries(sides)) {
    console.log(`  ${name}: late by at most ${ms(r.max)} ms (median ${ms(r.median)} ms) ` +
      `over ${r.firings} firings, flood delivered in ${r.seconds.toFixed(2)} s`);
  }
  const worst = Math.max(...Object.values(sides).map((r) => r.max));
  require('./lib/common.js').record('flood_timer', { lateMs: worst });
  console.log(`${worst <= BOUND_MS ? 'met    ' : 'not met'} a ${TIMER_MS} ms timer during a flood ` +
    `of its thread fires within ${BOUND_MS} ms of its time: ${ms(worst)} ms at most`);
}

if (!isMainThread) {
  flood().then((r) => parentPort.postMessage(r));
} else if (process.argv[2] === 'main' || process.argv[2] === 'worker') {
  side(process.argv[2]).then((r) => console.log(JSON.stringify(r)), (e) => {
    console.error(e);
    process.exit(1);
  });
} else {
  main();
}
