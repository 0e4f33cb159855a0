#!/usr/bin/python3
"""An independent Modbus TCP client for the tests (Debian's python3-pymodbus).

  modbus_probe.py dump PORT UNIT [SOURCE]
      The whole map of UNIT (registers 0..255) by function 4 and by function 3,
      each read in three requests and taken only when the image sequence in
      register 2 equals the one in register 255 (one image). Prints
      {"input": [...], "holding": [...]} or {"error": "..."}.
  modbus_probe.py refusals PORT
      What the server answers to writes, reads outside the map and unit ids
      without an analyzer. Prints {"name": exception code or null, ...}.

Exit status 0 when it printed its answer.
"""

import json
import logging
import sys

from pymodbus.client import ModbusTcpClient

logging.disable(logging.CRITICAL)

MAP_SIZE = 256
SEQUENCE = 2
SEQUENCE_CHECK = 255


def client(port, source=None):
    kwargs = {"timeout": 5, "retries": 1}
    if source:
        kwargs["source_address"] = (source, 0)
    c = ModbusTcpClient("127.0.0.1", port=port, **kwargs)
    if not c.connect():
        raise ConnectionError("connection refused")
    return c


def read_map(c, function, unit):
    read = c.read_input_registers if function == 4 else c.read_holding_registers
    for _ in range(50):
        registers = []
        for start in range(0, MAP_SIZE, 125):
            count = min(125, MAP_SIZE - start)
            r = read(start, count, slave=unit)
            if r.isError():
                raise RuntimeError("function %d at %d: %s" % (function, start, r))
            registers += r.registers
        if registers[SEQUENCE] == registers[SEQUENCE_CHECK]:
            return registers
    raise RuntimeError("no consistent image in 50 tries")


def exception_of(response):
    if not response.isError():
        return None
    return getattr(response, "exception_code", -1)


def refusals(c):
    out = {}
    out["write_coil"] = exception_of(c.write_coil(0, True, slave=1))
    out["write_register"] = exception_of(c.write_register(0, 7, slave=1))
    out["write_coils"] = exception_of(c.write_coils(0, [True, False], slave=1))
    out["write_registers"] = exception_of(c.write_registers(0, [1, 2], slave=1))
    out["read_coils"] = exception_of(c.read_coils(0, 1, slave=1))
    out["read_input_past_end"] = exception_of(c.read_input_registers(250, 10, slave=1))
    out["read_holding_past_end"] = exception_of(c.read_holding_registers(256, 1, slave=1))
    out["read_last"] = exception_of(c.read_input_registers(255, 1, slave=1))
    out["unit_2"] = exception_of(c.read_input_registers(0, 10, slave=2))
    out["unit_9"] = exception_of(c.read_holding_registers(0, 10, slave=9))
    out["write_unit_2"] = exception_of(c.write_register(0, 7, slave=2))
    return out


def main():
    command, port = sys.argv[1], int(sys.argv[2])
    try:
        if command == "dump":
            unit = int(sys.argv[3])
            c = client(port, sys.argv[4] if len(sys.argv) > 4 else None)
            result = {"input": read_map(c, 4, unit), "holding": read_map(c, 3, unit)}
        elif command == "refusals":
            c = client(port)
            result = refusals(c)
        else:
            raise ValueError("unknown command " + command)
        c.close()
    except Exception as e:  # everything the client meets goes to the test as text
        result = {"error": "%s: %s" % (type(e).__name__, e)}
    print(json.dumps(result))


if __name__ == "__main__":
    main()
