'use strict';
// The package as the platform's tools see it: its JSON5 files parse and name paths that exist,
// versions and licence agree, and the ArkTS front end finds nothing in the package and in the
// consumer sample, while it does report a file that breaks the rules.
const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const JSON5 = require('json5');
const { check, root } = require('./arkts-check.js');

const files = (dir, ext) => fs.readdirSync(path.join(root, dir), { recursive: true })
  .filter((f) => f.endsWith(ext)).map((f) => path.join(root, dir, f));
const json5 = (file) => JSON5.parse(fs.readFileSync(file, 'utf8'));
const CONSUMER = 'examples/arkts-consumer';

test('JSON5 files parse, name existing paths, and agree on version and licence', () => {
  const packages = [...files('har', '.json5'), ...files(CONSUMER, '.json5'),
    ...files('types', '.json5')];
  assert.strictEqual(packages.length, 5);
  const named = [];
  for (const file of packages) {
    const doc = json5(file);
    const at = (p) => named.push(path.resolve(path.dirname(file), p));
    if (doc.main) at(doc.main);
    if (doc.types) at(doc.types);
    for (const dep of Object.values(doc.dependencies || {})) at(dep.replace(/^file:/, ''));
    const native = doc.buildOption && doc.buildOption.externalNativeOptions;
    if (native) at(native.path);
  }
  assert.strictEqual(named.length, 5);
  for (const p of named) assert.ok(fs.existsSync(p), p);

  const manifests = packages.filter((f) => f.endsWith('oh-package.json5')).map(json5);
  const version = json5(path.join(root, 'har', 'oh-package.json5')).version;
  assert.deepStrictEqual(manifests.map((m) => [m.version, m.license]),
    manifests.map(() => [version, 'Apache-2.0']));
  assert.match(fs.readFileSync(path.join(root, 'CHANGELOG.md'), 'utf8'),
    new RegExp(`^## ${version.replace(/\./g, '\\.')} `, 'm'));
  assert.match(fs.readFileSync(path.join(root, 'LICENSE'), 'utf8'),
    /Apache License\s+Version 2\.0/);
  assert.strictEqual(json5(path.join(root, 'har', 'src', 'main', 'module.json5')).module.type,
    'har');
});

test('the ArkTS front end finds nothing in the package and the consumer sample', () => {
  const sources = [...files('har', '.ets'), ...files(CONSUMER, '.ets')];
  assert.ok(sources.length >= 7);
  assert.deepStrictEqual(check(sources), []);
});

// The front end's diagnostics for a file of these lines, in a folder removed afterwards.
function checkLines(lines) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavori-arkts-'));
  try {
    const file = path.join(dir, 'Use.ets');
    fs.writeFileSync(file, lines.join('\n'));
    return check([file]);
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

test('the ArkTS front end reports type errors, rule violations and the typings it checks', () => {
  const codes = checkLines([
    "import kavori from 'libkavoriplayer_audio_napi.so';",
    "var options = { id: 'a' };",
    "kavori._seekTo('a', 1500);",
    "kavori._startRecord('a', 1);",
  ]).map((d) => d.replace(/^.*? (TS\d+):.*?(\(arkts-[\w-]+\))?$/, '$1 $2'));
  assert.deepStrictEqual(codes.sort(), ['TS2339 ', 'TS2345 ',
    'TS38 (arkts-no-untyped-obj-literals)', 'TS5 (arkts-no-var)']);
});

test('seek takes a SeekMode second; a number of milliseconds there is a type error', () => {
  const found = checkLines([
    "import { createPlayer, KavoriPlayer, SeekMode } from '@kavori/player';",
    'const player: KavoriPlayer = createPlayer();',
    'player.seek(1000, SeekMode.SEEK_CLOSEST);',
    'player.seek(1000);',
    'player.seek(1000, 50);',
    'const timeoutMs: number = 2;',
    'player.seek(1000, timeoutMs);',
  ]).map((d) => d.replace(/^.*?:(\d+) (TS\d+):.*$/, '$1 $2'));
  assert.deepStrictEqual(found, ['5 TS2345', '7 TS2345']);
});
