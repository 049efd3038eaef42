#!/usr/bin/python3
"""Writes the seed corpus of fuzz_dbus_requests: calls of every kind, encoded
the way the target reads its input through libFuzzer's FuzzedDataProvider
(numbers from the end of the input, texts from its front).

    tests/fuzz/make_dbus_seeds.py tests/fuzz/corpus/fuzz_dbus_requests
"""

import os
import sys

PATHS = ["agent", "helper", "/", "agent/More", "/com/quorvel/WakoraApp"]
INTERFACES = ["", "agent", "helper", "Introspectable", "Properties", "client", "fuzz"]
MEMBERS = ["State", "SetAssertion", "SetClamshell", "UsageSummary", "ClearUsageHistory", "OpensAtLogin",
           "SetOpensAtLogin", "Enable", "Disable", "Status", "Introspect", "GetAll", "StateDidChange", "fuzz"]
TYPES = ["x", "b", "i", "u", "t", "d", "s", "as", "ay", "aay", "v", "y", "n", "q", "o", "g", "a{sv}"]


class Input:
    def __init__(self):
        self.front = bytearray()
        self.back = []  # in the order they are consumed, each a bytes of the number's width

    def number(self, value, minimum, maximum):
        span = maximum - minimum
        width = 0
        while width < 8 and (span >> (8 * width)) > 0:
            width += 1
        offset = (value - minimum) % (1 << (8 * width)) if width else 0
        # The first byte consumed is the most significant one.
        self.back.append(offset.to_bytes(width, "big") if width else b"")

    def integral(self, value, bits, signed):
        minimum = -(1 << (bits - 1)) if signed else 0
        self.number(value, minimum, minimum + (1 << bits) - 1)

    def boolean(self, value):
        self.number(1 if value else 0, 0, 255)

    def text(self, value):
        raw = value.encode()
        assert len(raw) < 24
        self.front += raw.replace(b"\\", b"\\\\") + b"\\."

    def bytes(self):
        consumed = b"".join(self.back)
        # Numbers are read backwards from the end.
        return bytes(self.front) + consumed[::-1]


def argument(data, kind, value):
    data.number(TYPES.index(kind), 0, 16)
    if kind == "x" or kind == "v":
        data.integral(value, 64, True)
    elif kind == "t":
        data.integral(value, 64, False)
    elif kind == "b":
        data.boolean(value)
    elif kind == "i":
        data.integral(value, 32, True)
    elif kind == "u":
        data.integral(value, 32, False)
    elif kind == "s" or kind == "ay":
        data.text(value)
    elif kind == "as":
        data.number(len(value), 0, 3)
        for item in value:
            data.text(item)
    elif kind == "aay":
        data.number(len(value), 0, 2)
        for item in value:
            data.text(item)
    elif kind == "y":
        data.integral(value, 8, False)
    elif kind == "n":
        data.integral(value, 16, True)
    elif kind == "q":
        data.integral(value, 16, False)
    elif kind == "o":
        data.number(value, 0, 1)
    elif kind == "g":
        data.number(value, 0, 2)
    elif kind == "a{sv}":
        data.number(len(value), 0, 2)
        for key, flag in value:
            data.text(key)
            data.boolean(flag)


def seed(calls, authorized=True, foreign=False):
    data = Input()
    data.boolean(authorized)
    data.number(0 if foreign else 1, 0, 7)
    for call in calls:
        path, interface, member, arguments = call[:4]
        reply = call[4] if len(call) > 4 else True
        data.number(PATHS.index(path), 0, 4)
        if interface.startswith("com.quorvel."):
            data.number(INTERFACES.index("fuzz"), 0, 6)
            data.text(interface[len("com.quorvel."):])
        else:
            data.number(INTERFACES.index(interface), 0, 6)
        if member in MEMBERS:
            data.number(MEMBERS.index(member), 0, 13)
        else:
            data.number(MEMBERS.index("fuzz"), 0, 13)
            data.text(member)
        data.number(len(arguments), 0, 3)
        for kind, value in arguments:
            argument(data, kind, value)
        data.number(1 if reply else 0, 0, 7)
    return data.bytes()


