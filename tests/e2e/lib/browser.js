// The browsers of the end-to-end tests, each with a throw-away profile: Debian's Chromium driven by
// playwright-core, and Debian's Firefox ESR driven over WebDriver BiDi by puppeteer-core. Neither
// package ever downloads a browser of its own. Both hand out pages with the same methods (the
// subset of playwright's page the tests use), so one set of cases runs in either engine.
'use strict';

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const ENGINES = ['chromium', 'firefox'];

const EXECUTABLES = {
  chromium: process.env.TIVEL_CHROMIUM || '/usr/bin/chromium',
  firefox: process.env.TIVEL_FIREFOX || '/usr/bin/firefox-esr',
};
const PACKAGES = { chromium: 'chromium', firefox: 'firefox-esr' };
const DRIVERS = { chromium: 'playwright-core', firefox: 'puppeteer-core' };

// Quiet and offline: no first-run UI, no background traffic, no updates, nothing but loopback.
const CHROMIUM_ARGS = [
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

// The same for Firefox; the driver adds its own automation preferences.
const FIREFOX_PREFS = {
  'app.update.disabledForTesting': true,
  'browser.shell.checkDefaultBrowser': false,
  'datareporting.policy.dataSubmissionEnabled': false,
  'network.captive-portal-service.enabled': false,
  'network.connectivity-service.enabled': false,
  'services.settings.server': 'http://127.0.0.1:1/',
};

// The window of a browser with a screen: placed and sized so its permission prompt is in view.
const WINDOW = { width: 1100, height: 800 };

// Why `engine`'s tests cannot run here, or '' when they can.
function unavailable(engine) {
  if (!fs.existsSync(EXECUTABLES[engine])) {
    return `${EXECUTABLES[engine]} is missing (install the Debian package ${PACKAGES[engine]})`;
  }
  try {
    require.resolve(DRIVERS[engine]);
  } catch (err) {
    return `${DRIVERS[engine]} is missing (run npm ci in tests/e2e)`;
  }
  return '';
}

// A page served from a public address, as the maker's is: `host` resolves to 127.0.0.1, and the
// browser treats 127.0.0.1:`port` as a public address, so the page's connections to the helper
// on loopback go through the browser's local-network access check. The certificate is
// self-signed, so the browser is told to accept it.
function siteArgs(site) {
  if (!site) return [];
  return [
    '--ignore-certificate-errors',
    `--ip-address-space-overrides=127.0.0.1:${site.port}=public`,
    `--host-resolver-rules=MAP ${site.host} 127.0.0.1`,
  ];
}

function sitePrefs(site) {
  if (!site) return {};
  return {
    'network.lna.address_space.public.override': `127.0.0.1:${site.port}`,
    'network.dns.localDomains': site.host,
  };
}

// Resolves to { engine, version, newPage(), setPermission(origin, name, state), close() }.
// Options: display (an X display: a real window there instead of headless), site (see above),
// prefs (more Firefox preferences).
async function launch(engine, options = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), `tivel-e2e-${engine}-`));
  try {
    return engine === 'firefox' ? await launchFirefox(profile, options) : await launchChromium(profile, options);
  } catch (err) {
    fs.rmSync(profile, { recursive: true, force: true });
    throw err;
  }
}

async function launchChromium(profile, { display, site }) {
  const { chromium } = require('playwright-core');
  const windowArgs = display ? ['--window-position=0,0', `--window-size=${WINDOW.width},${WINDOW.height}`] : ['--headless'];
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: EXECUTABLES.chromium,
    headless: !display,
    args: [...CHROMIUM_ARGS, ...windowArgs, ...siteArgs(site)],
    env: display ? { ...process.env, DISPLAY: display } : process.env,
    viewport: display ? null : { width: 1280, height: 900 },
    deviceScaleFactor: display ? undefined : 1,
    timeout: 30000,
  });
  // The browser-wide CDP commands go through the session of the page the browser opened with.
  const first = context.pages()[0] || (await context.newPage());
  const cdp = await context.newCDPSession(first);
  const { product } = await cdp.send('Browser.getVersion');
  return {
    engine: 'chromium',
    version: product,
    newPage: () => context.newPage(),
    // name as the Permissions API spells it (loopback-network); state granted | denied | prompt.
    setPermission: (origin, name, state) =>
      cdp.send('Browser.setPermission', { permission: { name }, setting: state, origin }),
    close: async () => {
      await context.close().catch(() => {});
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

async function launchFirefox(profile, { display, site, prefs = {} }) {
  const puppeteer = require('puppeteer-core');
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: EXECUTABLES.firefox,
    headless: !display,
    userDataDir: profile,
    acceptInsecureCerts: Boolean(site),
    args: display ? [`--width=${WINDOW.width}`, `--height=${WINDOW.height}`] : [],
    env: display ? { ...process.env, DISPLAY: display } : process.env,
    extraPrefsFirefox: { ...FIREFOX_PREFS, ...sitePrefs(site), ...prefs },
    defaultViewport: display ? null : { width: 1280, height: 900, deviceScaleFactor: 1 },
    protocolTimeout: 30000,
    timeout: 60000,
  });
  return {
    engine: 'firefox',
    version: await browser.version(),
    newPage: async () => new FirefoxPage(await browser.newPage()),
    setPermission: (origin, name, state) =>
      browser.defaultBrowserContext().setPermission(origin, { permission: { name }, state }),
    close: async () => {
      await browser.close().catch(() => {});
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// A puppeteer page behind the playwright methods the tests call.
class FirefoxPage {
  constructor(page) {
    this.page = page;
  }

  on(event, handler) {
    this.page.on(event, handler);
  }

  goto(url) {
    return this.page.goto(url);
  }

  addInitScript(fn) {
    return this.page.evaluateOnNewDocument(fn);
  }

  evaluate(fn, arg) {
    return this.page.evaluate(fn, arg);
  }

  waitForFunction(fn, arg, { timeout = 30000 } = {}) {
    return this.page.waitForFunction(fn, { timeout, polling: 50 }, arg);
  }

  waitForTimeout(ms) {
    return new Promise((resolve) => setTimeout(resolve, ms));
  }

  click(selector) {
    return this.page.click(selector);
  }

  textContent(selector) {
    return this.page.$eval(selector, (el) => el.textContent);
  }

  $eval(selector, fn, arg) {
    return this.page.$eval(selector, fn, arg);
  }

  $$eval(selector, fn, arg) {
    return this.page.$$eval(selector, fn, arg);
  }

  async selectOption(selector, value) {
    await this.page.select(selector, value);
  }

  fill(selector, value) {
    return this.page.$eval(
      selector,
      (el, v) => {
        el.value = v;
        el.dispatchEvent(new Event('input', { bubbles: true }));
        el.dispatchEvent(new Event('change', { bubbles: true }));
      },
      value,
    );
  }

  // Visible as playwright means it: present, a box of some size, not visibility:hidden.
  isVisible(selector) {
    return this.page.evaluate((sel) => {
      const el = document.querySelector(sel);
      if (!el) return false;
      const box = el.getBoundingClientRect();
      return box.width > 0 && box.height > 0 && getComputedStyle(el).visibility !== 'hidden';
    }, selector);
  }

  isDisabled(selector) {
    return this.page.$eval(selector, (el) => el.disabled);
  }

  setViewportSize({ width, height }) {
    return this.page.setViewport({ width, height, deviceScaleFactor: 1 });
  }

  screenshot(options) {
    return this.page.screenshot(options);
  }

  close() {
    return this.page.close();
  }
}

module.exports = { ENGINES, EXECUTABLES, unavailable, launch };
