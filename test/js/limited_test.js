'use strict';
// node:test's test() with a time limit for every test, that only a hang reaches: a lost event
// would otherwise leave a test, and the whole run, waiting for ever. The limit is far above the
// slowest test under a sanitizer on busy cores; KAVORI_TEST_LIMIT_S sets it. A test that ran
// into it may leave what it waited on holding the event loop (a prepared player keeps it
// alive), so once the file's tests are done such a process ends on its own.
const nodeTest = require('node:test');

const LIMIT_MS = 1000 * (Number(process.env.KAVORI_TEST_LIMIT_S) || 300);
let hung = false;

function test(name, options, fn) {
  if (typeof options === 'function') [options, fn] = [{}, options];
  const run = (t, ...rest) => {
    t.signal.addEventListener('abort', () => { hung = true; });
    return fn(t, ...rest);
  };
  return nodeTest(name, { timeout: LIMIT_MS, ...options }, fn && run);
}

nodeTest.after(() => {
  // Time for the reporter to write the failure before the process goes.
  if (hung) setTimeout(() => process.exit(1), 2000).unref();
});

// The hooks, describe, it, mock and the rest as node:test has them.
for (const [key, value] of Object.entries(nodeTest)) if (!(key in test)) test[key] = value;
test.test = test;
module.exports = test;
