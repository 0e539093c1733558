'use strict';
// The status document: first the rule checker against the launcher's own edge cases (so that it is a
// faithful judge), then every kind of document the connector formats, with hostile texts, against it.

const test = require('node:test');
const assert = require('node:assert/strict');
const { checkStatusDocument, checkFreeTexts } = require('../test-support/document-rules');
const { formatStatusDocument, singleLine, updateOffer, MAX_DOCUMENT_BYTES } = require('../lib/status-document');
const { qrMatrix, pairingPayload } = require('../lib/pairing');

const M21 = '01'.repeat(220) + '1';
function doc(overrides) {
  const lines = ['tovix-connector-desktop/2', 'online', 'PC', 'ready', 'd', '', '3', 'code',
    '1700000000000', '123456', '21', M21, '', '', 'quorbelapi'];
  for (const [k, v] of Object.entries(overrides)) lines[Number(k) - 1] = v;
  return Buffer.from(lines.join('\n') + '\n', 'latin1');
}

test('checker follows the launcher on its edge cases', () => {
  const cases = [
    [doc({}), true, 21],
    [Buffer.from(doc({}).toString('latin1').replace(/\n/g, '\r\n'), 'latin1'), false],
    [doc({}).subarray(0, -1), false],
    [Buffer.concat([doc({}), Buffer.from('\n')]), false],
    [Buffer.alloc(0), false],
    [doc({ 3: '', 4: '', 5: '', 6: '', 7: '', 8: 'none', 9: '', 10: '', 11: '', 12: '', 13: '', 14: '' }), true, 0],
    [doc({ 8: 'Code' }), true, 0],
    [doc({ 4: 'whatever' }), true, 21],
    [doc({ 15: 'Quorbelapi' }), false],
    [doc({ 15: 'thirdparty ' }), false],
    [doc({ 15: 'thirdparty' }), true, 21],
    [doc({ 2: 'connecting' }), false],
    [doc({ 2: 'connecting', 8: 'paired' }), true, 0],
    [doc({ 2: 'Online' }), false],
    [doc({ 11: '021' }), true, 21],
    ...['17', '178', '22', '181', '1000', '+21', ' 21', '21 ', ''].map((s) => [doc({ 11: s }), false]),
    [doc({ 12: M21.slice(1) }), false],
    [doc({ 12: M21 + '0' }), false],
    [doc({ 12: M21.slice(1) + '2' }), false],
    ...['0', '000', '', '1234567890123456'].map((s) => [doc({ 9: s }), false]),
    [doc({ 9: '000000000000001' }), true, 21, 1n],
    ...['12345', '1234567', '12a456'].map((s) => [doc({ 10: s }), false]),
    [Buffer.concat([doc({}).subarray(0, 10), Buffer.from([0]), doc({}).subarray(11)]), false],
  ];
  for (const [body, accepted, size, expiry] of cases) {
    const verdict = checkStatusDocument(body);
    assert.equal(verdict.accepted, accepted, `${JSON.stringify(body.toString('latin1').slice(0, 60))}: ${verdict.reason}`);
    if (accepted) assert.equal(verdict.matrixSize, size);
    if (expiry !== undefined) assert.equal(verdict.codeExpiry, expiry);
  }
});

test('checker takes exactly 36 000 bytes and refuses one more', () => {
  const base = doc({ 8: 'none', 12: '' });
  const exact = doc({ 8: 'none', 12: '', 6: 'x'.repeat(MAX_DOCUMENT_BYTES - base.length) });
  assert.equal(exact.length, 36000);
  assert.equal(checkStatusDocument(exact).accepted, true);
  const over = doc({ 8: 'none', 12: '', 6: 'x'.repeat(MAX_DOCUMENT_BYTES - base.length + 1) });
  assert.equal(checkStatusDocument(over).accepted, false);
});

// Texts that would break a line, the encoding or a buffer of the window if they went out unchanged.
const HOSTILE = [
  '', 'plain', '名称 含 中文', 'a\nb', 'a\r\nb', 'tab\there', '\u0000zero', 'del\u007f', 'c1\u0085next',
  'sep\u2028x\u2029', 'lone \ud800 high', 'lone \udc00 low', 'pair \ud83d\ude00 ok', '\ud83d\ude00'.repeat(300),
  'x'.repeat(5000), '长'.repeat(1000), ' padded ', 'tovix-connector-desktop/2\nidle',
];

