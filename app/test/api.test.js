'use strict';
// The connector's API as the launcher and the demo page use it: each action and its effect on the status
// documents that follow, the pairing code's life, and the refusals (secret, Origin, Host, body, size,
// method). Secrets are checked with assert.ok and a message of its own, so that no failure prints one.

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const net = require('node:net');
const path = require('node:path');
const { startTestConnector, createTestClock, newToken, makeWorkbench } = require('../test-support/helpers');
const { parsePairingPayload } = require('../lib/pairing');
const {
  MAX_WRONG_CODES, PAUSE_FIRST_MS, PAUSE_MAX_MS, PAUSE_RESET_QUIET_MS, createConnectorState,
} = require('../lib/connector-state');

const START = { deviceName: 'Büro-PC "α"', relayProvider: 'thirdparty' };

async function online(c, body = START) {
  assert.equal((await c.post('/api/connector/start', body)).status, 200);
  return c.waitFor((s) => s.pairingState === 'code', 'a pairing code');
}

test('cold start: idle, default relay, workbench detected with its projects', async (t) => {
  const c = await startTestConnector({ workbenchDir: makeWorkbench(['one', 'two', 'three', '.hidden']) });
  t.after(c.close);
  const s = await c.waitFor((x) => x.workbenchState === 'ready', 'workbench ready');
  assert.equal(s.state, 'idle');
  assert.equal(s.deviceName, 'TEST-PC');
  assert.equal(s.relay, 'quorbelapi');
  assert.equal(s.projectCount, '3');
  assert.match(s.workbenchDetail, /workbench-[^\/]+$/);
  assert.equal(s.pairingState, '');
  assert.equal(s.newVersion, '');
  const open = c.logs.filter((l) => /^warning: .*open to every program on this computer/.test(l));
  assert.equal(open.length, 1, 'without a secret the log says once that the API is open');
});

test('start: connecting, then online with a code whose QR carries code, device and relay', async (t) => {
  const c = await startTestConnector({ connectDelayMs: 200 });
  t.after(c.close);
  assert.equal((await c.post('/api/connector/start', START)).status, 200);
  const connecting = await c.status();
  assert.equal(connecting.state, 'connecting');
  assert.equal(connecting.deviceName, START.deviceName);
  assert.equal(connecting.relay, 'thirdparty');
  assert.equal(connecting.pairingState, '');
  const s = await c.waitFor((x) => x.pairingState === 'code', 'a code');
  assert.equal(s.state, 'online');
  assert.match(s.code, /^[0-9]{6}$/);
  const left = s.codeExpiry - Date.now();
  assert.ok(left > 55000 && left <= 60000, `expiry ${left} ms ahead`);
  const snap = JSON.parse((await c.request('GET', '/api/connector/snapshot')).body);
  assert.equal(snap.pairing.bits, s.matrix);
  assert.deepEqual(parsePairingPayload(snap.pairing.payload), { code: s.code, relay: 'thirdparty', device: START.deviceName });
  assert.ok(c.logs.some((l) => l.includes('state idle -> connecting')) && c.logs.some((l) => l.includes('connecting -> online')));
});

test('stop returns to idle and withdraws the code; stop while idle is fine', async (t) => {
  const c = await startTestConnector();
  t.after(c.close);
  await online(c);
  assert.equal((await c.post('/api/connector/stop')).status, 200);
  const s = await c.status();
  assert.equal(s.state, 'idle');
  assert.equal(s.pairingState, '');
  assert.equal((await c.post('/api/connector/stop')).status, 200);
  assert.equal((await c.status()).state, 'idle');
});

test('stop while connecting cancels going online', async (t) => {
  const c = await startTestConnector({ connectDelayMs: 80 });
  t.after(c.close);
  await c.post('/api/connector/start', START);
  await c.post('/api/connector/stop');
  await new Promise((r) => setTimeout(r, 200));
  assert.equal((await c.status()).state, 'idle');
});

test('an empty device name falls back to the computer name; names are kept on one line', async (t) => {
  const c = await startTestConnector();
  t.after(c.close);
  await c.post('/api/connector/start', { deviceName: '', relayProvider: 'quorbelapi' });
  assert.equal((await c.status()).deviceName, 'TEST-PC');
  await c.post('/api/connector/start', { deviceName: 'a\u2028b\u007fc', relayProvider: 'quorbelapi' });
  assert.equal((await c.status()).deviceName, 'a b c');
});

