// Example app: connects to the message daemon on the port given as its instance name, enters
// interactive mode and lights the LED green. A button press makes the LED pulse blue, an RFID
// tag makes it fade to the tag's colour; once both have happened the app ends by itself.
var port = parseInt(instanceName, 10);
var pressed = false;
var tagged = false;

// Each LED command reports the daemon's verdict on it.
function verdict(command) {
  return function (code) { log(command + ': ' + code); };
}

function endWhenDone() {
  if (!pressed || !tagged) return;
  setTimeout(300, function () {
    log('bye');
    exit();
  });
}

tobrel.button.addListener(function (type) {
  log('button pressed: ' + type);
  tobrel.led.pulse('blue', 500, 3, verdict('led.pulse'));
  pressed = true;
  endWhenDone();
  return true;  // keep listening
});

tobrel.rfid.addListener(function (tag) {
  log('rfid tag ' + tag.id + (tag.direction ? ' ' + tag.direction : '') + (tag.color ? ', colour ' + tag.color : ''));
  tobrel.led.fade(tag.color ? tag.color.toLowerCase() : 'white', 1000, verdict('led.fade'));
  tagged = true;
  endWhenDone();
  return false;  // one tag is enough: this listener goes
});

if (isNaN(port)) {
  log('start me with the message daemon\'s port as the instance name');
  exit();
} else {
  tobrel.connect('127.0.0.1', port);
  tobrel.start(function () {
    log('interactive: lighting the LED');
    tobrel.led.light('green', verdict('led.light'));
  });
}
