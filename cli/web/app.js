// The Zembra page: chooses map and marker, sends zip codes to POST /api/render, shows the
// picture (zoomed and moved at will) and asks GET /api/lookup what lies under a click.
// Everything it loads comes from the server that served it.
"use strict";

const $ = (id) => document.getElementById(id);

const state = {
  maps: [],
  last: null,       // the last successful render's answer
  cursor: null,     // picture pixel of the keyboard cursor
  rendering: false,
  downloading: false,
  zoom: 1,          // 1: the picture fits the frame; 2: twice that, ...
};

const kZooms = [1, 1.5, 2, 3, 4, 6, 8, 12, 16];

// ---- messages next to the Render button ----------------------------------------------

function showProgress(text) {
  $("render-error").textContent = "";
  $("render-status").textContent = text;
}

// An error goes next to the Render button, in view, and is announced (role="alert").
function showError(text) {
  $("render-status").textContent = "";
  $("render-error").textContent = text;
  $("render-row").scrollIntoView({ block: "nearest", behavior: "instant" });
}

// The result on screen no longer answers the form: say so at once.
function markStale(stale) {
  $("result").classList.toggle("stale", stale);
  $("stale-note").hidden = !stale || $("picture-box").hidden;
}

async function fetchJson(url, init) {
  let response;
  try {
    response = await fetch(url, init);
  } catch {
    throw new Error("The server cannot be reached (network error).");
  }
  const body = await response.json().catch(() => ({}));
  if (!response.ok) throw new Error(body.error ? body.error.message : `${response.status} ${response.statusText}`);
  return body;
}

// ---- the form ------------------------------------------------------------------------

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

function choose(group, value) {
  const input = document.querySelector(`input[name="${group}"][value="${CSS.escape(value)}"]`);
  if (input) input.checked = true;
}

// The members of a render order and the controls that hold them, one a row of the
// server's parameter table (GET /api/parameters): currentOrder() and a share link read and
// fill the form through this list only.
const orderFields = [];

// Rows whose control the page makes itself: the pictures as thumbnails, the upload's
// column from the file's header and a workbook's sheet (sent with an upload only).
const ownControls = {
  map: (row) => ({ read: () => chosen("map"), write: (v) => choose("map", v), label: $("maps") }),
  marker: (row) => ({ read: () => chosen("marker"), write: (v) => choose("marker", v), label: $("markers") }),
  column: () => ({ label: $("csv-column").labels[0] }),
  // A workbook's sheet, offered once a workbook is chosen (sent with an upload only).
  sheet: () => ({
    read: () => (chosen("source") === "csv" && !$("sheet-choice").hidden ? $("csv-sheet").value : ""),
    write: () => {},
    label: $("csv-sheet").labels[0],
  }),
};

const asSwitch = (v) => v === true || /^(true|1|yes|on)$/i.test(String(v).trim());

