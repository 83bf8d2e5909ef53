// Copies the inline <script> blocks of HTML files into one .js file per page,
// each block at its own line and column, so that tsc's messages point at the
// page's own lines. Scripts with a src attribute are checked as files instead.
// Usage: node extract_scripts.js OUT_DIR PAGE.html...
'use strict';
const fs = require('fs');
const path = require('path');

function inlineScripts(html) {
  let text = '';
  const script = /<script(\s[^>]*)?>([\s\S]*?)<\/script\s*>/gi;
  for (let match; (match = script.exec(html));) {
    const attributes = match[1] || '';
    if (/\bsrc\s*=/i.test(attributes) || /\btype\s*=\s*["']?module/i.test(attributes)) continue;
    const start = match.index + match[0].indexOf('>') + 1;
    const before = html.slice(0, start);
    const line = before.split('\n').length - 1;
    text += '\n'.repeat(Math.max(0, line - (text.split('\n').length - 1)));
    text += ' '.repeat(start - before.lastIndexOf('\n') - 1) + match[2];
  }
  return text;
}

const [outDir, ...pages] = process.argv.slice(2);
fs.mkdirSync(outDir, {recursive: true});
for (const page of pages) {
  const text = inlineScripts(fs.readFileSync(page, 'utf8'));
  if (text.trim() === '') continue;
  const out = path.join(outDir, path.basename(page) + '.js');
  fs.writeFileSync(out, text);
  console.log(out);
}
