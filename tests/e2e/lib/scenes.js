// Scenes for the simulated WiFi: network names whose bytes a browser refuses when a text frame
// carries them raw (invalid UTF-8), beside valid multi-byte names and ASCII that JSON must escape.
'use strict';

// bytes: the SSID as the access point sends it. text: the string the page must get from JSON.
const ODD_NAMES = [
  { bytes: Buffer.from('say "hi" \\ there', 'latin1'), text: 'say "hi" \\ there' },
  // An encoded UTF-16 surrogate, an overlong form and a code point above U+10FFFF.
  { bytes: Buffer.from('surrogate \xed\xa0\x80', 'latin1'), text: 'surrogate \u00ed\u00a0\u0080' },
  { bytes: Buffer.from('overlong \xe0\x80\x80', 'latin1'), text: 'overlong \u00e0\u0080\u0080' },
  { bytes: Buffer.from('beyond \xf4\x90\x80\x80', 'latin1'), text: 'beyond \u00f4\u0090\u0080\u0080' },
  { bytes: Buffer.from('lone \xff', 'latin1'), text: 'lone \u00ff' },
  { bytes: Buffer.from('tab\tnl\n', 'latin1'), text: 'tab\u0009nl\u000a' },
  // Valid UTF-8 of two, three and four bytes, and the last code point, pass unchanged.
  { bytes: Buffer.from('caf\u00e9 \u2615 \u{1f600}', 'utf8'), text: 'caf\u00e9 \u2615 \u{1f600}' },
  { bytes: Buffer.from('last \u{10ffff}', 'utf8'), text: 'last \u{10ffff}' },
];

// The scene file text for the simulator: the odd names above as nearby networks on channel 6, the
// first one associated, each 1 dB weaker than the one before so their order is fixed. The scan
// request is accepted and its wait cut to 100 ms.
function oddNames() {
  const lines = [
    'name odd-names',
    'family id=32',
    'trigger accept',
    'scan-wait-ms 100',
    `interface ifindex=3 name=wlan0 type=station wiphy=0 freq=2437 width=1 ssid-hex=${ODD_NAMES[0].bytes.toString('hex')}`,
  ];
  ODD_NAMES.forEach(({ bytes }, i) => {
    const bssid = `02:00:00:00:${i.toString(16).padStart(2, '0')}:01`;
    const status = i === 0 ? ' status=associated' : '';
    lines.push(`bss bssid=${bssid} freq=2437 signal=${-4000 - 100 * i}${status} ssid-hex=${bytes.toString('hex')}`);
  });
  lines.push('station signal=-40 swing=2 tx-bitrate=1440 tx-mcs=15 rx-bitrate=1300 rx-mcs=15');
  return `${lines.join('\n')}\n`;
}

// A list the helper could not refresh (the kernel refuses the scan, as for an ordinary user): the
// system's last results, each network heard a different time ago, one without an age. Strongest
// first, with the Seen text the page shows for each.
const STALE_NETS = [
  { ssid: 'heard-now', seen: 40, shown: '0.0 s ago' },
  { ssid: 'heard-4s', seen: 4200, shown: '4.2 s ago' },
  { ssid: 'heard-95s', seen: 95000, shown: '95 s ago' },
  { ssid: 'heard-5min', seen: 300000, shown: '5 min ago' },
  { ssid: 'no-age', seen: 'none', shown: '—' },
];

function staleList() {
  const lines = [
    'name stale-list',
    'family id=32',
    'trigger refuse',
    'interface ifindex=3 name=wlan0 type=station wiphy=0 freq=2437 width=1 ssid=heard-now',
  ];
  STALE_NETS.forEach(({ ssid, seen }, i) => {
    const status = i === 0 ? ' status=associated' : '';
    lines.push(`bss bssid=02:00:00:00:00:0${i + 1} freq=2437 signal=${-4000 - 300 * i}${status} ssid=${ssid} seen=${seen}`);
  });
  lines.push('station signal=-40 tx-bitrate=1440 rx-bitrate=1300');
  return `${lines.join('\n')}\n`;
}

module.exports = { ODD_NAMES, oddNames, STALE_NETS, staleList };
