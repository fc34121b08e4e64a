#!/usr/bin/python3
"""A scripted HTTP server standing in for a DICOMweb server in tests.

usage: scripted_server.py PORT FOLDER [CERTIFICATE KEY]

FOLDER/script.json holds {"answers": [...], "authorization": "..."}: the n-th request gets the
n-th answer (the last one repeats), each {"status": 200, "body": "...", "headers": {...},
"delay": seconds before answering, "trickle": seconds between the bytes of the body}. When
"authorization" is set, a request without exactly that Authorization header gets 401 instead.
An answer {"forward": "http://host:port"} relays the request to that server instead and returns
what it answers. With "largest": N as well, a request whose body is longer than N bytes gets 413
instead, as from a gateway with a size limit. Every request is recorded: FOLDER/request-N.txt holds the method, path and
headers, and FOLDER/request-N.body the body, chunked transfer coding removed. With a certificate
and key (PEM) the server speaks https.
"""
import http.client
import http.server
import json
import os
import ssl
import sys
import time
import urllib.parse


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    count = 0

    def log_message(self, *args):
        pass

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            body = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip(), 16)
                if size == 0:
                    while self.rfile.readline() not in (b"\r\n", b"\n", b""):
                        pass
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        return self.rfile.read(int(self.headers.get("Content-Length", "0")))

    def answer(self):
        folder = self.server.folder
        body = self.read_body() if self.command == "POST" else b""
        Handler.count += 1
        number = Handler.count
        with open(os.path.join(folder, "request-%d.txt" % number), "w") as record:
            record.write("%s %s\n%s" % (self.command, self.path, str(self.headers)))
        with open(os.path.join(folder, "request-%d.body" % number), "wb") as record:
            record.write(body)
        with open(os.path.join(folder, "script.json")) as script_file:
            script = json.load(script_file)
        answers = script["answers"]
        answer = answers[min(number, len(answers)) - 1]
        wanted = script.get("authorization")
        if wanted is not None and self.headers.get("Authorization") != wanted:
            answer = {"status": 401, "body": "Login required",
                      "headers": {"WWW-Authenticate": 'Bearer realm="test"'}}
        time.sleep(answer.get("delay", 0))
        if "largest" in answer and len(body) > answer["largest"]:
            answer = {"status": 413, "body": "<html>Request Entity Too Large</html>",
                      "headers": {"Content-Type": "text/html"}}
        elif "forward" in answer:
            answer = self.relay(answer["forward"], body)
        payload = answer.get("body", "")
        if isinstance(payload, str):
            payload = payload.encode("utf-8")
        self.send_response(answer.get("status", 200))
        for name, value in answer.get("headers", {}).items():
            self.send_header(name, value)
        self.send_header("Server", "scripted-dicomweb/1.0")
        self.send_header("Content-Length", str(len(payload)))
        self.end_headers()
        if "trickle" in answer:
            try:
                for byte in payload:
                    self.wfile.write(bytes([byte]))
                    self.wfile.flush()
                    time.sleep(answer["trickle"])
            except (BrokenPipeError, ConnectionResetError):
                pass
            return
        self.wfile.write(payload)

    def relay(self, target, body):
        address = urllib.parse.urlsplit(target)
        connection = http.client.HTTPConnection(address.hostname, address.port, timeout=60)
        headers = {name: value for name, value in self.headers.items()
                   if name.lower() not in ("host", "transfer-encoding", "content-length")}
        connection.request(self.command, self.path, body=body if self.command == "POST" else None,
                           headers=headers)
        response = connection.getresponse()
        relayed = {"status": response.status, "body": response.read(), "headers": {}}
        if response.getheader("Content-Type"):
            relayed["headers"]["Content-Type"] = response.getheader("Content-Type")
        connection.close()
        return relayed

    do_GET = answer
    do_POST = answer


def main():
    server = http.server.HTTPServer(("127.0.0.1", int(sys.argv[1])), Handler)
    server.folder = sys.argv[2]
    if len(sys.argv) > 4:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[3], sys.argv[4])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
