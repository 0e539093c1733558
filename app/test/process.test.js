'use strict';
// The connector as the supervisor runs it: a separate process configured through its environment, logging
// to standard output, ending with 1 when its port is taken and with 0 when asked to stop. Its log keeps
// normal lines as they are and stays under about 1 MB an hour whatever the requests (on a test clock).

const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const http = require('node:http');
const net = require('node:net');
const path = require('node:path');
const { resolvePort, DEFAULT_PORT } = require('../lib/config');
const { startTestConnector, createTestClock, makeWorkbench, newToken } = require('../test-support/helpers');
const { BYTES_PER_HOUR, BURST_BYTES, createLog } = require('../lib/log');

const SCRIPT = path.join(__dirname, '..', 'connector.js');

function freePort() {
  return new Promise((resolve) => {
    const s = net.createServer().listen(0, '127.0.0.1', () => { const { port } = s.address(); s.close(() => resolve(port)); });
  });
}

function run(env) {
  const child = spawn(process.execPath, [SCRIPT], { env: { PATH: process.env.PATH, ...env }, stdio: ['ignore', 'pipe', 'pipe'] });
  let out = '';
  child.stdout.on('data', (d) => { out += d; });
  child.stderr.on('data', (d) => { out += d; });
  const exited = new Promise((resolve) => child.on('exit', (code) => resolve(code)));
  return { child, exited, output: () => out };
}

function get(port, route, headers = {}) {
  return new Promise((resolve, reject) => {
    http.get({ host: '127.0.0.1', port, path: route, agent: false, headers }, (res) => {
      let body = '';
      res.on('data', (d) => { body += d; });
      res.on('end', () => resolve({ status: res.statusCode, body }));
    }).on('error', reject);
  });
}

test('the port rule matches the launcher', () => {
  const cases = [[undefined, DEFAULT_PORT], ['', DEFAULT_PORT], ['1024', 1024], ['65535', 65535], ['01024', 1024],
    ['1023', DEFAULT_PORT], ['65536', DEFAULT_PORT], ['123456', DEFAULT_PORT], [' 9000', DEFAULT_PORT],
    ['9000 ', DEFAULT_PORT], ['+9000', DEFAULT_PORT], ['9e3', DEFAULT_PORT], ['٩٠٠٠', DEFAULT_PORT]];
  for (const [text, port] of cases) assert.equal(resolvePort(text), port, String(text));
});

test('a port already in use ends the connector with 1 and says why', async () => {
  const blocker = net.createServer();
  await new Promise((r) => blocker.listen(0, '127.0.0.1', r));
  const port = blocker.address().port;
  try {
    const p = run({ TOVIX_MOBILE_CONNECTOR_PORT: String(port), TOVIX_WORKBENCH_DIR: makeWorkbench([]) });
    assert.equal(await p.exited, 1);
    assert.match(p.output(), new RegExp(`port ${port} on 127\\.0\\.0\\.1 is already in use`));
  } finally {
    blocker.close();
  }
});

test('started from the environment it serves its port to the secret\'s holders, logs the simulation and ends on SIGTERM with 0', async () => {
  const port = await freePort();
  const token = newToken();
  const p = run({ TOVIX_MOBILE_CONNECTOR_PORT: String(port), TOVIX_MOBILE_CONNECTOR_TOKEN: token,
    TOVIX_WORKBENCH_DIR: makeWorkbench(['a']), TOVIX_CONNECTOR_DEVICE_NAME: 'ENV-PC', TOVIX_CONNECTOR_DETECT_MS: '0' });
  try {
    let answer = null;
    for (let i = 0; i < 100 && !answer; i++) {
      answer = await get(port, '/api/connector/desktop', { Authorization: `Bearer ${token}` }).catch(() => null);
      if (!answer) await new Promise((r) => setTimeout(r, 50));
    }
    assert.ok(answer, p.output().split(token).join('…'));
    assert.equal(answer.status, 200);
    assert.equal(answer.body.split('\n')[2], 'ENV-PC');
    assert.equal((await get(port, '/api/connector/desktop')).status, 401);
    assert.match(p.output(), /SIMULATED/);
    assert.doesNotMatch(p.output(), /open to every program/);
  } finally {
    p.child.kill('SIGTERM');
  }
  assert.equal(await p.exited, 0);
  assert.match(p.output(), /refused 1 request without the connector secret/, 'the count is written at the end');
  assert.ok(!p.output().includes(token), 'the secret is not in the log');
});

