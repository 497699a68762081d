'use strict';
// Plays the bundled samples through the module, as an app would: create a player, listen to its
// events, prepare, play with a progress bar, and release at the end of the media.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const logFile = path.join(os.tmpdir(), `kavori-demo-${process.pid}.log`);
process.env.KAVORI_HILOG_FILE = logFile;
const { loadModule, root } = require('../test/js/loader.js');

const INFO = {
  3: 'video rendering start', 428: 'text', 422: 'SEI', 701: 'buffering start', 702: 'buffering end',
  10001: 'rotation changed', 10002: 'audio rendering start', 10003: 'audio decoded start',
  10004: 'video decoded start', 10005: 'open input', 10006: 'find stream info',
  10007: 'component open', 10010: 'frame chasing start', 10011: 'frame chasing end',
  10100: 'accurate seek complete',
};
function eventName(what, arg1) {
  switch (what) {
    case 0: return 'flush';
    case 1: return 'prepared';
    case 2: return 'completed';
    case 3: return 'buffering update';
    case 4: return 'seek complete';
    case 5: return 'video size changed';
    case 99: return 'timed text';
    case 100: return 'error';
    case 200: return `info: ${INFO[arg1] || arg1}`;
    case 201: return 'audio interrupt';
    case 10001: return 'sample aspect ratio changed';
    default: return `event ${what}`;
  }
}

const tty = process.stdout.isTTY;
const lineStart = tty ? '\r\x1b[K' : '';
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const bar = (pos, dur, width = 40) => {
  const done = dur > 0 ? Math.min(width, Math.round((pos / dur) * width)) : 0;
  return `[${'#'.repeat(done)}${'.'.repeat(width - done)}] ${(pos / 1000).toFixed(1)}/${(dur / 1000).toFixed(1)} s`;
};

// seen: the event kinds the listener has received for this player so far.
async function play(m, id, file, seen) {
  console.log(`\n== ${path.basename(file)} (player "${id}")`);
  m._native_init_audio(id);
  m._setDataSource(id, file);
  m._prepareAsync(id);
  const deadline = Date.now() + 10000;
  while (!seen.includes(1) && m._getDuration(id) <= 0 && Date.now() < deadline) await sleep(20);
  const duration = m._getDuration(id);
  console.log(`audio codec: ${m._getAudioCodecInfo(id) || '-'}`);
  console.log(`video codec: ${m._getVideoCodecInfo(id) || '-'}`);
  console.log(`duration:    ${duration} ms`);
  m._start(id);
  while (!m._isPlaying(id) && !seen.includes(2) && Date.now() < deadline) await sleep(10);
  let printed = -1;
  while (m._isPlaying(id) && !seen.includes(2)) {
    const pos = m._getCurrentPosition(id);
    // Without a terminal to redraw on, a line per second keeps the output readable.
    if (tty || Math.floor(pos / 1000) !== printed) {
      printed = Math.floor(pos / 1000);
      process.stdout.write(`${lineStart}${bar(pos, duration)}${tty ? '' : '\n'}`);
    }
    await sleep(100);
  }
  const end = Date.now() + 2000;
  while (!seen.includes(2) && Date.now() < end) await sleep(20);
  m._release(id);
}

async function main() {
  const m = loadModule();
  const methods = Object.getOwnPropertyNames(m).filter((n) => n.startsWith('_'));
  console.log(`module: class ${m.newKavoriPlayerAudio.name} as newKavoriPlayerAudio, ` +
    `${methods.length} methods: ${methods.join(' ')}`);
  new m.newKavoriPlayerAudio('demo', false);
  m._nativeOpenlog('demo');
  let current = null;
  m._setMessageListener('demo', (what, arg1, arg2, text) => {
    if (current) current.push(what);
    const extra = text === undefined ? '' : ` "${text}"`;
    process.stdout.write(`${lineStart}  event: ${eventName(what, arg1)} (${what}, ${arg1}, ${arg2})${extra}\n`);
  });
  for (const [id, name] of [['demo-audio', 'tone.m4a'], ['demo-video', 'clip.mp4']]) {
    current = [];
    await play(m, id, path.join(root, 'examples/media', name), current);
  }
  const lines = fs.readFileSync(logFile, 'utf8').split('\n').filter(Boolean);
  console.log(`\nhilog: ${lines.length} lines in ${logFile}; the module's first ones:`);
  for (const l of lines.filter((l) => l.includes('napi')).slice(0, 8)) console.log(`  ${l}`);
  console.log('and FFmpeg\'s own, relayed:');
  for (const l of lines.filter((l) => l.includes(': [')).slice(0, 4)) console.log(`  ${l}`);
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
