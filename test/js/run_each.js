'use strict';
// Runs test files one by one, each in a node started through node_child (KAVORI_TEST_NODE), for
// a node that `node --test` cannot start itself: its runner starts each file with its own
// executable. A node:test file run alone reports TAP and exits non-zero when a test fails.
//   node run_each.js [--arch=ARCH] FILE...
// With --arch, first checks that the node it starts runs on ARCH and prints what it runs on.
// Prints one line per file and the totals; fails when a file fails, is cut short or has no tests.
const path = require('node:path');
const { nodeCommand, runNode } = require('./node_child');

// A file still running after this long is taken as hung (each test has its own, shorter limit).
const FILE_LIMIT_MS = 30 * 60 * 1000;
const counted = ['tests', 'pass', 'fail', 'cancelled', 'skipped', 'todo'];

async function probe(arch) {
  const loader = path.join(__dirname, 'loader.js');
  const code = `const host = require(${JSON.stringify(loader)}).loadHost();
    console.log(process.arch, process.version, host.charIsSigned() ? 'signed' : 'unsigned');`;
  const child = await runNode(['-e', code]);
  const [got, version, char] = (child.stdout || '').trim().split(' ');
  if (child.status !== 0 || got === undefined) {
    console.error(`run_each: the node of '${nodeCommand().join(' ')}' did not start:\n${child.stderr}`);
    return false;
  }
  console.log(`run_each: process.arch ${got} (node ${version}), native char ${char}`);
  if (got !== arch) console.error(`run_each: expected process.arch ${arch}`);
  return got === arch;
}

async function runFile(file) {
  const started = Date.now();
  let timer;
  const hung = new Promise((resolve) => {
    timer = setTimeout(() => resolve({ error: new Error(`still running after ${FILE_LIMIT_MS / 60000} min`) }),
      FILE_LIMIT_MS);
  });
  const child = await Promise.race([runNode(['--test-reporter=tap', file]), hung]);
  clearTimeout(timer);
  const seconds = (Date.now() - started) / 1000;
  const counts = {};
  for (const key of counted) {
    const match = new RegExp(`^# ${key} (\\d+)$`, 'm').exec(child.stdout || '');
    if (match) counts[key] = Number(match[1]);
  }
  const problems = [];
  if (child.error) problems.push(child.error.message);
  if (child.status !== 0) problems.push(`exit ${child.status ?? child.signal}`);
  if (counts.tests === undefined) problems.push('no summary');
  else if (counts.tests === 0) problems.push('no tests');
  if (counts.fail > 0 || counts.cancelled > 0) problems.push(`${counts.fail} failed, ${counts.cancelled} cancelled`);
  return { file, seconds, counts, problems, output: `${child.stdout || ""}${child.stderr || ""}` };
}

async function main(args) {
  const arch = args.find((a) => a.startsWith('--arch='));
  const files = args.filter((a) => !a.startsWith('--'));
  if (arch && !await probe(arch.slice('--arch='.length))) return 1;
  const totals = Object.fromEntries(counted.map((key) => [key, 0]));
  const failed = [];
  const started = Date.now();
  for (const file of files) {
    const result = await runFile(file);
    for (const key of counted) totals[key] += result.counts[key] || 0;
    const { pass = '?', tests = '?', skipped = 0 } = result.counts;
    const summary = `${pass}/${tests} passed${skipped > 0 ? `, ${skipped} skipped` : ''}`;
    if (result.problems.length > 0) {
      failed.push(file);
      process.stdout.write(result.output);
      console.log(`run_each: FAIL ${file}: ${summary}, ${result.problems.join(', ')} (${result.seconds.toFixed(1)} s)`);
    } else {
      console.log(`run_each: ok ${file}: ${summary} (${result.seconds.toFixed(1)} s)`);
    }
  }
  const seconds = ((Date.now() - started) / 1000).toFixed(0);
  console.log(`run_each: ${files.length} files, ${counted.map((key) => `${key} ${totals[key]}`).join(', ')}; ${seconds} s`);
  if (failed.length > 0) console.log(`run_each: failed: ${failed.join(' ')}`);
  return failed.length > 0 ? 1 : 0;
}

main(process.argv.slice(2)).then((code) => process.exit(code), (e) => {
  console.error(e);
  process.exit(1);
});
