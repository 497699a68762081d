'use strict';
// An app's first events: in a fresh process, PLAYERS players one after another each get EACH
// buffering updates from a script engine player (FIRST events in all), the first events the
// process delivers; then WARM events through one more player, then the same FIRST events again, the
// steady state. One player: spread over several, the first events are cheaper per event, as the
// first player's take the brunt of compiling. Through the ArkTS package and through the raw listener (the passes of
// bench/routed.js), CPU time (all threads) per event from each prepare to its last event. Sides
// alternate, fresh processes, medians of ROUNDS rounds. Goal: the package's first events cost at
// most 3 x the raw listener's first.
const path = require('node:path');
const common = require('./lib/common.js');

const ROUNDS = 7;
const PLAYERS = 1;
const EACH = 10_000;
const FIRST = PLAYERS * EACH;
const WARM = 200_000;

// CPU ns per event over PLAYERS passes, round numbering each pass's id from `from`.
async function players(side, from) {
  const { pass } = require('./routed.js');
  let sum = 0;
  for (let p = 0; p < PLAYERS; p++) sum += await pass(side, EACH, from + p);
  return sum / PLAYERS;
}

async function firstAndSteady(side) {
  if (side === 'package') require(path.join(common.root, 'har', 'test', 'ets-require.js'));
  const release = common.keepAlive();
  const first = await players(side, 0);
  await require('./routed.js').pass(side, WARM, PLAYERS);
  const steady = await players(side, PLAYERS + 1);
  release();
  return { first, steady };
}

function main() {
  const rounds = common.interleaved(__filename, ['package', 'raw'], ROUNDS);
  const med = (side, key) => common.median(rounds[side].map((f) => f[key]));
  const over = common.median(rounds.package.map((f, r) => f.first / rounds.raw[r].first));
  const ns = (v) => `${v.toFixed(0)} ns`.padStart(9);
  console.log(`\nthe first ${FIRST} events of a process (${PLAYERS} player(s) of ${EACH}) and the ` +
    `same after ${WARM} more, CPU per event, medians of ${ROUNDS} rounds`);
  console.log(`(a) package        first ${ns(med('package', 'first'))}  steady ` +
    `${ns(med('package', 'steady'))}`);
  console.log(`(b) raw listener   first ${ns(med('raw', 'first'))}  steady ${ns(med('raw', 'steady'))}`);
  console.log(`a / b, first events ${over.toFixed(2)}`);
  common.record('warmup', {
    packageFirst: med('package', 'first'), packageSteady: med('package', 'steady'),
    rawFirst: med('raw', 'first'), rawSteady: med('raw', 'steady'), over,
  });
}

if (process.argv[2]) {
  firstAndSteady(process.argv[2]).then((f) => console.log(JSON.stringify(f)),
    (e) => { console.error(e); process.exit(1); });
} else {
  main();
}
