'use strict';
// The peer most page developers would reach for: a server on the npm `ws` package that answers
// the page's commands with the helper's own replies, read from files, after the same Host and
// Origin checks. Usage: node ws_peer.js PORT ORIGIN HELLO_REPLY_FILE [SCAN_REPLY_FILE]
const fs = require('fs');
const { WebSocketServer } = require('ws');

const [port, origin, helloFile, scanFile] = process.argv.slice(2);
// Encoded once, so each reply is only framed and written.
const replies = new Map([['hello', fs.readFileSync(helloFile)]]);
if (scanFile) replies.set('scan', fs.readFileSync(scanFile));
const hosts = new Set([`127.0.0.1:${port}`, `localhost:${port}`]);

const server = new WebSocketServer({
  host: '127.0.0.1',
  port: Number(port),
  perMessageDeflate: false,
  verifyClient: ({ origin: from, req }) =>
    from === origin && hosts.has(String(req.headers.host).toLowerCase()),
});

server.on('connection', (socket) => {
  socket.on('message', (data, isBinary) => {
    if (isBinary) {
      socket.close();
      return;
    }
    let cmd = '';
    try {
      cmd = String(JSON.parse(data.toString()).cmd);
    } catch {
      // not JSON: answered as an unknown command
    }
    const reply = replies.get(cmd);
    if (reply !== undefined) {
      socket.send(reply, { binary: false });
    } else {
      socket.send(JSON.stringify({ type: 'error', cmd, msg: 'unknown command' }));
    }
  });
});

process.on('SIGTERM', () => server.close(() => process.exit(0)));
