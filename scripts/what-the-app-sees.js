#!/usr/bin/env node
'use strict';
// What an app sees: plays streams and sources through the ArkTS package and the module of a tree
// (its build/ folder), against the loopback server of the tree this script sits in, so that the
// same server and the same cases run for any tree. Prints one markdown table per group.
//   node scripts/what-the-app-sees.js --tree DIR [--only name,...] [--skip-long]
// --only takes scenario names or group keys (ends, lengthless, opens, live, seek, sources, texts).
// Media plays in real time: the times printed are the ones an app would wait.
const { spawnSync } = require('node:child_process');
const dgram = require('node:dgram');
const fs = require('node:fs');
const http = require('node:http');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');

const args = process.argv.slice(2);
const arg = (name) => (args.includes(name) ? args[args.indexOf(name) + 1] : undefined);
const tree = path.resolve(arg('--tree') ?? path.join(__dirname, '..'));
const only = arg('--only')?.split(',');
const skipLong = args.includes('--skip-long');

process.env.KAVORI_BUILD_DIR = path.join(tree, 'build');
require(path.join(tree, 'har', 'test', 'ets-require.js'));
const kv = require(path.join(tree, 'har', 'Index.ets'));
const { startServer, mp3 } = require('../test/js/stream_server.js');

const FORMAT = 1;  // the engine's source option category (FORMAT_CATEGORY)
const ENDED = ['completed', 'error', 'released'];
const LOOPBACK = { port: 0, host: '127.0.0.1' };
const bytes = (text) => Buffer.byteLength(text);
const cell = (v) => (v === undefined ? '' : String(v).replace(/\|/g, '\\|').replace(/\n/g, ' '));
const failure = (e) => (e && e.code !== undefined ? `${e.code}/${e.engineCode ?? '-'}`
  : `exception ${e}`);
const thrown = (e) => `thrown ${e.code ?? ''}: ${String(e.message).slice(0, 90)}`;

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// How a promise settles within ms: its value or failure, and when.
async function outcome(promise, ms) {
  const t0 = Date.now();
  let timer = null;
  const limit = new Promise((resolve) => { timer = setTimeout(() => resolve(null), ms); });
  const r = await Promise.race([promise.then((v) => ({ v }), (e) => ({ e })), limit]);
  clearTimeout(timer);
  if (r === null) return `pending after ${ms} ms`;
  const dt = Date.now() - t0;
  return `${'e' in r ? failure(r.e) : r.v ?? 'ok'} at ${dt} ms`;
}

// What one scenario holds: its server, players, and what to undo at its end.
class Context {
  constructor() {
    Object.assign(this, { players: [], cleanups: [], closed: false, t0: Date.now(), shown: null });
  }

  // A player whose events are logged with their time since the scenario began; a repeat of the
  // entry before it is left out (buffering percentages).
  player(options) {
    if (this.closed) throw new Error('the scenario is over');
    const p = kv.createPlayer(options);
    this.players.push(p);
    p.log = [];
    const add = (text) => {
      if (p.log.length === 0 || !p.log[p.log.length - 1].startsWith(`${text}@`)) {
        p.log.push(`${text}@${Date.now() - this.t0}`);
      }
    };
    p.on('stateChange', (s) => add(s));
    p.on('error', (e) => { p.lastError = e; add(`error ${failure(e)}`); });
    p.on('bufferingUpdate', (t, v) => add(`buffering ${t},${v}`));
    for (const name of ['durationUpdate', 'seekDone', 'speedDone']) {
      p.on(name, (v) => add(`${name.replace('Update', '')} ${v}`));
    }
    return p;
  }

  temp() {
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'app-sees-'));
    this.cleanups.push(() => fs.rmSync(dir, { recursive: true, force: true }));
    return dir;
  }

  async until(condition, ms) {
    const end = Date.now() + ms;
    while (!this.closed && Date.now() < end) {
      if (condition()) return true;
      await sleep(20);
    }
    return condition();
  }

  requests(pathname) {
    return this.server.requests.filter((r) => pathname === undefined || r.path === pathname).length;
  }

  async close() {
    this.closed = true;
    for (const p of this.players) await outcome(p.release(), 5000);
    for (const c of this.cleanups.reverse()) await Promise.resolve().then(c).catch(() => {});
    await this.server.close();
  }
}

