// Browser tests of the web page: headless Chromium (Debian's) driven by
// playwright-core, the page served from build-web/page on a loopback port.
//
// Environment (run.sh sets them):
//   QK_WEB_PAGE        the built page (build-web/page)
//   QK_VECTORS_DIR     reference archives, NAME.qk1 with NAME.expect.json
//   QK_TOOL            the qk program, whose `qk t` texts the page must match
//   QK_MAKE_ARCHIVE    writes archives with names given as hex bytes
//   QK_WEB_SCREENSHOT  where the screenshot of the sample goes
//   QK_WEB_BIG_MB      size of the large archive (default 100)
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { createServer } from "node:http";
import { createHash } from "node:crypto";
import { execFileSync } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import { chromium } from "playwright-core";

const here = path.dirname(new URL(import.meta.url).pathname);
const repo = path.resolve(here, "../..");
const pageDir = process.env.QK_WEB_PAGE || path.join(repo, "build-web/page");
const vectorsDir = process.env.QK_VECTORS_DIR || path.join(repo, "tests/data/vectors");
const qk = process.env.QK_TOOL || path.join(repo, "build/programs/qk");
const makeArchive = process.env.QK_MAKE_ARCHIVE;
const screenshot = process.env.QK_WEB_SCREENSHOT || path.join(repo, "build-web/web.png");
const bigMiB = Number(process.env.QK_WEB_BIG_MB || 100);
const sample = path.join(repo, "samples/sample.qk1");
const work = fs.mkdtempSync(path.join(os.tmpdir(), "qk1-web-"));

const sha256 = (b) => createHash("sha256").update(b).digest("hex");

// ---- a static server and the browser ---------------------------------------
const TYPES = { ".html": "text/html; charset=utf-8", ".js": "text/javascript", ".css": "text/css" };
let server, base, browser;

function launch(locale) {
  return chromium.launchPersistentContext(fs.mkdtempSync(path.join(work, "profile-")), {
    executablePath: "/usr/bin/chromium",
    headless: true,
    chromiumSandbox: false,
    acceptDownloads: true,
    locale,
    viewport: { width: 1100, height: 760 },
    args: ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
      "--disable-background-networking", "--disable-component-update", "--disable-sync",
      "--enable-precise-memory-info"],
  });
}

before(async () => {
  server = createServer((req, res) => {
    const file = path.join(pageDir, decodeURIComponent(new URL(req.url, "http://x").pathname).replace(/\/$/, "/index.html"));
    if (!file.startsWith(pageDir) || !fs.existsSync(file)) {
      res.writeHead(404).end();
      return;
    }
    res.writeHead(200, { "content-type": TYPES[path.extname(file)] || "application/octet-stream" });
    fs.createReadStream(file).pipe(res);
  });
  await new Promise((r) => server.listen(0, "127.0.0.1", r));
  base = `http://127.0.0.1:${server.address().port}/`;
  browser = await launch("en-US");
  // Nothing but the page's own server may be reached.
  await browser.route(/^(?!http:\/\/127\.0\.0\.1|file:|blob:|data:)/, (route) => route.abort());
});

after(async () => {
  await browser?.close();
  server?.close();
  fs.rmSync(work, { recursive: true, force: true });
});

// ---- driving the page -------------------------------------------------------
async function newPage(context = browser, url = base) {
  const page = await context.newPage();
  const errors = [];
  page.on("pageerror", (e) => errors.push(String(e)));
  page.on("console", (m) => { if (m.type() === "error") errors.push(m.text()); });
  page.errors = errors;
  await page.goto(url);
  return page;
}

// Opens an archive and waits for its check to end (or for the password form).
async function open(page, file, password) {
  const input = (await page.locator("#file").isVisible()) || !(await page.locator("#archive").isVisible()) ? "#file" : "#file2";
  await page.setInputFiles(input, file);
  await settle(page);
  if (password !== undefined) {
    await page.fill("#password", password);
    await page.click("#unlock");
    await settle(page);
  }
}

