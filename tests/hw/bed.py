#!/usr/bin/env python3
"""The hardware test bed: boots Debian's kernel under QEMU with real serial
drivers and runs one command inside, while this process plays the devices.

usage: bed.py --work DIR [--timeout S] -- COMMAND [ARG...]

The guest sees the host's root read-only (a RAM overlay takes its writes), so
COMMAND is any program of the host's build tree. Its devices:
  ttyS1    a 16550A whose far end is the socket s1 (telnet framing, so a BREAK
           can be sent); CTS, DSR and CD are always on
  ttyS2    a 16550A on a host pty nobody opens: CTS is low
  ttyUSB0  an FTDI FT232 (usb-serial id "ftdi", serial VELMORA1) on socket usb,
           unplugged and replugged by closing and reopening that socket
  /dev/bed-ctl  a control channel to this driver (see Bed.h and do_command)
COMMAND runs as root with its output in DIR/output.log; DIR is writable from
the guest at the same path. The exit status is COMMAND's. Exit status 77 (a
CTest skip) means the bed cannot run here, with the reason printed.
"""

import argparse
import base64
import glob
import hashlib
import json
import lzma
import os
import re
import selectors
import shutil
import socket
import struct
import subprocess
import sys
import time

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
INITRD_MODULES = ["virtio_pci", "9pnet_virtio", "9p", "overlay", "virtio_console"]

def skip(reason):
    print(f"bed: SKIP: {reason}", flush=True)
    sys.exit(SKIP)


def log(text):
    print(f"bed: {text}", flush=True)


# The kernel and the initramfs

def find_kernel():
    """Newest Debian kernel that has its module tree: (version, bzImage)."""
    found = []
    for image in glob.glob("/boot/vmlinuz-*"):
        version = image[len("/boot/vmlinuz-"):]
        if os.path.exists(f"/lib/modules/{version}/modules.dep") and os.access(image, os.R_OK):
            found.append((os.path.getmtime(image), version, image))
    if not found:
        skip("no readable /boot/vmlinuz-* with its /lib/modules tree "
             "(install linux-image-amd64)")
    found.sort()
    return found[-1][1], found[-1][2]


def extract_vmlinux(bzimage, target):
    """The uncompressed kernel in a bzImage: QEMU boots it through its PVH
    note, twice as fast under emulation as the bzImage."""
    data = open(bzimage, "rb").read()
    start = data.find(b"\xfd7zXZ\x00")
    while start >= 0:
        try:
            kernel = lzma.LZMADecompressor(format=lzma.FORMAT_XZ).decompress(data[start:])
            if kernel[:4] == b"\x7fELF":
                with open(target + ".tmp", "wb") as out:
                    out.write(kernel)
                os.replace(target + ".tmp", target)
                return True
        except lzma.LZMAError:
            pass
        start = data.find(b"\xfd7zXZ\x00", start + 1)
    return False


def module_order(version, names):
    """The .ko files for `names` and what they depend on, dependencies first."""
    tree = f"/lib/modules/{version}"
    deps = {}
    with open(f"{tree}/modules.dep") as dep:
        for line in dep:
            path, _, rest = line.partition(":")
            deps[path] = rest.split()
    by_name = {re.sub(r"\.ko(\.xz|\.zst|\.gz)?$", "", os.path.basename(p)).replace("-", "_"): p
               for p in deps}
    order = []

    def visit(path):
        if path in order:
            return
        for dependency in deps.get(path, []):
            visit(dependency)
        order.append(path)

    for name in names:
        if name not in by_name:
            skip(f"module {name} not found for kernel {version}")
        visit(by_name[name])
    return [f"{tree}/{p}" for p in order]


