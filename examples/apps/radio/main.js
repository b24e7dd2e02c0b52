// Example app: connects to the message daemon on the port given as its instance name, enters
// interactive mode and plays song.mp3 from its own folder on the device. When the player says
// it plays, the app asks for the song's title; when the player stops, the app ends by itself.
var port = parseInt(instanceName, 10);

tobrel.multimedia.addListener(function (action) {
  log('player: ' + action);
  if (action === 'PLAY' || action === 'MUSIC_UPDATE') {
    // One answer comes back: the first title the player lists.
    tobrel.multimedia.song(function (title) { log('now playing: ' + title); });
  } else if (action === 'STOP') {
    setTimeout(300, function () {
      log('bye');
      exit();
    });
    return false;  // nothing more to hear
  }
  return true;  // keep listening
});

if (isNaN(port)) {
  log('start me with the message daemon\'s port as the instance name');
  exit();
} else {
  tobrel.connect('127.0.0.1', port);
  tobrel.start(function () {
    log('interactive: playing song.mp3');
    // "./" names a file of the app's own folder on the device.
    tobrel.multimedia.play('./song.mp3', function (code) { log('play: ' + code); });
  });
}
