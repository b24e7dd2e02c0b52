// Example app: logs, ticks on a repeating timer, and ends by itself after five ticks.
log("ticker started as " + appName + " (instance: " + instanceName + ")");
var ticks = 0;
setTimeout(400, function () {
  ticks++;
  log("tick " + ticks + " at " + timestamp());
  if (ticks < 5) return true;  // true keeps the timer running
  log("done after " + ticks + " ticks, id " + uuid());
  exit();
  return false;
});
