#!/usr/bin/env node
// Serves the developer page from this folder on 127.0.0.1 and, when asked, runs the helper beside it
// with the page's origin allowed. Plain node, no packages, so it works on a fresh machine.
//
//   node devpage/serve.js [--port 47900] [--helper PATH [-- HELPER_ARGS...]]
//
// With --helper the helper is started with `--dev-origin http://127.0.0.1:PORT` (plus HELPER_ARGS);
// when it exits (it quits by itself once the page has gone) the server exits too.
'use strict';

const fs = require('node:fs');
const http = require('node:http');
const https = require('node:https');
const path = require('node:path');
const { spawn } = require('node:child_process');

const ROOT = __dirname;

// Only the page's own files are served; anything else is 404, so the folder's other files (this
// script) and paths outside it are never handed out.
const FILES = new Map([
  ['/', ['index.html', 'text/html; charset=utf-8']],
  ['/index.html', ['index.html', 'text/html; charset=utf-8']],
  ['/style.css', ['style.css', 'text/css; charset=utf-8']],
  ['/app.js', ['app.js', 'text/javascript; charset=utf-8']],
  ['/favicon.svg', ['favicon.svg', 'image/svg+xml']],
]);

// The page talks to nothing but the helper on loopback.
const CSP =
  "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' data:; " +
  "connect-src ws://127.0.0.1:*; base-uri 'none'; form-action 'none'; frame-ancestors 'none'";

function handle(req, res) {
  const url = new URL(req.url, 'http://127.0.0.1');
  const entry = FILES.get(url.pathname);
  if ((req.method !== 'GET' && req.method !== 'HEAD') || !entry) {
    res.writeHead(req.method === 'GET' || req.method === 'HEAD' ? 404 : 405, {
      'Content-Type': 'text/plain; charset=utf-8',
    });
    res.end('not found\n');
    return;
  }
  fs.readFile(path.join(ROOT, entry[0]), (err, body) => {
    if (err) {
      res.writeHead(404, { 'Content-Type': 'text/plain; charset=utf-8' });
      res.end('not found\n');
      return;
    }
    res.writeHead(200, {
      'Content-Type': entry[1],
      'Content-Length': body.length,
      'Cache-Control': 'no-store',
      'Content-Security-Policy': CSP,
      'X-Content-Type-Options': 'nosniff',
      'Referrer-Policy': 'no-referrer',
    });
    res.end(req.method === 'HEAD' ? undefined : body);
  });
}

// Starts the static server on 127.0.0.1:port (0 picks a free port). Resolves to the server; its
// origin is `http://127.0.0.1:${server.address().port}`. With tls ({ key, cert }) it serves HTTPS
// instead, as the maker's page is served (the tests use a self-signed certificate).
function servePage(port = 47900, { tls } = {}) {
  return new Promise((resolve, reject) => {
    const server = tls ? https.createServer(tls, handle) : http.createServer(handle);
    server.once('error', reject);
    server.listen(port, '127.0.0.1', () => {
      server.off('error', reject);
      resolve(server);
    });
  });
}

function parseArgs(argv) {
  const opts = { port: 47900, helper: '', helperArgs: [] };
  for (let i = 0; i < argv.length; i++) {
    const arg = argv[i];
    if (arg === '--port' && i + 1 < argv.length) {
      opts.port = Number(argv[++i]);
    } else if (arg === '--helper' && i + 1 < argv.length) {
      opts.helper = argv[++i];
    } else if (arg === '--') {
      opts.helperArgs = argv.slice(i + 1);
      break;
    } else {
      return null;
    }
  }
  if (!Number.isInteger(opts.port) || opts.port < 1 || opts.port > 65535) return null;
  return opts;
}

async function main() {
  const opts = parseArgs(process.argv.slice(2));
  if (!opts) {
    console.log('usage: node devpage/serve.js [--port N] [--helper PATH [-- HELPER_ARGS...]]');
    process.exit(2);
  }
  let server;
  try {
    server = await servePage(opts.port);
  } catch (err) {
    console.log(`devpage: cannot serve on 127.0.0.1:${opts.port}: ${err.message}`);
    process.exit(1);
  }
  const origin = `http://127.0.0.1:${server.address().port}`;
  console.log(`devpage: open ${origin}/ in a browser (Ctrl+C stops everything)`);
  if (!opts.helper) return;

  const child = spawn(opts.helper, ['--dev-origin', origin, ...opts.helperArgs], {
    stdio: 'inherit',
  });
  // Ctrl+C in the terminal reaches the helper directly as well; a second stop signal is harmless.
  const stop = (sig) => child.kill(sig);
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
  child.on('error', (err) => {
    console.log(`devpage: cannot start ${opts.helper}: ${err.message}`);
    server.close();
    process.exit(1);
  });
  child.on('exit', (code, signal) => {
    server.close();
    process.exit(code ?? (signal ? 1 : 0));
  });
}

if (require.main === module) main();

module.exports = { servePage };