def cpio_newc(entries):
    """A newc cpio archive of (name, mode, data, rdev) entries."""
    out = bytearray()
    for ino, (name, mode, data, rdev) in enumerate(entries + [("TRAILER!!!", 0, b"", (0, 0))], 1):
        encoded = name.encode() + b"\0"
        major, minor = rdev
        header = "070701" + "".join(f"{v:08x}" for v in (
            ino, mode, 0, 0, 1, 0, len(data), 0, 0, major, minor, len(encoded), 0))
        out += header.encode() + encoded
        out += b"\0" * (-len(out) % 4)
        out += data
        out += b"\0" * (-len(out) % 4)
    return bytes(out)


def read_module(path):
    data = open(path, "rb").read()
    return lzma.decompress(data) if path.endswith(".xz") else data


def build_images(cache):
    """(vmlinux, initramfs) in `cache`, rebuilt when their inputs change."""
    version, bzimage = find_kernel()
    busybox = shutil.which("busybox") or "/bin/busybox"
    if not os.path.exists(busybox) or not is_static(busybox):
        skip("no static busybox (install busybox-static)")
    modules = module_order(version, INITRD_MODULES)
    init = open(os.path.join(HERE, "init.sh"), "rb").read()
    stamp = hashlib.sha256(
        repr((version, os.path.getmtime(bzimage), os.path.getmtime(busybox), modules)).encode()
        + init).hexdigest()
    os.makedirs(cache, exist_ok=True)
    vmlinux = os.path.join(cache, f"vmlinux-{version}")
    initrd = os.path.join(cache, "initramfs.cpio")
    stamp_file = os.path.join(cache, "stamp")
    if (os.path.exists(vmlinux) and os.path.exists(initrd) and os.path.exists(stamp_file)
            and open(stamp_file).read() == stamp):
        return version, vmlinux, initrd
    log(f"building the kernel image and initramfs for {version} in {cache}")
    if not extract_vmlinux(bzimage, vmlinux):
        skip(f"no XZ-compressed ELF kernel inside {bzimage}")
    directory, regular, executable = 0o040755, 0o100644, 0o100755
    entries = [(d, directory, b"", (0, 0))
               for d in ("bin", "dev", "proc", "sys", "lower", "rw", "newroot", "modules")]
    entries += [("dev/console", 0o020600, b"", (5, 1)),
                ("init", executable, init, (0, 0)),
                ("bin/busybox", executable, open(busybox, "rb").read(), (0, 0))]
    names = []
    for path in modules:
        name = re.sub(r"\.(xz|zst|gz)$", "", os.path.basename(path))
        names.append(name)
        entries.append((f"modules/{name}", regular, read_module(path), (0, 0)))
    entries.append(("modules/order", regular, ("\n".join(names) + "\n").encode(), (0, 0)))
    with open(initrd + ".tmp", "wb") as out:
        out.write(cpio_newc(entries))
    os.replace(initrd + ".tmp", initrd)
    with open(stamp_file, "w") as out:
        out.write(stamp)
    return version, vmlinux, initrd


def is_static(path):
    with open(path, "rb") as elf:
        head = elf.read(64)
        if head[:4] != b"\x7fELF":
            return False
        phoff, = struct.unpack_from("<Q", head, 32)
        phentsize, phnum = struct.unpack_from("<HH", head, 54)
        for index in range(phnum):
            elf.seek(phoff + index * phentsize)
            if struct.unpack("<I", elf.read(4))[0] == 3:  # PT_INTERP
                return False
    return True


# The devices the host end plays

