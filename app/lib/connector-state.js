'use strict';
// The connector's state and its simulated relay, driven by the HTTP routes in server.js. One object per
// connector; every change is logged as one line. The relay is simulated: "connecting" turns "online" after
// a configured delay, and "offline" / "error" are reached only through simulate() (the demo page). No
// traffic leaves this computer.

const fs = require('node:fs');
const { LIMITS, singleLine } = require('./status-document');
const { newPairingCode, pairingPayload, qrMatrix } = require('./pairing');
const { systemClock } = require('./clock');

// Wrong codes in a row before the code on offer is replaced, so six digits cannot be guessed. The count
// goes on across codes that expire or are reset, so that waiting for a new code does not restart it.
const MAX_WRONG_CODES = 5;
// After each such replacement pairing pauses, for 30 s the first time and twice as long each further time
// in a row, at most 15 minutes. A person who mistypes a few times never meets a pause; a program that
// guesses without pause gets 500 guesses a day, a chance of 0.05 % to pair.
const PAUSE_FIRST_MS = 30000;
const PAUSE_MAX_MS = 15 * 60000;
// The pauses start again from 30 s after a pairing, or after two hours without a wrong code: a guesser
// who keeps quiet that long to start over guesses less than one who goes on at 15 minutes a round.
const PAUSE_RESET_QUIET_MS = 2 * 3600000;

const MESSAGES = {
  offline: '与中继服务的连接已中断（模拟中继），恢复后可继续。',
  error: '无法连接中继服务（模拟中继），请重新连接。',
};

// The window gives the detail one line, about 30 narrow characters after its label: a long path keeps its
// start (the drive) and its end (the directory's own name) around an ellipsis.
const DETAIL_PATH_UNITS = 24;
function shortPath(dir) {
  const text = String(dir);
  if (text.length <= DETAIL_PATH_UNITS) return text;
  const tail = text.slice(text.length - (DETAIL_PATH_UNITS - 4));
  return `${text.slice(0, 3)}\u2026${/^[\udc00-\udfff]/.test(tail) ? tail.slice(1) : tail}`;
}

