// Example app: fetches a page from the web server at 127.0.0.1 on the port given as its instance
// name, logs its status line, title and length, posts a small form to it with its signature,
// and ends.
var base = 'http://127.0.0.1:' + parseInt(instanceName, 10);

var page = http.get2(base + '/index.html', {'Accept': 'text/html'});
log('status: ' + page.header.split('\r\n')[0]);
var title = /<title>([^<]*)<\/title>/.exec(page.content);
log('title: ' + (title ? title[1] : '(none)'));
log('length: ' + page.content.length);

// The form is signed as a web service would check it: Base64 of HMAC-SHA1 under a shared key.
var signature = signHMACSHA1('name=Tobrel&note=hello, web', 'example key');
log('signature: ' + signature);
var answer = http.post(base + '/guestbook', {name: 'Tobrel', note: 'hello, web'}, {'X-Signature': signature});
log('guestbook: ' + answer);
exit();
