'use strict';
// The suites' own node processes: plain output at a colour terminal, and a hang that stops at its
// limit, the child processes it waited on included, instead of holding the run.
const test = require('./limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { runNode } = require('./node_child.js');
const { tempDir } = require('./logfile.js');
const { until } = require('./proxy_helpers.js');

const gone = (pid) => {
  try {
    process.kill(pid, 0);
    return false;
  } catch (e) {
    return e.code === 'ESRCH';
  }
};

test('a child prints plain numbers where node --test forces colour', async () => {
  const saved = process.env.FORCE_COLOR;
  process.env.FORCE_COLOR = '1';
  try {
    const r = await runNode(['-e', "console.log('ok', 5)"]);
    assert.deepStrictEqual([r.status, r.stdout], [0, 'ok 5\n']);
  } finally {
    if (saved === undefined) delete process.env.FORCE_COLOR;
    else process.env.FORCE_COLOR = saved;
  }
});

test('a test that hangs on a child fails at its limit, and its file ends with the child', async () => {
  const file = path.join(tempDir(), 'hang.test.js');
  const pidFile = path.join(tempDir(), 'hang.pid');
  fs.writeFileSync(file, `
    const test = require(${JSON.stringify(require.resolve('./limited_test.js'))});
    const { runNode } = require(${JSON.stringify(require.resolve('./node_child.js'))});
    test('waits for a child that never ends', async () => {
      setInterval(() => {}, 1000);  // as a prepared player keeps the loop alive
      await runNode(['-e', ${JSON.stringify(`require('fs').writeFileSync(
        ${JSON.stringify(pidFile)}, String(process.pid)); setInterval(() => {}, 1000);`)}]);
    });
    test('runs after it', () => {});`);
  // Run as a file alone, as under emulation, where `node --test` could not start its runner's
  // children; the limit and the ending are the file's own either way.
  const r = await runNode(['--test-reporter=tap', file], { env: { KAVORI_TEST_LIMIT_S: '2' } });
  assert.strictEqual(r.status, 1, r.stdout);
  assert.match(r.stdout, /not ok 1 - waits for a child that never ends[^]*timed out after 2000ms/);
  assert.match(r.stdout, /^ok 2 - runs after it/m);
  const pid = Number(fs.readFileSync(pidFile, 'utf8'));
  assert.ok(pid > 0, r.stdout);
  try {
    // Killed as its parent exited; gone once reaped.
    await until(() => gone(pid), `the end of child ${pid}, which outlived its test file`);
  } finally {
    // A run that lets it outlive the file (the mutant run does) leaves nothing running behind.
    if (!gone(pid)) process.kill(pid, 'SIGKILL');
  }
});
