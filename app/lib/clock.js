'use strict';
// Time as the connector sees it: the current time and one-shot timers. The connector's state, its server
// and its log take a clock, so that tests can run minutes or hours of it on a clock of their own.

const systemClock = {
  now: () => Date.now(),
  setTimeout: (fn, ms) => setTimeout(fn, ms),
  clearTimeout: (timer) => clearTimeout(timer),
};

module.exports = { systemClock };
