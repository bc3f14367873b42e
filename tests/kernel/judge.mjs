// Reads the serial console log of the WiFi test VM and compares, scene by scene, what the helper
// told the page with what iw showed of the same kernel right before or after. Prints one line per
// check and, for every check that failed, a table of field / helper / iw. Exit status 1 on any
// mismatch or when the guest did not get through its scenes.
//
//   node judge.mjs console.log
import fs from "node:fs";

// `phy`: the generation each scene's access point is configured for (LabNet: ieee80211ac=1,
// SixNet: ieee80211ax=1 on 6 GHz). The 6 GHz scene checks the link and one scan only.
const SCENES = [
  { name: "lab", associated: true, timed: true, phy: "802.11ac" },
  { name: "idle", associated: false, phy: "" },
  { name: "six", associated: true, phy: "802.11ax", linkAndScanOnly: true },
];
// The hello probe talks to the root start, which keeps the right to scan.
const PERM_HELP =
  "Fresh scans are on: each scan asks the WiFi adapter to look again, which takes a few seconds.";
const SCAN_WAIT_MS = 4000;
// What the helper's scan reply adds to the kernel's scan against what iw's dump adds (median of
// three each), and the largest step between the `t` stamps of a 20 Hz stream on another page
// during a scan.
const SCAN_TIME_BOUND_MS = 250;
const STREAM_GAP_BOUND_MS = 150;

// ---- console log ------------------------------------------------------------------------------

function readBlocks(path) {
  const text = fs.existsSync(path) ? fs.readFileSync(path, "utf8").replace(/\r/g, "") : "";
  const blocks = new Map();
  const progress = [];
  let current = null;
  for (const line of text.split("\n")) {
    const begin = line.match(/^@@TIVEL BEGIN (\S+)$/);
    const end = line.match(/^@@TIVEL END (\S+) rc=(\d+)/);
    if (begin) {
      current = { lines: [], rc: null };
      blocks.set(begin[1], current);
    } else if (end && current) {
      current.rc = Number(end[2]);
      current = null;
    } else if (current) {
      current.lines.push(line);
    } else if (line.startsWith("@@TIVEL ")) {
      progress.push(line.slice(8));
    }
  }
  return { blocks, progress, tail: text.split("\n").slice(-40).join("\n") };
}

// ---- iw output --------------------------------------------------------------------------------

// iw prints names byte by byte: printable ASCII as is (a blank only inside the name), everything
// else, the backslash included, as \xNN.
function iwUnescape(text) {
  const bytes = [];
  for (let i = 0; i < text.length; i++) {
    if (text[i] === "\\" && text[i + 1] === "x") {
      bytes.push(parseInt(text.slice(i + 2, i + 4), 16));
      i += 3;
    } else {
      bytes.push(text.charCodeAt(i));
    }
  }
  return Buffer.from(bytes);
}

function iwEscape(bytes) {
  let out = "";
  bytes.forEach((b, i) => {
    const printable = b >= 0x21 && b <= 0x7e && b !== 0x5c;
    if (printable || (b === 0x20 && i !== 0 && i !== bytes.length - 1)) out += String.fromCharCode(b);
    else out += "\\x" + b.toString(16).padStart(2, "0");
  });
  return out;
}

function parseIwLink(lines) {
  const link = { connected: false };
  for (const line of lines) {
    let m;
    if ((m = line.match(/^Connected to ([0-9a-f:]{17})/))) {
      link.connected = true;
      link.bssid = m[1];
    } else if ((m = line.match(/^\tSSID: (.*)$/))) link.ssid = iwUnescape(m[1]);
    else if ((m = line.match(/^\tfreq: (\d+)/))) link.freq = Number(m[1]);
    else if ((m = line.match(/^\tsignal: (-?\d+) dBm/))) link.signal = Number(m[1]);
    else if ((m = line.match(/^\trx bitrate: ([\d.]+) MBit\/s(.*)$/))) link.rx = Number(m[1]);
    else if ((m = line.match(/^\ttx bitrate: ([\d.]+) MBit\/s(.*)$/))) {
      link.tx = Number(m[1]);
      link.txInfo = m[2].trim();
    }
  }
  return link;
}

// Spatial streams as a transmit rate implies them: an explicit NSS, else HT MCS / 8 + 1, else 0.
function nssOf(txInfo) {
  let m;
  if ((m = (txInfo || "").match(/(?:EHT|HE|VHT)-NSS (\d+)/))) return Number(m[1]);
  if ((m = (txInfo || "").match(/(?:^| )MCS (\d+)/))) return (Number(m[1]) >> 3) + 1;
  return 0;
}

function parseIwInfo(lines) {
  const info = {};
  for (const line of lines) {
    let m;
    if ((m = line.match(/^Interface (\S+)/))) info.iface = m[1];
    else if ((m = line.match(/^\tssid (.*)$/))) info.ssid = iwUnescape(m[1]);
    else if ((m = line.match(/^\tchannel (\d+) \((\d+) MHz\), width: (\d+) MHz/))) {
      info.channel = Number(m[1]);
      info.freq = Number(m[2]);
      info.width = Number(m[3]);
    }
  }
  return info;
}

function parseIwStationSignal(lines) {
  for (const line of lines) {
    const m = line.match(/^\tsignal:\s+(-?\d+) dBm/);
    if (m) return Number(m[1]);
  }
  return null;
}

// `iw dev X scan dump -b`: per BSS its fields and the element sections it printed, each element a
// name, the rest of its first line and its continuation lines.
function parseIwScan(lines) {
  const list = [];
  let bss = null;
  let section = null;
  for (const line of lines) {
    let m;
    if ((m = line.match(/^BSS ([0-9a-f:]{17})\(on (\S+)\)( -- associated)?/))) {
      bss = { bssid: m[1], associated: !!m[3], sections: [], inElements: false };
      section = null;
      list.push(bss);
      continue;
    }
    if (!bss) continue;
    if ((m = line.match(/^\tInformation elements from (Probe Response|Beacon) frame:$/))) {
      section = { from: m[1] === "Beacon" ? "beacon" : "probe", elements: [] };
      bss.sections.push(section);
      bss.inElements = true;
      continue;
    }
    if (!bss.inElements) {
      if ((m = line.match(/^\tfreq: (\d+)/))) bss.freq = Number(m[1]);
      else if ((m = line.match(/^\tsignal: (-?\d+)\.(\d+) dBm/))) bss.signalText = `${m[1]}.${m[2]}`;
      else if (/^\tlast seen: \d+ ms ago/.test(line)) bss.inElements = true;
      continue;
    }
    if ((m = line.match(/^\t([^\t:][^:]*):(.*)$/))) {
      if (!section) {
        section = { from: "only", elements: [] };
        bss.sections.push(section);
      }
      section.elements.push({ name: m[1], rest: m[2], more: [] });
    } else if (line.startsWith("\t\t") && section && section.elements.length) {
      section.elements[section.elements.length - 1].more.push(line.trim());
    }
  }
  for (const b of list) {
    delete b.inElements;
    // The signal in whole dBm, cut toward zero the way the kernel's hundredths are divided.
    b.signal = Math.trunc(Number(b.signalText));
    const ssidElement = (b.sections[0]?.elements || []).find((e) => e.name === "SSID");
    b.ssid = ssidElement ? iwUnescape(ssidElement.rest.replace(/^ /, "")) : Buffer.alloc(0);
  }
  return list;
}

