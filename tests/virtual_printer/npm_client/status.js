// Asks the printer on 127.0.0.1 at the port named on the command line for
// its paper status, as node-thermal-printer's users do, and prints the
// reply in hex.
'use strict';
const { printer: ThermalPrinter, types: PrinterTypes } = require('node-thermal-printer');

async function main() {
  const printer = new ThermalPrinter({
    type: PrinterTypes.EPSON,
    interface: `tcp://127.0.0.1:${process.argv[2]}`,
    options: { timeout: 5000 },
  });
  await printer.getStatus();
  const reply = await printer.execute({ waitForResponse: true });
  console.log(Buffer.from(reply).toString('hex'));
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
