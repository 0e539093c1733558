'use strict';
// A connector started in this test process on a free port, with short delays, and a small HTTP client
// that lets a test choose every header (the launcher's Origin, a wrong one, none). Given a token, the
// client sends it as the launcher does, unless a test sets Authorization itself (undefined: none). A
// test clock runs the connector's time only when the test advances it.

const crypto = require('node:crypto');
const http = require('node:http');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { startConnector } = require('../connector');
const { checkStatusDocument } = require('./document-rules');

async function startTestConnector({ clock, log, ...overrides } = {}) {
  const logs = [];
  const config = {
    port: 0, token: '', workbenchDir: overrides.workbenchDir || makeWorkbench(['alpha', 'beta']), deviceName: 'TEST-PC',
    connectDelayMs: 50, detectDelayMs: 20, codeTtlMs: 60000, updateVersion: '', updateLink: '', ...overrides,
  };
  const running = await startConnector(config, { log: log || ((line) => logs.push(line)), clock });
  const origin = `http://127.0.0.1:${running.port}`;
  const pageUrl = `${origin}/connect.html${config.token ? `#token=${config.token}` : ''}`;

  function request(method, route, { body, headers = {} } = {}) {
    return new Promise((resolve, reject) => {
      const data = body === undefined ? undefined : Buffer.isBuffer(body) ? body : Buffer.from(body);
      const all = {
        ...(data ? { 'Content-Length': data.length } : {}),
        ...(config.token ? { Authorization: `Bearer ${config.token}` } : {}),
        ...headers,
      };
      const req = http.request({
        host: '127.0.0.1', port: running.port, method, path: route, agent: false,
        headers: Object.fromEntries(Object.entries(all).filter(([, v]) => v !== undefined)),
      }, (res) => {
        const chunks = [];
        res.on('data', (c) => chunks.push(c));
        res.on('end', () => resolve({ status: res.statusCode, headers: res.headers, body: Buffer.concat(chunks) }));
      });
      req.on('error', reject);
      req.end(data);
    });
  }
  const post = (route, body = '{}', headers = { Origin: origin, 'Content-Type': 'application/json' }) =>
    request('POST', route, { body: typeof body === 'string' || Buffer.isBuffer(body) ? body : JSON.stringify(body), headers });

  // The status document, checked against the launcher's rules on every read.
  async function status() {
    const res = await request('GET', '/api/connector/desktop');
    if (res.status !== 200) throw new Error(`status ${res.status}`);
    const verdict = checkStatusDocument(res.body);
    if (!verdict.accepted) throw new Error(`document rejected: ${verdict.reason}`);
    const line = (n) => verdict.lines[n - 1].toString('utf8');
    return {
      state: line(2), deviceName: line(3), workbenchState: line(4), workbenchDetail: line(5), message: line(6),
      projectCount: line(7), pairingState: line(8), code: line(10), matrix: line(12), newVersion: line(13),
      updateLink: line(14), relay: line(15), matrixSize: verdict.matrixSize, codeExpiry: Number(verdict.codeExpiry),
    };
  }

  async function waitFor(predicate, what, timeoutMs = 3000) {
    const until = Date.now() + timeoutMs;
    for (;;) {
      const s = await status();
      if (predicate(s)) return s;
      if (Date.now() > until) throw new Error(`timed out waiting for ${what}; last ${JSON.stringify({ ...s, matrix: undefined })}`);
      await new Promise((r) => setTimeout(r, 10));
    }
  }

  return { ...running, logs, origin, pageUrl, request, post, status, waitFor };
}

// A clock for the connector that stands still until advance(ms), which runs the timers that fall due on
// the way, in order. It starts at the real time, so that the times it gives look like real ones.
function createTestClock() {
  let now = Date.now();
  let last = 0;
  const timers = new Map();
  return {
    now: () => now,
    setTimeout(fn, ms) { timers.set(++last, { at: now + Math.max(0, ms), fn }); return last; },
    clearTimeout(id) { timers.delete(id); },
    advance(ms) {
      const until = now + ms;
      for (;;) {
        let next = null;
        for (const [id, t] of timers) if (t.at <= until && (!next || t.at < next[1].at)) next = [id, t];
        if (!next) break;
        timers.delete(next[0]);
        now = next[1].at;
        next[1].fn();
      }
      now = until;
    },
  };
}

// A secret like the launcher's: 256 random bits as 64 lowercase hexadecimal characters.
function newToken() {
  return crypto.randomBytes(32).toString('hex');
}

const madeDirs = [];
process.on('exit', () => { for (const d of madeDirs) fs.rmSync(d, { recursive: true, force: true }); });

function makeWorkbench(projects) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'tovix-workbench-'));
  madeDirs.push(dir);
  for (const p of projects) fs.mkdirSync(path.join(dir, p));
  return dir;
}

module.exports = { startTestConnector, createTestClock, newToken, makeWorkbench };