test('detect: checking, then ready with the new count, or missing', async (t) => {
  const dir = makeWorkbench(['p1']);
  const c = await startTestConnector({ workbenchDir: dir, detectDelayMs: 150 });
  t.after(c.close);
  await c.waitFor((s) => s.workbenchState === 'ready' && s.projectCount === '1', 'first detection');
  fs.mkdirSync(path.join(dir, 'p2'));
  assert.equal((await c.post('/api/connector/desktop/detect')).status, 200);
  const checking = await c.status();
  assert.equal(checking.workbenchState, 'checking');
  assert.equal(checking.projectCount, '');
  await c.waitFor((s) => s.workbenchState === 'ready' && s.projectCount === '2', 'second detection');
  fs.rmSync(dir, { recursive: true });
  await c.post('/api/connector/desktop/detect');
  const missing = await c.waitFor((s) => s.workbenchState !== 'checking', 'detection of a missing directory');
  assert.equal(missing.workbenchState, 'missing');
  assert.equal(missing.workbenchDetail, '');
});

test('pairing reset gives a new code and symbol, also after a phone paired', async (t) => {
  const c = await startTestConnector();
  t.after(c.close);
  const first = await online(c);
  assert.equal((await c.post('/api/connector/pairing/reset')).status, 200);
  const second = await c.status();
  assert.equal(second.pairingState, 'code');
  assert.notEqual(second.matrix, first.matrix);
  assert.ok(second.codeExpiry >= first.codeExpiry);
  assert.equal((await c.post('/api/connector/pairing/pair', { code: second.code })).status, 200);
  assert.equal((await c.status()).pairingState, 'paired');
  await c.post('/api/connector/pairing/reset');
  const third = await c.status();
  assert.equal(third.pairingState, 'code');
  assert.notEqual(third.matrix, second.matrix);
});

test('a phone pairs only with the current code; too many wrong codes replace it and pause pairing', async (t) => {
  const clock = createTestClock();
  const c = await startTestConnector({ clock, codeTtlMs: 3600000 });
  t.after(c.close);
  assert.equal((await c.post('/api/connector/pairing/pair', { code: '000000' })).status, 409, 'not online');
  await c.post('/api/connector/start', START);
  clock.advance(1000);
  const s = await c.waitFor((x) => x.pairingState === 'code', 'a pairing code');
  const wrong = s.code === '000000' ? '000001' : '000000';
  for (let i = 1; i < MAX_WRONG_CODES; i++) {
    assert.equal((await c.post('/api/connector/pairing/pair', { code: wrong })).status, 409);
    assert.equal((await c.status()).code, s.code);
  }
  assert.equal((await c.post('/api/connector/pairing/pair', { code: wrong })).status, 409);
  const replaced = await c.status();
  assert.notEqual(replaced.matrix, s.matrix);
  // Now even the right code waits, and the answer says how long.
  for (const [advance, left] of [[0, PAUSE_FIRST_MS], [PAUSE_FIRST_MS - 1500, 1500]]) {
    clock.advance(advance);
    const paused = await c.post('/api/connector/pairing/pair', { code: replaced.code });
    assert.equal(paused.status, 429);
    assert.deepEqual(JSON.parse(paused.body), { error: 'cooling-down', retryAfterMs: left });
    assert.equal(paused.headers['retry-after'], String(Math.ceil(left / 1000)));
  }
  assert.ok(c.logs.includes('pairing paused for 30 s (replacement 1 for wrong codes in a row)'));
  clock.advance(1500);
  assert.equal((await c.post('/api/connector/pairing/pair', { code: s.code })).status, 409, 'old code is dead');
  assert.equal((await c.post('/api/connector/pairing/pair', { code: replaced.code, phoneName: 'Pixel' })).status, 200);
  const paired = await c.status();
  assert.equal(paired.pairingState, 'paired');
  assert.match(paired.message, /Pixel/);
  // The pairing outlives the connection: stop and start again keeps the phone.
  await c.post('/api/connector/stop');
  assert.equal((await c.status()).pairingState, 'paired');
  await c.post('/api/connector/start', START);
  clock.advance(1000);
  await c.waitFor((x) => x.state === 'online', 'online again');
  assert.equal((await c.status()).pairingState, 'paired');
});

