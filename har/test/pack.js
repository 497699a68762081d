'use strict';
// The package as an app developer receives it: the files ohpm packs (what lies inside the module,
// minus the built-in exclusions and the patterns of .ohpmignore and .gitignore), the native module
// prebuilt under libs/<abi>/ with a build profile that builds nothing native, checked to hold
// every path the manifest and the sources name, written as a .har (a gzipped tar of package/),
// then unpacked in a scratch folder where the example app module is checked against it alone.
// As a command: node har/test/pack.js --native LIB [--module DIR] [--example DIR] [--out DIR]
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const JSON5 = require('json5');
const { check, root } = require('./arkts-check.js');

// Left out of every HAR, whatever the ignore files say.
const BUILT_IN_DIRS = ['build', 'node_modules', 'oh_modules', '.cxx', '.preview', '.hvigor'];
const BUILT_IN_FILES = ['.gitignore', '.ohpmignore', 'CMakeLists.txt'];
const PUBLISH_FILES = ['oh-package.json5', 'README.md', 'CHANGELOG.md', 'LICENSE'];
const SOURCE = /\.(ets|ts)$/;
// The module's one ABI: where an app's build takes the package's prebuilt native library.
const ABI = 'arm64-v8a';
const NATIVE_MODULE = 'libkavoriplayer_audio_napi.so';
const RESOLVE_SUFFIXES = ['', '.ets', '.ts', '.d.ets', '.d.ts', '/Index.ets', '/index.ets',
  '/index.ts', '/index.d.ts'];

const readLines = (file) => (fs.existsSync(file) ? fs.readFileSync(file, 'utf8') : '')
  .split('\n').map((l) => l.trim()).filter((l) => l && !l.startsWith('#'));

// .gitignore lines are globs: '*' within a name, '**' across folders, a leading '/' anchors.
function globToRegExp(glob) {
  const anchored = glob.startsWith('/');
  const body = glob.replace(/^\//, '').replace(/\/$/, '').replace(/[.+^${}()|[\]\\]/g, '\\$&')
    .replace(/\*\*/g, '\0').replace(/\*/g, '[^/]*').replace(/\?/g, '[^/]').replace(/\0/g, '.*');
  return new RegExp(`${anchored ? '^' : '(^|/)'}${body}(/|$)`);
}

// Module-relative paths (with '/'), sorted, of the files the archive holds.
function packedFiles(moduleDir) {
  const ignore = [...readLines(path.join(moduleDir, '.ohpmignore')).map((l) => new RegExp(l)),
    ...readLines(path.join(moduleDir, '.gitignore')).map(globToRegExp)];
  const ignored = (rel) => ignore.some((re) => re.test(rel));
  const files = [];
  const walk = (rel) => {
    for (const entry of fs.readdirSync(path.join(moduleDir, rel), { withFileTypes: true })) {
      const child = rel ? `${rel}/${entry.name}` : entry.name;
      if (entry.isDirectory()) {
        if (!BUILT_IN_DIRS.includes(entry.name) && !ignored(`${child}/`)) walk(child);
      } else if (!BUILT_IN_FILES.includes(entry.name) && !ignored(child)) {
        files.push(child);
      }
    }
  };
  walk('');
  return files.sort();
}

// Every path the manifest and the sources name that the archive lacks, one line each.
function missingReferences(moduleDir, files) {
  const have = new Set(files);
  const problems = [];
  const inside = (from, ref, what) => {
    const rel = path.posix.normalize(path.posix.join(path.posix.dirname(from), ref));
    if (rel.startsWith('../')) {
      problems.push(`${from}: ${what} '${ref}' lies outside the package`);
      return null;
    }
    return rel;
  };
  const need = (from, rel, what, suffixes = ['']) => {
    if (rel !== null && !suffixes.some((s) => have.has(rel + s))) {
      problems.push(`${from}: ${what} '${rel}' is not in the archive`);
    }
  };
  for (const file of PUBLISH_FILES) {
    if (!have.has(file) || fs.statSync(path.join(moduleDir, file)).size === 0) {
      problems.push(`${file}: missing or empty, and publishing needs it`);
    }
  }
  if (have.has('build-profile.json5')) {
    const profile = JSON5.parse(fs.readFileSync(path.join(moduleDir, 'build-profile.json5'),
      'utf8'));
    if ((profile.buildOption || {}).externalNativeOptions) {
      problems.push('build-profile.json5: builds native code (externalNativeOptions), which an ' +
        'archive carries prebuilt under libs/ instead');
    }
  }
  for (const manifest of files.filter((f) => path.posix.basename(f) === 'oh-package.json5')) {
    const doc = JSON5.parse(fs.readFileSync(path.join(moduleDir, manifest), 'utf8'));
    for (const key of ['main', 'types']) {
      if (doc[key]) need(manifest, inside(manifest, doc[key], key), key);
    }
    for (const [name, version] of Object.entries(doc.dependencies || {})) {
      // A native module's typings package is named after the library the app loads.
      if (manifest === 'oh-package.json5' && name.endsWith('.so')) {
        need(manifest, `libs/${ABI}/${name}`, `native library ${name}`);
      }
      if (!version.startsWith('file:')) continue;
      const dep = inside(manifest, version.slice(5), `dependency ${name}`);
      need(manifest, dep, `dependency ${name}`, ['', '/oh-package.json5']);
    }
  }
  const imports = /(?:\bfrom\s+|\bimport\s*\(?\s*)'(\.{1,2}\/[^']*)'/g;
  for (const source of files.filter((f) => SOURCE.test(f))) {
    const text = fs.readFileSync(path.join(moduleDir, source), 'utf8');
    for (const [, ref] of text.matchAll(imports)) {
      need(source, inside(source, ref, 'import'), 'import', RESOLVE_SUFFIXES);
    }
  }
  return problems;
}

