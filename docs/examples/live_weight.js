#!/usr/bin/env node
// Prints Veltrane's current weight once, or with --follow every new weight as it changes.
// Node.js standard library only. Run it as the user who runs Veltrane.
'use strict';
const fs = require('fs');
const net = require('net');
const path = require('path');

function socketPath() {
  const runtime = process.env.XDG_RUNTIME_DIR || '';
  if (runtime && fs.statSync(runtime, { throwIfNoEntry: false })?.isDirectory()) {
    return path.join(runtime, 'veltrane.dde');
  }
  return `/tmp/veltrane-${process.getuid()}/veltrane.dde`;
}

const follow = process.argv.includes('--follow');
const feed = net.createConnection(socketPath(), () => {
  feed.write(`${follow ? 'ADVISE' : 'REQUEST'} veltrane weightdata\n`);
});
feed.setEncoding('utf8');

let pending = '';
feed.on('data', (chunk) => {
  pending += chunk;
  let end;
  while ((end = pending.indexOf('\n')) >= 0) {
    const line = pending.slice(0, end);
    pending = pending.slice(end + 1);
    if (!line.startsWith('DATA ')) {
      console.error(`veltrane: ${line}`);
      process.exit(1);
    }
    // An empty text means the weight box was emptied (no reading).
    console.log(line.slice('DATA '.length));
    if (!follow) {
      feed.end();
      return;
    }
  }
});
feed.on('error', (error) => {
  console.error(`veltrane: ${error.message}`);
  process.exit(1);
});
feed.on('end', () => {
  if (follow) {
    console.error('veltrane: the feed closed the connection');
    process.exit(1);
  }
});
