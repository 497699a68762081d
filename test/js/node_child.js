'use strict';
// The one way the suites start a node process of their own. The command comes from
// KAVORI_TEST_NODE when set (words split on spaces, for a node that must be started through
// another program), else this node. Children never inherit colour forcing: `node --test` sets
// FORCE_COLOR for each file at a colour terminal, and a child's coloured numbers would no longer
// compare equal to plain ones. Nor do they take the runner's context, which would make a child
// that runs tests report them to this file's runner. The wait is asynchronous, so a test's time
// limit can act on it.
const { spawn } = require('node:child_process');

// Set by make test-arm64, whose node runs under qemu: there /proc/self/stat gives an RSS of 0, so
// process.memoryUsage().rss measures nothing, and a thread starts some 40 times slower.
const emulated = Boolean(process.env.KAVORI_TEST_EMULATED);

function nodeCommand() {
  const words = (process.env.KAVORI_TEST_NODE || '').split(' ').filter(Boolean);
  return words.length > 0 ? words : [process.execPath];
}

function childEnv(extra = {}) {
  const env = { ...process.env, ...extra };
  delete env.FORCE_COLOR;
  delete env.NODE_TEST_CONTEXT;
  env.NO_COLOR = '1';
  return env;
}

// A runner that stops this file for running over its limit ends it with SIGTERM, and a file
// whose test ran into its limit exits; its children go with it rather than run on unwatched.
const live = new Set();
process.on('exit', () => { for (const c of live) c.kill('SIGKILL'); });
function endChildren() {
  for (const c of live) c.kill('SIGKILL');
  process.removeListener('SIGTERM', endChildren);
  process.kill(process.pid, 'SIGTERM');
}

// Runs node with args; resolves, never rejects, with spawnSync's fields: status, signal, stdout,
// stderr (text), error. options: env, merged over childEnv().
function runNode(args, options = {}) {
  const [command, ...prefix] = nodeCommand();
  return new Promise((resolve) => {
    const c = spawn(command, [...prefix, ...args],
      { env: childEnv(options.env), stdio: ['ignore', 'pipe', 'pipe'] });
    if (live.size === 0) process.on('SIGTERM', endChildren);
    live.add(c);
    const out = { stdout: '', stderr: '' };
    c.stdout.setEncoding('utf8').on('data', (d) => { out.stdout += d; });
    c.stderr.setEncoding('utf8').on('data', (d) => { out.stderr += d; });
    let error;
    c.on('error', (e) => { error = e; });
    c.on('close', (status, signal) => {
      live.delete(c);
      if (live.size === 0) process.removeListener('SIGTERM', endChildren);
      resolve({ status, signal, ...out, error });
    });
  });
}

module.exports = { nodeCommand, childEnv, runNode, emulated };
