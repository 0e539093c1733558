'use strict';
// The connector's configuration, read once from its environment at start-up by connector.js. Everything
// here has a default, so the connector runs with an empty environment (as the supervisor may give it).
//
//   TOVIX_MOBILE_CONNECTOR_PORT      API port, 1024-65535 as 1-5 ASCII digits; 8093 otherwise (the same
//                                    rule as the launcher, which passes the port it resolved)
//   TOVIX_MOBILE_CONNECTOR_TOKEN     the secret every API request must carry as "Authorization: Bearer
//                                    <secret>"; the launcher makes a new one each time it starts us.
//                                    Unset or empty: the API is open (development only)
//   TOVIX_WORKBENCH_DIR              the workbench directory; each subdirectory not starting with "." is one
//                                    local project (default: <home>/TovixWorkbench)
//   TOVIX_CONNECTOR_DEVICE_NAME      device name offered before the first start (default: the host name)
//   TOVIX_CONNECTOR_CONNECT_MS       simulated time from "connecting" to "online" (default 1000)
//   TOVIX_CONNECTOR_DETECT_MS        simulated time the workbench detection stays "checking" (default 300)
//   TOVIX_CONNECTOR_CODE_TTL_MS      lifetime of a pairing code (default 300000, five minutes)
//   TOVIX_CONNECTOR_UPDATE_VERSION   version text of a newer release to offer (default: none)
//   TOVIX_CONNECTOR_UPDATE_URL       its https download link (offered only together with the version)

const os = require('node:os');
const path = require('node:path');

const DEFAULT_PORT = 8093;

// Same acceptance as the launcher's port rule, so both sides always agree on the port.
function resolvePort(text) {
  if (typeof text !== 'string' || !/^[0-9]{1,5}$/.test(text)) return DEFAULT_PORT;
  const value = Number(text);
  return value >= 1024 && value <= 65535 ? value : DEFAULT_PORT;
}

function readMilliseconds(env, name, fallback, min, max) {
  const text = env[name];
  if (typeof text !== 'string' || !/^[0-9]{1,9}$/.test(text)) return fallback;
  const value = Number(text);
  return value >= min && value <= max ? value : fallback;
}

function loadConfig(env) {
  return {
    port: resolvePort(env.TOVIX_MOBILE_CONNECTOR_PORT),
    token: env.TOVIX_MOBILE_CONNECTOR_TOKEN || '',
    workbenchDir: env.TOVIX_WORKBENCH_DIR || path.join(os.homedir(), 'TovixWorkbench'),
    deviceName: env.TOVIX_CONNECTOR_DEVICE_NAME || os.hostname(),
    connectDelayMs: readMilliseconds(env, 'TOVIX_CONNECTOR_CONNECT_MS', 1000, 0, 600000),
    detectDelayMs: readMilliseconds(env, 'TOVIX_CONNECTOR_DETECT_MS', 300, 0, 600000),
    codeTtlMs: readMilliseconds(env, 'TOVIX_CONNECTOR_CODE_TTL_MS', 300000, 50, 86400000),
    updateVersion: env.TOVIX_CONNECTOR_UPDATE_VERSION || '',
    updateLink: env.TOVIX_CONNECTOR_UPDATE_URL || '',
  };
}

module.exports = { DEFAULT_PORT, resolvePort, loadConfig };