// The connector's state alone on a test clock, online with a code, and a guesser who knows the code and
// always sends another one, so that no guess pairs by chance. guess() counts the guesses on each code.
function guessedState() {
  const clock = createTestClock();
  const config = { deviceName: 'PC', workbenchDir: '', connectDelayMs: 0, detectDelayMs: 0, codeTtlMs: 300000, updateVersion: '', updateLink: '' };
  const state = createConnectorState(config, () => {}, clock);
  state.start('PC', 'quorbelapi');
  clock.advance(0);
  const perCode = new Map();
  function guess() {
    const code = state.view().pairing;
    perCode.set(code, (perCode.get(code) || 0) + 1);
    return state.pairPhone(String((Number(code.code) + 1) % 1000000).padStart(6, '0'), 'guesser');
  }
  return { clock, state, guess, perCode };
}

test('the pause grows 30 s, 60 s, ... 15 min; a pairing or two quiet hours start it again', () => {
  const { clock, state, guess } = guessedState();
  const round = () => {
    for (let i = 0; i < MAX_WRONG_CODES; i++) assert.equal(guess(), 'wrong-code');
    const pause = state.pairingPauseMs();
    assert.equal(guess(), 'paused');
    clock.advance(pause);
    return pause;
  };
  const pauses = Array.from({ length: 8 }, round);
  assert.deepEqual(pauses, [30000, 60000, 120000, 240000, 480000, 900000, 900000, 900000]);
  assert.equal(PAUSE_MAX_MS, 900000);
  // Each round ends with its pause, so the quiet time since the last wrong code has begun already.
  clock.advance(PAUSE_RESET_QUIET_MS - PAUSE_MAX_MS - 1);
  assert.equal(round(), PAUSE_MAX_MS, 'not quiet for long enough');
  clock.advance(PAUSE_RESET_QUIET_MS - PAUSE_MAX_MS);
  assert.equal(round(), PAUSE_FIRST_MS, 'quiet for two hours');
  // Wrong codes count on across an expired code; a pairing starts everything again.
  for (let i = 1; i < MAX_WRONG_CODES; i++) guess();
  clock.advance(300000);
  guess();
  assert.equal(state.pairingPauseMs(), 60000);
  clock.advance(60000);
  guess();
  guess();
  assert.equal(state.pairingPauseMs(), 0, 'mistyping twice is not noticed');
  assert.equal(state.pairPhone(state.view().pairing.code, 'phone'), 'paired');
  state.resetPairing();
  assert.equal(round(), PAUSE_FIRST_MS);
});

// A day of guessing: without pause (each guess as soon as allowed), or resting two quiet hours after
// every restAfter replacements to start the pauses again. The chance to pair is exact: each code is
// uniformly random among 10^6 and the guesser tries distinct values on it.
function guessDay(restAfter = Infinity) {
  const { clock, state, guess, perCode } = guessedState();
  const end = clock.now() + 24 * 3600000;
  let replacements = 0;
  while (clock.now() < end) {
    const pause = state.pairingPauseMs();
    if (pause > 0) { clock.advance(pause); continue; }
    assert.equal(guess(), 'wrong-code');
    if (state.pairingPauseMs() > 0 && ++replacements % restAfter === 0) clock.advance(PAUSE_RESET_QUIET_MS);
  }
  state.close();
  const guesses = [...perCode.values()].reduce((a, b) => a + b, 0);
  const chance = 1 - [...perCode.values()].reduce((p, m) => p * (1 - m / 1e6), 1);
  return { guesses, chance };
}

test('guessing for a day pairs with a chance under 1 %, and resting to start the pauses again does not help', (t) => {
  const steady = guessDay();
  t.diagnostic(`without pause: ${steady.guesses} guesses in 24 h, chance ${(steady.chance * 100).toFixed(6)} %`);
  assert.equal(steady.guesses, 500);
  assert.ok(steady.chance < 0.01);
  for (let rest = 1; rest <= 6; rest++) {
    const rested = guessDay(rest).guesses;
    assert.ok(rested <= steady.guesses, `resting after ${rest} replacements: ${rested} guesses`);
  }
});

