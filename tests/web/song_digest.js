// Renders the song with the browser edition's synthesizer (vellamor_song.js and .wasm in the
// folder given) under node, as the page's worker does, and prints as JSON the SHA-256 of its
// samples in mksong --pcm's layout (32-bit little-endian floats, left and right interleaved),
// the frame count, the module's memory at the end and the render's time.
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

const folder = path.resolve(process.argv[2] || '.');
const factory = require(path.join(folder, 'vellamor_song.js'));
// The module is built for the web: it gets its code here rather than fetching it.
factory({wasmBinary: fs.readFileSync(path.join(folder, 'vellamor_song.wasm'))}).then((song) => {
  const frames = song._vellamor_song_frames();
  song.songLeft = new Float32Array(frames);
  song.songRight = new Float32Array(frames);
  song.songProgress = () => {};
  const started = process.hrtime.bigint();
  song._vellamor_song_render();
  const ms = Number(process.hrtime.bigint() - started) / 1e6;
  const interleaved = new Float32Array(2 * frames);
  for (let i = 0; i < frames; ++i) {
    interleaved[2 * i] = song.songLeft[i];
    interleaved[2 * i + 1] = song.songRight[i];
  }
  const bytes = Buffer.from(interleaved.buffer);
  if (new Uint8Array(new Float32Array([1]).buffer)[3] !== 0x3f) throw new Error('big-endian host');
  console.log(JSON.stringify({
    sha256: crypto.createHash('sha256').update(bytes).digest('hex'),
    frames: frames,
    heapBytes: song._vellamor_song_heap_bytes(),
    renderMs: Math.round(ms),
  }));
}, (error) => {
  console.error('song_digest.js: ' + error);
  process.exit(1);
});
