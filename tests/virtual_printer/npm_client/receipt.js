// Builds a receipt with node-thermal-printer and writes its ESC/POS bytes to
// the file named on the command line; nothing goes over the network.
'use strict';
const fs = require('fs');
const { PNG } = require('pngjs');
const { printer: ThermalPrinter, types: PrinterTypes } = require('node-thermal-printer');

async function main() {

  const printer = new ThermalPrinter({
    type: PrinterTypes.EPSON,
    interface: 'tcp://127.0.0.1:9',  // never connected: only the buffer is used
    characterSet: 'CHINA',
    width: 48,
  });

  printer.alignCenter();
  printer.setTextDoubleHeight();
  printer.setTextDoubleWidth();
  printer.bold(true);
  printer.println('VORPANE CAFE');
  printer.bold(false);
  printer.setTextNormal();
  printer.println('欢迎光临 谢谢惠顾');
  printer.alignLeft();
  printer.underline(true);
  printer.println('Order 1042');
  printer.underline(false);
  printer.invert(true);
  printer.println(' PAID ');
  printer.invert(false);
  printer.alignRight();
  printer.println('Total 12.50');
  printer.alignCenter();

  // A 96 x 48 image: a frame with a diagonal, dark where the test expects ink.
  const width = 96;
  const height = 48;
  const png = new PNG({ width, height });
  const rgba = png.data;
  rgba.fill(255);
  for (let y = 0; y < height; y++) {
    for (let x = 0; x < width; x++) {
      const dark = x < 4 || y < 4 || x >= width - 4 || y >= height - 4 || x === 2 * y;
      if (dark) {
        rgba.fill(0, (y * width + x) * 4, (y * width + x) * 4 + 3);
      }
    }
}
await printer.printImageBuffer(PNG.sync.write(png));
printer.newLine();
printer.code128('VP-1042', { width: 2, height: 60, hriPos: 2 });
printer.newLine();
printer.printQR('https://vorpane.example/r/1042', { cellSize: 5, correction: 'M' });
printer.newLine();
printer.openCashDrawer();
printer.cut();

fs.writeFileSync(process.argv[2], printer.getBuffer());
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
