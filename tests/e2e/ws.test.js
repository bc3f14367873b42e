// The `ws` library as a second real WebSocket client of the helper: how it sees refused upgrades,
// ping, close, and a burst of commands sent without waiting.
'use strict';

const assert = require('node:assert/strict');
const http = require('node:http');
const { after, before, describe, test } = require('node:test');
const WebSocket = require('ws');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { binary, startHelper } = require('./lib/helper');
const scenes = require('./lib/scenes');

const HELPER = binary('TIVEL_HELPER');
const SIM = binary('TIVEL_SIM');
const DEV_ORIGIN = 'http://127.0.0.1:47900';
// A handshake the helper never answers fails the case quickly instead of hanging it.
const HANDSHAKE_MS = 3000;

// Opens a WebSocket that the helper is expected to refuse and resolves to the HTTP reply it got.
function refusedUpgrade(url, options) {
  return new Promise((resolve, reject) => {
    const ws = new WebSocket(url, { handshakeTimeout: HANDSHAKE_MS, ...options });
    ws.on('open', () => {
      ws.terminate();
      reject(new Error('the upgrade was accepted'));
    });
    ws.on('error', reject);
    ws.on('unexpected-response', (req, res) => {
      const chunks = [];
      res.on('data', (chunk) => chunks.push(chunk));
      res.on('end', () =>
        resolve({
          status: res.statusCode,
          statusText: res.statusMessage,
          headers: res.headers,
          body: Buffer.concat(chunks).toString('latin1'),
        }),
      );
      res.on('error', reject);
    });
  });
}

function openSocket(url, options) {
  return new Promise((resolve, reject) => {
    const ws = new WebSocket(url, { handshakeTimeout: HANDSHAKE_MS, ...options });
    ws.once('open', () => resolve(ws));
    ws.once('error', reject);
    ws.once('unexpected-response', (req, res) => reject(new Error(`upgrade refused: ${res.statusCode}`)));
  });
}

// Resolves with the next `count` text messages, parsed; rejects when the connection fails first.
function nextMessages(ws, count, timeoutMs = 5000) {
  return new Promise((resolve, reject) => {
    const got = [];
    let failure = '';
    const finish = (err) => {
      clearTimeout(timer);
      ws.off('message', take);
      ws.off('error', onError);
      ws.off('close', onClose);
      if (err) reject(err);
      else resolve(got);
    };
    const timer = setTimeout(() => finish(new Error(`got ${got.length} of ${count} messages: ${JSON.stringify(got)}`)), timeoutMs);
    const onError = (err) => (failure = err.message);
    const onClose = (code) =>
      finish(new Error(`connection closed (${code}${failure ? `, ${failure}` : ''}) after ${got.length} of ${count} messages`));
    function take(data, isBinary) {
      assert.equal(isBinary, false, 'the helper sends text frames only');
      got.push(JSON.parse(data.toString('utf8')));
      if (got.length === count) finish(null);
    }
    ws.on('message', take);
    ws.on('error', onError);
    ws.on('close', onClose);
  });
}