const groups = [];
function group(key, title, columns) {
  const g = { key, title, columns, scenarios: [] };
  groups.push(g);
  return (name, limitMs, run) => g.scenarios.push({ name, limitMs, run });
}

async function runScenario(s) {
  const ctx = new Context();
  ctx.server = await startServer();
  const row = { scenario: s.name };
  let timer = null;
  const limit = new Promise((resolve) => { timer = setTimeout(() => resolve('limit'), s.limitMs); });
  let rows = null;
  try {
    const result = await Promise.race([s.run(ctx, row), limit]);
    if (result === 'limit') row.note = `scenario limit ${s.limitMs} ms reached`;
    if (Array.isArray(result)) rows = result;
  } catch (e) {
    row.note = `stopped: ${thrown(e)}`;
  } finally {
    clearTimeout(timer);
    // The shown player's events, state, error, position and duration fill the row's free cells.
    const p = ctx.shown;
    if (p) {
      Object.assign(row, { 'events (ms)': p.log.join(', '), state: p.state, error: p.lastError
        ? failure(p.lastError) : '', position: p.currentTime, duration: p.duration, ...row });
    }
    await ctx.close();
  }
  return rows ?? [row];
}

// Ends and cuts: a 12 s MP3 (bare frames, or with an Info frame count) played to its end or cut
// at 5 s (byte 80000 at 16000 bytes a second).
const ends = group('ends', 'Ends and cuts: a 12 s MP3 in real time, cut at 5 s or played whole',
  ['scenario', 'served', 'events (ms)', 'state', 'error', 'position', 'duration']);
for (const [name, served] of [
  ['chunked cut', 'length=chunked&drop=80000'],
  ['chunked cut (Info MP3)', 'info=1&length=chunked&drop=80000'],
  ['close-delimited cut', 'length=close&drop=80000'],
  ['close-delimited cut (Info MP3)', 'info=1&length=close&drop=80000'],
  ['cut with a Content-Length', 'drop=80000'],
  ['chunked full body (Info MP3)', 'info=1&length=chunked'],
  ['chunked full body (bare MP3)', 'length=chunked'],
]) {
  ends(name, 25000, async (ctx, row) => {
    row.served = served;
    const p = ctx.shown = ctx.player();
    p.setSource(ctx.server.url('/mp3/12', served));
    await p.prepare();
    await p.play();
    await ctx.until(() => ENDED.includes(p.state), 20000);
    await sleep(300);  // events that follow the end
  });
}

// Served without a length: what the app can do with a file that carries its duration.
const lengthless = group('lengthless', 'Served without a length (prepared, not played)',
  ['scenario', 'served', 'duration', 'seek(3000)', 'setSpeed(2x)', 'state', 'events (ms)']);
for (const [name, file, served] of [
  ['MP3 with Info (chunked)', '/mp3/12', 'info=1&length=chunked'],
  ['MP3 with Info (close-delimited)', '/mp3/12', 'info=1&length=close'],
  ['M4A (chunked)', '/media/tone.m4a', 'length=chunked'],
  ['M4A (close-delimited)', '/media/tone.m4a', 'length=close'],
  ['bare MP3 (chunked: live)', '/mp3/12', 'length=chunked'],
  ['MP3 with Info and a length', '/mp3/12', 'info=1'],
]) {
  lengthless(name, 20000, async (ctx, row) => {
    row.served = `${file}?${served}`;
    const p = ctx.shown = ctx.player();
    p.setSource(ctx.server.url(file, served));
    await p.prepare();
    row.duration = p.duration;
    row['seek(3000)'] = await outcome(p.seek(3000), 5000);
    const errors = p.lastError;
    const done = () => p.log.some((e) => e.startsWith('speedDone'));
    p.setSpeed(kv.PlaybackSpeed.SPEED_FORWARD_2_00_X);
    await ctx.until(() => p.lastError !== errors || done(), 1000);
    row['setSpeed(2x)'] = p.lastError !== errors ? `error ${failure(p.lastError)}`
      : done() ? 'speedDone' : 'no answer in 1 s';
  });
}