// GitHub's anchor of each heading of a Markdown text, repeats numbered as it numbers them.
function headingAnchors(markdown) {
  const seen = new Map();
  const anchors = new Set();
  for (const [, title] of proseOf(markdown).matchAll(/^#{1,6}\s+(.*)$/gm)) {
    const base = title.trim().toLowerCase().replace(/[^\p{L}\p{N} _-]/gu, '').replace(/ /g, '-');
    const n = seen.get(base) || 0;
    seen.set(base, n + 1);
    anchors.add(n === 0 ? base : `${base}-${n}`);
  }
  return anchors;
}

// The text outside fenced code blocks and code spans, where links are links.
const proseOf = (markdown) => markdown.replace(/^```[^]*?^```/gm, '').replace(/`[^`\n]*`/g, '');

// Every link of the archive's README that does not land inside the archive: a scheme leaves it,
// a relative path must name one of its files, a #section a heading of that file.
function readmeLinkProblems(pkgDir, files, readme = 'README.md') {
  const have = new Set(files);
  const text = fs.readFileSync(path.join(pkgDir, readme), 'utf8');
  const problems = [];
  const links = [...proseOf(text).matchAll(/\]\(\s*<?([^)\s>]+)>?(?:\s+"[^"]*")?\s*\)/g),
    ...proseOf(text).matchAll(/^\s*\[[^\]]+\]:\s*<?(\S+?)>?(?:\s|$)/gm)].map((m) => m[1]);
  for (const link of links) {
    if (/^[a-z][a-z0-9+.-]*:/i.test(link)) {
      problems.push(`${readme}: link '${link}' leaves the archive`);
      continue;
    }
    const [target, anchor] = link.split('#');
    const rel = target === '' ? readme
      : path.posix.normalize(path.posix.join(path.posix.dirname(readme), target));
    if (rel.startsWith('../') || !(have.has(rel) || files.some((f) => f.startsWith(`${rel}/`)))) {
      problems.push(`${readme}: link '${link}' names '${rel}', which is not in the archive`);
    } else if (anchor !== undefined && rel.endsWith('.md') &&
        !headingAnchors(fs.readFileSync(path.join(pkgDir, rel), 'utf8')).has(anchor)) {
      problems.push(`${readme}: link '${link}': '${rel}' has no heading '#${anchor}'`);
    }
  }
  return problems;
}

// The engine functions the README lists (the code block after its engine-imports mark) against
// those the module imports (its undefined kvmp_* and av_* symbols), both ways.
const ENGINE_NAME = /\b(?:kvmp|av)_[A-Za-z0-9_]+\b/g;
function engineImportProblems(readme, imported) {
  const block = readme.match(/<!-- engine-imports[^]*?-->\s*```[^\n]*\n([^]*?)```/);
  if (block === null) return ['README.md: no list of the engine functions (<!-- engine-imports -->)'];
  const listed = new Set(block[1].match(ENGINE_NAME) || []);
  const wanted = new Set(imported.filter((n) => /^(kvmp|av)_/.test(n)));
  return [...[...wanted].filter((n) => !listed.has(n)).sort()
    .map((n) => `README.md: the module imports ${n}, which the engine list lacks`),
  ...[...listed].filter((n) => !wanted.has(n)).sort()
    .map((n) => `README.md: the engine list names ${n}, which the module does not import`)];
}

// The dynamic symbols a library takes from others.
const undefinedSymbols = (lib) => execFileSync('nm', ['-D', '--undefined-only', lib],
  { encoding: 'utf8' }).split('\n').map((l) => l.trim().split(/\s+/).pop()).filter(Boolean)
  .map((n) => n.replace(/@.*$/, ''));

// The archive's tree in a new scratch folder, under package/: the module's packed files, each
// native library in libs/<abi>/, and the build profile without its native build, which names
// the source tree's CMake project. Returns the scratch folder; the caller removes it.
function stagePackage(moduleDir, files, libs = []) {
  const stage = fs.mkdtempSync(path.join(os.tmpdir(), 'kavori-pack-'));
  const pkg = path.join(stage, 'package');
  const copy = (from, rel) => {
    fs.mkdirSync(path.dirname(path.join(pkg, rel)), { recursive: true });
    fs.copyFileSync(from, path.join(pkg, rel));
  };
  for (const file of files) copy(path.join(moduleDir, file), file);
  for (const lib of libs) copy(lib, `libs/${ABI}/${path.basename(lib)}`);
  const profileFile = path.join(pkg, 'build-profile.json5');
  if (fs.existsSync(profileFile)) {
    const profile = JSON5.parse(fs.readFileSync(profileFile, 'utf8'));
    if (profile.buildOption) delete profile.buildOption.externalNativeOptions;
    if (profile.buildOption && Object.keys(profile.buildOption).length === 0) {
      delete profile.buildOption;
    }
    fs.writeFileSync(profileFile, `// The native module comes prebuilt in libs/${ABI}/.\n` +
      `${JSON.stringify(profile, null, 2)}\n`);
  }
  return stage;
}

