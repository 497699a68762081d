'use strict';
// Loads the module as the platform does (process.dlopen), and the test host beside it.
// The module must be loaded first: its load-time registration answers the first dlopen.
const path = require('node:path');

const root = path.resolve(__dirname, '..', '..');
const buildDir = path.resolve(root, process.env.KAVORI_BUILD_DIR || 'build');

let moduleExports = null;
let hostExports = null;

function loadModule() {
  if (moduleExports === null) {
    const mod = { exports: {} };
    // KAVORI_MODULE_FILE: a copy of the module built for a test (test/CMakeLists.txt).
    const file = process.env.KAVORI_MODULE_FILE || 'libkavoriplayer_audio_napi.so';
    process.dlopen(mod, path.join(buildDir, file));
    moduleExports = mod.exports;
  }
  return moduleExports;
}

function loadHost() {
  loadModule();
  if (hostExports === null) {
    const mod = { exports: {} };
    process.dlopen(mod, path.join(buildDir, 'kavori_test_host.node'));
    hostExports = mod.exports;
  }
  return hostExports;
}

module.exports = { loadModule, loadHost, buildDir, root };