SEEDS = {
    "agent-state": [("agent", "agent", "State", [])],
    "agent-switches": [
        ("agent", "agent", "SetAssertion", [("x", 0), ("b", True)]),
        ("agent", "", "SetAssertion", [("x", 1), ("b", True)]),
        ("agent", "agent", "SetAssertion", [("x", 0), ("b", False)]),
        ("agent", "agent", "State", []),
    ],
    "agent-unknown-kind": [("agent", "agent", "SetAssertion", [("x", 2), ("b", True)]),
                           ("agent", "agent", "SetAssertion", [("x", -(1 << 63)), ("b", False)])],
    "agent-wrong-signatures": [
        ("agent", "agent", "SetAssertion", [("i", 0), ("b", True)]),
        ("agent", "agent", "SetAssertion", [("x", 0)]),
        ("agent", "agent", "SetClamshell", [("s", "true")]),
        ("agent", "agent", "State", [("v", 1)]),
        ("agent", "agent", "SetOpensAtLogin", [("b", True), ("b", False)]),
    ],
    "agent-lid-and-login": [
        ("agent", "agent", "SetClamshell", [("b", True)]),
        ("agent", "agent", "OpensAtLogin", []),
        ("agent", "agent", "SetOpensAtLogin", [("b", False)]),
        ("agent", "agent", "SetClamshell", [("b", False)]),
    ],
    "agent-usage": [("agent", "agent", "UsageSummary", []), ("agent", "agent", "ClearUsageHistory", []),
                    ("agent", "", "UsageSummary", [])],
    "agent-without-reply": [("agent", "agent", "SetAssertion", [("x", 1), ("b", True)], False),
                            ("agent", "agent", "State", [])],
    "agent-refused-caller": ([("agent", "agent", "SetAssertion", [("x", 0), ("b", True)]),
                              ("agent", "agent", "State", [])], True, True),
    "helper-enable-disable": [("helper", "helper", "Enable", []), ("helper", "", "Status", []),
                              ("helper", "helper", "Disable", []), ("helper", "helper", "Enable", [])],
    "helper-not-authorized": ([("helper", "helper", "Enable", []), ("helper", "helper", "Status", [])], False),
    "helper-arguments": [("helper", "helper", "Enable", [("b", True)]), ("helper", "helper", "Status", [("s", "")])],
    "helper-flood": [("helper", "helper", "Status", [])] * 11 + [("helper", "helper", "Enable", [])],
    "other-interfaces": [
        ("agent", "helper", "Enable", []),
        ("helper", "agent", "State", []),
        ("agent", "Introspectable", "Introspect", []),
        ("helper", "Introspectable", "Introspect", []),
        ("agent", "Properties", "GetAll", [("s", "com.quorvel.Wakora")]),
        ("agent", "client", "StateDidChange", []),
        ("agent", "com.quorvel.Other", "State", []),
    ],
    "other-paths-and-members": [
        ("/", "agent", "State", []),
        ("agent/More", "", "SetAssertion", [("x", 0), ("b", True)]),
        ("/com/quorvel/WakoraApp", "helper", "Enable", []),
        ("agent", "", "Missing", []),
        ("helper", "", "enable", []),
    ],
    "every-type": [
        ("agent", "agent", "SetAssertion", [("t", 1), ("u", 7), ("y", 255)]),
        ("agent", "agent", "SetAssertion", [("n", -1), ("q", 1), ("o", 1)]),
        ("agent", "agent", "SetClamshell", [("g", 1), ("as", ["a", ""]), ("ay", "\x00\x01")]),
        ("agent", "agent", "SetClamshell", [("aay", ["x", ""]), ("a{sv}", [("k", True)])]),
        ("helper", "helper", "Status", [("s", "한국어\\")]),
    ],
}


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for name, value in SEEDS.items():
        calls, authorized, foreign = (value + (False,))[:3] if isinstance(value, tuple) else (value, True, False)
        with open(os.path.join(folder, name), "wb") as output:
            output.write(seed(calls, authorized, foreign))


if __name__ == "__main__":
    main()
