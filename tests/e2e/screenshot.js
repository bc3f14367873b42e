#!/usr/bin/env node
// Pictures the developer page as a person sees it: the simulator's demo scene found on the default
// ports, a scan and a short live stream, in headless Chromium. `make screenshot` writes the
// README's docs/devpage.png with it.
//
//   node tests/e2e/screenshot.js SIMULATOR OUT.png [WIDTH]
'use strict';

const { servePage } = require('../../devpage/serve.js');
const browser = require('./lib/browser');
const { startHelper } = require('./lib/helper');

async function main() {
  const [sim, out, widthArg] = process.argv.slice(2);
  const width = Number(widthArg || 1280);
  if (!sim || !out || !Number.isInteger(width) || width < 320) {
    console.log('usage: node tests/e2e/screenshot.js SIMULATOR OUT.png [WIDTH]');
    process.exit(2);
  }
  const missing = browser.unavailable('chromium');
  if (missing) throw new Error(missing);

  const server = await servePage(0);
  const origin = `http://127.0.0.1:${server.address().port}`;
  // No --port: the helper takes the first free port of its range, as it does for a user.
  const helper = await startHelper(sim, { port: 0, args: ['--dev-origin', origin], env: { TIVEL_SIM_SCENE: '' } });
  const chromium = await browser.launch('chromium');
  try {
    const page = await chromium.newPage();
    await page.setViewportSize({ width, height: 900 });
    await page.goto(`${origin}/`);
    await page.waitForFunction(() => window.devpage.conn !== 'searching', null, { timeout: 20000 });
    if ((await page.evaluate(() => window.devpage.port)) !== helper.port) {
      throw new Error(`the page found another helper than the simulator on ${helper.port}; stop it first`);
    }
    await page.waitForFunction(() => window.devpage.link !== null, null, { timeout: 8000 });
    await page.click('#btn-scan');
    await page.waitForFunction(() => window.devpage.scan !== null, null, { timeout: 15000 });
    await page.selectOption('#watch-hz', '10');
    await page.fill('#watch-secs', '6');
    await page.click('#btn-watch');
    await page.waitForFunction(() => window.devpage.watch.ended !== '', null, { timeout: 10000 });
    await page.screenshot({ path: out, fullPage: true });
    console.log(`screenshot: ${out} (${width} px wide, helper on port ${helper.port})`);
  } finally {
    await chromium.close();
    await helper.stop();
    server.close();
  }
}

main().catch((err) => {
  console.error(`screenshot: ${err.message}`);
  process.exit(1);
});