function createConnectorState(config, log, clock = systemClock) {
  const s = {
    state: 'idle',
    deviceName: singleLine(config.deviceName, LIMITS.deviceName),
    relayProvider: 'quorbelapi',
    workbench: { state: 'checking', detail: '', projectCount: '' },
    code: null,          // { code, expiresAt, payload, size, bits }
    paired: null,        // { phoneName, at }
    message: '',
  };
  let connectTimer = null;
  let expiryTimer = null;
  let detectTimer = null;
  let detectRound = 0;
  let closed = false;
  // Guessing: wrong codes in a row, replacements for them in a row, the last wrong code, the pause's end.
  const freshGuard = () => ({ wrong: 0, replacements: 0, lastWrongAt: -Infinity, pausedUntil: 0 });
  let guard = freshGuard();

  function setState(next, reason) {
    if (s.state === next) return;
    log(`state ${s.state} -> ${next} (${reason})`);
    s.state = next;
    s.message = MESSAGES[next] || '';
  }

  function clearTimer(t) { if (t) clock.clearTimeout(t); return null; }

  function dropCode(reason) {
    expiryTimer = clearTimer(expiryTimer);
    if (s.code) log(`pairing code withdrawn (${reason})`);
    s.code = null;
  }

  // A fresh code while online and unpaired; the timer replaces it when it expires.
  function issueCode(reason) {
    dropCode(reason);
    if (closed || s.state !== 'online' || s.paired) return;
    const code = newPairingCode();
    const payload = pairingPayload(code, s.deviceName, s.relayProvider);
    const symbol = qrMatrix(payload);
    if (!symbol) {
      log('pairing payload too long for a QR symbol; no code offered');
      return;
    }
    const expiresAt = clock.now() + config.codeTtlMs;
    s.code = { code, expiresAt, payload, size: symbol.size, bits: symbol.bits };
    expiryTimer = clock.setTimeout(() => { expiryTimer = null; issueCode('expired'); }, config.codeTtlMs);
    log(`pairing code issued (${reason}), QR ${symbol.size}x${symbol.size}, expires ${new Date(expiresAt).toISOString()}`);
  }

  function goOnlineLater(reason) {
    connectTimer = clearTimer(connectTimer);
    dropCode(reason);
    setState('connecting', reason);
    connectTimer = clock.setTimeout(() => {
      connectTimer = null;
      setState('online', `simulated relay ${s.relayProvider} answered`);
      issueCode('online');
    }, config.connectDelayMs);
  }

  function start(deviceName, relayProvider) {
    s.deviceName = deviceName;
    s.relayProvider = relayProvider;
    goOnlineLater('start');
  }

  function stop() {
    connectTimer = clearTimer(connectTimer);
    dropCode('stop');
    setState('idle', 'stop');
  }

  // Unpairs the phone and offers a new code; answered false when there is nothing to reset.
  function resetPairing() {
    if (s.paired) {
      log(`phone "${s.paired.phoneName}" unpaired`);
      s.paired = null;
    }
    if (s.state !== 'online') { dropCode('reset while not online'); return; }
    issueCode('reset');
  }

  // Milliseconds until pairing is possible again after too many wrong codes; 0 when it is now.
  function pairingPauseMs() {
    return Math.max(0, guard.pausedUntil - clock.now());
  }

  // The phone side: pairs when the code is the one on offer and has not expired, unless pairing pauses.
  function pairPhone(code, phoneName) {
    if (pairingPauseMs() > 0) return 'paused';
    if (s.state !== 'online' || s.paired) return 'not-offered';
    if (!s.code || s.code.expiresAt <= clock.now()) return 'not-offered';
    const now = clock.now();
    if (code !== s.code.code) {
      if (now - guard.lastWrongAt >= PAUSE_RESET_QUIET_MS) guard = freshGuard();
      guard.lastWrongAt = now;
      guard.wrong += 1;
      log(`wrong pairing code (${guard.wrong}/${MAX_WRONG_CODES})`);
      if (guard.wrong >= MAX_WRONG_CODES) {
        guard.wrong = 0;
        guard.replacements += 1;
        const pause = Math.min(PAUSE_FIRST_MS * 2 ** (guard.replacements - 1), PAUSE_MAX_MS);
        guard.pausedUntil = now + pause;
        issueCode('too many wrong codes');
        log(`pairing paused for ${pause / 1000} s (replacement ${guard.replacements} for wrong codes in a row)`);
      }
      return 'wrong-code';
    }
    guard = freshGuard();
    dropCode('paired');
    s.paired = { phoneName, at: now };
    log(`phone "${phoneName}" paired`);
    return 'paired';
  }

  function simulate(event) {
    if (event === 'offline') {
      if (s.state !== 'online' && s.state !== 'connecting') return false;
      connectTimer = clearTimer(connectTimer);
      dropCode('relay lost');
      setState('offline', 'simulated relay interruption');
      return true;
    }
    if (event === 'error') {
      if (s.state === 'idle') return false;
      connectTimer = clearTimer(connectTimer);
      dropCode('relay failed');
      setState('error', 'simulated relay failure');
      return true;
    }
    if (event === 'restore') {
      if (s.state !== 'offline' && s.state !== 'error') return false;
      goOnlineLater('simulated relay restored');
      return true;
    }
    return false;
  }

  // Workbench detection: "checking" for a moment, then the directory's subdirectories as projects.
  function detect() {
    detectTimer = clearTimer(detectTimer);
    const round = ++detectRound;
    if (s.workbench.state !== 'checking') log(`workbench ${s.workbench.state} -> checking`);
    s.workbench = { state: 'checking', detail: '', projectCount: '' };
    detectTimer = clock.setTimeout(() => {
      detectTimer = null;
      fs.promises.readdir(config.workbenchDir, { withFileTypes: true }).then((entries) => {
        const projects = entries.filter((e) => e.isDirectory() && !e.name.startsWith('.')).length;
        return { state: 'ready', detail: `工作台目录 ${shortPath(config.workbenchDir)}`, projectCount: String(projects) };
      }, () => ({ state: 'missing', detail: '', projectCount: '' })).then((found) => {
        if (closed || round !== detectRound) return;
        s.workbench = found;
        log(found.state === 'ready'
          ? `workbench checking -> ready (${config.workbenchDir}, ${found.projectCount} projects)`
          : `workbench checking -> missing (${config.workbenchDir} is not a readable directory)`);
      });
    }, config.detectDelayMs);
  }

  // What the status document and the page show; a code past its expiry is replaced first, so a stalled
  // timer can never leave an expired code on offer.
  function view() {
    if (s.code && s.code.expiresAt <= clock.now()) issueCode('expired');
    return {
      state: s.state,
      deviceName: s.deviceName,
      workbenchState: s.workbench.state,
      workbenchDetail: s.workbench.detail,
      message: s.paired && s.state === 'online' ? `已与手机「${s.paired.phoneName}」配对（模拟中继）` : s.message,
      projectCount: s.workbench.projectCount,
      pairing: s.paired ? { paired: true, phoneName: s.paired.phoneName } : s.code,
      newVersion: config.updateVersion,
      updateLink: config.updateLink,
      relayProvider: s.relayProvider,
    };
  }

  function close() {
    closed = true;
    connectTimer = clearTimer(connectTimer);
    expiryTimer = clearTimer(expiryTimer);
    detectTimer = clearTimer(detectTimer);
  }

  return { start, stop, resetPairing, pairPhone, pairingPauseMs, simulate, detect, view, close };
}

module.exports = {
  MAX_WRONG_CODES, PAUSE_FIRST_MS, PAUSE_MAX_MS, PAUSE_RESET_QUIET_MS, DETAIL_PATH_UNITS, shortPath, createConnectorState,
};
