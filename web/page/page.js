// The page around the browser edition: the start screen, the click that starts the audio, full
// screen and the show once the music is made, the way back to the start screen, the canvas
// scaled to the window, and links to a single moment (#still=T&after=P).
'use strict';
(function () {
  const WIDTH = 1280, HEIGHT = 720; // the build's own size; the page only scales it

  const byId = (id) => document.getElementById(id);
  const stage = byId('stage'), canvas = byId('canvas'), start = byId('start');
  const status = byId('status'), note = byId('note');
  let link = new URLSearchParams(location.hash.slice(1));
  const times = {}; // milliseconds on the page's clock, for the benchmarks
  let audio = null, busy = false, running = false, attempt = 0, wasFull = false;
  let lastMessage = '', refused = false;

  function setState(state, text) {
    document.body.dataset.state = state;
    if (text !== undefined) status.textContent = text;
  }

  // Largest size with the show's aspect that fits the window; 1:1 in a window of its size.
  function fit() {
    const scale = Math.min(innerWidth / WIDTH, innerHeight / HEIGHT);
    canvas.style.width = Math.floor(WIDTH * scale) + 'px';
    canvas.style.height = Math.floor(HEIGHT * scale) + 'px';
  }

  function showStage() {
    start.classList.add('hidden');
    stage.classList.remove('hidden');
    fit();
  }

  function showStart(text) {
    busy = running = false;
    stage.classList.add('hidden');
    start.classList.remove('hidden', 'busy');
    setState('ready', text || 'click to start');
  }

  function fail(what, error) {
    console.log(what, error);
    busy = running = false;
    stage.classList.add('hidden');
    start.classList.remove('hidden', 'busy');
    setState('failed', what + (lastMessage ? ': ' + lastMessage : ''));
  }

  function begin() {
    if (busy) return;
    busy = true;
    const mine = ++attempt; // an Escape during the decoding cancels this attempt
    times.click = performance.now();
    // Only a click may start sound and full screen; the rest waits for the music's decoding.
    audio = audio || new AudioContext();
    audio.resume().catch(() => {});
    if (stage.requestFullscreen) stage.requestFullscreen().catch(() => {});
    start.classList.add('busy');
    setState('decoding', 'making the music\u2026');
    const making = (done) => {
      if (mine === attempt && busy && !running && done < 1)
        setState('decoding', 'making the music\u2026 ' + Math.floor(done * 100) + ' %');
    };
    Module.vellamorMusic.prepare(audio, making).then(() => {
      times.decoded = performance.now();
      if (mine !== attempt || !busy) return;
      showStage();
      canvas.focus();
      running = true;
      setState('running');
      try {
        Module._vellamor_start();
      } catch (error) {
        fail('The show could not start', error);
        return;
      }
      // Runs after the show's own callback of the same animation frame: its first frame.
      requestAnimationFrame(() => { times.firstFrame = performance.now(); });
    }, (error) => fail('The music could not be made', error));
  }

  // The show's last pass: the viewer quit, or the show is over.
  function ended(showOver) {
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    if (refused) return; // the page keeps saying why the picture failed
    showStart(showOver ? 'the end \u2014 click to watch again' : 'click to start');
  }

  function drawStill() {
    const why = Module.ccall('vellamor_still', 'string', ['string', 'string'],
                             [link.get('still'), link.get('after') || '']);
    if (why) {
      stage.classList.add('hidden');
      start.classList.remove('hidden');
      setState('failed', 'No such moment in the show: ' + why);
      return;
    }
    if (refused) return; // the driver refused the shaders; the page already says so
    showStage();
    document.body.dataset.still = location.hash;
    setState('still');
  }

  function ready() {
    if (link.has('still')) {
      drawStill();
      return;
    }
    start.addEventListener('click', begin);
    showStart();
  }

  // Escape during the decoding cancels the start.
  function cancel() {
    ++attempt;
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    showStart();
  }
  document.addEventListener('keydown', (event) => {
    if (event.key !== 'Escape') return;
    if (busy && !running) cancel();
    // The show reads the keys of its canvas; an Escape that went elsewhere still ends it.
    else if (running && event.target !== canvas) Module._vellamor_quit();
  });
  // Leaving full screen (the browser's own Escape) ends the show as closing its window does.
  document.addEventListener('fullscreenchange', () => {
    if (document.fullscreenElement) {
      wasFull = true;
      return;
    }
    if (!wasFull) return;
    wasFull = false;
    if (running) Module._vellamor_quit();
    else if (busy) cancel();
  });
  addEventListener('resize', fit);
  // Another moment in the same page: a still link edited in place.
  addEventListener('hashchange', () => {
    link = new URLSearchParams(location.hash.slice(1));
    if (link.has('still') && !busy && window.Module && Module.calledRun) drawStill();
  });

  if (!document.createElement('canvas').getContext('webgl2')) {
    setState('no-webgl2', 'This page needs WebGL 2, which this browser does not offer or has ' +
             'turned off. A current Firefox, Chrome, Edge or Safari with hardware ' +
             'acceleration on can show it.');
    note.classList.add('hidden');
    return;
  }

  window.vellamorTimes = times;
  window.Module = {
    canvas: canvas,
    keyboardListeningElement: canvas, // the show's keys only while the show has the focus
    print: (text) => { console.log(text); lastMessage = text; },
    onRuntimeInitialized: ready,
    vellamorEnded: ended,
    // The GL layer's word that the browser's driver refused its shaders: nothing more can be
    // drawn, so the show stops and the page says why.
    vellamorFailed: (why) => {
      refused = true;
      if (running) Module._vellamor_quit(); // the loop's last pass halts the music
      lastMessage = why;
      fail('The picture could not be drawn', why);
    },
  };
  setState('loading');
  const script = document.createElement('script');
  script.src = 'vellamor.js';
  script.onerror = () => setState('failed', 'vellamor.js could not be loaded.');
  document.body.appendChild(script);
})();
