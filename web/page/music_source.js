// Where the page's music comes from: the song made by the page itself (song.js renders it in a
// worker from the page's load), so that the viewer's click only has to start the sound.
// Everything else of the page sees only `load`: a promise of the music, with its progress.
'use strict';
window.vellamorMusicSource = {
  // The file name the show loads its music by.
  name: window.vellamorSong.file.replace(/^.*\//, ''),

  // Resolves to an AudioBuffer. `progress(done, total, text)`: the share done so far, 0 to 1,
  // the bytes to download (0: nothing to download), and what is being done, for the viewer.
  load: function (progress) {
    return window.vellamorSong.audioBuffer((done) => {
      progress(done, 0, `making the music\u2026 ${Math.floor(done * 100)} %`);
    });
  },
};
