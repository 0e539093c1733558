'use strict';
// The launcher's acceptance rules for the status document, restated step by step over raw bytes, so the
// connector's tests can tell whether the window would accept what the connector sends. Besides the
// all-or-nothing verdict it reports the derived matrix size and expiry as the launcher computes them.

const MAX_BYTES = 36000;
const STATES = ['idle', 'connecting', 'online', 'offline', 'error'];
const RELAYS = ['quorbelapi', 'thirdparty'];

function digitsOnly(bytes, maxLength) {
  if (bytes.length > maxLength) return false;
  for (const b of bytes) if (b < 0x30 || b > 0x39) return false;
  return true;
}

function decimal(bytes) {
  let value = 0n;
  for (const b of bytes) value = value * 10n + BigInt(b - 0x30);
  return value;
}

function reject(reason) { return { accepted: false, reason }; }

// body: a Buffer with the response body. What the request worker refuses before parsing (over 36 000 bytes,
// a zero byte) is refused here too.
function checkStatusDocument(body) {
  if (body.length > MAX_BYTES) return reject('longer than 36000 bytes');
  if (body.includes(0)) return reject('zero byte');
  const lines = [];
  let start = 0;
  for (let i = 0; i < 15; i++) {
    const lf = body.indexOf(0x0a, start);
    if (lf < 0) return reject(`line ${i + 1} has no line feed`);
    lines.push(body.subarray(start, lf));
    start = lf + 1;
  }
  if (start !== body.length) return reject('bytes after the fifteenth line feed');
  const text = (n) => lines[n - 1].toString('latin1');
  if (text(1) !== 'tovix-connector-desktop/2') return reject('format tag');
  if (!RELAYS.includes(text(15))) return reject('relay keyword');
  if (!STATES.includes(text(2))) return reject('state keyword');
  if (text(8) !== 'code') return { accepted: true, matrixSize: 0, codeExpiry: 0n, lines };
  if (text(2) !== 'online') return reject('code while not online');
  if (!digitsOnly(lines[10], 3)) return reject('matrix size text');
  if (!digitsOnly(lines[8], 15)) return reject('expiry text');
  if (lines[9].length !== 6 || !digitsOnly(lines[9], 6)) return reject('pairing code');
  const n = Number(decimal(lines[10]));
  if (n < 21 || n > 177 || n % 4 !== 1) return reject('matrix size value');
  if (lines[11].length !== n * n) return reject('matrix length');
  for (const b of lines[11]) if (b !== 0x30 && b !== 0x31) return reject('matrix byte');
  const codeExpiry = decimal(lines[8]);
  if (codeExpiry <= 0n) return reject('expiry not positive');
  return { accepted: true, matrixSize: n, codeExpiry, lines };
}

// Beyond acceptance: the window shows the free texts only when they are valid UTF-8 and fit its buffers
// (UTF-16 units including the terminator). Returns the first text that would be shown empty, or null.
const TEXT_BUFFERS = { 3: 512, 5: 300, 6: 512, 7: 300, 13: 300, 14: 2049 };
function checkFreeTexts(lines) {
  for (const [line, units] of Object.entries(TEXT_BUFFERS)) {
    let decoded;
    try {
      decoded = new TextDecoder('utf-8', { fatal: true }).decode(lines[line - 1]);
    } catch {
      return `line ${line} is not valid UTF-8`;
    }
    if (decoded.length + 1 > units) return `line ${line} does not fit ${units} units`;
    if (/[\u0000-\u001f\u007f-\u009f\u2028\u2029]/.test(decoded)) return `line ${line} holds a control character`;
  }
  return null;
}

module.exports = { checkStatusDocument, checkFreeTexts };
