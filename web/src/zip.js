// A small ZIP writer: stored entries (no compression), names in UTF-8 (flag
// bit 11), CRC-32, the entry's time as a local DOS time and as a UTC extended
// timestamp, and the ZIP64 end records when there are more than 65,535
// entries. The archive grows as a list of Blobs, so that the entries' bytes
// can be let go as they are added.
"use strict";

var Qk1Zip = (function () {
  var CRC_TABLE = (function () {
    var t = new Int32Array(256);
    for (var n = 0; n < 256; n++) {
      var c = n;
      for (var k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
      t[n] = c;
    }
    return t;
  })();

  function crc32(bytes) {
    var c = -1;
    for (var i = 0; i < bytes.length; i++) c = CRC_TABLE[(c ^ bytes[i]) & 0xff] ^ (c >>> 8);
    return (c ^ -1) >>> 0;
  }

  // Seconds since 1970 -> [DOS time, DOS date] in local time, kept within
  // the years DOS dates can hold.
  function dosTime(seconds) {
    var d = new Date(seconds * 1000);
    var year = d.getFullYear();
    if (year < 1980) return [0, (1 << 5) | 1];
    if (year > 2107) return [(23 << 11) | (59 << 5) | 29, (127 << 9) | (12 << 5) | 31];
    return [
      (d.getHours() << 11) | (d.getMinutes() << 5) | (d.getSeconds() >> 1),
      ((year - 1980) << 9) | ((d.getMonth() + 1) << 5) | d.getDate(),
    ];
  }

  function Writer() {
    this.blobs = [];
    this.pending = [];
    this.pendingSize = 0;
    this.offset = 0;
    this.central = [];
    this.count = 0;
  }

  Writer.prototype.push = function (part) {
    this.pending.push(part);
    this.pendingSize += part.length;
    this.offset += part.length;
    if (this.pendingSize >= 16 << 20) this.flush();
  };

  Writer.prototype.flush = function () {
    if (this.pending.length) this.blobs.push(new Blob(this.pending));
    this.pending = [];
    this.pendingSize = 0;
  };

  // Adds a file. `crc` may be given when it was computed elsewhere.
  Writer.prototype.add = function (name, bytes, seconds, crc) {
    var nameBytes = new TextEncoder().encode(name);
    if (crc === undefined) crc = crc32(bytes);
    var dt = dosTime(seconds);
    var local = new DataView(new ArrayBuffer(30 + nameBytes.length + 9));
    local.setUint32(0, 0x04034b50, true);
    local.setUint16(4, 20, true);        // version needed: 2.0
    local.setUint16(6, 0x0800, true);    // names in UTF-8
    local.setUint16(8, 0, true);         // stored
    local.setUint16(10, dt[0], true);
    local.setUint16(12, dt[1], true);
    local.setUint32(14, crc, true);
    local.setUint32(18, bytes.length, true);
    local.setUint32(22, bytes.length, true);
    local.setUint16(26, nameBytes.length, true);
    local.setUint16(28, 9, true);
    var u8 = new Uint8Array(local.buffer);
    u8.set(nameBytes, 30);
    var extra = 30 + nameBytes.length;
    local.setUint16(extra, 0x5455, true);  // extended timestamp: modification time
    local.setUint16(extra + 2, 5, true);
    local.setUint8(extra + 4, 1);
    local.setUint32(extra + 5, seconds >>> 0, true);

    var entry = new DataView(new ArrayBuffer(46 + nameBytes.length + 9));
    entry.setUint32(0, 0x02014b50, true);
    entry.setUint16(4, (3 << 8) | 20, true);  // made by: Unix, 2.0 (for the file mode)
    entry.setUint16(6, 20, true);
    entry.setUint16(8, 0x0800, true);
    entry.setUint16(10, 0, true);
    entry.setUint16(12, dt[0], true);
    entry.setUint16(14, dt[1], true);
    entry.setUint32(16, crc, true);
    entry.setUint32(20, bytes.length, true);
    entry.setUint32(24, bytes.length, true);
    entry.setUint16(28, nameBytes.length, true);
    entry.setUint16(30, 9, true);
    entry.setUint32(38, 0o100644 * 65536, true);  // a regular file, rw-r--r--
    entry.setUint32(42, this.offset, true);
    var c8 = new Uint8Array(entry.buffer);
    c8.set(nameBytes, 46);
    c8.set(u8.subarray(extra, extra + 9), 46 + nameBytes.length);
    this.central.push(c8);
    this.count++;

    this.push(u8);
    this.push(bytes);
  };

  // The finished archive.
  Writer.prototype.finish = function () {
    var start = this.offset;
    for (var i = 0; i < this.central.length; i++) this.push(this.central[i]);
    var size = this.offset - start;
    var many = this.count > 0xffff;
    if (many) {
      var z = new DataView(new ArrayBuffer(56 + 20));
      z.setUint32(0, 0x06064b50, true);  // ZIP64 end of central directory
      z.setBigUint64(4, 44n, true);
      z.setUint16(12, (3 << 8) | 45, true);
      z.setUint16(14, 45, true);
      z.setBigUint64(24, BigInt(this.count), true);
      z.setBigUint64(32, BigInt(this.count), true);
      z.setBigUint64(40, BigInt(size), true);
      z.setBigUint64(48, BigInt(start), true);
      z.setUint32(56, 0x07064b50, true);  // its locator
      z.setBigUint64(64, BigInt(this.offset), true);
      z.setUint32(72, 1, true);
      this.push(new Uint8Array(z.buffer));
    }
    var end = new DataView(new ArrayBuffer(22));
    end.setUint32(0, 0x06054b50, true);
    end.setUint16(8, many ? 0xffff : this.count, true);
    end.setUint16(10, many ? 0xffff : this.count, true);
    end.setUint32(12, size, true);
    end.setUint32(16, start, true);
    this.push(new Uint8Array(end.buffer));
    this.flush();
    this.central = [];
    return new Blob(this.blobs, { type: "application/zip" });
  };

  return { Writer: Writer, crc32: crc32 };
})();
