'use strict';
// Pairing codes and the QR symbol that carries them, used by the connector state (connector-state.js).
//
// Pairing payload (what the phone reads from the QR symbol), version 1:
//   tovix://pair?v=1&code=<6 digits>&relay=<quorbelapi|thirdparty>&device=<device name, percent-encoded UTF-8>
// The phone shows the device name, asks the relay named by "relay" for this computer and proves it saw the
// screen with "code"; the same six digits can also be typed by hand.

const crypto = require('node:crypto');
const QRCode = require('qrcode');

const PAYLOAD_PREFIX = 'tovix://pair?v=1';

function newPairingCode() {
  return String(crypto.randomInt(0, 1000000)).padStart(6, '0');
}

function pairingPayload(code, deviceName, relayProvider) {
  return `${PAYLOAD_PREFIX}&code=${code}&relay=${relayProvider}&device=${encodeURIComponent(deviceName)}`;
}

function parsePairingPayload(text) {
  if (typeof text !== 'string' || !text.startsWith(PAYLOAD_PREFIX + '&')) return null;
  const query = new URLSearchParams(text.slice('tovix://pair?'.length));
  const code = query.get('code');
  if (!/^[0-9]{6}$/.test(code || '')) return null;
  return { code, relay: query.get('relay'), device: query.get('device') };
}

// The module matrix as the status document wants it: size N and N*N characters '1' (dark) / '0' (light),
// row by row. Medium error correction; low only if the payload would not fit otherwise.
function qrMatrix(payload) {
  for (const level of ['M', 'L']) {
    try {
      const symbol = QRCode.create(payload, { errorCorrectionLevel: level });
      const { size, data } = symbol.modules;
      let bits = '';
      for (let i = 0; i < size * size; i++) bits += data[i] ? '1' : '0';
      return { size, bits };
    } catch {
      // too long for this level: try the next one
    }
  }
  return null;
}

module.exports = { PAYLOAD_PREFIX, newPairingCode, pairingPayload, parsePairingPayload, qrMatrix };
