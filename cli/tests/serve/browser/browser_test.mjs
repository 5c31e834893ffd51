// The page of `zembra serve` in a real browser: Debian's chromium, headless, driven by
// playwright-core. Starts the server on a free loopback port, pastes zip codes, renders,
// clicks a marker and reads the answer, zooms in and clicks a marker again, checks errors
// shown beside the Render button, the keyboard path, downloads, a share link opened in a
// fresh browser context and a narrow (200% zoom) window, saves screenshots, and stops the
// server with SIGTERM.
//
//   node browser_test.mjs ZEMBRA_EXECUTABLE SCREENSHOT.png
import { spawn } from "node:child_process";
import assert from "node:assert/strict";
import { chromium } from "playwright-core";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { dirname, join } from "node:path";
import { fileURLToPath } from "node:url";

const [zembra, screenshot] = process.argv.slice(2);
if (!zembra || !screenshot) {
  console.error("usage: node browser_test.mjs ZEMBRA_EXECUTABLE SCREENSHOT.png");
  process.exit(2);
}
const chromiumPath = process.env.CHROMIUM || "/usr/bin/chromium";
const fixtures = join(dirname(fileURLToPath(import.meta.url)), "../../../../testsupport/fixtures");

// Nothing here may hang a test run.
const guard = setTimeout(() => {
  console.error("browser test: gave up after 180 s");
  process.exit(1);
}, 180_000);

const storeDir = mkdtempSync(join(tmpdir(), "zembra-browser-links-"));

function startServer() {
  const child = spawn(zembra, ["serve", "--port", "0", "--store", storeDir],
    { stdio: ["ignore", "pipe", "pipe"] });
  let log = "";
  child.stderr.on("data", (d) => { log += d; });
  const exited = new Promise((resolve) => child.on("exit", (code, signal) => resolve({ code, signal })));
  const url = new Promise((resolve, reject) => {
    let out = "";
    child.stdout.on("data", (d) => {
      out += d;
      const m = out.match(/listening on (http:\/\/127\.0\.0\.1:\d+\/)/);
      if (m) resolve(m[1]);
    });
    exited.then((e) => reject(new Error(`zembra serve ended (${JSON.stringify(e)}): ${log}`)));
  });
  return { child, url, exited, log: () => log };
}

// The point on screen of a picture pixel, for the picture as scaled in the page; the
// window scrolls to bring it into view.
async function screenPoint(page, x, y) {
  return page.$eval("#picture", (img, [px, py]) => {
    const point = () => {
      const box = img.getBoundingClientRect();
      return {
        x: box.left + ((px + 0.5) / Number(img.dataset.width)) * box.width,
        y: box.top + ((py + 0.5) / Number(img.dataset.height)) * box.height,
      };
    };
    const first = point();
    if (first.y < 0 || first.y >= window.innerHeight) {
      window.scrollBy({ top: first.y - window.innerHeight / 2, behavior: "instant" });
    }
    return point();
  }, [x, y]);
}

