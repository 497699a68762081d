'use strict';
// A queue of 10,000 items: the time per add, insert, remove and move call at 1,000 and at 10,000
// items (a call that rebuilt the list would cost as much as copying it, printed beside), one
// shuffle of the whole queue, and the JS heap kept per item (V8's heap after full collections,
// 10,000 items over an empty queue). Medians of ROUNDS rounds, each in a fresh process.
const path = require('node:path');
const common = require('./lib/common.js');

const ROUNDS = 3;
const SIZES = [1000, 10000];
const CALLS = 2000;

const now = () => Number(process.hrtime.bigint()) / 1e6;

// Items as an app gives them: a URL and its metadata.
const itemAt = (i) => ({ url: `/music/album-${i >> 4}/track-${i}.mp3`, id: `track-${i}`,
  title: `Track ${i}`, artist: `Artist ${i % 97}`, album: `Album ${i >> 4}`, durationMs: 200000 });

function measure() {
  require(path.join(common.root, 'har', 'test', 'ets-require.js'));
  const kv = require(path.join(common.root, 'har', 'Index.ets'));
  const heap = () => {
    global.gc();
    global.gc();
    return process.memoryUsage().heapUsed;
  };
  const figures = {};
  // Heap per item: a queue made and kept before and after the items are added.
  const items = Array.from({ length: 10000 }, (_, i) => itemAt(i));
  const q = kv.createQueue();
  const empty = heap();
  q.add(items);
  figures.bytesPerItem = (heap() - empty) / items.length;
  // Per call, at each size; an index function that walks the list keeps the calls spread.
  for (const n of SIZES) {
    const sized = kv.createQueue();
    sized.add(items.slice(0, n));
    sized.skipTo(n >> 1);
    const per = (call) => {
      const start = now();
      for (let i = 0; i < CALLS; i++) call(i);
      return ((now() - start) * 1000) / CALLS;
    };
    const fresh = itemAt(0);
    figures[n] = {
      add: per(() => sized.add(fresh)),
      remove: per((i) => sized.remove((i * 7919) % (n - 1))),
      insert: per((i) => sized.insert((i * 7919) % n, fresh)),
      move: per((i) => sized.move((i * 7919) % n, (i * 104729) % n)),
      copy: per(() => sized.items),
    };
    const start = now();
    sized.setShuffle(true, 1);
    figures[n].shuffleMs = now() - start;
    sized.release();
  }
  q.release();
  return figures;
}

function main() {
  const rounds = Array.from({ length: ROUNDS }, () =>
    common.inChild(__filename, ['measure'], ['--expose-gc']));
  const med = (pick) => common.median(rounds.map(pick));
  console.log(`queue size: medians of ${ROUNDS} rounds, ${CALLS} calls each`);
  const figures = { bytesPerItem: med((r) => r.bytesPerItem) };
  for (const n of SIZES) {
    const f = {};
    for (const op of ['add', 'insert', 'remove', 'move', 'copy', 'shuffleMs']) {
      f[op] = med((r) => r[n][op]);
    }
    figures[n] = f;
    console.log(`  ${n} items: per call add ${f.add.toFixed(2)} µs, insert ` +
      `${f.insert.toFixed(2)} µs, remove ${f.remove.toFixed(2)} µs, move ` +
      `${f.move.toFixed(2)} µs (a copy of the list: ${f.copy.toFixed(2)} µs); one shuffle ${f.shuffleMs.toFixed(2)} ms`);
  }
  console.log(`  JS heap per item: ${figures.bytesPerItem.toFixed(0)} B (an item of a URL, id, ` +
    'title, artist, album and duration hint)');
  common.record('queue_size', figures);
}

if (process.argv[2] === 'measure') {
  console.log(JSON.stringify(measure()));
} else {
  main();
}
