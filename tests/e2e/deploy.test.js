// The developer page as the maker's page is really loaded: over HTTPS from a public address
// (maker.example, a self-signed certificate, 127.0.0.1:<port> treated as public by the browser),
// with that origin given to the helper by --dev-origin. The browser then holds the page's
// WebSocket to the helper behind its local-network permission ("Access other apps and services
// on this device"). Cases per engine: the permission granted or not needed, Block, and Allow
// answered late in a real window (Xvfb) with a real click (xdotool).
//
// TIVEL_E2E_ALLOW_MS=2000,8000,30000 answers the prompt after each of those delays (counted from
// the moment the page opened the WebSocket); the suite's default is 8000.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { after, before, describe, test } = require('node:test');
const { servePage } = require('../../devpage/serve.js');
const browser = require('./lib/browser');
const screen = require('./lib/screen');
const { binary, startHelper } = require('./lib/helper');

const SIM = binary('TIVEL_SIM');
const ENGINES = process.env.TIVEL_E2E_ENGINES ? process.env.TIVEL_E2E_ENGINES.split(',') : browser.ENGINES;
const ALLOW_MS = (process.env.TIVEL_E2E_ALLOW_MS || '8000').split(',').map(Number);
const HOST = 'maker.example';
const PERMISSION = 'loopback-network';
const PROMPT_TEXT = 'Access other apps and services on this device';
const FIREFOX_OPEN_TIMEOUT_MS = 20000;

// A self-signed certificate for HOST, made fresh in `dir`.
function certificate(dir) {
  const key = path.join(dir, 'key.pem');
  const cert = path.join(dir, 'cert.pem');
  execFileSync('openssl', ['req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-keyout', key, '-out', cert, '-days', '2',
    '-subj', `/CN=${HOST}`, '-addext', `subjectAltName=DNS:${HOST}`], { stdio: 'ignore' });
  return { key: fs.readFileSync(key), cert: fs.readFileSync(cert) };
}

