'use strict';
// The process's scratch folder, and the lines that the hilog stand-in and the engine trace append
// to their files in it.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

let scratch = null;

// Removed when the process exits, failed tests included; a crash leaves it in $TMPDIR.
function tempDir() {
  if (scratch === null) {
    scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'kavori-test-'));
    const dir = scratch;
    process.on('exit', () => fs.rmSync(dir, { recursive: true, force: true }));
  }
  return scratch;
}

// The whole lines of file from byte offset on, and the offset past them. A record that another
// thread is writing may show only in part; it counts once its line feed is there.
function readFrom(file, offset) {
  const data = fs.existsSync(file) ? fs.readFileSync(file) : Buffer.alloc(0);
  const end = Math.max(offset, data.lastIndexOf(0x0a) + 1);
  const lines = data.subarray(offset, end).toString('utf8').split('\n').filter(Boolean);
  return { lines, end };
}

// Lines appended to file after this call, read each time the returned function is called.
function since(file) {
  const start = fs.existsSync(file) ? fs.statSync(file).size : 0;
  return () => readFrom(file, start).lines;
}

class LineFile {
  constructor(envName, name) {
    this.path = path.join(tempDir(), name);
    fs.writeFileSync(this.path, '');
    process.env[envName] = this.path;
    this.offset = 0;
  }
  all() {
    return readFrom(this.path, 0).lines;
  }
  // Lines written since the last call of take().
  take() {
    const { lines, end } = readFrom(this.path, this.offset);
    this.offset = end;
    return lines;
  }
}

// Must be made before the module is loaded: the stand-ins read their file names once.
const hilog = () => new LineFile('KAVORI_HILOG_FILE', 'hilog.log');
const engineTrace = () => new LineFile('KAVORI_ENGINE_TRACE', 'trace.log');

module.exports = { tempDir, hilog, engineTrace, since };
