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
    process.dlopen(mod, path.join(buildDir, 'libkavoriplayer_audio_napi.so'));
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