async function settle(page, timeout = 20000) {
  await page.waitForFunction(() => !document.body.dataset.busy, null, { timeout }).catch(async (e) => {
    throw new Error(`${e.message}; status "${await page.locator("#status").textContent()}", ` +
      `progress ${await page.locator("#progress-box").isVisible()}, errors ${page.errors}`);
  });
}

const status = (page) => page.locator("#status").evaluate((e) => e.firstChild ? e.firstChild.textContent : "");
const entries = (page) => page.evaluate(() => window.qk1Page.state().entries);

// Saves all as .zip and returns the zip's files by name.
async function saveZip(page) {
  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#save-zip")]);
  const file = path.join(work, "dl-" + Math.random().toString(36).slice(2) + ".zip");
  await download.saveAs(file);
  await settle(page);
  const files = readZip(fs.readFileSync(file));
  fs.rmSync(file);
  return files;
}

async function saveRow(page, index) {
  const [download] = await Promise.all([
    page.waitForEvent("download"),
    page.click(`tr[data-index="${index}"] button`),
  ]);
  const file = path.join(work, "one-" + index);
  await download.saveAs(file);
  const bytes = fs.readFileSync(file);
  fs.rmSync(file);
  return { name: download.suggestedFilename(), bytes };
}

// A reader of stored ZIP files, checking what the page's writer promises:
// UTF-8 flag, stored method, CRC-32, sizes, local and central records agree.
const CRC = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});
function crc32(b) {
  let c = 0xffffffff;
  for (let i = 0; i < b.length; i++) c = CRC[(c ^ b[i]) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}
function readZip(buf) {
  const end = buf.lastIndexOf(Buffer.from([0x50, 0x4b, 0x05, 0x06]));
  assert.ok(end >= 0, "end of central directory");
  const count = buf.readUInt16LE(end + 10);
  let at = buf.readUInt32LE(end + 16);
  const files = new Map();
  for (let i = 0; i < count; i++) {
    assert.equal(buf.readUInt32LE(at), 0x02014b50);
    const flags = buf.readUInt16LE(at + 8);
    const crc = buf.readUInt32LE(at + 16);
    const size = buf.readUInt32LE(at + 24);
    const nameLen = buf.readUInt16LE(at + 28);
    const extraLen = buf.readUInt16LE(at + 30);
    const local = buf.readUInt32LE(at + 42);
    const name = buf.subarray(at + 46, at + 46 + nameLen).toString("utf8");
    assert.equal(flags & 0x0800, 0x0800, "UTF-8 flag");
    assert.equal(buf.readUInt16LE(at + 10), 0, "stored");
    assert.equal(buf.readUInt32LE(local), 0x04034b50);
    assert.equal(buf.readUInt32LE(local + 14), crc);
    const dataAt = local + 30 + buf.readUInt16LE(local + 26) + buf.readUInt16LE(local + 28);
    const bytes = buf.subarray(dataAt, dataAt + size);
    assert.equal(crc32(bytes), crc, `CRC of ${name}`);
    const extra = buf.subarray(at + 46 + nameLen, at + 46 + nameLen + extraLen);
    const time = extra.readUInt16LE(0) === 0x5455 ? extra.readUInt32LE(5) : null;
    files.set(name, { bytes, time });
    at += 46 + nameLen + extraLen + buf.readUInt16LE(at + 32);
  }
  return files;
}

// What `qk t` says of one archive, without the "PATH: " in front.
function qkTest(file) {
  let out;
  try {
    out = execFileSync(qk, ["t", file], { encoding: "utf8", env: { ...process.env, LC_ALL: "C.UTF-8" } });
  } catch (e) {
    out = e.stdout;
  }
  return out.trim().slice(file.length + 2);
}

// ---- the cases ---------------------------------------------------------------

test("the sample: facts, Japanese names in folders, status, screenshot", async () => {
  const page = await newPage();
  assert.equal(await page.locator("#empty").isVisible(), false);
  await open(page, sample);
  assert.equal(await status(page), "OK (6 files, 5,983 bytes)");
  assert.equal(await page.locator("#fact-entries").textContent(), "6");
  assert.equal(await page.locator("#fact-model").textContent(), "small");
  assert.equal(await page.locator("#fact-password").textContent(), "no");
  const rows = await page.locator("#rows tr").allTextContents();
  assert.ok(rows.some((r) => r.includes("はじめに.txt")), rows.join("\n"));
  assert.ok(rows.some((r) => r.includes("文書/")));
  assert.ok(rows.some((r) => r.includes("2024年度.txt") && r.includes("1,999") && r.includes("2024-")));
  // The filter narrows to matching paths; no match says so.
  await page.fill("#filter", "議事録");
  const hits = await page.locator("#rows tr").allTextContents();
  assert.ok(hits.length >= 1 && hits.every((r) => r.includes("議事録")), hits.join("\n"));
  await page.fill("#filter", "nothing-like-this");
  assert.equal(await page.locator("#rows tr").count(), 0);
  assert.match(await page.locator("#empty").textContent(), /No entry matches/);
  await page.fill("#filter", "");
  fs.mkdirSync(path.dirname(screenshot), { recursive: true });
  await page.screenshot({ path: screenshot, fullPage: true });
  assert.deepEqual(page.errors, []);
  await page.close();
});

// Every reference archive: listing, check, every entry that decodes.
const vectors = fs.existsSync(vectorsDir)
  ? fs.readdirSync(vectorsDir).filter((f) => f.endsWith(".qk1")).sort()
  : [];
test("reference archives", { skip: vectors.length ? false : `no archives in ${vectorsDir}` }, async (t) => {
  const page = await newPage();
  for (const file of vectors) {
    await t.test(file, async () => {
      const expect = JSON.parse(fs.readFileSync(path.join(vectorsDir, file.replace(/\.qk1$/, ".expect.json")), "utf8"));
      const password = expect.password_hex
        ? new TextDecoder("shift_jis").decode(Buffer.from(expect.password_hex, "hex"))
        : undefined;
      await open(page, path.join(vectorsDir, file), password);
      const text = await status(page);
      if (expect.outcome === "not_archive") return assert.equal(text, "FAILED: not a qk1 archive");
      if (expect.outcome === "read_failure") return assert.match(text, /^FAILED: cannot read the file/);
      const list = await entries(page);
      assert.deepEqual(
        list.map((e) => ({ name_hex: e.nameHex, time: e.time, size: e.size })),
        expect.table_entries.map((e) => ({ name_hex: e.name_hex, time: e.time, size: e.size })));
      assert.equal(await page.locator("#fact-model").textContent(), expect.header.large_model ? "large" : "small");
      assert.equal(await page.locator("#fact-insertion").textContent(), expect.header.insert_inner ? "inner positions too" : "run starts only");
      assert.equal(await page.locator("#fact-password").textContent(), expect.header.password_set ? "yes" : "no");
      assert.equal(await page.locator("#fact-sfx").textContent() !== "no", expect.header.offset > 0);
      if (expect.outcome === "ok") assert.match(text, /^OK \(/);
      else assert.match(text, /^FAILED: entry .*: damaged data/);
      // The .zip holds exactly the entries that decoded, byte for byte.
      const zip = await saveZip(page);
      const byPath = new Map(list.map((e) => [e.path.join("/"), e]));
      const got = [...zip].map(([name, f]) => ({ name_hex: byPath.get(name).nameHex, sha256: sha256(f.bytes), time: f.time }));
      const want = expect.entries_decoded.map((e) => ({ name_hex: e.name_hex, sha256: e.sha256, time: e.time }));
      assert.deepEqual(got, want);
      // And one entry saved on its own.
      if (expect.entries_decoded.length) {
        const last = expect.entries_decoded.length - 1;
        const one = await saveRow(page, last);
        assert.equal(sha256(one.bytes), expect.entries_decoded[last].sha256);
      }
    });
  }
  assert.deepEqual(page.errors, []);
  await page.close();
});

test("passwords: wrong, not Shift-JIS, right", async () => {
  const file = path.join(vectorsDir, "password_sjis.qk1");
  if (!fs.existsSync(file)) return;
  const page = await newPage();
  await open(page, file, "wrong");
  assert.equal(await page.locator("#password-error").textContent(), "Wrong password. Try again.");
  assert.equal(await page.locator("#listing").isVisible(), false);
  await page.fill("#password", "パス😀");
  await page.click("#unlock");
  await settle(page);
  assert.equal(await page.locator("#password-error").textContent(), "This password has characters that Shift-JIS cannot hold.");
  const expect = JSON.parse(fs.readFileSync(file.replace(/\.qk1$/, ".expect.json"), "utf8"));
  await page.fill("#password", new TextDecoder("shift_jis").decode(Buffer.from(expect.password_hex, "hex")));
  await page.click("#unlock");
  await settle(page);
  assert.match(await status(page), /^OK \(/);
  assert.equal(await page.locator("#password-form").isVisible(), false);
  await page.close();
});

// Damaged and cut-short archives read as `qk t` reads them.
test("damaged archives say what qk t says", async (t) => {
  const bytes = fs.readFileSync(sample);
  const flipped = Buffer.from(bytes);
  for (let i = 200; i < 260; i++) flipped[i] ^= 0x5a;
  const cases = [
    ["cut to 10 bytes", bytes.subarray(0, 10)],
    ["cut to the header", bytes.subarray(0, 20)],
    ["cut inside the table", bytes.subarray(0, 90)],
    ["cut in half", bytes.subarray(0, bytes.length >> 1)],
    ["one byte short", bytes.subarray(0, bytes.length - 1)],
    ["bytes changed in the data", flipped],
    ["not an archive", fs.readFileSync(path.join(repo, "README.md"))],
    ["empty file", Buffer.alloc(0)],
  ];
  if (fs.existsSync(path.join(vectorsDir, "damaged_overrun.qk1"))) {
    cases.push(["damaged reference archive", fs.readFileSync(path.join(vectorsDir, "damaged_overrun.qk1"))]);
  }
  const page = await newPage();
  for (const [name, content] of cases) {
    await t.test(name, async () => {
      const file = path.join(work, name.replace(/ /g, "-") + ".qk1");
      fs.writeFileSync(file, content);
      await open(page, file);
      assert.equal(await status(page), qkTest(file));
    });
  }
  await page.close();
});

test("names that would leave the folder are refused, never saved", async () => {
  assert.ok(makeArchive, "QK_MAKE_ARCHIVE");
  const hex = (s) => Buffer.from(s, "latin1").toString("hex");
  const names = [
    ["..\\evil.txt", "dotdot"],
    ["\\abs.txt", "absolute"],
    ["\\\\server\\share\\unc.txt", "absolute"],
    ["/etc/passwd", "absolute"],
    ["C:\\drive.txt", "drive"],
    ["a\\..\\..\\up.txt", "dotdot"],
    ["\x95\\\\..\\sjis.txt", "dotdot"],  // 表 then a separator
    ["\x95\\..\\kept.txt", ""],            // 表.. is one component
    [".\\dot\\kept2.txt", ""],
    ["ok.txt", ""],
  ];
  const file = path.join(work, "hostile.qk1");
  execFileSync(makeArchive, [file, ...names.map(([n], i) => `${hex(n)}=content ${i}`)]);
  const page = await newPage();
  await open(page, file);
  const list = await entries(page);
  assert.deepEqual(list.map((e) => e.refused), names.map(([, r]) => r));
  const refusedRows = await page.locator("#rows tr .tag.bad").allTextContents();
  assert.equal(refusedRows.length, 7);
  assert.equal(await page.locator("#rows tr:has(.tag.bad) button").count(), 0);
  const zip = await saveZip(page);
  assert.deepEqual([...zip.keys()].sort(), ["dot/kept2.txt", "ok.txt", "表../kept.txt"]);
  assert.match(await page.locator("#status .detail").textContent(), /7 files with refused names/);

  // Into a folder: the picker hands out a folder of the origin's private
  // file system, and nothing may appear beside it.
  await page.evaluate(async () => {
    const root = await navigator.storage.getDirectory();
    const chosen = await root.getDirectoryHandle("chosen", { create: true });
    window.showDirectoryPicker = async () => chosen;
  });
  await page.evaluate(() => document.getElementById("save-all").hidden = false);
  await page.click("#save-all");
  await settle(page);
  await page.waitForFunction(() => /Saved/.test(document.getElementById("status").textContent));
  const tree = await page.evaluate(async () => {
    const out = [];
    async function walk(dir, prefix) {
      for await (const [name, h] of dir.entries()) {
        if (h.kind === "directory") await walk(h, prefix + name + "/");
        else out.push(prefix + name + "=" + await (await h.getFile()).text());
      }
    }
    await walk(await navigator.storage.getDirectory(), "");
    return out.sort();
  });
  assert.deepEqual(tree, ["chosen/dot/kept2.txt=content 8", "chosen/ok.txt=content 9", "chosen/表../kept.txt=content 7"]);
  await page.close();
});

test("opened from a folder (file://) and in Japanese", async () => {
  const ja = await launch("ja-JP");
  try {
    const page = await newPage(ja, "file://" + path.join(pageDir, "index.html"));
    assert.equal(await page.locator("h1").textContent(), "qk1 書庫ビューア");
    await open(page, sample);
    assert.equal(await status(page), "正常（6 ファイル、5,983 バイト）");
    assert.equal(await page.locator("#th-name").textContent(), "名前");
    assert.deepEqual(page.errors, []);
  } finally {
    await ja.close();
  }
});

test(`a ${bigMiB} MiB archive: progress, memory, every byte`, async () => {
  const src = path.join(work, "big");
  fs.mkdirSync(src);
  // Text-like data: words from a small vocabulary, each with a random suffix.
  const words = Array.from({ length: 4096 }, (_, i) => (i * 2654435761 >>> 0).toString(36));
  let seed = 12345;
  const files = 10;
  const hashes = new Map();
  for (let f = 0; f < files; f++) {
    const size = (bigMiB << 20) / files;
    const buf = Buffer.alloc(size);
    let at = 0;
    while (at < size) {
      seed = (seed * 1103515245 + 12345) >>> 0;
      at += buf.write(words[seed >>> 20] + ((seed >>> 4) & 255).toString(16) + (seed & 7 ? " " : "\n"), at);
    }
    const name = `part${f}.txt`;
    fs.writeFileSync(path.join(src, name), buf);
    hashes.set(name, sha256(buf));
  }
  const archive = path.join(work, "big.qk1");
  execFileSync(qk, ["a", "-q", "--level", "1", archive, "-C", src, ...hashes.keys()]);
  fs.rmSync(src, { recursive: true });
  const archiveSize = fs.statSync(archive).size;

  const page = await newPage();
  // What the progress bar shows, at every change of its text (a timer that
  // looks now and then can miss a quick run altogether).
  await page.evaluate(() => {
    window.seenProgress = [];
    new MutationObserver(() => {
      seenProgress.push(document.getElementById("progress").value);
    }).observe(document.getElementById("progress-text"), { childList: true, characterData: true, subtree: true });
  });
  await page.setInputFiles("#file", archive);
  await settle(page, 120000);
  assert.equal(await status(page), `OK (10 files, ${(bigMiB << 20).toLocaleString("en-US")} bytes)`);
  const seen = await page.evaluate(() => window.seenProgress);
  assert.ok(seen.some((v) => v > 0 && v < 1), `the bar moved: ${seen.length} looks`);

  const [download] = await Promise.all([page.waitForEvent("download"), page.click("#save-zip")]);
  const zipFile = path.join(work, "big.zip");
  await download.saveAs(zipFile);
  await settle(page, 120000);
  const zip = readZip(fs.readFileSync(zipFile));
  assert.deepEqual(new Map([...zip].map(([n, f]) => [n, sha256(f.bytes)])), hashes);

  // The heap holds the archive and one batch; the page's JavaScript heap
  // stays within a small multiple of the decoded size.
  const heap = await page.evaluate(() => window.qk1Page.state().heap);
  const js = await page.evaluate(() => performance.memory.usedJSHeapSize);
  console.log(`archive ${archiveSize} bytes, wasm heap ${heap}, page JS heap ${js}`);
  assert.ok(heap <= archiveSize + (bigMiB << 20) / files + (48 << 20), `wasm heap ${heap}`);
  assert.ok(js <= 3 * (bigMiB << 20), `JS heap ${js}`);
  await page.close();
});
