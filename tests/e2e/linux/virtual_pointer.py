#!/usr/bin/env python3
# A virtual pointer of a wlroots compositor (zwlr_virtual_pointer_v1), spoken on the wire.
# Commands on stdin: "abs X Y W H", "wheel N" (N notches, negative up), "hwheel N", "click B".
import os, socket, struct, sys, time, select
sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
sock.connect(os.path.join(os.environ["XDG_RUNTIME_DIR"], os.environ["WAYLAND_DISPLAY"]))
def s_arg(t): b = t.encode() + b"\0"; return struct.pack("<I", len(b)) + b + b"\0" * (-len(b) % 4)
def send(obj, op, payload=b""):
    sock.sendall(struct.pack("<II", obj, ((8 + len(payload)) << 16) | op) + payload)
def fx(v): return struct.pack("<i", int(round(v * 256)))
buf = b""
globals_ = {}
def pump(block):
    global buf
    while True:
        r, _, _ = select.select([sock], [], [], 1 if block else 0)
        if not r: return
        d = sock.recv(65536)
        if not d: sys.exit("compositor closed")
        buf += d
        while len(buf) >= 8:
            obj, so = struct.unpack("<II", buf[:8]); size, op = so >> 16, so & 0xffff
            if len(buf) < size: break
            body, buf = buf[8:size], buf[size:]
            if obj == 2 and op == 0:
                name, = struct.unpack("<I", body[:4]); n, = struct.unpack("<I", body[4:8])
                iface = body[8:8 + n - 1].decode(); ver, = struct.unpack("<I", body[8 + n + (-n % 4):][:4])
                globals_[iface] = (name, ver)
            elif obj == 1 and op == 0:
                sys.exit("protocol error: %r" % body)
            elif obj == 3 and op == 0:
                return
        if not block: continue
send(1, 1, struct.pack("<I", 2)); send(1, 0, struct.pack("<I", 3)); pump(True)
seat = globals_["wl_seat"]; mgr = globals_["zwlr_virtual_pointer_manager_v1"]
send(2, 0, struct.pack("<I", seat[0]) + s_arg("wl_seat") + struct.pack("<II", 1, 4))
send(2, 0, struct.pack("<I", mgr[0]) + s_arg("zwlr_virtual_pointer_manager_v1") + struct.pack("<II", 1, 5))
send(5, 0, struct.pack("<II", 4, 6))
def ms(): return struct.pack("<I", int(time.monotonic() * 1000) & 0xffffffff)
print("ready", flush=True)
for line in sys.stdin:
    w = line.split()
    if not w: continue
    if w[0] == "abs":
        x, y, W, H = map(int, w[1:5]); send(6, 1, ms() + struct.pack("<IIII", x, y, W, H))
    elif w[0] in ("wheel", "hwheel"):
        n = int(w[1]); axis = 0 if w[0] == "wheel" else 1
        send(6, 5, struct.pack("<I", 0)); send(6, 7, ms() + struct.pack("<I", axis) + fx(15 * n) + struct.pack("<i", n))
    elif w[0] == "click":
        b = {"1": 0x110, "2": 0x112, "3": 0x111}[w[1]]
        send(6, 2, ms() + struct.pack("<II", b, 1)); send(6, 4, ms()); send(6, 2, ms() + struct.pack("<II", b, 0))
    send(6, 4, ms())
    pump(False)
    print("done", w[0], flush=True)