// Opens that stall or trickle: ms from prepare() to its answer.
const opens = group('opens', 'Opens that stall or trickle: prepare() from the call to its answer',
  ['scenario', 'served', 'timeout option', 'prepare()', 'requests', 'state', 'events (ms)']);
for (const [name, file, served, timeoutUs, limitMs, long] of [
  ['M4A: 16 kB then nothing', '/media/tone.m4a', 'stall=16384', 3000000, 20000],
  ['M4A: 16 kB then nothing (default time-out)', '/media/tone.m4a', 'stall=16384', null, 100000,
    true],
  ['headers trickled', '/mp3/12', 'headerRate=1', 3000000, 20000],
  ['headers for ever', '/mp3/12', 'endlessHeaders=1', 3000000, 20000],
  ['M4A body trickled at 200 B/s', '/media/tone.m4a', 'rate=200', 3000000, 20000],
]) {
  if (long && skipLong) continue;
  opens(name, limitMs + 5000, async (ctx, row) => {
    row.served = `${file}?${served}`;
    row['timeout option'] = timeoutUs === null ? 'default' : `${timeoutUs / 1000} ms`;
    const p = ctx.shown = ctx.player();
    p.setSource(ctx.server.url(file, served));
    if (timeoutUs !== null) p.setOption(FORMAT, 'timeout', timeoutUs);
    row['prepare()'] = await outcome(p.prepare(), limitMs);
    row.requests = ctx.requests();
  });
}

// A live source with loop set before prepare, cut after 3 s.
const live = group('live', 'A live MP3 cut at 3 s, loop = true set before prepare()',
  ['scenario', 'loop once prepared', 'position went back', 'requests', 'events (ms)', 'state',
    'error', 'position', 'duration']);
live('live cut (loop set before prepare)', 20000, async (ctx, row) => {
  const p = ctx.shown = ctx.player();
  p.setSource(ctx.server.url('/live.mp3', 'drop=48000'));
  p.loop = true;
  await p.prepare();
  row['loop once prepared'] = p.loop;
  await p.play();
  let back = 0;
  let last = 0;
  await ctx.until(() => {
    const t = p.currentTime;
    if (t + 1000 < last) back++;
    last = t;
    row['position went back'] = `${back} times`;
    row.requests = ctx.requests('/live.mp3');
    return ENDED.includes(p.state);
  }, 12000);
  await sleep(300);
  row.requests = ctx.requests('/live.mp3');
});

// A seek made while a read stalls (2 s in, until the server resumes), then the way out.
const seeks = group('seek', 'A seek during a stall (12 s MP3, stalled at 2 s)',
  ['scenario', 'seek(6000)', 'release()', 'server resumed', 'requests after the seek',
    'events (ms)', 'state', 'position']);
// Where a promise stands, read at any time: null until it settles.
function watchSettle(promise) {
  const t0 = Date.now();
  const w = { result: null };
  promise.then((v) => { w.result = `${v} at ${Date.now() - t0} ms`; },
    (e) => { w.result = `${failure(e)} at ${Date.now() - t0} ms`; });
  return w;
}
async function stalled(ctx) {
  const p = ctx.shown = ctx.player();
  p.setSource(ctx.server.url('/mp3/12', 'stall=32000'));
  await p.prepare();
  await p.play();
  await ctx.until(() => p.log.some((e) => e.startsWith('buffering 1')), 10000);
  return p;
}
seeks('seek left to settle (server resumes 5 s after it)', 45000, async (ctx, row) => {
  const p = await stalled(ctx);
  const before = ctx.requests();
  const t0 = Date.now();
  const seek = watchSettle(p.seek(6000));
  if (!(await ctx.until(() => seek.result !== null, 5000))) {
    row['server resumed'] = `at ${Date.now() - t0} ms`;
    ctx.server.resume();
    await ctx.until(() => seek.result !== null, 30000);
  }
  row['seek(6000)'] = seek.result ?? 'pending';
  row['requests after the seek'] = ctx.requests() - before;
  await sleep(500);
});
seeks('seek then release() at once', 20000, async (ctx, row) => {
  const p = await stalled(ctx);
  const t0 = Date.now();
  const seek = watchSettle(p.seek(6000));
  row['seek(6000)'] = `returned at ${Date.now() - t0} ms`;
  const release = p.release();
  row['release()'] = `returned at ${Date.now() - t0} ms, ${await outcome(release, 10000)}`;
  await ctx.until(() => seek.result !== null, 5000);
  row['seek(6000)'] += `, ${seek.result ?? 'pending 5 s after release()'}`;
});

