#!/usr/bin/python3
"""A stand-in push server on loopback: each request (method, path, headers, body) becomes one
JSON line of RECORD; it answers with the next status of STATUSES (the last one again once
they are used up; 0 never answers). Usage: standin-http.py PORT RECORD [STATUS...]"""
import http.server
import json
import sys
import threading
import time

port, record, statuses = int(sys.argv[1]), sys.argv[2], [int(s) for s in sys.argv[3:]] or [200]
lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    def answer(self):
        body = self.rfile.read(int(self.headers.get('Content-Length', 0)))
        with lock:
            status = statuses.pop(0) if len(statuses) > 1 else statuses[0]
            with open(record, 'a') as out:
                out.write(json.dumps({'method': self.command, 'path': self.path, 'headers': dict(self.headers),
                                      'body': body.decode('utf-8', 'replace')}) + '\n')
        if status == 0:
            time.sleep(3600)
        self.send_response(status)
        self.send_header('Content-Length', '2')
        self.end_headers()
        self.wfile.write(b'ok')

    do_POST = do_PUT = answer

    def log_message(self, *args):
        pass


http.server.ThreadingHTTPServer(('127.0.0.1', port), Handler).serve_forever()
