'use strict';
// Holds what the package README tells an app about events to what the app compiles against: the
// on() overloads of the player class, read from the .ets sources with the platform's front end.
// The Events table must list every overload's event names with the same parameter names and
// types, and no others; the Streams table's "Events, in order" column may name only those events,
// with arguments their parameter types take.
// As a command: node har/test/docs-check.js [README] prints each problem, fails on any.
const fs = require('node:fs');
const path = require('node:path');
const ts = require('ohos-typescript');

const ETS_DIR = path.join(__dirname, '..', 'src', 'main', 'ets');
const PLAYER_CLASS = 'KavoriPlayer';

// Splits on `sep` where no bracket, quote or backtick is open; the parts trimmed.
function splitTop(text, sep) {
  const parts = [];
  let depth = 0;
  let quote = null;
  let start = 0;
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (quote !== null) {
      if (c === quote) quote = null;
    } else if (c === '\'' || c === '"' || c === '`') {
      quote = c;
    } else if ('([<{'.includes(c)) {
      depth++;
    } else if (')]>}'.includes(c) && text[i - 1] !== '=') {
      depth--;
    } else if (c === sep && depth === 0 && text[i - 1] !== '\\') {
      parts.push(text.slice(start, i).trim());
      start = i + 1;
    }
  }
  parts.push(text.slice(start).trim());
  return parts;
}

// What the sources declare: each event's callback parameters, the player's members, the enums
// and the string-literal type aliases (PlayerState, InfoEventName).
function readTypings(sources) {
  const enums = new Map();
  const aliases = new Map();
  const members = new Set();
  const overloads = [];
  const literals = (node) => (ts.isUnionTypeNode(node) ? node.types.flatMap(literals)
    : [node.getText()]);
  const visit = (node, inPlayer) => {
    if (ts.isEnumDeclaration(node)) {
      enums.set(node.name.text, node.members.map((m) => m.name.getText()));
    } else if (ts.isTypeAliasDeclaration(node)) {
      aliases.set(node.name.text, literals(node.type));
    } else if (inPlayer && node.name && (ts.isMethodDeclaration(node) ||
        ts.isPropertyDeclaration(node) || ts.isGetAccessor(node) || ts.isSetAccessor(node))) {
      members.add(node.name.getText());
      if (ts.isMethodDeclaration(node) && node.name.getText() === 'on' && !node.body) {
        overloads.push(node);
      }
    }
    const player = ts.isClassDeclaration(node) && node.name && node.name.text === PLAYER_CLASS;
    ts.forEachChild(node, (child) => visit(child, inPlayer || player));
  };
  for (const [file, text] of Object.entries(sources)) {
    visit(ts.createSourceFile(file, text, ts.ScriptTarget.ES2017, true, ts.ScriptKind.ETS), false);
  }
  const events = new Map();
  const problems = [];
  for (const node of overloads) {
    const [type, callback] = node.parameters;
    const names = literals(type.type).flatMap((t) => aliases.get(t) || [t]);
    const params = ts.isFunctionTypeNode(callback.type) ? callback.type.parameters
      .map((p) => ({ name: p.name.getText(), type: p.type ? p.type.getText() : 'any' })) : null;
    for (const quoted of names) {
      const name = quoted.replace(/^'(.*)'$/, '$1');
      if (params === null || name === quoted) {
        problems.push(`on() overload '${node.getText()}' has no literal event name or callback type`);
      } else {
        events.set(name, params);
      }
    }
  }
  return { events, members, enums, aliases, problems };
}

function readSources(dir = ETS_DIR) {
  return Object.fromEntries(fs.readdirSync(dir).filter((f) => f.endsWith('.ets'))
    .map((f) => [f, fs.readFileSync(path.join(dir, f), 'utf8')]));
}

// The first Markdown table whose header row passes `isHeader`: its body rows as cells, each with
// its line number. Null when there is none.
function findTable(markdown, isHeader) {
  const lines = markdown.split('\n');
  const cells = (line) => splitTop(line.trim().replace(/^\||\|$/g, ''), '|');
  for (let i = 0; i + 1 < lines.length; i++) {
    if (!lines[i].startsWith('|') || !/^\|[\s:|-]+\|$/.test(lines[i + 1].trim())) continue;
    if (!isHeader(cells(lines[i]))) continue;
    const rows = [];
    for (let j = i + 2; j < lines.length && lines[j].startsWith('|'); j++) {
      rows.push({ line: j + 1, cells: cells(lines[j]) });
    }
    return { header: cells(lines[i]), rows };
  }
  return null;
}