// Sources: each scheme as an app's URL, a 2 s MP3 behind it wherever one can be.
const sources = group('sources', 'Sources: each scheme given to setSource()',
  ['scenario', 'URL', 'setSource()', 'prepare()', 'duration', 'state']);
function mp3File(ctx, seconds = 2) {
  const file = path.join(ctx.temp(), 'local.mp3');
  fs.writeFileSync(file, mp3(seconds));
  return file;
}
function mp3Fd(ctx) {
  const fd = fs.openSync(mp3File(ctx), 'r');
  ctx.cleanups.push(() => fs.closeSync(fd));
  return fd;
}
function listening(ctx, server, where) {
  const sockets = new Set();
  server.on('connection', (s) => { sockets.add(s); s.on('close', () => sockets.delete(s)); });
  ctx.cleanups.push(() => new Promise((done) => {
    sockets.forEach((s) => s.destroy());
    server.close(() => done());
  }));
  return new Promise((resolve) => server.listen(where, () => resolve(server.address())));
}
// A socket server that sends 2 s of MP3 to whoever connects, then ends.
const mp3Socket = (ctx, where) => listening(ctx, net.createServer((s) => s.end(mp3(2))), where);
// A free UDP port, and an MP3 frame sent to it every 20 ms.
async function udpSource(ctx) {
  const sender = dgram.createSocket('udp4');
  const probe = dgram.createSocket('udp4');
  await new Promise((resolve) => probe.bind(0, '127.0.0.1', resolve));
  const port = probe.address().port;
  await new Promise((resolve) => probe.close(resolve));
  const frame = mp3(0.02);
  const timer = setInterval(() => sender.send(frame, port, '127.0.0.1'), 20);
  ctx.cleanups.push(() => { clearInterval(timer); sender.close(); });
  return `udp://127.0.0.1:${port}`;
}
// A server of an HLS playlist listing one 2 s segment, and of that segment over http (/seg.mp3).
async function playlist(ctx, segment) {
  const server = http.createServer((req, res) => {
    if (req.url === '/seg.mp3') {
      res.end(mp3(2));
      return;
    }
    res.writeHead(200, { 'Content-Type': 'application/vnd.apple.mpegurl' });
    res.end(`#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:3\n#EXT-X-MEDIA-SEQUENCE:0\n` +
      `#EXTINF:2.0,\n${segment.replace('{self}', `http://${req.headers.host}`)}\n` +
      '#EXT-X-ENDLIST\n');
  });
  const { port } = await listening(ctx, server, LOOPBACK);
  return `http://127.0.0.1:${port}/list.m3u8`;
}
const tiny = mp3(0.1).toString('base64');
for (const [name, make] of [
  ['http', (ctx) => ctx.server.url('/mp3/2')],
  ['https (no TLS server)', (ctx) => ctx.server.url('/mp3/2').replace('http:', 'https:')],
  ['fd://N', (ctx) => `fd://${mp3Fd(ctx)}`],
  ['a path', (ctx) => mp3File(ctx)],
  ['file://', (ctx) => `file://${mp3File(ctx)}`],
  ['file:', (ctx) => `file:${mp3File(ctx)}`],
  ['concat:', (ctx) => { const f = mp3File(ctx); return `concat:${f}|${f}`; }],
  ['subfile:', (ctx) => `subfile,,start,0,end,0,,:${mp3File(ctx)}`],
  ['data:', () => `data:audio/mpeg;base64,${tiny}`],
  ['pipe:N (a file\'s descriptor)', (ctx) => `pipe:${mp3Fd(ctx)}`],
  ['tcp:', async (ctx) => `tcp://127.0.0.1:${(await mp3Socket(ctx, LOOPBACK)).port}`],
  ['udp:', udpSource],
  ['unix:', async (ctx) => {
    const where = path.join(ctx.temp(), 's.sock');
    await mp3Socket(ctx, where);
    return `unix:${where}`;
  }],
  ['HLS listing file://', async (ctx) => playlist(ctx, `file://${mp3File(ctx)}`)],
  ['HLS listing a path', async (ctx) => playlist(ctx, mp3File(ctx))],
  ['HLS listing http://', async (ctx) => playlist(ctx, '{self}/seg.mp3')],
]) {
  sources(name, 20000, async (ctx, row) => {
    const url = await make(ctx);
    row.URL = url.length > 60 ? `${url.slice(0, 57)}...` : url;
    const p = ctx.player();
    try {
      p.setSource(url);
      row['setSource()'] = 'ok';
    } catch (e) {
      row['setSource()'] = thrown(e);
      return;
    }
    p.setOption(FORMAT, 'timeout', 3000000);
    row['prepare()'] = await outcome(p.prepare(), 12000);
    row.duration = p.duration;
    row.state = p.state;
  });
}