// The control of one row, by its type: a list for choices, a number field for a count
// (with its limits), a check box for a switch, a text field for the rest.
function makeControl(row) {
  const id = `parameter-${row.name}`;
  const box = document.createElement("div");
  box.className = `parameter parameter-${row.type}`;
  const label = document.createElement("label");
  label.htmlFor = id;
  label.textContent = row.label;
  let input;
  if (row.choices) {
    input = document.createElement("select");
    for (const c of row.choices) input.add(new Option(c.label, c.value));
  } else if (row.type === "column") {
    // Filled with the columns of the file chosen (onCsvChosen).
    input = document.createElement("select");
    input.dataset.columns = "";
    input.add(new Option(kNoColumn, ""));
  } else {
    input = document.createElement("input");
    if (row.type === "switch") input.type = "checkbox";
    else if (row.type === "count") {
      input.type = "number";
      input.step = "1";
      input.min = row.minimum;
      if (row.maximum !== undefined) input.max = row.maximum;
      input.inputMode = "numeric";
    } else {
      input.type = "text";
      input.spellcheck = false;
    }
  }
  input.id = id;
  input.name = row.name;
  if (row.help) {
    const hint = document.createElement("p");
    hint.className = "hint";
    hint.id = `${id}-hint`;
    hint.textContent = row.help;
    input.setAttribute("aria-describedby", hint.id);
    if (row.type === "switch") {
      label.prepend(input);
      box.append(label, hint);
    } else box.append(label, input, hint);
  } else if (row.type === "switch") {
    label.prepend(input);
    box.append(label);
  } else box.append(label, input);
  const value = row.type === "switch"
    ? { read: () => input.checked, write: (v) => { input.checked = asSwitch(v); } }
    : {
      read: () => input.value.trim(),
      write: (v) => {
        // A column of a kept order may name a file no longer chosen.
        if (row.type === "column" && v && ![...input.options].some((o) => o.value === v)) input.add(new Option(v, v));
        input.value = String(v);
      },
    };
  value.write(row.default);
  // Only what differs from the row's default is sent, and a style's settings only with a
  // style other than the plain markers (the server refuses them with the markers).
  const field = {
    read: () => {
      const v = value.read();
      if (row.styling && row.name !== kStyleRow && !styled()) return "";
      return v === (row.type === "switch" ? asSwitch(row.default) : row.default) ? "" : v;
    },
    write: value.write,
  };
  if (row.styling && row.name !== kStyleRow) box.classList.add("styling");
  return { box, field };
}

// The row that chooses the style, and its choice of plain markers.
const kStyleRow = "style";
const kMarkersStyle = "markers";
const kNoColumn = "(none)";

function styled() {
  const chooser = $(`parameter-${kStyleRow}`);
  return chooser !== null && chooser.value !== kMarkersStyle;
}

// A style's settings show while a style other than the plain markers is chosen.
function onStyleChanged() {
  const on = styled();
  for (const box of document.querySelectorAll(".parameter.styling")) box.hidden = !on;
}

// The form's controls made from the parameter table, each in its part of the form.
function buildParameters(rows) {
  for (const row of rows) {
    if (ownControls[row.name]) {
      const own = ownControls[row.name](row);
      if (own.label?.tagName === "LABEL") own.label.textContent = row.label;
      else own.label?.setAttribute("aria-label", row.label);
      if (own.read) orderFields.push({ name: row.name, ...own });
      continue;
    }
    const { box, field } = makeControl(row);
    const place = document.querySelector(`.parameters[data-section="${CSS.escape(row.section)}"]`) ||
      document.querySelector('.parameters[data-section=""]');
    place.append(box);
    orderFields.push({ name: row.name, ...field });
  }
  // A part of the form that the table leaves empty is not shown.
  for (const place of document.querySelectorAll(".parameters")) {
    const set = place.closest("fieldset");
    if (set && set.children.length === 2 && place.children.length === 0) set.hidden = true;
  }
  // The picture is offered for download in every format the table lists.
  const format = rows.find((r) => r.name === "format");
  $("download-formats").replaceChildren(...(format ? format.choices : []).map((c) => {
    const button = document.createElement("button");
    button.type = "button";
    button.dataset.format = c.value;
    button.textContent = c.label;
    return button;
  }));
}

async function loadCatalogue() {
  const [maps, markers, parameters] = await Promise.all(
    [fetchJson("/api/maps"), fetchJson("/api/markers"), fetchJson("/api/parameters")]);
  state.maps = maps.maps;
  const first = maps.maps.find((m) => m.name.toLowerCase() === "usa") || maps.maps[0];
  fillChoices($("maps"), "map", maps.maps, first ? first.name : "", "map");
  fillChoices($("markers"), "marker", markers.markers, markers.default, "marker");
  buildParameters(parameters.parameters);
  $(`parameter-${kStyleRow}`)?.addEventListener("change", onStyleChanged);
  onStyleChanged();
}

