"""A loopback peer for the TLS client tests that reports how each connection ended.

Usage: tls_watch_peer.py MODE PORT [CERT KEY]

It serves connections one after the other and prints one line per event, flushed at once:
  N sni NAME | N sni -      the server name the client announced (SNI), "-" for none
  N handshake-ok | N handshake-failed REASON
  N close_notify            the client ended the session with a close notify alert
  N eof-without-close_notify the client closed the connection without one
  N error REASON            the session failed (the client sent a fatal alert)
  N after-failure HEX       every byte the client wrote after the handshake or session failed
                            (may be empty)
  N reset                   the peer reset the connection as asked
  N hello BYTES             (plain mode) size of the first record the client sent

MODE tls: a TLS server on a memory BIO, so the raw bytes stay visible. Application data is
echoed back, except for three commands: "vanish" closes the write side without a close notify
(a peer that went away) and keeps listening; "reset" resets the connection; "bye" sends a close
notify first.
MODE plain: no TLS at all: it answers the client's first record with ten bytes that are not
TLS, then records whatever else arrives.
"""

import socket
import ssl
import struct
import sys


def say(number, text):
    print(f"{number} {text}".rstrip(), flush=True)


def receive(connection):
    try:
        return connection.recv(65536)
    except (ConnectionResetError, TimeoutError, socket.timeout):
        return b""


def drain(connection):
    rest = b""
    while True:
        block = receive(connection)
        if not block:
            return rest
        rest += block


def read_record(connection):
    data = b""
    while len(data) < 5 or len(data) < 5 + int.from_bytes(data[3:5], "big"):
        block = receive(connection)
        if not block:
            break
        data += block
    return data


def serve_plain(number, connection):
    hello = read_record(connection)
    say(number, f"hello {len(hello)}")
    # An association reject as a DICOM peer without TLS would send it.
    connection.sendall(bytes.fromhex("03000000000400010101"))
    say(number, "after-failure " + drain(connection).hex())


def flush(connection, outgoing):
    pending = outgoing.read()
    if pending:
        connection.sendall(pending)


def serve_tls(number, connection, context):
    context.sni_callback = lambda session, name, _: say(number, f"sni {name or '-'}")
    incoming = ssl.MemoryBIO()
    outgoing = ssl.MemoryBIO()
    session = context.wrap_bio(incoming, outgoing, server_side=True)
    while True:
        try:
            session.do_handshake()
            break
        except ssl.SSLWantReadError:
            flush(connection, outgoing)
            block = receive(connection)
            if not block:
                say(number, "handshake-failed eof")
                return
            incoming.write(block)
        except ssl.SSLError as error:
            flush(connection, outgoing)
            say(number, f"handshake-failed {error.reason}")
            say(number, "after-failure " + (incoming.read() + drain(connection)).hex())
            return
    flush(connection, outgoing)
    say(number, "handshake-ok")
    while True:
        try:
            data = session.read(65536)
        except ssl.SSLWantReadError:
            block = receive(connection)
            if not block:
                say(number, "eof-without-close_notify")
                return
            incoming.write(block)
            continue
        except ssl.SSLZeroReturnError:
            data = b""
        except ssl.SSLError as error:
            # Usually a fatal alert the client sent as its session failed.
            say(number, f"error {error.reason}")
            say(number, "after-failure " + (incoming.read() + drain(connection)).hex())
            return
        if not data:
            # Python reports a received close notify as the end of the data.
            say(number, "close_notify")
            return
        if data.strip() == b"vanish":
            connection.shutdown(socket.SHUT_WR)
        elif data.strip() == b"reset":
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            connection.close()
            say(number, "reset")
            return
        elif data.strip() == b"bye":
            try:
                session.unwrap()
            except ssl.SSLError:
                pass
            flush(connection, outgoing)
        else:
            session.write(data)
            flush(connection, outgoing)


def main():
    mode, port = sys.argv[1], int(sys.argv[2])
    context = None
    if mode == "tls":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[3], sys.argv[4])
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", port))
    listener.listen(4)
    number = 0
    while True:
        connection, _ = listener.accept()
        number += 1
        connection.settimeout(20)
        with connection:
            # A client that closes while our last flight is still on its way (TLS 1.3 session
            # tickets follow the handshake) resets the connection; that ends it like any other
            # way of leaving, and must not end the peer.
            try:
                if context is None:
                    serve_plain(number, connection)
                else:
                    serve_tls(number, connection, context)
            except (ConnectionResetError, BrokenPipeError):
                say(number, "connection-reset")


if __name__ == "__main__":
    main()
