// Transforms a receiptline document to ESC/POS and writes the bytes to the
// file named on the command line. receiptline draws its rules with code page
// 1's box characters and sends QR codes and images as GS 8 L graphics.
'use strict';
const fs = require('fs');
const { PNG } = require('pngjs');
const receiptline = require('receiptline');

// A 96 x 48 frame, dark where the test expects ink.
const png = new PNG({ width: 96, height: 48 });
for (let y = 0; y < 48; y++) {
  for (let x = 0; x < 96; x++) {
    const dark = x < 4 || y < 4 || x >= 92 || y >= 44;
    png.data.fill(dark ? 0 : 255, (y * 96 + x) * 4, (y * 96 + x) * 4 + 3);
    png.data[(y * 96 + x) * 4 + 3] = 255;
  }
}

const doc = `^^VORPANE RECEIPTLINE
---
Coffee | 3.50
{code:https://vorpane.example/rl/7; option:qrcode,5,m}
{image:${PNG.sync.write(png).toString('base64')}}
=
`;
const bytes = receiptline.transform(doc, { cpl: 48, encoding: 'cp437', command: 'escpos' });
fs.writeFileSync(process.argv[2], Buffer.from(bytes, 'binary'));