test('a code expires: a new one follows, and the old one no longer pairs', async (t) => {
  const c = await startTestConnector({ codeTtlMs: 300 });
  t.after(c.close);
  const first = await online(c);
  const second = await c.waitFor((s) => s.pairingState === 'code' && s.codeExpiry > first.codeExpiry, 'a new code', 2000);
  assert.notEqual(second.matrix, first.matrix);
  assert.ok(second.codeExpiry - first.codeExpiry >= 250);
  if (second.code !== first.code) {
    assert.equal((await c.post('/api/connector/pairing/pair', { code: first.code })).status, 409);
  }
  assert.ok(c.logs.some((l) => l.includes('pairing code issued (expired)')));
});

test('the page simulates interruption, failure and recovery', async (t) => {
  const c = await startTestConnector();
  t.after(c.close);
  assert.equal((await c.post('/api/connector/simulate', { event: 'offline' })).status, 409, 'nothing to interrupt');
  await online(c);
  assert.equal((await c.post('/api/connector/simulate', { event: 'offline' })).status, 200);
  let s = await c.status();
  assert.equal(s.state, 'offline');
  assert.equal(s.pairingState, '');
  assert.notEqual(s.message, '');
  assert.equal((await c.post('/api/connector/simulate', { event: 'restore' })).status, 200);
  await c.waitFor((x) => x.state === 'online' && x.pairingState === 'code', 'recovery');
  await c.post('/api/connector/simulate', { event: 'error' });
  s = await c.status();
  assert.equal(s.state, 'error');
  assert.equal(s.pairingState, '');
  assert.equal((await c.post('/api/connector/simulate', { event: 'explode' })).status, 400);
});

test('an update offer from the configuration appears in the document', async (t) => {
  const c = await startTestConnector({ updateVersion: '1.4.0', updateLink: 'https://downloads.example.test/tovix/1.4.0' });
  t.after(c.close);
  const s = await c.status();
  assert.equal(s.newVersion, '1.4.0');
  assert.equal(s.updateLink, 'https://downloads.example.test/tovix/1.4.0');
  const bad = await startTestConnector({ updateVersion: '1.4.0', updateLink: 'http://downloads.example.test/' });
  t.after(bad.close);
  assert.equal((await bad.status()).newVersion, '');
});

// Every kind of API request, each with a body it would be accepted with, and its answer given the secret.
const API_REQUESTS = [
  ['GET', '/api/connector/desktop', undefined, 200], ['HEAD', '/api/connector/desktop', undefined, 200],
  ['GET', '/api/connector/snapshot', undefined, 200], ['POST', '/api/connector/start', START, 200],
  ['POST', '/api/connector/desktop/detect', {}, 200], ['POST', '/api/connector/pairing/reset', {}, 200],
  ['POST', '/api/connector/pairing/pair', { code: '000000' }, 409], ['POST', '/api/connector/simulate', { event: 'error' }, 200],
  ['POST', '/api/connector/stop', {}, 200], ['GET', '/api/connector/unknown', undefined, 404],
  ['DELETE', '/api/connector/stop', undefined, 405], ['GET', '/api', undefined, 404],
];

