'use strict';
// The shipped typings: they compile against a usage example and name exactly the methods the
// module defines on its exports and through the host's Export call.
const test = require('./limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { loadModule, loadHost, root } = require('./loader');

const typings = fs.readFileSync(path.join(root, 'har', 'src', 'main', 'cpp', 'types',
  'libkavoriplayer_audio_napi', 'index.d.ts'), 'utf8');

// Method names declared in one interface block of the typings and the blocks it extends.
function declaredMethods(interfaceName) {
  const start = typings.indexOf(`export interface ${interfaceName}`);
  assert.notStrictEqual(start, -1, interfaceName);
  const body = typings.slice(start, typings.indexOf('\n}', start));
  const base = body.match(/^export interface \w+ extends (\w+)/);
  const own = [...body.matchAll(/^ {2}(_\w+)\(/gm)].map((m) => m[1]);
  return base ? [...declaredMethods(base[1]), ...own] : own;
}

test('the usage example type-checks and each of its marked mistakes is a type error', () => {
  execFileSync('npx', ['--no-install', 'tsc', '--noEmit', '--strict', '--target', 'es2019',
    '--module', 'commonjs', '--lib', 'es2019', path.join('test', 'types', 'usage.ts')],
  { cwd: root, stdio: 'pipe' });
});

test('module methods match the typings', () => {
  const m = loadModule();
  const routing = declaredMethods('KavoriPlayerRouting');
  const all = Object.getOwnPropertyNames(m).filter((n) => n.startsWith('_'));
  const actual = all.filter((n) => !routing.includes(n));
  assert.deepStrictEqual(actual.sort(), declaredMethods('KavoriPlayerMethods').sort());
  assert.strictEqual(actual.length, 33);
  assert.deepStrictEqual(all.filter((n) => routing.includes(n)).sort(), [...routing].sort());
  const proto = Object.getOwnPropertyNames(m.newKavoriPlayerAudio.prototype)
    .filter((n) => n.startsWith('_'));
  assert.deepStrictEqual(proto.sort(), actual.sort());
});

test('export methods match the typings', () => {
  const exported = Object.getOwnPropertyNames(loadHost().exportTo({})).sort();
  assert.deepStrictEqual(exported, declaredMethods('KavoriPlayerExportMethods').sort());
  assert.strictEqual(exported.length, 35);
});