// Texts at the module's limit, in bytes of UTF-8: 2047 (all it takes), 2048, a two-byte character
// across bytes 2047-2048, and 3000. A header block ends in CRLF, so its character comes before.
const texts = group('texts', 'Texts at the limit (bytes of UTF-8; "é" is 2 bytes)',
  ['scenario', 'bytes / UTF-16 length', 'thrown', 'prepare()', 'the server received']);
const SIZES = [['2047 bytes', 2047, 'a'], ['2048 bytes', 2048, 'a'], ['2047 bytes, "é" last', 2047,
  'é'], ['"é" across bytes 2047-2048', 2048, 'é', 2], ['3000 bytes', 3000, 'a']];
const fill = (n, tail) => 'a'.repeat(n - bytes(tail)) + tail;
const latin = (s) => (s === undefined ? 0 : Buffer.byteLength(s, 'latin1'));
// count headers X-Pad-NN whose block ("name: value" and CRLF each) has n bytes, the last value
// ending in tail.
function headerBlock(count, n, tail) {
  const names = Array.from({ length: count }, (_, i) => `X-Pad-${String(i).padStart(2, '0')}`);
  const line = bytes('X-Pad-00: \r\n');
  const each = Math.floor(n / count) - line;
  const v = Object.fromEntries(names.map((name) => [name, 'a'.repeat(each)]));
  v[names[count - 1]] = fill(n - (count - 1) * (each + line) - line, tail);
  return { text: names.map((name) => `${name}: ${v[name]}\r\n`).join(''), v };
}
const kinds = [
  // [kind, bytes after the boundary character, how the player takes the text, what the server
  // got of it, the text]
  ['URL', 0, (ctx, p, made) => p.setSource(made.text),
    (r, made) => `${bytes(made.base) + latin(r.query.pad)} bytes`, (ctx, n, tail) => {
      const base = ctx.server.url('/mp3/1', 'pad=');
      return { text: base + fill(n - bytes(base), tail), base };
    }],
  ...[1, 16].map((count) => [count === 1 ? 'one header' : `${count} headers together`, 2,
    (ctx, p, made) => p.setMediaSource({ url: ctx.server.url('/mp3/1'), headers: made.v }),
    (r, made) => {
      const got = Object.keys(r.headers).filter((k) => k.startsWith('x-pad-'));
      const sum = (values, count) => values.reduce((total, v) => total + count(v), 0);
      return `${got.length} of ${count} headers, values: ${sum(got.map((k) => r.headers[k]),
        latin)} of ${sum(Object.values(made.v), bytes)} bytes`;
    }, (ctx, n, tail) => headerBlock(count, n, tail)]),
  ['option value (user_agent)', 0, (ctx, p, made) => {
    p.setSource(ctx.server.url('/mp3/1'));
    p.setOption(FORMAT, 'user_agent', made.text);
  }, (r) => `${latin(r.headers['user-agent'])} bytes of User-Agent`,
  (ctx, n, tail) => ({ text: fill(n, tail) })],
];
for (const [kind, after, use, received, make] of kinds) {
  texts(kind, 40000, async (ctx) => {
    const rows = [];
    for (const [label, n, tail, boundary] of SIZES) {
      const made = make(ctx, n + (boundary ? after : 0), tail);
      const row = { scenario: `${kind}, ${label}`,
        'bytes / UTF-16 length': `${bytes(made.text)} / ${made.text.length}` };
      rows.push(row);
      const p = ctx.player();
      const before = ctx.requests();
      try {
        use(ctx, p, made);
      } catch (e) {
        row.thrown = thrown(e);
        continue;
      }
      row['prepare()'] = await outcome(p.prepare(), 8000);
      const r = ctx.server.requests[before];
      row['the server received'] = r ? received(r, made) : 'nothing reached the server\'s handler';
      await outcome(p.release(), 5000);
    }
    return rows;
  });
}
// Ids: a player of the id on a 1 s MP3, then a twin whose id differs only in its last
// character on a 3 s one; each one's duration tells whether they are one player in the module.
texts('id', 40000, async (ctx) => {
  const rows = [];
  for (const [label, n, tail] of SIZES) {
    const id = fill(n, tail);
    const twin = id.slice(0, -1) + (tail === 'a' ? 'b' : 'è');
    const row = { scenario: `id, ${label}`, 'bytes / UTF-16 length': `${bytes(id)} / ${id.length}` };
    rows.push(row);
    const made = [];
    try {
      for (const [each, file] of [[id, '/mp3/1'], [twin, '/mp3/3']]) {
        const p = ctx.player({ id: each });
        p.setSource(ctx.server.url(file));
        made.push([p, await outcome(p.prepare(), 8000)]);
      }
    } catch (e) {
      row.thrown = `${made.length ? 'twin: ' : ''}${thrown(e)}`;
    }
    row['prepare()'] = made.map(([p, result], i) => `${i ? 'twin (last character changed)' :
      'player'} ${result}, duration ${p.duration}${p.lastError ? `, error ${failure(p.lastError)}`
      : ''}`).join('; ');
    for (const p of ctx.players.splice(0)) await outcome(p.release(), 5000);
  }
  return rows;
});