test('with a secret, API requests without it or with a wrong one get 401 before anything else', async (t) => {
  const token = newToken();
  const clock = createTestClock();
  const c = await startTestConnector({ token, clock, codeTtlMs: 3600000 });
  t.after(c.close);
  assert.equal((await c.post('/api/connector/start', START)).status, 200);
  clock.advance(1000);
  const before = await c.waitFor((s) => s.pairingState === 'code' && s.workbenchState === 'ready', 'online and detected');
  const logged = c.logs.length;
  const other = newToken();
  const wrong = [undefined, '', 'Bearer', 'Bearer ', `Bearer ${other}`, `Bearer ${token.slice(0, -1)}`, `Bearer ${token}0`,
    `bearer ${token}`, `Bearer ${token.toUpperCase()}`, `Bearer  ${token}`, token, `Basic ${Buffer.from(`x:${token}`).toString('base64')}`];
  let refused = 0;
  for (const [method, route, body] of API_REQUESTS) {
    for (const [i, authorization] of wrong.entries()) {
      // A foreign Host and no Origin would be refused too, but the secret is checked first.
      const headers = { Authorization: authorization, ...(i % 2 ? { Host: 'attacker.example', Origin: undefined } : { Origin: c.origin }) };
      const res = await c.request(method, route, { body: body && JSON.stringify(body), headers });
      refused += 1;
      assert.ok(res.status === 401, `${method} ${route} with wrong secret #${i}: ${res.status}`);
      assert.equal(res.headers['www-authenticate'], 'Bearer');
      if (method !== 'HEAD') assert.deepEqual(JSON.parse(res.body), { error: 'unauthorized' });
      assert.ok(!res.body.includes(token) && !JSON.stringify(res.headers).includes(token), 'the secret is not in the answer');
    }
  }
  // Answered at once, the announced body never read.
  const early = await new Promise((resolve) => {
    const socket = net.connect(c.port, '127.0.0.1', () => {
      socket.write(`POST /api/connector/stop HTTP/1.1\r\nHost: 127.0.0.1:${c.port}\r\nOrigin: ${c.origin}\r\nContent-Length: 100000\r\n\r\n{`);
    });
    let text = '';
    socket.on('data', (d) => { text += d; if (text.includes('\r\n\r\n')) { socket.destroy(); resolve(text); } });
    socket.on('error', () => resolve(text));
  });
  assert.match(early, /^HTTP\/1\.1 401 /);
  refused += 1;
  assert.equal((await c.request('GET', '/connect.html', { headers: { Authorization: undefined } })).status, 200, 'the page is public');
  assert.equal((await c.request('GET', '/', { headers: { Authorization: undefined } })).status, 302);

  const after = await c.status();
  assert.deepEqual(after, before, 'nothing changed');
  assert.deepEqual(c.logs.slice(logged), [], 'no line per refused request');
  clock.advance(60000);
  assert.deepEqual(c.logs.slice(logged), [`refused ${refused} requests without the connector secret in the last minute`]);
  clock.advance(120000);
  assert.equal(c.logs.length, logged + 1, 'no refusals, no line');

  // With the secret, the same requests are answered as always.
  for (const [method, route, body, status] of API_REQUESTS) {
    const res = await c.request(method, route, { body: body && JSON.stringify(body), headers: { Origin: c.origin } });
    assert.equal(res.status, status, `${method} ${route} with the secret`);
  }
  assert.equal((await c.status()).state, 'idle', 'the stop was done');
  assert.ok(!c.logs.some((l) => l.includes(token)), 'the secret is not in the log');
  assert.ok(!c.logs.some((l) => l.startsWith('warning: ')), 'with a secret the API is not open');
});

test('POSTs need exactly the loopback Origin with our port', async (t) => {
  const c = await startTestConnector();
  t.after(c.close);
  const origins = [undefined, 'null', `http://localhost:${c.port}`, `http://127.0.0.1:${c.port + 1}`,
    `https://127.0.0.1:${c.port}`, `http://127.0.0.1:${c.port}/`, 'http://evil.example'];
  for (const origin of origins) {
    const headers = { 'Content-Type': 'application/json', ...(origin ? { Origin: origin } : {}) };
    for (const route of ['/api/connector/start', '/api/connector/stop', '/api/connector/pairing/pair']) {
      const res = await c.post(route, START, headers);
      assert.equal(res.status, 403, `${route} with Origin ${origin}`);
    }
  }
  assert.equal((await c.status()).state, 'idle');
  assert.ok(!c.logs.some((l) => l.includes('request start')));
});

test('bodies that are not JSON of the expected shape get 400 and change nothing', async (t) => {
  const c = await startTestConnector();
  t.after(c.close);
  const bad = [
    ['/api/connector/start', ''], ['/api/connector/start', '{'], ['/api/connector/start', '[]'],
    ['/api/connector/start', 'null'], ['/api/connector/start', '"x"'], ['/api/connector/start', '{}'],
    ['/api/connector/start', JSON.stringify({ deviceName: 5, relayProvider: 'quorbelapi' })],
    ['/api/connector/start', JSON.stringify({ deviceName: 'x', relayProvider: 'QUORBELAPI' })],
    ['/api/connector/start', JSON.stringify({ deviceName: 'x' })],
    ['/api/connector/start', JSON.stringify({ deviceName: 'x'.repeat(101), relayProvider: 'quorbelapi' })],
    ['/api/connector/start', Buffer.from([0x7b, 0x22, 0xff, 0x22, 0x7d])],
    ['/api/connector/stop', ''], ['/api/connector/stop', 'stop'], ['/api/connector/desktop/detect', '[1]'],
    ['/api/connector/pairing/reset', '1'], ['/api/connector/pairing/pair', '{"code":"12345"}'],
    ['/api/connector/pairing/pair', '{"code":123456}'],
  ];
  for (const [route, body] of bad) {
    const res = await c.post(route, body);
    assert.equal(res.status, 400, `${route} ${body}`);
  }
  assert.equal((await c.status()).state, 'idle');
  assert.equal((await c.post('/api/connector/start', { deviceName: 'x'.repeat(100), relayProvider: 'quorbelapi' })).status, 200);
});

