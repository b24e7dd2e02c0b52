# Second, independent protobuf implementation (pure Python) for the frame tests:
#   decode_frame.py decode FILE   prints the text form of the one NuskMsg frame in FILE
#   decode_frame.py encode FILE   reads a NuskMsg text form on stdin, writes it as one frame
import os
import struct
import sys

os.environ["PROTOCOL_BUFFERS_PYTHON_IMPLEMENTATION"] = "python"
from google.protobuf import text_format  # noqa: E402
from google.protobuf.internal import api_implementation  # noqa: E402
import nusk_message_pb2  # noqa: E402


def main():
    if api_implementation.Type() != "python":
        sys.exit("not the pure Python implementation: " + api_implementation.Type())
    mode, path = sys.argv[1], sys.argv[2]
    msg = nusk_message_pb2.NuskMsg()
    if mode == "decode":
        data = open(path, "rb").read()
        (n,) = struct.unpack(">I", data[:4])
        if n != len(data) - 4:
            sys.exit("frame length %d, payload %d bytes" % (n, len(data) - 4))
        msg.ParseFromString(data[4:])
        sys.stdout.write(text_format.MessageToString(msg))
    else:
        text_format.Parse(sys.stdin.read(), msg)
        payload = msg.SerializeToString()
        with open(path, "wb") as out:
            out.write(struct.pack(">I", len(payload)) + payload)


main()
