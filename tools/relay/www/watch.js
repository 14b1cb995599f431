// The watch page's player. The broadcast's key comes from the page's address
// (/?stream=KEY); its HLS playlist is <data-hls-base>KEY.m3u8 on the
// same relay. The page plays it with hls.js (Media Source Extensions), or with
// the browser's own HLS support where it has no MSE (Safari on iOS).
//
// States (the body's data-state, which the style sheet follows):
//   offair  nothing is published: the playlist is asked for every POLL_MS
//           and playing starts as soon as a live one is there;
//   onair   a player is attached; a fatal player error, the end of the
//           stream or a picture that stands still for STALL_MS means the
//           broadcaster has gone, and the page goes back to offair;
//   stopped the viewer pressed "시청중지";
//   invalid the address names no broadcast, or the browser cannot play HLS.
(function () {
  'use strict';

  const POLL_MS = 2000;
  const START_GRACE_MS = 20000; // from attaching a player to the first moving picture
  const STALL_MS = 8000;
  const WATCHDOG_MS = 500;
  const SEARCHING = '방송을 찾는 중입니다...';
  const UNMUTE_HINT = '소리를 들으려면 음소거를 해제하세요.';
  // Keys as the relay's publish address carries them (rtmp://host/app/KEY).
  const KEY_PATTERN = /^[A-Za-z0-9_-][A-Za-z0-9_.-]{0,63}$/;

  const body = document.body;
  const video = document.getElementById('video');
  const statusLine = document.getElementById('status');
  const badge = document.getElementById('onair-badge');
  const volume = document.getElementById('volume');
  const mute = document.getElementById('mute');
  const stopButton = document.getElementById('stop');

  let hls = null;
  let generation = 0; // bumped whenever a player goes: late events of an old one are ignored
  let pollTimer = 0;
  let staleText = null; // the playlist as it stood when the broadcast was last seen ending
  let lastTime = 0;
  let lastProgressAt = 0;
  let moved = false; // the picture has moved since the player was attached
  let mutedByBrowser = false; // started without sound because the browser wanted so

  function setStatus(text) {
    statusLine.textContent = text;
  }

  function setBuffering(on) {
    body.dataset.buffering = on ? 'yes' : 'no';
  }

  function setState(state) {
    body.dataset.state = state;
    badge.textContent = state === 'onair' ? '● 방송중' : '방송 준비중';
    stopButton.textContent = state === 'stopped' ? '시청하기' : '시청중지';
    stopButton.disabled = state === 'invalid';
  }

  function noteError(what) {
    body.dataset.lastError = what;
    console.warn('watch: ' + what);
  }

  const key = new URLSearchParams(window.location.search).get('stream') || '';
  if (!KEY_PATTERN.test(key)) {
    setState('invalid');
    setStatus('시청할 방송이 주소에 없습니다. 주소 끝에 ?stream=방송키 를 붙이세요.');
    return;
  }
  const playlistUrl = (body.dataset.hlsBase || '/hls/') + encodeURIComponent(key) + '.m3u8';
  document.getElementById('room').textContent = key;
  const useHlsJs = !!(window.Hls && window.Hls.isSupported());
  const useNative = !useHlsJs && video.canPlayType('application/vnd.apple.mpegurl') !== '';
  if (!useHlsJs && !useNative) {
    setState('invalid');
    setStatus('이 브라우저는 방송을 재생할 수 없습니다. 다른 브라우저로 시청하세요.');
    return;
  }

  // The playlist with its age in seconds (server clock: Date minus
  // Last-Modified; 0 when either is missing), or null when there is none.
  async function fetchPlaylist() {
    try {
      const res = await fetch(playlistUrl, { cache: 'no-store' });
      if (!res.ok)
        return null;
      const text = await res.text();
      const served = Date.parse(res.headers.get('Date') || '');
      const modified = Date.parse(res.headers.get('Last-Modified') || '');
      const age = isNaN(served) || isNaN(modified) ? 0 : (served - modified) / 1000;
      return { text: text, age: age };
    } catch (e) {
      return null;
    }
  }

  // A playlist of a running broadcast: it has fragments, is not closed, was
  // written within three fragment lengths, and is not the one a broadcast
  // ended with (the relay keeps that a little while after the publisher left).
  function isLive(playlist) {
    if (!playlist || playlist.text === staleText)
      return false;
    const text = playlist.text;
    if (text.indexOf('#EXTINF') < 0 || text.indexOf('#EXT-X-ENDLIST') >= 0)
      return false;
    const target = /#EXT-X-TARGETDURATION:(\d+)/.exec(text);
    const limit = Math.max(8, 3 * (target ? Number(target[1]) : 2) + 2);
    return playlist.age <= limit;
  }

  function schedulePoll(ms) {
    window.clearTimeout(pollTimer);
    pollTimer = window.setTimeout(poll, ms);
  }

  async function poll() {
    if (body.dataset.state !== 'offair')
      return;
    const playlist = await fetchPlaylist();
    if (body.dataset.state !== 'offair')
      return;
    if (isLive(playlist)) {
      startPlayer();
      return;
    }
    if (statusLine.textContent === SEARCHING)
      setStatus('지금은 방송 중이 아닙니다. 방송이 시작되면 자동으로 시청합니다.');
    schedulePoll(POLL_MS);
  }

  function play() {
    const started = video.play();
    if (!started || !started.catch)
      return;
    const gen = generation;
    started.catch(function (err) {
      if (gen !== generation)
        return;
      // Browsers let a page start a picture by itself only without sound.
      if (err.name === 'NotAllowedError' && !video.muted) {
        video.muted = true;
        mute.checked = true;
        mutedByBrowser = true;
        setStatus(UNMUTE_HINT);
        play();
      } else if (err.name === 'NotAllowedError') {
        setStatus('화면을 누르면 방송이 시작됩니다.');
      }
    });
  }

  function dropPlayer() {
    generation++;
    if (hls) {
      hls.destroy();
      hls = null;
    }
    video.removeAttribute('src');
    video.load();
    setBuffering(false);
  }

  function startPlayer() {
    dropPlayer();
    const gen = generation;
    setState('onair');
    setBuffering(true);
    setStatus('버퍼링중...');
    moved = false;
    lastTime = 0;
    lastProgressAt = performance.now();
    if (useHlsJs) {
      let recovered = false;
      hls = new window.Hls({ liveSyncDurationCount: 3 });
      hls.on(window.Hls.Events.MANIFEST_PARSED, function () {
        if (gen === generation)
          play();
      });
      hls.on(window.Hls.Events.ERROR, function (event, data) {
        if (gen !== generation || !data.fatal)
          return;
        // A decoder hiccup gets one recovery; anything else fatal (the
        // playlist gone, fragments not loading) means the broadcast ended.
        if (data.type === window.Hls.ErrorTypes.MEDIA_ERROR && !recovered) {
          recovered = true;
          hls.recoverMediaError();
          return;
        }
        noteError(data.details);
        endBroadcast();
      });
      hls.attachMedia(video);
      hls.loadSource(playlistUrl);
    } else {
      video.src = playlistUrl;
      play();
    }
  }

  // The broadcaster has gone: remember the playlist it left, go off air and
  // poll for the next broadcast.
  async function endBroadcast() {
    dropPlayer();
    setState('offair');
    setStatus('방송이 끝났습니다. 방송이 다시 시작되면 자동으로 시청합니다.');
    const playlist = await fetchPlaylist();
    staleText = playlist ? playlist.text : null;
    schedulePoll(POLL_MS);
  }

  // Follows the picture: moving means on air, standing too long means the
  // broadcast has ended.
  function watchdog() {
    if (body.dataset.state !== 'onair')
      return;
    const now = performance.now();
    const t = video.currentTime;
    // Paused by the browser (a picture scrolled out of sight, or no start
    // without a click): nothing to judge until it plays again.
    if (video.paused) {
      lastProgressAt = now;
      return;
    }
    if (t > lastTime + 0.01 || (t < lastTime && t > 0)) {
      lastTime = t;
      lastProgressAt = now;
      if (!moved || body.dataset.buffering === 'yes')
        setStatus('방송중 - ' + key + (mutedByBrowser && video.muted ? ' · ' + UNMUTE_HINT : ''));
      moved = true;
      setBuffering(false);
      return;
    }
    if (now - lastProgressAt > (moved ? STALL_MS : START_GRACE_MS)) {
      noteError(moved ? 'stalled' : 'no picture');
      endBroadcast();
    } else if (now - lastProgressAt > 1500) {
      setBuffering(true);
      setStatus('버퍼링중...');
    }
  }

  video.addEventListener('error', function () {
    if (body.dataset.state !== 'onair' || useHlsJs)
      return;
    noteError('video error ' + (video.error ? video.error.code : ''));
    endBroadcast();
  });
  video.addEventListener('ended', function () {
    if (body.dataset.state === 'onair')
      endBroadcast();
  });
  video.addEventListener('click', function () {
    if (body.dataset.state === 'onair' && video.paused)
      play();
  });

  volume.addEventListener('input', function () {
    const v = Number(volume.value);
    video.volume = v / 100;
    volume.title = '볼륨 : ' + v;
  });
  mute.addEventListener('change', function () {
    video.muted = mute.checked;
    mutedByBrowser = false;
    if (body.dataset.state === 'onair' && statusLine.textContent.indexOf(UNMUTE_HINT) >= 0)
      setStatus('방송중 - ' + key);
    if (!mute.checked && body.dataset.state === 'onair' && video.paused)
      play();
  });
  stopButton.addEventListener('click', function () {
    if (body.dataset.state === 'stopped') {
      setState('offair');
      setStatus(SEARCHING);
      poll();
      return;
    }
    window.clearTimeout(pollTimer);
    dropPlayer();
    setState('stopped');
    setStatus('시청을 중지했습니다. 다시 보려면 "시청하기"를 누르세요.');
  });

  setState('offair');
  setBuffering(false);
  setStatus(SEARCHING);
  window.setInterval(watchdog, WATCHDOG_MS);
  poll();
})();
