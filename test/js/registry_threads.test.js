'use strict';
// The engine player registry read from many threads: worker environments keep reading the players
// of a few ids while others create, release and reset them. A player freed under a reader that is
// still taking its reference shows as a crash here, and is reported at once under AddressSanitizer
// (make test-asan). test/mutants/registry.sh shows this test catching a registry that drops its
// reference without waiting for such readers. KAVORI_STRESS_SECONDS makes the writers go on for
// that long instead of a fixed number of rounds.
const test = require('./limited_test.js');
const assert = require('node:assert');
const { child } = require('./proxy_helpers.js');

const loaderPath = JSON.stringify(require.resolve('./loader.js'));

test('readers and writers in worker environments sharing ids', async () => {
  const r = await child(`
    const { Worker } = require('node:worker_threads');
    const ids = ['shared0', 'shared1'];
    const seconds = Number(process.env.KAVORI_STRESS_SECONDS || 0);
    const done = new Int32Array(new SharedArrayBuffer(4));
    const common = \`
      const { workerData } = require('node:worker_threads');
      const m = require(${loaderPath.replace(/\\/g, '\\\\')}).loadModule();
      const { ids, done } = workerData;\`;
    // Readers take and drop a reference per call until the writers are done.
    const reader = common + \`
      let sum = 0;
      while (Atomics.load(done, 0) === 0) {
        for (const id of ids) sum += m._getCurrentPosition(id) + (m._isPlaying(id) ? 1 : 0);
      }\`;
    // Writers race each other on the same ids; one ends players by release, one by reset.
    const writer = (end) => common + \`
      const until = Date.now() + 1000 * \${seconds};
      for (let round = 0; round < 300 || Date.now() < until; round++) {
        for (const id of ids) {
          m._native_init_audio(id);
          m._\${end}(id);
        }
      }\`;
    const run = (source) => {
      const w = new Worker(source, { eval: true, workerData: { ids, done } });
      return new Promise((resolve, reject) => {
        w.once('error', reject);
        w.once('exit', resolve);
      });
    };
    (async () => {
      await run(common);  // Node starts some threads of its own on first use
      const base = { threads: threadCount(), fds: fdCount() };
      const readers = Array.from({ length: 6 }, () => run(reader));
      await Promise.all([run(writer('release')), run(writer('reset'))]);
      Atomics.store(done, 0, 1);
      await Promise.all(readers);
      for (const id of ids) m._release(id);
      await settled(base);  // every player ended, its message thread gone
      console.log('ok');
    })().catch((e) => { console.error(e); process.exit(1); });`);
  assert.strictEqual(r.signal, null, r.err);
  assert.strictEqual(r.status, 0, r.err);
  assert.strictEqual(r.out, 'ok');
});
