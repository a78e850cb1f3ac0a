#!/usr/bin/env node
// Prints Veltrane's current weight from its web feed once, or with --follow every new weight and each
// weighment as they come, as "weight W" and "served SLNO WEIGHT DATE TIME". Node.js 18 or later,
// standard library only. A web page does the same with fetch('/api/weight') and
// new EventSource('/api/events'), as the sample page veltrane-sample.html shows.
// VELTRANE_URL: the feed (default http://127.0.0.1:8765); VELTRANE_TOKEN: its token, if it has one.
'use strict';
const url = process.env.VELTRANE_URL || 'http://127.0.0.1:8765';
const token = process.env.VELTRANE_TOKEN;
const headers = token ? { Authorization: `Bearer ${token}` } : {};

async function get(path) {
  const answer = await fetch(url + path, { headers });
  if (!answer.ok) throw new Error(`${path}: ${answer.status} ${(await answer.json()).error}`);
  return answer;
}

async function follow() {
  const decoder = new TextDecoder();
  let pending = '';
  for await (const chunk of (await get('/api/events')).body) {
    pending += decoder.decode(chunk, { stream: true });
    let end;
    // Events end with a blank line; lines starting with ":" are comments that keep the stream open.
    while ((end = pending.indexOf('\n\n')) >= 0) {
      const fields = {};
      for (const line of pending.slice(0, end).split('\n')) {
        const colon = line.indexOf(':');
        if (colon > 0) fields[line.slice(0, colon)] = line.slice(colon + 1).trim();
      }
      pending = pending.slice(end + 2);
      if (!fields.data) continue;
      const data = JSON.parse(fields.data);
      if (fields.event === 'weight') console.log(`weight ${data.weight}`);
      if (fields.event === 'served') console.log(`served ${data.slno} ${data.weight} ${data.datetime}`);
    }
  }
  throw new Error('the feed closed the stream');
}

(process.argv.includes('--follow') ? follow() : get('/api/weight').then(async (answer) => {
  console.log((await answer.json()).weight);
})).catch((error) => {
  console.error(`veltrane: ${error.message}`);
  process.exit(1);
});
