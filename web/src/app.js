// The page: opens an archive in the worker, shows its facts and entries, and
// saves entries into a folder the user picks or as one .zip.
"use strict";

(function () {
  var T = Qk1Text.T;
  var fmt = Qk1Text.format;
  var numbers = new Intl.NumberFormat(Qk1Text.lang === "ja" ? "ja-JP" : "en-US");
  var $ = function (id) { return document.getElementById(id); };

  // What the page knows about the open archive.
  var state = null;
  var worker = null;
  var jobs = {};  // walk id -> handlers
  var nextJob = 1;

  // ---- texts ---------------------------------------------------------------
  document.documentElement.lang = Qk1Text.lang;
  document.title = T.title;
  $("title").textContent = T.title;
  $("tagline").textContent = T.tagline;
  $("drop-text").textContent = T.drop;
  $("or-text").textContent = T.or;
  $("choose-text").textContent = T.choose;
  $("another-text").textContent = T.openAnother;
  $("password-prompt").textContent = T.needsPassword;
  $("password-label").textContent = T.passwordLabel;
  $("unlock").textContent = T.unlock;
  $("cancel").textContent = T.cancel;
  $("filter").placeholder = T.filter;
  $("save-all").textContent = T.saveAll;
  $("save-zip").textContent = T.saveAllZip;
  $("th-name").textContent = T.name;
  $("th-size").textContent = T.size;
  $("th-date").textContent = T.date;
  $("privacy").textContent = T.privacy;
  var canPickFolder = typeof window.showDirectoryPicker === "function";
  if (!canPickFolder) $("save-all").hidden = true;
  $("note").textContent = canPickFolder ? T.datesNote : "";

  function grouped(n) { return numbers.format(n); }
  function filesWord(n) { return n === 1 ? T.file1 : T.files; }
  function human(n) {
    if (n < 1024) return grouped(n) + " B";
    var units = ["KiB", "MiB", "GiB"];
    var v = n;
    var u = -1;
    do { v /= 1024; u++; } while (v >= 1024 && u < units.length - 1);
    return v.toFixed(v < 10 ? 1 : 0) + " " + units[u];
  }
  function pad(n) { return (n < 10 ? "0" : "") + n; }
  function dateText(seconds) {
    var d = new Date(seconds * 1000);
    return d.getFullYear() + "-" + pad(d.getMonth() + 1) + "-" + pad(d.getDate()) + " " +
      pad(d.getHours()) + ":" + pad(d.getMinutes()) + ":" + pad(d.getSeconds());
  }
  function statusText(code) { return T.status[code] || String(code); }
  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined) e.textContent = text;
    return e;
  }

  // ---- the worker ----------------------------------------------------------
  // Started from the text of qk1WorkerMain (qk1-worker.js), so that the page
  // also works opened from a folder, where a worker script cannot be loaded
  // by its URL.
  function startWorker() {
    if (worker) worker.terminate();
    var url = URL.createObjectURL(new Blob(["(" + qk1WorkerMain.toString() + ")();"], { type: "text/javascript" }));
    worker = new Worker(url);
    URL.revokeObjectURL(url);
    worker.onmessage = function (e) { onWorker(e.data); };
    worker.onerror = function (e) { onWorker({ op: "failed", message: e.message || "worker error" }); };
  }

  function onWorker(m) {
    if (m.op === "opened") onOpened(m);
    else if (m.op === "password") onPassword(m);
    else if (m.op === "table") onTable(m);
    else if (m.op === "failed") onCrash(m);
    else if (jobs[m.id]) jobs[m.id](m);
    if (m.heap && state) state.heap = Math.max(state.heap || 0, m.heap);
  }

  function onCrash(m) {
    var job = jobs[m.id];
    showStatus("bad", fmt(T.failed, fmt(T.crashed, m.message)));
    if (job) job({ op: "done", status: -1, crashed: true });
    // The module cannot be trusted after an abort: start afresh.
    startWorker();
    if (state) {
      worker.postMessage({ op: "open", file: state.file });
      state.reopening = true;
    }
  }

  // Decodes and hands over the entries in `wanted` (null: only check).
  // onEntry(index, Uint8Array); onDone(status, firstNotHandedOut).
  function walk(wanted, total, label, onEntry, onDone) {
    var id = nextJob++;
    setBusy(true);
    showProgress(label, 0, total);
    jobs[id] = function (m) {
      if (m.op === "progress") showProgress(label, m.done, total);
      else if (m.op === "entry") onEntry(m.index, new Uint8Array(m.bytes));
      else if (m.op === "done") {
        delete jobs[id];
        hideProgress();
        // onDone may return a promise of work still to do (files being written).
        Promise.resolve(onDone(m.status, m.entry)).then(function () {
          if (Object.keys(jobs).length === 0) setBusy(false);
        });
      }
    };
    state.job = id;
    worker.postMessage({ op: "walk", id: id, wanted: wanted, total: total });
  }

  // Whether the page waits for the worker (data-busy on <body>, for tests
  // and for the cursor).
  function setBusy(on) {
    if (on) document.body.dataset.busy = "1";
    else delete document.body.dataset.busy;
  }

  // ---- progress and status -------------------------------------------------
  function showProgress(label, done, total) {
    $("progress-box").hidden = false;
    $("progress").value = total > 0 ? done / total : 0;
    $("progress-text").textContent = fmt(label, grouped(done), grouped(total));
  }
  function hideProgress() { $("progress-box").hidden = true; }

  function showStatus(kind, text, detail) {
    var s = $("status");
    s.className = "status " + (kind || "");
    s.textContent = text || "";
    if (detail) s.appendChild(el("span", "detail", detail));
  }

  $("cancel").onclick = function () {
    // A walk cannot be interrupted inside the module: the worker is replaced
    // and the archive opened again.
    var id = state && state.job;
    var job = jobs[id];
    jobs = {};
    hideProgress();
    if (job) job({ op: "done", status: 9, cancelled: true });
    startWorker();
    state.reopening = true;
    worker.postMessage({ op: "open", file: state.file });
  };

  // ---- opening -------------------------------------------------------------
  function openFile(file) {
    if (!file) return;
    startWorker();
    jobs = {};
    state = { file: file, entries: null, failedFrom: Infinity, heap: 0 };
    $("drop").classList.add("compact");
    $("archive").hidden = false;
    $("listing").hidden = true;
    $("password-form").hidden = true;
    $("facts").textContent = "";
    hideProgress();
    showStatus("", T.reading);
    setBusy(true);
    worker.postMessage({ op: "open", file: file });
  }

  function fact(dl, name, value, id) {
    dl.appendChild(el("dt", "", name));
    var dd = el("dd", "", value);
    if (id) dd.id = id;
    dl.appendChild(dd);
  }

  function onOpened(m) {
    if (state.reopening) {
      if (!m.header || !m.header.passwordSet) return;
      // Give the password again; the table follows.
      worker.postMessage({ op: "password", text: state.password });
      return;
    }
    var dl = $("facts");
    dl.textContent = "";
    fact(dl, T.file, state.file.name);
    fact(dl, T.archiveSize, human(state.file.size) + " (" + grouped(state.file.size) + ")");
    if (m.status !== 0) {
      showStatus("bad", fmt(T.failed, statusText(m.status)));
      setBusy(false);
      return;
    }
    var h = m.header;
    state.header = h;
    fact(dl, T.entries, grouped(h.entryCount), "fact-entries");
    fact(dl, T.totalSize, "—", "fact-total");
    fact(dl, T.model, h.largeModel ? T.large : T.small, "fact-model");
    fact(dl, T.insertion, h.insertInner ? T.inner : T.runStarts, "fact-insertion");
    fact(dl, T.password, h.passwordSet ? T.yes : T.no, "fact-password");
    fact(dl, T.selfExtracting, h.offset > 0 ? fmt(T.archiveAt, grouped(h.offset)) : T.no, "fact-sfx");
    if (h.passwordSet) {
      showStatus("", "");
      $("password-form").hidden = false;
      $("password-error").hidden = true;
      $("password").value = "";
      $("password").focus();
      setBusy(false);
    }
  }

  $("password-form").onsubmit = function (e) {
    e.preventDefault();
    state.password = $("password").value;
    $("unlock").disabled = true;
    setBusy(true);
    worker.postMessage({ op: "password", text: state.password });
  };

  function onPassword(m) {
    $("unlock").disabled = false;
    if (m.ok) {
      $("password-form").hidden = true;
      return;
    }
    setBusy(false);
    var err = $("password-error");
    err.hidden = false;
    err.textContent = m.unencodable ? T.unencodable : T.wrongPassword;
    $("password").select();
  }

  function onTable(m) {
    if (state.reopening) {
      state.reopening = false;
      return;
    }
    if (m.status !== 0) {
      showStatus("bad", fmt(T.failed, statusText(m.status)));
      setBusy(false);
      return;
    }
    state.entries = m.entries;
    state.batches = m.batches;
    state.total = m.entries.reduce(function (a, e) { return a + e.size; }, 0);
    $("fact-total").textContent = human(state.total) + " (" + grouped(state.total) + ")";
    $("listing").hidden = false;
    render();
    check();
  }

  // [first, count] of the batch that holds entry i.
  function batchOf(i) {
    var found = [i, 1];
    (state.batches || []).forEach(function (b) {
      var first = b.first !== undefined ? b.first : b[0], count = b.count !== undefined ? b.count : b[1];
      if (i >= first && i < first + count) found = [first, count];
    });
    return found;
  }

  // The entries of the batch that holds entry i, as `qk t` names them.
  function batchNames(i) {
    var b = batchOf(i), named = [];
    for (var k = 0; k < b[1] && k < 5; k++) named.push(state.entries[b[0] + k].shown);
    var text = fmt(b[1] === 1 ? T.entryNames : T.entriesNames, named.join(", "));
    if (b[1] > 5) text += fmt(T.andMore, grouped(b[1] - 5));
    return text;
  }

  // Decodes everything without saving, and says what `qk t` would say.
  function check() {
    var entries = state.entries;
    walk(null, state.total, T.checkingProgress, function () {}, function (status, next) {
      if (status === 9) {
        showStatus("", T.cancelled);
        return;
      }
      if (status === 13) {
        // Cut short: the whole batch before `next` came from bytes the file
        // does not hold.
        state.failedFrom = batchOf(next - 1)[0];
        showStatus("bad", fmt(T.failed, batchNames(next - 1) + ": " + statusText(status)));
        render();
        return;
      }
      if (status !== 0) {
        state.failedFrom = next;
        var where = next < entries.length ? fmt(T.entryPrefix, entries[next].shown) : "";
        showStatus("bad", fmt(T.failed, where + statusText(status)));
        render();
        return;
      }
      if (state.header.dataSize !== state.total) {
        showStatus("bad", fmt(T.failed, fmt(T.sizeMismatch, grouped(state.header.dataSize), grouped(state.total))));
        return;
      }
      showStatus("ok", fmt(T.ok, grouped(entries.length), filesWord(entries.length), grouped(state.total)));
    });
  }

  // ---- the listing ---------------------------------------------------------
  function savable(e) { return !e.refused && e.index < state.failedFrom; }

  // Folders from the kept components of every name that may be saved.
  function buildTree() {
    var root = { name: "", folders: new Map(), files: [], count: 0, size: 0 };
    state.entries.forEach(function (e) {
      if (e.refused) return;
      var node = root;
      node.count++;
      node.size += e.size;
      for (var i = 0; i < e.path.length - 1; i++) {
        var name = e.path[i];
        if (!node.folders.has(name)) node.folders.set(name, { name: name, folders: new Map(), files: [], count: 0, size: 0, key: (node.key ? node.key + "/" : "") + name });
        node = node.folders.get(name);
        node.count++;
        node.size += e.size;
      }
      node.files.push(e);
    });
    return root;
  }

  function entryRow(e, depth, label) {
    var tr = el("tr", "file");
    tr.dataset.index = e.index;
    var name = el("td", "name");
    name.style.paddingLeft = 8 + depth * 20 + "px";
    name.appendChild(el("span", "twisty", ""));
    name.appendChild(el("span", "icon", "▫"));
    name.appendChild(document.createTextNode(label));
    if (e.refused) name.appendChild(el("span", "tag bad", T.refused[e.refused] || e.refused));
    else if (e.index >= state.failedFrom) name.appendChild(el("span", "tag bad", T.damaged));
    tr.appendChild(name);
    tr.appendChild(el("td", "size", grouped(e.size)));
    tr.appendChild(el("td", "date", dateText(e.time)));
    var act = el("td", "act");
    if (savable(e)) {
      var b = el("button", "button small", T.save);
      b.type = "button";
      b.onclick = function () { saveOne(e); };
      act.appendChild(b);
    }
    tr.appendChild(act);
    return tr;
  }

  function folderRow(node, depth, open, toggle) {
    var tr = el("tr", "folder");
    var name = el("td", "name");
    name.style.paddingLeft = 8 + depth * 20 + "px";
    name.appendChild(el("span", "twisty", open ? "▾" : "▸"));
    name.appendChild(el("span", "icon", "▪"));
    name.appendChild(document.createTextNode(node.name + "/"));
    tr.appendChild(name);
    tr.appendChild(el("td", "size", grouped(node.size)));
    tr.appendChild(el("td", "date muted", fmt(T.folderFiles, grouped(node.count), filesWord(node.count))));
    tr.appendChild(el("td", "act"));
    name.onclick = toggle;
    return tr;
  }

  var LIMIT = 1000;

  function render() {
    var rows = $("rows");
    rows.textContent = "";
    var empty = $("empty");
    empty.hidden = true;
    var entries = state.entries;
    var anySavable = entries.some(savable);
    $("save-all").disabled = $("save-zip").disabled = !anySavable;
    if (entries.length === 0) {
      empty.hidden = false;
      empty.textContent = T.emptyArchive;
      return;
    }
    var filter = $("filter").value.trim().toLowerCase();
    if (filter) {
      var hits = entries.filter(function (e) { return e.shown.toLowerCase().indexOf(filter) >= 0; });
      hits.slice(0, LIMIT).forEach(function (e) { rows.appendChild(entryRow(e, 0, e.shown)); });
      if (hits.length === 0) {
        empty.hidden = false;
        empty.textContent = fmt(T.noMatch, $("filter").value.trim());
      } else if (hits.length > LIMIT) {
        empty.hidden = false;
        empty.textContent = fmt(T.moreMatches, grouped(hits.length - LIMIT));
      }
      return;
    }
    if (!state.tree) state.tree = buildTree();
    if (!state.open) state.open = new Set();
    var expandAll = entries.length <= 200;
    var count = 0;
    var addNode = function (node, depth, parent) {
      var sorted = Array.from(node.folders.values()).sort(function (a, b) { return a.name < b.name ? -1 : a.name > b.name ? 1 : 0; });
      sorted.forEach(function (f) {
        var open = expandAll ? !state.open.has("-" + f.key) : state.open.has("+" + f.key);
        var tr = folderRow(f, depth, open, function () {
          var key = (expandAll ? "-" : "+") + f.key;
          if (state.open.has(key)) state.open.delete(key); else state.open.add(key);
          render();
        });
        parent.appendChild(tr);
        if (open) addNode(f, depth + 1, parent);
      });
      node.files.forEach(function (e) {
        if (count++ < 20000) parent.appendChild(entryRow(e, depth, e.path[e.path.length - 1]));
      });
    };
    var fragment = document.createDocumentFragment();
    addNode(state.tree, 0, fragment);
    var refused = entries.filter(function (e) { return e.refused; });
    if (refused.length) {
      var g = el("tr", "group");
      var td = el("td", "", T.refusedGroup);
      td.colSpan = 4;
      g.appendChild(td);
      fragment.appendChild(g);
      refused.forEach(function (e) { fragment.appendChild(entryRow(e, 0, e.shown)); });
    }
    rows.appendChild(fragment);
  }

  $("filter").oninput = function () { render(); };

  // ---- saving --------------------------------------------------------------
  function download(blob, name) {
    var a = document.createElement("a");
    a.href = URL.createObjectURL(blob);
    a.download = name;
    document.body.appendChild(a);
    a.click();
    a.remove();
    setTimeout(function () { URL.revokeObjectURL(a.href); }, 60000);
  }

  function busy(on) {
    $("save-all").disabled = $("save-zip").disabled = on || !state.entries.some(savable);
    Array.prototype.forEach.call(document.querySelectorAll("#rows button"), function (b) { b.disabled = on; });
  }

  function saveOne(e) {
    busy(true);
    var got = null;
    walk([e.index], e.size, T.saving, function (i, bytes) { got = bytes; }, function (status) {
      busy(false);
      if (status !== 0 || !got) {
        showStatus("bad", fmt(T.notSaved, e.shown, statusText(status)));
        return;
      }
      download(new Blob([got]), e.path[e.path.length - 1]);
      showStatus("ok", fmt(T.savedOne, e.shown));
    });
  }

  // The entries a "save all" writes: savable ones, and of a name given twice
  // only the later entry (it would win on disk anyway).
  function toSave() {
    var last = new Map();
    state.entries.forEach(function (e) { if (savable(e)) last.set(e.path.join("/"), e.index); });
    return Array.from(last.values()).sort(function (a, b) { return a - b; });
  }

  function finishAll(status, saved, failures, message) {
    busy(false);
    var skipped = state.entries.filter(function (e) { return !savable(e); }).length;
    var detail = [];
    if (skipped) detail.push(fmt(T.skipped, grouped(skipped), filesWord(skipped)));
    failures.slice(0, 5).forEach(function (f) { detail.push(fmt(T.notSaved, f[0], f[1])); });
    if (status === 9) showStatus("", T.cancelled, detail.join(" "));
    else if (status !== 0) showStatus("bad", fmt(T.failed, statusText(status)), detail.join(" "));
    else showStatus(failures.length ? "bad" : "ok", message, detail.join(" "));
  }

  $("save-zip").onclick = function () {
    var wanted = toSave();
    var total = wanted.reduce(function (a, i) { return a + state.entries[i].size; }, 0);
    var zip = new Qk1Zip.Writer();
    busy(true);
    walk(wanted, total, T.saving, function (i, bytes) {
      var e = state.entries[i];
      zip.add(e.path.join("/"), bytes, e.time);
    }, function (status) {
      var name = state.file.name.replace(/\.[^.]*$/, "") + ".zip";
      if (status === 0) download(zip.finish(), name);
      finishAll(status, zip.count, [], fmt(T.savedZip, grouped(zip.count), filesWord(zip.count), name));
    });
  };

  $("save-all").onclick = async function () {
    var root;
    try {
      root = await window.showDirectoryPicker({ mode: "readwrite", id: "qk1-save" });
    } catch (err) {
      return;  // the user closed the picker
    }
    var wanted = toSave();
    var total = wanted.reduce(function (a, i) { return a + state.entries[i].size; }, 0);
    var folders = new Map();
    var failures = [];
    var saved = 0;
    var chain = Promise.resolve();
    function folder(parts) {
      var key = parts.join("/");
      if (!folders.has(key)) {
        folders.set(key, parts.length === 0 ? Promise.resolve(root)
          : folder(parts.slice(0, -1)).then(function (parent) { return parent.getDirectoryHandle(parts[parts.length - 1], { create: true }); }));
      }
      return folders.get(key);
    }
    busy(true);
    walk(wanted, total, T.saving, function (i, bytes) {
      var e = state.entries[i];
      // Writes go one after another; each name's components are single
      // folder or file names, so nothing lands outside `root`.
      chain = chain.then(async function () {
        try {
          var dir = await folder(e.path.slice(0, -1));
          var handle = await dir.getFileHandle(e.path[e.path.length - 1], { create: true });
          var out = await handle.createWritable();
          await out.write(bytes);
          await out.close();
          saved++;
        } catch (err) {
          failures.push([e.shown, err && err.message || String(err)]);
        }
      });
    }, function (status) {
      return chain.then(function () {
        finishAll(status, saved, failures, fmt(T.savedFolder, grouped(saved), filesWord(saved), root.name));
      });
    });
  };

  // ---- picking and dropping ------------------------------------------------
  function picked(input) {
    input.onchange = function () {
      openFile(input.files[0]);
      input.value = "";
    };
  }
  picked($("file"));
  picked($("file2"));
  var drop = $("drop");
  ["dragenter", "dragover"].forEach(function (t) {
    document.addEventListener(t, function (e) { e.preventDefault(); drop.classList.add("over"); });
  });
  ["dragleave", "drop"].forEach(function (t) {
    document.addEventListener(t, function (e) { e.preventDefault(); if (t === "drop" || e.target === drop) drop.classList.remove("over"); });
  });
  document.addEventListener("drop", function (e) {
    var f = e.dataTransfer && e.dataTransfer.files && e.dataTransfer.files[0];
    if (f) openFile(f);
  });
  drop.addEventListener("keydown", function (e) {
    if (e.key === "Enter" || e.key === " ") { e.preventDefault(); $("file").click(); }
  });

  // For tests and the curious: the state of the page.
  window.qk1Page = { state: function () { return state; } };
})();