describe('the page from a public https origin', { skip: SIM ? false : 'TIVEL_SIM not set' }, () => {
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'tivel-e2e-deploy-'));
  const helpers = [];
  const browsers = []; // the case's browsers
  let server;
  let site;
  let origin;
  let display = null;

  before(async () => {
    for (const engine of ENGINES) {
      const missing = browser.unavailable(engine);
      if (missing) throw new Error(`cannot run the browser tests: ${missing}; make deps installs it`);
    }
    const missing = screen.unavailable();
    if (missing) throw new Error(`cannot show a real window: ${missing}; make deps installs it`);
    server = await servePage(0, { tls: certificate(tmp) });
    site = { host: HOST, port: server.address().port };
    origin = `https://${HOST}:${site.port}`;
  });

  after(async () => {
    for (const handle of browsers) await handle.close();
    if (display) await display.close();
    for (const helper of helpers) await helper.stop();
    if (server) server.close();
    fs.rmSync(tmp, { recursive: true, force: true });
  });

  async function start() {
    const helper = await startHelper(SIM, { args: ['--dev-origin', origin], env: { TIVEL_SIM_SCENE: '' } });
    helpers.push(helper);
    return helper;
  }

  // A browser for this site; with window: true a real window on the shared virtual screen.
  async function launch(engine, { window = false, prefs } = {}) {
    if (window && !display) display = await screen.startScreen();
    const handle = await browser.launch(engine, { site, prefs, display: window ? display.display : undefined });
    browsers.push(handle);
    return handle;
  }

  // Every case closes its browsers, pass or fail, so a window left behind never covers the next
  // case's prompt.
  const closing = (body) => async (t) => {
    try {
      await body(t);
    } finally {
      for (const handle of browsers.splice(0)) await handle.close();
    }
  };

  async function newPage(handle) {
    const page = await handle.newPage();
    page.problems = [];
    page.on('pageerror', (err) => page.problems.push(`page error: ${err.message}`));
    return page;
  }

  const connected = (helper) => helper.messages().filter((m) => m.startsWith('Connected to'));

  // What the page shows once connected: hello, the link, a scan and a one-second stream.
  async function fullFlow(page, helper) {
    await page.waitForFunction(() => window.devpage.link || window.devpage.linkError !== null, null, { timeout: 8000 });
    let s = await page.evaluate(() => ({ hello: window.devpage.hello, link: window.devpage.link, port: window.devpage.port }));
    assert.equal(s.hello.name, 'tamberline-tivel-helper');
    assert.equal(s.hello.port, helper.port);
    assert.equal(s.link.connected, true, 'the demo scene is associated');
    assert.equal(await page.textContent('#link-ssid'), s.link.ssid);

    await page.click('#btn-scan');
    await page.waitForFunction(() => window.devpage.scan || window.devpage.scanError !== null, null, { timeout: 15000 });
    s = await page.evaluate(() => ({ scan: window.devpage.scan, scanError: window.devpage.scanError }));
    assert.equal(s.scanError, null);
    assert.ok(s.scan.nets.length >= 4, `${s.scan.nets.length} networks`);
    assert.equal(await page.$$eval('#nets tbody tr.net', (rows) => rows.length), s.scan.nets.length);

    await page.selectOption('#watch-hz', '10');
    await page.fill('#watch-secs', '1');
    await page.click('#btn-watch');
    await page.waitForFunction(() => window.devpage.watch.ended !== '', null, { timeout: 5000 });
    const watch = await page.evaluate(() => window.devpage.watch);
    assert.equal(watch.ended, 'Finished');
    assert.ok(watch.samples.length >= 5, `${watch.samples.length} samples in one second at 10 Hz`);
    assert.ok(watch.samples.every((x) => typeof x.rssi === 'number'));
    assert.deepEqual(page.problems, []);
  }

  for (const engine of ENGINES) {
    describe(engine, () => {
      if (engine === 'chromium') {
        test('permission granted: hello, link, scan and a stream', closing(async () => {
          const helper = await start();
          const handle = await launch(engine);
          await handle.setPermission(origin, PERMISSION, 'granted');
          const page = await newPage(handle);
          await page.goto(`${origin}/?port=${helper.port}`);
          await page.waitForFunction(() => window.devpage.conn === 'open', null, { timeout: 5000 });
          assert.equal(await page.evaluate(() => window.devpage.permission), 'granted');
          await fullFlow(page, helper);
          assert.deepEqual(connected(helper), [`Connected to ${origin} (slot 1).`]);
        }));

        test('permission denied: the page says how to allow it again, and nothing reaches the helper', closing(async () => {
          const helper = await start();
          const handle = await launch(engine);
          await handle.setPermission(origin, PERMISSION, 'denied');
          const page = await newPage(handle);
          await page.goto(`${origin}/?port=${helper.port}`);
          await page.waitForFunction(() => window.devpage.conn === 'failed', null, { timeout: 5000 });
          const banner = await page.textContent('#banner');
          assert.match(banner, new RegExp(`"${PROMPT_TEXT}" \\(${PERMISSION}\\) is set to Block`));
          assert.match(banner, /site settings/);
          assert.equal(await page.isDisabled('#btn-scan'), true);
          // Give a stray upgrade time to arrive before looking at the helper's log.
          await page.waitForTimeout(500);
          assert.deepEqual(connected(helper), []);
          assert.ok(!helper.output.includes('Refused'), helper.output);
        }));
      } else {
        test('local-network checks off for WebSockets (Firefox\'s default): hello, link, scan and a stream', closing(async () => {
          const helper = await start();
          const handle = await launch(engine, { prefs: { 'network.lna.websocket.enabled': false } });
          const page = await newPage(handle);
          await page.goto(`${origin}/?port=${helper.port}`);
          await page.waitForFunction(() => window.devpage.conn === 'open', null, { timeout: 5000 });
          await fullFlow(page, helper);
          assert.deepEqual(connected(helper), [`Connected to ${origin} (slot 1).`]);
        }));
      }

      // Firefox asks about WebSockets only with this preference on (off by default in 153).
      const prefs = engine === 'firefox' ? { 'network.lna.websocket.enabled': true } : undefined;

      // Opens the page in a real window and waits for the browser's prompt. Resolves to
      // { handle, page, buttons, attempt } where attempt is the page's first WebSocket attempt.
      async function prompted(helper) {
        const handle = await launch(engine, { window: true, prefs });
        const page = await newPage(handle);
        await page.goto(`${origin}/?port=${helper.port}`);
        const buttons = await display.waitForButtons(engine);
        const attempt = await page.evaluate(() => window.devpage.attempts[0]);
        assert.equal(attempt.port, helper.port);
        // While the question is open the page says what the browser asks and keeps waiting.
        await page.waitForFunction(() => document.querySelector('#banner').dataset.kind === 'info', null, { timeout: 5000 });
        const banner = await page.textContent('#banner');
        assert.match(banner, /wants to access other apps and services on this device/);
        assert.match(banner, /Choose Allow/);
        assert.equal(await page.evaluate(() => window.devpage.conn), 'searching');
        return { handle, page, buttons, attempt };
      }

      for (const delay of ALLOW_MS) {
        test(`the prompt answered with Allow ${delay / 1000} s after the page asked: connected on the first try`, closing(async (t) => {
          const helper = await start();
          const { page, buttons, attempt } = await prompted(helper);
          const wait = attempt.at + delay - Date.now();
          if (wait > 0) await page.waitForTimeout(wait);
          const clicked = Date.now();
          await display.click(buttons.allow);
          // A prompt still on the screen after the click did not take it (seen once in Firefox,
          // under load, on a fresh machine): it is clicked again, as a person would, and counted.
          const answered = (ms) => page.waitForFunction(() => window.devpage.conn !== 'searching', null, { timeout: ms })
            .then(() => true, () => false);
          let clicks = 1;
          for (let shown; !(await answered(3000)) && clicks < 3 && (shown = display.buttons(engine)); clicks++) {
            await display.click(shown.allow);
          }
          if (!(await answered(10000))) {
            const file = path.join(process.env.TIVEL_E2E_OUT || os.tmpdir(), `allow-not-taken-${engine}.png`);
            display.save(file);
            assert.fail(`still searching 13 s after ${clicks} click(s) on Allow (the screen: ${file})`);
          }
          const s = await page.evaluate(() => ({ conn: window.devpage.conn, attempts: window.devpage.attempts }));
          const openedAfter = Date.now() - clicked;
          assert.equal(s.conn, 'open', `${await page.textContent('#banner')}\n${helper.output}`);
          // Firefox itself gives up on a WebSocket that has not opened in 20 s, prompt or not
          // (network.websocket.timeout.open); after a later Allow the page connects again by itself.
          const firstTry = !(engine === 'firefox' && delay >= FIREFOX_OPEN_TIMEOUT_MS);
          assert.equal(s.attempts.length, firstTry ? 1 : 2, firstTry ? 'one WebSocket: the first attempt connected' : 'one more attempt, made by the page');
          assert.equal(await page.isVisible('#banner'), false);
          // Firefox reports the WebSocket it gave up on as a page error.
          if (!firstTry) page.problems = page.problems.filter((p) => !/can.t establish a connection to the server at ws:/.test(p));
          await fullFlow(page, helper);
          // Firefox still sends the upgrade of the WebSocket it gave up on once Allow comes; the
          // helper then serves that connection until Firefox closes it.
          if (firstTry) assert.deepEqual(connected(helper), [`Connected to ${origin} (slot 1).`]);
          else t.diagnostic(`${engine}: helper log: ${helper.messages().slice(1).join(' | ')}`);
          t.diagnostic(`${engine}: Allow clicked ${clicked - attempt.at} ms after the WebSocket opened; ` +
            `connected ${openedAfter} ms after the click, attempt ${s.attempts.length}, clicks ${clicks}`);
        }));
      }

      test('the prompt answered with Block: the page says the browser keeps it from the helper', closing(async () => {
        const helper = await start();
        const { page, buttons } = await prompted(helper);
        await display.click(buttons.block);
        await page.waitForFunction(() => window.devpage.conn === 'failed', null, { timeout: 10000 });
        const banner = await page.textContent('#banner');
        assert.match(banner, new RegExp(`"${PROMPT_TEXT}"`));
        assert.match(banner, /site settings/);
        assert.equal(await page.evaluate(() => document.querySelector('#banner').dataset.kind), 'error');
        await page.waitForTimeout(500);
        assert.deepEqual(connected(helper), []);
      }));
    });
  }
});
