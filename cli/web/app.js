// The Zembra page: chooses map and marker, sends zip codes to POST /api/render, shows the
// picture and asks GET /api/lookup what lies under a click. Everything it loads comes
// from the server that served it.
"use strict";

const $ = (id) => document.getElementById(id);

const state = {
  maps: [],
  last: null,       // the last successful render's answer
  lastOrder: null,  // and what it was asked with, to render again in another format
  cursor: null,     // picture pixel of the keyboard cursor
};

function escapeText(text) {
  const span = document.createElement("span");
  span.textContent = text;
  return span.innerHTML;
}

function setStatus(text, isError = false) {
  $("status").textContent = text;
  $("status").classList.toggle("error", isError);
}

async function fetchJson(url) {
  const response = await fetch(url);
  const body = await response.json();
  if (!response.ok) throw new Error(body.error ? body.error.message : response.statusText);
  return body;
}

// One radio button per picture, its thumbnail as the label.
function fillChoices(container, group, items, selected, kind) {
  container.replaceChildren();
  for (const item of items) {
    const label = document.createElement("label");
    label.className = "choice " + kind;
    const input = document.createElement("input");
    input.type = "radio";
    input.name = group;
    input.value = item.name;
    input.checked = item.name === selected;
    const img = document.createElement("img");
    img.src = item.thumbnail;
    img.alt = "";
    const caption = document.createElement("span");
    caption.textContent = kind === "map"
      ? `${item.name} (${item.width} × ${item.height})`
      : item.name;
    label.append(input, img, caption);
    container.append(label);
  }
}

function chosen(group) {
  const input = document.querySelector(`input[name="${group}"]:checked`);
  return input ? input.value : "";
}

async function loadCatalogue() {
  try {
    const [maps, markers] = await Promise.all([fetchJson("/api/maps"), fetchJson("/api/markers")]);
    state.maps = maps.maps;
    const first = maps.maps.find((m) => m.name.toLowerCase() === "usa") || maps.maps[0];
    fillChoices($("maps"), "map", maps.maps, first ? first.name : "", "map");
    fillChoices($("markers"), "marker", markers.markers, markers.default, "marker");
  } catch (error) {
    setStatus("Could not load the maps: " + error.message, true);
  }
}

// The first line of a CSV file split into its column names (quotes honoured).
function csvHeader(text) {
  const names = [];
  let field = "";
  let quoted = false;
  for (let i = 0; i < text.length; i++) {
    const c = text[i];
    if (quoted) {
      if (c === '"' && text[i + 1] === '"') { field += '"'; i++; }
      else if (c === '"') quoted = false;
      else field += c;
    } else if (c === '"') quoted = true;
    else if (c === ",") { names.push(field.trim()); field = ""; }
    else if (c === "\n" || c === "\r") break;
    else field += c;
  }
  names.push(field.trim());
  return names.map((n) => n.replace(/^\uFEFF/, "")).filter((n) => n !== "");
}

async function onCsvChosen() {
  const select = $("csv-column");
  const file = $("csv-file").files[0];
  select.replaceChildren();
  if (!file) {
    select.disabled = true;
    return;
  }
  const names = csvHeader(await file.slice(0, 65536).text());
  for (const name of names) select.add(new Option(name, name));
  // The style's columns are offered from the same header.
  $("category-column").replaceChildren(...names.map((n) => new Option(n, n)));
  $("value-column").replaceChildren(new Option("(none: count the rows)", ""),
                                    ...names.map((n) => new Option(n, n)));
  const segment = names.find((n) => !/zip/i.test(n));
  if (segment) $("category-column").value = segment;
  const zip = names.find((n) => /zip/i.test(n));
  if (zip) select.value = zip;
  select.disabled = names.length === 0;
}

function onStyleChanged() {
  const style = $("style").value;
  $("style-columns").hidden = style === "markers";
  $("category-column").disabled = style !== "category";
  $("value-column").disabled = style === "markers" || style === "category";
}

// The style's members of an order; nothing for the plain markers.
function styleOf(csv) {
  const style = $("style").value;
  if (style === "markers") return {};
  const out = { style, table: true };
  const title = $("title").value.trim();
  if (title) out.title = title;
  if (csv && style === "category") out.category = $("category-column").value;
  if (csv && style !== "category" && $("value-column").value) out.value = $("value-column").value;
  if (!csv && style === "category") throw new Error("Colouring by category needs a CSV upload with a category column.");
  return out;
}

