// Developer page for the Tivel helper: finds the helper on 127.0.0.1 the way the maker's page does,
// sends its commands and shows every reply. Plain browser JavaScript, no libraries, no build step.
//
// Text from the helper (network names, messages) only ever reaches the page through textContent,
// never as markup.
'use strict';

(() => {
  const FIRST_PORT = 47800;
  const LAST_PORT = 47809;
  const HELLO_TIMEOUT_MS = 2500;
  const LOG_LIMIT = 300;

  const $ = (id) => document.getElementById(id);

  // Everything the page knows, kept in one place so it can be inspected from the console (and by
  // the end-to-end tests) as window.devpage.
  const state = {
    conn: 'searching', // searching | open | closed | failed
    port: 0,
    ws: null,
    pending: [], // command names sent and not yet answered, oldest first
    hello: null,
    link: null,
    linkError: null,
    scan: null,
    scanError: null,
    errors: [], // every error reply, in order
    sent: [], // texts sent, in order
    received: [], // parsed messages, in order
    closeCode: null,
    // The browser's local-network permission for this page (granted | prompt | denied), or null
    // where the browser has no such permission.
    permission: null,
    attempts: [], // every WebSocket the search opened: { port, at (Date.now()) }
    watch: { active: false, hz: 0, secs: 0, samples: [], nulls: 0, ended: '' },
  };
  window.devpage = state;

  // ---------------------------------------------------------------- connection

  function portsToTry() {
    const raw = new URLSearchParams(location.search).get('port');
    if (raw === null) {
      const ports = [];
      for (let p = FIRST_PORT; p <= LAST_PORT; p++) ports.push(p);
      return ports;
    }
    const n = Number(raw);
    return Number.isInteger(n) && n >= 1 && n <= 65535 ? [n] : [];
  }

  // ---------------------------------------------------------------- local-network permission
  //
  // A page served from the internet that opens ws://127.0.0.1 goes through the browser's
  // local-network access check: the browser holds the connection and asks the user whether
  // "<site> wants to access other apps and services on this device". Nothing reaches the helper
  // until the user chooses Allow, so while that question is open the page must not give up on
  // the port; after Block, only the site settings bring the connection back. Browsers without
  // this permission throw on the query, and the page then behaves as it always did.

  const PERMISSION = 'loopback-network';
  // How long an attempt may wait while the browser asks. The helper itself closes a connection
  // that stays silent for 60 s, which ends the attempt sooner; this only bounds a silent stranger.
  const PROMPT_TIMEOUT_MS = 70000;
  // The note about the browser's question appears only when the answer is not immediate, so a
  // browser that lets the connection through at once shows no flash of it.
  const PROMPT_NOTE_DELAY_MS = 700;

  // The attempt in progress, so a permission change can re-time it: { rearm } or null.
  let attempt = null;

  async function watchPermission() {
    if (!navigator.permissions || !navigator.permissions.query) return;
    let status;
    try {
      status = await navigator.permissions.query({ name: PERMISSION });
    } catch (err) {
      return; // this browser has no such permission: nothing changes
    }
    state.permission = status.state;
    status.addEventListener('change', () => onPermission(status.state));
  }

  function onPermission(next) {
    const before = state.permission;
    state.permission = next;
    logLine('info', `local-network permission: ${before} → ${next}`);
    if (next === 'granted') {
      if (attempt) attempt.rearm();
      else if (state.conn === 'failed') discover();
    } else if (next === 'denied' && state.conn !== 'open') {
      showDenied();
    }
  }

  const askedFor = () => `"${location.host} wants to access other apps and services on this device"`;

  function showAsking() {
    showBanner(
      `Your browser is asking: ${askedFor()}. Choose Allow so this page can reach the helper; ` +
        'the page keeps waiting for your answer.',
      'info',
    );
  }

  function showDenied() {
    showBanner(
      `This browser blocks the page from reaching programs on this computer: the site permission ` +
        `"Access other apps and services on this device" (${PERMISSION}) is set to Block for ${location.origin}. ` +
        'To allow it again, open the site settings (the icon left of the address), set it to Allow, and press Reconnect.',
    );
  }

  // Opens ws://127.0.0.1:port and sends hello. Resolves to { ws, hello } when a hello reply comes
  // back in time, or to null (socket closed) when anything else happens. While the browser is
  // asking for the local-network permission, the attempt waits for the answer.
  function tryPort(port) {
    return new Promise((resolve) => {
      let ws;
      state.attempts.push({ port, at: Date.now() });
      try {
        ws = new WebSocket(`ws://127.0.0.1:${port}`);
      } catch (err) {
        resolve(null);
        return;
      }
      let done = false;
      let timer = 0;
      let noteTimer = 0;
      const finish = (result) => {
        if (done) return;
        done = true;
        attempt = null;
        clearTimeout(timer);
        clearTimeout(noteTimer);
        ws.onopen = ws.onmessage = ws.onerror = ws.onclose = null;
        if (!result) ws.close();
        resolve(result);
      };
      const rearm = () => {
        clearTimeout(timer);
        clearTimeout(noteTimer);
        if (state.permission === 'prompt') {
          timer = setTimeout(() => finish(null), PROMPT_TIMEOUT_MS);
          noteTimer = setTimeout(showAsking, PROMPT_NOTE_DELAY_MS);
        } else {
          hideBanner();
          timer = setTimeout(() => finish(null), HELLO_TIMEOUT_MS);
        }
      };
      attempt = { rearm };
      rearm();
      ws.onopen = () => {
        clearTimeout(noteTimer);
        const text = JSON.stringify({ cmd: 'hello' });
        ws.send(text);
        logLine('out', text, `:${port}`);
      };
      ws.onmessage = (ev) => {
        let msg = null;
        try {
          msg = JSON.parse(ev.data);
        } catch (err) {
          msg = null;
        }
        if (msg && msg.type === 'hello') {
          state.sent.push(JSON.stringify({ cmd: 'hello' }));
          finish({ ws, hello: msg, raw: ev.data });
        } else {
          finish(null);
        }
      };
      ws.onerror = () => finish(null);
      ws.onclose = () => finish(null);
    });
  }

  async function discover() {
    const ports = portsToTry();
    if (ports.length === 0) {
      setConn('failed', 'Bad port');
      showBanner('The ?port= parameter must be a number from 1 to 65535.');
      return;
    }
    const range = ports.length === 1 ? `port ${ports[0]}` : `ports ${ports[0]}–${ports[ports.length - 1]}`;
    setConn('searching', `Searching ${range}…`);
    hideBanner();
    logLine('info', `looking for the helper on ${range}`);
    for (const port of ports) {
      const found = await tryPort(port);
      if (found) {
        adopt(found.ws, port, found.hello, found.raw);
        return;
      }
      // After Block every port fails the same way; say so at once instead of trying the rest.
      if (state.permission === 'denied') break;
    }
    setConn('failed', 'No helper');
    if (state.permission === 'denied') {
      showDenied();
    } else {
      const permission =
        state.permission && state.permission !== 'granted'
          ? `. Or the browser kept the page from reaching it: its local-network permission ` +
            `("Access other apps and services on this device", ${PERMISSION}) is "${state.permission}" here; ` +
            'choose Allow when the browser asks, or allow it in the site settings, then press Reconnect.'
          : '';
      showBanner(
        `No helper answered on ${range}. Start it with "make devpage" (or "make devpage SIM=1"); ` +
          `it must allow this page's origin: --dev-origin ${location.origin}${permission}`,
      );
    }
    setFacts($('hello-facts'), [['Status', 'Not found', 'muted']]);
  }

  function adopt(ws, port, hello, raw) {
    state.ws = ws;
    state.port = port;
    state.closeCode = null;
    state.pending = [];
    ws.onmessage = (ev) => onMessage(ev.data);
    ws.onclose = (ev) => onClose(ev);
    ws.onerror = () => {};
    hideBanner();
    setConn('open', `Connected · 127.0.0.1:${port}`);
    onMessage(raw);
    send({ cmd: 'link' });
  }

  function onClose(ev) {
    state.ws = null;
    state.closeCode = ev.code;
    state.pending = [];
    setConn('closed', `Disconnected (${ev.code})`);
    showBanner(
      `The connection to the helper closed (code ${ev.code}${ev.reason ? `, ${ev.reason}` : ''}). ` +
        'The helper quits 30 seconds after the last page went away; start it again and press Reconnect.',
    );
    logLine('info', `connection closed, code ${ev.code}`, '', true);
    if (state.watch.active) endWatch('Connection closed');
    refreshButtons();
  }

  function send(command) {
    const ws = state.ws;
    if (!ws || ws.readyState !== WebSocket.OPEN) return false;
    const text = JSON.stringify(command);
    ws.send(text);
    state.sent.push(text);
    state.pending.push(command.cmd);
    logLine('out', text);
    refreshButtons();
    return true;
  }

  // Replies carry no request id; they come in the order the commands went out, so the oldest
  // pending command of that name is the one answered.
  function settle(name) {
    const i = state.pending.indexOf(name);
    if (i < 0) return false;
    state.pending.splice(i, 1);
    refreshButtons();
    return true;
  }

  function onMessage(text) {
    let msg;
    try {
      msg = JSON.parse(text);
    } catch (err) {
      logLine('in', text, 'not JSON', true);
      return;
    }
    state.received.push(msg);
    if (msg && msg.type === 'rssi') logSample(msg);
    else logLine('in', text);
    switch (msg && msg.type) {
      case 'hello':
        settle('hello');
        renderHello(msg);
        break;
      case 'link':
        settle('link');
        state.link = msg;
        state.linkError = null;
        renderLink();
        break;
      case 'scan':
        settle('scan');
        state.scan = msg;
        state.scanError = null;
        renderScan();
        break;
      case 'watching':
        settle('watch');
        beginWatch(msg);
        break;
      case 'rssi':
        addSample(msg);
        break;
      case 'stopped':
        if (settle('stop')) endWatch('Stopped');
        else endWatch('Finished');
        break;
      case 'error':
        onError(msg);
        break;
      default:
        logLine('info', `unexpected message type ${JSON.stringify(msg && msg.type)}`, '', true);
    }
  }

  function onError(msg) {
    state.errors.push(msg);
    settle(msg.cmd);
    if (msg.cmd === 'link') {
      state.linkError = msg.msg;
      renderLink();
    } else if (msg.cmd === 'scan') {
      state.scanError = msg.msg;
      renderScan();
    } else {
      showBanner(`The helper refused the command ${JSON.stringify(msg.cmd)}: ${msg.msg}`);
    }
  }

  // ---------------------------------------------------------------- rendering helpers

  function el(tag, props, ...children) {
    const node = document.createElement(tag);
    if (props) {
      for (const [key, value] of Object.entries(props)) {
        if (value === undefined || value === null) continue;
        if (key === 'class') node.className = value;
        else if (key === 'text') node.textContent = value;
        else if (key in node && key !== 'title' && !key.startsWith('data')) node[key] = value;
        else node.setAttribute(key, value);
      }
    }
    for (const child of children) {
      if (child === null || child === undefined) continue;
      node.append(child instanceof Node ? child : String(child));
    }
    return node;
  }

  function svgEl(tag, attrs) {
    const node = document.createElementNS('http://www.w3.org/2000/svg', tag);
    for (const [key, value] of Object.entries(attrs || {})) node.setAttribute(key, value);
    return node;
  }

  // The JSON spelling of a text with everything outside printable ASCII escaped: how the name looks
  // on the wire when the helper escaped a byte, and unambiguous for every other character.
  function asciiJson(text) {
    return JSON.stringify(text).replace(/[^\x20-\x7e]/g, (c) => `\\u${c.charCodeAt(0).toString(16).padStart(4, '0')}`);
  }

  // Characters that would be invisible or misleading in a name: control characters (the helper
  // sends the bytes it could not pass on as \u00XX), no-break and format characters, lone surrogates.
  function isOddChar(code) {
    return (
      code < 0x20 ||
      (code >= 0x7f && code <= 0xa0) ||
      code === 0xad ||
      (code >= 0x200b && code <= 0x200f) ||
      code === 0x2028 ||
      code === 0x2029 ||
      code === 0xfeff ||
      code === 0xfffd ||
      (code >= 0xd800 && code <= 0xdfff)
    );
  }

  // A network name exactly as the JSON gives it; odd characters are shown as \uXXXX marks.
  function nameNode(name) {
    if (typeof name !== 'string') return el('span', { class: 'ssid-hidden', text: String(name) });
    if (name === '') return el('span', { class: 'ssid-hidden', text: 'hidden network', title: '""' });
    const node = el('span', { class: 'name', title: asciiJson(name) });
    let plain = '';
    for (const ch of name) {
      const code = ch.length === 1 ? ch.charCodeAt(0) : ch.codePointAt(0);
      if (isOddChar(code)) {
        if (plain) node.append(plain);
        plain = '';
        node.append(el('span', { class: 'esc', text: `\\u${code.toString(16).padStart(4, '0')}` }));
      } else {
        plain += ch;
      }
    }
    if (plain) node.append(plain);
    return node;
  }

  function setFacts(dl, rows) {
    dl.replaceChildren(
      ...rows.map(([term, value, cls]) =>
        el('div', null, el('dt', { text: term }), el('dd', { class: cls || null }, value)),
      ),
    );
  }

  const known = (value, unit) => (value ? `${value}${unit ? ` ${unit}` : ''}` : '—');
  // Signal above the noise floor; 0 stands for "not known" in either figure.
  const snr = (rssi, noise) => (rssi && noise ? `${rssi - noise} dB` : '—');

  function band(freq) {
    if (freq >= 2400 && freq < 2500) return '2.4 GHz';
    if (freq >= 5150 && freq <= 5925) return '5 GHz';
    if (freq > 5925 && freq <= 7125) return '6 GHz';
    return freq ? `${freq} MHz` : '—';
  }

  function quality(rssi) {
    if (!rssi) return ['none', 0];
    if (rssi >= -55) return ['good', 4];
    if (rssi >= -67) return ['good', 3];
    if (rssi >= -75) return ['fair', 2];
    return ['weak', 1];
  }

  function signalNode(rssi) {
    const [q, on] = quality(rssi);
    const bars = el('span', { class: 'bars', 'data-q': q });
    for (let i = 0; i < 4; i++) bars.append(el('i', { class: i < on ? 'on' : '' }));
    return el('span', { class: 'signal' }, bars, rssi ? `${rssi} dBm` : '—');
  }

  function setConn(kind, text) {
    state.conn = kind;
    const pill = $('conn-status');
    pill.dataset.state = kind;
    pill.textContent = text;
    refreshButtons();
  }

  // kind: 'error' (red) or 'info' (a question the user can answer).
  function showBanner(text, kind = 'error') {
    const banner = $('banner');
    banner.textContent = text;
    banner.dataset.kind = kind;
    banner.hidden = false;
  }

  function hideBanner() {
    $('banner').hidden = true;
  }

  function refreshButtons() {
    const open = state.conn === 'open' && state.ws !== null;
    for (const button of document.querySelectorAll('[data-needs-connection]')) button.disabled = !open;
    const busy = (name) => state.pending.includes(name);
    $('btn-scan').classList.toggle('busy', busy('scan'));
    $('btn-scan').textContent = busy('scan') ? 'Scanning' : 'Scan';
    $('btn-link').classList.toggle('busy', busy('link'));
    if (open) {
      $('btn-scan').disabled = busy('scan');
      $('btn-stop').disabled = !state.watch.active;
    }
  }

  // ---------------------------------------------------------------- hello and link

  function renderHello(msg) {
    state.hello = msg;
    setFacts($('hello-facts'), [
      ['Name', msg.name],
      ['Version', msg.version],
      ['Operating system', msg.os],
      ['Port', String(msg.port)],
      ['Location permission', msg.location],
      ['Commands', Array.isArray(msg.commands) ? msg.commands.join(' · ') : String(msg.commands)],
    ]);
    $('sim-badge').hidden = msg.simulated !== true;
    const help = $('perm-help');
    help.textContent = msg.permHelp || '';
    help.hidden = !msg.permHelp;
  }

  function renderLink() {
    const error = $('link-error');
    const body = $('link-body');
    if (state.linkError !== null) {
      error.replaceChildren('Link query failed: ', el('code', { text: state.linkError }));
      error.hidden = false;
      body.hidden = true;
      return;
    }
    error.hidden = true;
    body.hidden = false;
    const link = state.link;
    const ssid = $('link-ssid');
    if (link.connected) {
      ssid.className = 'hero-name';
      ssid.replaceChildren(nameNode(link.ssid));
    } else {
      ssid.className = 'hero-name muted';
      ssid.textContent = 'Not connected';
    }
    $('link-rssi').textContent = link.rssi ? String(link.rssi) : '—';
    setFacts($('link-facts'), [
      ['Interface', link.iface || '—'],
      ['Connected', link.connected ? 'yes' : 'no'],
      ['Transmit rate', link.txMbps ? `${link.txMbps.toFixed(1)} Mbit/s` : '—'],
      ['Receive rate', link.rxMbps ? `${link.rxMbps.toFixed(1)} Mbit/s` : '—'],
      ['Channel', known(link.channel)],
      ['Frequency', known(link.freqMHz, 'MHz')],
      ['Band', band(link.freqMHz)],
      ['Channel width', known(link.widthMHz, 'MHz')],
      ['Spatial streams', known(link.nss)],
      ['Noise', known(link.noise, 'dBm')],
      ['Signal to noise', snr(link.rssi, link.noise)],
      ['PHY', link.phy || '—'],
    ]);
  }

  // ---------------------------------------------------------------- scan

  const IE_NAMES = {
    0: 'SSID', 1: 'Supported rates', 3: 'DS parameter set', 5: 'TIM', 7: 'Country',
    11: 'BSS load', 32: 'Power constraint', 42: 'ERP', 45: 'HT capabilities', 48: 'RSN',
    50: 'Extended rates', 54: 'Mobility domain', 61: 'HT operation', 70: 'RM capabilities',
    127: 'Extended capabilities', 191: 'VHT capabilities', 192: 'VHT operation',
    195: 'Transmit power envelope', 201: 'Reduced neighbor report', 221: 'Vendor specific',
  };
  const IE_EXT_NAMES = {
    35: 'HE capabilities', 36: 'HE operation', 38: 'MU EDCA', 39: 'Spatial reuse',
    59: '6 GHz capabilities', 106: 'EHT operation', 107: 'Multi-link', 108: 'EHT capabilities',
  };

  function hexBytes(hex) {
    if (typeof hex !== 'string' || hex.length % 2 !== 0 || !/^[0-9a-fA-F]*$/.test(hex)) return null;
    const bytes = new Uint8Array(hex.length / 2);
    for (let i = 0; i < bytes.length; i++) bytes[i] = parseInt(hex.substr(i * 2, 2), 16);
    return bytes;
  }

  function elementChips(bytes) {
    const list = el('ul', { class: 'ie-list' });
    let i = 0;
    while (i < bytes.length) {
      if (i + 2 > bytes.length || i + 2 + bytes[i + 1] > bytes.length) {
        list.append(el('li', { class: 'bad', text: `truncated element at byte ${i}` }));
        break;
      }
      const id = bytes[i];
      const len = bytes[i + 1];
      let name = IE_NAMES[id] || 'Element';
      if (id === 255 && len >= 1) name = IE_EXT_NAMES[bytes[i + 2]] || `Extension ${bytes[i + 2]}`;
      if (id === 221 && len >= 3) {
        const oui = [...bytes.slice(i + 2, i + 5)].map((b) => b.toString(16).padStart(2, '0')).join(':');
        name += ` ${oui}`;
      }
      list.append(el('li', null, el('b', { text: String(id) }), ` ${name} · ${len} B`));
      i += 2 + len;
    }
    return list;
  }

  function hexDump(bytes) {
    const pre = el('pre', { class: 'hex' });
    for (let off = 0; off < bytes.length; off += 16) {
      const row = bytes.slice(off, off + 16);
      const hex = [...row].map((b) => b.toString(16).padStart(2, '0'));
      const left = hex.slice(0, 8).join(' ');
      const right = hex.slice(8).join(' ');
      const ascii = [...row].map((b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : '.')).join('');
      pre.append(
        el('span', { class: 'off', text: off.toString(16).padStart(4, '0') }),
        `  ${left.padEnd(23)}  ${right.padEnd(23)}  `,
        el('span', { class: 'asc', text: ascii }),
        off + 16 < bytes.length ? '\n' : '',
      );
    }
    return pre;
  }

  function toggleElements(row, net, button) {
    const next = row.nextElementSibling;
    if (next && next.classList.contains('ie-row')) {
      next.remove();
      button.textContent = 'Show';
      button.setAttribute('aria-expanded', 'false');
      return;
    }
    const bytes = hexBytes(net.ie);
    const cell = el('td', { colSpan: 10 });
    if (bytes) cell.append(elementChips(bytes), hexDump(bytes));
    else cell.append(el('div', { class: 'error', text: 'The "ie" value is not hexadecimal:' }), el('pre', { class: 'hex', text: String(net.ie) }));
    row.after(el('tr', { class: 'ie-row' }, cell));
    button.textContent = 'Hide';
    button.setAttribute('aria-expanded', 'true');
  }

  // How long ago the kernel last heard a network ("seenMsAgo"), or '—' where the helper does not
  // say (older helpers, or a kernel without the age).
  function seenAgo(ms) {
    if (typeof ms !== 'number' || !Number.isFinite(ms) || ms < 0) return '—';
    if (ms < 10000) return `${(ms / 1000).toFixed(1)} s ago`;
    if (ms < 120000) return `${Math.round(ms / 1000)} s ago`;
    if (ms < 7200000) return `${Math.round(ms / 60000)} min ago`;
    return `${Math.round(ms / 3600000)} h ago`;
  }
  const seenTitle = (ms) => (typeof ms === 'number' ? `"seenMsAgo": ${ms}` : 'the helper does not say');

  function renderScan() {
    const error = $('scan-error');
    const note = $('scan-note');
    const tbody = $('nets').tBodies[0];
    if (state.scanError !== null) {
      error.replaceChildren('Scan failed: ', el('code', { text: state.scanError }));
      error.hidden = false;
      note.hidden = true;
      tbody.replaceChildren();
      $('scan-summary').textContent = 'No results.';
      return;
    }
    error.hidden = true;
    const scan = state.scan;
    const nets = Array.isArray(scan.nets) ? scan.nets : [];
    const mine = nets.findIndex((n) => n.mine);
    const parts = [`${nets.length} network${nets.length === 1 ? '' : 's'}`];
    parts.push(mine < 0 ? 'own network not found' : scan.mineGuess ? 'own network guessed' : 'own network marked');
    // Helpers before "fresh" was added do not say; then the page does not either.
    if (scan.fresh === true) parts.push('fresh scan');
    if (scan.fresh === false) parts.push('the system\'s last scan');
    $('scan-summary').textContent = parts.join(' · ');
    const notes = [];
    if (scan.fresh === false) {
      notes.push(
        'The helper could not start a scan (it lacks the right to), or the driver handed back its last list ' +
          'without hearing any network anew, so this is the list of the system\'s last scan: ' +
          '"fresh" is false. The Seen column says how long ago each network was last heard.',
      );
    }
    if (scan.mineGuess) {
      notes.push('The helper guessed which network is this computer\'s (same channel, similar signal): "mineGuess" is true.');
    }
    if (scan.ieHidden) notes.push('The system withheld every information element: "ieHidden" is true.');
    note.textContent = notes.join(' ');
    note.hidden = notes.length === 0;

    // Rows stay in the order received: the helper already sorted them, strongest first.
    tbody.replaceChildren(
      ...nets.map((net, index) => {
        const ieLen = typeof net.ie === 'string' ? net.ie.length / 2 : 0;
        const name = el('td', { class: 'ssid' }, nameNode(net.ssid));
        if (net.mine) {
          name.append(
            el('span', {
              class: scan.mineGuess ? 'badge guess' : 'badge',
              text: scan.mineGuess ? 'this computer (guess)' : 'this computer',
            }),
          );
        }
        const row = el(
          'tr',
          { class: net.mine ? 'net mine' : 'net', 'data-index': String(index) },
          el('td', { class: 'num muted', text: String(index + 1) }),
          name,
          el('td', null, signalNode(net.rssi)),
          el('td', { class: 'num', text: known(net.channel) }),
          el('td', { class: 'num', text: known(net.freqMHz, 'MHz') }),
          el('td', { text: band(net.freqMHz) }),
          el('td', { class: 'num', text: known(net.widthMHz, 'MHz') }),
          el('td', { class: 'num seen', text: seenAgo(net.seenMsAgo), title: seenTitle(net.seenMsAgo) }),
          el('td', { class: 'num', text: String(ieLen) }),
        );
        const action = el('td', { class: 'num' });
        if (ieLen > 0) {
          const button = el('button', { type: 'button', class: 'ghost small ie-toggle', text: 'Show' });
          button.setAttribute('aria-expanded', 'false');
          button.title = 'Show the information elements';
          button.addEventListener('click', () => toggleElements(row, net, button));
          action.append(button);
        }
        row.append(action);
        return row;
      }),
    );
    if (nets.length === 0) {
      tbody.append(el('tr', null, el('td', { colSpan: 10, class: 'muted', text: 'The helper reported no networks.' })));
    }
  }

  // ---------------------------------------------------------------- live signal

  function beginWatch(msg) {
    state.watch = { active: true, hz: msg.hz, secs: msg.secs, samples: [], nulls: 0, ended: '' };
    $('watch-state').textContent = `Streaming · ${msg.hz} Hz for ${msg.secs} s`;
    updateWatchStats();
    drawChart();
    refreshButtons();
  }

  function addSample(msg) {
    const watch = state.watch;
    watch.samples.push({ t: msg.t, rssi: msg.rssi });
    if (msg.rssi === null) watch.nulls++;
    updateWatchStats();
    drawChart();
  }

  function endWatch(why) {
    if (!state.watch.active && state.watch.ended) return;
    state.watch.active = false;
    state.watch.ended = why;
    $('watch-state').textContent = why;
    refreshButtons();
  }

  function updateWatchStats() {
    const samples = state.watch.samples;
    const values = samples.filter((s) => typeof s.rssi === 'number').map((s) => s.rssi);
    const last = samples.length ? samples[samples.length - 1].rssi : undefined;
    $('watch-last').textContent = last === undefined ? '—' : last === null ? 'null' : `${last} dBm`;
    $('watch-range').textContent = values.length ? `${Math.min(...values)} / ${Math.max(...values)} dBm` : '—';
    $('watch-count').textContent = String(samples.length);
    $('watch-nulls').textContent = String(state.watch.nulls);
  }

  const CHART = { w: 960, h: 260, left: 46, right: 14, top: 24, bottom: 28 };

  function niceStep(span, maxTicks) {
    for (const step of [0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300]) if (span / step <= maxTicks) return step;
    return 600;
  }

  function drawChart() {
    const svg = $('chart');
    // Drawn at the size it is shown, so lines and labels keep their proportions at any width.
    const { h, left, right, top, bottom } = CHART;
    const w = Math.max(320, Math.round(svg.getBoundingClientRect().width) || CHART.w);
    svg.setAttribute('viewBox', `0 0 ${w} ${h}`);
    const watch = state.watch;
    const samples = watch.samples;
    const values = samples.filter((s) => typeof s.rssi === 'number');
    svg.replaceChildren();
    svg.dataset.points = String(values.length);
    svg.dataset.nulls = String(watch.nulls);

    const t0 = samples.length ? samples[0].t : 0;
    const tEnd = samples.length ? (samples[samples.length - 1].t - t0) / 1000 : 0;
    const span = Math.max(watch.secs || 10, tEnd, 1);
    // The value axis follows the data in 10 dB steps, at least 30 dB tall; -90..-30 while empty.
    let lo = -90;
    let hi = -30;
    if (values.length) {
      const vs = values.map((s) => s.rssi);
      lo = Math.floor((Math.min(...vs) - 8) / 10) * 10;
      hi = Math.ceil((Math.max(...vs) + 8) / 10) * 10;
      if (hi - lo < 30) lo = hi - 30;
    }
    const x = (t) => left + ((t - t0) / 1000 / span) * (w - left - right);
    const y = (v) => top + ((hi - v) / (hi - lo)) * (h - top - bottom);

    for (let v = hi; v >= lo; v -= 10) {
      svg.append(svgEl('line', { class: 'grid-line', x1: left, x2: w - right, y1: y(v), y2: y(v) }));
      const label = svgEl('text', { class: 'axis-label', x: left - 8, y: y(v) + 4, 'text-anchor': 'end' });
      label.textContent = String(v);
      svg.append(label);
    }
    const step = niceStep(span, 10);
    for (let s = 0; s <= span + 1e-9; s += step) {
      const px = left + (s / span) * (w - left - right);
      const last = s + step > span + 1e-9;
      const label = svgEl('text', { class: 'axis-label', x: px, y: h - 8, 'text-anchor': last ? 'end' : 'middle' });
      label.textContent = `${Number.isInteger(s) ? s : s.toFixed(1)} s`;
      svg.append(label);
    }
    const unit = svgEl('text', { class: 'axis-label', x: left - 8, y: 12, 'text-anchor': 'end' });
    unit.textContent = 'dBm';
    svg.append(unit);

    // The trace is broken wherever the helper had no value.
    let segment = [];
    const flush = () => {
      if (segment.length === 0) return;
      const pts = segment.map(([px, py]) => `${px.toFixed(1)},${py.toFixed(1)}`).join(' ');
      const base = y(lo).toFixed(1);
      const area = `${segment[0][0].toFixed(1)},${base} ${pts} ${segment[segment.length - 1][0].toFixed(1)},${base}`;
      svg.append(svgEl('polygon', { class: 'area', points: area }));
      svg.append(svgEl('polyline', { class: 'trace', points: pts }));
      segment = [];
    };
    for (const s of samples) {
      if (typeof s.rssi === 'number') {
        segment.push([x(s.t), y(s.rssi)]);
      } else {
        flush();
        const px = x(s.t);
        svg.append(svgEl('line', { class: 'null-tick', x1: px, x2: px, y1: h - bottom - 8, y2: h - bottom }));
      }
    }
    flush();
    if (values.length) {
      const last = values[values.length - 1];
      svg.append(svgEl('circle', { class: 'last-dot', cx: x(last.t), cy: y(last.rssi), r: 4 }));
    }
    if (samples.length === 0 || values.length === 0) {
      const text = svgEl('text', { class: 'placeholder', x: w / 2, y: h / 2, 'text-anchor': 'middle' });
      text.textContent =
        samples.length === 0
          ? 'Start a stream to chart the signal of the current link.'
          : 'No signal values: the helper sent null for every sample.';
      svg.append(text);
    }
  }

  // ---------------------------------------------------------------- protocol log

  function clock() {
    const d = new Date();
    return [d.getHours(), d.getMinutes(), d.getSeconds()].map((n) => String(n).padStart(2, '0')).join(':');
  }

  function logLine(dir, text, note, isError) {
    const list = $('log');
    const arrow = dir === 'out' ? '→' : dir === 'in' ? '←' : '·';
    const shown = text.length > 600 ? `${text.slice(0, 600)}… (${text.length} characters)` : text;
    const item = el(
      'li',
      { class: `${dir}${isError ? ' err' : ''}` },
      el('span', { class: 'time', text: clock() }),
      el('span', { class: 'dir', text: arrow }),
      shown,
      note ? el('span', { class: 'muted', text: `  ${note}` }) : null,
    );
    list.append(item);
    while (list.childElementCount > LOG_LIMIT) list.firstElementChild.remove();
    list.scrollTop = list.scrollHeight;
    return item;
  }

  // Samples arrive up to 20 times a second; the log keeps one line per stream that counts them.
  let sampleLine = null;
  let sampleCount = 0;
  function logSample(msg) {
    if (!sampleLine || sampleLine !== $('log').lastElementChild) {
      sampleCount = 0;
      sampleLine = logLine('in', '');
    }
    sampleCount++;
    sampleLine.childNodes[2].textContent = `${JSON.stringify(msg)}  (${sampleCount} sample${sampleCount === 1 ? "" : "s"})`;
  }

  // ---------------------------------------------------------------- wiring

  $('btn-hello').addEventListener('click', () => send({ cmd: 'hello' }));
  $('btn-link').addEventListener('click', () => send({ cmd: 'link' }));
  $('btn-scan').addEventListener('click', () => send({ cmd: 'scan' }));
  $('btn-stop').addEventListener('click', () => send({ cmd: 'stop' }));
  $('watch-form').addEventListener('submit', (ev) => {
    ev.preventDefault();
    const hz = Number($('watch-hz').value);
    const secs = Math.min(600, Math.max(1, Math.round(Number($('watch-secs').value) || 30)));
    $('watch-secs').value = String(secs);
    send({ cmd: 'watch', hz, secs });
  });
  $('btn-reconnect').addEventListener('click', () => {
    if (state.ws) {
      state.ws.onclose = null;
      state.ws.close();
      state.ws = null;
    }
    discover();
  });
  $('btn-clear-log').addEventListener('click', () => $('log').replaceChildren());

  let resizeTimer = 0;
  window.addEventListener('resize', () => {
    clearTimeout(resizeTimer);
    resizeTimer = setTimeout(drawChart, 100);
  });

  drawChart();
  watchPermission().then(discover);
})();