// `iw --debug dev X scan dump`: libnl prints each received message's attribute area as hex,
// 16 bytes a line followed by their ASCII. Returns, per BSS, the kernel's raw attributes.
function parseIwRaw(lines) {
  const list = [];
  let msg = null;
  let need = 0;
  for (const line of lines) {
    let m;
    if (line.startsWith("-- Debug: Received Message:")) {
      msg = { cmd: null, bytes: [] };
      need = 0;
    } else if (!msg) {
      continue;
    } else if ((m = line.match(/^\s+\.cmd = (\d+)/))) {
      msg.cmd = Number(m[1]);
    } else if ((m = line.match(/^\s+\[PAYLOAD\] (\d+) octets/))) {
      need = Number(m[1]);
    } else if (need > 0 && /^ {4}[0-9a-f]{2} /.test(line)) {
      const tokens = line.trim().split(/\s+/).slice(0, Math.min(16, need));
      for (const t of tokens) msg.bytes.push(parseInt(t, 16));
      need -= tokens.length;
    } else if (line.includes("END NETLINK MESSAGE")) {
      if (msg.cmd === 34) list.push(bssFromAttributes(Buffer.from(msg.bytes)));
      msg = null;
    }
  }
  return list.filter((x) => x);
}

function attributes(buf) {
  const out = new Map();
  for (let i = 0; i + 4 <= buf.length; ) {
    const len = buf.readUInt16LE(i);
    if (len < 4 || i + len > buf.length) break;
    out.set(buf.readUInt16LE(i + 2) & 0x3fff, buf.subarray(i + 4, i + len));
    i += (len + 3) & ~3;
  }
  return out;
}

function bssFromAttributes(buf) {
  const bss = attributes(buf).get(47);
  if (!bss) return null;
  const a = attributes(bss);
  const hex = (k) => (a.has(k) ? a.get(k).toString("hex") : null);
  const bssid = a.has(1) ? [...a.get(1).subarray(0, 6)].map((x) => x.toString(16).padStart(2, "0")).join(":") : null;
  return { bssid, ies: hex(6), beaconIes: hex(11) };
}

// Element bytes with the TIM's changing part (DTIM count, bitmap) blanked: the DTIM count
// advances with every beacon.
function steadyIes(hex) {
  if (hex === null) return null;
  const bytes = Buffer.from(hex, "hex");
  for (let i = 0; i + 2 <= bytes.length && i + 2 + bytes[i + 1] <= bytes.length; i += 2 + bytes[i + 1]) {
    if (bytes[i] !== 5) continue;
    for (let k = 0; k < bytes[i + 1]; k++) if (k !== 1) bytes[i + 2 + k] = 0;
  }
  return bytes.toString("hex");
}

// ---- the helper's replies ---------------------------------------------------------------------

function parseProbe(block) {
  const result = { commands: [], error: null, rc: block ? block.rc : null };
  if (!block) {
    result.error = "no output";
    return result;
  }
  let current = null;
  for (const line of block.lines) {
    let m;
    if ((m = line.match(/^SEND (.*)$/))) {
      current = { send: m[1], at: null, frames: [], doneMs: null };
      result.commands.push(current);
    } else if ((m = line.match(/^AT (\d+)$/)) && current) {
      current.at = Number(m[1]);
    } else if ((m = line.match(/^FRAME (\d+) ([01]) (.*)$/)) && current) {
      const frame = { ms: Number(m[1]), utf8: m[2] === "1", text: m[3], json: null };
      try {
        frame.json = JSON.parse(frame.text);
      } catch {
        frame.json = null;
      }
      current.frames.push(frame);
    } else if ((m = line.match(/^DONE (\d+)$/)) && current) {
      current.doneMs = Number(m[1]);
    } else if ((m = line.match(/^ERROR (.*)$/))) {
      result.error = m[1];
    }
  }
  return result;
}

// The raw JSON literals of every "ssid" member, in the order they appear in the frame text.
function rawSsids(text) {
  return [...text.matchAll(/"ssid":"((?:[^"\\]|\\.)*)"/g)].map((m) => m[1]);
}

// The helper's JSON string rule: valid UTF-8 sequences (by lead byte range and continuation
// bytes) copied, quote and backslash escaped, every other byte below 0x20, 0x7F or from 0x80 up
// as \u00XX.
function helperJsonLiteral(bytes) {
  let out = "";
  for (let i = 0; i < bytes.length; ) {
    const b = bytes[i];
    const need = b >= 0xc2 && b <= 0xdf ? 1 : b >= 0xe0 && b <= 0xef ? 2 : b >= 0xf0 && b <= 0xf4 ? 3 : 0;
    let ok = need > 0;
    for (let k = 1; ok && k <= need; k++) ok = i + k < bytes.length && (bytes[i + k] & 0xc0) === 0x80;
    if (ok) {
      out += bytes.subarray(i, i + need + 1).toString("utf8");
      i += need + 1;
      continue;
    }
    if (b === 0x22 || b === 0x5c) out += "\\" + String.fromCharCode(b);
    else if (b < 0x20 || b >= 0x7f) out += "\\u00" + b.toString(16).padStart(2, "0");
    else out += String.fromCharCode(b);
    i += 1;
  }
  return out;
}

function channelOf(freq) {
  if (freq === 2484) return 14;
  if (freq >= 2412 && freq <= 2483) return Math.floor((freq - 2407) / 5);
  if (freq >= 5150 && freq <= 5925) return Math.floor((freq - 5000) / 5);
  if (freq === 5935) return 2;
  if (freq >= 5955 && freq <= 7125) return Math.floor((freq - 5950) / 5);
  return 0;
}

// The generation the capabilities iw prints for a BSS announce; without HT, "802.11a" on 5 GHz,
// "802.11b" on 2.4 GHz when every rate iw lists is 1, 2, 5.5 or 11 Mbit/s, else "802.11g".
function iwPhy(section, freq) {
  const names = new Set(section ? section.elements.map((e) => e.name) : []);
  const band = freq >= 5935 ? 6 : freq >= 5000 ? 5 : 2;
  if (names.has("EHT capabilities")) return "802.11be";
  if (names.has("HE capabilities") || band === 6) return "802.11ax";
  if (names.has("VHT capabilities") && band === 5) return "802.11ac";
  if (names.has("HT capabilities")) return "802.11n";
  if (!names.size) return "";
  if (band === 5) return "802.11a";
  const rates = section.elements.filter((e) => /^(Supported|Extended supported) rates$/.test(e.name))
    .flatMap((e) => e.rest.trim().split(/\s+/)).map((t) => Number(t.replace("*", ""))).filter((r) => r > 0);
  return rates.length && rates.every((r) => [1, 2, 5.5, 11].includes(r)) ? "802.11b" : "802.11g";
}

// ---- information elements -----------------------------------------------------------------------

// What iw calls each element it prints (iw leaves out the ones it does not know without -u).
const IE_NAMES = {
  0: "SSID", 1: "Supported rates", 3: "DS Parameter set", 5: "TIM", 7: "Country",
  11: "BSS Load", 32: "Power constraint", 35: "TPC report", 42: "ERP", 45: "HT capabilities",
  47: "ERP D4.0", 48: "RSN", 50: "Extended supported rates", 51: "AP Channel Report",
  59: "Supported operating classes", 61: "HT operation", 62: "Secondary Channel Offset",
  74: "Overlapping BSS scan params", 107: "Interworking", 108: "Advertisement Protocol",
  111: "Roaming Consortium", 113: "MESH Configuration", 114: "MESH ID",
  127: "Extended capabilities", 191: "VHT capabilities", 192: "VHT operation",
  195: "Transmit Power Envelope",
};
const MS_VENDOR = { 1: "WPA", 2: "WMM", 4: "WPS" };

function decodeElements(hex) {
  const bytes = Buffer.from(hex, "hex");
  const list = [];
  let i = 0;
  while (i + 2 <= bytes.length && i + 2 + bytes[i + 1] <= bytes.length) {
    list.push({ id: bytes[i], body: bytes.subarray(i + 2, i + 2 + bytes[i + 1]) });
    i += 2 + bytes[i + 1];
  }
  return { list, whole: i === bytes.length && hex.length === bytes.length * 2 };
}

function iwNameOf(e) {
  if (e.id === 255 && e.body[0] === 35) return "HE capabilities";
  if (e.id === 221 && e.body.length >= 4 && e.body.subarray(0, 3).equals(Buffer.from([0, 0x50, 0xf2])))
    return MS_VENDOR[e.body[3]] || null;
  return IE_NAMES[e.id] || null;
}

