// Where the page's music comes from: the show's Ogg file, fetched and decoded while the page
// loads, so that the viewer's click only has to start the sound. Everything else of the page
// sees only `load`: a promise of the decoded music, with its progress on the way.
'use strict';
window.vellamorMusicSource = {
  // The file name the show loads its music by.
  name: 'ruvo_megasong_bpm_124c.ogg',

  // Resolves to an AudioBuffer. `progress(done, total, text)`: the share done so far, 0 to 1
  // (total 0 while unknown), and what is being done, for the viewer.
  load: async function (progress) {
    const Offline = window.OfflineAudioContext || window.webkitOfflineAudioContext;
    if (!Offline) throw new Error('this browser has no Web Audio');
    const response = await fetch(this.name);
    if (!response.ok) throw new Error(`${this.name}: ${response.status} ${response.statusText}`);
    const total = Number(response.headers.get('Content-Length')) || 0;
    const mb = (bytes) => (bytes / 1e6).toFixed(1);
    const chunks = [];
    let done = 0;
    const reader = response.body.getReader();
    for (;;) {
      const { done: finished, value } = await reader.read();
      if (finished) break;
      chunks.push(value);
      done += value.length;
      progress(total ? done / total : 0, total, total ? `loading the music\u2026 ${mb(done)} of ${mb(total)} MB`
                                                       : `loading the music\u2026 ${mb(done)} MB`);
    }
    const bytes = new Uint8Array(done);
    let at = 0;
    for (const chunk of chunks) {
      bytes.set(chunk, at);
      at += chunk.length;
    }
    progress(1, total, 'decoding the music\u2026');
    // An offline context decodes without asking for the sound device, which a page may only
    // start after a click. The song's own rate, so no resampling on the way.
    const decoder = new Offline(2, 1, 44100);
    return await decoder.decodeAudioData(bytes.buffer);
  },
};
