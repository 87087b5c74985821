// Writes src/error-texts.ts from the project's one list of error codes
// (docs/errors.json), so that the codes stay a union type the compiler checks.
const fs = require('node:fs');
const path = require('node:path');

const source = path.join(__dirname, '..', '..', '..', 'docs', 'errors.json');
const { errors } = JSON.parse(fs.readFileSync(source, 'utf8'));
const rows = errors.map((e) => `    ${JSON.stringify(e.code)}: ${JSON.stringify(e.english)},`);
const text = `// Made from docs/errors.json by scripts/error-texts.cjs: edit that file, not this one.
export const errorTexts = {
${rows.join('\n')}
} as const;
`;
const target = path.join(__dirname, '..', 'src', 'error-texts.ts');
if (!fs.existsSync(target) || fs.readFileSync(target, 'utf8') !== text) fs.writeFileSync(target, text);
