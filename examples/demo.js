'use strict';
// Plays the bundled samples through the ArkTS package, as an app would: the consumer sample's
// playMedia (examples/arkts-consumer), run from its .ets source, prints each event by name and a
// progress bar fed by timeUpdate. The tone plays with a short effect over it, on a second player
// at the same time. The module's hilog lines go to a temporary folder, removed at the end.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const logDir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavori-demo-'));
const logFile = path.join(logDir, 'hilog.log');
process.env.KAVORI_HILOG_FILE = logFile;
process.on('exit', () => fs.rmSync(logDir, { recursive: true, force: true }));

require('../har/test/ets-require.js');
const { loadModule, root } = require('../test/js/loader.js');
const { playMedia } = require('./arkts-consumer/src/main/ets/PlayMedia.ets');

const tty = process.stdout.isTTY;
const lineStart = tty ? '\r\x1b[K' : '';
const bar = (pos, dur, width = 40) => {
  const done = dur > 0 ? Math.min(width, Math.round((pos / dur) * width)) : 0;
  return `[${'#'.repeat(done)}${'.'.repeat(width - done)}] ` +
    `${(pos / 1000).toFixed(1)}/${(dur / 1000).toFixed(1)} s`;
};

// Without a terminal to redraw on, one progress line per second keeps the output readable.
function report() {
  let printed = -1;
  return {
    line: (text) => process.stdout.write(`${lineStart}  ${text}\n`),
    progress: (pos, dur) => {
      if (!tty && Math.floor(pos / 1000) === printed) return;
      printed = Math.floor(pos / 1000);
      process.stdout.write(`${lineStart}${bar(pos, dur)}${tty ? '' : '\n'}`);
    },
  };
}

async function main() {
  const m = loadModule();
  const methods = Object.getOwnPropertyNames(m.newKavoriPlayerAudio.prototype)
    .filter((n) => n.startsWith('_'));
  console.log(`module: class ${m.newKavoriPlayerAudio.name}, ${methods.length} raw methods; ` +
    'played here through the ArkTS package @kavori/player');
  new m.newKavoriPlayerAudio('demo', false);
  m._nativeOpenlog('demo');
  const media = (name) => path.join(root, 'examples', 'media', name);
  for (const [name, effect] of [['tone.m4a', 'effect.m4a'], ['clip.mp4']]) {
    console.log(`\n== ${name}${effect ? `, with ${effect} over it on a second player` : ''}`);
    await playMedia(media(name), report(), effect && media(effect));
  }
  const lines = fs.readFileSync(logFile, 'utf8').split('\n').filter(Boolean);
  console.log(`\nhilog: ${lines.length} lines; the module's first ones:`);
  for (const l of lines.filter((l) => l.includes('napi')).slice(0, 6)) console.log(`  ${l}`);
  console.log('and FFmpeg\'s own, relayed:');
  for (const l of lines.filter((l) => l.includes(': [')).slice(0, 3)) console.log(`  ${l}`);
}

main().catch((e) => {
  console.error(e);
  process.exitCode = 1;
});
