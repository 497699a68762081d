'use strict';
// Reads the lines that the hilog stand-in and the engine trace append to their files.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

class LineFile {
  constructor(envName, prefix) {
    this.path = path.join(os.tmpdir(), `${prefix}-${process.pid}-${Date.now()}.log`);
    fs.writeFileSync(this.path, '');
    process.env[envName] = this.path;
    this.offset = 0;
  }
  all() {
    return fs.readFileSync(this.path, 'utf8').split('\n').filter((l) => l !== '');
  }
  // Lines written since the last call of take().
  take() {
    const data = fs.readFileSync(this.path);
    const fresh = data.subarray(this.offset).toString('utf8');
    this.offset = data.length;
    return fresh.split('\n').filter((l) => l !== '');
  }
}

// Lines appended to file after this call, read each time the returned function is called.
function since(file) {
  const start = fs.existsSync(file) ? fs.statSync(file).size : 0;
  return () => {
    if (!fs.existsSync(file)) return [];
    return fs.readFileSync(file).subarray(start).toString('utf8').split('\n').filter(Boolean);
  };
}

// Must be made before the module is loaded: the stand-ins read their file names once.
const hilog = () => new LineFile('KAVORI_HILOG_FILE', 'kavori-hilog');
const engineTrace = () => new LineFile('KAVORI_ENGINE_TRACE', 'kavori-trace');

module.exports = { hilog, engineTrace, since };
