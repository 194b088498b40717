// The music and the demo clock of the browser edition, on Web Audio. The page hands over the
// decoded music before the viewer's click (a browser decodes in the background, and only after a
// click may it play sound); the show's SDL_mixer calls then play it at once, from the position
// they ask for. The same object keeps the position of the show: while the music plays it is the
// position of the sound leaving the speakers, so picture and sound cannot drift apart, and a
// stalled page finds the music where it has gone on to; without sound it is the page's clock.
// Times are whole or fractional milliseconds of the show, never seconds, so that a position set
// to a frame's time reads back as exactly that time.
mergeInto(LibraryManager.library, {
  $VellamorMusic__postset: 'Module["vellamorMusic"] = VellamorMusic;',
  $VellamorMusic: {
    context: null,   // the AudioContext made on the viewer's click; null plays silently
    output: null,    // the gain node all music goes through (mute)
    muted: false,
    buffers: {},     // file name (without its folder) -> AudioBuffer
    handles: [null], // handle -> AudioBuffer; 0 is no music
    handle: 0,       // the music the show asked to play
    source: null,
    // The clock: `from` ms of the show at `origin` ms of the running clock (the audio output's,
    // or the page's without sound); held at `from` while paused. `last` keeps it from stepping
    // back between two estimates of the output's time.
    started: false,
    running: false,
    from: 0,
    origin: 0,
    last: 0,

    // The page's decoded music, under the file name the show loads it by.
    provide: function(name, buffer) {
      VellamorMusic.buffers[name] = buffer;
    },
    // The sound system to play through, or null for silence; the clock follows it.
    use: function(context) {
      var m = VellamorMusic;
      m.stop();
      m.context = context;
      m.output = null;
      if (context) {
        m.output = context.createGain();
        m.output.gain.value = m.muted ? 0 : 1;
        m.output.connect(context.destination);
      }
    },
    setMuted: function(muted) {
      var m = VellamorMusic;
      m.muted = muted;
      if (m.output) m.output.gain.value = muted ? 0 : 1;
    },

    // Milliseconds of the running clock: the context time of the sample now being heard
    // (the output's timestamp carried forward on the page's clock), or the page's clock.
    now: function() {
      var c = VellamorMusic.context;
      if (!c) return performance.now();
      var stamp = c.getOutputTimestamp ? c.getOutputTimestamp() : null;
      if (stamp && stamp.performanceTime > 0)
        return stamp.contextTime * 1000 + (performance.now() - stamp.performanceTime);
      return (c.currentTime - (c.outputLatency || c.baseLatency || 0)) * 1000;
    },
    // Milliseconds into the show, or -1 when no run is on. Before the sound of a new position
    // is heard the clock stays on it.
    position: function() {
      var m = VellamorMusic;
      if (!m.started) return -1;
      if (!m.running) return m.from;
      m.last = Math.max(m.last, m.from, m.now() - m.origin);
      return m.last;
    },
    // Starts the clock, and the show's music if it asked for one, at `at` ms.
    play: function(at) {
      var m = VellamorMusic;
      m.stopSource();
      m.started = m.running = true;
      m.from = m.last = at;
      if (!m.context) {
        m.origin = performance.now() - at;
        return;
      }
      // The sample at `at` is rendered at context time `when`, and heard when the output
      // reaches that time.
      var when = m.context.currentTime;
      m.origin = when * 1000 - at;
      var buffer = m.handles[m.handle];
      if (!buffer || at / 1000 >= buffer.duration) return;
      m.source = m.context.createBufferSource();
      m.source.buffer = buffer;
      m.source.connect(m.output);
      m.source.start(when, at / 1000);
    },
    // Sets the position: played from there when running, held there when paused.
    seek: function(at) {
      var m = VellamorMusic;
      if (m.running) m.play(at);
      else m.from = m.last = at;
    },
    pause: function() {
      var m = VellamorMusic;
      if (!m.running) return;
      m.from = m.position();
      m.running = false;
      m.stopSource();
    },
    resume: function() {
      var m = VellamorMusic;
      if (m.started && !m.running) m.play(m.from);
    },
    // The end of a run: no music, no clock.
    stop: function() {
      var m = VellamorMusic;
      m.stopSource();
      m.started = m.running = false;
      m.handle = 0;
    },
    stopSource: function() {
      var m = VellamorMusic;
      if (m.source) {
        m.source.stop();
        m.source.disconnect();
        m.source = null;
      }
    },
  },

  vellamor_music_open__deps: ['$VellamorMusic'],
  vellamor_music_open: function() {
    return VellamorMusic.context ? 0 : -1;
  },

  vellamor_music_load__deps: ['$VellamorMusic'],
  vellamor_music_load: function(path) {
    var buffer = VellamorMusic.buffers[UTF8ToString(path).replace(/^.*\//, '')];
    if (!buffer || !VellamorMusic.context) return 0;
    VellamorMusic.handles.push(buffer);
    return VellamorMusic.handles.length - 1;
  },

  // Plays the music of `handle` from `position` seconds, replacing what plays; the clock
  // moves with it.
  vellamor_music_play__deps: ['$VellamorMusic'],
  vellamor_music_play: function(handle, position) {
    VellamorMusic.handle = handle;
    VellamorMusic.play(position * 1000);
  },

  vellamor_music_stop__deps: ['$VellamorMusic'],
  vellamor_music_stop: function() {
    VellamorMusic.stop();
  },

  vellamor_clock_ms__deps: ['$VellamorMusic'],
  vellamor_clock_ms: function() {
    return VellamorMusic.position();
  },
  vellamor_music_pause_resume__deps: ['$VellamorMusic'],
  vellamor_music_pause_resume: function(pause) {
    if (pause) VellamorMusic.pause();
    else VellamorMusic.resume();
  },
  vellamor_clock_seek__deps: ['$VellamorMusic'],
  vellamor_clock_seek: function(at) {
    VellamorMusic.seek(at);
  },
});
