'use strict';
// The goals table of the event bridge, the producer, the package and the call path, printed from
// the figures the benches left in one results folder (KAVORI_BENCH_OUT), or two side by side
// (before, after): `node bench/lib/goals.js DIR [DIR2]`. A figure no run left is printed as not
// measured, with the target that measures it. Reports, never fails: the benches' own runs fail.
const fs = require('node:fs');
const path = require('node:path');

const x = (v) => `${v.toFixed(2)} x`;
const ns = (v) => `${v.toFixed(0)} ns`;
const us = (v) => `${(v / 1000).toFixed(1)} µs`;
// The load a CPU figure ran at, which moves it.
const atLoad = (f) => (typeof f.load === 'number' ? `, at load ${f.load.toFixed(2)}` +
  (f.cores ? ` on ${f.cores} cores` : '') : ', at a load not recorded');

// Each row: where its figures come from (a results file and the target that writes it), the
// figures it needs (a run that could not make one leaves it out: the row is not measured), what is
// shown, and whether the goal is met; met giving null shows a figure that is no goal. A row whose
// subject cannot be run yet says why (pending), with what it shows beside it when measured.
const ROWS = [
  {
    figure: "raw event, JS thread, with the package's group factory (instructions)",
    goal: '<= 1.15 x the warm group floor', file: 'counts', target: 'make bench-count',
    pending: 'no module takes a group factory from JS yet',
    needs: ['raw', 'groupFloor', 'eventFloor'],
    show: (c) => `beside it, the script road's raw ${c.raw}, ${x(c.raw / c.groupFloor)} the ` +
      `group floor's ${c.groupFloor} (direct-call floor ${c.eventFloor})`,
    met: () => null,
  },
  {
    figure: 'package event, JS thread (instructions)', goal: '<= 2.5 x the warm group floor',
    file: 'counts', target: 'make bench-count', needs: ['package', 'groupFloor', 'raw'],
    show: (c) => `${c.package}, ${x(c.package / c.groupFloor)} the group floor's ` +
      `${c.groupFloor} (raw ${c.raw})`,
    met: (c) => c.package / c.groupFloor <= 2.5,
  },
  {
    figure: 'package event at 1 / 10 / 100 / 1,000 players posting at once ' +
      '(instructions)',
    goal: '1,000 players <= 1.1 x 1 player', file: 'counts', target: 'make bench-count',
    needs: ['scale1', 'scale10', 'scale100', 'scale1000'],
    show: (c) => `${x(c.scale1000 / c.scale1)} (${c.scale1} / ${c.scale10} / ${c.scale100} / ` +
      `${c.scale1000})`,
    met: (c) => c.scale1000 / c.scale1 <= 1.1,
  },
  {
    figure: "the device road (no script, the package's group functions): raw, routed, package",
    goal: "within 1.05 x the host's", file: 'counts', target: 'make bench-count',
    pending: 'no module takes a group factory from JS yet', needs: [],
  },
  {
    figure: "player's life over the engine floor, all threads: raw / package (instructions)",
    goal: '<= 2 x / <= 5 x', file: 'counts', target: 'make bench-count',
    needs: ['lifeRaw', 'lifePackage', 'lifeFloor'],
    show: (c) => `${x(c.lifeRaw / c.lifeFloor)} / ${x(c.lifePackage / c.lifeFloor)} ` +
      `(${c.lifeRaw}, ${c.lifePackage} over ${c.lifeFloor})`,
    met: (c) => c.lifeRaw / c.lifeFloor <= 2 && c.lifePackage / c.lifeFloor <= 5,
  },
  {
    figure: 'bridge event, producer + JS thread, over the direct-call floor (instructions)',
    goal: '<= 0.25 x', file: 'counts', target: 'make bench-count',
    needs: ['bridge', 'bridgePost', 'eventFloor'],
    show: (c) => `${x((c.bridge + c.bridgePost) / c.eventFloor)} ((${c.bridgePost} + ` +
      `${c.bridge}) / ${c.eventFloor})`,
    met: (c) => (c.bridge + c.bridgePost) / c.eventFloor <= 0.25,
  },
  {
    figure: "producer thread, the module's part over the engine's own per message (instructions)",
    goal: '<= 1.5 x', file: 'counts', target: 'make bench-count',
    needs: ['producerModule', 'producerEngine'],
    show: (c) => `${x(c.producerModule / c.producerEngine)} (${c.producerModule} / ${c.producerEngine})`,
    met: (c) => c.producerModule / c.producerEngine <= 1.5,
  },
  {
    figure: "package's first 10,000 events over raw's (CPU)", goal: '<= 3 x',
    file: 'warmup', target: 'make bench',
    show: (w) => `${x(w.over)} (${ns(w.packageFirst)} / ${ns(w.rawFirst)}; steady ` +
      `${ns(w.packageSteady)} / ${ns(w.rawSteady)})`,
    met: (w) => w.over <= 3,
  },
  {
    figure: "player's life over the engine floor: raw / package (CPU)", goal: '<= 2 x / <= 3 x',
    file: 'life', target: 'make bench',
    show: (l) => `${x(l.rawOver)} / ${x(l.packageOver)} (${us(l.raw)}, ${us(l.package)} ` +
      `over ${us(l.floor)})${atLoad(l)}`,
    met: (l) => l.rawOver <= 2 && l.packageOver <= 3,
  },
  {
    // CPU time measures the machine's scheduling as much as the code: shown, with its load.
    figure: "bridge CPU per event over the direct-call floor's, 1 / 4 producers (secondary)",
    goal: 'none: the instruction row is the goal', file: 'events', target: 'make bench',
    needs: ['over1', 'over4'],
    show: (e) => `${e.over1.toFixed(2)} / ${e.over4.toFixed(2)} (${ns(e.bridge1)} / ` +
      `${ns(e.floor1)}, ${ns(e.bridge4)} / ${ns(e.floor4)})${atLoad(e)}`,
    met: () => null,
  },
  {
    figure: 'memory kept per released package player', goal: '0 after the first few',
    file: 'memory', target: 'make bench',
    show: (m) => `${m.package.toFixed(0)} B per player (raw, a new id each: ${m.raw.toFixed(0)} B;` +
      ` within ${m.noise} B counts as 0)`,
    met: (m) => Math.abs(m.package) <= m.noise,
  },
  {
    figure: '_getCurrentPosition over the fair floor (instructions)', goal: '<= 1.10 x',
    file: 'counts', target: 'make bench-count', needs: ['position', 'positionRef'],
    show: (c) => `${x(c.position / c.positionRef)} (${c.position} / ${c.positionRef})`,
    met: (c) => c.position / c.positionRef <= 1.10,
  },
  {
    // bench/flood_timer.js leaves { lateMs }: the most a 20 ms timer fired late during the flood.
    figure: 'a 20 ms timer during a flood of its environment', goal: 'within 50 ms',
    file: 'flood_timer', target: 'make bench (bench/flood_timer.js)',
    show: (t) => `${t.lateMs.toFixed(0)} ms late at most`,
    met: (t) => t.lateMs <= 50,
  },
  {
    // bench/queue_gap.js leaves, per source, the medians of its rounds for each road.
    figure: "gap between a queue's items, completed to the next one's first position",
    goal: '<= 20 ms local, <= 50 ms HTTP (300 ms to the first byte)',
    file: 'queue_gap', target: 'make bench (bench/queue_gap.js)',
    show: (g) => `local ${g.local.queue.toFixed(1)} ms, HTTP ${g.http.queue.toFixed(1)} ms ` +
      `(reset-and-prepare: ${g.local.reset.toFixed(1)} ms, ${g.http.reset.toFixed(1)} ms)`,
    met: (g) => g.local.queue <= 20 && g.http.queue <= 50,
  },
  {
    figure: 'a 10,000-item queue: add, remove, move per call; one shuffle; heap per item',
    goal: 'no call rebuilds the list (below a copy of it); shuffle O(n) once',
    file: 'queue_size', target: 'make bench (bench/queue_size.js)',
    show: (q) => { const f = q['10000']; return `add ${f.add.toFixed(1)} µs, remove ` +
      `${f.remove.toFixed(1)} µs, move ${f.move.toFixed(1)} µs (copy ${f.copy.toFixed(1)} µs); ` +
      `shuffle ${f.shuffleMs.toFixed(1)} ms; ${q.bytesPerItem.toFixed(0)} B per item`; },
    met: (q) => { const f = q['10000']; return Math.max(f.add, f.remove, f.move) < f.copy; },
  },
];

