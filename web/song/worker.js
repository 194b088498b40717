// The song's worker: loads the synthesizer (vellamor_song.js and .wasm), renders the whole song
// into two Float32Arrays, reports its progress on the way, hands the arrays to the page
// (transferred, not copied) and ends.
'use strict';
importScripts('vellamor_song.js');

VellamorSong().then((module) => {
  const frames = module._vellamor_song_frames();
  module.songLeft = new Float32Array(frames);
  module.songRight = new Float32Array(frames);
  let reported = -1;
  module.songProgress = (done) => {
    const percent = Math.floor(done * 100);
    if (percent === reported) return;
    reported = percent;
    postMessage({progress: done});
  };
  const started = performance.now();
  try {
    module._vellamor_song_render();
  } catch (error) {
    postMessage({error: 'the song could not be made: ' + error});
    close();
    return;
  }
  const left = module.songLeft, right = module.songRight;
  postMessage({left, right, rate: module._vellamor_song_rate(),
               renderMs: performance.now() - started,
               heapBytes: module._vellamor_song_heap_bytes()},
              [left.buffer, right.buffer]);
  close();
}, (error) => {
  postMessage({error: 'the song\'s synthesizer could not be loaded: ' + error});
  close();
});
