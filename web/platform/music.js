// The music of the browser edition, on Web Audio. The page makes the song's samples itself while
// the viewer waits (song.js: a worker renders them as soon as the page loads; only after a click
// may it play sound); the show's SDL_mixer calls then find the song ready and play it at once,
// from the position they ask for.
mergeInto(LibraryManager.library, {
  $VellamorMusic__postset: 'Module["vellamorMusic"] = VellamorMusic;',
  $VellamorMusic: {
    context: null,
    decoded: {},    // file name -> AudioBuffer
    handles: [null], // handle -> AudioBuffer; 0 is no music
    source: null,
    startedAt: 0,   // context time of position 0 of the playing music

    // Called by the page on the click: starts the audio and waits for the song, once;
    // `onProgress(fraction)` follows its making.
    prepare: function(context, onProgress) {
      VellamorMusic.context = context;
      if (!VellamorMusic.decoding) VellamorMusic.decoding = VellamorMusic.loadSong(onProgress);
      return VellamorMusic.decoding;
    },
    decoding: null,
    // The song's AudioBuffer, under the file name the show loads it by.
    loadSong: function(onProgress) {
      var song = window.vellamorSong;
      return song.audioBuffer(onProgress).then(function(buffer) {
        VellamorMusic.decoded[song.file] = buffer;
      });
    },
    // Seconds into the playing music, or -1.
    position: function() {
      var m = VellamorMusic;
      return m.source ? m.context.currentTime - m.startedAt : -1;
    },
    stop: function() {
      if (VellamorMusic.source) {
        VellamorMusic.source.stop();
        VellamorMusic.source.disconnect();
        VellamorMusic.source = null;
      }
    },
  },

  vellamor_music_open__deps: ['$VellamorMusic'],
  vellamor_music_open: function() {
    return VellamorMusic.context ? 0 : -1;
  },

  vellamor_music_load__deps: ['$VellamorMusic'],
  vellamor_music_load: function(path) {
    var buffer = VellamorMusic.decoded[UTF8ToString(path)];
    if (!buffer) return 0;
    VellamorMusic.handles.push(buffer);
    return VellamorMusic.handles.length - 1;
  },

  // Plays the music of `handle` once, from `position` seconds, replacing what plays.
  vellamor_music_play__deps: ['$VellamorMusic'],
  vellamor_music_play: function(handle, position) {
    var m = VellamorMusic;
    m.stop();
    m.source = m.context.createBufferSource();
    m.source.buffer = m.handles[handle];
    m.source.connect(m.context.destination);
    m.source.start(0, position);
    m.startedAt = m.context.currentTime - position;
  },

  vellamor_music_stop__deps: ['$VellamorMusic'],
  vellamor_music_stop: function() {
    VellamorMusic.stop();
  },
});
