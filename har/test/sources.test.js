'use strict';
// What the package lets reach the engine as text: the sources it takes (the platform's schemes,
// plus paths and file:// URLs) with the protocol list each carries, and no text the module would
// cut (past 2047 bytes of UTF-8, or at a NUL). Every refusal is a 401 naming the parameter and
// makes no engine call (checked against the engine trace).
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { engineTrace } = require('../../test/js/logfile.js');

const trace = engineTrace();  // before the module loads
// The highest player serial seen so far: a released player's message loop may still be
// ending on its own thread, and its lines are none of a later call's doing.
let lastSerial = 0;
function take() {
  const lines = trace.take();
  for (const line of lines) {
    const m = / #(\d+)/.exec(line);
    if (m) lastSerial = Math.max(lastSerial, Number(m[1]));
  }
  return lines;
}
const { openScriptSources } = require('./ets-require.js');
const kv = require('../Index.ets');
const { loadHost, root } = require('../../test/js/loader.js');
const { createdSerial, playerCalls } = require('../../test/js/proxy_helpers.js');

const TONE = path.join(root, 'examples', 'media', 'tone.m4a');
const NETWORK = 'kvmp_set_option 1 protocol_whitelist http,https,tls,tcp,crypto,httpproxy';
const FILE = 'kvmp_set_option 1 protocol_whitelist file,crypto';

