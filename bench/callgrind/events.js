'use strict';
// One subject of bench/callgrind_counts.sh, run under callgrind: `node events.js <subject> <n>`
// delivers n events (after a warm-up) to one listener, for the script to count the JS thread's
// instructions per event. Subjects: floor (the direct-call floor: the listener called n times
// from native code, one handle scope each), groupfloor (one native call per group of 64, then a JS
// loop calling the listener), bridge (the bench addon's copy of the bridge fed by one producer
// thread), isolated-bridge and isolated-bare (one producer posting each event once the listener
// has acked the one before, through that bridge and through a bare thread-safe function: one
// event per wake-up), the engine road of bench/routed.js: raw, routed and package, and scale-<k>:
// k package players in one environment posting each pass's events between them at once. Every
// subject runs the passes the engine road runs (PASSES: a short one, then full ones), the last one
// measured: a floor given fewer warm passes than its subject would count the JS engine's optimizing
// compile of its loop in the measured pass, and read dearer than it is. The measured pass begins
// with the addon's measuredPassStarts(), where the script has callgrind dump its counts. scale-<k>
// ends it with measuredPassEnds() and runs one more pass of k players without events: what their
// lives cost the JS thread, for the script to take away.
const { addon, deliverGroup } = require('../lib/common.js');
const { REPS } = require('../routed.js');

const [subject, n] = [process.argv[2], Number(process.argv[3])];

const benchAddon = () => addon('kavori_bench_events');

// The events of each pass, as bench/routed.js's measure() runs them: a tenth, then REPS full ones.
const PASSES = [n / 10, ...Array(REPS).fill(n)];

// The listener of bench/events.js, with the same arguments on both sides.
async function direct() {
  const bench = benchAddon();
  let count = 0;
  let target = 0;
  let finished = null;
  // The end is taken up in a later turn: what the script does next (joining the producer, the next
  // pass, printing) is not the event's cost, and would otherwise count in the last wake-up.
  function listener(what, seq, stamp) {
    if (++count === target) setImmediate(finished);
  }
  function ackingListener(what, seq, stamp) {
    bench.ack();
    if (++count === target) setImmediate(finished);
  }
  const isolated = subject.startsWith('isolated-');
  bench._setMessageListener('count-events', isolated ? ackingListener : listener);
  const keep = setInterval(() => {}, 1000);  // the bridge's wake-up keeps no process alive
  let total = 0;
  for (const [pass, events] of PASSES.entries()) {
    if (pass === PASSES.length - 1) bench.measuredPassStarts();
    total += events;
    count = 0;
    target = events;
    const done = new Promise((resolve) => { finished = resolve; });
    if (subject === 'floor') {
      bench.floor(listener, events);
      finished();
    } else if (subject === 'groupfloor') {
      bench.groupFloor(deliverGroup, listener, events);
      finished();
    } else if (subject === 'isolated-bare') {
      bench.produceBare(ackingListener, 1, events, 0, true);
    } else {
      bench.produceBridge(1, events, 0, isolated);
    }
    await done;
    bench.join();
  }
  clearInterval(keep);
  return total;
}

async function road() {
  const { measure } = require('../routed.js');
  const bench = benchAddon();
  await measure(subject, n, () => bench.measuredPassStarts());
  return PASSES.reduce((a, b) => a + b);
}

async function scale(k) {
  const { passPlayers } = require('../routed.js');
  const bench = benchAddon();
  const keep = setInterval(() => {}, 1000);
  for (const [pass, events] of PASSES.entries()) {
    if (pass === PASSES.length - 1) bench.measuredPassStarts();
    await passPlayers(k, events);
  }
  bench.measuredPassEnds();
  await passPlayers(k, 0);
  clearInterval(keep);
  return PASSES.reduce((a, b) => a + b);
}

const scaled = /^scale-(\d+)$/.exec(subject);
const run = scaled ? () => scale(Number(scaled[1])) :
  ['raw', 'routed', 'package'].includes(subject) ? road : direct;
// Prints the number of events delivered, warm-up included, the measured pass's, and the passes.
run().then((total) => {
  console.log(`${total} ${n} ${PASSES.length}`);
}, (e) => {
  console.error(e);
  process.exit(1);
});
