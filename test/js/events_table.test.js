'use strict';
// The engine message table seen from hilog and from the JS listener: for each engine message
// (played by a script: source) the loop's exact lines and the listener's exact arguments.
const test = require('./limited_test.js');
const assert = require('node:assert');
const { hilog } = require('./logfile.js');

const log = hilog();
const { loadModule } = require('./loader.js');
const { until } = require('./proxy_helpers.js');

const m = loadModule();
const SENTINEL = '502,-777,-777';
const received = [];
m._nativeOpenlog('events-table');
m._setMessageListener('events-table', (...args) => received.push(args));

// The loop's own lines and the poster's, without the tag.
const loopLines = (lines) => lines.map((l) => l.slice(l.indexOf(': ') + 2))
  .filter((t) => /^(KVP_MSG|unknown KVP_MSG|napi-->post_event)/.test(t));

let serial = 0;
async function play(item) {
  const id = `table-${++serial}`;
  received.length = 0;
  log.take();
  m._native_init_audio(id);
  m._setDataSource(id, `script:${item};${SENTINEL}`);
  m._prepareAsync(id);
  await until(() => received.some((a) => a[1] === -777), `sentinel of ${item}`);
  m._release(id);
  const lines = loopLines(log.take());
  assert.deepStrictEqual(lines.slice(-1), ['napi-->post_event-->what:3']);
  return { lines: lines.slice(0, -1), events: received.filter((a) => a[1] !== -777) };
}

const post = (what) => `napi-->post_event-->what:${what}`;
const FFFD = '\uFFFD';

// [script item, log lines before the post line, posted tuple or null]
const table = [
  ['0,5,6', ['KVP_MSG_FLUSH:\\n'], [0, 0, 0]],
  ['100,-5,9', ['KVP_MSG_ERROR: -5\\n'], [100, -10000, -5]],
  ['200,7,8', ['KVP_MSG_PREPARED:\\n'], [1, 0, 0]],
  ['300,7,8', ['KVP_MSG_COMPLETED:\\n'], [2, 0, 0]],
  ['400,640,360', ['KVP_MSG_VIDEO_SIZE_CHANGED: 640, 360\\n'], [5, 640, 360]],
  ['401,4,3', ['KVP_MSG_SAR_CHANGED: 4, 3\\n'], [10001, 4, 3]],
  ['402,7,8', ['KVP_MSG_VIDEO_RENDERING_START:\\n'], [200, 3, 0]],
  ['403,7,8', ['KVP_MSG_AUDIO_RENDERING_START:\\n'], [200, 10002, 0]],
  ['404,90,8', ['KVP_MSG_VIDEO_ROTATION_CHANGED: 90\\n'], [200, 10001, 90]],
  ['405,7,8', ['KVP_MSG_AUDIO_DECODED_START:\\n'], [200, 10003, 0]],
  ['406,7,8', ['KVP_MSG_VIDEO_DECODED_START:\\n'], [200, 10004, 0]],
  ['407,7,8', ['KVP_MSG_OPEN_INPUT:\\n'], [200, 10005, 0]],
  ['408,7,8', ['KVP_MSG_FIND_STREAM_INFO:\\n'], [200, 10006, 0]],
  ['409,7,8', ['KVP_MSG_COMPONENT_OPEN:\\n'], [200, 10007, 0]],
  ['410,7,8', ['KVP_MSG_FRAMECHASING_START:\\n'], [200, 10010, 0]],
  ['411,7,8', ['KVP_MSG_FRAMECHASING_END:\\n'], [200, 10011, 0]],
  ['422,0,6,hex:61620d0a6364', ['KVP_MSG_EXT_SEI_NALU:\\n'], [200, 422, 0, 'ab cd']],
  ['428,7,8,str:caption', [], [200, 428, 0, 'caption']],
  ['428,7,8', [], [200, 428, 0]],
  ['428,0,0,hex:6162006364', [], [200, 428, 0, 'ab']],
  ['429,1,2', ['KVP_MSG_AUDIO_INTERRUPT:\\n'], [201, 1, 2]],
  ['500,30,8', ['KVP_MSG_BUFFERING_START:\\n'], [200, 701, 30]],
  ['501,40,8', ['KVP_MSG_BUFFERING_END:\\n'], [200, 702, 40]],
  ['502,-1,2147483647', [], [3, -1, 2147483647]],
  ['503,1,2,str:dropped', [], null],
  ['504,1,2', [], null],
  ['600,7,8', ['KVP_MSG_SEEK_COMPLETE:\\n'], [4, 0, 0]],
  ['700,1,2,str:dropped', [], null],
  ['800,7,8,str:héllo wörld ✓', [], [99, 0, 0, 'héllo wörld ✓']],
  ['800,7,8', [], [99, 0, 0]],
  ['900,1234,8', ['KVP_MSG_ACCURATE_SEEK_COMPLETE:\\n'], [200, 10100, 1234]],
  ['1000,1,2,str:dropped', ['unknown KVP_MSG_xxx(1000)\\n'], null],
  ['201,1,2', ['unknown KVP_MSG_xxx(201)\\n'], null],
  ['-1,1,2,hex:00', ['unknown KVP_MSG_xxx(-1)\\n'], null],
];

test('each engine message: the loop lines and the listener arguments', async (t) => {
  for (const [item, lines, tuple] of table) {
    await t.test(item, async () => {
      const seen = await play(item);
      assert.deepStrictEqual(seen.lines, tuple ? [...lines, post(tuple[0])] : lines);
      assert.deepStrictEqual(seen.events, tuple ? [tuple] : []);
    });
  }
});

// [script item, posted text]: SEI cleaning (code 422) and UTF-8 checking (code 800).
const texts = [
  ['422,0,3,hex:0a6162', ' ab'],
  ['422,0,4,hex:61200a62', 'a b'],
  ['422,0,4,hex:610a0a62', 'a b'],
  ['422,0,3,hex:610962', 'ab'],
  ['422,0,7,hex:61626300646566', 'abc'],
  ['422,0,3,str:abcdef', 'abc'],
  ['422,0,6,hex:61c3a962ff63', 'abc'],
  ['422,0,0,str:abc', ''],
  ['422,0,5', ''],
  ['422,0,-3,str:abc', ''],
  ['800,0,0,hex:61ff62', `a${FFFD}b`],
  ['800,0,0,hex:e282', FFFD],
  ['800,0,0,hex:eda080', FFFD.repeat(3)],
  ['800,0,0,hex:c0af', FFFD.repeat(2)],
  ['800,0,0,hex:f09f8eb5', '\u{1F3B5}'],
];

test('SEI and timed texts reach the listener as cleaned and checked strings', async (t) => {
  for (const [item, text] of texts) {
    await t.test(item, async () => {
      const { events } = await play(item);
      const [what, param1] = item.startsWith('422,') ? [200, 422] : [99, 0];
      assert.deepStrictEqual(events, [[what, param1, 0, text]]);
    });
  }
});
