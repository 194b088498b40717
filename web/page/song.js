// The song, made in the page: as soon as the page loads, a Web Worker (song-worker.js) renders
// it from the score with the same synthesizer as the native tool, and hands over the samples;
// audioBuffer() turns them into the AudioBuffer the show plays. A link to a still needs no
// music, so it renders nothing.
'use strict';
window.vellamorSong = (function () {
  const song = {
    file: 'data/ruvo_megasong_bpm_124c.ogg', // the name the show loads its music by
    progress: 0,     // 0 to 1
    times: {},       // page clock (ms): start, ready; for the benchmarks
    stats: null,     // the worker's own figures: renderMs, heapBytes
    listeners: [],   // progress(fraction) callbacks
  };
  let samples = null, buffer = null;

  function show(fraction) {
    const text = document.getElementById('song-progress');
    if (text) {
      text.textContent = fraction < 1 ? 'making the music\u2026 ' +
        Math.floor(fraction * 100) + ' %' : '';
    }
  }

  // Starts the render once; a promise of {left, right, rate}.
  song.start = function () {
    if (samples) return samples;
    song.times.start = performance.now();
    samples = new Promise((resolve, reject) => {
      const worker = new Worker('song-worker.js');
      worker.onmessage = (event) => {
        const message = event.data;
        if (message.progress !== undefined) {
          song.progress = message.progress;
          show(song.progress);
          song.listeners.forEach((listener) => listener(song.progress));
          return;
        }
        worker.terminate();
        if (message.error) {
          reject(new Error(message.error));
          return;
        }
        song.times.ready = performance.now();
        song.stats = {renderMs: message.renderMs, heapBytes: message.heapBytes};
        song.progress = 1;
        show(1);
        song.listeners.forEach((listener) => listener(1));
        resolve(message);
      };
      worker.onerror = (event) => {
        event.preventDefault();
        reject(new Error(event.message || 'the song\'s worker failed'));
      };
    });
    return samples;
  };

  // A promise of the song as an AudioBuffer, made once; `onProgress(fraction)` follows the
  // render until then. It needs no AudioContext (one plays it after the viewer's click); the
  // worker's arrays are let go once copied into it.
  song.audioBuffer = function (onProgress) {
    if (onProgress) {
      song.listeners.push(onProgress);
      onProgress(song.progress);
    }
    if (!buffer) {
      buffer = song.start().then((made) => {
        const audio = new AudioBuffer({numberOfChannels: 2, length: made.left.length,
                                       sampleRate: made.rate});
        audio.copyToChannel(made.left, 0);
        audio.copyToChannel(made.right, 1);
        made.left = made.right = null;
        return audio;
      });
    }
    return buffer;
  };

  if (!new URLSearchParams(location.hash.slice(1)).has('still')) song.start();
  return song;
})();
