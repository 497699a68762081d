'use strict';
// Shared by the engine proxy tests: the trace of one engine player, hilog lines of the proxy,
// polling, descriptor and thread counts.
const fs = require('node:fs');

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

async function until(probe, what, ms = 5000) {
  const end = Date.now() + ms;
  for (;;) {
    const value = probe();
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((r) => setTimeout(r, 10));
  }
}

const threadCount = () => fs.readdirSync('/proc/self/task').length;
const fdCount = () => fs.readdirSync('/proc/self/fd').length;

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

module.exports = { playerCalls, createdSerial, proxyLines, E, I, until, threadCount, fdCount, writeWav };