function rates(body) {
  return [...body].map((r) => `${((r & 0x7f) / 2).toFixed(1)}${r & 0x80 ? "*" : ""}`).join(" ");
}

// What iw's line for an element must say, as far as these checks read it (null: name only). The
// TIM's DTIM count and bitmap change from beacon to beacon, so only its period is compared.
function expectedIeText(e, iwElement) {
  const b = e.body;
  switch (e.id) {
    case 0:
      return { want: " " + iwEscape(b), got: iwElement.rest };
    case 1:
    case 50:
      return { want: " " + rates(b) + " ", got: iwElement.rest };
    case 3:
      return { want: ` channel ${b[0]}`, got: iwElement.rest };
    case 5:
      return { want: `DTIM Period ${b[1]}`, got: (iwElement.rest.match(/DTIM Period \d+/) || [""])[0] };
    case 7:
      return { want: b.subarray(0, 2).toString("latin1"), got: iwElement.rest.trim().slice(0, 2) };
    case 45:
      return {
        want: `Capabilities: 0x${(b[0] | (b[1] << 8)).toString(16).padStart(2, "0")}`,
        got: iwElement.more[0] || "",
      };
    case 61:
      return { want: `* primary channel: ${b[0]}`, got: iwElement.more[0] || "" };
    case 192:
      return { want: `* channel width: ${b[0]}`, got: (iwElement.more[0] || "").replace(/ \(.*$/, "") };
    default:
      return null;
  }
}

// ---- noise floor and channel widths ---------------------------------------------------------------

// `iw dev X survey dump`: per channel its frequency, whether it is in use and its noise (null when
// the driver reported none).
function parseIwSurvey(lines) {
  const list = [];
  for (const line of lines) {
    let m;
    if ((m = line.match(/^\tfrequency:\s+(\d+) MHz( \[in use\])?/)))
      list.push({ freq: Number(m[1]), inUse: !!m[2], noise: null });
    else if ((m = line.match(/^\tnoise:\s+(-?\d+) dBm/)) && list.length) list[list.length - 1].noise = Number(m[1]);
  }
  return list;
}

// The noise iw shows for the link: the entry in use (on the link's frequency first), else the one
// on the link's frequency; only entries with a noise figure; 0 when none.
function surveyNoise(survey, freq) {
  const rank = (e) => (e.inUse ? 2 : 0) + (e.freq === freq ? 1 : 0);
  let best = null;
  for (const e of survey) if (e.noise !== null && rank(e) > 0 && (!best || rank(e) > rank(best))) best = e;
  return best ? best.noise : 0;
}

// The width a BSS announces, as iw prints its HT and VHT operation elements.
function iwWidth(section) {
  const find = (name) => (section ? section.elements.find((e) => e.name === name) : null);
  const ht = find("HT operation");
  const vht = find("VHT operation");
  const more = (e, key) => (e ? (e.more.find((l) => l.startsWith(`* ${key}:`)) || "").replace(/^[^:]*: /, "") : "");
  const vhtWidth = Number((more(vht, "channel width").match(/^\d+/) || ["0"])[0]);
  if (vhtWidth === 1) return Number(more(vht, "center freq segment 2") || 0) !== 0 ? 160 : 80;
  if (vhtWidth === 2 || vhtWidth === 3) return 160;
  const secondary = /^(above|below)$/.test(more(ht, "secondary channel offset"));
  return secondary && more(ht, "STA channel width") === "any" ? 40 : 20;
}

// What a survey dump costs: the messages libnl received (iw --debug), their bytes added up.
function surveyCost(lines) {
  let messages = 0;
  let bytes = 0;
  let inReceived = false;
  for (const line of lines) {
    let m;
    if (line.startsWith("-- Debug: Received Message:")) inReceived = true;
    else if (line.startsWith("-- Debug: Sent Message:")) inReceived = false;
    else if (inReceived && (m = line.match(/^\s+\.nlmsg_len = (\d+)/))) {
      messages++;
      bytes += Number(m[1]);
      inReceived = false;
    }
  }
  return { messages, bytes };
}

// ---- checks ---------------------------------------------------------------------------------------

const results = [];
function check(scene, what, rows) {
  // rows: [field, helper value, iw value, ok?]; a row without an explicit verdict compares values.
  const table = rows.map(([field, helper, iw, ok]) => {
    const h = typeof helper === "string" ? helper : JSON.stringify(helper);
    const w = typeof iw === "string" ? iw : JSON.stringify(iw);
    return { field, helper: h, iw: w, ok: ok === undefined ? h === w : !!ok };
  });
  results.push({ scene, what, table, ok: table.every((r) => r.ok) });
}

function frameOf(probe, index, type) {
  const command = probe.commands[index];
  const frame = command && command.frames[0];
  if (!frame || !frame.json || frame.json.type !== type) return null;
  return frame;
}

function checkHello(s, probe, port) {
  const frame = frameOf(probe, 0, "hello");
  const want =
    `{"type":"hello","name":"tamberline-tivel-helper","version":"0.1.1","os":"linux",` +
    `"port":${port},"location":"na","permHelp":${JSON.stringify(PERM_HELP)},` +
    `"commands":["hello","link","scan","watch","stop"]}`;
  check(s, "hello", [["reply", frame ? frame.text : probe.error || "none", want]]);
}

function linkRows(link, linkRaw, info, before, after, associated, survey, phy) {
  const rows = [];
  if (!link) return [["link object", "missing", "present", false]];
  rows.push(["connected", link.connected, associated]);
  rows.push(["iface", link.iface, info.iface]);
  const ssidBytes = associated ? before.ssid || Buffer.alloc(0) : Buffer.alloc(0);
  rows.push(["ssid (JSON literal)", linkRaw, helperJsonLiteral(ssidBytes)]);
  if (associated) {
    // Rates move as rate control learns: the helper's read lies between iw's two.
    const near = [before, after];
    const rateMatch = near.find((l) => l.tx === link.txMbps && l.rx === link.rxMbps);
    rows.push(["rssi", link.rssi, `${before.signal} / ${after.signal}`,
      link.rssi === before.signal || link.rssi === after.signal]);
    rows.push(["txMbps / rxMbps", `${link.txMbps} / ${link.rxMbps}`,
      near.map((l) => `${l.tx} / ${l.rx}`).join(" or "), !!rateMatch]);
    rows.push(["nss", link.nss, near.map((l) => nssOf(l.txInfo)).join(" or "),
      near.some((l) => nssOf(l.txInfo) === link.nss && (!rateMatch || l === rateMatch))]);
    rows.push(["channel", link.channel, info.channel]);
    rows.push(["freqMHz", link.freqMHz, `${before.freq} (link) ${info.freq} (info)`,
      link.freqMHz === before.freq && link.freqMHz === info.freq]);
    rows.push(["widthMHz", link.widthMHz, info.width]);
  } else {
    rows.push(["iw link", "-", before.connected ? "connected" : "Not connected.", !before.connected]);
    for (const key of ["rssi", "txMbps", "rxMbps", "channel", "freqMHz", "widthMHz", "nss"])
      rows.push([key, link[key], 0]);
  }
  rows.push(["noise", link.noise,
    associated ? `${surveyNoise(survey, info.freq)} (iw survey dump, ${survey.length} channels)` : "0",
    link.noise === (associated ? surveyNoise(survey, info.freq) : 0)]);
  rows.push(["phy", link.phy, `${JSON.stringify(phy)} (the access point's configuration)`, link.phy === phy]);
  return rows;
}

function checkLink(s, probe, info, before, after, associated, survey, phy) {
  const frame = frameOf(probe, 1, "link");
  if (!frame) {
    check(s, "link", [["reply", probe.commands[1]?.frames[0]?.text || probe.error || "none", "link", false]]);
    return;
  }
  const rows = linkRows(frame.json, rawSsids(frame.text)[0], info, before, after, associated, survey, phy);
  const rates = frame.text.match(/"txMbps":(-?\d+\.\d),"rxMbps":(-?\d+\.\d),/);
  rows.push(["rates as written", rates ? `${rates[1]} / ${rates[2]}` : frame.text, "one decimal each", !!rates]);
  rows.push(["frame is UTF-8", frame.utf8, true]);
  check(s, "link", rows);
}

function checkScan(s, who, probe, iwBlock, rawBlock, eventsBlock, sta, associated, iwLinkNear) {
  const label = `scan as ${who}`;
  const frame = frameOf(probe, 0, "scan");
  if (!frame) {
    check(s, label, [["reply", probe.commands[0]?.frames[0]?.text || probe.error || "none", "scan", false]]);
    return;
  }
  const report = frame.json;
  const raws = rawSsids(frame.text).slice(1); // the first is the link object's
  const rows = [];
  const iw = parseIwScan(iwBlock ? iwBlock.lines : []);
  const kernelDump = parseIwRaw(rawBlock ? rawBlock.lines : []);
  rows.push(["BSS in iw's raw dump", kernelDump.length, iw.length]);
  const events = eventsBlock ? eventsBlock.lines : [];
  const started = events.filter((l) => l.includes(`${sta} (phy #`) && l.endsWith("scan started")).length;
  const ms = probe.commands[0].doneMs;

  rows.push(["frame is UTF-8", frame.utf8, true]);
  // Root (which the helper leaves for nobody with the scan right) and nobody running the copy
  // with the file capability are both granted the scan.
  if (who === "root" || who === "filecap") {
    // The helper answers when the kernel's scan ends (it took 3 to 8 s here), not after a fixed
    // wait: the end must be among the events logged while the command ran.
    const ended = events.filter((l) => l.includes(`${sta} (phy #`) && /scan (finished|aborted)/.test(l)).length;
    rows.push(["reply after (ms)", ms, `after the scan's end (${ended} end events)`, ended >= 1 && ms >= 1000]);
    rows.push(["scans started by it", "at least 1", `${started} (iw event)`, started >= 1]);
  } else {
    rows.push(["reply after (ms)", ms, `< ${SCAN_WAIT_MS} (trigger refused: no wait)`, ms < SCAN_WAIT_MS]);
    rows.push(["scans started by it", "0", `${started} (iw event)`, started === 0]);
  }
  rows.push(["BSS count", report.nets.length, iw.length]);
  rows.push(["ieHidden", report.ieHidden, false]);
  rows.push(["mineGuess", report.mineGuess, false]);
  // The first end logged for the station is the one that ended the helper's wait: an aborted scan
  // leaves the kernel's list as it was, and the report says so.
  const firstEnd = events.find((l) => l.includes(`${sta} (phy #`) && /scan (finished|aborted)/.test(l));
  const scanned = (who === "root" || who === "filecap") && !/scan aborted/.test(firstEnd || "");
  rows.push(["fresh", report.fresh, scanned]);
  // The kernel gives every BSS its age.
  rows.push(["nets with seenMsAgo", report.nets.filter((n) => Number.isInteger(n.seenMsAgo) && n.seenMsAgo >= 0).length,
    report.nets.length]);
  rows.push(["link.connected", report.link.connected, associated]);
  rows.push(["link.iface", report.link.iface, sta]);
  if (associated) {
    rows.push(["link.rssi", report.link.rssi, iwLinkNear.signal]);
    rows.push(["link.ssid literal", rawSsids(frame.text)[0], helperJsonLiteral(iwLinkNear.ssid || Buffer.alloc(0))]);
    rows.push(["link.freqMHz", report.link.freqMHz, iwLinkNear.freq]);
    rows.push(["link.channel", report.link.channel, channelOf(iwLinkNear.freq)]);
  } else {
    rows.push(["link.freqMHz", report.link.freqMHz, 0]);
  }

  const signals = report.nets.map((n) => n.rssi);
  rows.push(["sorted strongest first", signals.join(" "), "non-increasing",
    signals.every((v, k) => k === 0 || v <= signals[k - 1])]);
  // Expected order: iw's dump order (the kernel's), strongest first, ties kept in that order.
  const expected = iw.map((b, k) => ({ b, k })).sort((x, y) => y.b.signal - x.b.signal || x.k - y.k);
  const used = new Set();
  report.nets.forEach((net, k) => {
    const raw = raws[k];
    const match = iw.find(
      (b) => !used.has(b) && helperJsonLiteral(b.ssid) === raw && b.freq === net.freqMHz,
    );
    const name = `net ${k} ${JSON.stringify(net.ssid)}`;
    if (!match) {
      rows.push([name, `${raw} @ ${net.freqMHz}`, "no BSS with this name and frequency", false]);
      return;
    }
    used.add(match);
    const want = expected[k] && expected[k].b;
    rows.push([`${name} position`, k, want ? `${match.bssid}` : "-",
      want === match]);
    rows.push([`${name} ssid literal`, raw, helperJsonLiteral(match.ssid) + `  (iw: ${iwEscape(match.ssid)})`,
      raw === helperJsonLiteral(match.ssid)]);
    rows.push([`${name} rssi`, net.rssi, match.signal]);
    rows.push([`${name} channel`, net.channel, channelOf(match.freq)]);
    rows.push([`${name} mine`, net.mine, match.associated]);
    // Elements: the helper reports the beacon's when the kernel has them. A beacon can arrive
    // between the two dumps, so the set whose element list matches is the one to compare with.
    const { list, whole } = decodeElements(net.ie);
    rows.push([`${name} ie bytes`, `${net.ie.length / 2} bytes${whole ? "" : " (do not parse)"}`, "whole elements", whole]);
    // Byte for byte against the kernel's attributes as iw received them: the beacon's
    // elements, or the probe response's when no beacon was heard (or one arrived in between).
    const kernel = kernelDump.find((x) => x.bssid === match.bssid);
    const sets = kernel ? [kernel.beaconIes, kernel.ies].filter((x) => x !== null) : [];
    const same = sets.find((x) => steadyIes(x) === steadyIes(net.ie));
    rows.push([`${name} ie = kernel's (TIM count aside)`, `${net.ie.length / 2} bytes`,
      kernel ? sets.map((x) => `${x.length / 2} bytes`).join(" or ") : "BSS not in iw's raw dump",
      same !== undefined]);
    const named = list.filter((e) => iwNameOf(e));
    const helperNames = named.map((e) => iwNameOf(e)).join(", ");
    const namesOf = (x) => x.elements.map((e) => e.name).join(", ");
    const ordered = [...match.sections].sort((x, y) => (y.from === "beacon") - (x.from === "beacon"));
    const section = ordered.find((x) => namesOf(x) === helperNames) || ordered[0];
    rows.push([`${name} ie elements (${section ? section.from : "none"})`, helperNames,
      section ? namesOf(section) : ""]);
    rows.push([`${name} widthMHz`, net.widthMHz, `${iwWidth(section)} (iw HT/VHT operation)`,
      net.widthMHz === iwWidth(section)]);
    rows.push([`${name} phy`, net.phy, `${iwPhy(section, match.freq)} (iw's capabilities)`,
      net.phy === iwPhy(section, match.freq)]);
    if (section && helperNames === namesOf(section)) {
      named.forEach((e, j) => {
        const cmp = expectedIeText(e, section.elements[j]);
        if (cmp) rows.push([`${name} ie ${iwNameOf(e)}`, cmp.want.trim(), cmp.got.trim()]);
      });
    }
  });
  const missing = iw.filter((b) => !used.has(b));
  for (const b of missing) rows.push([`iw BSS ${b.bssid}`, "absent", iwEscape(b.ssid), false]);
  check(s, label, rows);
}

// The watch is judged by the helper's own clock: the `t` stamps say when each sample was taken, so
// a guest that stood still (an emulated CPU waits for the host) shows as a late sample, not as a
// shortfall against the test's wall clock. The schedule, rebuilt from the stamps: the first
// sample at once, each next one due a spacing after the previous due instant, or at once when
// that instant had already passed; nothing at or after the stream's end.
const WATCH_HZ = 10;
const WATCH_SECS = 2;
// A loop that runs wakes at least every 25 ms: a sample later than this after its due instant
// was taken after the loop stood still.
const WATCH_LATE_MS = 60;
function watchSchedule(samples, stoppedMs) {
  const spacing = 1000 / WATCH_HZ;
  const t = samples.map((f) => f.json.t);
  const steps = t.slice(1).map((v, k) => v - t[k]);
  let due = t.length ? t[0] : null;
  let late = 0;
  t.forEach((v, k) => {
    if (k > 0) due = due + spacing > t[k - 1] ? due + spacing : t[k - 1];
    if (v - due > WATCH_LATE_MS) late++;
  });
  const end = t.length ? t[0] + WATCH_SECS * 1000 : null;
  // The stopped frame's arrival, moved onto the helper's clock by the smallest arrival delay of
  // any sample: when the loop came back if it stood still over the stream's end.
  const offset = Math.min(...samples.map((f) => f.ms - f.json.t));
  const stoppedAt = stoppedMs === null || !t.length ? null : stoppedMs - offset;
  const tailLate = stoppedAt !== null && stoppedAt > end + WATCH_LATE_MS;
  const sorted = [...steps].sort((x, y) => x - y);
  const medianStep = sorted.length ? sorted[Math.floor(sorted.length / 2)] : null;
  return { t, steps, late, end, medianStep, tailLate, largest: steps.length ? Math.max(...steps) : null };
}

function checkWatch(s, probe, signals, associated) {
  const command = probe.commands[0];
  const frames = command ? command.frames : [];
  const rows = [];
  const first = frames[0];
  rows.push(["first frame", first ? first.text : probe.error || "none", `{"type":"watching","hz":${WATCH_HZ},"secs":${WATCH_SECS}}`]);
  const samples = frames.filter((f) => f.json && f.json.type === "rssi");
  const last = frames[frames.length - 1];
  const stopped = last && last.text === '{"type":"stopped"}' ? last.ms : null;
  const w = watchSchedule(samples, stopped);
  const n = samples.length;
  const due = WATCH_HZ * WATCH_SECS;
  // Every sample on time while the loop ran: the count is then what the schedule gives (20 when
  // the loop never stood still); a guest that stalled makes a few late and leaves some out.
  rows.push(["samples on time (by t)", `${n - w.late} of ${n}, largest step ${w.largest ?? "-"} ms`,
    `at least 3 in 4, at most ${due + 1} samples`, n > 0 && n <= due + 1 && (n - w.late) * 4 >= n * 3]);
  rows.push(["median step in t (ms)", w.medianStep ?? "none", `${1000 / WATCH_HZ} (90..110)`,
    w.medianStep !== null && w.medianStep >= 90 && w.medianStep <= 110]);
  const lastT = n ? w.t[n - 1] - w.t[0] : null;
  rows.push(["last sample (t from the first, ms)", lastT ?? "none",
    `${WATCH_SECS * 1000 - 1000 / WATCH_HZ - WATCH_LATE_MS}..${WATCH_SECS * 1000 - 1}` +
      (w.tailLate ? " (loop stood still over the end: no lower bound)" : ""),
    n > 0 && lastT < WATCH_SECS * 1000 && (w.tailLate || lastT >= WATCH_SECS * 1000 - 1000 / WATCH_HZ - WATCH_LATE_MS)]);
  rows.push(["last frame", last ? last.text : "none", '{"type":"stopped"}']);
  // Never before the stream's end; the upper bound only catches a stream that does not end.
  rows.push(["ended after (ms)", command?.doneMs, `${WATCH_SECS * 1000} or later`,
    command && command.doneMs >= WATCH_SECS * 1000 - 100 && command.doneMs < 30000]);
  const values = [...new Set(samples.map((f) => f.json.rssi))];
  const want = associated ? [...new Set(signals.filter((v) => v !== null))] : [null];
  rows.push(["sample values", values.map(String).join(", "),
    want.map(String).join(", ") + (associated ? " (iw station signal)" : " (no association)"),
    values.length > 0 && values.every((v) => want.includes(v))]);
  rows.push(["t increasing", w.steps.every((d) => d > 0), true]);
  rows.push(["frames are UTF-8", frames.every((f) => f.utf8), true]);
  check(s, `watch ${WATCH_HZ} Hz for ${WATCH_SECS} s`, rows);
}

function checkHelperLog(s, who, block, scanCount) {
  const text = block ? block.lines.join("\n") : "";
  const rows = [
    ["exit", (text.match(/^exit status (\d+)/m) || ["", "?"])[1], "0"],
    ["Connected line", /Connected to https:\/\/tamberline\.com \(slot [1-4]\)\./.test(text), true],
    ["Scanning line", /Scanning nearby WiFi\.\.\./.test(text), true],
    ["Sent line", (text.match(/Sent (\d+) nearby networks (to the page\.|\(last scan by the system)/) || ["", "none"])[1], String(scanCount)],
    ["no WiFi failure", /WiFi not available|No WiFi adapter/.test(text) ? "WiFi not available" : "-", "-"],
  ];
  check(s, `helper log (${who})`, rows);
}

// ---- scan timing ------------------------------------------------------------------------------------

const median = (values) => [...values].sort((x, y) => x - y)[Math.floor(values.length / 2)];

// The kernel's own scan on `sta` in an event log block (iw event -t stamps, in seconds): the first
// "scan started" and the first "scan finished" or "scan aborted" after it, and whether the
// request was active (iw prints the SSIDs probed for after the frequencies; a passive scan has
// none); null when either event is missing.
function kernelScan(block, sta) {
  let start = null;
  for (const line of block ? block.lines : []) {
    const m = line.match(/^(\d+\.\d+): (\S+) \(phy #\d+\): scan (started|finished|aborted)(.*)$/);
    if (!m || m[2] !== sta) continue;
    if (m[3] === "started") start = start ?? Number(m[1]);
    else if (start !== null)
      return { start, end: Number(m[1]), ms: Math.round((Number(m[1]) - start) * 1000), active: m[4].includes('"'),
        asked: m[4].trim() };
  }
  return null;
}

// One iw trigger, wait and dump, from its steps as the guest logged them: the kernel's scan from
// the moment it took iw's trigger ("scan started") to the end event iw waits for, plus the whole
// "iw scan dump" run (process start, dump, printing). The helper's reply time likewise starts
// with a running process; iw's own start before its trigger (over 100 ms under emulation, where
// the helper's whole overhead is about 30 ms) is logged apart as `startMs`.
function iwScanRun(block, eventsBlock, sta) {
  const line = (block ? block.lines : []).find((l) => l.startsWith("IW-SCAN ")) || "";
  const m = line.match(/^IW-SCAN trigger=([\d.]+) dump=([\d.]+)-([\d.]+) rc=(\d+) bss=(\d+)/);
  const kernel = kernelScan(eventsBlock, sta);
  const run = { ms: null, text: line || "none", kernel, dumpMs: null, startMs: null };
  if (!m || m[4] !== "0" || Number(m[5]) === 0 || !kernel || kernel.start < Number(m[1])) return run;
  run.dumpMs = Math.round((Number(m[3]) - Number(m[2])) * 1000);
  run.startMs = Math.round((kernel.start - Number(m[1])) * 1000);
  run.ms = kernel.ms + run.dumpMs;
  return run;
}

// The times the guest's CPU stood still (the ticker's late wake-ups), as [from, to] on the probe
// clock.
function parseStalls(block) {
  const list = [];
  for (const line of block ? block.lines : []) {
    const m = line.match(/^STALL (\d+) (\d+)$/);
    if (m) list.push([Number(m[1]), Number(m[1]) + Number(m[2])]);
  }
  return list;
}

// How long within [a, z] the whole guest stood still, by the stalls of parseStalls.
function stoodStill(stalls, a, z) {
  return stalls.reduce((sum, [x, y]) => sum + Math.max(0, Math.min(z, y) - Math.max(a, x)), 0);
}

// The stream's samples around one scan sent at `from` and answered at `to` (probe clock): the
// steps between consecutive `t` stamps from the last sample that arrived before the scan to the
// first one after its reply. `covered` is false when the stream did not run before and after.
// `held` is a step less the time the whole guest stood still within it (the step placed on the
// probe clock so that it ends when its later sample arrived): what the helper's loop itself
// took.
function streamGaps(stream, from, to, stalls) {
  const watch = stream.commands[0];
  const none = { largest: null, held: null, stalled: 0, arrivalLargest: null, samples: 0, covered: false };
  if (!watch || watch.at === null) return none;
  const samples = watch.frames.filter((f) => f.json && f.json.type === "rssi")
    .map((f) => ({ arrived: watch.at + f.ms, t: f.json.t }));
  const firstAfter = samples.findIndex((x) => x.arrived >= to);
  let lastBefore = -1;
  samples.forEach((x, k) => { if (x.arrived <= from) lastBefore = k; });
  const covered = lastBefore >= 0 && firstAfter > lastBefore;
  const span = covered ? samples.slice(lastBefore, firstAfter + 1) : samples;
  const stood = (a, z) => stoodStill(stalls, a, z);
  let largest = null;
  let held = null;
  let arrivalLargest = null;
  for (let k = 1; k < span.length; k++) {
    const step = span[k].t - span[k - 1].t;
    largest = Math.max(largest ?? 0, step);
    held = Math.max(held ?? 0, step - stood(span[k].arrived - step, span[k].arrived));
    arrivalLargest = Math.max(arrivalLargest ?? 0, span[k].arrived - span[k - 1].arrived);
  }
  const stalled = stood(span.length ? span[0].arrived : 0, span.length ? span[span.length - 1].arrived : 0);
  return { largest, held, stalled, arrivalLargest, samples: span.length, covered };
}

function checkScanTiming(s, sta) {
  const rounds = [1, 2, 3].map((round) => {
    const p = `${s}/timing/${round}`;
    const helper = parseProbe(b(`${p}/helper`));
    const scan = helper.commands[0];
    const frame = frameOf(helper, 0, "scan");
    const stream = parseProbe(b(`${p}/stream`));
    return {
      round,
      active: iwScanRun(b(`${p}/iw`), b(`${p}/iw-events`), sta),
      passive: iwScanRun(b(`${p}/iw-passive`), b(`${p}/iw-passive-events`), sta),
      helper: {
        ms: frame ? scan.doneMs : null,
        text: frame ? `${scan.doneMs} (${frame.json.nets.length} networks)` : scan?.frames[0]?.text || helper.error || "no reply",
        kernel: kernelScan(b(`${p}/helper-events`), sta),
      },
      stream,
      gaps: frame && scan.at !== null
        ? streamGaps(stream, scan.at, scan.at + scan.doneMs, parseStalls(b(`${p}/stalls`)))
        : { largest: null, held: null, stalled: 0, arrivalLargest: null, samples: 0, covered: false },
    };
  });
  const medianOf = (kind) => (rounds.every((r) => r[kind].ms !== null) ? median(rounds.map((r) => r[kind].ms)) : null);
  const kindOf = (run) => (run.kernel ? (run.kernel.active ? "active" : "passive") : "unknown");
  // The helper asks for an active scan, as iw does by default, and is compared with iw's.
  const helperKinds = [...new Set(rounds.map((r) => kindOf(r.helper)))];
  const same = "active";
  const rows = [];
  for (const r of rounds) {
    rows.push([`round ${r.round}: iw active scan (ms)`, "-", r.active.ms ?? r.active.text,
      r.active.ms !== null && kindOf(r.active) === "active"]);
    rows.push([`round ${r.round}: iw passive scan (ms)`, "-", r.passive.ms ?? r.passive.text,
      r.passive.ms !== null && kindOf(r.passive) === "passive"]);
    rows.push([`round ${r.round}: helper scan reply (ms)`, `${r.helper.text}, ${kindOf(r.helper)}`, "active",
      r.helper.ms !== null && kindOf(r.helper) === "active"]);
  }
  const helperMedian = medianOf("helper");
  // The kernel's own scan time varies by a second between runs of the same request under
  // emulation, so the helper is held to what it adds on top of the kernel's scan (from sending
  // the command to the reply, less the kernel's scan), against what iw adds (its dump), and to
  // asking the kernel for the same scan as iw (the channels and SSIDs of the end event).
  for (const r of rounds) {
    const asked = r.helper.kernel?.asked ?? "none";
    rows.push([`round ${r.round}: scan asked for (channels, SSIDs)`, asked, r.active.kernel?.asked ?? "none",
      r.helper.kernel !== null && r.active.kernel !== null && asked === r.active.kernel.asked]);
  }
  const added = (run, f) => (run.ms !== null && run.kernel ? f(run) : null);
  const helperAdded = rounds.map((r) => added(r.helper, (x) => x.ms - x.kernel.ms));
  const iwAdded = rounds.map((r) => r.active.dumpMs);
  const helperAddedMedian = helperAdded.every((x) => x !== null) ? median(helperAdded) : null;
  const iwAddedMedian = iwAdded.every((x) => x !== null) ? median(iwAdded) : null;
  rows.push(["median time added to the kernel's scan (ms)", `${helperAddedMedian ?? "-"} (${helperAdded.join(" ")})`,
    `${iwAddedMedian ?? "-"} (iw's dump, ${iwAdded.join(" ")})`,
    helperAddedMedian !== null && iwAddedMedian !== null && helperAddedMedian >= 0 &&
      helperAddedMedian <= iwAddedMedian + SCAN_TIME_BOUND_MS]);
  check(s, `scan time against iw (time added to the kernel's scan, median of 3, within ${SCAN_TIME_BOUND_MS} ms of iw's)`, rows);

  const gapRows = [];
  for (const r of rounds) {
    const g = r.gaps;
    const streamError = r.stream.error ? ` (${r.stream.error})` : "";
    // A step is the helper's less the time the whole guest stood still within it.
    gapRows.push([`round ${r.round}: largest step in t, less guest stalls (ms)`,
      g.held === null ? "none" + streamError : `${g.held} (raw ${g.largest}, guest stood still ${g.stalled} ms)`,
      `<= ${STREAM_GAP_BOUND_MS}`, g.held !== null && g.held <= STREAM_GAP_BOUND_MS]);
    gapRows.push([`round ${r.round}: samples spanning the scan`, g.samples,
      "from before the scan to after its reply", g.covered]);
  }
  check(s, `20 Hz stream on a second page during the scans (steps <= ${STREAM_GAP_BOUND_MS} ms)`, gapRows);

  const list = (kind, f) => rounds.map((r) => f(r[kind]) ?? "-").join(" ");
  const line = (label, kind) =>
    console.log(`  info: ${s}:   ${label.padEnd(24)} ${list(kind, (x) => x.ms)} ms, median ${medianOf(kind) ?? "-"} ` +
      `(kernel's scan ${list(kind, (x) => x.kernel?.ms)} ms` + (kind === "helper" ? `, ${helperKinds.join("/")})` :
      `, dump ${list(kind, (x) => x.dumpMs)} ms; iw's start to its trigger ${list(kind, (x) => x.startMs)} ms, not counted)`));
  console.log(`  info: ${s}: scan time on ${sta} (associated), 3 rounds of iw active, iw passive, helper:`);
  line("iw active (wildcard SSID)", "active");
  line("iw passive", "passive");
  line("helper scan reply", "helper");
  const versus = (kind) => (medianOf(kind) !== null && helperMedian !== null ? helperMedian - medianOf(kind) : "-");
  console.log(`  info: ${s}:   helper minus iw, medians: ${versus("passive")} ms against passive, ` +
    `${versus("active")} ms against active (the kernel's scan times differ from run to run)`);
  console.log(`  info: ${s}:   added to the kernel's scan: helper ${helperAdded.map((x) => x ?? "-").join(" ")} ms, ` +
    `iw's dump ${iwAdded.map((x) => x ?? "-").join(" ")} ms; bound: the helper's median within ` +
    `${SCAN_TIME_BOUND_MS} ms of iw's`);
  console.log(`  info: ${s}: 20 Hz stream during each helper scan: largest step in t ` +
    `${rounds.map((r) => r.gaps.largest ?? "-").join(" ")} ms, less the guest's stalls ` +
    `${rounds.map((r) => r.gaps.held ?? "-").join(" ")} ms (bound ${STREAM_GAP_BOUND_MS}; guest stood still ` +
    `${rounds.map((r) => r.gaps.stalled).join(" ")} ms during the scans), ` +
    `between arrivals ${rounds.map((r) => r.gaps.arrivalLargest ?? "-").join(" ")} ms, ` +
    `samples ${rounds.map((r) => r.gaps.samples).join(" ")}`);
}
// ---- end of scan timing -------------------------------------------------------------------------------

// ---- least privilege --------------------------------------------------------------------------------
// The rights a serving helper holds, from /proc/PID/status: not root, the scan right
// (CAP_NET_ADMIN, bit 12) alone, no_new_privs and the seccomp filter.
const SCAN_RIGHT_ONLY = "0000000000001000";

function statusFields(block) {
  const fields = {};
  for (const line of block ? block.lines : []) {
    const m = line.match(/^(\w+):\s*(.*)$/);
    if (m) fields[m[1]] = m[2].trim();
  }
  return fields;
}

function checkRights(s, who, block) {
  const f = statusFields(block);
  const uids = (f.Uid || "").split(/\s+/);
  check(s, `rights while serving (${who})`, [
    ["uid (real effective saved fs)", f.Uid || "none", "all non-zero", uids.length === 4 && uids.every((u) => u !== "0")],
    ["CapEff", f.CapEff || "none", SCAN_RIGHT_ONLY],
    ["CapPrm", f.CapPrm || "none", SCAN_RIGHT_ONLY],
    ["CapInh", f.CapInh || "none", "0000000000000000"],
    ["CapAmb", f.CapAmb || "none", "0000000000000000"],
    ["NoNewPrivs", f.NoNewPrivs || "none", "1"],
    ["Seccomp", f.Seccomp || "none", "2"],
  ]);
}

function checkFilecapRun(s, info, associated, after) {
  checkRights(s, "filecap", b(`${s}/filecap/rights`));
  const scan = parseProbe(b(`${s}/filecap/probe-scan`));
  checkScan(s, "filecap", scan, b(`${s}/filecap/iw-scan`), b(`${s}/filecap/iw-raw`),
    b(`${s}/filecap/scan-events`), info.iface, associated, after);
  // Still serving after the scan, and ended by SIGTERM the normal way (not by the filter).
  const later = parseProbe(b(`${s}/filecap/probe-after`));
  const text = b(`${s}/helper-filecap`) ? b(`${s}/helper-filecap`).lines.join("\n") : "";
  check(s, "serving after the scan (filecap)", [
    ["hello", frameOf(later, 0, "hello") ? "hello" : later.error || "none", "hello"],
    ["link", frameOf(later, 1, "link") ? "link" : later.error || "none", "link"],
    ["exit", (text.match(/^exit status (\d+)/m) || ["", "?"])[1], "0"],
  ]);
}
// ---- end of least privilege ---------------------------------------------------------------------------

// ---- roaming ------------------------------------------------------------------------------------------
// The roam scene: a 10 Hz stream on a page whose first command is the watch, while the station
// roams three times between two access points of one network and then loses the one it is on.
// The kernel's connect and disconnect events (iw event -t, CLOCK_REALTIME) and the frames' arrival
// (CLOCK_MONOTONIC) are put on one time line by the clocks read together in roam/clocks. Times
// the whole guest stood still (roam/stalls) are taken off each delay: they hold up the stream
// without the helper's doing.
const ROAM_VALUE_WITHIN_MS = 1000; // a value again this soon after iw shows the new BSSID
const ROAM_GOAL_MS = 1000 / 10 + 100; // the goal: one sample period and 100 ms
const ROAM_IN_FLIGHT_MS = 150; // a sample taken before a disconnect may arrive this much after it

function roamEvents(sta, offsetMs) {
  const events = [];
  for (const line of lines("roam/events")) {
    const m = line.match(/^([\d.]+): (\S+) \(phy #\d+\): (connected to|roamed to|disconnected)\s*([0-9a-f:]{17})?/);
    if (m && m[2] === sta) events.push({ at: Number(m[1]) * 1000 - offsetMs, kind: m[3].split(" ")[0], bssid: m[4] || null, text: line });
  }
  return events;
}

function checkRoam() {
  const s = "roam";
  const sta = (progress.find((l) => l.startsWith("CHECKS roam ")) || "").match(/sta=(\S+)/)?.[1] || "?";
  const clocks = lines("roam/clocks").join(" ").match(/REALTIME ([\d.]+) MONOTONIC (\d+)/);
  const offsetMs = clocks ? Number(clocks[1]) * 1000 - Number(clocks[2]) : 0;
  const probe = parseProbe(b("roam/watch"));
  const command = probe.commands[0];
  const samples = (command?.frames || [])
    .filter((f) => f.json && f.json.type === "rssi")
    .map((f) => ({ at: command.at + f.ms, rssi: f.json.rssi }));
  const events = roamEvents(sta, offsetMs);
  const roams = progress.map((l) => l.match(/^ROAM (\d+) from=(\S*) to=(\S*)/)).filter(Boolean);
  const rows = [];
  rows.push(["first sample (the page's first command is the watch)", samples.length ? String(samples[0].rssi) : probe.error || "none",
    "a value", samples.length > 0 && samples[0].rssi !== null]);
  const firstValueAfter = (at) => samples.find((x) => x.at >= at && x.rssi !== null);
  const stalls = parseStalls(b("roam/stalls"));
  const held = (from, to) => Math.round(to - from - stoodStill(stalls, from, to));
  const shown = (from, to) => {
    const still = Math.round(stoodStill(stalls, from, to));
    return still > 0 ? `${held(from, to)} (raw ${Math.round(to - from)}, guest stood still ${still} ms)` : held(from, to);
  };
  const delays = [];
  let searchFrom = -Infinity;
  for (const [, round, from, to] of roams) {
    const connect = events.find((e) => e.at > searchFrom && (e.kind === "connected" || e.kind === "roamed") && e.bssid === to);
    const value = connect ? firstValueAfter(connect.at) : null;
    const delay = value ? held(connect.at, value.at) : null;
    if (delay !== null) delays.push(delay);
    rows.push([`roam ${round} (${from} to ${to}): first value after the kernel's connect (ms)`,
      connect ? (value ? shown(connect.at, value.at) : "none") : "no connect event", `<= ${ROAM_VALUE_WITHIN_MS}`, delay !== null && delay <= ROAM_VALUE_WITHIN_MS]);
    if (connect) searchFrom = connect.at;
  }
  const link = frameOf(parseProbe(b("roam/probe-link")), 0, "link");
  const iwLink = parseIwLink(lines("roam/iw-link"));
  const lastTo = roams.length ? roams[roams.length - 1][3] : null;
  rows.push(["iw link after the roams: BSSID", iwLink.bssid || "none", lastTo || "none"]);
  rows.push(["link after the roams: freqMHz", link ? String(link.json.freqMHz) : "none", String(iwLink.freq ?? "none")]);
  // The access point the station was on goes away: from its disconnect to the next connect every
  // sample is null (but those in flight), then values again.
  const gone = (progress.find((l) => l.startsWith("AP-GONE ")) || "").split(" ")[1] || null;
  const lost = events.find((e) => e.at > searchFrom && e.kind === "disconnected");
  const back = lost ? events.find((e) => e.at > lost.at && e.kind === "connected") : null;
  const between = lost && back ? samples.filter((x) => x.at < back.at && held(lost.at, x.at) > ROAM_IN_FLIGHT_MS) : [];
  const valued = between.filter((x) => x.rssi !== null);
  rows.push([`access point ${gone} gone: samples while disconnected`, lost && back ? `${between.length - valued.length} null, ${valued.length} with a value` : "no disconnect/connect events",
    "all null (at least 3: the station is held off for 2 s)", lost && back && between.length >= 3 && valued.length === 0]);
  const again = back ? firstValueAfter(back.at) : null;
  rows.push(["after connecting again: first value (ms)", again ? shown(back.at, again.at) : "none",
    `<= ${ROAM_VALUE_WITHIN_MS}`, again && held(back.at, again.at) <= ROAM_VALUE_WITHIN_MS]);
  check(s, "stream follows three roams and a lost access point", rows);
  // A failed roam row is read against the events themselves: show what the scene's listener logged.
  if (!results[results.length - 1].ok) {
    const logged = lines("roam/events");
    console.log(`  info: roam: ${logged.length} events logged (${events.length} of ${sta}'s connects and ` +
      `disconnects), clocks ${lines("roam/clocks").join(" ") || "none"}; the last of them:`);
    for (const line of logged.slice(-40)) console.log(`    ${line}`);
  }
  const med = delays.length === 3 ? median(delays) : null;
  console.log(`  info: roam: first value after the kernel's connect event: ${delays.join(" ")} ms, median ` +
    `${med ?? "-"} (goal ${ROAM_GOAL_MS}); ${samples.length} samples`);
}
// ---- end of roaming -------------------------------------------------------------------------------------

// ---- main -------------------------------------------------------------------------------------------

const { blocks, progress, tail } = readBlocks(process.argv[2]);
const b = (name) => blocks.get(name);
const lines = (name) => (b(name) ? b(name).lines : []);

for (const line of progress) console.log(`  guest: ${line}`);
const done = progress.find((l) => l.startsWith("DONE "));
if (!done || !done.startsWith("DONE ok")) {
  console.log("FAIL: the guest did not get through its scenes");
  if (b("failure-context")) console.log(lines("failure-context").join("\n"));
  else console.log(`last lines of the console:\n${tail}`);
  process.exit(1);
}

// A helper built with the stand-in WiFi source (before the real one is in the tree) cannot be
// compared with anything: report the test as skipped (CTest's SKIP_RETURN_CODE) rather than
// failed.
if (/WiFi not available: .*\(not built yet\)/.test(lines("lab/helper-root").join("\n"))) {
  console.log("SKIP: this helper was built without its WiFi source (not built yet)");
  process.exit(77);
}

for (const { name: s, associated, timed, phy, linkAndScanOnly } of SCENES) {
  const info = parseIwInfo(lines(`${s}/iw-info`));
  const before = parseIwLink(lines(`${s}/iw-link-before`));
  const after = parseIwLink(lines(`${s}/iw-link-after`));
  const port = (lines(`${s}/helper-root`).join("\n").match(/Running on 127\.0\.0\.1:(\d+)\./) || [])[1];
  const linkProbe = parseProbe(b(`${s}/probe-link`));
  const survey = parseIwSurvey(lines(`${s}/iw-survey`));
  checkHello(s, linkProbe, port);
  checkLink(s, linkProbe, info, before, after, associated, survey, phy);
  const cost = surveyCost(lines(`${s}/iw-survey-raw`));
  console.log(`  info: ${s}: survey dump of ${info.iface}: ${survey.length} channels, ` +
    `${cost.messages} messages, ${cost.bytes} bytes`);

  const rootScan = parseProbe(b(`${s}/root/probe-scan`));
  checkScan(s, "root", rootScan, b(`${s}/root/iw-scan`), b(`${s}/root/iw-raw`), b(`${s}/root/scan-events`), info.iface,
    associated, after);
  if (linkAndScanOnly) continue;

  const signals = [`${s}/iw-station-before`, `${s}/iw-station-after`].map((n) => parseIwStationSignal(lines(n)));
  checkWatch(s, parseProbe(b(`${s}/probe-watch`)), signals, associated);
  checkHelperLog(s, "root", b(`${s}/helper-root`), rootScan.commands[0]?.frames[0]?.json?.nets?.length);
  checkRights(s, "root", b(`${s}/root/rights`)); // least privilege

  const id = lines(`${s}/nobody/id`).join(" ");
  check(s, "runs as nobody", [["id", id.match(/uid=\d+/)?.[0] || id, "uid=65534"]]);
  const nobodyLink = parseProbe(b(`${s}/nobody/probe-link`));
  const nl = frameOf(nobodyLink, 0, "link");
  check(s, "link as nobody", nl
    ? linkRows(nl.json, rawSsids(nl.text)[0], info, before, after, associated, survey, phy).filter(([f]) =>
        ["connected", "iface", "ssid (JSON literal)", "channel", "widthMHz", "noise"].includes(f))
    : [["reply", nobodyLink.error || "none", "link", false]]);
  checkScan(s, "nobody", parseProbe(b(`${s}/nobody/probe-scan`)), b(`${s}/nobody/iw-scan`),
    b(`${s}/nobody/iw-raw`), b(`${s}/nobody/scan-events`), info.iface, associated, after);
  checkFilecapRun(s, info, associated, after); // least privilege
  if (timed) checkScanTiming(s, info.iface);
}

if (b("roam/watch")) checkRoam();

// The helper of nobody served nobody's page and refused tivel's (uid 1000) unread, as the
// kernel's socket diagnostics told it.
{
  const own = parseProbe(b("owners/own"));
  const other = parseProbe(b("owners/other"));
  const log = b("owners/helper") ? b("owners/helper").lines.join("\n") : "";
  check("owners", "only the starting user's programs connect", [
    ["own page", frameOf(own, 0, "hello") ? "hello" : own.error || "none", "hello"],
    ["other user's page", frameOf(other, 0, "hello") ? "hello" : "refused", "refused"],
    ["refusal logged", /Refused a connection from a program of uid 1000; only programs of uid 65534 and root/.test(log), true],
    ["users told apart", /Cannot tell which user/.test(log) ? "cannot tell" : "-", "-"],
  ]);
}

let failed = 0;
for (const r of results) {
  console.log(`${r.ok ? "ok  " : "FAIL"}  ${r.scene}: ${r.what} (${r.table.length} fields)`);
  if (!r.ok) failed++;
}
// TIVEL_KERNEL_VERBOSE=1 prints every table, not only the failed ones.
const verbose = process.env.TIVEL_KERNEL_VERBOSE === "1";
for (const r of results.filter((x) => verbose || !x.ok)) {
  // Long tables (a scan has about 16 rows per network) show only their mismatches.
  const bad = verbose || r.table.length <= 20 ? r.table : r.table.filter((x) => !x.ok);
  const w0 = Math.max(5, ...bad.map((x) => x.field.length));
  const w1 = Math.min(60, Math.max(6, ...bad.map((x) => x.helper.length)));
  console.log(`\n${r.scene}: ${r.what}`);
  console.log(`   ${"field".padEnd(w0)}  ${"helper".padEnd(w1)}  iw`);
  for (const x of bad)
    console.log(`${x.ok ? "   " : " ! "}${x.field.padEnd(w0)}  ${x.helper.padEnd(w1)}  ${x.iw}`);
}
console.log(failed ? `\n${failed} of ${results.length} checks failed` : `\nall ${results.length} checks passed`);
process.exit(failed ? 1 : 0);
