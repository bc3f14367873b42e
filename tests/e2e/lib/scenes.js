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

// The scene file text for the simulator: the odd names above as nearby networks, the first one
// associated, all on different signals so their order is fixed.
function oddNames() {
  throw new Error('the simulator scene format is not known yet');
}

module.exports = { ODD_NAMES, oddNames };