describe('the ws library as a client', { skip: HELPER ? false : 'TIVEL_HELPER not set', timeout: 30000 }, () => {
  let helper;
  let url;

  before(async () => {
    helper = await startHelper(HELPER, { args: ['--dev-origin', DEV_ORIGIN] });
    url = `ws://127.0.0.1:${helper.port}`;
  });

  after(async () => {
    if (helper) assert.equal(await helper.stop(), 0, helper.output);
  });

  test('a Host naming another site is refused with 403 "wrong host"', async () => {
    const reply = await refusedUpgrade(url, {
      origin: DEV_ORIGIN,
      headers: { Host: `rebind.example:${helper.port}` },
    });
    assert.equal(reply.status, 403);
    assert.equal(reply.statusText, 'Forbidden');
    assert.equal(reply.headers['content-type'], 'text/plain; charset=utf-8');
    assert.equal(reply.headers['content-length'], '11');
    assert.equal(reply.body, 'wrong host\n');

    const wrongPort = await refusedUpgrade(url, {
      origin: DEV_ORIGIN,
      headers: { Host: `127.0.0.1:${helper.port + 1}` },
    });
    assert.equal(wrongPort.status, 403);
    assert.equal(wrongPort.body, 'wrong host\n');
  });

  test('a foreign Origin and a missing Origin are refused with 403 and logged', async () => {
    const foreign = await refusedUpgrade(url, { origin: 'https://evil.example' });
    assert.equal(foreign.status, 403);
    assert.equal(foreign.statusText, 'Forbidden');
    assert.equal(foreign.headers['content-length'], '19');
    assert.equal(foreign.body, 'origin not allowed\n');
    await helper.waitFor('Refused a connection from https://evil.example (only Tamberline pages may connect).');

    // The allowed origin with a trailing slash is another origin.
    const slash = await refusedUpgrade(url, { origin: `${DEV_ORIGIN}/` });
    assert.equal(slash.status, 403);
    assert.equal(slash.body, 'origin not allowed\n');

    const none = await refusedUpgrade(url, {}); // ws sends no Origin unless asked
    assert.equal(none.status, 403);
    assert.equal(none.body, 'origin not allowed\n');
    await helper.waitFor('Refused a connection from an unknown page (only Tamberline pages may connect).');
  });

  test('a plain HTTP request gets the 200 text page and the connection closes', async () => {
    const reply = await new Promise((resolve, reject) => {
      const req = http.get({ host: '127.0.0.1', port: helper.port, path: '/', agent: false }, (res) => {
        const chunks = [];
        res.on('data', (chunk) => chunks.push(chunk));
        res.on('end', () => resolve({ res, body: Buffer.concat(chunks).toString('utf8') }));
      });
      req.on('error', reject);
    });
    assert.equal(reply.res.statusCode, 200);
    assert.equal(reply.res.headers.connection, 'close');
    assert.equal(reply.res.headers['content-length'], '91');
    assert.equal(
      reply.body,
      'Tamberline Tivel Helper is running. Go back to the Tamberline page; it connects by itself.\n',
    );
  });

  test('the allowed origin is upgraded, also with Host spelled localhost in capitals', async () => {
    const ws = await openSocket(url, { origin: DEV_ORIGIN, headers: { Host: `LOCALHOST:${helper.port}` } });
    assert.equal(ws.protocol, '');
    assert.equal(ws.extensions, '');
    ws.send('{"cmd":"hello"}');
    const [hello] = await nextMessages(ws, 1);
    assert.equal(hello.type, 'hello');
    assert.equal(hello.port, helper.port);
    ws.terminate();
  });

  test('pings are answered with the same payload: short, 125 bytes and empty', async () => {
    const ws = await openSocket(url, { origin: DEV_ORIGIN });
    const pong = (payload) =>
      new Promise((resolve, reject) => {
        const timer = setTimeout(() => reject(new Error('no pong')), 3000);
        ws.once('pong', (data) => {
          clearTimeout(timer);
          resolve(data);
        });
        ws.ping(payload);
      });
    assert.deepEqual(await pong(Buffer.from('tivel')), Buffer.from('tivel'));
    const big = Buffer.alloc(125, 0xa5);
    assert.deepEqual(await pong(big), big);
    assert.deepEqual(await pong(Buffer.alloc(0)), Buffer.alloc(0));
    // The page still gets answers after the control frames.
    ws.send('{"cmd":"stop"}');
    assert.deepEqual(await nextMessages(ws, 1), [{ type: 'stopped' }]);
    ws.terminate();
  });

  test('a close is answered with a close frame and logged as closed', async () => {
    const ws = await openSocket(url, { origin: DEV_ORIGIN });
    const before = helper.messages().filter((m) => m.startsWith('Page disconnected (closed): ')).length;
    const closed = new Promise((resolve) => ws.once('close', (code, reason) => resolve({ code, reason })));
    ws.close(1000, 'done');
    const { code, reason } = await closed;
    // The helper's close frame carries no status code, which the library reports as 1005.
    assert.equal(code, 1005);
    assert.equal(reason.length, 0);
    await helper.waitFor('Page disconnected (closed): ');
    await new Promise((resolve) => setTimeout(resolve, 50));
    const afterCount = helper.messages().filter((m) => m.startsWith('Page disconnected (closed): ')).length;
    assert.equal(afterCount, before + 1);
  });

  test('20 commands sent without waiting are answered in order', async () => {
    const ws = await openSocket(url, { origin: DEV_ORIGIN });
    const commands = [];
    for (let i = 0; i < 20; i++) {
      if (i % 5 === 0) commands.push({ cmd: 'hello' });
      else if (i % 5 === 1) commands.push({ cmd: 'stop' });
      else if (i % 5 === 2) commands.push({ cmd: 'link' });
      else commands.push({ cmd: `probe-${String(i).padStart(2, '0')}` });
    }
    const replies = nextMessages(ws, 20);
    for (const command of commands) ws.send(JSON.stringify(command));
    const got = await replies;
    got.forEach((reply, i) => {
      const { cmd } = commands[i];
      if (cmd === 'hello') assert.equal(reply.type, 'hello', `reply ${i}`);
      else if (cmd === 'stop') assert.deepEqual(reply, { type: 'stopped' }, `reply ${i}`);
      else if (cmd === 'link') assert.ok(reply.type === 'link' || (reply.type === 'error' && reply.cmd === 'link'), `reply ${i}`);
      else {
        assert.deepEqual(
          reply,
          { type: 'error', cmd, msg: 'unknown command; this helper only reads WiFi information' },
          `reply ${i}`,
        );
      }
    });
    ws.close();
  });
});

// ws checks every text frame for valid UTF-8 and fails the connection (1007) otherwise, as browsers
// do: a second judge of how the scan report carries names that are not UTF-8.
test('a scan report with names that are not UTF-8 is valid UTF-8 text', { skip: SIM ? false : 'TIVEL_SIM not set', timeout: 20000 }, async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tivel-e2e-ws-'));
  const scene = path.join(dir, 'odd-names.scene');
  fs.writeFileSync(scene, scenes.oddNames());
  const helper = await startHelper(SIM, { args: ['--dev-origin', DEV_ORIGIN], env: { TIVEL_SIM_SCENE: scene } });
  try {
    const ws = await openSocket(`ws://127.0.0.1:${helper.port}`, { origin: DEV_ORIGIN });
    ws.send('{"cmd":"scan"}');
    ws.send('{"cmd":"stop"}');
    const [report, stopped] = await nextMessages(ws, 2, 10000);
    assert.equal(report.type, 'scan');
    assert.deepEqual(
      report.nets.map((n) => n.ssid),
      scenes.ODD_NAMES.map((n) => n.text),
    );
    assert.equal(report.link.ssid, scenes.ODD_NAMES[0].text);
    assert.deepEqual(stopped, { type: 'stopped' });
    ws.close();
  } finally {
    assert.equal(await helper.stop(), 0, helper.output);
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