const server = startServer();
const base = await server.url;
console.log("browser test: server at", base);
const browser = await chromium.launch({
  executablePath: chromiumPath,
  headless: true,
  args: ["--no-sandbox", "--disable-dev-shm-usage"],
});
try {
  const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
  const foreign = [];
  page.on("request", (r) => {
    if (!r.url().startsWith(base) && !r.url().startsWith("blob:") && !r.url().startsWith("data:")) {
      foreign.push(r.url());
    }
  });
  const pageErrors = [];
  page.on("pageerror", (e) => pageErrors.push(String(e)));

  await page.goto(base);
  await page.waitForSelector("#maps input[value='usa']:checked", { state: "attached" });
  assert.equal(await page.locator("#maps input").count(), 3);
  assert.ok((await page.locator("#markers input").count()) >= 1);

  // The form's controls are made from the parameter table: one for each row the page has no
  // control of its own for, with the row's label, default and limits; the formats to
  // choose and to download are the format row's choices.
  const rows = (await (await page.request.get(base + "api/parameters")).json()).parameters;
  const own = ["map", "marker", "column", "sheet"];
  await page.waitForSelector("#parameter-format", { state: "attached" });
  for (const row of rows.filter((r) => !own.includes(r.name))) {
    const control = page.locator(`#parameter-${row.name}`);
    assert.equal(await control.count(), 1, `a control for "${row.name}"`);
    assert.equal(await page.locator(`label[for="parameter-${row.name}"]`).textContent(), row.label);
    if (row.type === "switch") assert.equal(await control.isChecked(), row.default, row.name);
    else assert.equal(await control.inputValue(), row.default, row.name);
    if (row.type === "count") assert.equal(await control.getAttribute("min"), String(row.minimum));
  }
  const format = rows.find((r) => r.name === "format");
  const values = format.choices.map((c) => c.value);
  assert.deepEqual(await page.$$eval("#parameter-format option", (os) => os.map((o) => o.value)), values);
  assert.deepEqual(await page.$$eval(".downloads button", (bs) => bs.map((b) => b.dataset.format)), values);
  assert.equal(await page.locator("label[for='csv-column']").textContent(),
    rows.find((r) => r.name === "column").label);

  // Render with no codes: the error shows beside the Render button, inside the window.
  await page.locator("#render").click();
  await page.waitForFunction(() => /Paste at least one zip code/.test(document.getElementById("render-error").textContent));
  const inView = await page.$eval("#render-error", (e) => {
    const box = e.getBoundingClientRect();
    return box.top >= 0 && box.bottom <= window.innerHeight && box.height > 0;
  });
  assert.ok(inView, "the error is in view");
  assert.equal(await page.locator("#render-error").getAttribute("role"), "alert");
  await page.screenshot({ path: screenshot.replace(/\.png$/, "-error.png") });

  // Paste codes and render with Ctrl+Enter from the text.
  await page.locator("#codes").focus();
  await page.keyboard.insertText("08873\n08232, 89301 00000");
  await page.keyboard.press("Control+Enter");
  await page.waitForFunction(() => /Placed 3 of 4/.test(document.getElementById("status").textContent));
  assert.equal(await page.locator("#render-error").textContent(), "");
  assert.equal(await page.evaluate(() => document.activeElement.id), "codes", "focus stays in the text");
  // The Render button keeps the focus after a render it started.
  await page.locator("#render").click();
  await page.waitForFunction(() => /Placed 3 of 4/.test(document.getElementById("render-status").textContent) &&
    !document.getElementById("result").classList.contains("stale"));
  assert.equal(await page.evaluate(() => document.activeElement.id), "render", "focus stays on Render");
  assert.match(await page.locator("#not-found").textContent(), /00000/);
  await page.waitForFunction(() => {
    const img = document.getElementById("picture");
    return img.complete && img.naturalWidth > 0;
  });
  const natural = await page.$eval("#picture", (img) => [img.naturalWidth, img.naturalHeight, img.clientWidth]);
  assert.ok(natural[2] <= 1280, "the picture is scaled to the window");

  // Click the marker of 89301 (Ely, Nevada: 39.531134, -114.767404) and read the answer.
  // A lone town: the picture is scaled, so a click lands a pixel or two off the centre.
  const usa = (await (await page.request.get(base + "api/maps")).json()).maps.find((m) => m.name === "usa");
  const b = usa.bounds;
  const pixel = [
    Math.floor(((-114.767404 - b.minLon) / (b.maxLon - b.minLon)) * usa.width),
    Math.floor(((b.maxLat - 39.531134) / (b.maxLat - b.minLat)) * usa.height),
  ];
  const at = await screenPoint(page, ...pixel);
  await page.mouse.click(at.x, at.y);
  await page.waitForFunction(() => /89301|No zip|failed/.test(document.getElementById("answer").textContent));
  const answer = await page.locator("#answer").textContent();
  assert.match(answer, /^89301 Ely, NV — 39\.\d+, -114\.\d+ \(the marker under the pointer\)$/);
  console.log("browser test: answer:", answer);
  await page.screenshot({ path: screenshot, fullPage: true });

  // The keyboard alone: focus the picture, move the cursor, look up with Enter.
  await page.locator("#picture").focus();
  await page.keyboard.press("ArrowRight");
  await page.keyboard.press("Enter");
  await page.waitForFunction((previous) => {
    const text = document.getElementById("answer").textContent;
    return text !== previous && !/Looking up/.test(text);
  }, answer);
  assert.doesNotMatch(await page.locator("#answer").textContent(), /failed/);

  // Zoom in twice (2x the fitted size) and click the 08873 marker, a few pixels from other
  // codes of the table: the answer is that marker's code.
  await page.locator("#zoom-in").click();
  await page.locator("#zoom-in").click();
  const sizes = await page.evaluate(() => [document.getElementById("stage").clientWidth,
    document.getElementById("viewport").clientWidth, document.getElementById("zoom-level").textContent]);
  assert.ok(Math.abs(sizes[0] - 2 * sizes[1]) <= 2, `2x zoom: ${sizes}`);
  const nj = [
    Math.round(((-74.52128 - b.minLon) / (b.maxLon - b.minLon)) * usa.width),
    Math.round(((b.maxLat - 40.507194) / (b.maxLat - b.minLat)) * usa.height),
  ];
  // Bring the marker into the frame, then click it.
  await page.evaluate(([px, py]) => {
    const frame = document.getElementById("viewport");
    const stage = document.getElementById("stage");
    const img = document.getElementById("picture");
    frame.scrollLeft = (px / Number(img.dataset.width)) * stage.clientWidth - frame.clientWidth / 2;
    frame.scrollTop = (py / Number(img.dataset.height)) * stage.clientHeight - frame.clientHeight / 2;
  }, nj);
  const onNj = await screenPoint(page, nj[0] + 2, nj[1] - 2);
  await page.mouse.click(onNj.x, onNj.y);
  await page.waitForFunction(() => /^08873/.test(document.getElementById("answer").textContent));
  assert.match(await page.locator("#answer").textContent(), /^08873 Somerset, NJ .*marker under the pointer/);
  await page.screenshot({ path: screenshot.replace(/\.png$/, "-zoom.png") });

  // Download in another format: one click, one file, the answer kept.
  const downloads = [];
  page.on("download", (d) => downloads.push(d));
  await page.locator(".downloads button[data-format='png']").dblclick();
  await page.waitForTimeout(1500);
  assert.equal(downloads.length, 1, "a double click downloads once");
  assert.match(downloads[0].suggestedFilename(), /^zembra-usa\.png$/);
  assert.match(await page.locator("#answer").textContent(), /^08873/, "the answer is kept");

  // The share link opens the same result in a browser context of its own.
  const share = await page.locator("#share-link").inputValue();
  assert.match(share, /\/\?render=[0-9a-f]{32}$/);
  const fresh = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const other = await fresh.newPage();
  await other.goto(share);
  await other.waitForFunction(() => /Placed 3 of 4/.test(document.getElementById("status").textContent));
  await other.waitForFunction(() => {
    const img = document.getElementById("picture");
    return img.complete && img.naturalWidth > 0;
  });
  assert.match(await other.locator("#codes").inputValue(), /08873\n08232\n89301\n00000/);
  assert.match(await other.locator("#not-found").textContent(), /00000/);
  await fresh.close();

  // A CSV upload: the column is picked from the file's header, then rendered.
  await page.locator("input[name='source'][value='csv']").check();
  await page.locator("#csv-file").setInputFiles({
    name: "customers.csv",
    mimeType: "text/csv",
    buffer: Buffer.from('Name,"Zip Code",City\n"Doe, J",08873,Somerset\nRoe,99999,Nowhere\n'),
  });
  await page.waitForFunction(() => document.getElementById("csv-column").value === "Zip Code");
  await page.locator("#render").click();
  await page.waitForFunction(() => /Placed 1 of 2/.test(document.getElementById("status").textContent));
  assert.match(await page.locator("#not-found").textContent(), /99999/);

  // Workbooks: the server reads their sheets and header; they give the codes a semicolon
  // export of the same list gives.
  await page.locator("#csv-file").setInputFiles({
    name: "zips.csv",
    mimeType: "text/csv",
    buffer: Buffer.from("Name;Zip\nAlice;08873\nBob;08232\nCarol; 10001 \nDan;08873\nGina;99501\nJose;96813\n"),
  });
  await page.waitForFunction(() => document.getElementById("csv-column").value === "Zip");
  assert.equal(await page.locator("#sheet-choice").isHidden(), true);
  await page.locator("#render").click();
  await page.waitForFunction(() => /read as ASCII, semicolon/.test(document.getElementById("status").textContent));
  const codesOf = (text) => text.replace(/ \(file read as .*\)\.$/, "");
  const fromText = codesOf(await page.locator("#status").textContent());
  assert.match(fromText, /^Placed \d+ of 5 zip codes/);
  for (const book of ["zips.xlsx", "zips.ods"]) {
    await page.locator("#csv-file").setInputFiles(join(fixtures, book));
    await page.waitForFunction(() => !document.getElementById("sheet-choice").hidden &&
      document.getElementById("csv-column").value === "Zip");
    assert.deepEqual(await page.locator("#csv-sheet option").allTextContents(),
      ["Sheet1", "Other Sheet", "Numbers"]);
    await page.locator("#render").click();
    await page.waitForFunction(() => /read as sheet "Sheet1"/.test(document.getElementById("status").textContent));
    assert.equal(codesOf(await page.locator("#status").textContent()), fromText);
    // Another sheet, its own columns.
    await page.locator("#csv-sheet").selectOption("Other Sheet");
    await page.waitForFunction(() => document.getElementById("csv-column").value === "Zip Code");
    await page.locator("#render").click();
    await page.waitForFunction(() => /Placed 2 of 3 .*read as sheet "Other Sheet"/.test(document.getElementById("status").textContent));
  }
  await page.screenshot({ path: screenshot.replace(/\.png$/, "-workbook.png") });

  // A style: circles coloured by the upload's segment column, with the legend in the
  // picture and the per-category table to download.
  await page.locator("#csv-file").setInputFiles({
    name: "sales.csv",
    mimeType: "text/csv",
    buffer: Buffer.from("Zip,Segment,Revenue\n08873,Retail,10\n10001,Office,20\n89301,Farm,5\n08873,Retail,1\n"),
  });
  await page.waitForFunction(() => document.getElementById("csv-column").value === "Zip");
  assert.ok(await page.locator("#parameter-title").isHidden(), "a style's settings wait for a style");
  await page.locator("#parameter-style").selectOption("category");
  await page.locator("#parameter-category").selectOption("Segment");
  await page.locator("#parameter-title").fill("Sales by segment");
  await page.locator("#parameter-table").check();
  await page.locator("#render").click();
  await page.waitForFunction(() => /Placed 3 of 3/.test(document.getElementById("status").textContent));
  await page.waitForSelector("#table-link:not([hidden])");
  const [tableDownload] = await Promise.all([
    page.waitForEvent("download"),
    page.locator("#table-link").click(),
  ]);
  const chunks = [];
  for await (const chunk of await tableDownload.createReadStream()) chunks.push(chunk);
  const table = Buffer.concat(chunks).toString();
  assert.equal(table, "category,codes,rows,sum\nRetail,1,2,\nFarm,1,1,\nOffice,1,1,\n");
  await page.waitForFunction(() => {
    const img = document.getElementById("picture");
    return img.complete && img.naturalWidth > 0;
  });
  await page.screenshot({ path: screenshot.replace(/\.png$/, "-style.png"), fullPage: true });
  await page.locator("#parameter-style").selectOption("markers");

  // A switch of the table reaches the request: 8873 is found as 08873 unless "exact" is on.
  await page.locator("input[name='source'][value='paste']").check();
  await page.locator("#codes").fill("8873");
  await page.locator("#parameter-exact").check();
  const [exactRequest] = await Promise.all([
    page.waitForRequest((r) => r.url().endsWith("/api/render")),
    page.locator("#render").click(),
  ]);
  assert.equal(exactRequest.postDataJSON().exact, true);
  await page.waitForFunction(() => /Placed 0 of 1/.test(document.getElementById("status").textContent));
  await page.locator("#parameter-exact").uncheck();
  await page.locator("#render").click();
  await page.waitForFunction(() => /Placed 1 of 1 .*leading zeros/.test(document.getElementById("status").textContent));

  // Codes off the map: counted, listed, and the map or region that holds them named.
  await page.locator("#codes").fill("08873 00601 99501");
  await page.locator("#render").click();
  await page.waitForFunction(() => /Placed 1 of 3 zip codes; 2 outside this map \(alaska holds 1; try region PR\)\./
    .test(document.getElementById("status").textContent));
  assert.equal(await page.locator("#outside-title").textContent(), "2 codes outside this map (alaska holds 1; try region PR)");
  assert.equal(await page.locator("#outside").textContent(), "00601, 99501");

  // A map drawn for a place: New Jersey, and a click on 08873 answered on that map.
  await page.locator("input[name='source'][value='paste']").check();
  await page.locator("#codes").fill("08873 08232");
  await page.locator("#parameter-region").fill("NJ");
  await page.locator("#render").click();
  await page.waitForFunction(() => /Placed 2 of 2/.test(document.getElementById("status").textContent));
  await page.waitForFunction(() => {
    const img = document.getElementById("picture");
    return img.complete && img.naturalWidth > 0 && img.dataset.region;
  });
  const drawn = await page.$eval("#picture", (img) => ({
    region: img.dataset.region, width: Number(img.dataset.width), height: Number(img.dataset.height),
  }));
  const [minLat, maxLat, minLon, maxLon] = drawn.region.split(",").map(Number);
  const somerset = [
    Math.round(((-74.52128 - minLon) / (maxLon - minLon)) * drawn.width),
    Math.round(drawn.height - ((40.507194 - minLat) / (maxLat - minLat)) * drawn.height),
  ];
  // The taller the form, the further the Render button scrolled the picture away.
  await page.$eval("#picture", (img) => img.scrollIntoView({ block: "center" }));
  const onSomerset = await screenPoint(page, ...somerset);
  await page.mouse.click(onSomerset.x, onSomerset.y);
  await page.waitForFunction(() => /08873|No zip|failed/.test(document.getElementById("answer").textContent));
  assert.match(await page.locator("#answer").textContent(), /^08873 Somerset, NJ/);
  await page.screenshot({ path: screenshot.replace(/\.png$/, "-region.png"), fullPage: true });
  await page.locator("#parameter-region").fill("");

  // At 200% zoom a 1280-pixel window is 640 CSS pixels wide: nothing may need a
  // sideways scroll.
  await page.setViewportSize({ width: 640, height: 900 });
  const overflow = await page.evaluate(() => document.documentElement.scrollWidth - document.documentElement.clientWidth);
  assert.ok(overflow <= 0, `the page scrolls sideways by ${overflow} px at 640 px`);
  await page.setViewportSize({ width: 390, height: 844 });
  await page.screenshot({ path: screenshot.replace(/\.png$/, "-phone.png"), fullPage: true });

  assert.deepEqual(foreign, [], "the page loads nothing from elsewhere");
  assert.deepEqual(pageErrors, [], "no script errors");
} catch (error) {
  // What the page showed when it failed, to tell a server fault from a page fault.
  const page = browser.contexts()[0]?.pages()[0];
  if (page) {
    for (const id of ["status", "answer", "not-found", "render-error"]) {
      console.error(`#${id}:`, await page.locator(`#${id}`).textContent().catch(() => "?"));
    }
    await page.screenshot({ path: screenshot.replace(/\.png$/, "-failed.png") }).catch(() => {});
  }
  console.error("server log:\n" + server.log());
  throw error;
} finally {
  await browser.close();
  server.child.kill("SIGTERM");
  rmSync(storeDir, { recursive: true, force: true });
}
const ended = await server.exited;
clearTimeout(guard);
assert.equal(ended.code, 0, `zembra serve exits 0 on SIGTERM, got ${JSON.stringify(ended)}`);
assert.match(server.log(), /"POST \/api\/render" 200/);
assert.match(server.log(), /"GET \/api\/lookup" 200/);
assert.match(server.log(), /stopped/);
console.log("browser test: passed; screenshot", screenshot);