class Line:
    """The host end of one serial device: records what the guest sends,
    echoes, talks (a line every few ms), floods, and sends BREAKs."""

    def __init__(self, name, telnet):
        self.name = name
        self.telnet = telnet
        self.conn = None
        self.path = None
        self.received = bytearray()
        self.outgoing = bytearray()
        self.sent = 0
        self.echo = False
        self.talk_every = 0.0  # seconds between lines, 0 silent
        self.talk_next = 0.0
        self.talk_count = 0
        self.flood_left = 0
        self.flood_count = 0
        self.negotiation = telnet  # QEMU's telnet options precede the data

    def take(self, data):
        if self.negotiation:
            data = self.strip_negotiation(data)
        self.received += data
        if self.echo:
            self.queue(bytes(data))

    def strip_negotiation(self, data):
        i = 0
        while i < len(data) and data[i] == 0xFF:
            if i + 1 < len(data) and data[i + 1] == 0xFA:  # SB ... IAC SE
                end = data.find(b"\xff\xf0", i)
                if end < 0:
                    return b""
                i = end + 2
            else:
                i += 3
        if i < len(data):
            self.negotiation = False
        return data[i:]

    def queue(self, data, raw=False):
        if self.telnet and not raw:
            data = data.replace(b"\xff", b"\xff\xff")
        self.outgoing += data

    def pump(self, now):
        if self.talk_every and now >= self.talk_next and not self.outgoing:
            self.talk_count += 1
            self.queue(talk_line(self.talk_count))
            self.talk_next = now + self.talk_every
        while self.flood_left and len(self.outgoing) < 65536:
            self.flood_count += 1
            self.flood_left -= 1
            self.queue(flood_line(self.flood_count))
        if self.outgoing and self.conn:
            try:
                n = self.conn.send(self.outgoing)
                self.sent += n
                del self.outgoing[:n]
            except BlockingIOError:
                pass


def talk_line(n):
    return b"banner %06d the quick brown fox jumps\r\n" % n


def flood_line(n):
    return b"%08d ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmn\r\n" % n