function read(dir, file) {
  try {
    return JSON.parse(fs.readFileSync(path.join(dir, `${file}.json`), 'utf8'));
  } catch {
    return null;
  }
}

// Whether figures hold every number the row needs (a run that failed leaves its figures null).
const measured = (row, figures) => figures !== null &&
  (row.needs ?? []).every((k) => typeof figures[k] === 'number' && Number.isFinite(figures[k]));

// One row's line for one build's figures (null when no run left them).
function lineOf(row, figures) {
  if (row.pending) {
    const beside = row.show && measured(row, figures) ? `; ${row.show(figures)}` : '';
    return `not measured yet (${row.pending})${beside}`;
  }
  if (!measured(row, figures)) return `not measured in this run (${row.target})`;
  const met = row.met(figures);
  return `${met === null ? 'shown  ' : met ? 'met    ' : 'not met'}  ${row.show(figures)}`;
}

// One build's line of a row.
const line = (row, dir) => lineOf(row, read(dir, row.file));

function print(dirs, labels) {
  console.log('\ngoals');
  for (const row of ROWS) {
    console.log(`${row.figure}: goal ${row.goal}`);
    dirs.forEach((dir, i) => console.log(`  ${labels[i]}${line(row, dir)}`));
  }
}

if (require.main === module) {
  const dirs = process.argv.slice(2);
  print(dirs, dirs.length === 2 ? ['before  ', 'after   '] : ['']);
} else {
  module.exports = { ROWS, line, lineOf };
}
