'use strict';
// Reference connector application: started by the launcher's supervisor as
//   runtime\node.exe app\connector.js
// with TOVIX_MOBILE_CONNECTOR_PORT and TOVIX_MOBILE_CONNECTOR_TOKEN (the secret of its API) set and its
// output going to connector.log. It serves the local API the launcher polls and commands (127.0.0.1
// only) and the page /connect.html. The relay side is SIMULATED: nothing leaves this computer, and the
// page plays the phone. Configuration: see lib/config.js.
// Exit codes: 0 after SIGINT/SIGTERM, 1 when the port cannot be listened on (for example already in use).

const { loadConfig } = require('./lib/config');
const { createConnectorState } = require('./lib/connector-state');
const { createServer } = require('./lib/server');
const { systemClock } = require('./lib/clock');
const { createLog } = require('./lib/log');

// Starts a connector; resolves with { server, state, port, close } once listening, rejects when the port
// cannot be used. log(text) takes one line of the log. Tests call it with port 0, a log of their own and,
// to run time faster, a clock.
function startConnector(config, { log, clock = systemClock }) {
  const state = createConnectorState(config, log, clock);
  const server = createServer(state, { log, clock, token: config.token, defaultDeviceName: config.deviceName });
  if (!config.token) {
    log('warning: TOVIX_MOBILE_CONNECTOR_TOKEN is not set, so the API is open to every program on this computer (for development only)');
  }
  return new Promise((resolve, reject) => {
    server.once('error', (err) => { state.close(); reject(err); });
    server.listen(config.port, '127.0.0.1', () => {
      const port = server.address().port;
      state.detect();
      resolve({
        server, state, port,
        close: () => new Promise((done) => {
          state.close();
          server.close(() => done());
          server.closeAllConnections();
        }),
      });
    });
  });
}

function main() {
  const config = loadConfig(process.env);
  const log = createLog((text) => process.stdout.write(text));
  log(`reference connector starting (node ${process.version}); the relay is SIMULATED, no data leaves this computer`);
  startConnector(config, { log }).then((running) => {
    log(`listening on http://127.0.0.1:${running.port}/ (page: http://127.0.0.1:${running.port}/connect.html), workbench directory ${config.workbenchDir}`);
    const end = (signal) => {
      log(`${signal}: shutting down`);
      running.close().then(() => { log.close(); process.exitCode = 0; });
    };
    process.once('SIGINT', end);
    process.once('SIGTERM', end);
  }, (err) => {
    if (err.code === 'EADDRINUSE') {
      log(`error: port ${config.port} on 127.0.0.1 is already in use (is another connector running?); exiting with 1`);
    } else {
      log(`error: cannot listen on 127.0.0.1:${config.port}: ${err.message}; exiting with 1`);
    }
    log.close();
    process.exitCode = 1;
  });
}

if (require.main === module) main();

module.exports = { startConnector };