test('bodies over the limit get 413, declared or streamed', async (t) => {
  const c = await startTestConnector();
  t.after(c.close);
  const big = JSON.stringify({ deviceName: 'x'.repeat(5000), relayProvider: 'quorbelapi' });
  assert.equal((await c.post('/api/connector/start', big)).status, 413);
  const streamed = await new Promise((resolve) => {
    const socket = net.connect(c.port, '127.0.0.1', () => {
      socket.write(`POST /api/connector/start HTTP/1.1\r\nHost: 127.0.0.1:${c.port}\r\nOrigin: ${c.origin}\r\n` +
        'Content-Type: application/json\r\nTransfer-Encoding: chunked\r\n\r\n');
      for (let i = 0; i < 10; i++) socket.write(`400\r\n${'x'.repeat(1024)}\r\n`);
    });
    let text = '';
    socket.on('data', (d) => { text += d; });
    socket.on('close', () => resolve(text));
    socket.on('error', () => resolve(text));
  });
  assert.match(streamed, /^HTTP\/1\.1 413 /);
  assert.equal((await c.status()).state, 'idle');
});

test('wrong method, unknown path and foreign Host are refused; the page is served', async (t) => {
  const c = await startTestConnector();
  t.after(c.close);
  assert.equal((await c.request('GET', '/api/connector/start')).status, 405);
  assert.equal((await c.request('POST', '/api/connector/desktop', { headers: { Origin: c.origin } })).status, 405);
  assert.equal((await c.request('GET', '/api/connector/unknown')).status, 404);
  assert.equal((await c.request('GET', '/api/connector/desktop', { headers: { Host: 'attacker.example:8093' } })).status, 421);
  assert.equal((await c.request('GET', '/api/connector/desktop', { headers: { Host: `localhost:${c.port}` } })).status, 200);
  const page = await c.request('GET', '/connect.html');
  assert.equal(page.status, 200);
  assert.equal(page.headers.connection, 'close', 'no idle connection to be dropped under a client');
  assert.match(page.headers['content-type'], /^text\/html/);
  assert.match(page.body.toString(), /中继为模拟/);
  assert.equal((await c.request('GET', '/connect.js')).status, 200);
});

test('malformed HTTP and aborted requests do not stop the server', async (t) => {
  const c = await startTestConnector();
  t.after(c.close);
  for (const raw of ['GARBAGE\r\n\r\n', 'GET / HTTP/1.1\r\nHost: x\r\nContent-Length: -1\r\n\r\n', '\u0000\u0001\u0002',
    `POST /api/connector/start HTTP/1.1\r\nHost: 127.0.0.1:${c.port}\r\nOrigin: ${c.origin}\r\nContent-Length: 50\r\n\r\n{"dev`]) {
    await new Promise((resolve) => {
      const socket = net.connect(c.port, '127.0.0.1', () => { socket.end(raw); });
      socket.on('data', () => {});
      socket.on('close', resolve);
      socket.on('error', resolve);
    });
  }
  assert.equal((await c.status()).state, 'idle');
});

test('a long workbench path is shortened in the middle to fit the window line', () => {
  const { shortPath, DETAIL_PATH_UNITS } = require('../lib/connector-state');
  assert.equal(shortPath('C:\\Users\\me\\Tovix'), 'C:\\Users\\me\\Tovix');
  const long = 'Z:\\work\\main\\build-connector\\win-snap\\e2e\\workbench';
  const short = shortPath(long);
  assert.equal(short.length, DETAIL_PATH_UNITS);
  assert.ok(short.startsWith('Z:\\\u2026') && short.endsWith('\\workbench'), short);
  const emoji = shortPath('C:\\' + 'a'.repeat(40) + '\ud83d\ude00'.repeat(14) + 'b');
  assert.equal(new TextDecoder('utf-8', { fatal: true }).decode(Buffer.from(emoji)), emoji);
  assert.ok(!/^[\udc00-\udfff]/.test(emoji.slice(4)), 'no half character after the ellipsis');
});