async function main() {
  const commit = spawnSync('git', ['-C', tree, 'describe', '--always', '--dirty'],
    { encoding: 'utf8' }).stdout.trim();
  console.log(`# What the app sees: ${tree} (${commit}), ${new Date().toISOString()}\n`);
  console.log('Times in ms from the scenario\'s start (events) or from the call (results); ' +
    'errors as code/engineCode.\n');
  for (const g of groups) {
    const chosen = g.scenarios.filter((s) => !only || only.includes(s.name) ||
      only.includes(g.key));
    if (chosen.length === 0) continue;
    const rows = [];
    for (const s of chosen) {
      process.stderr.write(`${g.key}: ${s.name}\n`);
      rows.push(...await runScenario(s));
    }
    const columns = [...g.columns];
    if (rows.some((r) => r.note)) columns.push('note');
    console.log(`## ${g.title}\n`);
    console.log(`| ${columns.join(' | ')} |`);
    console.log(`|${columns.map(() => '---').join('|')}|`);
    for (const r of rows) console.log(`| ${columns.map((c) => cell(r[c])).join(' | ')} |`);
    console.log('');
  }
  // Everything was released and closed: the process ends on its own, or says what held it.
  setTimeout(() => {
    console.error('still running 10 s after the last scenario: something was left behind');
    process.exit(1);
  }, 10000).unref();
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
