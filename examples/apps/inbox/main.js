// Example app: connects to the message daemon on the port given as its instance name, enters
// interactive mode, then reads the device's information, its contacts and its messages, one
// after the other, marks the unread messages as read and ends. Run it against the stand-in
// with its data file: msgd --data examples/apps/inbox/msgd-data.txt
var port = parseInt(instanceName, 10);

function who(contact) {
  if (!contact) return '?';
  return contact.alias || [contact.firstname, contact.lastname].filter(function (n) { return n; }).join(' ');
}

function readMessages() {
  tobrel.message.list(function (messages) {
    var unread = [];
    messages.forEach(function (m) {
      var when = new Date(m.header.date * 1000).toISOString();
      log('message ' + m.header.id + ' from ' + who(m.header.from) + ' at ' + when +
          (m.header.status === 0 ? ' (unread)' : '') + ': ' + m.content.content);
      if (m.header.status === 0) unread.push(m.header.id);
    });
    if (unread.length === 0) return bye();
    tobrel.message.markAsRead(unread, function (read) {
      log('marked as read: ' + read.map(function (m) { return m.header.id; }).join(', '));
      bye();
    });
  });
}

function bye() {
  log('bye');
  exit();
}

if (isNaN(port)) {
  log('start me with the message daemon\'s port as the instance name');
  exit();
} else {
  tobrel.connect('127.0.0.1', port);
  tobrel.start(function () {
    tobrel.info(function (info) {
      Object.keys(info).forEach(function (key) { log('info ' + key + ' = ' + info[key]); });
      tobrel.contact.get(function (contacts) {
        contacts.forEach(function (c) {
          log('contact ' + who(c) + ' (' + c.objects.map(function (o) { return o.name || o.id; }).join(', ') + ')');
        });
        readMessages();
      });
    });
  });
}
