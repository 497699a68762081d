'use strict';
// Shared by the suites: the trace of one engine player, hilog lines of the proxy, polling,
// descriptor and thread counts, child processes.
const { runNode } = require('./node_child.js');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

// Engine calls on player #serial; reference counting, the engine's own events and the message
// thread's reads left out.
function playerCalls(lines, serial) {
  const skipped = ['kvmp_inc_ref', 'kvmp_dec_ref_p', 'kvmp_get_msg'];
  return lines.filter((l) => l.split(' ')[1] === `#${serial}` && l.startsWith('kvmp_') &&
    !skipped.includes(l.split(' ')[0]));
}

// Serial of the last player created in lines ("kvmp_create #N ...").
function createdSerial(lines) {
  const made = lines.filter((l) => l.startsWith('kvmp_create #'));
  if (made.length === 0) return 0;
  return Number(made[made.length - 1].split(' ')[1].slice(1));
}

// The proxy's own lines (and its two without prefix); message threads and FFmpeg, whose lines
// come when they come, are left out.
function proxyLines(lines) {
  return lines.filter((l) => {
    const text = l.slice(l.indexOf(': ') + 2);
    if (text.startsWith('napi_proxy-->')) return !text.startsWith('napi_proxy-->message_loop');
    return /^(failed to (de)?select -?\d+|KavoriCloudMediaPlayer_getAudioCodecInfo\\n)$/.test(text);
  });
}

const E = (text) => `E A00000/KavoriPlayer: ${text}`;
const I = (text) => `I A00000/KavoriPlayer: ${text}`;

// The first truthy value of probe; what (a text, or a function giving one) names it on timeout.
// The time limits here and below only stop a hang: under ASan on a machine whose cores are busy
// with other work, a step that takes milliseconds alone can take seconds.
async function until(probe, what, ms = 30000) {
  const end = Date.now() + ms;
  for (;;) {
    const value = probe();
    if (value) return value;
    if (Date.now() > end) {
      throw new Error(`timed out waiting for ${typeof what === 'function' ? what() : what}`);
    }
    await new Promise((r) => setTimeout(r, 10));
  }
}

// promise, which another thread settles, with a limit that only stops a hang.
function within(promise, what, ms = 120000) {
  let timer = null;
  const limit = new Promise((resolve, reject) => {
    timer = setTimeout(() => reject(new Error(`timed out waiting for ${what}`)), ms);
  });
  return Promise.race([promise, limit]).finally(() => clearTimeout(timer));
}

// The runtime's thread pool starts at its first work and stays with the process; a flood's wait for
// the loop's next turn is such a work. Started here, so that the counts below hold it from the start
// and show only threads and descriptors of the module's own.
fs.stat(__filename, () => {});
const threadCount = () => fs.readdirSync('/proc/self/task').length;
const fdCount = () => fs.readdirSync('/proc/self/fd').length;

const processCounts = () => ({ threads: threadCount(), fds: fdCount() });

// Waits until the process has no more threads and descriptors than base ({ threads, fds }).
const settled = (base, ms = 120000) => until(
  () => threadCount() <= base.threads && fdCount() <= base.fds,
  () => `threads ${threadCount()}/${base.threads}, descriptors ${fdCount()}/${base.fds}`, ms);

// Terminates workers whose player is under way: start([id, source]) starts a worker ({ worker,
// next }) whose player `id` loops a tone forever ('loop') or floods far longer than a test
// ('flood') and that posts once it is under way. Each round ends when m says the player no longer
// plays. Each case runs once unmeasured, as Node opens some threads and descriptors lazily, then
// measured: gives each case's counts before, during, and once back at the count before.
async function terminatedRounds(m, start) {
  const round = async ([id, source]) => {
    const w = start([id, source]);
    await w.next();
    const during = processCounts();
    await w.worker.terminate();
    await until(() => !m._isPlaying(id), `${id} still playing`);
    return during;
  };
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'rounds-'));
  try {
    const tone = path.join(dir, 'tone.wav');
    writeWav(tone);
    const cases = [['loop', tone], ['flood', 'script:200;502,1,2*19000000']];
    for (const c of cases) await round(c);
    const report = {};
    for (const c of cases) {
      const before = processCounts();
      const during = await round(c);
      await settled(before);
      report[c[0]] = { before, during, after: processCounts() };
    }
    return report;
  } finally {
    fs.rmSync(dir, { recursive: true });
  }
}

// One line per case of a terminatedRounds report.
const countLines = (report) => Object.entries(report).map(([id, { before, during, after }]) =>
  `${id}: threads ${before.threads} -> ${during.threads} -> ${after.threads}, ` +
  `fds ${before.fds} -> ${during.fds} -> ${after.fds}`);

// Runs source in a child Node process (node options in args, extra environment in env), for cases
// that may crash or that act on the whole process. Its prelude gives the module m, sleep,
// start(id, script) and the helpers above.
async function child(source, args = [], env = {}) {
  const prelude = `
    const m = require(${JSON.stringify(require.resolve('./loader.js'))}).loadModule();
    const { until, within, threadCount, fdCount, settled, processCounts, terminatedRounds } =
      require(${JSON.stringify(__filename)});
    const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
    const start = (id, s) => {
      m._native_init_audio(id); m._setDataSource(id, 'script:' + s); m._prepareAsync(id);
    };
  `;
  const r = await runNode([...args, '-e', prelude + source], { env });
  return { status: r.status, signal: r.signal, out: r.stdout.trim(), err: r.stderr };
}

// A small PCM WAV file, readable from a pipe (no seeking needed).
function writeWav(path, seconds = 1, rate = 8000) {
  const samples = seconds * rate;
  const data = Buffer.alloc(samples * 2);
  for (let i = 0; i < samples; i++) data.writeInt16LE(Math.round(8000 * Math.sin(i / 5)), i * 2);
  const h = Buffer.alloc(44);
  h.write('RIFF', 0); h.writeUInt32LE(36 + data.length, 4); h.write('WAVE', 8);
  h.write('fmt ', 12); h.writeUInt32LE(16, 16); h.writeUInt16LE(1, 20); h.writeUInt16LE(1, 22);
  h.writeUInt32LE(rate, 24); h.writeUInt32LE(rate * 2, 28); h.writeUInt16LE(2, 32);
  h.writeUInt16LE(16, 34); h.write('data', 36); h.writeUInt32LE(data.length, 40);
  fs.writeFileSync(path, Buffer.concat([h, data]));
}

module.exports = {
  playerCalls, createdSerial, proxyLines, E, I, until, within, threadCount, fdCount, settled, child,
  writeWav, processCounts, terminatedRounds, countLines,
};