function formatAndCheck(view) {
  const text = formatStatusDocument(view);
  const body = Buffer.from(text, 'utf8');
  const verdict = checkStatusDocument(body);
  assert.equal(verdict.accepted, true, `${verdict.reason} for ${JSON.stringify(view).slice(0, 200)}`);
  assert.equal(checkFreeTexts(verdict.lines), null);
  return verdict;
}

test('every state, pairing kind and hostile text gives an accepted document', () => {
  const symbol = qrMatrix(pairingPayload('012345', 'PC', 'quorbelapi'));
  const code = { code: '012345', expiresAt: Date.now() + 60000, size: symbol.size, bits: symbol.bits };
  for (const state of ['idle', 'connecting', 'online', 'offline', 'error']) {
    for (const pairing of [null, { paired: true }, code]) {
      for (const t of HOSTILE) {
        const verdict = formatAndCheck({
          state, deviceName: t, workbenchState: 'ready', workbenchDetail: t, message: t, projectCount: t,
          pairing, newVersion: t, updateLink: `https://example.test/${t}`, relayProvider: 'thirdparty',
        });
        assert.equal(verdict.lines[7].toString(), pairing === code ? (state === 'online' ? 'code' : '') : pairing ? 'paired' : '');
      }
    }
  }
});

test('an unknown state or relay is never sent as such', () => {
  const verdict = formatAndCheck({ state: 'sleeping', relayProvider: 'other', pairing: null });
  assert.equal(verdict.lines[1].toString(), 'error');
  assert.equal(verdict.lines[14].toString(), 'quorbelapi');
});

test('a code that the window would refuse is not offered', () => {
  const symbol = qrMatrix('x');
  const good = { code: '123456', expiresAt: 1, size: symbol.size, bits: symbol.bits };
  for (const bad of [{ code: '12345' }, { code: '12345a' }, { expiresAt: 0 }, { expiresAt: 1e16 },
    { size: 23 }, { bits: symbol.bits.slice(1) }]) {
    const verdict = formatAndCheck({ state: 'online', relayProvider: 'quorbelapi', pairing: { ...good, ...bad } });
    assert.equal(verdict.matrixSize, 0);
  }
  assert.equal(formatAndCheck({ state: 'online', relayProvider: 'quorbelapi', pairing: good }).matrixSize, symbol.size);
});

test('the largest symbol with the longest texts stays within 36 000 bytes', () => {
  const symbol = qrMatrix('9'.repeat(7000));
  assert.equal(symbol.size, 177);
  const long = '\ud83d\ude00'.repeat(3000);
  const verdict = formatAndCheck({
    state: 'online', deviceName: long, workbenchState: long, workbenchDetail: long, message: long, projectCount: long,
    pairing: { code: '999999', expiresAt: 999999999999999, size: 177, bits: symbol.bits },
    newVersion: 'v'.repeat(100), updateLink: 'https://example.test/' + 'a'.repeat(2027), relayProvider: 'quorbelapi',
  });
  assert.equal(verdict.matrixSize, 177);
  assert.equal(verdict.lines[13].length, 2048);
});

test('singleLine keeps characters whole and marks a cut', () => {
  assert.equal(singleLine('ab\ncd', 100), 'ab cd');
  assert.equal(singleLine('abcdef', 4), 'abc\u2026');
  assert.equal(singleLine('ab\ud83d\ude00x', 4), 'ab\u2026');
  assert.equal(singleLine('\udc00', 4), '\ufffd');
});

test('the update offer needs a version and an acceptable https link', () => {
  const none = { newVersion: '', updateLink: '' };
  assert.deepEqual(updateOffer('2.0', 'https://example.test/dl'), { newVersion: '2.0', updateLink: 'https://example.test/dl' });
  for (const [v, l] of [['', 'https://example.test/'], ['2.0', ''], ['2.0', 'http://example.test/'],
    ['2.0', 'https://user:pw@example.test/'], ['2.0', 'https://example.test/a b'], ['2.0', 'https://example.test/\\'],
    ['2.0', 'https://'], ['2.0', 'https://example.test/' + 'a'.repeat(2028)], ['v'.repeat(101), 'https://example.test/']]) {
    assert.deepEqual(updateOffer(v, l), none, `${v} ${l}`);
  }
});
