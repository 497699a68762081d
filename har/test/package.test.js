'use strict';
// The package as the platform's tools see it: its JSON5 files parse and name paths that exist,
// versions and licence agree, and the ArkTS front end finds nothing in the package and in the
// consumer sample, while it does report a file that breaks the rules.
const test = require('../../test/js/limited_test.js');
const assert = require('node:assert');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const JSON5 = require('json5');
const { check, root } = require('./arkts-check.js');
const { checkExample, filesUnder, missingReferences, packedFiles, stagePackage, writeArchive } =
  require('./pack.js');

const files = (dir, ext) => fs.readdirSync(path.join(root, dir), { recursive: true })
  .filter((f) => f.endsWith(ext)).map((f) => path.join(root, dir, f));
const json5 = (file) => JSON5.parse(fs.readFileSync(file, 'utf8'));
const CONSUMER = 'examples/arkts-consumer';

test('JSON5 files parse, name existing paths, and agree on version and licence', () => {
  const packages = [...files('har', '.json5'), ...files(CONSUMER, '.json5')];
  assert.strictEqual(packages.length, 7);
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
  // The package ships its own copies; the repository's are the ones edited.
  for (const file of ['CHANGELOG.md', 'LICENSE']) {
    assert.ok(fs.readFileSync(path.join(root, 'har', file)).equals(
      fs.readFileSync(path.join(root, file))), `har/${file} differs from ${file}: cp ${file} har/`);
  }
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

test('the example module names resources and sources it has, and its page is the README\'s', () => {
  const main = path.join(root, CONSUMER, 'src', 'main');
  const { module } = json5(path.join(main, 'module.json5'));
  const resource = { string: 'element/string.json', color: 'element/color.json' };
  const refs = JSON.stringify(module).match(/\$\w+:\w+/g);
  assert.ok(refs.length >= 7);
  for (const ref of refs) {
    const [, type, name] = ref.match(/^\$(\w+):(\w+)$/);
    const base = path.join(main, 'resources', 'base');
    const found = resource[type]
      ? json5(path.join(base, resource[type]))[type].some((e) => e.name === name)
      : fs.readdirSync(path.join(base, type)).some((f) => f.replace(/\.\w+$/, '') === name);
    assert.ok(found, ref);
  }
  const pages = json5(path.join(main, 'resources', 'base', 'profile', 'main_pages.json')).src;
  for (const entry of [...pages.map((p) => `./ets/${p}.ets`),
    ...module.abilities.map((a) => a.srcEntry)]) {
    assert.ok(fs.existsSync(path.join(main, entry)), entry);
  }
  const page = fs.readFileSync(path.join(main, 'ets', 'pages', 'Index.ets'), 'utf8');
  assert.ok(fs.readFileSync(path.join(root, 'har', 'README.md'), 'utf8')
    .includes(`\`\`\`typescript\n${page}\`\`\``), 'har/README.md shows the page as it is');
  assert.ok(fs.readFileSync(path.join(main, 'resources', 'rawfile', 'tone.m4a')).equals(
    fs.readFileSync(path.join(root, 'examples', 'media', 'tone.m4a'))));
});

// Packing in a scratch folder: the module's files staged with a stand-in for the native library
// (any bytes: the library itself is make pack's to check), f given the staged package's folder.
function staged(moduleDir, f, libs = ['libkavoriplayer_audio_napi.so']) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavori-pack-test-'));
  const stage = stagePackage(moduleDir, packedFiles(moduleDir), libs.map((name) => {
    fs.writeFileSync(path.join(dir, name), 'ELF');
    return path.join(dir, name);
  }));
  try {
    return f(path.join(stage, 'package'), stage, dir);
  } finally {
    fs.rmSync(stage, { recursive: true, force: true });
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

test('the packed files hold what the manifest and sources name; the example builds on them', () => {
  staged(path.join(root, 'har'), (pkg, stage, dir) => {
    const packed = filesUnder(pkg);
    assert.ok(packed.includes('src/main/cpp/types/libkavoriplayer_audio_napi/index.d.ts'));
    assert.ok(packed.includes('libs/arm64-v8a/libkavoriplayer_audio_napi.so'));
    assert.deepStrictEqual(packed.filter((f) => /^(test|engine)\/|CMakeLists/.test(f)), []);
    assert.deepStrictEqual(missingReferences(pkg, packed), []);
    const profile = JSON5.parse(fs.readFileSync(path.join(pkg, 'build-profile.json5'), 'utf8'));
    assert.deepStrictEqual(profile, { apiType: 'stageMode', targets: [{ name: 'default' }] });
    const archive = writeArchive(stage, dir);
    assert.deepStrictEqual(checkExample(archive, path.join(root, CONSUMER)).diagnostics, []);
  });
});

test('packing refuses a package that lacks what it names', () => {
  const cases = [
    ['a dependency outside the module', 'oh-package.json5',
      (t) => t.replace('file:./src/main/cpp/types', 'file:../types'), /lies outside the package/],
    ['typings left out', '.ohpmignore', (t) => `${t}^src/main/cpp/\n`,
      /dependency libkavoriplayer_audio_napi.so '.*' is not in the archive/],
    ['an imported file left out', '.ohpmignore', (t) => `${t}^src/main/ets/MediaMeta\n`,
      /import 'src\/main\/ets\/MediaMeta' is not in the archive/],
    ['main missing', 'oh-package.json5', (t) => t.replace('"Index.ets"', '"Main.ets"'),
      /main 'Main.ets' is not in the archive/],
    ['an empty licence', 'LICENSE', () => '', /LICENSE: missing or empty/],
    ['no native library', 'LICENSE', (t) => t,
      /native library libkavoriplayer_audio_napi.so 'libs\/arm64-v8a\/.*' is not in the archive/, []],
    ['a library of another name', 'LICENSE', (t) => t,
      /native library libkavoriplayer_audio_napi.so .* is not in the archive/, ['libother.so']],
  ];
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'kavori-pack-test-'));
  try {
    for (const [what, file, change, expected, libs] of cases) {
      const copy = path.join(dir, 'har');
      fs.rmSync(copy, { recursive: true, force: true });
      fs.cpSync(path.join(root, 'har'), copy, { recursive: true });
      const target = path.join(copy, file);
      fs.writeFileSync(target, change(fs.readFileSync(target, 'utf8')));
      staged(copy, (pkg, stage, out) => {
        const problems = missingReferences(pkg, filesUnder(pkg));
        assert.ok(problems.some((p) => expected.test(p)), `${what}: ${problems.join('; ')}`);
        if (what === 'typings left out') {
          const diagnostics = checkExample(writeArchive(stage, out), path.join(root, CONSUMER))
            .diagnostics;
          assert.ok(diagnostics.some((d) => d.includes('TS28014')), diagnostics.join('\n'));
        }
      }, libs);
    }
    // The source folder builds the module itself; an archive must not.
    const har = path.join(root, 'har');
    assert.ok(missingReferences(har, packedFiles(har)).some((p) =>
      /build-profile.json5: builds native code/.test(p)));
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
