'use strict';
// The connector's HTTP/1.1 API on the loopback interface: the status document the launcher polls, the
// four actions it posts, the demo page and the page's own requests. Every request that changes state is
// logged as one line. Nothing a client sends can end the server: bad requests get a 4xx answer.

const crypto = require('node:crypto');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { LIMITS, RELAYS, formatStatusDocument, singleLine, updateOffer } = require('./status-document');
const { systemClock } = require('./clock');

const MAX_BODY_BYTES = 4096;   // the launcher's largest body (a start request) is 346 bytes
const REFUSAL_REPORT_MS = 60000;

const PAGES = {
  '/connect.html': { file: 'connect.html', type: 'text/html; charset=utf-8' },
  '/connect.js': { file: 'connect.js', type: 'text/javascript; charset=utf-8' },
  '/icon.svg': { file: 'icon.svg', type: 'image/svg+xml' },
};

// Body shapes of the POST routes; each returns the arguments of the action or null when the shape is wrong.
function startBody(b) {
  if (typeof b.deviceName !== 'string' || !RELAYS.includes(b.relayProvider)) return null;
  if (b.deviceName.length > LIMITS.deviceName) return null;
  return b;
}
function emptyBody(b) { return b; }
function pairBody(b) {
  if (typeof b.code !== 'string' || !/^[0-9]{6}$/.test(b.code)) return null;
  if (b.phoneName !== undefined && typeof b.phoneName !== 'string') return null;
  return b;
}
function simulateBody(b) {
  return ['offline', 'error', 'restore'].includes(b.event) ? b : null;
}

// Any other program on this computer can reach the loopback port; only those given the secret (the
// launcher's window, and the page it opens with the secret in its fragment) may use the API. Both sides
// are compared as SHA-256 digests in constant time, so the answer time tells nothing about the secret,
// not even its length. Without a secret everything passes (development).
function secretCheck(token) {
  if (!token) return () => true;
  const digest = (text) => crypto.createHash('sha256').update(text).digest();
  const expected = digest(`Bearer ${token}`);
  return (authorization) => crypto.timingSafeEqual(digest(String(authorization ?? '')), expected);
}

// Requests refused for the secret are counted rather than logged one by one, so that a program knocking
// without pause cannot fill the log: at most one line a minute says how many there were.
function refusalReport(log, clock) {
  let count = 0;
  let timer = null;
  function report() {
    timer = null;
    if (count) log(`refused ${count} request${count === 1 ? '' : 's'} without the connector secret in the last minute`);
    count = 0;
  }
  return {
    add() {
      count += 1;
      if (!timer) timer = clock.setTimeout(report, REFUSAL_REPORT_MS);
    },
    close() {
      if (timer) clock.clearTimeout(timer);
      report();
    },
  };
}

