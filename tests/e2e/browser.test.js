// The developer page in Debian's Chromium and Firefox ESR against the real helper binaries: the
// simulated WiFi (its demo scene and a scene of network names with awkward bytes) and the real
// binary on a machine without WiFi. The same cases run in each engine (TIVEL_E2E_ENGINES=chromium
// picks one); one browser per engine, one page per case.
'use strict';

const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const os = require('node:os');
const path = require('node:path');
const { after, before, describe, test } = require('node:test');
const { WebSocketServer } = require('ws');
const { servePage } = require('../../devpage/serve.js');
const browser = require('./lib/browser');
const { binary, startHelper } = require('./lib/helper');
const scenes = require('./lib/scenes');

const HELPER = binary('TIVEL_HELPER');
const SIM = binary('TIVEL_SIM');
const ENGINES = process.env.TIVEL_E2E_ENGINES ? process.env.TIVEL_E2E_ENGINES.split(',') : browser.ENGINES;
// Each engine leaves its picture of the page beside the test output (`make screenshot` makes the
// README's).
const screenshotPath = (engine) => path.join(process.env.TIVEL_E2E_OUT || os.tmpdir(), `devpage-${engine}.png`);
// The middle value of a list of numbers (stream steps in ms).
const medianOf = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

for (const engine of ENGINES) describe(`the developer page in ${engine}`, () => {
  let engineBrowser;
  let server;
  let origin;
  const helpers = [];
  const tmp = fs.mkdtempSync(path.join(os.tmpdir(), 'tivel-e2e-'));

  before(async () => {
    const missing = browser.unavailable(engine);
    if (missing) throw new Error(`cannot run the browser tests: ${missing}; make deps installs it`);
    server = await servePage(0);
    origin = `http://127.0.0.1:${server.address().port}`;
    engineBrowser = await browser.launch(engine);
  });

  after(async () => {
    if (engineBrowser) await engineBrowser.close();
    if (server) server.close();
    for (const helper of helpers) await helper.stop();
    fs.rmSync(tmp, { recursive: true, force: true });
  });

  async function start(path, env = {}) {
    const helper = await startHelper(path, { args: ['--dev-origin', origin], env });
    helpers.push(helper);
    return helper;
  }

  // Opens the page on the helper's port and waits until it has found the helper and has the
  // answer to its first link query. Page errors are collected in page.problems.
  async function openPage(helper) {
    const page = await engineBrowser.newPage();
    page.problems = [];
    page.on('pageerror', (err) => page.problems.push(`page error: ${err.message}`));
    page.on('console', (msg) => {
      if (msg.type() === 'error') page.problems.push(`console: ${msg.text()}`);
    });
    await page.goto(`${origin}/?port=${helper.port}`);
    await page.waitForFunction(() => window.devpage.conn === 'open', null, { timeout: 5000 });
    await page.waitForFunction(() => window.devpage.link || window.devpage.linkError !== null, null, {
      timeout: 8000,
    });
    return page;
  }

  const pageState = (page) => page.evaluate(() => JSON.parse(JSON.stringify(window.devpage, (k, v) => (k === 'ws' ? undefined : v))));

  // Clicks Scan and waits for its answer (a report or an error), or for the connection to end.
  async function scan(page) {
    const answers = () =>
      window.devpage.received.filter((m) => m.type === 'scan' || (m.type === 'error' && m.cmd === 'scan')).length;
    const before = await page.evaluate(answers);
    await page.click('#btn-scan');
    await page.waitForFunction(
      (count) =>
        window.devpage.conn !== 'open' ||
        window.devpage.received.filter((m) => m.type === 'scan' || (m.type === 'error' && m.cmd === 'scan')).length > count,
      before,
      { timeout: 15000 },
    );
  }

  // The rendered table: one entry per network row.
  const tableRows = (page) =>
    page.$$eval('#nets tbody tr.net', (rows) =>
      rows.map((row) => ({
        name: row.querySelector('td.ssid .name, td.ssid .ssid-hidden').textContent,
        title: row.querySelector('td.ssid .name, td.ssid .ssid-hidden').getAttribute('title'),
        mine: row.classList.contains('mine'),
        badge: row.querySelector('.badge') ? row.querySelector('.badge').textContent : '',
        signal: row.querySelector('.signal').textContent,
        channel: row.cells[3].textContent,
        width: row.cells[6].textContent,
        seen: row.cells[7].textContent,
      })),
    );

  // The page at a phone's width: nothing but the table scrolls sideways, and there it keeps every
  // column; a network name breaks only between words; the badge stays one pill on one line.
  async function checkNarrow(page) {
    await page.setViewportSize({ width: 480, height: 900 });
    const layout = await page.evaluate(() => {
      const wrap = document.querySelector('#card-scan .table-wrap');
      const wordsSplit = [];
      for (const name of document.querySelectorAll('#nets td.ssid .name')) {
        const text = name.firstChild;
        if (!text || text.nodeType !== Node.TEXT_NODE) continue;
        for (const match of text.data.matchAll(/\S+/g)) {
          const range = document.createRange();
          range.setStart(text, match.index);
          range.setEnd(text, match.index + match[0].length);
          if (range.getClientRects().length !== 1) wordsSplit.push(match[0]);
        }
      }
      const badge = document.querySelector('#nets .badge');
      return {
        pageWidth: document.documentElement.scrollWidth,
        columns: [...document.querySelectorAll('#nets thead th')].filter((th) => th.getBoundingClientRect().width > 0).length,
        tableScrolls: getComputedStyle(wrap).overflowX === 'auto',
        tableWidth: wrap.scrollWidth,
        wordsSplit,
        badgeLines: badge.getClientRects().length,
        badgeHeight: badge.getBoundingClientRect().height,
        badgeFont: parseFloat(getComputedStyle(badge).fontSize),
      };
    });
    assert.ok(layout.pageWidth <= 480, `the page is ${layout.pageWidth} px wide at 480`);
    assert.equal(layout.columns, 10);
    assert.equal(layout.tableScrolls, true);
    assert.deepEqual(layout.wordsSplit, []);
    assert.equal(layout.badgeLines, 1);
    assert.ok(layout.badgeHeight < 2 * layout.badgeFont, `badge ${layout.badgeHeight} px tall`);
    await page.setViewportSize({ width: 1280, height: 900 });
  }

  test('simulated WiFi: hello, link, scan with the own network marked, a short watch and stop', { skip: SIM ? false : 'TIVEL_SIM not set' }, async () => {
    const helper = await start(SIM, { TIVEL_SIM_SCENE: '' });
    const page = await openPage(helper);

    let s = await pageState(page);
    assert.equal(s.hello.name, 'tamberline-tivel-helper');
    assert.equal(s.hello.version, '0.1.1');
    assert.equal(s.hello.os, 'linux');
    assert.equal(s.hello.port, helper.port);
    assert.deepEqual(s.hello.commands, ['hello', 'link', 'scan', 'watch', 'stop']);
    const facts = await page.textContent('#hello-facts');
    assert.match(facts, /tamberline-tivel-helper/);
    assert.match(facts, /0\.1\.1/);
    assert.equal(await page.textContent('#perm-help'), s.hello.permHelp);
    // Made-up data is marked as such where anyone looking at the page sees it.
    assert.equal(s.hello.simulated, true);
    assert.equal(await page.isVisible('#sim-badge'), true);

    assert.equal(s.linkError, null);
    assert.equal(s.link.connected, true, 'the demo scene is associated');
    assert.ok(s.link.rssi < 0, 'the demo link has a signal');
    assert.equal(await page.textContent('#link-rssi'), String(s.link.rssi));
    assert.equal(await page.textContent('#link-ssid'), s.link.ssid);
    const linkFacts = await page.textContent('#link-facts');
    assert.match(linkFacts, new RegExp(`Channel${s.link.channel}`));
    assert.match(linkFacts, new RegExp(`Frequency${s.link.freqMHz} MHz`));
    assert.equal(s.link.noise, -91, 'the demo survey has the link channel in use at -91 dBm');
    assert.match(linkFacts, /Noise-91 dBm/);
    assert.match(linkFacts, new RegExp(`Signal to noise${s.link.rssi - s.link.noise} dB`));

    await scan(page);
    s = await pageState(page);
    assert.equal(s.conn, 'open');
    assert.equal(s.scanError, null);
    const nets = s.scan.nets;
    assert.ok(nets.length >= 4, `the demo scene has several networks, got ${nets.length}`);
    const rows = await tableRows(page);
    assert.equal(rows.length, nets.length);
    rows.forEach((row, i) => {
      // Rows stay in the order the helper sent, which is strongest first.
      assert.equal(row.signal.trim(), `${nets[i].rssi} dBm`, `row ${i}`);
      assert.equal(row.mine, nets[i].mine, `row ${i}`);
      if (nets[i].ssid === '') assert.equal(row.name, 'hidden network');
      assert.equal(row.width, nets[i].widthMHz ? `${nets[i].widthMHz} MHz` : '—', `row ${i} width`);
      assert.match(row.seen, typeof nets[i].seenMsAgo === 'number' ? / s ago$| min ago$/ : /^—$/, `row ${i} seen`);
      if (i > 0) assert.ok(nets[i - 1].rssi >= nets[i].rssi, 'sorted strongest first');
    });
    assert.equal(rows.filter((r) => r.mine).length, 1, 'exactly one network is this computer\'s');
    const mine = rows.find((r) => r.mine);
    assert.equal(mine.badge, s.scan.mineGuess ? 'this computer (guess)' : 'this computer');
    assert.ok(nets.some((n) => n.ssid === ''), 'the demo scene has a hidden network');
    assert.ok(nets.some((n) => n.freqMHz > 5925), 'the demo scene has a 6 GHz network');
    assert.deepEqual([...new Set(nets.map((n) => n.widthMHz))].sort((a, b) => a - b), [20, 40, 80, 160, 320],
      'the demo networks announce every width');
    assert.match(await page.textContent('#scan-summary'), new RegExp(`^${nets.length} networks`));
    if (s.scan.fresh === true) assert.match(await page.textContent('#scan-summary'), / · fresh scan$/);
    await checkNarrow(page);

    // Information elements on demand, as a hex dump of exactly the bytes received.
    const mineIndex = nets.findIndex((n) => n.mine);
    assert.ok(nets[mineIndex].ie.length > 0);
    await page.click(`#nets tbody tr.net[data-index="${mineIndex}"] .ie-toggle`);
    const dump = await page.textContent('#nets tbody tr.ie-row pre.hex');
    const hexFromDump = dump
      .split('\n')
      .map((line) => line.slice(6, 6 + 49).replace(/\s+/g, ''))
      .join('');
    assert.equal(hexFromDump, nets[mineIndex].ie);
    assert.match(await page.textContent('#nets tbody tr.ie-row .ie-list'), /^0 SSID/);

    // A live stream at 20 Hz, stopped from the page. It is asked for longer than the test needs,
    // so a machine that holds the helper up cannot end it before the page stops it; the time limit
    // on the samples only catches a stream that does not come.
    await page.selectOption('#watch-hz', '20');
    await page.fill('#watch-secs', '30');
    await page.click('#btn-watch');
    await page.waitForFunction(() => window.devpage.watch.samples.length >= 60, null, { timeout: 25000 });
    await page.click('#btn-stop');
    await page.waitForFunction(() => window.devpage.watch.ended !== '', null, { timeout: 3000 });
    s = await pageState(page);
    assert.equal(s.watch.ended, 'Stopped');
    assert.equal(await page.textContent('#watch-state'), 'Stopped');
    const watching = s.received.find((m) => m.type === 'watching');
    assert.deepEqual(watching, { type: 'watching', hz: 20, secs: 30 });
    const samples = s.watch.samples;
    const values = samples.filter((x) => x.rssi !== null);
    assert.ok(values.length >= 60, `${values.length} of ${samples.length} samples carry a value`);
    // The rate by the helper's own stamps: a helper held up by a loaded machine takes a late
    // sample and the next one at once (in the same millisecond when the loop passes quickly), so
    // t never goes back and most steps are the 50 ms spacing, however many samples the stall cost.
    const steps = samples.slice(1).map((x, i) => x.t - samples[i].t);
    assert.ok(steps.every((d) => d >= 0), `time never goes back: ${steps.join(' ')}`);
    assert.ok(Math.abs(medianOf(steps) - 50) <= 10, `20 samples a second by t, steps ${steps.join(' ')}`);
    const chart = await page.$eval('#chart', (svg) => ({
      points: Number(svg.dataset.points),
      traced: [...svg.querySelectorAll('polyline.trace')].reduce((n, p) => n + p.points.numberOfItems, 0),
    }));
    assert.equal(chart.points, values.length);
    assert.equal(chart.traced, values.length);
    // No sample after the stop's answer.
    const countAfterStop = s.watch.samples.length;
    await page.waitForTimeout(250);
    assert.equal((await pageState(page)).watch.samples.length, countAfterStop);

    assert.deepEqual(page.problems, []);
    await page.screenshot({ path: screenshotPath(engine), fullPage: true });
    await page.close();
  });

  test('names with bytes that browsers refuse raw: the connection stays open after a scan', { skip: SIM ? false : 'TIVEL_SIM not set' }, async () => {
    const sceneFile = path.join(tmp, 'odd-names.scene');
    fs.writeFileSync(sceneFile, scenes.oddNames());
    const helper = await start(SIM, { TIVEL_SIM_SCENE: sceneFile });
    const page = await openPage(helper);
    await scan(page);
    let s = await pageState(page);
    assert.equal(
      s.conn,
      'open',
      `the browser dropped the connection (code ${s.closeCode}) after the scan reply: ${page.problems.join('; ')}`,
    );
    assert.equal(s.scanError, null);

    // The next command is still answered on the same connection.
    const hellos = s.received.filter((m) => m.type === 'hello').length;
    await page.click('#btn-hello');
    await page.waitForFunction((n) => window.devpage.received.filter((m) => m.type === 'hello').length > n, hellos, {
      timeout: 3000,
    });
    s = await pageState(page);
    assert.equal(s.conn, 'open');

    const received = s.scan.nets.map((n) => n.ssid);
    for (const { text } of scenes.ODD_NAMES) assert.ok(received.includes(text), `${JSON.stringify(text)} in ${JSON.stringify(received)}`);

    // The table shows each name as the JSON gave it; characters that would be invisible are marked.
    const rows = await tableRows(page);
    const shown = rows.map((r) => r.name);
    assert.ok(shown.includes('say "hi" \\ there'), JSON.stringify(shown));
    assert.ok(shown.includes('caf\u00e9 \u2615 \u{1f600}'), JSON.stringify(shown));
    assert.ok(shown.includes('lone \u00ff'), JSON.stringify(shown));
    assert.ok(shown.includes('surrogate \u00ed\\u00a0\\u0080'), JSON.stringify(shown));
    assert.ok(shown.includes('tab\\u0009nl\\u000a'), JSON.stringify(shown));
    const title = rows.find((r) => r.name.startsWith('surrogate')).title;
    assert.equal(title, '"surrogate \\u00ed\\u00a0\\u0080"');
    assert.deepEqual(page.problems, []);
    await page.close();
  });

  test('a list the helper could not refresh: the page says it is the system\'s last scan and how long ago each network was heard', { skip: SIM ? false : 'TIVEL_SIM not set' }, async () => {
    const sceneFile = path.join(tmp, 'stale-list.scene');
    fs.writeFileSync(sceneFile, scenes.staleList());
    const helper = await start(SIM, { TIVEL_SIM_SCENE: sceneFile });
    const page = await openPage(helper);
    await scan(page);
    const s = await pageState(page);
    assert.equal(s.scanError, null);
    assert.equal(s.scan.fresh, false);
    assert.match(await page.textContent('#scan-summary'), /^5 networks · own network marked · the system's last scan$/);
    assert.match(await page.textContent('#scan-note'), /could not start a scan.*"fresh" is false/);
    const rows = await tableRows(page);
    assert.deepEqual(rows.map((r) => [r.name, r.seen]), scenes.STALE_NETS.map((n) => [n.ssid, n.shown]));
    assert.deepEqual(page.problems, []);
    await page.close();
  });

  test('the real binary without WiFi: the page shows the link and scan errors and a null stream', { skip: HELPER ? false : 'TIVEL_HELPER not set' }, async () => {
    const helper = await start(HELPER);
    const page = await openPage(helper);

    let s = await pageState(page);
    assert.equal(await page.isVisible('#sim-badge'), false);
    assert.equal(s.link, null);
    assert.equal(typeof s.linkError, 'string');
    assert.ok(s.linkError.length > 0);
    assert.deepEqual(s.errors[0], { type: 'error', cmd: 'link', msg: s.linkError });
    assert.equal(await page.isVisible('#link-error'), true);
    assert.equal(await page.textContent('#link-error'), `Link query failed: ${s.linkError}`);

    await scan(page);
    s = await pageState(page);
    assert.equal(s.conn, 'open');
    assert.equal(s.scan, null);
    assert.deepEqual(s.errors[1], { type: 'error', cmd: 'scan', msg: s.scanError });
    assert.equal(await page.textContent('#scan-error'), `Scan failed: ${s.scanError}`);
    assert.equal(await page.$$eval('#nets tbody tr.net', (rows) => rows.length), 0);

    // A one-second stream at 10 Hz ends by itself; without an association every sample is null.
    await page.selectOption('#watch-hz', '10');
    await page.fill('#watch-secs', '1');
    await page.click('#btn-watch');
    await page.waitForFunction(() => window.devpage.watch.ended !== '', null, { timeout: 4000 });
    s = await pageState(page);
    assert.equal(s.watch.ended, 'Finished');
    const samples = s.watch.samples;
    // Ten samples when the helper ran throughout (one more after a late one); fewer only when its
    // own stamps show it was held up, and then the spacing is still 100 ms by t.
    const steps = samples.slice(1).map((x, i) => x.t - samples[i].t);
    assert.ok(samples.length >= 1 && samples.length <= 11, `${samples.length} samples in one second at 10 Hz`);
    assert.ok(samples.length >= 8 || Math.max(...steps) > 150,
      `${samples.length} samples in one second at 10 Hz, steps in t ${steps.join(' ')}`);
    assert.ok(samples[samples.length - 1].t - samples[0].t < 1000, 'no sample after the second');
    if (steps.length >= 3) assert.ok(Math.abs(medianOf(steps) - 100) <= 15, `10 samples a second by t, steps ${steps.join(' ')}`);
    assert.ok(samples.every((x) => x.rssi === null));
    assert.equal(await page.textContent('#watch-nulls'), String(samples.length));
    assert.equal(await page.textContent('#watch-last'), 'null');
    const chart = await page.$eval('#chart', (svg) => ({
      points: svg.dataset.points,
      nulls: svg.dataset.nulls,
      ticks: svg.querySelectorAll('line.null-tick').length,
      note: svg.querySelector('text.placeholder') ? svg.querySelector('text.placeholder').textContent : '',
    }));
    assert.equal(chart.points, '0');
    assert.equal(chart.nulls, String(samples.length));
    assert.equal(chart.ticks, samples.length);
    assert.match(chart.note, /null/);
    assert.deepEqual(page.problems, []);

    // The helper going away is shown, and the commands are disabled.
    assert.equal(await helper.stop(), 0);
    await page.waitForFunction(() => window.devpage.conn === 'closed', null, { timeout: 3000 });
    assert.equal(await page.isVisible('#banner'), true);
    assert.match(await page.textContent('#banner'), /connection to the helper closed/);
    assert.equal(await page.isDisabled('#btn-scan'), true);
    assert.match(await page.textContent('#conn-status'), /Disconnected/);
    await page.close();
  });

  const NETNS_SKIP = !process.env.TIVEL_E2E_NETNS
    ? 'needs the default ports to itself: a private network namespace (run as root)'
    : !HELPER && 'TIVEL_HELPER not set';

  test('without ?port the page tries 47800-47809 in order and keeps the first helper that says hello', { skip: NETNS_SKIP }, async () => {
    // 47800: nothing. 47801: a web server, no WebSocket. 47802: a WebSocket server that answers
    // something else. 47803: a helper that refuses this page's origin. 47804 and 47805: helpers
    // that allow it; the page must stop at 47804.
    const web = http.createServer((req, res) => {
      res.writeHead(404);
      res.end();
    });
    await new Promise((resolve) => web.listen(47801, '127.0.0.1', resolve));
    const other = new WebSocketServer({ host: '127.0.0.1', port: 47802 });
    const otherGot = [];
    other.on('connection', (ws) =>
      ws.on('message', (data) => {
        otherGot.push(String(data));
        ws.send('{"type":"something else"}');
      }),
    );
    await new Promise((resolve) => other.on('listening', resolve));
    try {
      const refusing = await startHelper(HELPER, { port: 47803, args: ['--dev-origin', 'http://127.0.0.1:1'] });
      helpers.push(refusing);
      const first = await startHelper(HELPER, { port: 47804, args: ['--dev-origin', origin] });
      helpers.push(first);
      const second = await startHelper(HELPER, { port: 47805, args: ['--dev-origin', origin] });
      helpers.push(second);

      const page = await engineBrowser.newPage();
      const started = Date.now();
      await page.goto(`${origin}/`);
      await page.waitForFunction(() => window.devpage.conn !== 'searching', null, { timeout: 15000 });
      const took = Date.now() - started;
      let s = await pageState(page);
      assert.equal(s.conn, 'open');
      assert.equal(s.port, 47804);
      assert.equal(s.hello.port, 47804);
      assert.match(await page.textContent('#conn-status'), /127\.0\.0\.1:47804/);
      assert.ok(took < 5000, `the page took ${took} ms to find the helper`);
      assert.deepEqual(otherGot, ['{"cmd":"hello"}']);
      await refusing.waitFor(`Refused a connection from ${origin} (only Tamberline pages may connect).`);
      await first.waitFor(`Connected to ${origin} (slot `);
      assert.ok(!second.output.includes('Connected to'), 'the page stopped at the first helper');

      // When that helper goes away, Reconnect looks again and finds the next one.
      await first.stop();
      await page.waitForFunction(() => window.devpage.conn === 'closed', null, { timeout: 3000 });
      await page.click('#btn-reconnect');
      await page.waitForFunction(() => window.devpage.conn === 'open', null, { timeout: 10000 });
      s = await pageState(page);
      assert.equal(s.port, 47805);
      assert.equal(await page.isVisible('#banner'), false);
      await second.waitFor(`Connected to ${origin} (slot `);
      await page.close();
    } finally {
      web.close();
      other.close();
    }
  });

  test('a helper that does not allow the page\'s origin: the page says which --dev-origin it needs', { skip: HELPER ? false : 'TIVEL_HELPER not set' }, async () => {
    const helper = await startHelper(HELPER, { args: ['--dev-origin', 'http://127.0.0.1:1'] });
    helpers.push(helper);
    const page = await engineBrowser.newPage();
    await page.goto(`${origin}/?port=${helper.port}`);
    await page.waitForFunction(() => window.devpage.conn === 'failed', null, { timeout: 5000 });
    assert.match(await page.textContent('#banner'), new RegExp(`--dev-origin ${origin.replace(/\./g, '\\.')}`));
    // Where the browser has a local-network permission that is not granted, the page names it as
    // another cause, with its state.
    const permission = await page.evaluate(() => window.devpage.permission);
    const named = /local-network permission \("Access other apps and services on this device", loopback-network\) is "(\w+)"/.exec(await page.textContent('#banner'));
    assert.equal(named && named[1], permission && permission !== 'granted' ? permission : null);
    await helper.waitFor(`Refused a connection from ${origin} (only Tamberline pages may connect).`);
    assert.equal(await page.isDisabled('#btn-link'), true);
    await page.close();
  });

  test('a browser without the local-network permission: the page reads none and says only what it always said', { skip: HELPER ? false : 'TIVEL_HELPER not set' }, async () => {
    const helper = await startHelper(HELPER, { args: ['--dev-origin', 'http://127.0.0.1:1'] });
    helpers.push(helper);
    const page = await engineBrowser.newPage();
    // As in a browser that has never heard of the permission: the query throws. The banner is
    // word for word the one the page showed before it knew of the permission.
    await page.addInitScript(() => {
      const query = navigator.permissions.query.bind(navigator.permissions);
      navigator.permissions.query = (descriptor) =>
        descriptor && descriptor.name === 'loopback-network'
          ? Promise.reject(new TypeError(`'${descriptor.name}' is not a valid value for name`))
          : query(descriptor);
    });
    await page.goto(`${origin}/?port=${helper.port}`);
    await page.waitForFunction(() => window.devpage.conn === 'failed', null, { timeout: 5000 });
    assert.equal(await page.evaluate(() => window.devpage.permission), null);
    assert.equal(
      await page.textContent('#banner'),
      `No helper answered on port ${helper.port}. Start it with "make devpage" (or "make devpage SIM=1"); ` +
        `it must allow this page's origin: --dev-origin ${origin}`,
    );
    await page.close();
  });
});
