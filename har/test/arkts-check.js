'use strict';
// Runs the platform's ArkTS front end (ohos-typescript) over .ets files as the device build does:
// an incremental program with the ArkTS linter on, its type diagnostics plus the linter's.
// As a command: node har/test/arkts-check.js FILE... prints every diagnostic, fails on any.
const path = require('node:path');
const ts = require('ohos-typescript');

const root = path.resolve(__dirname, '..', '..');

// The module resolutions of an app that depends on the package and on the native typings.
const paths = {
  'libkavoriplayer_audio_napi.so':
    ['har/src/main/cpp/types/libkavoriplayer_audio_napi/index.d.ts'],
  '@kavori/player': ['har/Index.ets'],
};

// The UI syntax (struct, components with a trailing block, decorators) as the SDK configures it,
// for the components that har/test/arkts-sdk.d.ts declares.
const ets = {
  render: { method: ['build', 'pageTransition'], decorator: ['Builder', 'LocalBuilder'] },
  components: ['Column', 'Text', 'Progress', 'Button'],
  extend: { decorator: ['Extend', 'AnimatableExtend'], components: [] },
  styles: {
    decorator: 'Styles', property: 'stateStyles',
    component: { name: 'Common', type: 'T', instance: 'CommonInstance' },
  },
  concurrent: { decorator: 'Concurrent' },
  customComponent: 'CustomComponent',
  propertyDecorators: [{ name: 'State', needInitialization: false }],
  emitDecorators: [],
  syntaxComponents: { paramsUICallback: [], attrUICallback: [] },
  libs: [],
};

// Checks files as an app build would; `resolve` replaces the module resolutions and their base
// (an unpacked archive's, say).
function check(files, resolve = { baseUrl: root, paths }) {
  const options = {
    target: ts.ScriptTarget.ES2017,
    module: ts.ModuleKind.ES2020,
    moduleResolution: ts.ModuleResolutionKind.NodeJs,
    lib: ['lib.es2020.d.ts'],
    strict: true,
    noEmit: true,
    skipLibCheck: true,
    baseUrl: resolve.baseUrl,
    paths: resolve.paths,
    experimentalDecorators: true,
    ets,
    needDoArkTsLinter: true,
    isCompatibleVersion: false,
    incremental: true,
    tsBuildInfoFile: path.join(root, 'build', 'arkts.tsbuildinfo'),
  };
  const globals = ['arkts-globals.d.ts', 'arkts-sdk.d.ts', 'arkts-kits.d.ts']
    .map((f) => path.join(__dirname, f));
  const rootNames = [...files.map((f) => path.resolve(f)), ...globals];
  const host = ts.createIncrementalCompilerHost(options);
  host.writeFile = () => {};  // no build info left behind
  const builder = ts.createIncrementalProgram({ rootNames, options, host });
  const diagnostics = [
    ...ts.getPreEmitDiagnostics(builder.getProgram()),
    ...ts.ArkTSLinter_1_1.runArkTSLinter(builder, undefined, undefined, 'ArkTS_1_1'),
  ];
  return diagnostics.map((d) => {
    const where = d.file ? `${path.relative(resolve.baseUrl, d.file.fileName)}:` +
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
