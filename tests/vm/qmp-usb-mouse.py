#!/usr/bin/env python3
"""Moves qemu's emulated USB mouse through the VM's QMP socket while a VM
test runs (tests/vm/run-vm.sh --usb-mouse): over and over, a right drag
downwards, then a right click without movement, then a pause.

    qmp-usb-mouse.py QMP_SOCKET
"""
import json
import socket
import sys
import time


def main():
    sock = socket.socket(socket.AF_UNIX)
    sock.connect(sys.argv[1])
    stream = sock.makefile("rw")

    def call(command, arguments=None):
        message = {"execute": command}
        if arguments:
            message["arguments"] = arguments
        stream.write(json.dumps(message) + "\n")
        stream.flush()
        while True:  # asynchronous events come in between
            reply = json.loads(stream.readline())
            if "return" in reply or "error" in reply:
                return reply

    def button(down):
        call("input-send-event",
             {"events": [{"type": "btn", "data": {"button": "right", "down": down}}]})

    json.loads(stream.readline())  # the greeting
    call("qmp_capabilities")
    while True:
        button(True)
        for _ in range(15):
            call("input-send-event",
                 {"events": [{"type": "rel", "data": {"axis": "y", "value": 6}}]})
            time.sleep(0.03)
        button(False)
        time.sleep(1.0)
        button(True)
        time.sleep(0.1)
        button(False)
        time.sleep(1.0)


if __name__ == "__main__":
    try:
        main()
    except (OSError, ValueError):
        pass  # the VM went away
