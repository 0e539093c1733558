'use strict';
// The connector's log, its standard output (connector.log under the launcher): one line per event, each
// starting with an ISO time. Whatever clients send, it grows by at most about 1 MB an hour, so that it
// cannot fill the disk. A line that comes again word for word is counted instead of written, and the
// count is written as "previous line repeated N times" when another line comes, or a minute later. A
// byte budget, refilled at 1 MB an hour, drops the lines beyond it and says afterwards how many. Normal
// use stays far below the budget, and its lines come out as they are.

const { systemClock } = require('./clock');

const BYTES_PER_HOUR = 1000000;
const BURST_BYTES = 50000;          // written at once at most: some hundreds of lines
const REPEAT_REPORT_MS = 60000;

// Returns log(text); log.close() writes what is still counted, for the end of the connector.
function createLog(write, clock = systemClock) {
  let budget = BURST_BYTES;
  let budgetAt = clock.now();
  let dropped = 0;
  let last = null;                  // the text of the last line written
  let repeats = 0;                  // how often it came again since
  let repeatTimer = null;

  // Writes one line if the budget allows, with the count of lines dropped before it; answers whether.
  function emit(text) {
    const now = clock.now();
    budget = Math.min(BURST_BYTES, budget + ((now - budgetAt) * BYTES_PER_HOUR) / 3600000);
    budgetAt = now;
    const time = new Date(now).toISOString();
    const notice = dropped ? `${time} ${dropped} log line${dropped === 1 ? '' : 's'} dropped to keep the log under 1 MB an hour\n` : '';
    const lines = `${notice}${time} ${text}\n`;
    const bytes = Buffer.byteLength(lines);
    if (bytes > budget) {
      dropped += 1;
      return false;
    }
    budget -= bytes;
    dropped = 0;
    write(lines);
    return true;
  }

  function reportRepeats() {
    if (repeatTimer) clock.clearTimeout(repeatTimer);
    repeatTimer = null;
    if (repeats) emit(`previous line repeated ${repeats} time${repeats === 1 ? '' : 's'}`);
    repeats = 0;
  }

  function log(text) {
    if (text === last) {
      repeats += 1;
      if (!repeatTimer) repeatTimer = clock.setTimeout(reportRepeats, REPEAT_REPORT_MS);
      return;
    }
    reportRepeats();
    // Only a line that was written is counted on: "previous line" must name a line in the log.
    last = emit(text) ? text : null;
  }
  log.close = reportRepeats;
  return log;
}

module.exports = { BYTES_PER_HOUR, BURST_BYTES, REPEAT_REPORT_MS, createLog };
