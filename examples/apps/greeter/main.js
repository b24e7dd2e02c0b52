// Example app: connects to the message daemon on the port given as its instance name and, once
// interactive, greets: it moves the ears, says a sentence, takes a photo and, when the picture
// is there, puts the ears back and ends. Each step starts when the daemon has accepted the one
// before it; the picture arrives as an event after the photo request's reply.
var port = parseInt(instanceName, 10);

function then(command, next) {
  return function (code) {
    log(command + ': ' + code);
    if (code === 'OK') next();
  };
}

function moveEars() {
  tobrel.ears.move(20, -20, then('ears.move', speak));
}

function speak() {
  tobrel.tts.start('Hello, nice to see you', 'en', then('tts.start', takePhoto));
}

function takePhoto() {
  tobrel.webcam.photo('file:///tmp/picture.jpg', function (result) {
    if (!result.data) {
      log('webcam.photo: ' + result.type);
      return;
    }
    log('photo taken' + (result.description ? ': ' + result.description : ''));
    resetEars();
  });
}

function resetEars() {
  var done = false;
  tobrel.ears.reset(function (code, left, right) {
    log('ears.reset: ' + code + ' (' + left + ', ' + right + ')');
    if (done) return;
    done = true;
    setTimeout(100, function () {
      log('bye');
      exit();
    });
  });
}

if (isNaN(port)) {
  log('start me with the message daemon\'s port as the instance name');
  exit();
} else {
  tobrel.connect('127.0.0.1', port);
  tobrel.start(function () {
    log('interactive: greeting');
    moveEars();
  });
}
