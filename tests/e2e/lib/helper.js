// Runs the helper binary (real or simulated WiFi) as a child process on a free loopback port and
// reads its log, for the end-to-end tests.
'use strict';

const net = require('node:net');
const { spawn } = require('node:child_process');

// A TCP port on 127.0.0.1 that was free a moment ago.
function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// The path of a binary handed over by CMake in the environment, or '' when it was not built.
function binary(name) {
  return process.env[name] || '';
}

// TIVEL_EMULATOR, when set, runs the binaries (qemu-user for another architecture's build), as in
// the C++ test kit: `EMULATOR BINARY ARGS...`.
function command(path, args) {
  const emulator = process.env.TIVEL_EMULATOR;
  return emulator ? [emulator, [path, ...args]] : [path, args];
}

class Helper {
  constructor(child, port) {
    this.child = child;
    this.port = port;
    this.output = '';
    this.exitCode = null;
    this.waiters = [];
    this.exited = new Promise((resolve) => {
      child.on('exit', (code, signal) => {
        this.exitCode = code ?? 128;
        this.signal = signal;
        this.poke();
        resolve(this.exitCode);
      });
    });
    const take = (chunk) => {
      this.output += chunk.toString('utf8');
      this.poke();
    };
    child.stdout.on('data', take);
    child.stderr.on('data', take);
  }

  poke() {
    for (const waiter of [...this.waiters]) waiter();
  }

  // Resolves when the output contains `text`; rejects after timeoutMs or when the helper exits.
  waitFor(text, timeoutMs = 5000) {
    return new Promise((resolve, reject) => {
      const check = () => {
        if (this.output.includes(text)) {
          done();
          resolve();
        } else if (this.exitCode !== null) {
          done();
          reject(new Error(`helper exited (${this.exitCode}) before printing ${JSON.stringify(text)}:\n${this.output}`));
        }
      };
      const timer = setTimeout(() => {
        done();
        reject(new Error(`no ${JSON.stringify(text)} within ${timeoutMs} ms; output so far:\n${this.output}`));
      }, timeoutMs);
      const done = () => {
        clearTimeout(timer);
        this.waiters = this.waiters.filter((w) => w !== check);
      };
      this.waiters.push(check);
      check();
    });
  }

  // Log messages without their "HH:MM:SS  " time stamps.
  messages() {
    return this.output
      .split('\n')
      .filter((line) => /^\d\d:\d\d:\d\d {2}/.test(line))
      .map((line) => line.slice(10));
  }

  // SIGTERM, then SIGKILL if it has not gone within 3 seconds. Resolves to the exit code.
  async stop() {
    if (this.exitCode !== null) return this.exitCode;
    this.child.kill('SIGTERM');
    const timer = setTimeout(() => this.child.kill('SIGKILL'), 3000);
    const code = await this.exited;
    clearTimeout(timer);
    return code;
  }
}

// Starts `path` with `--port <free port>` and the extra args, waits for its "Running on" line and
// returns the Helper. Another process may grab the port between the probe and the bind; then the
// helper exits with 1 and the start is retried on a new port. With `port` given, uses that port
// (0: no --port at all, the helper picks from its default range; helper.port is then the one it
// bound) and does not retry.
async function startHelper(path, { args = [], env = {}, port } = {}) {
  let last = '';
  for (let attempt = 0; attempt < 3; attempt++) {
    const chosen = port ?? (await freePort());
    const portArgs = chosen === 0 ? [] : ['--port', String(chosen)];
    const child = spawn(...command(path, [...portArgs, ...args]), {
      env: { ...process.env, ...env },
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    const helper = new Helper(child, chosen);
    try {
      await helper.waitFor(chosen === 0 ? 'it connects by itself.' : `Running on 127.0.0.1:${chosen}.`, 5000);
      if (chosen === 0) helper.port = Number(/Running on 127\.0\.0\.1:(\d+)\./.exec(helper.output)[1]);
      return helper;
    } catch (err) {
      last = err.message;
      await helper.stop();
      if (helper.exitCode !== 1 || port !== undefined) break;
    }
  }
  throw new Error(`could not start ${path}: ${last}`);
}

module.exports = { freePort, binary, startHelper };
