// Entry names between the archive's Shift-JIS (CP932) bytes and the page.
//
// A name is shown component by component, so that a broken character cannot
// take a separator with it. Each component is cut into characters by CP932's
// own lead bytes (0x81-0x9F, 0xE0-0xFC, when a byte follows) and converted one
// character at a time by the browser's Shift_JIS decoder, which is CP932
// (user-defined area 0xF040-0xF9FC to U+E000-U+E757). A character that does
// not convert, and a control byte, becomes %XX per byte: the same text the qk
// tool shows under a UTF-8 locale.
"use strict";

var Qk1Names = (function () {
  var decoder = new TextDecoder("shift_jis", { fatal: true });
  var HEX = "0123456789ABCDEF";

  function percent(bytes) {
    var out = "";
    for (var i = 0; i < bytes.length; i++) out += "%" + HEX[bytes[i] >> 4] + HEX[bytes[i] & 15];
    return out;
  }

  function isLead(b) {
    return (b >= 0x81 && b <= 0x9f) || (b >= 0xe0 && b <= 0xfc);
  }

  // One component's bytes -> text.
  function component(bytes) {
    var out = "";
    var i = 0;
    while (i < bytes.length) {
      var b = bytes[i];
      if (b < 0x80) {
        out += b < 0x20 || b === 0x7f ? percent([b]) : String.fromCharCode(b);
        i++;
        continue;
      }
      var n = isLead(b) && i + 1 < bytes.length ? 2 : 1;
      var ch = bytes.subarray(i, i + n);
      try {
        out += decoder.decode(ch);
      } catch (e) {
        out += percent(ch);
      }
      i += n;
    }
    return out;
  }

  // The components of a name -> "a/b/c".
  function shown(parts) {
    return parts.map(component).join("/");
  }

  // Text -> CP932 bytes (for passwords), or null when a character has no
  // CP932 form. Where CP932 has a character twice, the first code wins, but
  // the NEC-selected rows 0xED-0xEE lose to the IBM rows 0xFA-0xFC: what
  // Windows and the browser's encoder pick.
  var table = null;
  function buildTable() {
    table = new Map();
    var pair = new Uint8Array(2);
    var one = new Uint8Array(1);
    for (var b = 0xa1; b <= 0xdf; b++) {
      one[0] = b;
      table.set(decoder.decode(one), [b]);
    }
    for (var lead = 0x81; lead <= 0xfc; lead++) {
      if (!isLead(lead) || lead === 0xed || lead === 0xee) continue;
      for (var t = 0x40; t <= 0xfc; t++) {
        pair[0] = lead;
        pair[1] = t;
        var ch;
        try {
          ch = decoder.decode(pair);
        } catch (e) {
          continue;
        }
        if (!table.has(ch)) table.set(ch, [lead, t]);
      }
    }
  }

  function encode(text) {
    if (!table) buildTable();
    var out = [];
    for (var ch of text) {
      var c = ch.codePointAt(0);
      if (c < 0x80) {
        out.push(c);
        continue;
      }
      var bytes = table.get(ch);
      if (!bytes) return null;
      out.push.apply(out, bytes);
    }
    return new Uint8Array(out);
  }

  return { component: component, shown: shown, encode: encode, percent: percent };
})();
