// Starts the static helper in an empty chroot that holds nothing but the binary, then talks to it
// from outside over 127.0.0.1 as the page would: WebSocket upgrade with the page's Host and Origin,
// a masked {"cmd":"hello"} text frame, the hello reply, a close; finally SIGTERM and exit code 0.
// A binary for another architecture runs through the (static) emulator that TIVEL_EMULATOR names,
// copied into the chroot beside it.
// Usage: node chroot_hello.js STATIC_BINARY VERSION
'use strict';
const { spawn } = require('child_process');
const crypto = require('crypto');
const fs = require('fs');
const net = require('net');
const os = require('os');
const path = require('path');

const [binary, version] = process.argv.slice(2);
const NAME = 'tamberline-tivel-helper';
// chroot lives in /usr/sbin, which a non-login root shell may not have on its PATH.
const CHROOT = fs.existsSync('/usr/sbin/chroot') ? '/usr/sbin/chroot' : 'chroot';
const ORIGIN = 'https://tamberline.com';
const EMULATOR = process.env.TIVEL_EMULATOR || '';

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.on('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function withTimeout(promise, ms, what) {
  let timer;
  const timeout = new Promise((_, reject) => {
    timer = setTimeout(() => reject(new Error(`timed out waiting for ${what}`)), ms);
  });
  return Promise.race([promise, timeout]).finally(() => clearTimeout(timer));
}