// The engine calls of the player call() creates, as "method args" without the serial.
function engineCalls(call) {
  take();
  call();
  const lines = take();
  const serial = createdSerial(lines);
  return playerCalls(lines, serial).map((l) => l.replace(/ #\d+/, ''))
    .filter((l) => /^kvmp_set_(data_source|option) /.test(l));
}

// A 401 whose message names the parameter and includes each of parts.
const invalid = (name, ...parts) => (e) => {
  assert.ok(e instanceof kv.BusinessError, String(e));
  assert.strictEqual(e.code, kv.ErrorCode.INVALID_PARAMETER, e.message);
  for (const part of [`'${name}'`, ...parts]) assert.ok(e.message.includes(part), e.message);
  return true;
};

// Asserts call throws the 401 and reaches no engine player, nor makes one.
function refused(call, name, ...parts) {
  take();
  const before = lastSerial;
  assert.throws(call, invalid(name, ...parts));
  const ours = (l) => { const m = / #(\d+)/.exec(l); return !m || Number(m[1]) > before; };
  assert.deepStrictEqual(take().filter((l) => l.startsWith('kvmp_') &&
    !l.startsWith('kvmp_global_init') && ours(l)), [], name);
}

test('sources: the platform\'s schemes, paths and file:// URLs, each with its protocol list',
  async () => {
  const fd = fs.openSync(TONE, 'r');
  const players = [];
  const made = (call) => engineCalls(() => {
    const player = kv.createPlayer();
    players.push(player);
    call(player);
  });
  try {
    const rows = [
      ['http://127.0.0.1:9/a.mp3', ['kvmp_set_data_source http://127.0.0.1:9/a.mp3', NETWORK]],
      ['HTTPS://Host/A.mp3', ['kvmp_set_data_source https://Host/A.mp3', NETWORK]],
      [TONE, [`kvmp_set_data_source ${TONE}`, FILE]],
      ['relative/a.mp3', ['kvmp_set_data_source relative/a.mp3', FILE]],
      [`file://${TONE}`, [`kvmp_set_data_source file://${TONE}`, FILE]],
      [`File://${TONE}`, [`kvmp_set_data_source file://${TONE}`, FILE]],
    ];
    for (const [url, calls] of rows) {
      assert.deepStrictEqual(made((p) => p.setSource(url)), calls, url);
      assert.deepStrictEqual(made((p) => p.setMediaSource({ url })), calls, url);
    }
    // A descriptor reaches the engine as the module's duplicate of it, through the same list.
    const [source, list] = made((p) => p.setSource(`fd://${fd}`));
    assert.match(source, /^kvmp_set_data_source pipe:\d+$/);
    assert.strictEqual(list, FILE);
    assert.strictEqual(made((p) => p.setFdSource({ fd, offset: 1, length: 2 }))[1],
      'kvmp_set_option 1 protocol_whitelist subfile,file');
  } finally {
    await Promise.all(players.map((p) => p.release()));
    fs.closeSync(fd);
  }
});

test('any other scheme is 401 naming it, before an engine player exists', () => {
  openScriptSources(false);
  try {
    const rows = [
      ['file:relative.mp3', 'file'], ['concat:/a.mp3|/b.mp3', 'concat'],
      ['subfile,,start,0,end,0,,:/a.mp3', 'subfile'], ['subfile:/a.mp3', 'subfile'],
      ['data:audio/mp3;base64,AAAA', 'data'], ['pipe:0', 'pipe'], ['tcp://127.0.0.1:9', 'tcp'],
      ['udp://127.0.0.1:9', 'udp'], ['unix:/tmp/a.sock', 'unix'], ['crypto+http://h/a', 'crypto+http'],
      ['hls+http://h/a.m3u8', 'hls+http'], ['rtmp://h/a', 'rtmp'], [':a.mp3', ''],
      ['http:/h/a.mp3', 'http'], ['script:200', 'script'],
      // fd://N alone: anything after N would be a path FFmpeg's own fd reader walks.
      ['fd://3/../x', 'fd'], ['fd://3x', 'fd'], ['fd://', 'fd'], ['fd:3', 'fd'],
      ['fd://99999999999', 'fd'],
    ];
    for (const [url, scheme] of rows) {
      refused(() => kv.createPlayer().setSource(url), 'url', `the scheme '${scheme}'`);
      refused(() => kv.createPlayer().setMediaSource({ url }), 'source.url',
        `the scheme '${scheme}'`);
    }
  } finally {
    openScriptSources(true);
  }
});

test('the protocol list is the package\'s: setOption refuses its keys, and a network source ' +
  'opens nothing else', async () => {
  const player = kv.createPlayer({ id: 'sources-options' });
  try {
    for (const key of ['protocol_whitelist', 'protocol_blacklist', 'PROTOCOL_WHITELIST',
      'Protocol_Blacklist']) {
      assert.throws(() => player.setOption(1, key, 'file'), invalid('key', `'${key}'`));
      assert.throws(() => kv.createPlayer({ accurateSeekOption: { category: 1, key } }),
        invalid('options.accurateSeekOption.key'));
    }
  } finally {
    await player.release();
  }
  // A list from the network naming an inline entry, which the app lets the concat reader follow:
  // FFmpeg's own list for http takes data:, the package's does not.
  const clip = execFileSync('ffmpeg', ['-loglevel', 'error', '-i', TONE, '-t', '0.05', '-c', 'copy',
    '-f', 'adts', 'pipe:1']).toString('base64');
  const server = http.createServer((req, res) =>
    res.end(`ffconcat version 1.0\nfile 'data:audio/aac;base64,${clip}'\n`));
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const remote = kv.createPlayer();
  try {
    remote.setSource(`http://127.0.0.1:${server.address().port}/list`);
    remote.setOption(1, 'safe', '0');
    await assert.rejects(remote.prepare(), (e) => e.code === kv.ErrorCode.UNSUPPORTED_FORMAT);
  } finally {
    await remote.release();
    await new Promise((resolve) => server.close(resolve));
  }
});

// A text of exactly bytes bytes of UTF-8 that ends in tail.
const text = (bytes, tail = '') => 'a'.repeat(bytes - Buffer.byteLength(tail)) + tail;

test('texts the module would cut are 401 naming the parameter and the limit; at the limit ' +
  'they arrive whole', async () => {
  const players = [];
  const fresh = (options) => {
    const made = kv.createPlayer(options);
    players.push(made);
    return made;
  };
  const player = fresh({ exported: loadHost().exportTo({}) });
  player.setSource(TONE);
  const url = (t) => `http://h/${t.slice(9)}`;  // the prefix takes 9 bytes of the 2047
  // Each row: parameter, the call with a text, and the engine call a whole text makes (null where
  // the trace cannot show it: an id, a header block's line breaks).
  const rows = [
    ['url', (t) => fresh().setSource(url(t)), (t) => `kvmp_set_data_source ${url(t)}`],
    ['source.url', (t) => fresh().setMediaSource({ url: url(t) }),
      (t) => `kvmp_set_data_source ${url(t)}`],
    // One header, and several together: the block as the module takes it, "name: value\r\n"
    // each, 5 bytes beside the name and value.
    ['source.headers', (t) => fresh().setMediaSource({ url: 'http://h/', headers: { X: t.slice(5) } }),
      null],
    ['source.headers', (t) => fresh().setMediaSource({ url: 'http://h/',
      headers: { A: 'b'.repeat(1000), B: t.slice(1010) } }), null],
    ['options.id', (t) => fresh({ id: t }), null],
    ['options.accurateSeekOption.key', (t) => fresh({ accurateSeekOption: { category: 1, key: t } }),
      null],
    ['key', (t) => player.setOption(1, t, 'v'), (t) => `kvmp_set_option 1 ${t} v`],
    ['value', (t) => player.setOption(1, 'k', t), (t) => `kvmp_set_option 1 k ${t}`],
    ['token', (t) => player.setDecryptToken(t), (t) => `kvmp_set_decrypt_token_for_hls ${t}`],
    ['url', (t) => player.addExternalSubtitle(t), (t) => `kvmp_add_ext_subtitle_url ${t}`],
  ];
  // Last characters across the boundary; a lone surrogate reaches the module as U+FFFD, 3 bytes.
  const tails = ['', 'é', '€', '\u{1F600}', '\ud800'];
  try {
    for (const [name, call, arrives] of rows) {
      for (const tail of tails) {
        const whole = text(2047, tail);
        take();
        call(whole);
        const lines = take().map((l) => l.replace(/ #\d+ /, ' '));
        if (arrives !== null) {
          // As the module reads it: a lone surrogate becomes U+FFFD.
          const expected = Buffer.from(arrives(whole)).toString();
          assert.ok(lines.includes(expected), `${name} ending in ${JSON.stringify(tail)}`);
        }
        refused(() => call(text(2048, tail)), name, '2047 bytes in UTF-8');
      }
    }
    // A NUL would end the text there: 'a\0x' and 'a\0y' would be one id.
    const nul = 'a\0x';
    const nuls = [
      ['url', () => fresh().setSource(`http://h/${nul}`)],
      ['source.url', () => fresh().setMediaSource({ url: `http://h/${nul}` })],
      ['source.headers.X', () => fresh().setMediaSource({ url: 'http://h/', headers: { X: nul } })],
      ['options.id', () => fresh({ id: nul })],
      ['options.accurateSeekOption.key',
        () => fresh({ accurateSeekOption: { category: 1, key: nul } })],
      ['key', () => player.setOption(1, nul, 'v')],
      ['value', () => player.setOption(1, 'k', nul)],
      ['token', () => player.setDecryptToken(nul)],
      ['url', () => player.addExternalSubtitle(nul)],
    ];
    for (const [name, call] of nuls) refused(call, name, 'NUL');
    // A header's name is a token: with a ':' in it, "X:Y: v" would be header X of value "Y: v".
    for (const name of ['X:Y', 'X Y', 'X\0', '', 'Ä']) {
      refused(() => fresh().setMediaSource({ url: 'http://h/', headers: { [name]: 'v' } }),
        'source.headers', 'token');
    }
  } finally {
    await Promise.all(players.map((p) => p.release()));
  }
});