// Package-relative paths (with '/'), sorted, of every file under dir.
const filesUnder = (dir) => fs.readdirSync(dir, { recursive: true })
  .filter((f) => fs.statSync(path.join(dir, f)).isFile()).map((f) => f.split(path.sep).join('/'))
  .sort();

// Writes the staged package as outDir/<name>-<version>.har, in place of any earlier archive.
function writeArchive(stage, outDir) {
  const manifest = JSON5.parse(fs.readFileSync(path.join(stage, 'package', 'oh-package.json5'),
    'utf8'));
  const name = `${manifest.name.replace(/^@/, '').replace('/', '-')}-${manifest.version}.har`;
  fs.mkdirSync(outDir, { recursive: true });
  for (const old of fs.readdirSync(outDir).filter((f) => f.endsWith('.har'))) {
    fs.rmSync(path.join(outDir, old));
  }
  const archive = path.join(outDir, name);
  execFileSync('tar', ['-czf', archive, '--sort=name', '--owner=0', '--group=0',
    '--mtime=@0', '-C', stage, 'package']);
  return archive;
}

// Lays out an app module beside the unpacked archive, as ohpm installs it under oh_modules, and
// checks the module's sources with the front end: the package resolves only from the archive.
function checkExample(archive, exampleDir) {
  const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'kavori-app-'));
  try {
    const installed = path.join(scratch, 'oh_modules', '@kavori', 'player');
    fs.mkdirSync(installed, { recursive: true });
    execFileSync('tar', ['-xzf', archive, '-C', installed, '--strip-components=1']);
    const manifest = JSON5.parse(fs.readFileSync(path.join(installed, 'oh-package.json5'), 'utf8'));
    const paths = { [manifest.name]: [path.join(installed, manifest.main || 'Index.ets')] };
    for (const [name, version] of Object.entries(manifest.dependencies || {})) {
      // One the archive lacks stays unresolved, as in an app that installed the archive.
      const dep = path.join(installed, version.replace(/^file:/, ''));
      const depManifest = path.join(dep, 'oh-package.json5');
      if (!fs.existsSync(depManifest)) continue;
      paths[name] = [path.join(dep, JSON5.parse(fs.readFileSync(depManifest, 'utf8')).types)];
    }
    const entry = path.join(scratch, 'entry');
    fs.cpSync(exampleDir, entry, { recursive: true });
    const sources = fs.readdirSync(entry, { recursive: true }).filter((f) => f.endsWith('.ets'))
      .map((f) => path.join(entry, f));
    return { sources: sources.map((f) => path.relative(scratch, f)),
      diagnostics: check(sources, { baseUrl: scratch, paths }) };
  } finally {
    fs.rmSync(scratch, { recursive: true, force: true });
  }
}

