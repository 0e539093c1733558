'use strict';
// The connector as the supervisor runs it: a separate process configured through its environment, logging
// to standard output, ending with 1 when its port is taken and with 0 when asked to stop.

const test = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const http = require('node:http');
const net = require('node:net');
const path = require('node:path');
const { resolvePort, DEFAULT_PORT } = require('../lib/config');
const { makeWorkbench, newToken } = require('../test-support/helpers');

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
    assert.ok(answer, p.output());
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