const codeSpans = (cell) => Array.from(cell.matchAll(/`([^`]+)`/g), (m) => m[1]);
const showParams = (params) => `(${params.map((p) => `${p.name}: ${p.type}`).join(', ')})`;

// A payload cell: "none", or a code span `(name: Type, ...)` first.
function payloadParams(cell) {
  if (/^none\b/.test(cell)) return [];
  const span = codeSpans(cell)[0];
  if (span === undefined || !/^\(.*\)$/.test(span)) return null;
  const inner = span.slice(1, -1).trim();
  return inner === '' ? [] : splitTop(inner, ',').map((p) => {
    const colon = p.indexOf(':');
    return colon < 0 ? { name: p, type: '' }
      : { name: p.slice(0, colon).trim(), type: p.slice(colon + 1).trim() };
  });
}

// The Events table against the overloads, both ways.
function eventsTableProblems(readme, typings) {
  const table = findTable(readme, (h) => h[0] === 'Event' && h[1] === 'Payload');
  if (table === null) return ['README: no Events table (| Event | Payload | When |)'];
  const problems = [];
  const listed = new Set();
  for (const { line, cells } of table.rows) {
    const params = payloadParams(cells[1] || '');
    for (const name of codeSpans(cells[0])) {
      const where = `README:${line}: '${name}'`;
      if (listed.has(name)) problems.push(`${where} is listed twice`);
      listed.add(name);
      const declared = typings.events.get(name);
      if (declared === undefined) {
        problems.push(`${where} is no event of the player's on() overloads`);
      } else if (params === null) {
        problems.push(`${where}: payload '${cells[1]}' is neither none nor \`(name: Type, ...)\``);
      } else if (showParams(params) !== showParams(declared)) {
        problems.push(`${where}: payload ${showParams(params)}, on() gives ` +
          `${showParams(declared)}`);
      }
    }
  }
  for (const [name, params] of typings.events) {
    if (!listed.has(name)) {
      problems.push(`README: event '${name}' ${showParams(params)} of on() has no row in Events`);
    }
  }
  return problems;
}

// Whether the README's argument `arg` is a value of the declared parameter type.
function takes(type, arg, typings) {
  if (type === 'number') return /^-?\d+(\.\d+)?$/.test(arg);
  if (type === 'string') return /^'.*'$/.test(arg);
  if (typings.aliases.has(type)) return typings.aliases.get(type).includes(arg);
  if (typings.enums.has(type)) {
    return typings.enums.get(type).includes(arg.replace(new RegExp(`^${type}\\.`), ''));
  }
  return null;
}

// The Streams table's events: `name` or `name(args)`; the player's own calls are passed over.
function streamsTableProblems(readme, typings) {
  const table = findTable(readme, (h) => h.includes('Events, in order'));
  if (table === null) return ['README: no Streams table (a column "Events, in order")'];
  const column = table.header.indexOf('Events, in order');
  const problems = [];
  for (const { line, cells } of table.rows) {
    for (const span of codeSpans(cells[column] || '')) {
      const where = `README:${line}: Streams '${span}'`;
      const m = span.match(/^([A-Za-z_]\w*)(?:\((.*)\))?$/);
      if (m === null) {
        if (span.startsWith('(')) problems.push(`${where} gives a payload without its event`);
        continue;
      }
      const [, name, args] = m;
      if (typings.members.has(name)) continue;
      const params = typings.events.get(name);
      if (params === undefined) {
        problems.push(`${where} names no event of the player's on() overloads`);
        continue;
      }
      const given = args === undefined || args.trim() === '' ? [] : splitTop(args, ',');
      if (given.length > params.length) {
        problems.push(`${where}: ${given.length} arguments, on() gives ${showParams(params)}`);
        continue;
      }
      given.forEach((arg, i) => {
        const ok = takes(params[i].type, arg, typings);
        if (ok === null) {
          problems.push(`${where}: cannot tell whether '${arg}' is a ${params[i].type}`);
        } else if (!ok) {
          problems.push(`${where}: '${arg}' is no ${params[i].type} (${params[i].name})`);
        }
      });
    }
  }
  return problems;
}

function checkReadme(readme, sources = readSources()) {
  const typings = readTypings(sources);
  return [...typings.problems, ...eventsTableProblems(readme, typings),
    ...streamsTableProblems(readme, typings)];
}

module.exports = { checkReadme, readTypings, readSources, findTable, splitTop };

if (require.main === module) {
  const file = process.argv[2] || path.join(__dirname, '..', 'README.md');
  const problems = checkReadme(fs.readFileSync(file, 'utf8'));
  for (const p of problems) console.log(p);
  console.log(`docs-check: ${file}: ${problems.length} problems`);
  process.exitCode = problems.length === 0 ? 0 : 1;
}