module.exports = { packedFiles, stagePackage, filesUnder, missingReferences, writeArchive,
  checkExample, readmeLinkProblems, engineImportProblems, undefinedSymbols };

function main() {
  const arg = (flag, fallback) => {
    const i = process.argv.indexOf(flag);
    return path.resolve(i > 0 ? process.argv[i + 1] : fallback);
  };
  const moduleDir = arg('--module', path.join(root, 'har'));
  const libs = process.argv.flatMap((a, i) => (a === '--native'
    ? [path.resolve(process.argv[i + 1])] : []));
  const stage = stagePackage(moduleDir, packedFiles(moduleDir), libs);
  let archive;
  try {
    const pkg = path.join(stage, 'package');
    const files = filesUnder(pkg);
    console.log(`pack: ${files.length} files, from ${moduleDir} and ` +
      `${libs.join(', ') || 'no native library'}:`);
    for (const f of files) console.log(`  ${f}`);
    const problems = [...missingReferences(pkg, files), ...readmeLinkProblems(pkg, files)];
    const manifest = JSON5.parse(fs.readFileSync(path.join(pkg, 'oh-package.json5'), 'utf8'));
    if (typeof manifest.repository !== 'string' || manifest.repository === '') {
      problems.push('oh-package.json5: no repository');
    } else if (/^<.*>$/.test(manifest.repository)) {
      console.log(`pack: the manifest's repository is the placeholder ${manifest.repository}: ` +
        'set the address it is published from before publishing');
    }
    const module = libs.find((l) => path.basename(l) === NATIVE_MODULE);
    if (module === undefined) {
      console.log(`pack: no ${NATIVE_MODULE} given: its engine imports are not checked`);
    } else {
      const imports = engineImportProblems(fs.readFileSync(path.join(pkg, 'README.md'), 'utf8'),
        undefinedSymbols(module));
      problems.push(...imports);
      if (imports.length === 0) {
        console.log(`pack: README.md lists exactly the engine functions ${NATIVE_MODULE} imports`);
      }
    }
    if (problems.length > 0) {
      for (const p of problems) console.log(`pack: FAILED: ${p}`);
      return 1;
    }
    console.log('pack: main, typings dependency, native library, every relative import and every ' +
      'README link lie inside the archive; its build profile builds nothing native');
    archive = writeArchive(stage, arg('--out', path.join(root, 'build', 'pack')));
  } finally {
    fs.rmSync(stage, { recursive: true, force: true });
  }
  console.log(`pack: wrote ${archive} (${fs.statSync(archive).size} bytes)`);
  const { sources, diagnostics } = checkExample(archive, arg('--example',
    path.join(root, 'examples', 'arkts-consumer')));
  console.log('pack: the example module checked against the unpacked archive alone ' +
    `(${sources.join(', ')}): ${diagnostics.length} diagnostics`);
  for (const d of diagnostics) console.log(`  ${d}`);
  return diagnostics.length === 0 ? 0 : 1;
}

if (require.main === module) process.exitCode = main();
