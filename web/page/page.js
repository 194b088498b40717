// The page around the browser edition: the start screen, which loads the music while the show
// sets itself up and then waits for a click; the click that starts sound, clock and picture;
// the picture sized to the window's device pixels; pausing while the page is hidden; the keys;
// the way back to the start screen; links to a single moment (#still=T&after=P), with
// "play from here"; and every failure said on the page, with a way on.
'use strict';
(function () {
  const MAX_WIDTH = 3840, MAX_HEIGHT = 2160; // the largest drawing buffer
  const SOUND_WAIT_MS = 2500; // a run whose sound has not started by then was refused sound

  const byId = (id) => document.getElementById(id);
  const stage = byId('stage'), canvas = byId('canvas'), start = byId('start');
  const status = byId('status'), note = byId('note'), size = byId('size');
  const bar = byId('load').firstElementChild, choices = byId('choices'), here = byId('here');
  const source = window.vellamorMusicSource;
  const times = {}; // milliseconds on the page's clock, for the benchmarks
  let link = new URLSearchParams(location.hash.slice(1));
  let unit = null; // the build's frame size, reduced to its aspect (16:9)
  let music = null, musicError = null, musicLoading = null;
  let audio = null, player = null, running = false, waiting = null, attempt = 0;
  let lastMessage = '', refused = false, soundRefused = false, hiddenPause = false;
  const hasWebAudio = !!(window.AudioContext || window.webkitAudioContext);

  function setState(state, text) {
    document.body.dataset.state = state;
    if (text !== undefined) status.textContent = text;
  }

  // The drawing buffer: the largest size of the show's aspect, in whole multiples of it as the
  // capture program draws other sizes, that fits the window's device pixels (at most 4K), shown
  // 1:1 and centred on whole device pixels. Beyond 4K the picture is scaled up to fill.
  function fit() {
    if (!unit) return;
    const ratio = window.devicePixelRatio || 1;
    const wide = innerWidth * ratio, high = innerHeight * ratio;
    const most = Math.min(Math.floor(MAX_WIDTH / unit.w), Math.floor(MAX_HEIGHT / unit.h));
    const k = Math.max(1, Math.min(most, Math.floor(Math.min(wide / unit.w, high / unit.h))));
    const w = k * unit.w, h = k * unit.h;
    const scale = k < most ? 1 : Math.max(1, Math.min(wide / w, high / h));
    const left = Math.floor((wide - w * scale) / 2), top = Math.floor((high - h * scale) / 2);
    Object.assign(canvas.style, {
      width: `${w * scale / ratio}px`, height: `${h * scale / ratio}px`,
      left: `${left / ratio}px`, top: `${top / ratio}px`,
    });
    if (canvas.width === w && canvas.height === h) return;
    canvas.width = w;
    canvas.height = h;
    Module._vellamor_resized(w, h); // a paused run's frame is drawn again at the new size
    if (document.body.dataset.state === 'still') drawStill();
  }

  function showStage() {
    start.classList.add('hidden');
    stage.classList.remove('hidden');
    fit();
  }

  function showStart(text, state) {
    running = false;
    waiting = null;
    stage.classList.add('hidden');
    start.classList.remove('hidden');
    choices.classList.add('hidden');
    setState(state || 'ready', text || 'click to start');
  }

  function fail(what, error) {
    console.log(what, error);
    showStart(what + (lastMessage ? ': ' + lastMessage : ''), 'failed');
  }

  // No sound to be had: said, with the choice to play without it (and to try the sound again
  // when the browser only refused to start it).
  function offerSilence(text, retry) {
    showStart(text, 'no-sound');
    choices.classList.remove('hidden');
    byId('retry').classList.toggle('hidden', !retry);
  }

  function loadMusic() {
    if (!hasWebAudio) return Promise.resolve();
    musicLoading = source.load((done, total, text) => {
      bar.style.width = `${(100 * done).toFixed(1)}%`;
      if (total) size.textContent = `The music is a ${(total / 1e6).toFixed(1)} MB download.`;
      if (waiting) status.textContent = waitingText(text);
      else if (document.body.dataset.state === 'loading') status.textContent = text;
    }).then((buffer) => {
      music = buffer;
      times.musicReady = performance.now();
    }, (error) => {
      musicError = error;
    }).then(() => {
      if (waiting) proceed();
      else if (document.body.dataset.state === 'loading' && player) whenLoaded();
    });
    return musicLoading;
  }

  // The viewer's click: full screen now, then the first frame at once if the music is ready,
  // otherwise as soon as it is; then sound and clock.
  function begin(from, silent) {
    if (running || waiting) return;
    times.click = performance.now();
    const mine = ++attempt;
    soundRefused = false;
    choices.classList.add('hidden');
    window.VellamorPlayer.enterFullScreen();
    waiting = { from, silent, attempt: mine };
    proceed();
  }

  // A run the viewer asked for starts once the module and (unless silent) the music are ready.
  function proceed() {
    if (!waiting) return;
    if (player && (waiting.silent || music || musicError)) {
      go(waiting.attempt);
      return;
    }
    setState('waiting', waitingText(''));
  }

  // What a viewer who clicked early reads: that the show will start, and the music's progress.
  function waitingText(progress) {
    return 'starting as soon as the music is loaded\u2026' + (progress ? ` (${progress})` : '');
  }

  // The run's first frame, drawn as the run draws it, stays on screen until the music is
  // heard. The sound system is made only once that frame is shown: making it can hold the page
  // for half a second on a busy machine, and the click has already allowed it to sound.
  function go(mine) {
    if (mine !== attempt || !waiting) return;
    if (musicError && !waiting.silent) {
      waiting = null;
      offerSilence(`The music is not ready (${musicError.message}).`, false);
      return;
    }
    showStage();
    here.classList.add('hidden');
    canvas.focus();
    const why = Module.ccall('vellamor_still', 'string', ['string', 'string'],
                             [waiting.from || '0', '']);
    if (why) {
      waiting = null;
      fail('No such moment in the show', why);
      return;
    }
    times.firstFrame = performance.now();
    setState('starting');
    requestAnimationFrame(() => {
      times.firstShown = performance.now();
      setTimeout(() => play(mine), 0);
    });
  }

  function play(mine) {
    if (mine !== attempt || !waiting) return;
    const { from, silent } = waiting;
    waiting = null;
    if (!silent) {
      try {
        audio = audio || new (window.AudioContext || window.webkitAudioContext)();
      } catch (error) {
        refuseSound(error);
        return;
      }
      audio.resume().catch((error) => { if (mine === attempt) refuseSound(error); });
    }
    Module.vellamorMusic.use(silent ? null : audio);
    if (music) Module.vellamorMusic.provide(source.name, music);
    running = true;
    setState('running');
    try {
      Module.ccall('vellamor_start', 'string', ['string'], [from || '']);
    } catch (error) {
      fail('The show could not start', error);
      return;
    }
    player.start();
    if (!silent) watchSound(mine, Module.vellamorMusic.position());
  }

  // The browser may leave the sound suspended (no sound device, a policy): the clock would
  // then never move. Said, with the choice to play silently.
  function watchSound(mine, from) {
    setTimeout(() => {
      if (mine !== attempt || !running || !Module.vellamorMusic.running) return;
      if (audio.state === 'running' && Module.vellamorMusic.position() > from) return;
      refuseSound(new Error(`its audio is ${audio.state}`));
    }, SOUND_WAIT_MS);
  }

  function refuseSound(error) {
    soundRefused = true;
    waiting = null;
    if (running) Module._vellamor_quit();
    offerSilence(`The browser did not start the sound (${error.message || error}). The show ` +
                 'can play without it.', true);
  }

  // The show's last pass: the viewer quit, or the show is over. Refused sound leaves the page
  // in full screen, as the viewer asked for it, with the choice to play on without sound there;
  // any other end gives the window back.
  function ended(showOver) {
    running = false;
    player.stop();
    if (soundRefused) return; // the page keeps saying why
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    if (refused) return;
    showStart(showOver ? 'the end \u2014 click to watch again' : 'click to start');
  }

  function drawStill() {
    const why = Module.ccall('vellamor_still', 'string', ['string', 'string'],
                             [link.get('still'), link.get('after') || '']);
    if (why) {
      showStart('No such moment in the show: ' + why, 'failed');
      return;
    }
    if (refused) return; // the driver refused the shaders; the page already says so
    showStage();
    here.classList.remove('hidden');
    document.body.dataset.still = location.hash;
    setState('still');
  }

  // The module is loaded: the show sets itself up (unseen) while the music may still load.
  function ready() {
    try {
      Module._vellamor_prepare();
    } catch (error) {
      fail('The show could not start', error);
      return;
    }
    if (refused) return;
    unit = reduce(canvas.width, canvas.height); // the size the show set its video mode to
    player = window.VellamorPlayer(Module, stage);
    if (link.has('still')) {
      drawStill();
      return;
    }
    if (waiting) proceed();
    else whenLoaded();
  }

  function reduce(w, h) {
    const gcd = (a, b) => (b ? gcd(b, a % b) : a);
    const g = gcd(w, h);
    return { w: w / g, h: h / g };
  }

  // The start screen once the module is ready, saying what it can play.
  function whenLoaded() {
    if (running || document.body.dataset.state === 'still') return;
    if (!hasWebAudio) {
      offerSilence('This browser has no Web Audio, so the show cannot play its music here.',
                   false);
    } else if (musicError) {
      offerSilence(`The music is not ready (${musicError.message}).`, false);
    } else {
      showStart(music ? 'click to start' : status.textContent, music ? 'ready' : 'loading');
      if (music && !times.ready) times.ready = performance.now();
    }
  }

  start.addEventListener('click', (event) => {
    if (event.target.closest('#choices')) return;
    if (['ready', 'loading'].includes(document.body.dataset.state)) begin('', false);
  });
  byId('silent').addEventListener('click', () => begin('', true));
  byId('retry').addEventListener('click', () => begin('', false));
  here.addEventListener('click', () => begin(link.get('still'), !hasWebAudio || !!musicError));

  // The page reads the keys itself: Escape in full screen only leaves it (the browser's own
  // way out), outside full screen it ends the run, as the native programs' Escape does.
  document.addEventListener('keydown', (event) => {
    if (event.key === 'Escape') {
      if (document.fullscreenElement) {
        document.exitFullscreen().catch(() => {});
      } else if (waiting) {
        ++attempt;
        showStart();
        whenLoaded();
      } else if (running) {
        Module._vellamor_quit();
      }
      event.preventDefault();
      return;
    }
    if (running && player.key(event)) event.preventDefault();
  }, true);
  // A hidden page pauses picture and music together; shown again, it plays on from there.
  document.addEventListener('visibilitychange', () => {
    if (!running) return;
    if (document.hidden && !player.paused()) {
      hiddenPause = true;
      Module._vellamor_pause();
    } else if (!document.hidden && hiddenPause) {
      hiddenPause = false;
      Module._vellamor_resume();
    }
  });
  addEventListener('resize', fit);
  document.addEventListener('fullscreenchange', fit);
  // A new pixel ratio (another screen, the browser's zoom) need not resize the window, nor
  // does every browser say so through a media query: looked at once per frame on screen.
  let ratioSeen = window.devicePixelRatio;
  (function watchRatio() {
    if (window.devicePixelRatio !== ratioSeen && !stage.classList.contains('hidden')) {
      ratioSeen = window.devicePixelRatio;
      fit();
    }
    requestAnimationFrame(watchRatio);
  })();
  // Another moment in the same page: a still link edited in place.
  addEventListener('hashchange', () => {
    link = new URLSearchParams(location.hash.slice(1));
    if (link.has('still') && !running && !waiting && player) drawStill();
  });

  if (!document.createElement('canvas').getContext('webgl2')) {
    setState('no-webgl2', 'This page needs WebGL 2, which this browser does not offer or has ' +
             'turned off. A current Firefox, Chrome, Edge or Safari with hardware ' +
             'acceleration on can show it.');
    note.classList.add('hidden');
    byId('load').classList.add('hidden');
    return;
  }

  window.vellamorTimes = times;
  window.Module = {
    canvas: canvas,
    doNotCaptureKeyboard: true, // the page reads the keys (above)
    print: (text) => { console.log(text); lastMessage = text; },
    onRuntimeInitialized: ready,
    vellamorEnded: ended,
    // The GL layer's word that the browser's driver refused its shaders: nothing more can be
    // drawn, so the show stops and the page says why.
    vellamorFailed: (why) => {
      refused = true;
      if (running) Module._vellamor_quit();
      lastMessage = why;
      fail('The picture could not be drawn', why);
    },
  };
  setState('loading', 'loading\u2026');
  loadMusic();
  const script = document.createElement('script');
  script.src = 'vellamor.js';
  script.onerror = () => setState('failed', 'vellamor.js could not be loaded.');
  document.body.appendChild(script);
})();