// Starts the helper; resolves once its "Running on" line is out, or with null when the port was
// taken meanwhile (exit code 1), so the caller can try another.
function startHelper(root, port) {
  const inside = EMULATOR ? ['/emulator', `/${NAME}`] : [`/${NAME}`];
  const child = spawn(CHROOT, [root, ...inside, '--port', String(port)], {
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  child.out = '';
  child.err = '';
  child.exited = new Promise((resolve) => child.on('exit', (code, signal) => resolve({ code, signal })));
  child.stdout.on('data', (d) => (child.out += d));
  child.stderr.on('data', (d) => (child.err += d));
  const running = new Promise((resolve) => {
    child.stdout.on('data', () => {
      if (child.out.includes(`Running on 127.0.0.1:${port}.`)) resolve(child);
    });
    child.exited.then(({ code }) => resolve(code === 1 ? null : child));
  });
  return withTimeout(running, 10000, 'the Running on line').catch((e) => {
    child.kill('SIGKILL');
    throw e;
  });
}

// Collects bytes from a socket and hands out exactly what the caller asks for.
function reader(socket) {
  let buffer = Buffer.alloc(0);
  let waiting = null;
  const wake = () => {
    if (waiting && waiting.test()) {
      const w = waiting;
      waiting = null;
      w.resolve();
    }
  };
  socket.on('data', (d) => {
    buffer = Buffer.concat([buffer, d]);
    wake();
  });
  socket.on('end', () => waiting && waiting.reject(new Error('connection closed early')));
  const until = (test) =>
    new Promise((resolve, reject) => {
      waiting = { test, resolve, reject };
      wake();
    });
  return {
    async headers() {
      await until(() => buffer.indexOf('\r\n\r\n') >= 0);
      const end = buffer.indexOf('\r\n\r\n') + 4;
      const text = buffer.subarray(0, end).toString('latin1');
      buffer = buffer.subarray(end);
      return text;
    },
    async bytes(n) {
      await until(() => buffer.length >= n);
      const out = buffer.subarray(0, n);
      buffer = buffer.subarray(n);
      return out;
    },
  };
}

async function readFrame(input) {
  const [b0, b1] = await input.bytes(2);
  if (b1 & 0x80) throw new Error('the helper sent a masked frame');
  let length = b1 & 0x7f;
  if (length === 126) length = (await input.bytes(2)).readUInt16BE(0);
  else if (length === 127) length = Number((await input.bytes(8)).readBigUInt64BE(0));
  return { opcode: b0 & 0x0f, fin: (b0 & 0x80) !== 0, payload: await input.bytes(length) };
}

function maskedFrame(opcode, payload) {
  if (payload.length > 125) throw new Error('test frames stay short');
  const mask = crypto.randomBytes(4);
  const body = Buffer.from(payload.map((b, i) => b ^ mask[i % 4]));
  return Buffer.concat([Buffer.from([0x80 | opcode, 0x80 | payload.length]), mask, body]);
}

async function talk(port) {
  const socket = net.connect(port, '127.0.0.1');
  await withTimeout(new Promise((resolve, reject) => {
    socket.once('connect', resolve);
    socket.once('error', reject);
  }), 5000, 'the connection');
  const input = reader(socket);
  const key = crypto.randomBytes(16).toString('base64');
  socket.write(
    `GET / HTTP/1.1\r\nHost: 127.0.0.1:${port}\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n` +
      `Origin: ${ORIGIN}\r\nSec-WebSocket-Key: ${key}\r\nSec-WebSocket-Version: 13\r\n\r\n`,
  );
  const response = await withTimeout(input.headers(), 5000, 'the upgrade response');
  if (!response.startsWith('HTTP/1.1 101 ')) throw new Error(`no upgrade: ${JSON.stringify(response)}`);
  const accept = crypto
    .createHash('sha1')
    .update(key + '258EAFA5-E914-47DA-95CA-C5AB0DC85B11')
    .digest('base64');
  if (!response.includes(`\r\nSec-WebSocket-Accept: ${accept}\r\n`)) {
    throw new Error(`wrong accept key in ${JSON.stringify(response)}`);
  }

  socket.write(maskedFrame(0x1, Buffer.from('{"cmd":"hello"}')));
  const reply = await withTimeout(readFrame(input), 5000, 'the hello reply');
  const text = reply.payload.toString('utf8');
  const start = `{"type":"hello","name":"${NAME}","version":"${version}"`;
  if (reply.opcode !== 0x1 || !reply.fin || !text.startsWith(start)) {
    throw new Error(`hello reply (opcode ${reply.opcode}) was ${JSON.stringify(text)}`);
  }
  const hello = JSON.parse(text);
  if (hello.port !== port) throw new Error(`hello reports port ${hello.port}, not ${port}`);

  socket.write(maskedFrame(0x8, Buffer.from([0x03, 0xe8])));
  const close = await withTimeout(readFrame(input), 5000, 'the close reply');
  if (close.opcode !== 0x8) throw new Error(`expected a close frame, got opcode ${close.opcode}`);
  socket.destroy();
  return text;
}

async function main() {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'tivel-chroot-'));
  let child = null;
  try {
    fs.copyFileSync(binary, path.join(root, NAME));
    fs.chmodSync(path.join(root, NAME), 0o755);
    if (EMULATOR) {
      fs.copyFileSync(EMULATOR, path.join(root, 'emulator'));
      fs.chmodSync(path.join(root, 'emulator'), 0o755);
    }
    const held = fs.readdirSync(root).sort().join(',');
    if (held !== (EMULATOR ? `emulator,${NAME}` : NAME)) throw new Error(`chroot holds ${held}`);

    let port = 0;
    for (let attempt = 0; attempt < 5 && !child; attempt++) {
      port = await freePort();
      child = await startHelper(root, port);
    }
    if (!child) throw new Error('no free port could be had');

    const text = await talk(port);
    child.kill('SIGTERM');
    const { code, signal } = await withTimeout(child.exited, 5000, 'the helper to exit');
    if (code !== 0) throw new Error(`helper ended with code ${code} signal ${signal}`);
    if (!/\d\d:\d\d:\d\d {2}Stopped\.\n/.test(child.out)) throw new Error('no "Stopped." line');
    if (child.err !== '') throw new Error(`standard error was not empty: ${child.err}`);
    console.log(`chroot hello OK on port ${port}: ${text.slice(0, 80)}...`);
  } catch (e) {
    if (child) {
      child.kill('SIGKILL');
      console.log(`helper output:\n${child.out}${child.err}`);
    }
    console.log(`FAIL: ${e.message}`);
    process.exitCode = 1;
  } finally {
    fs.rmSync(root, { recursive: true, force: true });
  }
}

main();
