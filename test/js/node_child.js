'use strict';
// The one way the suites start a node process of their own. The command comes from
// KAVORI_TEST_NODE when set (words split on spaces, for a node that must be started through
// another program), else this node. Children never inherit colour forcing: `node --test` sets
// FORCE_COLOR for each file at a colour terminal, and a child's coloured numbers would no longer
// compare equal to plain ones.
const { spawnSync } = require('node:child_process');

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
  env.NO_COLOR = '1';
  return env;
}

// spawnSync of node with args; options as spawnSync's, env merged over childEnv().
function spawnNodeSync(args, options = {}) {
  const [command, ...prefix] = nodeCommand();
  return spawnSync(command, [...prefix, ...args], { ...options, env: childEnv(options.env) });
}

module.exports = { nodeCommand, childEnv, spawnNodeSync, emulated };