function onSourceChanged() {
  const csv = chosen("source") === "csv";
  $("paste-input").hidden = csv;
  $("csv-input").hidden = !csv;
}

// What the form asks for: a JSON body or, for a CSV upload, a form.
function currentOrder() {
  const order = { map: chosen("map"), marker: chosen("marker"), format: $("format").value };
  if (chosen("source") === "csv") {
    const file = $("csv-file").files[0];
    if (!file) throw new Error("Choose a CSV file first.");
    if (!$("csv-column").value) throw new Error("Choose the column that holds the zip codes.");
    return { ...order, ...styleOf(true), file, column: $("csv-column").value };
  }
  const zips = $("codes").value.split(/[\s,;]+/).filter((z) => z !== "");
  if (zips.length === 0) throw new Error("Paste at least one zip code.");
  return { ...order, ...styleOf(false), zips };
}

function requestBody(order) {
  if (order.file) {
    const form = new FormData();
    for (const key of ["map", "marker", "format", "column", "style", "category", "value", "title"]) {
      if (order[key] !== undefined) form.append(key, order[key]);
    }
    if (order.table) form.append("table", "1");
    form.append("file", order.file);
    return form;
  }
  const { file, column, ...json } = order;
  return JSON.stringify(json);
}

// Sends the order and follows the streamed progress lines to the final answer.
async function render(order, onProgress) {
  const headers = { Accept: "application/x-ndjson" };
  if (!order.file) headers["Content-Type"] = "application/json";
  const response = await fetch("/api/render", { method: "POST", headers, body: requestBody(order) });
  if (!response.headers.get("Content-Type")?.includes("ndjson")) {
    const body = await response.json();
    throw new Error(body.error ? body.error.message : response.statusText);
  }
  const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
  let buffered = "";
  for (;;) {
    const { value, done } = await reader.read();
    if (done) break;
    buffered += value;
    let newline;
    while ((newline = buffered.indexOf("\n")) >= 0) {
      const line = JSON.parse(buffered.slice(0, newline));
      buffered = buffered.slice(newline + 1);
      if (line.progress) onProgress(line.progress);
      else if (line.result) return line.result;
      else if (line.error) throw new Error(line.error.message);
    }
  }
  throw new Error("The server ended the answer early.");
}

function showResult(result) {
  const codes = result.requested;
  let text = `Placed ${result.placed} of ${codes} zip code${codes === 1 ? "" : "s"}`;
  if (result.points) text += ` and ${result.points} point${result.points === 1 ? "" : "s"}`;
  if (result.placedAtTown.length) text += ` (${result.placedAtTown.length} at their post-office town)`;
  setStatus(text + ".");
  const notFound = result.notFound;
  $("not-found-box").hidden = notFound.length === 0;
  $("not-found-title").textContent = `${notFound.length} code${notFound.length === 1 ? "" : "s"} not found`;
  $("not-found").textContent = notFound.join(", ");
  $("not-found-box").open = notFound.length > 0 && notFound.length <= 50;
  const picture = $("picture");
  picture.src = result.picture;
  picture.dataset.map = result.map;
  picture.dataset.width = result.width;
  picture.dataset.height = result.height;
  $("picture-box").hidden = false;
  const tableLink = $("table-link");
  if (state.tableUrl) URL.revokeObjectURL(state.tableUrl);
  state.tableUrl = result.table ? URL.createObjectURL(new Blob([result.table], { type: "text/csv" })) : null;
  tableLink.hidden = !state.tableUrl;
  if (state.tableUrl) tableLink.href = state.tableUrl;
  $("answer").textContent = "";
  $("crosshair").hidden = true;
  state.cursor = null;
}

async function onRender(event) {
  event.preventDefault();
  let order;
  try {
    order = currentOrder();
  } catch (error) {
    setStatus(error.message, true);
    return;
  }
  const button = $("render");
  button.disabled = true;
  $("progress-box").hidden = false;
  $("progress").value = 0;
  setStatus("Rendering…");
  try {
    const result = await render(order, (p) => {
      $("progress").max = Math.max(p.total, 1);
      $("progress").value = p.done;
      setStatus(`Rendering… ${p.done} of ${p.total}`);
    });
    state.last = result;
    state.lastOrder = order;
    showResult(result);
  } catch (error) {
    setStatus("Rendering failed: " + error.message, true);
  } finally {
    button.disabled = false;
    $("progress-box").hidden = true;
  }
}

