'use strict';
// Runs the platform's ArkTS front end (ohos-typescript) over .ets files as the device build does:
// an incremental program with the ArkTS linter on, its type diagnostics plus the linter's.
// As a command: node har/test/arkts-check.js FILE... prints every diagnostic, fails on any.
const path = require('node:path');
const ts = require('ohos-typescript');

const root = path.resolve(__dirname, '..', '..');

// The module resolutions of an app that depends on the package and on the native typings.
const paths = {
  'libkavoriplayer_audio_napi.so': ['types/libkavoriplayer_audio_napi/index.d.ts'],
  '@kavori/player': ['har/Index.ets'],
};

function check(files) {
  const options = {
    target: ts.ScriptTarget.ES2017,
    module: ts.ModuleKind.ES2020,
    moduleResolution: ts.ModuleResolutionKind.NodeJs,
    lib: ['lib.es2020.d.ts'],
    strict: true,
    noEmit: true,
    skipLibCheck: true,
    baseUrl: root,
    paths,
    needDoArkTsLinter: true,
    isCompatibleVersion: false,
    incremental: true,
    tsBuildInfoFile: path.join(root, 'build', 'arkts.tsbuildinfo'),
  };
  const globals = path.join(__dirname, 'arkts-globals.d.ts');
  const rootNames = [...files.map((f) => path.resolve(f)), globals];
  const host = ts.createIncrementalCompilerHost(options);
  host.writeFile = () => {};  // no build info left behind
  const builder = ts.createIncrementalProgram({ rootNames, options, host });
  const diagnostics = [
    ...ts.getPreEmitDiagnostics(builder.getProgram()),
    ...ts.ArkTSLinter_1_1.runArkTSLinter(builder, undefined, undefined, 'ArkTS_1_1'),
  ];
  return diagnostics.map((d) => {
    const where = d.file ? `${path.relative(root, d.file.fileName)}:` +
      `${d.file.getLineAndCharacterOfPosition(d.start).line + 1}` : '';
    return `${where} TS${d.code}: ${ts.flattenDiagnosticMessageText(d.messageText, ' ')}`;
  });
}

module.exports = { check, paths, root };

if (require.main === module) {
  const found = check(process.argv.slice(2));
  for (const line of found) console.log(line);
  console.log(`${found.length} diagnostics`);
  process.exitCode = found.length === 0 ? 0 : 1;
}