class Bed:
    def __init__(self, work):
        self.work = work
        self.lines = {"s1": Line("s1", telnet=True), "usb": Line("usb", telnet=True)}
        self.qmp = None
        self.qmp_buffer = b""
        self.ctl = None
        self.ctl_buffer = b""
        self.selector = selectors.DefaultSelector()

    def listen(self, name):
        path = os.path.join(self.work, name + ".sock")
        if os.path.exists(path):
            os.unlink(path)
        server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        server.bind(path)
        server.listen(1)
        return server, path

    # The QEMU monitor (QMP), for unplugging and replugging the adapter.
    def qmp_call(self, command, arguments=None):
        request = {"execute": command}
        if arguments:
            request["arguments"] = arguments
        self.qmp.sendall(json.dumps(request).encode() + b"\n")
        while True:
            while b"\n" not in self.qmp_buffer:
                chunk = self.qmp.recv(65536)
                if not chunk:
                    raise RuntimeError("QEMU monitor closed")
                self.qmp_buffer += chunk
            line, _, self.qmp_buffer = self.qmp_buffer.partition(b"\n")
            reply = json.loads(line)
            if "return" in reply:
                return None
            if "error" in reply:
                return reply["error"].get("desc", "error")

    def plug(self, attach):
        """QEMU's FTDI is attached exactly while its socket is connected, and
        the guest sees a USB disconnect and reconnect. (QEMU 7.2 crashed on
        device_del of the adapter here, so the monitor is not used for it.)"""
        line = self.lines["usb"]
        if attach == (line.conn is not None):
            return "err already " + ("plugged" if attach else "unplugged")
        if attach:
            line.conn = connect(line.path)
            line.conn.setblocking(False)
            line.negotiation = line.telnet
            self.selector.register(line.conn, selectors.EVENT_READ, line)
        else:
            self.selector.unregister(line.conn)
            line.conn.close()
            line.conn = None
            line.outgoing.clear()
            line.flood_left = 0
        return "ok"

    def do_command(self, text):
        """One control request from the guest; the answer is one line."""
        words = text.split()
        if not words:
            return "err empty"
        verb, args = words[0], words[1:]
        line = self.lines.get(args[0]) if args else None
        if verb in ("unplug", "plug"):
            return self.plug(verb == "plug")
        if line is None:
            return f"err unknown device in {text!r}"
        if verb == "reset":  # silence, no echo, forget what was received
            line.echo = False
            line.talk_every = 0
            line.flood_left = 0
            line.outgoing.clear()
            line.received.clear()
            line.sent = 0
            return "ok"
        if verb == "received":  # hex of what the guest sent since the last ask
            data = bytes(line.received)
            line.received.clear()
            return "ok " + data.hex()
        if verb == "send":
            line.queue(bytes.fromhex(args[1]))
            return "ok"
        if verb == "echo":
            line.echo = args[1] == "on"
            return "ok"
        # A line every N ms, 0 stops. The numbers go on from the last talk:
        # its tail may still be in the pipes when the next one starts.
        if verb == "talk":
            line.talk_every = int(args[1]) / 1000.0
            return "ok"
        if verb == "flood":  # N numbered lines as fast as the guest takes them
            line.flood_left = int(args[1])
            line.flood_count = 0
            return "ok"
        if verb == "sent":
            return f"ok {line.sent}"
        if verb == "break":
            if not line.telnet:
                return "err no telnet framing on " + line.name
            line.queue(b"\xff\xf3", raw=True)  # IAC BREAK
            return "ok"
        return f"err unknown request {verb!r}"

    def serve(self, qemu, timeout):
        for line in self.lines.values():
            line.conn.setblocking(False)
            self.selector.register(line.conn, selectors.EVENT_READ, line)
        self.ctl.setblocking(False)
        self.selector.register(self.ctl, selectors.EVENT_READ, "ctl")
        deadline = time.monotonic() + timeout
        while qemu.poll() is None:
            now = time.monotonic()
            if now > deadline:
                log(f"the guest ran over {timeout} s; stopping it")
                qemu.kill()
                qemu.wait()
                return False
            for line in self.lines.values():
                line.pump(now)
            busy = any(line.outgoing or line.flood_left for line in self.lines.values())
            for key, _ in self.selector.select(0.002 if busy else 0.02):
                if key.data == "drain":
                    try:
                        os.read(key.fd, 65536)
                    except OSError:
                        pass
                    continue
                try:
                    data = key.fileobj.recv(65536)
                except (BlockingIOError, ConnectionResetError):
                    continue
                if not data:
                    self.selector.unregister(key.fileobj)
                    continue
                if key.data == "ctl":
                    self.ctl_buffer += data
                    while b"\n" in self.ctl_buffer:
                        request, _, self.ctl_buffer = self.ctl_buffer.partition(b"\n")
                        answer = self.do_command(request.decode(errors="replace"))
                        self.ctl.setblocking(True)
                        self.ctl.sendall(answer.encode() + b"\n")
                        self.ctl.setblocking(False)
                else:
                    key.data.take(data)
        return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--work", required=True, help="folder for sockets, logs and results")
    parser.add_argument("--cache", help="folder for the kernel and initramfs (default WORK/..)")
    parser.add_argument("--timeout", type=float, default=600)
    parser.add_argument("--memory", default="1536")
    parser.add_argument("command", nargs="+")
    options = parser.parse_args()

    if os.uname().machine != "x86_64":
        skip("the bed boots an x86-64 kernel and needs an x86-64 host")
    qemu_binary = shutil.which("qemu-system-x86_64")
    if not qemu_binary:
        skip("qemu-system-x86_64 is not installed (install qemu-system-x86)")
    work = os.path.abspath(options.work)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    version, vmlinux, initrd = build_images(os.path.abspath(options.cache or
                                                            os.path.join(work, "..")))

    bed = Bed(work)
    # QEMU connects to the monitor and control sockets; the lines' sockets are
    # QEMU's own, since it speaks telnet (and so passes BREAKs) only as a server.
    servers = {name: bed.listen(name) for name in ("qmp", "ctl")}
    line_paths = {name: os.path.join(work, name + ".sock") for name in bed.lines}
    pty_master, pty_slave = os.openpty()
    os.set_blocking(pty_master, False)
    command = " ".join(shlex_quote(a) for a in options.command)
    script = f"cd {shlex_quote(os.getcwd())} && exec {command}\n"
    append = " ".join([
        "console=ttyS0", "quiet", "panic=-1", "8250.nr_uarts=4", "rdinit=/init",
        "bed_out=" + work, "bed_cmd=" + base64.b64encode(script.encode()).decode()])
    if len(append) > 1900:
        sys.exit("bed: the command is too long for the kernel command line")
    args = [
        qemu_binary, "-nodefaults", "-no-user-config", "-machine", "pc,accel=tcg",
        "-m", options.memory, "-smp", "1", "-display", "none", "-no-reboot",
        "-kernel", vmlinux, "-initrd", initrd, "-append", append,
        "-chardev", f"file,id=con,path={work}/console.log", "-serial", "chardev:con",
        "-fsdev", "local,id=root,path=/,readonly=on,security_model=none,multidevs=remap",
        "-device", "virtio-9p-pci,fsdev=root,mount_tag=root",
        "-fsdev", f"local,id=out,path={work},security_model=none",
        "-device", "virtio-9p-pci,fsdev=out,mount_tag=out",
        "-chardev", f"socket,id=s1,path={line_paths['s1']},server=on,wait=off,telnet=on",
        "-device", "isa-serial,chardev=s1,index=1",
        # A host pty as a serial backend: its modem lines read as all off.
        "-chardev", f"serial,id=s2,path={os.ttyname(pty_slave)}",
        "-device", "isa-serial,chardev=s2,index=2",
        "-device", "qemu-xhci,id=xhci",
        "-chardev", f"socket,id=usb,path={line_paths['usb']},server=on,wait=off,telnet=on",
        "-device", "usb-serial,bus=xhci.0,chardev=usb,id=ftdi,serial=VELMORA1",
        "-chardev", f"socket,id=qmp,path={servers['qmp'][1]}", "-mon", "chardev=qmp,mode=control",
        "-device", "virtio-serial-pci",
        "-chardev", f"socket,id=ctl,path={servers['ctl'][1]}",
        "-device", "virtserialport,chardev=ctl,name=bed.ctl",
    ]
    started = time.monotonic()
    log(f"booting {version} under TCG: {' '.join(options.command)}")
    stderr = open(os.path.join(work, "qemu.log"), "wb")
    qemu = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=stderr, stderr=stderr)
    try:
        connections = {}
        for name, (server, _) in servers.items():
            server.settimeout(30)
            try:
                connections[name], _ = server.accept()
            except socket.timeout:
                qemu.kill()
                qemu.wait()
                sys.stdout.write(open(os.path.join(work, "qemu.log"), errors="replace").read())
                skip("QEMU did not start here (see its output above)")
            server.close()
        for name, path in line_paths.items():
            bed.lines[name].path = path
            bed.lines[name].conn = connect(path)
        bed.qmp = connections["qmp"]
        bed.qmp.settimeout(30)
        bed.qmp_buffer = b""
        while b"\n" not in bed.qmp_buffer:  # the greeting
            bed.qmp_buffer += bed.qmp.recv(65536)
        bed.qmp_buffer = bed.qmp_buffer.partition(b"\n")[2]
        bed.qmp_call("qmp_capabilities")
        bed.ctl = connections["ctl"]
        bed.selector.register(pty_master, selectors.EVENT_READ, "drain")
        finished = bed.serve(qemu, options.timeout)
    finally:
        if qemu.poll() is None:
            qemu.kill()
        qemu.wait()
    elapsed = time.monotonic() - started
    output = os.path.join(work, "output.log")
    if os.path.exists(output):
        sys.stdout.write(open(output, errors="replace").read())
    status_file = os.path.join(work, "status")
    if not finished or not os.path.exists(status_file):
        sys.stdout.write(open(os.path.join(work, "console.log"), errors="replace").read())
        log(f"no exit status from the guest after {elapsed:.1f} s")
        return 1
    status = int(open(status_file).read().strip() or 1)
    log(f"guest command exited with {status} after {elapsed:.1f} s (boot to power-off)")
    return status


def connect(path):
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    sock.connect(path)
    return sock


def shlex_quote(text):
    import shlex
    return shlex.quote(text)


if __name__ == "__main__":
    sys.exit(main())
