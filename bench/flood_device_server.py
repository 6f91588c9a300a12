#!/usr/bin/env python3
"""A device server that floods its client with valid status replies.

Plays a faulty or hostile peer: on each connection it first sends a burst of
--burst MB of status replies of address 1 in the 8-bit framed form (a buffer
dumped on reconnect), then, with --flood, goes on sending them at --rate MB/s
(0: as fast as the client takes them), else stays silent, until the client
goes. What the client
sends is read and thrown away. Prints the port it listens on, then one line
per connection with the bytes sent.

    bench/flood_device_server.py --burst 16 &       # then:
    vyxctl --lan 127.0.0.1:PORT watch --seconds 3
"""
import argparse
import socket
import threading
import time

STATUS_REPLY_BODY = bytes.fromhex("010bb5000011223344556677000c")  # address, N, command, payload


def framed8(body):
    """The line form: AA, address, command, N, N, payload, check word, escaped."""
    address, n, command = body[0], body[1], body[2]
    plain = bytes([address, command, n, n]) + body[3:3 + n]
    check = (0x10000 - sum(plain)) & 0xFFFF
    plain += bytes([check & 0xFF, check >> 8])
    line = bytearray([0xAA])
    for b in plain:
        line += bytes([0x99, b - 0x80]) if b in (0xAA, 0x99) else bytes([b])
    return bytes(line)


def serve(conn, args):
    frame = framed8(STATUS_REPLY_BODY)
    block = frame * (65536 // len(frame))
    sent = 0
    client_gone = threading.Thread(target=lambda: drain(conn), daemon=True)
    client_gone.start()
    try:
        burst = int(args.burst * 1024 * 1024)
        while sent < burst:
            sent += conn.send(block[:burst - sent])
        started = time.monotonic()
        while args.flood:
            sent += conn.send(block)
            if args.rate > 0:
                # paced: the bytes sent since the burst at the rate asked
                ahead = (sent - burst) / (args.rate * 1024 * 1024) - (time.monotonic() - started)
                if ahead > 0:
                    time.sleep(ahead)
    except OSError:
        pass
    # after a burst alone the connection stays open, silent, until the client goes
    client_gone.join()
    print(f"connection closed after {sent} bytes sent", flush=True)
    conn.close()


def drain(conn):
    try:
        while conn.recv(4096):
            pass
    except OSError:
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--port", type=int, default=0, help="port to listen on (0: a free one)")
    parser.add_argument("--burst", type=float, default=16, help="MB sent at once on each connection")
    parser.add_argument("--flood", action="store_true", help="keep sending after the burst")
    parser.add_argument("--rate", type=float, default=0, help="MB/s of the flood (0: as fast as taken)")
    args = parser.parse_args()
    server = socket.create_server(("127.0.0.1", args.port))
    print(server.getsockname()[1], flush=True)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn, args), daemon=True).start()


if __name__ == "__main__":
    main()
