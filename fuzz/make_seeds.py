#!/usr/bin/python3
"""Writes the binary seed inputs of the protobuf-fed fuzz targets (link, params, asr_reply)
into corpus/<target>/. The text seeds of the other targets are kept as they are.
Run from anywhere: /usr/bin/python3 fuzz/make_seeds.py (needs protoc and python3-protobuf)."""
import os
import struct
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
proto_dir = os.path.join(here, '..', 'proto')
out = tempfile.mkdtemp()
subprocess.check_call(['protoc', '-I', proto_dir, '--python_out', out,
                       'nusk-message.proto', 'asr-message.proto'])
sys.path.insert(0, out)
nusk = __import__('nusk_message_pb2')
asr = __import__('asr_message_pb2')


def frame(msg):
    body = msg.SerializePartialToString()
    return struct.pack('>I', len(body)) + body


def write(target, name, data):
    folder = os.path.join(here, 'corpus', target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), 'wb') as f:
        f.write(data)


def fill(msg, **fields):
    """Sets the fields given (None: left unset) on msg and returns it."""
    for k, v in fields.items():
        if v is not None:
            setattr(msg, k, v)
    return msg


def reply(correlation, code=None, event=None, description=None):
    m = nusk.NuskMsg(id='m-1', correlationId=correlation)
    if code is not None:
        m.response.code = code
    if event is not None:
        fill(m.event, code=event, description=description)
    return m


# link: what the daemon writes, one or more frames.
button = [nusk.NuskMsg(id='b-%d' % t) for t in range(1, 7)]
for i, m in enumerate(button, 1):
    m.buttonCallback.type = i
write('link', 'buttons', b''.join(frame(m) for m in button))
tag = nusk.NuskMsg(id='r-1')
tag.rfidCallback.id = 'd0021a0353'
tag.rfidCallback.content = b'blue'
tag.rfidCallback.direction = 1
tag.rfidCallback.app = 3
tag.rfidCallback.type = 2
tag.rfidCallback.pict = 7
tag.rfidCallback.color = 2
out_tag = nusk.NuskMsg(id='r-2')
out_tag.rfidCallback.id = 'd0021a0353'
out_tag.rfidCallback.direction = 2
write('link', 'rfid-in-out', frame(tag) + frame(out_tag))
write('link', 'start-granted-then-led', frame(reply('start-1', 1)) + frame(reply('led-1', 1)) +
      frame(reply('led-1', event=2)))
write('link', 'start-refused', frame(reply('start-1', 2)))
write('link', 'photo-and-record', frame(reply('photo-1', 1)) +
      frame(reply('photo-1', event=1, description='taken')) + frame(reply('record-1', event=1)))
write('link', 'once-twice', frame(reply('once-1', 2)) + frame(reply('once-1', 1)))
stop = nusk.NuskMsg(id='s-1')
stop.interactiveMode.action = 2
write('link', 'stop', frame(stop))
unknown = reply('nobody', 1)
write('link', 'no-correlation-and-empty', frame(unknown) + struct.pack('>I', 0))
write('link', 'not-a-message', struct.pack('>I', 3) + b'\xff\xff\xff' + frame(button[0]))
write('link', 'cut-short', frame(button[1])[:-1])

# params: config.bin, one ConfigApp without a length.
app = nusk.ConfigApp(apiKey='k', version='1', name='weather', deployment='d')
inst = app.configInstance.add(name='home', uuid='u-1', accessToken='tok')
inst.params.add(key='city', value='Lyon')
inst.params.add(key='__proto__', value='x')
app.configInstance.add(name='__proto__').params.add(key='a', value='b')
app.parameters.add(key='units', value='metric')
app.parameters.add(key='constructor', value='c')
write('params', 'instances-and-parameters', app.SerializePartialToString())
write('params', 'no-parameters', nusk.ConfigApp(apiKey='k', version='1', name='n',
                                                  deployment='d').SerializeToString())
write('params', 'cut-short', app.SerializePartialToString()[:-5])

# asr_reply: the server's answer frame.
def amsg(code=None, words=None, semantic=None, score=None):
    m = asr.AsrMsg()
    fill(m.response, code=code, words=words, semantic=semantic, score=score)
    return m


write('asr_reply', 'ok', frame(amsg(1, 'bonjour', '<greeting>hello</greeting>', 87)))
write('asr_reply', 'nomatch', frame(amsg(8, 'rien')))
write('asr_reply', 'no-response', frame(asr.AsrMsg(grammar='g')))
bad = amsg(1, 'x', 'y', 1).SerializePartialToString().replace(b'x', b'\xc3')
write('asr_reply', 'invalid-utf8', struct.pack('>I', len(bad)) + bad)
write('asr_reply', 'too-long', struct.pack('>I', 0x7fffffff) + b'abc')
write('asr_reply', 'cut-short', frame(amsg(1, 'bonjour'))[:-2])
