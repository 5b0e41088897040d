// The page's worker: owns the WebAssembly module and one open archive, so
// that decoding never holds up the page. Messages in: open, password, walk.
// Messages out: opened, table, password, entry, progress, done, failed.
//
// Built into qk1-worker.js together with the module (qk1.js) and names.js;
// the page starts it from that file's text (see app.js).
"use strict";

var modulePromise = createQk1();
var Module = null;
var archive = null;
var queue = Promise.resolve();  // messages are handled one after another
var STEP = 1 << 20;  // progress comes before each MiB decoded

function post(message, transfer) {
  self.postMessage(message, transfer || []);
}

function entryList() {
  return archive.entries().map(function (e, index) {
    return {
      index: index,
      nameHex: Array.from(e.name, function (b) { return (b < 16 ? "0" : "") + b.toString(16); }).join(""),
      shown: Qk1Names.shown(e.parts),
      path: e.path.map(Qk1Names.component),
      refused: e.refused,
      size: e.size,
      time: e.time,
    };
  });
}

function sendTable() {
  var status = archive.readTable();
  if (status !== 0) {
    post({ op: "table", status: status });
    return;
  }
  post({ op: "table", status: 0, entries: entryList(), batches: archive.batches(), heap: Module.HEAPU8.length });
}

// Copies the file into the heap a piece at a time (the heap then holds the
// only whole copy) and reads the header.
async function open(file) {
  if (archive) archive.delete();
  archive = new Module.Archive();
  var at = Module._malloc(Math.max(file.size, 1));
  if (!at) {
    post({ op: "opened", status: 5 });  // kNoMemory
    return;
  }
  var PIECE = 16 << 20;
  for (var offset = 0; offset < file.size; offset += PIECE) {
    var piece = new Uint8Array(await file.slice(offset, offset + PIECE).arrayBuffer());
    Module.HEAPU8.set(piece, at + offset);
  }
  var status = archive.open(at, file.size);
  var header = status === 0 ? archive.header() : null;
  post({ op: "opened", status: status, header: header });
  if (status === 0 && !header.passwordSet) sendTable();
}

function password(text) {
  var bytes = Qk1Names.encode(text);
  if (!bytes) {
    post({ op: "password", ok: false, unencodable: true });
    return;
  }
  var ok = archive.checkPassword(bytes);
  post({ op: "password", ok: ok });
  if (ok) sendTable();
}

// Decodes through the last wanted entry and hands each wanted one over
// (moved, not copied, to the page). With `wanted` null nothing is handed
// over: the archive is only checked, as `qk t` does.
function walk(id, wanted, total) {
  var flags = null;
  var last = -1;
  if (wanted) {
    flags = new Uint8Array(archive.header().entryCount);
    wanted.forEach(function (i) { flags[i] = 1; last = Math.max(last, i); });
  } else {
    flags = new Uint8Array(0);
  }
  var lastPost = 0;
  var result = archive.walk(
    flags,
    wanted ? last : -1,
    STEP,
    function (index, view) {
      var copy = view.slice();
      post({ op: "entry", id: id, index: index, bytes: copy.buffer }, [copy.buffer]);
      return true;
    },
    function (done) {
      var now = Date.now();
      if (now - lastPost >= 16 || done >= total) {
        lastPost = now;
        post({ op: "progress", id: id, done: done, heap: Module.HEAPU8.length });
      }
      return true;
    }
  );
  post({ op: "done", id: id, status: result.status, entry: result.entry, heap: Module.HEAPU8.length });
}

self.onmessage = function (event) {
  var m = event.data;
  queue = queue.then(function () { return modulePromise; }).then(async function (module) {
    Module = module;
    try {
      if (m.op === "open") await open(m.file);
      else if (m.op === "password") password(m.text);
      else if (m.op === "walk") walk(m.id, m.wanted, m.total);
    } catch (e) {
      // An abort inside the module (memory exhausted beyond what the
      // library checks): the page starts a fresh worker.
      post({ op: "failed", id: m.id, message: String(e && e.message || e) });
    }
  });
};
