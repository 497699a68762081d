'use strict';
// Lets Node require .ets files: each is transpiled by the platform's front end, the native import
// is answered with the module built in KAVORI_BUILD_DIR (test/js/loader.js), and the package name
// resolves to the package's Index.ets, as for an app that depends on it. The JS of each source is
// kept in the build folder by its content's hash: a process that finds it all there never loads
// the front end, whose compiled functions would otherwise take the JS engine's optimising
// compiler away from the package for the first thousands of events (the device runs bytecode
// made ahead of time).
const crypto = require('node:crypto');
const fs = require('node:fs');
const Module = require('node:module');
const path = require('node:path');
const { buildDir, loadModule } = require('../../test/js/loader.js');

const NATIVE = 'libkavoriplayer_audio_napi.so';
const PACKAGE_INDEX = path.resolve(__dirname, '..', 'Index.ets');
const CACHE = path.join(buildDir, 'ets-js');
const FRONT_END = require('ohos-typescript/package.json').version;

function transpile(source, filename) {
  const ts = require('ohos-typescript');
  return ts.transpileModule(source, {
    fileName: filename,
    compilerOptions: {
      target: ts.ScriptTarget.ES2019,
      module: ts.ModuleKind.CommonJS,
      esModuleInterop: true,
      inlineSourceMap: true,
    },
  }).outputText;
}

require.extensions['.ets'] = (module, filename) => {
  const source = fs.readFileSync(filename, 'utf8');
  const key = crypto.createHash('sha256').update(`${FRONT_END}\0${filename}\0${source}`)
    .digest('hex');
  const cached = path.join(CACHE, `${key}.js`);
  let js = null;
  try {
    js = fs.readFileSync(cached, 'utf8');
  } catch {
    js = transpile(source, filename);
    // Parallel test files may write the same entry: each writes its own file and renames it.
    const temp = `${cached}.${process.pid}.${Math.random().toString(36).slice(2)}`;
    try {
      fs.mkdirSync(CACHE, { recursive: true });
      fs.writeFileSync(temp, js);
      fs.renameSync(temp, cached);
    } catch {
      fs.rmSync(temp, { force: true });
    }
  }
  module._compile(js, filename);
};

// The platform's kits, which Node has not: their recording stand-ins (kit-fakes.js).
const KIT_FAKES = path.join(__dirname, 'kit-fakes.js');

const load = Module._load;
Module._load = function (request, parent, isMain) {
  if (request === NATIVE) return loadModule();
  if (request.startsWith('@kit.')) {
    const kit = load.call(this, KIT_FAKES, parent, isMain).kits[request];
    if (kit !== undefined) return kit;
  }
  if (request === '@kavori/player') return load.call(this, PACKAGE_INDEX, parent, isMain);
  return load.call(this, request, parent, isMain);
};

// The stand-in engine's scripted sources (script:...), which the package refuses as any other
// scheme, are open to the package's tests and benches: through a hook of the package that its
// index does not export, so an app never reaches it. KAVORI_TEST_SOURCES=closed leaves them shut.
const SOURCES = path.resolve(__dirname, '..', 'src', 'main', 'ets', 'Sources.ets');

function openScriptSources(open) {
  require(SOURCES).openScriptSourcesForTests(open);
}

if (process.env.KAVORI_TEST_SOURCES !== 'closed') openScriptSources(true);

module.exports = { PACKAGE_INDEX, openScriptSources };
