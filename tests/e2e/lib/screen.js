// A virtual X screen (Xvfb) for browsers with real windows, where a permission prompt is shown as
// a person sees it and answered with a real mouse click (xdotool). Xvfb keeps its frame buffer in
// a file (an XWD image), which is how the tests find the prompt's buttons on the screen.
'use strict';

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const zlib = require('node:zlib');
const { spawn, execFile } = require('node:child_process');

const TOOLS = { Xvfb: 'xvfb', xdotool: 'xdotool' };

// Why no screen can be had here, or '' when it can.
function unavailable() {
  for (const [tool, pkg] of Object.entries(TOOLS)) {
    const found = (process.env.PATH || '/usr/bin:/bin').split(':').some((dir) => fs.existsSync(path.join(dir, tool)));
    if (!found) return `${tool} is missing (install the Debian package ${pkg})`;
  }
  return '';
}

// The prompt buttons as each browser draws them (sRGB): Chromium draws Block and Allow alike,
// side by side, Allow on the right; Firefox draws Allow in its accent blue with Block left of it.
const BUTTONS = {
  chromium: { allow: [211, 227, 253], block: [211, 227, 253] },
  firefox: { allow: [55, 132, 228], block: [227, 227, 228] },
};

// Starts Xvfb on a free display. Resolves to { display, buttons(engine), click(x, y), close() }.
async function startScreen() {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tivel-e2e-screen-'));
  const child = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x900x24', '-fbdir', dir, '-nolisten', 'tcp'], {
    stdio: ['ignore', 'ignore', 'pipe', 'pipe'],
  });
  let log = '';
  child.stderr.on('data', (chunk) => (log += chunk));
  const display = await new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => reject(new Error(`Xvfb did not start in 10 s: ${log}`)), 10000);
    child.stdio[3].on('data', (chunk) => {
      text += chunk;
      if (text.includes('\n')) {
        clearTimeout(timer);
        resolve(`:${text.trim()}`);
      }
    });
    child.once('exit', (code) => {
      clearTimeout(timer);
      reject(new Error(`Xvfb exited (${code}): ${log}`));
    });
  });
  const frameFile = path.join(dir, 'Xvfb_screen0');

  // The screen's pixels: { width, height, at(x, y) -> [r, g, b] }.
  function frame() {
    const data = fs.readFileSync(frameFile);
    const header = (i) => data.readUInt32BE(i * 4);
    const width = header(4);
    const height = header(5);
    const bytesPerLine = header(12);
    const start = header(0) + header(19) * 12; // header, then the colour map
    const at = (x, y) => {
      const i = start + y * bytesPerLine + x * 4; // 32 bits a pixel, least significant byte first
      return [data[i + 2], data[i + 1], data[i]];
    };
    return { width, height, at };
  }

  // The buttons of `colour` between rows `from` and `to` (below the browser's toolbar by default):
  // each a run of columns with at least a button's height of that colour, as { x, y, width } (its
  // centre), left to right.
  function blocksOf(colour, from = 90, to = 600) {
    const { width, height, at } = frame();
    const near = (p) => p.every((v, i) => Math.abs(v - colour[i]) <= 3);
    const blocks = [];
    let run = null;
    for (let x = 0; x < width; x++) {
      let count = 0;
      let top = height;
      let bottom = 0;
      for (let y = from; y < Math.min(height, to); y++) {
        if (near(at(x, y))) {
          count++;
          top = Math.min(top, y);
          bottom = Math.max(bottom, y);
        }
      }
      if (count >= 16) {
        if (!run) run = { x0: x, top, bottom };
        run.x1 = x;
        run.top = Math.min(run.top, top);
        run.bottom = Math.max(run.bottom, bottom);
      } else if (run) {
        blocks.push(run);
        run = null;
      }
    }
    if (run) blocks.push(run);
    return blocks
      .filter((b) => b.x1 - b.x0 >= 30 && b.bottom - b.top <= 60)
      .map((b) => ({ x: Math.round((b.x0 + b.x1) / 2), y: Math.round((b.top + b.bottom) / 2), width: b.x1 - b.x0 + 1 }));
  }

  // The prompt's Allow and Block buttons, or null while no prompt is on the screen.
  function buttons(engine) {
    const colours = BUTTONS[engine];
    const allows = blocksOf(colours.allow);
    if (engine === 'chromium') {
      if (allows.length < 2) return null;
      const [block, allow] = allows.slice(-2);
      return Math.abs(block.y - allow.y) <= 2 ? { allow, block } : null;
    }
    if (allows.length !== 1) return null;
    const allow = allows[0];
    const block = blocksOf(colours.block, allow.y - 24, allow.y + 24)
      .filter((b) => Math.abs(b.y - allow.y) <= 2 && b.x < allow.x)
      .pop();
    return block ? { allow, block } : null;
  }

  // The screen as a PNG file, for a person to see what a failed case saw.
  function save(file) {
    const { width, height, at } = frame();
    const raw = Buffer.alloc((width * 3 + 1) * height);
    for (let y = 0; y < height; y++) {
      for (let x = 0; x < width; x++) Buffer.from(at(x, y)).copy(raw, y * (width * 3 + 1) + 1 + x * 3);
    }
    const chunk = (type, data) => {
      const body = Buffer.concat([Buffer.from(type), data]);
      const length = Buffer.alloc(4);
      length.writeUInt32BE(data.length);
      const crc = Buffer.alloc(4);
      crc.writeUInt32BE(zlib.crc32 ? zlib.crc32(body) : crc32(body));
      return Buffer.concat([length, body, crc]);
    };
    const head = Buffer.alloc(13);
    head.writeUInt32BE(width, 0);
    head.writeUInt32BE(height, 4);
    head.set([8, 2, 0, 0, 0], 8); // 8 bits a channel, RGB
    fs.writeFileSync(file, Buffer.concat([
      Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
      chunk('IHDR', head), chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0)),
    ]));
  }

  // Resolves to the buttons once a prompt shows, polling the screen; rejects after timeoutMs
  // and leaves the screen in TIVEL_E2E_OUT (or the temporary folder) to look at.
  async function waitForButtons(engine, timeoutMs = 15000) {
    const until = Date.now() + timeoutMs;
    for (;;) {
      const found = buttons(engine);
      if (found) return found;
      if (Date.now() > until) {
        const file = path.join(process.env.TIVEL_E2E_OUT || os.tmpdir(), `no-prompt-${engine}.png`);
        save(file);
        throw new Error(`no ${engine} permission prompt on the screen within ${timeoutMs} ms (the screen: ${file})`);
      }
      await new Promise((resolve) => setTimeout(resolve, 100));
    }
  }

  // A left click at (x, y), as a person's mouse would send it.
  function click({ x, y }) {
    return new Promise((resolve, reject) => {
      execFile('xdotool', ['mousemove', '--sync', String(x), String(y), 'click', '1'], { env: { ...process.env, DISPLAY: display } }, (err) =>
        err ? reject(err) : resolve(),
      );
    });
  }

  async function close() {
    if (child.exitCode === null) {
      child.kill('SIGTERM');
      await new Promise((resolve) => child.once('exit', resolve));
    }
    fs.rmSync(dir, { recursive: true, force: true });
  }

  return { display, buttons, waitForButtons, click, save, close };
}

// CRC-32 of PNG chunks, for node versions whose zlib lacks crc32.
function crc32(bytes) {
  let crc = ~0;
  for (const byte of bytes) {
    crc ^= byte;
    for (let k = 0; k < 8; k++) crc = (crc >>> 1) ^ (0xedb88320 & -(crc & 1));
  }
  return ~crc >>> 0;
}

module.exports = { unavailable, startScreen };
