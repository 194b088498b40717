// The player's controls over the picture during a run: play and pause (Space), a seek bar marked
// with the show's bars and its two movements (click or drag to jump), mute (M), full screen (F,
// or a double-click) and the position as bar:beat. They fade out after a few seconds without
// pointer movement, and stay while paused. The times of bars come from the show's own tempo in
// the module; picture and music move only through the module's calls.
'use strict';
window.VellamorPlayer = function (Module, stage) {
  const IDLE_MS = 3000;     // without pointer movement, the controls go
  const LABEL_EVERY = 8;    // a numbered mark every 8 bars
  const byId = (id) => document.getElementById(id);
  const controls = byId('controls'), seek = byId('seek'), played = byId('played');
  const playButton = byId('play'), muteButton = byId('mute'), fullButton = byId('full');
  const time = byId('time');
  const music = Module.vellamorMusic;
  let active = false, idleTimer = 0, dragging = false, wasRunning = false, shown = -1;
  const length = Module._vellamor_length_ms();
  const barText = (ms) => Module.ccall('vellamor_bar_beat', 'string', ['number'], [ms]);
  const endText = barText(length);

  // The marks: every bar line, numbered every few bars, and the two movements.
  const share = (ms) => `${(100 * Math.min(ms, length) / length).toFixed(3)}%`;
  const lastBar = Module._vellamor_last_bar(), twoBar = Module._vellamor_movement_two_bar();
  for (let bar = 0; bar <= lastBar; bar += 1) {
    if (bar % LABEL_EVERY !== 0 && bar !== twoBar) continue;
    const mark = document.createElement('div');
    mark.className = 'mark';
    mark.style.left = share(Module._vellamor_bar_ms(bar));
    mark.innerHTML = `<span>${bar}</span>`;
    seek.appendChild(mark);
  }
  const twoAt = Module._vellamor_bar_ms(twoBar);
  for (const [name, from, cls] of [['movement one', 0, 'one'], ['movement two', twoAt, 'two']]) {
    const label = document.createElement('div');
    label.className = `movement ${cls}`;
    label.style.left = share(from);
    label.textContent = name;
    seek.appendChild(label);
  }
  seek.setAttribute('aria-valuemax', String(Math.round(length)));

  function paused() {
    return !music.running;
  }

  // The bar and the time follow the clock on every animation frame of a run.
  function follow() {
    if (!active) return;
    const at = Math.max(0, music.position());
    if (at !== shown) {
      shown = at;
      played.style.width = share(at);
      time.textContent = `${barText(at)} / ${endText}`;
      seek.setAttribute('aria-valuenow', String(Math.round(at)));
    }
    const label = paused() ? 'play' : 'pause';
    if (playButton.textContent !== label) {
      playButton.textContent = label;
      playButton.title = `${label} (Space)`;
    }
    requestAnimationFrame(follow);
  }

  function wake() {
    stage.classList.remove('idle');
    clearTimeout(idleTimer);
    if (active && !paused()) idleTimer = setTimeout(() => stage.classList.add('idle'), IDLE_MS);
  }

  function togglePause() {
    if (paused()) Module._vellamor_resume();
    else Module._vellamor_pause();
    wake();
  }

  function toggleMute() {
    music.setMuted(!music.muted);
    muteButton.textContent = music.muted ? 'sound' : 'mute';
    muteButton.title = `${music.muted ? 'sound on' : 'mute'} (M)`;
    wake();
  }

  function toggleFull() {
    if (document.fullscreenElement) document.exitFullscreen().catch(() => {});
    else window.VellamorPlayer.enterFullScreen();
    wake();
  }

  // A jump to where the pointer is on the bar: held while dragging, played on from release.
  function seekTo(event) {
    const box = seek.getBoundingClientRect();
    const x = Math.min(Math.max(event.clientX - box.left, 0), box.width);
    Module._vellamor_seek(length * x / box.width);
  }
  seek.addEventListener('pointerdown', (event) => {
    if (!active || event.button !== 0) return;
    dragging = true;
    wasRunning = !paused();
    if (wasRunning) music.pause(); // no sound while dragging; the frame follows the pointer
    seek.setPointerCapture(event.pointerId);
    seekTo(event);
  });
  seek.addEventListener('pointermove', (event) => {
    if (dragging) seekTo(event);
  });
  const release = (event) => {
    if (!dragging) return;
    dragging = false;
    seekTo(event);
    if (wasRunning) Module._vellamor_resume();
  };
  seek.addEventListener('pointerup', release);
  seek.addEventListener('pointercancel', release);

  playButton.addEventListener('click', togglePause);
  muteButton.addEventListener('click', toggleMute);
  fullButton.addEventListener('click', toggleFull);
  stage.addEventListener('dblclick', (event) => {
    if (active && !controls.contains(event.target)) toggleFull();
  });
  stage.addEventListener('pointermove', wake);
  // Buttons keep no focus, so that Space is always the player's and never a button's click.
  for (const button of [playButton, muteButton, fullButton])
    button.addEventListener('mousedown', (event) => event.preventDefault());

  // The keys of a run. Gives whether the key was the player's.
  function key(event) {
    if (!active || event.ctrlKey || event.altKey || event.metaKey) return false;
    if (event.key === ' ' || event.code === 'Space') togglePause();
    else if (event.key === 'm' || event.key === 'M') toggleMute();
    else if (event.key === 'f' || event.key === 'F') toggleFull();
    else return false;
    return true;
  }

  return {
    key,
    togglePause,
    paused,
    // A run has started: the controls appear, briefly.
    start() {
      active = true;
      shown = -1;
      controls.classList.remove('hidden');
      wake();
      requestAnimationFrame(follow);
    },
    stop() {
      active = false;
      dragging = false;
      clearTimeout(idleTimer);
      controls.classList.add('hidden');
      stage.classList.remove('idle');
    },
  };
};

// Full screen holds the whole page, start screen and picture alike: a run that falls back to the
// start screen shows it at once, and its buttons take clicks while the browser is still leaving
// full screen, which can take a second on a busy machine.
window.VellamorPlayer.enterFullScreen = function () {
  if (document.fullscreenEnabled) document.documentElement.requestFullscreen().catch(() => {});
};