function createServer(state, options) {
  const log = options.log;
  const clock = options.clock || systemClock;
  const hasSecret = secretCheck(options.token);
  const refusals = refusalReport(log, clock);
  const pages = {};
  for (const [route, page] of Object.entries(PAGES)) {
    pages[route] = { type: page.type, body: fs.readFileSync(path.join(__dirname, '..', 'public', page.file)) };
  }
  let port = 0;   // the port actually listened on, known once listening

  const posts = {
    '/api/connector/start': [startBody, (b) => {
      const name = singleLine(b.deviceName, LIMITS.deviceName) || options.defaultDeviceName;
      log(`request start device="${name}" relay=${b.relayProvider}`);
      state.start(name, b.relayProvider);
      return [200, { ok: true }];
    }],
    '/api/connector/stop': [emptyBody, () => {
      log('request stop');
      state.stop();
      return [200, { ok: true }];
    }],
    '/api/connector/desktop/detect': [emptyBody, () => {
      log('request detect');
      state.detect();
      return [200, { ok: true }];
    }],
    '/api/connector/pairing/reset': [emptyBody, () => {
      log('request pairing reset');
      state.resetPairing();
      return [200, { ok: true }];
    }],
    // The phone's side, played by the demo page: pair with the code shown. While pairing pauses after too
    // many wrong codes, every attempt gets 429 and the time left.
    '/api/connector/pairing/pair': [pairBody, (b) => {
      const phone = singleLine(b.phoneName, 40) || '演示手机';
      const pause = state.pairingPauseMs();
      if (pause > 0) {
        log(`request pair phone="${phone}" refused: pairing paused after too many wrong codes`);
        return [429, { error: 'cooling-down', retryAfterMs: pause }, { 'Retry-After': String(Math.ceil(pause / 1000)) }];
      }
      log(`request pair phone="${phone}"`);
      const result = state.pairPhone(b.code, phone);
      return result === 'paired' ? [200, { ok: true }] : [409, { error: result }];
    }],
    '/api/connector/simulate': [simulateBody, (b) => {
      log(`request simulate ${b.event}`);
      return state.simulate(b.event) ? [200, { ok: true }] : [409, { error: 'not-applicable' }];
    }],
  };

  function send(res, status, type, body, extra) {
    if (res.headersSent || res.destroyed) return;
    const data = Buffer.isBuffer(body) ? body : Buffer.from(String(body));
    res.writeHead(status, {
      // One request per connection: a client that reuses an idle connection just as the server drops it
      // would see a failed poll, which the window shows as an unreachable connector.
      Connection: 'close',
      'Content-Type': type,
      'Content-Length': data.length,
      'Cache-Control': 'no-store',
      'X-Content-Type-Options': 'nosniff',
      ...extra,
    });
    res.end(res.req.method === 'HEAD' ? undefined : data);
  }
  function sendJson(res, status, value, extra) {
    send(res, status, 'application/json; charset=utf-8', JSON.stringify(value), extra);
  }
  // An answer sent before the body was read: the rest of the body is not wanted, so the connection closes.
  function refuse(req, res, status, error, extra) {
    sendJson(res, status, { error }, extra);
    req.resume();
  }

  // Only the loopback names with our own port: another Host means a page of some other site reached us
  // through a name that resolves to this computer, and it must not read the pairing code.
  function hostAllowed(host) {
    return host === `127.0.0.1:${port}` || host === `localhost:${port}`;
  }

  function readBody(req, done) {
    const declared = Number(req.headers['content-length']);
    if (declared > MAX_BODY_BYTES) { done(413); return; }
    const chunks = [];
    let size = 0;
    let over = false;
    req.on('data', (chunk) => {
      if (over) return;
      size += chunk.length;
      if (size > MAX_BODY_BYTES) { over = true; done(413); return; }
      chunks.push(chunk);
    });
    req.on('end', () => { if (!over) done(200, Buffer.concat(chunks)); });
    req.on('error', () => { over = true; });
  }

  function handlePost(req, res, route) {
    if (req.headers.origin !== `http://127.0.0.1:${port}`) { refuse(req, res, 403, 'origin'); return; }
    readBody(req, (status, raw) => {
      if (status === 413) { refuse(req, res, 413, 'too-large'); return; }
      let body;
      try {
        const text = new TextDecoder('utf-8', { fatal: true }).decode(raw);
        body = JSON.parse(text);
      } catch {
        sendJson(res, 400, { error: 'not-json' });
        return;
      }
      const [shape, action] = route;
      if (body === null || typeof body !== 'object' || Array.isArray(body) || !shape(body)) {
        sendJson(res, 400, { error: 'shape' });
        return;
      }
      const [code, answer, headers] = action(body);
      sendJson(res, code, answer, headers);
    });
  }

  function handle(req, res) {
    const url = req.url || '';
    const route = url.split('?')[0];
    // The secret first: before it is checked, nothing of the request is looked at. Only the page and its
    // files are public (the page brings the secret along in its address), so that a route added later
    // is never open by mistake.
    if (!(Object.hasOwn(pages, route) || route === '/') && !hasSecret(req.headers.authorization)) {
      refusals.add();
      refuse(req, res, 401, 'unauthorized', { 'WWW-Authenticate': 'Bearer' });
      return;
    }
    if (!hostAllowed(req.headers.host)) { refuse(req, res, 421, 'host'); return; }
    if (posts[route]) {
      if (req.method === 'POST') handlePost(req, res, posts[route]);
      else refuse(req, res, 405, 'method');
      return;
    }
    const isGet = req.method === 'GET' || req.method === 'HEAD';
    if (route === '/api/connector/desktop' || route === '/api/connector/snapshot' || pages[route] || route === '/') {
      if (!isGet) { refuse(req, res, 405, 'method'); return; }
    } else {
      refuse(req, res, 404, 'not-found');
      return;
    }
    req.resume();
    if (route === '/api/connector/desktop') {
      send(res, 200, 'text/plain; charset=utf-8', formatStatusDocument(state.view()));
    } else if (route === '/api/connector/snapshot') {
      sendJson(res, 200, pageSnapshot(state.view(), clock.now()));
    } else if (route === '/') {
      send(res, 302, 'text/plain; charset=utf-8', '', { Location: '/connect.html' });
    } else {
      send(res, 200, pages[route].type, pages[route].body, {
        'Content-Security-Policy': "default-src 'self'; style-src 'self' 'unsafe-inline'; frame-ancestors 'none'",
        'X-Frame-Options': 'DENY',
      });
    }
  }

  const server = http.createServer((req, res) => {
    try {
      handle(req, res);
    } catch (err) {
      log(`internal error on ${req.method} ${req.url}: ${err && err.stack ? err.stack.split('\n')[0] : err}`);
      sendJson(res, 500, { error: 'internal' });
    }
  });
  server.on('clientError', (err, socket) => {
    if (socket.writable) socket.end('HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n');
    else socket.destroy();
  });
  server.on('listening', () => { port = server.address().port; });
  server.on('close', () => refusals.close());
  return server;
}

// What the demo page needs, as JSON: the same view as the status document plus the payload in clear.
function pageSnapshot(v, now) {
  const p = v.pairing;
  return {
    simulatedRelay: true,
    now,
    state: v.state,
    deviceName: v.deviceName,
    relayProvider: v.relayProvider,
    workbench: { state: v.workbenchState, detail: v.workbenchDetail, projectCount: v.projectCount },
    message: v.message,
    pairing: p && p.paired ? { state: 'paired', phoneName: p.phoneName }
      : p && v.state === 'online' ? { state: 'code', code: p.code, expiresAt: p.expiresAt, payload: p.payload, size: p.size, bits: p.bits }
        : { state: 'none' },
    update: (({ newVersion, updateLink }) => ({ version: newVersion, link: updateLink }))(updateOffer(v.newVersion, v.updateLink)),
  };
}

module.exports = { MAX_BODY_BYTES, createServer };
