'use strict';
// Lets Node require .ets files: each is transpiled in memory by the platform's front end, the
// native import is answered with the module built in KAVORI_BUILD_DIR (test/js/loader.js), and
// the package name resolves to the package's Index.ets, as for an app that depends on it.
const Module = require('node:module');
const path = require('node:path');
const ts = require('ohos-typescript');
const { loadModule } = require('../../test/js/loader.js');

const NATIVE = 'libkavoriplayer_audio_napi.so';
const PACKAGE_INDEX = path.resolve(__dirname, '..', 'Index.ets');

require.extensions['.ets'] = (module, filename) => {
  const source = require('node:fs').readFileSync(filename, 'utf8');
  const { outputText } = ts.transpileModule(source, {
    fileName: filename,
    compilerOptions: {
      target: ts.ScriptTarget.ES2019,
      module: ts.ModuleKind.CommonJS,
      esModuleInterop: true,
      inlineSourceMap: true,
    },
  });
  module._compile(outputText, filename);
};

const load = Module._load;
Module._load = function (request, parent, isMain) {
  if (request === NATIVE) return loadModule();
  if (request === '@kavori/player') return load.call(this, PACKAGE_INDEX, parent, isMain);
  return load.call(this, request, parent, isMain);
};

module.exports = { PACKAGE_INDEX };
