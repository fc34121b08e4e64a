#!/usr/bin/python3
"""A storage receiver that costs almost nothing: it accepts every presentation context (in
Explicit VR Little Endian when proposed, else the first syntax offered), throws the data sets
away unread and answers each C-STORE with success. Beside storescp it shows how fast a sender
itself is, where storescp's own receiving would otherwise set the pace.

Usage: discard_scp.py PORT [MAX_PDU]   (MAX_PDU: the largest P-DATA-TF we accept, 16384)
"""
import socket
import struct
import sys

EXPLICIT_LE = b"1.2.840.10008.1.2.1"


def item(kind, body):
    return struct.pack(">BBH", kind, 0, len(body)) + body


def associate_ac(request, max_pdu):
    # Fixed fields of the request: protocol version, reserved, called and calling titles,
    # 32 reserved bytes; variable items follow.
    fixed = request[:68]
    at, items = 68, []
    while at + 4 <= len(request):
        kind, length = request[at], struct.unpack(">H", request[at + 2:at + 4])[0]
        body = request[at + 4:at + 4 + length]
        at += 4 + length
        if kind == 0x10:
            items.append(item(0x10, body))
        elif kind == 0x20:
            context_id = body[0]
            syntaxes, inner = [], 4
            while inner + 4 <= len(body):
                sub, sub_length = body[inner], struct.unpack(">H", body[inner + 2:inner + 4])[0]
                if sub == 0x40:
                    syntaxes.append(body[inner + 4:inner + 4 + sub_length].rstrip(b"\0"))
                inner += 4 + sub_length
            chosen = EXPLICIT_LE if EXPLICIT_LE in syntaxes else syntaxes[0]
            items.append(item(0x21, bytes([context_id, 0, 0, 0]) + item(0x40, chosen)))
    user = item(0x51, struct.pack(">I", max_pdu)) + item(0x52, b"1.2.826.0.1.3680043.10.777.9")
    items.append(item(0x50, user))
    body = fixed + b"".join(items)
    return struct.pack(">BBI", 0x02, 0, len(body)) + body


def element(group, number, value):
    if len(value) % 2:
        value += b"\0"
    return struct.pack("<HHI", group, number, len(value)) + value


def response_to(command):
    """The success response to a request's command set (implicit VR little endian), and whether
    a data set follows the request."""
    fields, at = {}, 0
    while at + 8 <= len(command):
        group, number, length = struct.unpack("<HHI", command[at:at + 8])
        fields[number] = command[at + 8:at + 8 + length]
        at += 8 + length
    request = struct.unpack("<H", fields.get(0x0100, b"\0\0")[:2])[0]
    with_data = struct.unpack("<H", fields.get(0x0800, b"\1\1")[:2])[0] != 0x0101
    body = (element(0, 0x0002, fields.get(0x0002, b"").rstrip(b"\0")) +
            element(0, 0x0100, struct.pack("<H", request | 0x8000)) +
            element(0, 0x0120, fields.get(0x0110, b"\0\0")) +
            element(0, 0x0800, struct.pack("<H", 0x0101)) +
            element(0, 0x0900, struct.pack("<H", 0)) +
            element(0, 0x1000, fields.get(0x1000, b"").rstrip(b"\0")))
    return element(0, 0x0000, struct.pack("<I", len(body))) + body, with_data


def send_response(connection, context_id, response):
    pdv = struct.pack(">IBB", len(response) + 2, context_id, 3) + response
    connection.sendall(struct.pack(">BBI", 0x04, 0, len(pdv)) + pdv)


class Reader:
    """Reads a connection through one large buffer, so that each PDU costs no system call."""

    def __init__(self, connection):
        self.connection = connection
        self.buffer = bytearray(4 << 20)
        self.view = memoryview(self.buffer)
        self.start = self.end = 0

    def need(self, count):
        if self.end - self.start >= count:
            return True
        if self.start:
            kept = self.end - self.start
            self.buffer[:kept] = self.buffer[self.start:self.end]
            self.start, self.end = 0, kept
        if count > len(self.buffer):
            self.buffer.extend(bytes(count - len(self.buffer)))
            self.view = memoryview(self.buffer)
        while self.end - self.start < count:
            got = self.connection.recv_into(self.view[self.end:])
            if not got:
                return False
            self.end += got
        return True

    def take(self, count):
        data = self.view[self.start:self.start + count]
        self.start += count
        return data


def serve_connection(connection, max_pdu):
    reader = Reader(connection)
    command = bytearray()
    pending = None  # context and response of the request whose data set is arriving
    while reader.need(6):
        header = bytes(reader.take(6))
        kind, length = header[0], struct.unpack(">I", header[2:6])[0]
        if not reader.need(length):
            return
        body = reader.take(length)
        if kind == 0x01:
            connection.sendall(associate_ac(bytes(body), max_pdu))
        elif kind == 0x04:
            at = 0
            while at + 6 <= length:
                item_length = struct.unpack(">I", body[at:at + 4])[0]
                context_id, control = body[at + 4], body[at + 5]
                if control & 1:
                    command += body[at + 6:at + 4 + item_length]
                    if control & 2:
                        response, with_data = response_to(bytes(command))
                        command = bytearray()
                        if with_data:
                            pending = (context_id, response)
                        else:
                            send_response(connection, context_id, response)
                elif control & 2 and pending is not None:
                    send_response(connection, *pending)
                    pending = None
                at += 4 + item_length
        elif kind == 0x05:
            connection.sendall(struct.pack(">BBI", 0x06, 0, 4) + b"\0\0\0\0")
            return
        else:
            return


def main():
    port = int(sys.argv[1])
    max_pdu = int(sys.argv[2]) if len(sys.argv) > 2 else 16384
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(4)
    while True:
        connection, _ = listener.accept()
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            serve_connection(connection, max_pdu)
        except (ConnectionError, OSError):
            pass
        finally:
            connection.close()


if __name__ == "__main__":
    main()
