'use strict';
// What the package README tells an app holds to the code: its Events and Streams tables to the
// player's on() overloads, its links to the archive, its list of engine functions to what the
// module imports. Each check is also fed wrong copies it must report.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { checkReadme, readSources } = require('./docs-check.js');
const {
  readmeLinkProblems, engineImportProblems, filesUnder, undefinedSymbols
} = require('./pack.js');
const { root } = require('./arkts-check.js');

const README = fs.readFileSync(path.join(root, 'har', 'README.md'), 'utf8');
const SOURCES = readSources();
const PLAYER = 'KavoriPlayer.ets';

// The copy with `from` replaced by `to`; the copy must differ, or the case proves nothing.
function edited(text, from, to) {
  const copy = text.replace(from, to);
  assert.notStrictEqual(copy, text, `no '${from}' to replace`);
  return copy;
}

const row = (name) => new RegExp(`^\\| \`${name}\` \\|.*\\n`, 'm');

test('the package README\'s event tables are the on() overloads', () => {
  assert.deepStrictEqual(checkReadme(README, SOURCES), []);
});

test('wrong event tables in the README are reported', () => {
  const streamsRow = (situation) => new RegExp(`^\\| ${situation} \\|.*$`, 'm');
  const cases = [
    // [what is wrong, the wrong copy, what the check must say]
    ['the 3.0 bufferingUpdate row', edited(README, row('bufferingUpdate'),
      '| `bufferingUpdate` | `(update: BufferingUpdate)`: `value1`, `value2` | progress |\n'),
    /'bufferingUpdate': payload \(update: BufferingUpdate\), on\(\) gives \(infoType: Buffer/],
    ['a parameter renamed', edited(README, '`(volume: number)`', '`(level: number)`'),
      /'volumeChange': payload \(level: number\)/],
    ['a parameter type changed', edited(README, '`(state: PlayerState, previous: PlayerState)`',
      '`(state: PlayerState, previous: string)`'), /'stateChange': payload .*previous: string/],
    ['a payload left out', edited(README, '| `info` | `(info: InfoEvent)`', '| `info` | a notice'),
      /'info': payload 'a notice: .*' is neither none/],
    ['a missing row', edited(README, row('sarChange'), ''),
      /event 'sarChange' \(ratio: AspectRatio\) of on\(\) has no row/],
    ['a missing notice row', edited(README, row('frameChasingEnd'), ''),
      /event 'frameChasingEnd' .* has no row/],
    ['an extra row', edited(README, row('flush'), '$&| `endOfStream` | none | the end |\n'),
      /'endOfStream' is no event of the player's on\(\) overloads/],
    ['a row twice', edited(README, row('flush'), '$&$&'), /'flush' is listed twice/],
    ['no Events table', edited(README, '| Event | Payload | When |', '| Name | Payload | When |'),
      /no Events table/],
    ['a state no player has', edited(README, streamsRow('cut mid-play \\(a\\)'),
      (r) => r.replace('stateChange(\'error\')', 'stateChange(\'failed\')')),
    /Streams 'stateChange\('failed'\)': ''failed'' is no PlayerState \(state\)/],
    ['an info type the enum lacks', edited(README, 'bufferingUpdate(BUFFERING_END, 0)',
      'bufferingUpdate(BUFFERING_STOP, 0)'), /'BUFFERING_STOP' is no BufferingInfoType/],
    ['an event no overload has', edited(README, '`bufferingEnd` | playing',
      '`bufferingStop` | playing'), /Streams 'bufferingStop' names no event/],
    ['too many arguments', edited(README, 'durationUpdate(-1)', 'durationUpdate(-1, 0)'),
      /'durationUpdate\(-1, 0\)': 2 arguments, on\(\) gives \(timeMs: number\)/],
    ['a payload without its event', edited(README, 'bufferingUpdate(BUFFERING_PERCENT, 100)',
      '(BUFFERING_PERCENT, 100)'), /'\(BUFFERING_PERCENT, 100\)' gives a payload without/],
    ['no Streams table', edited(README, '| Events, in order |', '| Events |'), /no Streams table/],
  ];
  for (const [name, copy, expected] of cases) {
    const problems = checkReadme(copy, SOURCES);
    assert.ok(problems.some((p) => expected.test(p)), `${name}: ${problems.join('; ')}`);
  }
});

test('typings that moved away from the README are reported', () => {
  const player = SOURCES[PLAYER];
  const cases = [
    ['an overload added', edited(player, '  on(type: \'timedText\'',
      '  on(type: \'endOfStream\', callback: () => void): void;\n$&'),
    /event 'endOfStream' \(\) of on\(\) has no row/],
    ['a callback parameter renamed', edited(player, '(infoType: BufferingInfoType, value: number)',
      '(type: BufferingInfoType, value: number)'),
    /'bufferingUpdate': payload \(infoType: .*on\(\) gives \(type: BufferingInfoType/],
    ['a notice name gone', null, /'sei' is no event of the player's on\(\) overloads/],
  ];
  for (const [name, source, expected] of cases) {
    const sources = source === null
      ? { ...SOURCES, 'Events.ets': edited(SOURCES['Events.ets'], '\'videoRenderingStart\' | \'sei\'',
        '\'videoRenderingStart\'') }
      : { ...SOURCES, [PLAYER]: source };
    const problems = checkReadme(README, sources);
    assert.ok(problems.some((p) => expected.test(p)), `${name}: ${problems.join('; ')}`);
  }
});

test('README links that leave the archive are reported, links inside it pass', () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavori-docs-'));
  try {
    const write = (rel, text) => {
      fs.mkdirSync(path.dirname(path.join(dir, rel)), { recursive: true });
      fs.writeFileSync(path.join(dir, rel), text);
    };
    write('LICENSE', 'licence');
    write('CHANGELOG.md', '# Changelog\n\n## 4.0.0 (2026-12-08)\n');
    write('src/main/cpp/types/lib/index.d.ts', '');
    const cases = [
      // [a line of the README, what the check must say, or null when it passes]
      ['[licence](LICENSE) and [types](src/main/cpp/types/lib/index.d.ts)', null],
      ['[a section](#a-section), [changes](CHANGELOG.md#400-2026-12-08)', null],
      ['`[not a link](../x.md)` in code', null],
      ['[engine](engine/README.md)', /'engine\/README\.md', which is not in the archive/],
      ['[repo](../README.md#streams)', /names '\.\.\/README\.md', which is not in the archive/],
      ['[example](../examples/arkts-consumer)', /not in the archive/],
      ['[site](https://example.com/kavori)', /'https:\/\/example\.com\/kavori' leaves the archive/],
      ['[streams](#streams)', /'README\.md' has no heading '#streams'/],
      ['[changes](CHANGELOG.md#3.0.0)', /'CHANGELOG\.md' has no heading '#3\.0\.0'/],
      ['[ref]: ../docs/device.md', /'\.\.\/docs\/device\.md', which is not in the archive/],
    ];
    for (const [line, expected] of cases) {
      write('README.md', `# Title\n\n## A section\n\n${line}\n\n\`\`\`\n[x](../in-code.md)\n\`\`\`\n`);
      const problems = readmeLinkProblems(dir, filesUnder(dir));
      if (expected === null) {
        assert.deepStrictEqual(problems, [], line);
      } else {
        assert.ok(problems.length === 1 && expected.test(problems[0]), `${line}: ${problems}`);
      }
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

test('the README\'s engine functions are what the module imports', () => {
  const listed = (names) => `<!-- engine-imports -->\n\`\`\`\n${names.join('  ')}\n\`\`\`\n`;
  const imported = ['kvmp_create', 'kvmp_start', 'av_log_set_level', 'napi_create_object', 'free'];
  const cases = [
    [['kvmp_create', 'kvmp_start', 'av_log_set_level'], []],
    [['kvmp_create', 'av_log_set_level'], ['the module imports kvmp_start, which the engine list']],
    [['kvmp_create', 'kvmp_start', 'kvmp_stop', 'av_log_set_level'],
      ['the engine list names kvmp_stop, which the module does not import']],
  ];
  for (const [names, expected] of cases) {
    const problems = engineImportProblems(listed(names), imported);
    assert.strictEqual(problems.length, expected.length, problems.join('; '));
    expected.forEach((e, i) => assert.ok(problems[i].includes(e), problems[i]));
  }
  assert.match(engineImportProblems('no list', imported)[0], /no list of the engine functions/);
  // The built module, as make test has it, imports exactly what the README lists.
  const lib = path.join(path.resolve(root, process.env.KAVORI_BUILD_DIR || 'build'),
    'libkavoriplayer_audio_napi.so');
  assert.deepStrictEqual(engineImportProblems(README, undefinedSymbols(lib)), []);
});