// A log writing into an array on a test clock.
function testLog() {
  const clock = createTestClock();
  const written = [];
  const log = createLog((text) => written.push(text), clock);
  return { clock, written, log, bytes: () => written.reduce((n, w) => n + Buffer.byteLength(w), 0) };
}
const timeless = (written) => written.join('').split('\n').slice(0, -1).map((l) => l.replace(/^\d{4}-\d\d-\d\dT[\d:.]+Z /, ''));

test('a busy hour of normal use comes out of the log line for line', () => {
  const { clock, written, log } = testLog();
  const session = [
    'request start device="PC" relay=quorbelapi', 'state idle -> connecting (start)',
    'state connecting -> online (simulated relay quorbelapi answered)', 'pairing code issued (online), QR 37x37, expires 2030-01-01T00:05:00.000Z',
    'request pair phone="演示手机"', 'wrong pairing code (1/5)', 'request pair phone="演示手机"', 'pairing code withdrawn (paired)',
    'phone "演示手机" paired', 'request detect', 'workbench ready -> checking', 'workbench checking -> ready (C:\\TovixWorkbench, 2 projects)',
    'request pairing reset', 'phone "演示手机" unpaired', 'pairing code issued (reset), QR 37x37, expires 2030-01-01T00:10:00.000Z',
    'request stop', 'pairing code withdrawn (stop)', 'state online -> idle (stop)',
  ];
  const lines = [];
  for (let round = 0; round < 60; round++) lines.push(...session);
  const times = [];
  for (const line of lines) {
    clock.advance(3333);
    times.push(new Date(clock.now()).toISOString());
    log(line);
  }
  assert.deepEqual(written.join('').split('\n').slice(0, -1), lines.map((line, i) => `${times[i]} ${line}`));
});

test('repeated lines are counted: when another line comes, and at most once a minute', () => {
  const { clock, written, log } = testLog();
  for (let i = 0; i < 1000; i++) log('request stop');
  log('request detect');
  for (let i = 0; i < 1800; i++) { clock.advance(100); log('request detect'); }
  log.close();
  assert.deepEqual(timeless(written), ['request stop', 'previous line repeated 999 times', 'request detect',
    'previous line repeated 600 times', 'previous line repeated 600 times', 'previous line repeated 600 times']);
  log('request detect');
  log.close();
  assert.equal(timeless(written).at(-1), 'previous line repeated 1 time');
});

test('a flood of accepted requests for an hour writes at most about 1 MB to the log', async (t) => {
  const { clock, written, log, bytes } = testLog();
  let asked = 0;
  const c = await startTestConnector({ clock, log: (text) => { asked += Buffer.byteLength(text) + 26; log(text); }, token: newToken() });
  t.after(c.close);
  const requests = 8000;
  const together = 50;
  for (let i = 0; i < requests; i += together) {
    await Promise.all(Array.from({ length: together }, (_, k) => c.post('/api/connector/start',
      { deviceName: `PC ${i + k} `.padEnd(100, 'x'), relayProvider: 'quorbelapi' })));
    clock.advance(3600000 / (requests / together));
  }
  const lines = timeless(written);
  t.diagnostic(`${requests} start requests in an hour: ${asked} bytes of log lines asked for, ${bytes()} written`);
  assert.ok(asked > 1.2 * (BYTES_PER_HOUR + BURST_BYTES), 'the requests asked for more than the budget');
  assert.ok(bytes() <= BYTES_PER_HOUR + BURST_BYTES, `${bytes()} bytes in an hour`);
  assert.ok(lines.some((l) => /^[0-9]+ log lines dropped to keep the log under 1 MB an hour$/.test(l)));
});