// The upload's columns, and a workbook's sheets, as the server's readers see them: CSV text
// in any separator or encoding and .xls, .xlsx or .ods workbooks all offer their own header.
async function onCsvChosen(event) {
  const select = $("csv-column");
  const file = $("csv-file").files[0];
  const sheetChosen = event && event.target === $("csv-sheet");
  select.replaceChildren();
  select.disabled = true;
  if (!sheetChosen) {
    $("csv-sheet").replaceChildren();
    $("sheet-choice").hidden = true;
  }
  if (!file) return;
  const form = new FormData();
  form.append("file", file);
  if (sheetChosen) form.append("sheet", $("csv-sheet").value);
  let answer;
  try {
    answer = await fetchJson("/api/columns", { method: "POST", body: form });
  } catch (error) {
    showError("This file cannot be read: " + error.message);
    return;
  }
  if (answer.sheets && !sheetChosen) {
    $("csv-sheet").replaceChildren(...answer.sheets.map((n) => new Option(n, n)));
    $("sheet-choice").hidden = false;
  }
  const names = answer.columns;
  for (const name of names) select.add(new Option(name, name));
  // The columns a row of the table names (a style's category and value) are offered from
  // the same header.
  for (const pick of document.querySelectorAll("select[data-columns]")) {
    pick.replaceChildren(new Option(kNoColumn, ""), ...names.map((n) => new Option(n, n)));
  }
  const zip = names.find((n) => /zip/i.test(n));
  if (zip) select.value = zip;
  select.disabled = names.length === 0;
}

function onSourceChanged() {
  const csv = chosen("source") === "csv";
  $("paste-input").hidden = csv;
  $("csv-input").hidden = !csv;
}

// What the form asks for: a JSON body or, for a CSV upload, a form.
function currentOrder() {
  const order = {};
  for (const field of orderFields) {
    const value = field.read();
    if (value !== "") order[field.name] = value;
  }
  // A map drawn for a place replaces the map picture.
  if (order.region) delete order.map;
  else delete order.region;
  if (chosen("source") === "csv") {
    const file = $("csv-file").files[0];
    if (!file) throw new Error("Choose a file first.");
    if (!$("csv-column").value) throw new Error("Choose the column that holds the zip codes.");
    return { ...order, file, column: $("csv-column").value };
  }
  const zips = $("codes").value.split(/[\s,;]+/).filter((z) => z !== "");
  if (zips.length === 0) throw new Error("Paste at least one zip code.");
  return { ...order, zips };
}

function requestBody(order) {
  const { file, column, zips, ...fields } = order;
  if (file) {
    const form = new FormData();
    for (const [key, value] of Object.entries(fields)) form.append(key, value);
    form.append("column", column);
    form.append("file", file);
    return form;
  }
  return JSON.stringify({ ...fields, zips });
}

