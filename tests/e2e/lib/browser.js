// One headless Debian Chromium per test file, driven by playwright-core (which never downloads a
// browser of its own), with a throw-away profile.
'use strict';

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const CHROMIUM = process.env.TIVEL_CHROMIUM || '/usr/bin/chromium';

// Quiet and offline: no first-run UI, no background traffic, no updates, nothing but loopback.
const CHROMIUM_ARGS = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

// Why the browser tests cannot run here, or '' when they can.
function unavailable() {
  if (!fs.existsSync(CHROMIUM)) return `${CHROMIUM} is missing (install the Debian package chromium)`;
  try {
    require.resolve('playwright-core');
  } catch (err) {
    return 'playwright-core is missing (run npm ci in tests/e2e)';
  }
  return '';
}

// Resolves to { context, close }: a persistent context in a fresh profile folder, removed on close.
async function launch() {
  const { chromium } = require('playwright-core');
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'tivel-e2e-chromium-'));
  let context;
  try {
    context = await chromium.launchPersistentContext(profile, {
      executablePath: CHROMIUM,
      headless: true,
      args: CHROMIUM_ARGS,
      viewport: { width: 1280, height: 900 },
      deviceScaleFactor: 1,
      timeout: 30000,
    });
  } catch (err) {
    fs.rmSync(profile, { recursive: true, force: true });
    throw err;
  }
  const close = async () => {
    await context.close().catch(() => {});
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return { context, close };
}

module.exports = { CHROMIUM, CHROMIUM_ARGS, unavailable, launch };