// Maps a point of the shown (scaled) picture to the picture's own pixels.
function picturePixel(clientX, clientY) {
  const picture = $("picture");
  const box = picture.getBoundingClientRect();
  const width = Number(picture.dataset.width);
  const height = Number(picture.dataset.height);
  const x = Math.floor(((clientX - box.left) / box.width) * width);
  const y = Math.floor(((clientY - box.top) / box.height) * height);
  return { x: Math.min(Math.max(x, 0), width - 1), y: Math.min(Math.max(y, 0), height - 1) };
}

function placeCrosshair(pixel) {
  const picture = $("picture");
  const mark = $("crosshair");
  mark.style.left = `${((pixel.x + 0.5) / Number(picture.dataset.width)) * picture.clientWidth}px`;
  mark.style.top = `${((pixel.y + 0.5) / Number(picture.dataset.height)) * picture.clientHeight}px`;
  mark.hidden = false;
}

async function lookUp(pixel) {
  const map = $("picture").dataset.map;
  placeCrosshair(pixel);
  $("answer").textContent = "Looking up…";
  try {
    const found = await fetchJson(
      `/api/lookup?map=${encodeURIComponent(map)}&x=${pixel.x}&y=${pixel.y}`);
    const where = `${found.lat.toFixed(4)}, ${found.lon.toFixed(4)}`;
    if (!found.zip) {
      $("answer").textContent = `No zip code near ${where} (pixel ${pixel.x}, ${pixel.y}).`;
      return;
    }
    const town = [found.city, found.state].filter((t) => t).join(", ");
    $("answer").innerHTML = `<span class="zip">${escapeText(found.zip)}</span>` +
      (town ? ` ${escapeText(town)}` : "") + ` — ${where}`;
  } catch (error) {
    $("answer").textContent = "Lookup failed: " + error.message;
  }
}

function onPictureKey(event) {
  const picture = $("picture");
  const width = Number(picture.dataset.width);
  const height = Number(picture.dataset.height);
  const step = event.shiftKey ? 50 : 10;
  const moves = { ArrowLeft: [-step, 0], ArrowRight: [step, 0], ArrowUp: [0, -step], ArrowDown: [0, step] };
  if (!state.cursor) state.cursor = { x: Math.floor(width / 2), y: Math.floor(height / 2) };
  if (moves[event.key]) {
    const [dx, dy] = moves[event.key];
    state.cursor = {
      x: Math.min(Math.max(state.cursor.x + dx, 0), width - 1),
      y: Math.min(Math.max(state.cursor.y + dy, 0), height - 1),
    };
    placeCrosshair(state.cursor);
    event.preventDefault();
  } else if (event.key === "Enter" || event.key === " ") {
    lookUp(state.cursor);
    event.preventDefault();
  }
}

// Downloads the last picture in `format`, rendering it again when it was made in another.
async function onDownload(event) {
  const format = event.target.dataset.format;
  if (!format || !state.last) return;
  let result = state.last;
  if (result.format !== format) {
    setStatus(`Rendering as ${format.toUpperCase()}…`);
    try {
      result = await render({ ...state.lastOrder, format }, () => {});
      showResult(result);
      state.last = result;
    } catch (error) {
      setStatus("Rendering failed: " + error.message, true);
      return;
    }
  }
  const link = document.createElement("a");
  link.href = result.download;
  link.download = "";
  document.body.append(link);
  link.click();
  link.remove();
}

document.addEventListener("DOMContentLoaded", () => {
  loadCatalogue();
  $("order").addEventListener("submit", onRender);
  $("csv-file").addEventListener("change", onCsvChosen);
  $("style").addEventListener("change", onStyleChanged);
  onStyleChanged();
  for (const radio of document.querySelectorAll('input[name="source"]')) {
    radio.addEventListener("change", onSourceChanged);
  }
  $("picture").addEventListener("click", (e) => lookUp(picturePixel(e.clientX, e.clientY)));
  $("picture").addEventListener("keydown", onPictureKey);
  window.addEventListener("resize", () => { if (state.cursor) placeCrosshair(state.cursor); });
  document.querySelector(".downloads").addEventListener("click", onDownload);
});