// Sends the order and follows the streamed progress lines to the final answer.
async function render(order, onProgress) {
  const headers = { Accept: "application/x-ndjson" };
  if (!order.file) headers["Content-Type"] = "application/json";
  let response;
  try {
    response = await fetch("/api/render", { method: "POST", headers, body: requestBody(order) });
  } catch {
    throw new Error("The server cannot be reached (network error).");
  }
  if (!response.headers.get("Content-Type")?.includes("ndjson")) {
    const body = await response.json().catch(() => ({}));
    throw new Error(body.error ? body.error.message : `${response.status} ${response.statusText}`);
  }
  const reader = response.body.pipeThrough(new TextDecoderStream()).getReader();
  let buffered = "";
  for (;;) {
    let chunk;
    try {
      chunk = await reader.read();
    } catch {
      throw new Error("The connection to the server broke off during the render.");
    }
    if (chunk.done) break;
    buffered += chunk.value;
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

// ---- the result ----------------------------------------------------------------------

function summary(result) {
  const codes = result.requested;
  let text = `Placed ${result.placed} of ${codes} zip code${codes === 1 ? "" : "s"}`;
  if (result.points) text += ` and ${result.points} point${result.points === 1 ? "" : "s"}`;
  const ways = [];
  if (result.placedWithoutPlus4.length) ways.push(`${result.placedWithoutPlus4.length} after dropping the +4`);
  if (result.placedWithZeros.length) ways.push(`${result.placedWithZeros.length} after restoring leading zeros`);
  if (result.placedAtTown.length) ways.push(`${result.placedAtTown.length} at their post-office town`);
  if (ways.length) text += ` (${ways.join(", ")})`;
  if (result.outside.length) text += `; ${result.outside.length} outside this map${suggestion(result)}`;
  if (result.readAs) text += ` (file read as ${result.readAs})`;
  return text + ".";
}

// The maps that hold the outside codes: " (alaska holds 1; try region PR)", or nothing.
function suggestion(result) {
  const parts = [];
  const holders = result.suggestedMaps.map((s) => `${s.map} holds ${s.codes}`).join(", ");
  if (holders) parts.push(holders);
  if (result.suggestedRegion) parts.push(`try region ${result.suggestedRegion}`);
  return parts.length ? ` (${parts.join("; ")})` : "";
}

function showResult(result) {
  $("status").textContent = summary(result);
  const outside = result.outside;
  $("outside-box").hidden = outside.length === 0;
  $("outside-title").textContent =
    `${outside.length} code${outside.length === 1 ? "" : "s"} outside this map` + suggestion(result);
  $("outside").textContent = outside.join(", ");
  $("outside-box").open = outside.length > 0 && outside.length <= 50;
  const notFound = result.notFound;
  $("not-found-box").hidden = notFound.length === 0;
  $("not-found-title").textContent = `${notFound.length} code${notFound.length === 1 ? "" : "s"} not found`;
  $("not-found").textContent = notFound.join(", ");
  $("not-found-box").open = notFound.length > 0 && notFound.length <= 50;
  const picture = $("picture");
  picture.src = result.picture;
  picture.dataset.map = result.map;
  picture.dataset.region = result.region || "";
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
  const share = new URL(result.share, window.location.href).href;
  $("share-link").value = share;
  $("kept-until").textContent = result.keptUntil ? `Kept until ${result.keptUntil.replace("T", " ").replace("Z", " UTC")}.` : "";
  setZoom(1);
  markStale(false);
}

async function onRender(event) {
  event.preventDefault();
  if (state.rendering) return;
  let order;
  try {
    order = currentOrder();
  } catch (error) {
    showError(error.message);
    markStale(true);
    return;
  }
  const button = $("render");
  state.rendering = true;
  button.setAttribute("aria-disabled", "true");
  $("progress-box").hidden = false;
  $("progress").value = 0;
  markStale(true);
  showProgress("Rendering…");
  try {
    const result = await render(order, (p) => {
      $("progress").max = Math.max(p.total, 1);
      $("progress").value = p.done;
      showProgress(`Rendering… ${p.done} of ${p.total}`);
    });
    state.last = result;
    showResult(result);
    showProgress(summary(result));
    history.replaceState(null, "", result.share);
  } catch (error) {
    showError("Rendering failed: " + error.message);
  } finally {
    state.rendering = false;
    button.removeAttribute("aria-disabled");
    $("progress-box").hidden = true;
    // Focus stays where the user acted (the button, or the text with Ctrl+Enter).
    if (document.activeElement === document.body) button.focus();
  }
}

// ---- zoom and pan --------------------------------------------------------------------

function fitScale() {
  const picture = $("picture");
  const width = Number(picture.dataset.width) || 1;
  const height = Number(picture.dataset.height) || 1;
  // The room the frame may take (less its border), not the frame itself, which is sized
  // to the fitted picture: a tall map leaves no empty band beside it.
  const room = $("picture-box").clientWidth - 2;
  const maxHeight = window.innerHeight * 0.8;
  return Math.min(room / width, maxHeight / height, 1);
}

// Zooms to `zoom` times the fitted size, keeping the picture point under (clientX,
// clientY) (default: the frame's centre) where it is.
function setZoom(zoom, clientX, clientY) {
  const picture = $("picture");
  const stage = $("stage");
  const frame = $("viewport");
  const width = Number(picture.dataset.width) || 1;
  const height = Number(picture.dataset.height) || 1;
  const fit = fitScale();
  zoom = Math.min(Math.max(zoom, 1), Math.max(1, kZooms[kZooms.length - 1]));
  const box = frame.getBoundingClientRect();
  const px = clientX ?? box.left + frame.clientWidth / 2;
  const py = clientY ?? box.top + frame.clientHeight / 2;
  // The picture pixel under that point before the change.
  const before = stage.clientWidth ? {
    x: (frame.scrollLeft + px - box.left) / stage.clientWidth,
    y: (frame.scrollTop + py - box.top) / stage.clientHeight,
  } : { x: 0.5, y: 0.5 };
  state.zoom = zoom;
  const scale = fit * zoom;
  stage.style.width = `${width * scale}px`;
  stage.style.height = `${height * scale}px`;
  frame.style.width = `${Math.floor(width * fit)}px`;
  frame.style.height = `${Math.floor(height * fit)}px`;
  frame.scrollLeft = before.x * width * scale - (px - box.left);
  frame.scrollTop = before.y * height * scale - (py - box.top);
  frame.classList.toggle("zoomed", zoom > 1);
  $("zoom-level").textContent = zoom === 1 ? "Fit" : `${Math.round(scale * 100)}%`;
  if (state.cursor) placeCrosshair(state.cursor);
}

function zoomStep(direction, clientX, clientY) {
  const next = direction > 0
    ? kZooms.find((z) => z > state.zoom + 1e-9) ?? state.zoom
    : [...kZooms].reverse().find((z) => z < state.zoom - 1e-9) ?? 1;
  setZoom(next, clientX, clientY);
}

function zoomToFull() {
  setZoom(1 / fitScale());
}

// Drag to pan, two fingers to pinch; a press that hardly moves stays a click.
const pointers = new Map();
let gesture = null;

function onPointerDown(event) {
  if (event.button !== 0) return;
  pointers.set(event.pointerId, { x: event.clientX, y: event.clientY });
  $("viewport").setPointerCapture(event.pointerId);
  const frame = $("viewport");
  if (pointers.size === 1) {
    gesture = {
      kind: "pan", x: event.clientX, y: event.clientY, left: frame.scrollLeft, top: frame.scrollTop,
      moved: false, onPicture: event.target === $("picture"),
    };
  } else if (pointers.size === 2) {
    const [a, b] = [...pointers.values()];
    gesture = { kind: "pinch", distance: Math.hypot(a.x - b.x, a.y - b.y), zoom: state.zoom, moved: true };
  }
}

function onPointerMove(event) {
  if (!pointers.has(event.pointerId) || !gesture) return;
  pointers.set(event.pointerId, { x: event.clientX, y: event.clientY });
  const frame = $("viewport");
  if (gesture.kind === "pan") {
    const dx = event.clientX - gesture.x;
    const dy = event.clientY - gesture.y;
    if (Math.hypot(dx, dy) > 4) gesture.moved = true;
    if (gesture.moved) {
      frame.scrollLeft = gesture.left - dx;
      frame.scrollTop = gesture.top - dy;
    }
  } else if (pointers.size === 2) {
    const [a, b] = [...pointers.values()];
    const distance = Math.hypot(a.x - b.x, a.y - b.y);
    if (gesture.distance > 0) setZoom(gesture.zoom * (distance / gesture.distance), (a.x + b.x) / 2, (a.y + b.y) / 2);
  }
}

function onPointerUp(event) {
  if (!pointers.has(event.pointerId)) return;
  pointers.delete(event.pointerId);
  const wasClick = gesture && gesture.kind === "pan" && !gesture.moved && gesture.onPicture &&
    pointers.size === 0;
  if (pointers.size === 0) gesture = null;
  if (wasClick) lookUp(picturePixel(event.clientX, event.clientY));
}

function onWheel(event) {
  if ($("picture-box").hidden) return;
  event.preventDefault();
  zoomStep(event.deltaY < 0 ? 1 : -1, event.clientX, event.clientY);
}

// ---- lookups -------------------------------------------------------------------------

// The picture pixel under a point of the screen, from the picture's content box: border
// and padding left out, any zoom, any device pixel ratio (CSS pixels on both sides).
function picturePixel(clientX, clientY) {
  const picture = $("picture");
  const box = picture.getBoundingClientRect();
  const style = getComputedStyle(picture);
  const left = box.left + parseFloat(style.borderLeftWidth) + parseFloat(style.paddingLeft);
  const top = box.top + parseFloat(style.borderTopWidth) + parseFloat(style.paddingTop);
  const contentWidth = box.width - parseFloat(style.borderLeftWidth) - parseFloat(style.borderRightWidth) -
    parseFloat(style.paddingLeft) - parseFloat(style.paddingRight);
  const contentHeight = box.height - parseFloat(style.borderTopWidth) - parseFloat(style.borderBottomWidth) -
    parseFloat(style.paddingTop) - parseFloat(style.paddingBottom);
  const width = Number(picture.dataset.width);
  const height = Number(picture.dataset.height);
  const x = Math.floor(((clientX - left) / contentWidth) * width);
  const y = Math.floor(((clientY - top) / contentHeight) * height);
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
  const { map, region, width } = $("picture").dataset;
  // A map drawn for a place is named by the bounds its render answered with.
  const query = region ? `region=${encodeURIComponent(region)}&width=${width}`
                       : `map=${encodeURIComponent(map)}`;
  placeCrosshair(pixel);
  $("answer").textContent = "Looking up…";
  try {
    const render = state.last ? `&render=${encodeURIComponent(state.last.id)}` : "";
    const found = await fetchJson(`/api/lookup?${query}&x=${pixel.x}&y=${pixel.y}${render}`);
    const where = `${found.lat.toFixed(4)}, ${found.lon.toFixed(4)}`;
    if (!found.zip) {
      $("answer").textContent = `No zip code near ${where} (pixel ${pixel.x}, ${pixel.y}).`;
      return;
    }
    const town = [found.city, found.state].filter((t) => t).join(", ");
    const answer = $("answer");
    answer.replaceChildren();
    const zip = document.createElement("span");
    zip.className = "zip";
    zip.textContent = found.zip;
    answer.append(zip, (town ? ` ${town}` : "") + ` — ${where}`);
    const note = document.createElement("span");
    note.className = "which";
    note.textContent = found.plotted ? " (the marker under the pointer)" : " (the nearest zip code; no marker here)";
    answer.append(note);
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
  if (event.key === "+" || event.key === "=") {
    zoomStep(1);
    event.preventDefault();
    return;
  }
  if (event.key === "-" || event.key === "_") {
    zoomStep(-1);
    event.preventDefault();
    return;
  }
  if (event.key === "0") {
    setZoom(1);
    event.preventDefault();
    return;
  }
  if (!state.cursor) state.cursor = { x: Math.floor(width / 2), y: Math.floor(height / 2) };
  if (moves[event.key]) {
    const [dx, dy] = moves[event.key];
    state.cursor = {
      x: Math.min(Math.max(state.cursor.x + dx, 0), width - 1),
      y: Math.min(Math.max(state.cursor.y + dy, 0), height - 1),
    };
    placeCrosshair(state.cursor);
    $("crosshair").scrollIntoView({ block: "nearest", inline: "nearest" });
    event.preventDefault();
  } else if (event.key === "Enter" || event.key === " ") {
    lookUp(state.cursor);
    event.preventDefault();
  }
}

// ---- downloads, share link, not-found list -------------------------------------------

// Saves the last picture in `format`: the same link in another format is rendered again
// by the server, so nothing on the page changes and one click is one download. The link is
// asked first, so that an expired one is reported rather than saved as a file.
async function onDownload(event) {
  const format = event.target.dataset.format;
  if (!format || !state.last || state.downloading) return;
  state.downloading = true;
  const href = `/api/pictures/${state.last.id}.${format}?download=1`;
  try {
    let check;
    try {
      check = await fetch(href, { method: "HEAD" });
    } catch {
      throw new Error("The server cannot be reached (network error).");
    }
    if (!check.ok) {
      const body = await fetch(href).then((r) => r.json()).catch(() => ({}));
      throw new Error(body.error ? body.error.message : `${check.status} ${check.statusText}`);
    }
    const link = document.createElement("a");
    link.href = href;
    link.download = "";
    document.body.append(link);
    link.click();
    link.remove();
  } catch (error) {
    showError("The download failed: " + error.message);
    markStale(true);
  } finally {
    setTimeout(() => { state.downloading = false; }, 1000);
  }
}

async function copyText(text, button) {
  const label = button.textContent;
  try {
    await navigator.clipboard.writeText(text);
    button.textContent = "Copied";
  } catch {
    button.textContent = "Copy failed: select the text and copy it";
  }
  setTimeout(() => { button.textContent = label; }, 1500);
}

function saveNotFound() {
  if (!state.last) return;
  const blob = new Blob([state.last.notFound.join("\n") + "\n"], { type: "text/plain" });
  const link = document.createElement("a");
  link.href = URL.createObjectURL(blob);
  link.download = "zembra-not-found.txt";
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(link.href), 10_000);
}

// A share link (/?render=ID) fills the form with what was asked and shows its result.
async function openShared(id) {
  showProgress("Opening the shared result…");
  try {
    const kept = await fetchJson(`/api/renders/${encodeURIComponent(id)}`);
    for (const field of orderFields) {
      if (kept.order[field.name] !== undefined) field.write(kept.order[field.name]);
    }
    // A style keeps its rows; the form shows their codes.
    const codes = kept.order.rows ? [...new Set(kept.order.rows.map((r) => r.zip))] : kept.order.zips;
    $("codes").value = codes.join("\n");
    state.last = kept.result;
    showResult(kept.result);
    showProgress(summary(kept.result));
  } catch (error) {
    showError("This link cannot be opened: " + error.message);
  }
}

document.addEventListener("DOMContentLoaded", async () => {
  $("order").addEventListener("submit", onRender);
  $("order").addEventListener("keydown", (event) => {
    if (event.key === "Enter" && (event.ctrlKey || event.metaKey)) {
      event.preventDefault();
      $("order").requestSubmit();
    }
  });
  // An edit makes the result on screen out of date until the next render.
  const edited = () => {
    if (!state.last || state.rendering) return;
    markStale(true);
    $("render-status").textContent = "";
  };
  $("order").addEventListener("input", edited);
  $("order").addEventListener("change", edited);
  $("csv-file").addEventListener("change", onCsvChosen);
  $("csv-sheet").addEventListener("change", onCsvChosen);
  for (const radio of document.querySelectorAll('input[name="source"]')) {
    radio.addEventListener("change", onSourceChanged);
  }
  const frame = $("viewport");
  frame.addEventListener("pointerdown", onPointerDown);
  frame.addEventListener("pointermove", onPointerMove);
  frame.addEventListener("pointerup", onPointerUp);
  frame.addEventListener("pointercancel", (e) => { pointers.delete(e.pointerId); gesture = null; });
  frame.addEventListener("wheel", onWheel, { passive: false });
  $("picture").addEventListener("keydown", onPictureKey);
  $("zoom-in").addEventListener("click", () => zoomStep(1));
  $("zoom-out").addEventListener("click", () => zoomStep(-1));
  $("zoom-fit").addEventListener("click", () => setZoom(1));
  $("zoom-full").addEventListener("click", zoomToFull);
  // The fitted size follows the frame's width (window size, text zoom, a phone turned).
  let fittedWidth = 0;
  new ResizeObserver(() => {
    const width = $("picture-box").clientWidth;
    if (!$("picture-box").hidden && width !== fittedWidth) {
      fittedWidth = width;
      setZoom(state.zoom);
    }
  }).observe($("picture-box"));
  document.querySelector(".downloads").addEventListener("click", onDownload);
  $("copy-share").addEventListener("click", (e) => copyText($("share-link").value, e.target));
  $("copy-not-found").addEventListener("click", (e) => copyText(state.last ? state.last.notFound.join("\n") : "", e.target));
  $("save-not-found").addEventListener("click", saveNotFound);
  try {
    await loadCatalogue();
  } catch (error) {
    showError("Could not load the maps: " + error.message);
    return;
  }
  const shared = new URLSearchParams(window.location.search).get("render");
  if (shared) openShared(shared);
});
