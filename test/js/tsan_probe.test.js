'use strict';
// ThreadSanitizer must see a race in native code called from JS: the probe addon's unlocked
// counter is reported under the inherited recipe (preloaded runtime, project suppressions), its
// locked twin is not. Runs where the probe is built, i.e. in the ThreadSanitizer build.
const test = require('./limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { runNode } = require('./node_child.js');
const { buildDir } = require('./loader.js');

const probe = path.join(buildDir, 'kavori_tsan_probe.node');
const skip = fs.existsSync(probe) ? false : 'the probe is built in the ThreadSanitizer build only';

function runProbe(method) {
  const source = `const m = { exports: {} };
    process.dlopen(m, ${JSON.stringify(probe)});
    console.log(m.exports.${method}());`;
  const env = { TSAN_OPTIONS: `${process.env.TSAN_OPTIONS} log_path=stderr` };
  return runNode(['-e', source], { env });
}

test('the recipe carries the project suppressions', { skip }, () => {
  assert.match(process.env.LD_PRELOAD || '', /libtsan/);
  assert.match(process.env.TSAN_OPTIONS || '', /suppressions=\S*tsan\.supp/);
});

test('an unlocked counter shared with a thread is reported, its locked twin is not', { skip },
  async () => {
  const racy = await runProbe('racy');
  assert.match(racy.stderr, /WARNING: ThreadSanitizer: data race[^]*in BumpRacy/);
  assert.strictEqual(racy.status, 66, racy.stderr);
  const locked = await runProbe('locked');
  assert.doesNotMatch(locked.stderr, /ThreadSanitizer/);
  assert.deepStrictEqual([locked.status, locked.stdout.trim()], [0, '20000']);
});
