'use strict';
// The package as an app developer receives it: the files ohpm packs (what lies inside the module,
// minus the built-in exclusions and the patterns of .ohpmignore and .gitignore), checked to hold
// every path the manifest and the sources name, written as a .har (a gzipped tar of package/),
// then unpacked in a scratch folder where the example app module is checked against it alone.
// As a command: node har/test/pack.js [--module DIR] [--example DIR] [--out DIR]
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
  for (const manifest of files.filter((f) => path.posix.basename(f) === 'oh-package.json5')) {
    const doc = JSON5.parse(fs.readFileSync(path.join(moduleDir, manifest), 'utf8'));
    for (const key of ['main', 'types']) {
      if (doc[key]) need(manifest, inside(manifest, doc[key], key), key);
    }
    for (const [name, version] of Object.entries(doc.dependencies || {})) {
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

function writeArchive(moduleDir, files, outDir) {
  const manifest = JSON5.parse(fs.readFileSync(path.join(moduleDir, 'oh-package.json5'), 'utf8'));
  const name = `${manifest.name.replace(/^@/, '').replace('/', '-')}-${manifest.version}.har`;
  const stage = fs.mkdtempSync(path.join(os.tmpdir(), 'kavori-pack-'));
  try {
    for (const file of files) {
      const to = path.join(stage, 'package', file);
      fs.mkdirSync(path.dirname(to), { recursive: true });
      fs.copyFileSync(path.join(moduleDir, file), to);
    }
    fs.mkdirSync(outDir, { recursive: true });
    const archive = path.join(outDir, name);
    execFileSync('tar', ['-czf', archive, '--sort=name', '--owner=0', '--group=0',
      '--mtime=@0', '-C', stage, 'package']);
    return archive;
  } finally {
    fs.rmSync(stage, { recursive: true, force: true });
  }
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

module.exports = { packedFiles, missingReferences, writeArchive, checkExample };

if (require.main === module) {
  const arg = (flag, fallback) => {
    const i = process.argv.indexOf(flag);
    return path.resolve(i > 0 ? process.argv[i + 1] : fallback);
  };
  const moduleDir = arg('--module', path.join(root, 'har'));
  const files = packedFiles(moduleDir);
  console.log(`pack: ${files.length} files from ${moduleDir}:`);
  for (const f of files) console.log(`  ${f}`);
  const problems = missingReferences(moduleDir, files);
  if (problems.length > 0) {
    for (const p of problems) console.log(`pack: FAILED: ${p}`);
    process.exit(1);
  }
  console.log('pack: main, typings dependency and every relative import lie inside the archive');
  const archive = writeArchive(moduleDir, files, arg('--out', path.join(root, 'build', 'pack')));
  console.log(`pack: wrote ${archive} (${fs.statSync(archive).size} bytes)`);
  const { sources, diagnostics } = checkExample(archive, arg('--example',
    path.join(root, 'examples', 'arkts-consumer')));
  console.log('pack: the example module checked against the unpacked archive alone ' +
    `(${sources.join(', ')}): ${diagnostics.length} diagnostics`);
  for (const d of diagnostics) console.log(`  ${d}`);
  process.exitCode = diagnostics.length === 0 ? 0 : 1;
}
