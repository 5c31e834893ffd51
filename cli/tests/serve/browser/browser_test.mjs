// The page of `zembra serve` in a real browser: Debian's chromium, headless, driven by
// playwright-core. Starts the server on a free loopback port, pastes zip codes, renders,
// clicks a marker and reads the answer, checks the keyboard path and a narrow (200%
// zoom) window, saves a screenshot, and stops the server with SIGTERM.
//
//   node browser_test.mjs ZEMBRA_EXECUTABLE SCREENSHOT.png
import { spawn } from "node:child_process";
import assert from "node:assert/strict";
import { chromium } from "playwright-core";

const [zembra, screenshot] = process.argv.slice(2);
if (!zembra || !screenshot) {
  console.error("usage: node browser_test.mjs ZEMBRA_EXECUTABLE SCREENSHOT.png");
  process.exit(2);
}
const chromiumPath = process.env.CHROMIUM || "/usr/bin/chromium";

// Nothing here may hang a test run.
const guard = setTimeout(() => {
  console.error("browser test: gave up after 180 s");
  process.exit(1);
}, 180_000);

function startServer() {
  const child = spawn(zembra, ["serve", "--port", "0"], { stdio: ["ignore", "pipe", "pipe"] });
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

// The point on screen of a picture pixel, for the picture as scaled in the page.
async function screenPoint(page, x, y) {
  return page.$eval("#picture", (img, [px, py]) => {
    const box = img.getBoundingClientRect();
    return {
      x: box.left + ((px + 0.5) / Number(img.dataset.width)) * box.width,
      y: box.top + ((py + 0.5) / Number(img.dataset.height)) * box.height,
    };
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

  // Paste codes and render.
  await page.locator("#codes").focus();
  await page.keyboard.insertText("08873\n08232, 89301 00000");
  await page.locator("#render").click();
  await page.waitForFunction(() => /Placed 3 of 4/.test(document.getElementById("status").textContent));
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
  assert.match(answer, /^89301 Ely, NV — 39\.\d+, -114\.\d+$/);  // city and state from the table
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

  // Download in another format: the page renders again as PNG and saves that.
  const [download] = await Promise.all([
    page.waitForEvent("download"),
    page.locator(".downloads button[data-format='png']").click(),
  ]);
  assert.match(download.suggestedFilename(), /^zembra-usa\.png$/);

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

  // A style: circles coloured by the upload's segment column, with the legend in the
  // picture and the per-category table to download.
  await page.locator("#csv-file").setInputFiles({
    name: "sales.csv",
    mimeType: "text/csv",
    buffer: Buffer.from("Zip,Segment,Revenue\n08873,Retail,10\n10001,Office,20\n89301,Farm,5\n08873,Retail,1\n"),
  });
  await page.waitForFunction(() => document.getElementById("csv-column").value === "Zip");
  await page.locator("#style").selectOption("category");
  await page.locator("#category-column").selectOption("Segment");
  await page.locator("#title").fill("Sales by segment");
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
  await page.locator("#style").selectOption("markers");

  // At 200% zoom a 1280-pixel window is 640 CSS pixels wide: nothing may need a
  // sideways scroll.
  await page.setViewportSize({ width: 640, height: 900 });
  const overflow = await page.evaluate(() => document.documentElement.scrollWidth - document.documentElement.clientWidth);
  assert.ok(overflow <= 0, `the page scrolls sideways by ${overflow} px at 640 px`);

  assert.deepEqual(foreign, [], "the page loads nothing from elsewhere");
  assert.deepEqual(pageErrors, [], "no script errors");
} catch (error) {
  // What the page showed when it failed, to tell a server fault from a page fault.
  const page = browser.contexts()[0]?.pages()[0];
  if (page) {
    for (const id of ["status", "answer", "not-found"]) {
      console.error(`#${id}:`, await page.locator(`#${id}`).textContent().catch(() => "?"));
    }
    await page.screenshot({ path: screenshot.replace(/\.png$/, "-failed.png") }).catch(() => {});
  }
  console.error("server log:\n" + server.log());
  throw error;
} finally {
  await browser.close();
  server.child.kill("SIGTERM");
}
const ended = await server.exited;
clearTimeout(guard);
assert.equal(ended.code, 0, `zembra serve exits 0 on SIGTERM, got ${JSON.stringify(ended)}`);
assert.match(server.log(), /"POST \/api\/render" 200/);
assert.match(server.log(), /"GET \/api\/lookup" 200/);
assert.match(server.log(), /stopped/);
console.log("browser test: passed; screenshot", screenshot);
