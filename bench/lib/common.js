'use strict';
// What the benches share: their addons, the JS side of the group floor, medians, CPU time, runs in
// fresh processes, and the figures each leaves for bench/lib/goals.js. Kept out of bench/*.js,
// which make bench runs one by one.
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { loadModule, buildDir, root } = require('../../test/js/loader.js');

const addons = new Map();
// The bench addon named name (kavori_bench_events, kavori_bench_floor) of KAVORI_BUILD_DIR, loaded
// once, after the module.
function addon(name) {
  if (!addons.has(name)) {
    loadModule();
    const mod = { exports: {} };
    process.dlopen(mod, path.join(buildDir, `${name}.node`));
    addons.set(name, mod.exports);
  }
  return addons.get(name);
}

// The JS side of the group floor: each event of a group of numbers (what, param1, param2) given to
// the listener with no receiver (the file is strict), as group delivery calls it.
function deliverGroup(listener, numbers, count) {
  for (let i = 0; i < 3 * count; i += 3) listener(numbers[i], numbers[i + 1], numbers[i + 2]);
}

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

// CPU nanoseconds of all the process's threads since `since` (a process.cpuUsage()).
function cpuNs(since) {
  const used = process.cpuUsage(since);
  return (used.user + used.system) * 1000;
}

// The JSON that `node file ...args` prints as its last line, run in a fresh process.
function inChild(file, args, nodeArgs = []) {
  const out = execFileSync(process.execPath, [...nodeArgs, file, ...args],
    { encoding: 'utf8', env: process.env, stdio: ['ignore', 'pipe', 'inherit'] });
  return JSON.parse(out.trim().split('\n').pop());
}

// Medians over rounds of inChild(file, [side]) for each side, the order reversed every other round
// so that no side always runs first; gives { side: [figures of each round] }.
function interleaved(file, sides, rounds, nodeArgs = []) {
  const bySide = Object.fromEntries(sides.map((s) => [s, []]));
  for (let r = 0; r < rounds; r++) {
    const order = r % 2 === 0 ? sides : [...sides].reverse();
    for (const side of order) bySide[side].push(inChild(file, [side], nodeArgs));
  }
  return bySide;
}

// Leaves figures (an object) under name in KAVORI_BENCH_OUT, when set, for the goals table.
function record(name, figures) {
  const dir = process.env.KAVORI_BENCH_OUT;
  if (dir) fs.writeFileSync(path.join(dir, `${name}.json`), JSON.stringify(figures));
}

// Keeps the process alive while the bridge's wake-ups, which keep none, are awaited.
function keepAlive() {
  const keep = setInterval(() => {}, 1000);
  return () => clearInterval(keep);
}

module.exports = {
  addon, deliverGroup, median, cpuNs, inChild, interleaved, record, keepAlive, loadModule, root,
};
